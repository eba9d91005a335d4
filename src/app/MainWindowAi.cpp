// Commands of the AI assistance: model loading, runs over the current or all
// images, and the review of pending results.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::onPoseToolSelected() {}
void MainWindow::onPoseRunCurrent() {}
void MainWindow::onPoseRunAll() {}
void MainWindow::onPoseAccept() {}
void MainWindow::onPoseClear() {}
void MainWindow::onFaceToolSelected() {}
void MainWindow::onFaceRunCurrent() {}
void MainWindow::onFaceRunAll() {}
void MainWindow::onFaceAccept() {}
void MainWindow::onFaceClear() {}

} // namespace Quillmark
