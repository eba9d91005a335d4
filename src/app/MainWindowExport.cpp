// Export commands: datasets and packages. Each waits while another background
// job runs.

#include "app/MainWindow.h"

namespace Quillmark {

void MainWindow::onExportQuillPackage()
{
    if (refuseWhileJobRuns())
        return;
}

void MainWindow::onExportDataset()
{
    if (refuseWhileJobRuns())
        return;
}

} // namespace Quillmark
