// Commands of face and pose assistance: loading the model a dialog names,
// running it on the current image as a preview that waits on the canvas until
// it is accepted or cleared, and running it over every image straight into the
// annotations.

#include "app/MainWindow.h"

#include "ai/FaceAnnotationDialog.h"
#include "ai/PoseAnnotationDialog.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/Prompts.h"
#include "dialogs/SettingsDialog.h"

#include <QFileInfo>
#include <QStatusBar>

#include <memory>

namespace Quillmark {

namespace {

const QString faceClass = QStringLiteral("face");
const QString personClass = QStringLiteral("person");
const QString busyText = QStringLiteral("Please wait until the current operation has finished.");

QList<Annotation> faceAnnotations(const QList<FaceDetection> &faces)
{
    QList<Annotation> annotations;
    annotations.reserve(faces.size());
    for (const FaceDetection &face : faces)
        annotations.append(faceToAnnotation(face, faceClass));
    return annotations;
}

QList<Annotation> personAnnotations(const QList<PosePerson> &persons)
{
    QList<Annotation> annotations;
    annotations.reserve(persons.size());
    for (const PosePerson &person : persons)
        annotations.append(posePersonToAnnotation(person, personClass));
    return annotations;
}

QList<int> imageIdsOf(const Dataset &dataset)
{
    QList<int> ids;
    ids.reserve(dataset.images.size());
    for (const ImageEntry &image : dataset.images)
        ids.append(image.id);
    return ids;
}

// The work of one picture on a run's worker: the engine's results, with its
// reason when the run failed.
auto faceCompute(FaceInferencer *engine, float conf, float iou)
{
    return [engine, conf, iou](const QImage &picture, QString *error) {
        QList<FaceDetection> faces = engine->run(picture, conf, iou);
        *error = engine->lastError();
        return faces;
    };
}

auto poseCompute(PoseInferencer *engine, float conf, float iou, float keypointConf)
{
    return [engine, conf, iou, keypointConf](const QImage &picture, QString *error) {
        QList<PosePerson> persons = engine->run(picture, conf, iou, keypointConf);
        *error = engine->lastError();
        return persons;
    };
}

// The words of one tool in its messages.
struct ToolWords {
    QString prefix;  // "Face"
    QString results; // "faces"
    QString title;   // of its message boxes
};

const ToolWords faceWords{QStringLiteral("Face"), QStringLiteral("faces"), QStringLiteral("Face Detection")};
const ToolWords poseWords{QStringLiteral("Pose"), QStringLiteral("persons"), QStringLiteral("Pose Annotation")};

// Reports why a run on the current image left no preview; false when it
// produced one.
bool reportRunCurrentProblem(QWidget *window, QStatusBar *status, const AiBatchRun::Summary &summary,
                             bool changedMeanwhile, const ToolWords &words)
{
    const QString prefix = words.prefix + QStringLiteral(": ");
    if (summary.abandoned) {
        status->showMessage(prefix + QStringLiteral("stopped, the project was replaced."), 4000);
    } else if (summary.cancelled) {
        status->showMessage(prefix + QStringLiteral("cancelled."), 3000);
    } else if (summary.gone > 0) {
        status->showMessage(prefix + QStringLiteral("the image was removed during the run."), 4000);
    } else if (summary.unreadable > 0) {
        status->showMessage(prefix + QStringLiteral("could not read image."), 3000);
    } else if (summary.failed > 0) {
        status->showMessage(prefix + QStringLiteral("inference failed — %1").arg(summary.firstError), 6000);
        Prompts::current().warning(window, words.title,
                                   QStringLiteral("Inference failed:\n%1").arg(summary.firstError));
    } else if (changedMeanwhile) {
        status->showMessage(
            prefix + QStringLiteral("another image is shown now; the %1 found were dropped.").arg(words.results), 4000);
    } else {
        return false;
    }
    return true;
}

// Shows the summary of a run over all images, with what it could not do.
void reportRunAll(QWidget *window, QStatusBar *status, const AiBatchRun::Summary &summary, QString text, int timeout,
                  const ToolWords &words)
{
    if (summary.gone > 0)
        text += QStringLiteral(" %1 image(s) were removed meanwhile.").arg(summary.gone);
    if (summary.failed > 0)
        text += QStringLiteral(" Inference failed on %1 image(s): %2").arg(summary.failed).arg(summary.firstError);
    status->showMessage(text, summary.failed > 0 ? 10000 : timeout);
    if (summary.failed > 0) {
        Prompts::current().warning(window, words.title,
                                   QStringLiteral("Inference failed on %1 of %2 images:\n%3")
                                       .arg(summary.failed)
                                       .arg(summary.total)
                                       .arg(summary.firstError));
    }
}

} // namespace

// --- Pending results -------------------------------------------------------------

void MainWindow::forgetPendingFaces()
{
    pendingFaces.clear();
    faceDialog->clearFaces();
}

void MainWindow::forgetPendingPersons()
{
    pendingPersons.clear();
    poseDialog->clearPersons();
}

void MainWindow::dropPendingFacePose()
{
    forgetPendingFaces();
    forgetPendingPersons();
}

void MainWindow::showPendingFaces(const QList<FaceDetection> &faces)
{
    // The canvas holds one preview: the pose preview it replaces is gone.
    forgetPendingPersons();
    pendingFaces = faces;
    canvas->setPendingAnnotations(faceAnnotations(faces));
    faceDialog->setFaces(faces);
}

void MainWindow::showPendingPersons(const QList<PosePerson> &persons)
{
    forgetPendingFaces();
    pendingPersons = persons;
    canvas->setPendingAnnotations(personAnnotations(persons));
    poseDialog->setPersons(persons);
}

const ImageEntry *MainWindow::imageForRunCurrent(const QString &toolPrefix)
{
    const ImageEntry *entry = videoMode ? nullptr : project.dataset.imageById(currentImageId);
    if (!entry)
        statusBar()->showMessage(toolPrefix + QStringLiteral(": please open an image first."), 3000);
    return entry;
}

void MainWindow::pushConfiguredFacePoseModels()
{
    // A configured file that does not exist would only unload a working model;
    // the one already loaded is not loaded again.
    const QString body = SettingsDialog::resolveModelPath(QStringLiteral("models/body"));
    if (!body.isEmpty() && poseDialog && QFileInfo(body).isFile() && body != poseDialog->loadedPath())
        emit poseDialog->modelSelected(body);
    const QString face = SettingsDialog::resolveModelPath(QStringLiteral("models/face"));
    if (!face.isEmpty() && faceDialog && QFileInfo(face).isFile() && face != faceDialog->loadedPath())
        emit faceDialog->modelSelected(face);
}

// --- Face ------------------------------------------------------------------------

void MainWindow::onFaceToolSelected()
{
    if (faceDialog->isHidden())
        faceDialog->show();
    faceDialog->raise();
    faceDialog->activateWindow();
    resetAiTool();
}

void MainWindow::handleFaceModelSelected(const QString &path)
{
    // The engine belongs to a run until it ends.
    if (isAiBatchRunning()) {
        statusBar()->showMessage(busyText, 3000);
        return;
    }
    if (!faceInferencer.loadModel(path)) {
        const QString text = QStringLiteral("Failed to load face model: ") + faceInferencer.lastError();
        // The previous model is gone too: nothing runs until a load succeeds.
        faceDialog->setLoadedPath(QString());
        faceDialog->setModelReady(false, text);
        statusBar()->showMessage(text, 5000);
        return;
    }
    faceDialog->setLoadedPath(path);
    faceDialog->setModelReady(true, faceInferencer.hasLandmarks()
                                        ? QStringLiteral("✓ Model loaded  (5 landmarks)")
                                        : QStringLiteral("✓ Model loaded  (bbox only — no landmarks)"));
    statusBar()->showMessage(QStringLiteral("Face model: ") + QFileInfo(path).fileName(), 3000);
}

void MainWindow::onFaceRunCurrent()
{
    if (!faceInferencer.isReady() || isAiBatchRunning())
        return;
    const ImageEntry *entry = imageForRunCurrent(QStringLiteral("Face"));
    if (!entry)
        return;

    // A preview belongs to the image it was computed for: when another one is
    // shown by the time the result arrives, the result is dropped.
    auto changedMeanwhile = std::make_shared<bool>(false);
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<FaceDetection>>(
        {entry->id}, faceCompute(&faceInferencer, faceDialog->confidence(), faceDialog->iouThreshold()),
        [this, changedMeanwhile](ImageEntry &target, QList<FaceDetection> &faces) {
            if (!isImageShown(target.id)) {
                *changedMeanwhile = true;
                return 0;
            }
            showPendingFaces(faces);
            return int(faces.size());
        });
    task.finished = [this, changedMeanwhile](const AiBatchRun::Summary &summary) {
        finishFaceRunCurrent(summary, *changedMeanwhile);
    };

    faceDialog->setRunning(true);
    statusBar()->showMessage(QStringLiteral("Running face inference…"));
    if (!runAiBatch(std::move(task)))
        faceDialog->setRunning(false);
}

void MainWindow::finishFaceRunCurrent(const AiBatchRun::Summary &summary, bool changedMeanwhile)
{
    faceDialog->setRunning(false);
    if (reportRunCurrentProblem(this, statusBar(), summary, changedMeanwhile, faceWords))
        return;
    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    statusBar()->showMessage(
        QStringLiteral("Face: %1 face(s) detected.  Click Accept to save.").arg(pendingFaces.size()), 4000);
}

void MainWindow::onFaceAccept()
{
    if (pendingFaces.isEmpty())
        return;
    if (canvas->pendingAnnotationList().isEmpty()) {
        // Nothing of the preview is left on the canvas to accept.
        forgetPendingFaces();
        return;
    }
    canvas->acceptPendingAnnotations();
    forgetPendingFaces();
    statusBar()->showMessage(QStringLiteral("Face annotations accepted."), 2000);
}

void MainWindow::onFaceClear()
{
    if (!pendingFaces.isEmpty())
        canvas->clearPendingAnnotations();
    forgetPendingFaces();
    statusBar()->showMessage(QStringLiteral("Face preview cleared."), 2000);
}

void MainWindow::onFaceRunAll()
{
    if (!faceInferencer.isReady() || project.dataset.images.isEmpty() || isAiBatchRunning())
        return;
    QList<int> ids = imageIdsOf(project.dataset);
    const int n = int(ids.size());
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<FaceDetection>>(
        std::move(ids), faceCompute(&faceInferencer, faceDialog->confidence(), faceDialog->iouThreshold()),
        [this](ImageEntry &entry, QList<FaceDetection> &faces) {
            // The shown image's preview would now add its faces a second time.
            if (!pendingFaces.isEmpty() && isImageShown(entry.id)) {
                canvas->clearPendingAnnotations();
                forgetPendingFaces();
            }
            return addAnnotationsToImage(entry, faceAnnotations(faces));
        });
    task.progress = [this](int done, int total) { faceDialog->setProgress(done, total); };
    task.finished = [this](const AiBatchRun::Summary &summary) { finishFaceRunAll(summary); };

    faceDialog->setRunning(true);
    faceDialog->setProgress(0, n);
    statusBar()->showMessage(QStringLiteral("Running face inference…"));
    if (!runAiBatch(std::move(task))) {
        faceDialog->setRunning(false);
        faceDialog->setProgress(0, 0);
    }
}

void MainWindow::finishFaceRunAll(const AiBatchRun::Summary &summary)
{
    faceDialog->setRunning(false);
    faceDialog->setProgress(0, 0);
    if (summary.abandoned) {
        statusBar()->showMessage(faceWords.prefix + QStringLiteral(": stopped, the project was replaced."), 4000);
        return;
    }
    project.dataset.syncClassesFromAnnotations();
    refreshUi();
    if (summary.added > 0)
        modified = true;

    const QString text =
        summary.cancelled
            ? QStringLiteral("Face: cancelled after %1 of %2 image(s); added %3 face(s).")
                  .arg(summary.done)
                  .arg(summary.total)
                  .arg(summary.added)
            : QStringLiteral("Face: added %1 face(s) across %2 image(s).").arg(summary.added).arg(summary.total);
    reportRunAll(this, statusBar(), summary, text, 5000, faceWords);
}

// --- Pose ------------------------------------------------------------------------

void MainWindow::onPoseToolSelected()
{
    if (poseDialog->isHidden())
        poseDialog->show();
    poseDialog->raise();
    poseDialog->activateWindow();
    resetAiTool();
}

void MainWindow::handlePoseModelSelected(const QString &path)
{
    if (isAiBatchRunning()) {
        statusBar()->showMessage(busyText, 3000);
        return;
    }
    if (!poseInferencer.loadModel(path)) {
        const QString reason = poseInferencer.lastError();
        poseDialog->setLoadedPath(QString());
        poseDialog->setModelReady(false, reason);
        statusBar()->showMessage(QStringLiteral("Failed to load pose model: ") + reason, 5000);
        return;
    }
    poseDialog->setLoadedPath(path);
    poseDialog->setModelReady(true);
    statusBar()->showMessage(QStringLiteral("Pose model: ") + QFileInfo(path).fileName(), 3000);
}

void MainWindow::onPoseRunCurrent()
{
    if (!poseInferencer.isReady() || isAiBatchRunning())
        return;
    const ImageEntry *entry = imageForRunCurrent(QStringLiteral("Pose"));
    if (!entry)
        return;

    auto changedMeanwhile = std::make_shared<bool>(false);
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<PosePerson>>(
        {entry->id},
        poseCompute(&poseInferencer, poseDialog->confThreshold(), poseDialog->iouThreshold(),
                    poseDialog->keypointConfThreshold()),
        [this, changedMeanwhile](ImageEntry &target, QList<PosePerson> &persons) {
            if (!isImageShown(target.id)) {
                *changedMeanwhile = true;
                return 0;
            }
            showPendingPersons(persons);
            return int(persons.size());
        });
    task.finished = [this, changedMeanwhile](const AiBatchRun::Summary &summary) {
        finishPoseRunCurrent(summary, *changedMeanwhile);
    };

    poseDialog->setRunning(true);
    statusBar()->showMessage(QStringLiteral("Running pose inference…"));
    if (!runAiBatch(std::move(task)))
        poseDialog->setRunning(false);
}

void MainWindow::finishPoseRunCurrent(const AiBatchRun::Summary &summary, bool changedMeanwhile)
{
    poseDialog->setRunning(false);
    if (reportRunCurrentProblem(this, statusBar(), summary, changedMeanwhile, poseWords))
        return;
    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    statusBar()->showMessage(
        QStringLiteral("Pose: %1 person(s) detected.  Click Accept to save.").arg(pendingPersons.size()), 4000);
}

void MainWindow::showPendingPoseResults(int personIdx, int kpIdx, int newVis)
{
    if (personIdx < 0 || personIdx >= pendingPersons.size())
        return;
    PosePerson &person = pendingPersons[personIdx];
    if (kpIdx < 0 || kpIdx >= person.keypoints.size())
        return;
    person.keypoints[kpIdx].visibility = newVis;
    canvas->setPendingAnnotations(personAnnotations(pendingPersons));
}

void MainWindow::onPoseAccept()
{
    if (pendingPersons.isEmpty())
        return;
    if (canvas->pendingAnnotationList().isEmpty()) {
        forgetPendingPersons();
        return;
    }
    canvas->acceptPendingAnnotations();
    forgetPendingPersons();
    statusBar()->showMessage(QStringLiteral("Pose annotations accepted."), 2000);
}

void MainWindow::onPoseClear()
{
    if (!pendingPersons.isEmpty())
        canvas->clearPendingAnnotations();
    forgetPendingPersons();
    statusBar()->showMessage(QStringLiteral("Pose preview cleared."), 2000);
}

void MainWindow::onPoseRunAll()
{
    if (!poseInferencer.isReady() || project.dataset.images.isEmpty() || isAiBatchRunning())
        return;
    QList<int> ids = imageIdsOf(project.dataset);
    const int n = int(ids.size());
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<PosePerson>>(
        std::move(ids),
        poseCompute(&poseInferencer, poseDialog->confThreshold(), poseDialog->iouThreshold(),
                    poseDialog->keypointConfThreshold()),
        [this](ImageEntry &entry, QList<PosePerson> &persons) {
            if (!pendingPersons.isEmpty() && isImageShown(entry.id)) {
                canvas->clearPendingAnnotations();
                forgetPendingPersons();
            }
            return addAnnotationsToImage(entry, personAnnotations(persons));
        });
    task.progress = [this](int done, int total) { poseDialog->setProgress(done, total); };
    task.finished = [this](const AiBatchRun::Summary &summary) { finishPoseRunAll(summary); };

    poseDialog->setRunning(true);
    poseDialog->setProgress(0, n);
    statusBar()->showMessage(QStringLiteral("Running pose inference…"));
    if (!runAiBatch(std::move(task))) {
        poseDialog->setRunning(false);
        poseDialog->setProgress(0, 0);
    }
}

void MainWindow::finishPoseRunAll(const AiBatchRun::Summary &summary)
{
    poseDialog->setRunning(false);
    poseDialog->setProgress(0, 0);
    if (summary.abandoned) {
        statusBar()->showMessage(poseWords.prefix + QStringLiteral(": stopped, the project was replaced."), 4000);
        return;
    }
    project.dataset.syncClassesFromAnnotations();
    refreshUi();
    if (summary.added > 0)
        modified = true;

    const QString text =
        summary.cancelled
            ? QStringLiteral("Pose: cancelled after %1 of %2 image(s).").arg(summary.done).arg(summary.total)
            : QStringLiteral("Pose: processed %1 image(s).").arg(summary.total);
    reportRunAll(this, statusBar(), summary, text, 4000, poseWords);
}

} // namespace Quillmark
