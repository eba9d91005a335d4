// Commands of face and pose assistance: loading the model a dialog names,
// running it on the current image as a preview that waits on the canvas until
// it is accepted or cleared, and running it over every image straight into the
// annotations.

#include "app/MainWindow.h"

#include "ai/ui/FaceAnnotationDialog.h"
#include "ai/ui/PoseAnnotationDialog.h"
#include "app/AiToolWords.h"
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

// The two tools in their messages.
const AiToolWords faceWords{QStringLiteral("Face"), QStringLiteral("Face Detection"), QStringLiteral("face"),
                            QStringLiteral("faces"), QString()};
const AiToolWords poseWords{QStringLiteral("Pose"), QStringLiteral("Pose Annotation"), QStringLiteral("person"),
                            QStringLiteral("persons"), QString()};

// A run on one image whose results wait on the canvas for review: while the
// image is still shown when they arrive, `show` puts them there; otherwise they
// are dropped and `changedMeanwhile` says so.
template <typename Result, typename Compute, typename IsShown, typename Show>
AiBatchRun::Task previewTask(int imageId, Compute compute, IsShown isShown, Show show,
                             const std::shared_ptr<bool> &changedMeanwhile)
{
    return AiBatchRun::makeTask<Result>({imageId}, std::move(compute),
                                        [isShown, show, changedMeanwhile](ImageEntry &target, Result &found) {
                                            if (!isShown(target.id)) {
                                                *changedMeanwhile = true;
                                                return 0;
                                            }
                                            show(found);
                                            return int(found.size());
                                        });
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

void MainWindow::finishPreviewRun(const AiBatchRun::Summary &summary, bool changedMeanwhile, AiRunPanel *panel,
                                  const AiToolWords &words, const QString &doneText)
{
    panel->setRunning(false);
    if (reportAiRunCurrentShortfall(summary, words))
        return;
    if (changedMeanwhile) {
        statusBar()->showMessage(
            words.prefix +
                QStringLiteral(": another image is shown now; the %1 found were dropped.").arg(words.results),
            4000);
        return;
    }
    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    statusBar()->showMessage(doneText, 4000);
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
    if (faceLoad.loading() == path)
        return;
    faceDialog->setModelReady(false, QStringLiteral("Loading model…"));
    statusBar()->showMessage(QStringLiteral("Loading face model: ") + QFileInfo(path).fileName());
    faceLoad.startEngine<FaceInferencer>(
        path, [path](FaceInferencer &engine) { return engine.loadModel(path); },
        [this, path](FaceInferencer *engine, bool) { finishFaceModelLoad(path, engine); });
}

void MainWindow::finishFaceModelLoad(const QString &path, FaceInferencer *engine)
{
    if (engine)
        faceInferencer = std::move(*engine);
    if (!engine || !faceInferencer.isReady()) {
        const QString reason = engine ? faceInferencer.lastError() : QStringLiteral("the ONNX runtime could not start");
        const QString text = QStringLiteral("Failed to load face model: ") + reason;
        // The previous model is gone too: nothing runs until a load succeeds.
        faceDialog->setLoadedPath(engine ? QString() : faceInferencer.modelPath());
        faceDialog->setModelReady(!engine && faceInferencer.isReady(), text);
        statusBar()->showMessage(text, 5000);
        return;
    }
    showFaceModel();
    statusBar()->showMessage(QStringLiteral("Face model: ") + QFileInfo(path).fileName(), 3000);
}

void MainWindow::showFaceModel()
{
    if (!faceInferencer.isReady()) {
        faceDialog->setLoadedPath(QString());
        faceDialog->setModelReady(false, QString());
        return;
    }
    faceDialog->setLoadedPath(faceInferencer.modelPath());
    faceDialog->setModelReady(true, faceInferencer.hasLandmarks()
                                        ? QStringLiteral("✓ Model loaded  (5 landmarks)")
                                        : QStringLiteral("✓ Model loaded  (bbox only — no landmarks)"));
}

void MainWindow::onFaceRunCurrent()
{
    if (!faceInferencer.isReady() || refuseWhileJobRuns())
        return;
    const ImageEntry *entry = imageForRunCurrent(faceWords.prefix);
    if (!entry)
        return;
    auto changedMeanwhile = std::make_shared<bool>(false);
    AiBatchRun::Task task = previewTask<QList<FaceDetection>>(
        entry->id, faceCompute(&faceInferencer, faceDialog->confidence(), faceDialog->iouThreshold()),
        [this](int id) { return isImageShown(id); },
        [this](const QList<FaceDetection> &faces) { showPendingFaces(faces); }, changedMeanwhile);
    task.finished = [this, changedMeanwhile](const AiBatchRun::Summary &summary) {
        finishPreviewRun(summary, *changedMeanwhile, faceDialog, faceWords,
                         QStringLiteral("Face: %1 face(s) detected.  Click Accept to save.").arg(pendingFaces.size()));
    };
    startAiRun(std::move(task), faceDialog, QStringLiteral("Running face inference…"), false);
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
    if (!faceInferencer.isReady() || refuseWhileJobRuns())
        return;
    if (project.dataset.images.isEmpty()) {
        statusBar()->showMessage(faceWords.noImagesText(), 4000);
        return;
    }
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<FaceDetection>>(
        allImageIds(), faceCompute(&faceInferencer, faceDialog->confidence(), faceDialog->iouThreshold()),
        [this](ImageEntry &entry, QList<FaceDetection> &faces) {
            // The shown image's preview would now add its faces a second time.
            if (!pendingFaces.isEmpty() && isImageShown(entry.id)) {
                canvas->clearPendingAnnotations();
                forgetPendingFaces();
            }
            return addAnnotationsToImage(entry, faceAnnotations(faces));
        });
    task.finished = [this](const AiBatchRun::Summary &summary) {
        finishAiRunOverAll(
            summary, faceDialog, faceWords,
            QStringLiteral("Face: added %1 face(s) across %2 image(s).").arg(summary.added).arg(summary.total), 5000);
    };
    startAiRun(std::move(task), faceDialog, QStringLiteral("Running face inference…"), true);
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
    if (poseLoad.loading() == path)
        return;
    poseDialog->setModelReady(false, QStringLiteral("Loading model…"));
    statusBar()->showMessage(QStringLiteral("Loading pose model: ") + QFileInfo(path).fileName());
    poseLoad.startEngine<PoseInferencer>(
        path, [path](PoseInferencer &engine) { return engine.loadModel(path); },
        [this, path](PoseInferencer *engine, bool) { finishPoseModelLoad(path, engine); });
}

void MainWindow::finishPoseModelLoad(const QString &path, PoseInferencer *engine)
{
    if (engine)
        poseInferencer = std::move(*engine);
    if (!engine || !poseInferencer.isReady()) {
        const QString reason = engine ? poseInferencer.lastError() : QStringLiteral("the ONNX runtime could not start");
        if (engine) {
            poseDialog->setLoadedPath(QString());
            poseDialog->setModelReady(false, reason);
        }
        statusBar()->showMessage(QStringLiteral("Failed to load pose model: ") + reason, 5000);
        return;
    }
    showPoseModel();
    statusBar()->showMessage(QStringLiteral("Pose model: ") + QFileInfo(path).fileName(), 3000);
}

void MainWindow::showPoseModel()
{
    poseDialog->setLoadedPath(poseInferencer.isReady() ? poseInferencer.modelPath() : QString());
    poseDialog->setModelReady(poseInferencer.isReady());
}

void MainWindow::onPoseRunCurrent()
{
    if (!poseInferencer.isReady() || refuseWhileJobRuns())
        return;
    const ImageEntry *entry = imageForRunCurrent(poseWords.prefix);
    if (!entry)
        return;
    auto changedMeanwhile = std::make_shared<bool>(false);
    AiBatchRun::Task task = previewTask<QList<PosePerson>>(
        entry->id,
        poseCompute(&poseInferencer, poseDialog->confThreshold(), poseDialog->iouThreshold(),
                    poseDialog->keypointConfThreshold()),
        [this](int id) { return isImageShown(id); },
        [this](const QList<PosePerson> &persons) { showPendingPersons(persons); }, changedMeanwhile);
    task.finished = [this, changedMeanwhile](const AiBatchRun::Summary &summary) {
        finishPreviewRun(
            summary, *changedMeanwhile, poseDialog, poseWords,
            QStringLiteral("Pose: %1 person(s) detected.  Click Accept to save.").arg(pendingPersons.size()));
    };
    startAiRun(std::move(task), poseDialog, QStringLiteral("Running pose inference…"), false);
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
    if (!poseInferencer.isReady() || refuseWhileJobRuns())
        return;
    if (project.dataset.images.isEmpty()) {
        statusBar()->showMessage(poseWords.noImagesText(), 4000);
        return;
    }
    AiBatchRun::Task task = AiBatchRun::makeTask<QList<PosePerson>>(
        allImageIds(),
        poseCompute(&poseInferencer, poseDialog->confThreshold(), poseDialog->iouThreshold(),
                    poseDialog->keypointConfThreshold()),
        [this](ImageEntry &entry, QList<PosePerson> &persons) {
            if (!pendingPersons.isEmpty() && isImageShown(entry.id)) {
                canvas->clearPendingAnnotations();
                forgetPendingPersons();
            }
            return addAnnotationsToImage(entry, personAnnotations(persons));
        });
    // The closing text counts images, not persons.
    task.finished = [this](const AiBatchRun::Summary &summary) {
        finishAiRunOverAll(summary, poseDialog, poseWords,
                           QStringLiteral("Pose: processed %1 image(s).").arg(summary.total), 4000);
    };
    startAiRun(std::move(task), poseDialog, QStringLiteral("Running pose inference…"), true);
}

} // namespace Quillmark
