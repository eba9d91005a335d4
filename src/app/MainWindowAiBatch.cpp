// AI runs over images on a worker thread: the busy state and progress around
// them, and writing results into image records.

#include "app/MainWindow.h"

#include "canvas/LabelCanvas.h"

#include <QProgressBar>
#include <QStatusBar>

namespace Quillmark {

bool MainWindow::isAiBatchRunning() const
{
    return aiBatch && aiBatch->isRunning();
}

void MainWindow::cancelAiBatch()
{
    if (aiBatch)
        aiBatch->cancel();
}

bool MainWindow::runAiBatch(AiBatchRun::Task task)
{
    if (refuseWhileJobRuns())
        return false;
    if (!aiBatch)
        aiBatch = std::make_unique<AiBatchRun>(project.dataset);

    const int total = int(task.imageIds.size());
    auto progress = std::move(task.progress);
    task.progress = [this, progress](int done, int count) {
        progressBar->setValue(done);
        if (progress)
            progress(done, count);
    };
    // Cancel on the status bar stops the run as the dialog's own Cancel does;
    // the window stops waiting for it at once.
    const quint64 ticket = startJob([this] { cancelAiBatch(); });
    auto finished = std::move(task.finished);
    task.finished = [this, finished, ticket](const AiBatchRun::Summary &summary) {
        finishJob(ticket);
        if (finished)
            finished(summary);
    };

    // A zero maximum would start the bouncing busy bar; a run counts images.
    beginProgress(qMax(total, 1));
    if (!aiBatch->start(std::move(task))) {
        finishJob(ticket);
        return false;
    }
    return true;
}

bool MainWindow::isImageShown(int imageId) const
{
    return imageId >= 0 && displayedFrame < 0 && canvas->displayedEntryId() == imageId;
}

int MainWindow::addAnnotationsToImage(ImageEntry &entry, const QList<Annotation> &annotations)
{
    if (annotations.isEmpty())
        return 0;
    entry.labels += annotations;
    // The canvas edits a copy of the shown image's list and writes it back on
    // every edit: it must hold the new annotations, or the next edit drops them.
    if (isImageShown(entry.id))
        canvas->setAnnotations(entry.labels);
    return int(annotations.size());
}

} // namespace Quillmark
