// Commands whose features are still being built. Their buttons stay disabled,
// with a tool tip that says so, rather than doing nothing when clicked. Remove
// a line when its feature lands; remove the file when the list is empty.

#include "app/MainWindow.h"

#include "app/PendingFeatureGuard.h"
#include "chrome/ToolBar.h"

#include <QPushButton>

namespace Quillmark {

void MainWindow::holdPendingFeatures()
{
    for (ToolBar::Button button : {ToolBar::ExportPackage, ToolBar::ExportDataset})
        PendingFeatureGuard::hold(toolBar->button(button));
}

} // namespace Quillmark
