// AI runs over images on a worker thread: the busy state and progress around
// them, and writing results into image records.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiRunPanel.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "app/AiToolWords.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/Prompts.h"

#include <QProgressBar>
#include <QStatusBar>

namespace Quillmark {

namespace {

// What a run over images left undone, to follow its closing status text; empty
// when every image was read and run.
QString shortfallText(const AiBatchRun::Summary &summary)
{
    QString text;
    if (summary.unreadable > 0)
        text += QStringLiteral(" %1 image(s) could not be read.").arg(summary.unreadable);
    if (summary.gone > 0)
        text += QStringLiteral(" %1 image(s) were removed meanwhile.").arg(summary.gone);
    if (summary.failed > 0)
        text += QStringLiteral(" Inference failed on %1 image(s): %2").arg(summary.failed).arg(summary.firstError);
    return text;
}

} // namespace

bool MainWindow::isAiBatchRunning() const
{
    return aiBatch && aiBatch->isRunning();
}

void MainWindow::cancelAiBatch()
{
    if (aiBatch)
        aiBatch->cancel();
    for (ModelLoad *load : {&detectorLoad, &faceLoad, &poseLoad})
        load->cancel();
}

bool MainWindow::isRunEngineLoading() const
{
    for (const ModelLoad *load : {&detectorLoad, &faceLoad, &poseLoad})
        if (load->isBusy())
            return true;
    return false;
}

bool MainWindow::isModelLoading() const
{
    return isRunEngineLoading() || samLoad.isBusy() || sam3Load.isBusy();
}

void MainWindow::connectModelLoads()
{
    // A load shows as a run does: the run buttons wait and "Cancel" drops it.
    const auto follow = [this](ModelLoad *load, AiRunPanel *panel, void (MainWindow::*restore)()) {
        connect(load, &ModelLoad::busyChanged, this, [panel](bool busy) { panel->setRunning(busy); });
        connect(load, &ModelLoad::cancelled, this, [this, restore] {
            (this->*restore)();
            statusBar()->showMessage(QStringLiteral("Model loading cancelled."), 3000);
        });
    };
    follow(&detectorLoad, aiAutoLabelDialog, &MainWindow::showDetectionModel);
    follow(&faceLoad, faceDialog, &MainWindow::showFaceModel);
    follow(&poseLoad, poseDialog, &MainWindow::showPoseModel);

    connect(&samLoad, &ModelLoad::busyChanged, aiSegDialog, &AiSegDialog::setLoading);
    connect(&samLoad, &ModelLoad::cancelled, this, &MainWindow::showSamModel);
    connect(aiSegDialog, &AiSegDialog::cancelLoadRequested, &samLoad, &ModelLoad::cancel);
    connect(&sam3Load, &ModelLoad::busyChanged, sam3Dialog, &AiSam3Dialog::setLoading);
    connect(&sam3Load, &ModelLoad::cancelled, this, &MainWindow::showSam3Model);
    connect(sam3Dialog, &AiSam3Dialog::cancelLoadRequested, &sam3Load, &ModelLoad::cancel);
}

bool MainWindow::runAiBatch(AiBatchRun::Task task)
{
    if (refuseWhileJobRuns())
        return false;
    // A model still opening would replace the engine under the run.
    if (isRunEngineLoading()) {
        statusBar()->showMessage(QStringLiteral("Please wait until the model has loaded."), 3000);
        return false;
    }
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

bool MainWindow::startAiRun(AiBatchRun::Task task, AiRunPanel *panel, const QString &runningText, bool countImages)
{
    const int total = int(task.imageIds.size());
    if (countImages)
        task.progress = [panel](int done, int count) { panel->setProgress(done, count); };
    panel->setRunning(true);
    if (countImages)
        panel->setProgress(0, total);
    statusBar()->showMessage(runningText);
    if (runAiBatch(std::move(task)))
        return true;
    panel->setRunning(false);
    panel->setProgress(0, 0);
    return false;
}

void MainWindow::finishAiRunOverAll(const AiBatchRun::Summary &summary, AiRunPanel *panel, const AiToolWords &words,
                                    const QString &doneText, int timeout)
{
    panel->setRunning(false);
    panel->setProgress(0, 0);
    if (summary.abandoned) {
        statusBar()->showMessage(words.prefix + QStringLiteral(": stopped, the project was replaced."), 4000);
        return;
    }
    project.dataset.syncClassesFromAnnotations();
    refreshUi(ClassSync::Done);
    if (summary.added > 0)
        modified = true;

    QString text = doneText;
    if (summary.cancelled) {
        text = QStringLiteral("%1: cancelled after %2 of %3 image(s); added %4 %5(s).")
                   .arg(words.prefix)
                   .arg(summary.done)
                   .arg(summary.total)
                   .arg(summary.added)
                   .arg(words.noun);
    }
    statusBar()->showMessage(text + shortfallText(summary), summary.failed > 0 ? 10000 : timeout);
    if (summary.failed > 0) {
        Prompts::current().warning(this, words.title,
                                   QStringLiteral("Inference failed on %1 of %2 images:\n%3")
                                       .arg(summary.failed)
                                       .arg(summary.total)
                                       .arg(summary.firstError));
    }
}

bool MainWindow::reportAiRunCurrentShortfall(const AiBatchRun::Summary &summary, const AiToolWords &words)
{
    const QString prefix = words.prefix + QStringLiteral(": ");
    if (summary.abandoned) {
        statusBar()->showMessage(prefix + QStringLiteral("stopped, the project was replaced."), 4000);
    } else if (summary.cancelled) {
        statusBar()->showMessage(prefix + QStringLiteral("cancelled."), 3000);
    } else if (summary.gone > 0) {
        statusBar()->showMessage(prefix + QStringLiteral("the image was removed during the run."), 4000);
    } else if (summary.unreadable > 0 && words.unreadableBox.isEmpty()) {
        statusBar()->showMessage(prefix + QStringLiteral("could not read image."), 3000);
    } else if (summary.unreadable > 0) {
        statusBar()->clearMessage();
        Prompts::current().warning(this, words.title, words.unreadableBox);
    } else if (summary.failed > 0) {
        statusBar()->showMessage(prefix + QStringLiteral("inference failed — %1").arg(summary.firstError), 6000);
        Prompts::current().warning(this, words.title, QStringLiteral("Inference failed:\n%1").arg(summary.firstError));
    } else {
        return false;
    }
    return true;
}

QList<int> MainWindow::allImageIds() const
{
    QList<int> ids;
    ids.reserve(project.dataset.images.size());
    for (const ImageEntry &image : project.dataset.images)
        ids.append(image.id);
    return ids;
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
