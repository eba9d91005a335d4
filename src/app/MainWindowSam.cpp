// Commands of click segmentation (a point-prompt model turns clicked points
// into one outline) and of concept segmentation (a text prompt finds every
// instance of a concept): loading the models, encoding the shown image,
// previews on the canvas, and accepting outlines as polygon annotations.

#include "app/MainWindow.h"

#include "ai/ui/AiAutoLabelDialog.h"
#include "ai/ui/AiSam3Dialog.h"
#include "ai/ui/AiSegDialog.h"
#include "ai/OutlineTracing.h"
#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"
#include "dialogs/Prompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStatusBar>

#include <cmath>

namespace Quillmark {

namespace {

const QString samTitle = QStringLiteral("SAM");
const QString sam3Title = QStringLiteral("SAM3");
const QString imageChangedText = QStringLiteral("The image changed.  Encode the current image first.");

// A detection's box as an annotation box: within the image, else the outline's
// bounding rectangle (a box the model put outside the picture, or not a number).
QRectF annotationBox(const QRectF &box, const QPolygonF &outline, const QSize &imageSize)
{
    const QRectF inside = box.normalized().intersected(QRectF(QPointF(0, 0), imageSize));
    const bool usable = std::isfinite(box.x()) && std::isfinite(box.y()) && std::isfinite(box.width()) &&
                        std::isfinite(box.height()) && inside.isValid();
    return usable ? inside : outline.boundingRect();
}

} // namespace

void MainWindow::createSegmentationDialogs()
{
    aiSegDialog = new AiSegDialog(this);
    aiSegDialog->setEmbedded(true);
    aiAutoLabelDialog->addSegmentationTab(aiSegDialog);
    sam3Dialog = new AiSam3Dialog(this);
    connectSegmentationPrompts();
}

const ImageEntry *MainWindow::shownImageEntry() const
{
    if (videoMode || !isImageShown(currentImageId))
        return nullptr;
    return project.dataset.imageById(currentImageId);
}

MainWindow::SegmentedImage MainWindow::segmentedImageOf(const ImageEntry &entry) const
{
    return SegmentedImage{entry.id, entry.filePath};
}

bool MainWindow::isStillShown(const SegmentedImage &image) const
{
    const ImageEntry *shown = shownImageEntry();
    return shown && image.id == shown->id && image.filePath == shown->filePath;
}

QImage MainWindow::pixelsToEncode(const QString &title, bool modelReady, const QString &noModelText,
                                  const QString &unreadableText, SegmentedImage &image)
{
    const ImageEntry *entry = shownImageEntry();
    if (!entry) {
        Prompts::current().information(this, title, QStringLiteral("Open an image first."));
        return {};
    }
    if (!modelReady) {
        Prompts::current().warning(this, title, noModelText);
        return {};
    }
    // The pixels on the canvas: the file is not read again, here on the
    // window's thread, where a slow or blocking read would freeze the window.
    const QImage pixels = canvas->shownPicture();
    if (pixels.isNull()) {
        Prompts::current().warning(this, title, unreadableText);
        return {};
    }
    image = segmentedImageOf(*entry);
    return pixels;
}

void MainWindow::showSegmentationTab()
{
    if (aiAutoLabelDialog->isHidden())
        aiAutoLabelDialog->show();
    aiAutoLabelDialog->raise();
    aiAutoLabelDialog->activateWindow();
    aiAutoLabelDialog->showSegmentationTab();
}

void MainWindow::showConceptDialog()
{
    if (sam3Dialog->isHidden())
        sam3Dialog->show();
    sam3Dialog->raise();
    sam3Dialog->activateWindow();
}

// --- Click segmentation -------------------------------------------------------

void MainWindow::handleSamEncoderSelected(const QString &path)
{
    if (samLoad.loading() == path)
        return;
    samEncodedImage = {};
    if (canvas->isInSamMode())
        canvas->exitSamMode();
    aiSegDialog->setAcceptEnabled(false);
    aiSegDialog->setEncodeEnabled(false);
    aiSegDialog->setStatus(QStringLiteral("Loading model…"));
    samLoad.startEngine<SamInferencer>(
        path, [path](SamInferencer &engine) { return engine.loadEncoder(path); },
        [this, path](SamInferencer *engine, bool ok) { finishSamModelLoad(path, engine, ok); });
}

void MainWindow::finishSamModelLoad(const QString &path, SamInferencer *engine, bool ok)
{
    if (!engine) {
        aiSegDialog->setStatus(QStringLiteral("Failed to load model: the ONNX runtime could not start"));
        aiSegDialog->setEncodeEnabled(false);
        return;
    }
    samInferencer = std::move(*engine);
    samEncodedImage = {};
    // The encoding went with the model before: prompt mode would take clicks
    // that nothing answers, and its preview came from the other model.
    if (canvas->isInSamMode())
        canvas->exitSamMode();
    aiSegDialog->setAcceptEnabled(false);
    if (ok && samInferencer.decoderReady()) {
        aiSegDialog->setStatus(QStringLiteral("Model loaded.  Click \"Encode Current Image\" to begin."));
        aiSegDialog->setEncodeEnabled(true);
        statusBar()->showMessage(QStringLiteral("SAM model: ") + QFileInfo(path).fileName(), 3000);
        return;
    }
    if (ok) {
        aiSegDialog->setStatus(QStringLiteral("Bu dosya tek dosya SAM modeli değil — segmentation_mobile_sam.onnx "
                                              "gibi birleşik bir model seçin."));
    } else {
        aiSegDialog->setStatus(QStringLiteral("Failed to load model: ") + samInferencer.lastError());
    }
    aiSegDialog->setEncodeEnabled(false);
}

void MainWindow::showSamModel()
{
    const bool ready = samInferencer.encoderLoaded() && samInferencer.decoderReady();
    aiSegDialog->setEncodeEnabled(ready);
    aiSegDialog->setStatus(ready ? QStringLiteral("Model loaded.  Click \"Encode Current Image\" to begin.")
                                 : QStringLiteral("Model loading cancelled."));
}

void MainWindow::onSamEncode()
{
    SegmentedImage target;
    const QImage image = pixelsToEncode(samTitle, samInferencer.encoderLoaded() && samInferencer.decoderReady(),
                                        QStringLiteral("Load a SAM model first (segmentation_mobile_sam.onnx)."),
                                        QStringLiteral("Cannot read the current image file."), target);
    if (image.isNull())
        return;

    aiSegDialog->setStatus(QStringLiteral("Encoding image… (this may take a few seconds)"));
    aiSegDialog->setEncodeEnabled(false);
    QCoreApplication::processEvents();
    const bool ok = samInferencer.encodeImage(image);
    aiSegDialog->setEncodeEnabled(true);
    samEncodedImage = {};
    if (!ok) {
        aiSegDialog->setStatus(QStringLiteral("Encoding failed: ") + samInferencer.lastError());
        return;
    }
    samEncodedImage = target;
    aiSegDialog->setAcceptEnabled(false);
    if (!isStillShown(target)) {
        // Another image was chosen while this one was encoded.
        aiSegDialog->setStatus(imageChangedText);
        return;
    }
    aiSegDialog->setStatus(QStringLiteral("Image encoded.  Left-click = positive  |  Right-click = negative"));
    sideToolBar->setTool(int(Tool::Select));
    canvas->setTool(int(Tool::Select));
    canvas->enterSamMode();
    statusBar()->showMessage(
        QStringLiteral("SAM ready — left-click: positive prompt   right-click: negative prompt   Esc: exit"), 8000);
}

void MainWindow::handleSamPromptsChanged(const QList<QPointF> &positive, const QList<QPointF> &negative)
{
    if (!samInferencer.imageEncoded() || !samInferencer.decoderReady())
        return;
    if (positive.isEmpty() && negative.isEmpty())
        return;
    if (!isStillShown(samEncodedImage)) {
        canvas->exitSamMode();
        aiSegDialog->setAcceptEnabled(false);
        aiSegDialog->setStatus(imageChangedText);
        return;
    }

    const QList<QPointF> outline = samInferencer.decode(positive, negative);
    canvas->setSamResultPolygon(QPolygonF(outline));
    aiSegDialog->setAcceptEnabled(!outline.isEmpty());
    if (!outline.isEmpty()) {
        aiSegDialog->setStatus(
            QStringLiteral("Preview ready (%1 pts).  Click Accept to keep, or add more prompts.").arg(outline.size()));
    } else if (!samInferencer.lastError().isEmpty()) {
        aiSegDialog->setStatus(QStringLiteral("Decoding failed: ") + samInferencer.lastError());
    } else {
        aiSegDialog->setStatus(QStringLiteral("No mask found — try adding more positive prompts."));
    }
}

void MainWindow::onSamAccept()
{
    aiSegDialog->setAcceptEnabled(false);
    if (samInferencer.imageEncoded() && !isStillShown(samEncodedImage)) {
        aiSegDialog->setStatus(imageChangedText);
        return;
    }
    canvas->commitSamResult();
    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    aiSegDialog->setStatus(
        QStringLiteral("Segment accepted.  Click more prompts for the next object, or click Clear."));
    statusBar()->showMessage(QStringLiteral("SAM segment accepted."), 3000);
}

void MainWindow::onSamClear()
{
    const bool encoded = samInferencer.imageEncoded() && isStillShown(samEncodedImage);
    if (encoded)
        canvas->enterSamMode();
    else if (canvas->isInSamMode())
        canvas->exitSamMode();
    aiSegDialog->setAcceptEnabled(false);
    aiSegDialog->setStatus(encoded ? QStringLiteral("Prompts cleared.  Click the image to place new prompts.")
                                   : QStringLiteral("Cleared.  Encode an image first."));
    statusBar()->showMessage(QStringLiteral("SAM prompts cleared."), 2000);
}

void MainWindow::leaveSamMode()
{
    if (!canvas->isInSamMode())
        return;
    canvas->exitSamMode();
    aiSegDialog->setAcceptEnabled(false);
    aiSegDialog->setStatus(QStringLiteral("SAM mode ended.  Click \"Encode Current Image\" to start again."));
    statusBar()->showMessage(QStringLiteral("SAM prompt mode ended."), 2000);
}

// --- Concept segmentation -------------------------------------------------------

void MainWindow::onSam3ModelsSelected()
{
    const QString encoderPath = sam3Dialog->visionEncoderPath();
    const QString decoderPath = sam3Dialog->decoderPath();
    const QString tokenizerPath = sam3Dialog->tokenizerPath();
    if (encoderPath.isEmpty() || decoderPath.isEmpty() || tokenizerPath.isEmpty()) {
        sam3Dialog->setStatus(QStringLiteral("Select vision encoder, decoder, and tokenizer to enable inference."));
        sam3Dialog->setEncodeEnabled(false);
        return;
    }
    // Every showing of the dialog names the same files again; large models are
    // not loaded twice.
    if (sam3Inferencer.modelsLoaded() &&
        sam3Inferencer.loadedPaths() == QStringList{encoderPath, decoderPath, tokenizerPath}) {
        return;
    }

    const QString what = QStringList{encoderPath, decoderPath, tokenizerPath}.join(QLatin1Char('\n'));
    if (sam3Load.loading() == what)
        return;
    sam3Dialog->setStatus(QStringLiteral("Loading models…"));
    sam3Dialog->setEncodeEnabled(false);
    sam3EncodedImage = {};
    sam3Load.startEngine<Sam3Inferencer>(
        what,
        [encoderPath, decoderPath, tokenizerPath](Sam3Inferencer &engine) {
            return engine.loadModels(encoderPath, decoderPath, tokenizerPath);
        },
        [this](Sam3Inferencer *engine, bool ok) { finishSam3ModelLoad(engine, ok); });
}

void MainWindow::finishSam3ModelLoad(Sam3Inferencer *engine, bool ok)
{
    if (engine)
        sam3Inferencer = std::move(*engine);
    sam3EncodedImage = {};
    if (!engine || !ok) {
        const QString reason = engine ? sam3Inferencer.lastError() : QStringLiteral("the ONNX runtime could not start");
        sam3Dialog->setStatus(QStringLiteral("Load failed: ") + reason);
        statusBar()->showMessage(QStringLiteral("SAM3: ") + reason, 5000);
        return;
    }
    // Encoding asks for an image when none is shown. Kept disabled until one is,
    // the button would stay so after the user opened one: nothing here learns
    // of it while the window is open.
    const bool imageShown = shownImageEntry() != nullptr;
    sam3Dialog->setEncodeEnabled(true);
    sam3Dialog->setStatus(imageShown ? QStringLiteral("Models loaded.  Click \"Encode Current Image\" to begin.")
                                     : QStringLiteral("Models loaded.  Open an image first."));
    statusBar()->showMessage(QStringLiteral("SAM3 models loaded."), 3000);
}

void MainWindow::showSam3Model()
{
    const bool ready = sam3Inferencer.modelsLoaded();
    sam3Dialog->setEncodeEnabled(ready);
    sam3Dialog->setStatus(ready ? QStringLiteral("Models loaded.  Click \"Encode Current Image\" to begin.")
                                : QStringLiteral("Model loading cancelled."));
}

void MainWindow::onSam3Encode()
{
    SegmentedImage target;
    const QImage image =
        pixelsToEncode(sam3Title, sam3Inferencer.modelsLoaded(), QStringLiteral("Load all SAM3 models first."),
                       QStringLiteral("Cannot read the current image."), target);
    if (image.isNull())
        return;

    sam3Dialog->setStatus(QStringLiteral("Encoding image…  (this may take a few seconds)"));
    sam3Dialog->setEncodeEnabled(false);
    sam3Dialog->setDetectEnabled(false);
    sam3Dialog->clearDetections();
    sam3Results.clear();
    sam3Outlines.clear();
    sam3ResultsImage = {};
    QCoreApplication::processEvents();

    sam3EncodedImage = {};
    const bool ok = sam3Inferencer.encodeImage(image);
    sam3Dialog->setEncodeEnabled(true);
    if (!ok) {
        sam3Dialog->setStatus(QStringLiteral("Encoding failed: ") + sam3Inferencer.lastError());
        return;
    }
    sam3EncodedImage = target;
    sam3Dialog->setDetectEnabled(true);
    sam3Dialog->setStatus(QStringLiteral("Image encoded.  Type a concept prompt and click Detect."));
    statusBar()->showMessage(QStringLiteral("SAM3: image encoded — ready to detect."), 4000);
}

void MainWindow::onSam3Detect(const QString &text, float presThr, float maskThr)
{
    if (!sam3Inferencer.imageEncoded()) {
        sam3Dialog->setStatus(QStringLiteral("Encode an image first."));
        return;
    }
    if (!isStillShown(sam3EncodedImage)) {
        sam3Dialog->setStatus(imageChangedText);
        return;
    }
    const QString prompt = text.trimmed();
    if (prompt.isEmpty()) {
        sam3Dialog->setStatus(QStringLiteral("Enter a concept prompt (e.g. \"person\", \"yellow bus\")."));
        return;
    }

    canvas->clearPreviewPolygons();
    sam3Dialog->setStatus(QStringLiteral("Detecting \"%1\"…").arg(prompt));
    sam3Dialog->setDetectEnabled(false);
    QCoreApplication::processEvents();
    sam3Results = sam3Inferencer.detect(prompt, presThr, maskThr);
    sam3ResultsImage = sam3EncodedImage;
    sam3Outlines.clear();
    sam3Dialog->setDetectEnabled(true);
    sam3Dialog->setDetections(sam3Results);

    if (!sam3Results.isEmpty()) {
        sam3Dialog->setStatus(QStringLiteral("%1 detection(s) found.  Select instances and click Accept Selected.")
                                  .arg(sam3Results.size()));
        statusBar()->showMessage(
            QStringLiteral("SAM3: %1 detection(s) for \"%2\".").arg(sam3Results.size()).arg(prompt), 4000);
    } else if (!sam3Inferencer.lastError().isEmpty()) {
        // A failure is not "nothing found".
        sam3Dialog->setStatus(QStringLiteral("Detection failed: ") + sam3Inferencer.lastError());
        statusBar()->showMessage(QStringLiteral("SAM3: ") + sam3Inferencer.lastError(), 5000);
    } else {
        sam3Dialog->setStatus(
            QStringLiteral("No detections above threshold %1 for \"%2\".").arg(double(presThr), 0, 'f', 2).arg(prompt));
        statusBar()->showMessage(QStringLiteral("SAM3: no detections found."), 3000);
    }
}

QPolygonF MainWindow::conceptOutline(int index)
{
    const auto cached = sam3Outlines.constFind(index);
    if (cached != sam3Outlines.constEnd())
        return *cached;
    const QPolygonF outline(maskToPolygon(sam3Results.at(index).fullMask(), 2.0));
    sam3Outlines.insert(index, outline);
    return outline;
}

void MainWindow::onSam3Preview(const QList<int> &indices)
{
    if (indices.isEmpty() || !isStillShown(sam3ResultsImage)) {
        canvas->clearPreviewPolygons();
        return;
    }
    QList<QPolygonF> outlines;
    for (int index : indices) {
        if (index < 0 || index >= sam3Results.size())
            continue;
        const QPolygonF outline = conceptOutline(index);
        if (!outline.isEmpty())
            outlines.append(outline);
    }
    canvas->setPreviewPolygons(outlines);
}

void MainWindow::onSam3Accept(const QList<int> &indices)
{
    const ImageEntry *entry = shownImageEntry();
    if (sam3Results.isEmpty()) {
        sam3Dialog->setStatus(QStringLiteral("No detections to accept.  Encode the current image and detect first."));
        return;
    }
    if (indices.isEmpty() || !entry)
        return;
    if (!isStillShown(sam3ResultsImage)) {
        sam3Dialog->setStatus(QStringLiteral("These detections belong to another image.  Encode the current image "
                                             "and detect again."));
        return;
    }
    QString className = canvas->currentClassName();
    if (className.isEmpty())
        className = QStringLiteral("object");
    const QSize imageSize = sam3Results.constFirst().imageSize();

    int accepted = 0;
    for (int index : indices) {
        if (index < 0 || index >= sam3Results.size())
            continue;
        const QPolygonF outline = conceptOutline(index);
        if (outline.isEmpty())
            continue;
        const Sam3Detection &detection = sam3Results.at(index);
        Annotation annotation;
        annotation.className = className;
        annotation.kind = Polygon;
        annotation.bbox = annotationBox(detection.box, outline, imageSize);
        annotation.points = outline;
        annotation.confidence = detection.score;
        canvas->addDetection(annotation);
        ++accepted;
    }
    project.dataset.syncClassesFromAnnotations();
    pushClassColors();
    sam3Dialog->setStatus(
        QStringLiteral("%1 segment(s) accepted.  Continue detecting or close the dialog.").arg(accepted));
    statusBar()->showMessage(QStringLiteral("SAM3: %1 segment(s) added.").arg(accepted), 3000);
}

void MainWindow::forgetSegmentationResults()
{
    const bool heldAnything = samInferencer.imageEncoded() || sam3Inferencer.imageEncoded() || !sam3Results.isEmpty();
    samInferencer.forgetImage();
    sam3Inferencer.forgetImage();
    samEncodedImage = {};
    sam3EncodedImage = {};
    sam3Results.clear();
    sam3Outlines.clear();
    sam3ResultsImage = {};
    if (canvas->isInSamMode())
        canvas->exitSamMode();
    canvas->clearPreviewPolygons();
    aiSegDialog->setAcceptEnabled(false);
    sam3Dialog->clearDetections();
    sam3Dialog->setDetectEnabled(false);
    if (!heldAnything)
        return;
    const QString why = QStringLiteral("The project changed: encodings and detections were cleared.  "
                                       "Encode the current image to begin again.");
    aiSegDialog->setStatus(why);
    sam3Dialog->setStatus(why);
}

void MainWindow::onSam3Clear()
{
    canvas->clearPreviewPolygons();
    sam3Dialog->clearDetections();
    sam3Results.clear();
    sam3Outlines.clear();
    sam3ResultsImage = {};
    const bool encoded = sam3Inferencer.imageEncoded() && isStillShown(sam3EncodedImage);
    sam3Dialog->setStatus(encoded ? QStringLiteral("Detections cleared.  Type a new prompt and click Detect.")
                                  : QStringLiteral("Cleared.  Encode an image first."));
    statusBar()->showMessage(QStringLiteral("SAM3 detections cleared."), 2000);
}

} // namespace Quillmark
