// Import commands: images, datasets and packages. Each waits while another
// background job runs.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::onImportImages()
{
    if (refuseWhileJobRuns())
        return;
}

void MainWindow::onImportDataset()
{
    if (refuseWhileJobRuns())
        return;
}

void MainWindow::onImportQuillPackage()
{
    if (refuseWhileJobRuns())
        return;
}

} // namespace Quillmark
