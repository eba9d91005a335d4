// Commands of the AI assistance: model loading, runs over the current or all
// images, and the review of pending results.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::onSamEncode() {}
void MainWindow::onSamAccept() {}
void MainWindow::onSamClear() {}
void MainWindow::onSam3ModelsSelected() {}
void MainWindow::onSam3Encode() {}
void MainWindow::onSam3Detect(const QString & /*text*/, float /*presThr*/, float /*maskThr*/) {}
void MainWindow::onSam3Preview(const QList<int> & /*indices*/) {}
void MainWindow::onSam3Accept(const QList<int> & /*indices*/) {}
void MainWindow::onSam3Clear() {}

void MainWindow::handleSamPromptsChanged(const QList<QPointF> & /*positive*/, const QList<QPointF> & /*negative*/) {}

} // namespace Quillmark
