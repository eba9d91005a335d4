// The settings command.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::openSettings() {}

} // namespace Quillmark
