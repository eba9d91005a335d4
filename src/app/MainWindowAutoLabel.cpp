// Commands of detection and instance-segmentation assistance: the auto-label
// tool, loading the model the dialog names, and runs over the current image or
// every image, whose results become annotations.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/AutoLabelAnnotations.h"
#include "ai/ModelsFolder.h"
#include "app/AiToolWords.h"
#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "dialogs/Prompts.h"
#include "dialogs/SettingsDialog.h"
#include "panels/ImageListPanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStatusBar>

#include <memory>

namespace Quillmark {

namespace {

const QString dialogTitle = QStringLiteral("AI Auto-Label");

bool isSegmentationProject(const QString &type)
{
    return type == QLatin1String("segmentation") || type == QLatin1String("semantic_segmentation");
}

// The work of one image on the run's worker: the engine's results as
// annotations, with the engine's reason when the run failed.
auto autoLabelCompute(OnnxInferencer *engine, bool segmentation, bool boxOnly, float conf, float iou)
{
    return [engine, segmentation, boxOnly, conf, iou](const QImage &picture, QString *error) {
        QList<Annotation> found = segmentation ? segmentationAnnotations(engine->runSeg(picture, conf, iou), boxOnly)
                                               : detectionAnnotations(engine->run(picture, conf, iou));
        *error = engine->lastError();
        return found;
    };
}

// The auto-label tool in its messages; what it finds depends on the model.
AiToolWords autoLabelWords(const QString &noun)
{
    return AiToolWords{QStringLiteral("AI"), dialogTitle, noun, noun + QStringLiteral("s"),
                       QStringLiteral("Could not read image file.")};
}

} // namespace

void MainWindow::resetAiTool()
{
    canvas->setTool(int(Tool::Select));
    sideToolBar->setTool(int(Tool::Select));
}

void MainWindow::handleDetectionModelSelected(const QString &path)
{
    // The engine belongs to the run until it ends.
    if (isAiBatchRunning()) {
        statusBar()->showMessage(QStringLiteral("Please wait until the current operation has finished."), 3000);
        return;
    }
    if (detectorLoad.loading() == path)
        return;
    statusBar()->showMessage(QStringLiteral("Loading model: %1…").arg(QFileInfo(path).fileName()));
    detectorLoad.startEngine<OnnxInferencer>(
        path, [path](OnnxInferencer &engine) { return engine.loadModel(path, {}); },
        [this, path](OnnxInferencer *engine, bool) { finishDetectionModelLoad(path, engine); });
}

void MainWindow::finishDetectionModelLoad(const QString &path, OnnxInferencer *engine)
{
    const QString fileName = QFileInfo(path).fileName();
    if (engine)
        detector = std::move(*engine);
    if (!engine || !detector.isLoaded()) {
        // The previous model is gone too: nothing can run until a load succeeds.
        if (engine)
            aiAutoLabelDialog->setLoadedPath(QString());
        else
            showDetectionModel();
        const QString reason = engine ? detector.lastError() : QStringLiteral("the ONNX runtime could not start");
        statusBar()->showMessage(reason.isEmpty()
                                     ? QStringLiteral("Failed to load model: %1").arg(fileName)
                                     : QStringLiteral("Failed to load model: %1 — %2").arg(fileName, reason),
                                 4000);
        return;
    }
    showDetectionModel();
    statusBar()->showMessage(
        QStringLiteral("Model: %1  |  %2 classes  |  %3")
            .arg(fileName)
            .arg(detector.classNames().size())
            .arg(detector.isSegmentation() ? QStringLiteral("segmentation") : QStringLiteral("detection")),
        4000);
}

void MainWindow::showDetectionModel()
{
    if (!detector.isLoaded()) {
        aiAutoLabelDialog->setLoadedPath(QString());
        return;
    }
    aiAutoLabelDialog->setLoadedPath(detector.modelPath());
    aiAutoLabelDialog->setModelType(detector.isSegmentation());
}

void MainWindow::onAiToolSelected()
{
    const QString type = project.projectType;
    const bool segmentation = isSegmentationProject(type);
    if (type != QLatin1String("object_detection") && !segmentation) {
        aiAutoLabelDialog->setDetectionMode(false);
        showAutoLabelDialog();
        return;
    }
    const QString task = segmentation ? QStringLiteral("segmentation") : QStringLiteral("detection");
    const QString key = QStringLiteral("models/") + task;
    QString path = SettingsDialog::resolveModelPath(key);
    if (path.isEmpty()) {
        const QString fallback =
            QCoreApplication::applicationDirPath() + QStringLiteral("/models/") + task + QStringLiteral(".onnx");
        if (QFileInfo::exists(fallback))
            path = fallback;
    }
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        if (path != aiAutoLabelDialog->loadedPath())
            emit aiAutoLabelDialog->modelSelected(path);
        aiAutoLabelDialog->setDetectionMode(true);
        showAutoLabelDialog();
        return;
    }

    // No model from Settings: none chosen, or the chosen file is gone.
    const QString configured = SettingsDialog::configuredModelPath(key);
    QString problem = QStringLiteral("No %1 model is configured.").arg(task);
    if (!configured.isEmpty())
        problem = QFileInfo::exists(configured)
            ? QStringLiteral("The %1 model is not a regular file: %2").arg(task, QDir::toNativeSeparators(configured))
            : QStringLiteral("The %1 model was not found: %2").arg(task, QDir::toNativeSeparators(configured));
    // The dialog opens all the same when it has a model to offer: one of the
    // models folder in its list, or, in a segmentation project, one of click
    // or concept segmentation, a page of the same dialog.
    aiAutoLabelDialog->setDetectionMode(false);
    aiAutoLabelDialog->rescanModels();
    const bool listed = aiAutoLabelDialog->listsModels();
    const bool prompted = !listed && segmentation && promptSegmentationModelAvailable();
    if (listed || prompted) {
        showAutoLabelDialog();
        if (prompted)
            showSegmentationTab();
        statusBar()->showMessage(problem + (listed ? QStringLiteral(" The models folder's models are listed.")
                                                   : QStringLiteral(" Click Segmentation is open.")),
                                 6000);
        return;
    }
    const QString title = segmentation ? QStringLiteral("Segmentation") : QStringLiteral("Detection");
    Prompts::current().warning(
        this, QStringLiteral("Model Not Found"),
        problem + QStringLiteral("\n\nPlease set the model path in Settings → Models → %1.").arg(title));
    resetAiTool();
}

