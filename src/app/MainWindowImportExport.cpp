// Import and export commands: images, datasets and packages.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::onImportImages() {}

void MainWindow::onImportDataset() {}

void MainWindow::onImportQuillPackage() {}

void MainWindow::onExportQuillPackage() {}

void MainWindow::onExportDataset() {}

} // namespace Quillmark
