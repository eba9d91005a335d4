// Status bar progress (counted or a bouncing busy sweep), the busy state of the
// bars while a background job runs, its Cancel, and the progress reports of
// workers.

#include "app/MainWindow.h"

#include "chrome/ToolBar.h"
#include "panels/ImageListPanel.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace Quillmark {

void MainWindow::beginProgress(int maximum)
{
    progressBar->setVisible(true);
    if (maximum != 0) {
        if (busyTimer)
            busyTimer->stop();
        progressBar->setRange(0, maximum);
        progressBar->setValue(0);
        return;
    }
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    busyValue = 0;
    busyStep = 5;
    if (!busyTimer) {
        busyTimer = new QTimer(this);
        busyTimer->setInterval(25);
        connect(busyTimer, &QTimer::timeout, this, &MainWindow::bounceStep);
    }
    busyTimer->start();
}

void MainWindow::bounceStep()
{
    busyValue += busyStep;
    if (busyValue >= 100) {
        busyValue = 100;
        busyStep = -5;
    } else if (busyValue <= 0) {
        busyValue = 0;
        busyStep = 5;
    }
    progressBar->setValue(busyValue);
}

void MainWindow::setBusy(bool busy)
{
    if (toolBar)
        toolBar->setEnabled(!busy);
    if (imageListPanel)
        imageListPanel->setEnabled(!busy);
}

void MainWindow::endProgress()
{
    if (busyTimer)
        busyTimer->stop();
    progressBar->hide();
    progressBar->setValue(0);
}

void MainWindow::createJobCancelButton()
{
    jobCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    jobCancelButton->setObjectName(QStringLiteral("compactButton"));
    jobCancelButton->setToolTip(QStringLiteral("Stop waiting for this operation; its result is dropped"));
    // A click must not take the keyboard from the canvas.
    jobCancelButton->setFocusPolicy(Qt::NoFocus);
    jobCancelButton->hide();
    connect(jobCancelButton, &QPushButton::clicked, this, &MainWindow::cancelJob);
    statusBar()->addPermanentWidget(jobCancelButton, 0);
}

quint64 MainWindow::startJob(std::function<void()> cancel)
{
    jobRunning = true;
    jobCancel = std::move(cancel);
    setBusy(true);
    if (jobCancelButton)
        jobCancelButton->setVisible(bool(jobCancel));
    return ++jobTicket;
}

void MainWindow::finishJob()
{
    jobRunning = false;
    jobCancel = nullptr;
    setBusy(false);
    endProgress();
    if (jobCancelButton)
        jobCancelButton->hide();
}

bool MainWindow::finishJob(quint64 ticket)
{
    // A job the user cancelled has ended already; another may run by now.
    if (!jobRunning || ticket != jobTicket)
        return false;
    finishJob();
    return true;
}

bool MainWindow::isJobCancellable() const
{
    return jobRunning && bool(jobCancel);
}

void MainWindow::cancelJob()
{
    if (!isJobCancellable())
        return;
    const std::function<void()> cancel = jobCancel;
    finishJob();
    statusBar()->showMessage(QStringLiteral("Cancelled."), 4000);
    cancel();
}

bool MainWindow::refuseWhileJobRuns()
{
    if (!jobRunning)
        return false;
    statusBar()->showMessage(QStringLiteral("Please wait until the current operation has finished."), 3000);
    return true;
}

void MainWindow::applyProgress(ProgressKind kind, int current, int total, int offset)
{
    // A counted report always ends the busy sweep, or the timer would keep
    // overwriting the value it sets.
    if (busyTimer)
        busyTimer->stop();
    switch (kind) {
    case ProgressKind::ImageImport:
        progressBar->setValue(current);
        statusBar()->showMessage(QStringLiteral("Importing %1 / %2…").arg(current).arg(total));
        break;
    case ProgressKind::DatasetImport:
    case ProgressKind::PackageImport:
        if (progressBar->maximum() != total)
            progressBar->setRange(0, total);
        progressBar->setValue(current);
        statusBar()->showMessage(kind == ProgressKind::DatasetImport
                                     ? QStringLiteral("Importing %1 / %2…").arg(current).arg(total)
                                     : QStringLiteral("Loading images %1 / %2…").arg(current).arg(total));
        break;
    case ProgressKind::PackageExport:
        progressBar->setValue(current);
        statusBar()->showMessage(QStringLiteral("Exporting %1 / %2…").arg(current).arg(total));
        break;
    case ProgressKind::PackageBranchOfExport:
        progressBar->setRange(0, total);
        progressBar->setValue(current);
        break;
    case ProgressKind::DatasetExport:
        if (offset + total != progressBar->maximum())
            progressBar->setRange(0, offset + total);
        progressBar->setValue(offset + current);
        break;
    }
}

ProgressCallback MainWindow::progressPoster(ProgressKind kind, int offset)
{
    // The window outlives every job (it refuses to close while one runs); as
    // the context of the queued call it also drops reports left after it.
    MainWindow *window = this;
    return [window, kind, offset](int current, int total) {
        QMetaObject::invokeMethod(
            window, [window, kind, current, total, offset] { window->applyProgress(kind, current, total, offset); },
            Qt::QueuedConnection);
    };
}

} // namespace Quillmark