void MainWindow::showAutoLabelDialog()
{
    if (aiAutoLabelDialog->isHidden())
        aiAutoLabelDialog->show();
    aiAutoLabelDialog->raise();
    resetAiTool();
}

bool MainWindow::promptSegmentationModelAvailable()
{
    // The click segmentation page lists its models as it does when shown (and
    // starts opening the one it picks).
    aiSegDialog->refreshModels();
    if (!aiSegDialog->currentModelPath().isEmpty())
        return true;
    // Concept segmentation needs its three files side by side.
    const QString folder = resolveModelsDir(QStringLiteral("segmentation"));
    if (folder.isEmpty())
        return false;
    const QDir dir(folder);
    for (const char *name : {"sam3_vision_encoder.onnx", "sam3_decoder.onnx", "sam3_tokenizer.json"}) {
        if (dir.entryList({QLatin1String(name)}, QDir::Files).isEmpty())
            return false;
    }
    return true;
}

void MainWindow::onAiRunCurrent()
{
    if (!detector.isLoaded() || refuseWhileJobRuns())
        return;
    const ImageEntry *entry = videoMode ? nullptr : project.dataset.imageById(currentImageId);
    if (!entry) {
        Prompts::current().information(this, dialogTitle, QStringLiteral("Please open an image first."));
        return;
    }
    const int imageId = entry->id;
    const bool segmentation = detector.isSegmentation();
    const AiToolWords words = autoLabelWords(segmentation ? QStringLiteral("instance") : QStringLiteral("object"));

    // Results belong to the image they were computed for: while it is still
    // on the canvas each becomes an undo step there, otherwise they go into its
    // record.
    auto appliedElsewhere = std::make_shared<bool>(false);
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<Annotation>>(
        {imageId},
        autoLabelCompute(&detector, segmentation, isBoxOnlyProjectType(project.projectType),
                         aiAutoLabelDialog->confidence(), aiAutoLabelDialog->iouThreshold()),
        [this, appliedElsewhere](ImageEntry &target, QList<Annotation> &found) {
            if (!isImageShown(target.id)) {
                *appliedElsewhere = true;
                const int added = addAnnotationsToImage(target, found);
                if (added > 0)
                    modified = true;
                return added;
            }
            for (const Annotation &annotation : std::as_const(found))
                canvas->addDetection(annotation);
            return int(found.size());
        });
    task.finished = [this, imageId, words, appliedElsewhere](const AiBatchRun::Summary &summary) {
        finishAutoLabelRunCurrent(summary, imageId, words, *appliedElsewhere);
    };
    startAiRun(std::move(task), aiAutoLabelDialog, QStringLiteral("Running inference…"), false);
}

void MainWindow::finishAutoLabelRunCurrent(const AiBatchRun::Summary &summary, int imageId, const AiToolWords &words,
                                           bool appliedElsewhere)
{
    aiAutoLabelDialog->setRunning(false);
    resetAiTool();
    if (reportAiRunCurrentShortfall(summary, words))
        return;

    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    if (appliedElsewhere) {
        const ImageEntry *entry = project.dataset.imageById(imageId);
        if (entry)
            imageListPanel->setImageLabeled(imageId, entry->isLabelled());
        refreshStats();
        statusBar()->showMessage(QStringLiteral("AI: added %1 %2(s) to %3, which is no longer shown.")
                                     .arg(summary.added)
                                     .arg(words.noun, entry ? QFileInfo(entry->filePath).fileName() : QString()),
                                 5000);
        return;
    }
    statusBar()->showMessage(QStringLiteral("AI: found %1 %2(s) on current image.").arg(summary.added).arg(words.noun),
                             4000);
}

void MainWindow::onAiRunAll()
{
    if (!detector.isLoaded() || refuseWhileJobRuns())
        return;
    const bool segmentation = detector.isSegmentation();
    const AiToolWords words = autoLabelWords(segmentation ? QStringLiteral("instance") : QStringLiteral("detection"));
    if (project.dataset.images.isEmpty()) {
        statusBar()->showMessage(words.noImagesText(), 4000);
        return;
    }

    AiBatchRun::Task task = AiBatchRun::makeTask<QList<Annotation>>(
        allImageIds(),
        autoLabelCompute(&detector, segmentation, isBoxOnlyProjectType(project.projectType),
                         aiAutoLabelDialog->confidence(), aiAutoLabelDialog->iouThreshold()),
        [this](ImageEntry &entry, QList<Annotation> &found) { return addAnnotationsToImage(entry, found); });
    task.finished = [this, words](const AiBatchRun::Summary &summary) {
        finishAiRunOverAll(summary, aiAutoLabelDialog, words,
                           QStringLiteral("AI: added %1 %2(s) across %3 images.")
                               .arg(summary.added)
                               .arg(words.noun)
                               .arg(summary.total),
                           5000);
        resetAiTool();
    };
    startAiRun(std::move(task), aiAutoLabelDialog, QStringLiteral("Running inference…"), true);
}

} // namespace Quillmark
