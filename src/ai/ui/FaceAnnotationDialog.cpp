#include "ai/ui/FaceAnnotationDialog.h"

#include "ai/ui/AiDialogParts.h"
#include "ai/ModelsFolder.h"
#include "ai/ui/ModelsFolderDialog.h"
#include "dialogs/Prompts.h"
#include "model/SettingsStores.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

QSettings programSettings()
{
    return SettingsStores::productStore();
}

// The face models of a folder: all of a folder named "face", else only the
// files that say so in their name.
QFileInfoList faceModels(const QString &folder)
{
    const bool faceFolder = folder.endsWith(QLatin1String("/face")) || folder.endsWith(QLatin1String("\\face"));
    const QStringList filters = faceFolder ? QStringList{QStringLiteral("*.onnx")}
                                           : QStringList{QStringLiteral("*face*.onnx"), QStringLiteral("*Face*.onnx")};
    return QDir(folder).entryInfoList(filters, QDir::Files | QDir::CaseSensitive, QDir::Name);
}

QString faceRow(int index, const FaceDetection &face)
{
    return QStringLiteral("Face #%1  —  conf: %2  •  %3")
        .arg(index + 1)
        .arg(double(face.score), 0, 'f', 2)
        .arg(face.hasLandmarks ? QStringLiteral("5 landmarks") : QStringLiteral("bbox only"));
}

} // namespace

FaceAnnotationDialog::FaceAnnotationDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Face Detection"));
    setMinimumWidthFloor(this, 300);
    keepWrappedTextsWhole(this);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto *modelGroup = new QGroupBox(QStringLiteral("Model  (yolov8?-face.onnx)"), this);
    auto *modelLayout = new QVBoxLayout(modelGroup);
    auto *modelRow = new QHBoxLayout;
    modelCombo = modelListCombo(modelGroup);
    browseButton = new QPushButton(QStringLiteral("Browse…"), modelGroup);
    browseButton->setFixedWidth(72);
    // The narrow button keeps its whole label with less side padding.
    browseButton->setStyleSheet(QStringLiteral("QPushButton { padding-left: 4px; padding-right: 4px; }"));
    modelRow->addWidget(modelCombo, 1);
    modelRow->addWidget(browseButton);
    modelLayout->addLayout(modelRow);
    infoLabel = new QLabel(QStringLiteral("Select a model."), modelGroup);
    infoLabel->setObjectName(QStringLiteral("mutedLabel"));
    infoLabel->setWordWrap(true);
    modelLayout->addWidget(infoLabel);
    layout->addWidget(modelGroup);

    auto *thresholds = new QGroupBox(QStringLiteral("Thresholds"), this);
    auto *form = new QFormLayout(thresholds);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    confidenceSpin = thresholdSpin(0.05, 0.95, 0.35, thresholds);
    iouSpin = thresholdSpin(0.10, 0.90, 0.45, thresholds);
    form->addRow(QStringLiteral("Confidence:"), confidenceSpin);
    form->addRow(QStringLiteral("IoU (NMS):"), iouSpin);
    layout->addWidget(thresholds);

    auto *facesGroup = new QGroupBox(QStringLiteral("Detected Faces"), this);
    auto *facesLayout = new QVBoxLayout(facesGroup);
    faceList = new QListWidget(facesGroup);
    faceList->setFrameShape(QFrame::NoFrame);
    faceList->setSelectionMode(QAbstractItemView::NoSelection);
    faceList->setFixedHeight(100);
    facesLayout->addWidget(faceList);
    layout->addWidget(facesGroup);

    progressBar = new QProgressBar(this);
    progressBar->setFixedHeight(14);
    progressBar->setTextVisible(true);
    progressBar->hide();
    layout->addWidget(progressBar);

    auto *runRow = new QHBoxLayout;
    runCurrentButton = new QPushButton(QStringLiteral("Run Current"), this);
    runAllButton = new QPushButton(QStringLiteral("Run All"), this);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->hide();
    runRow->addWidget(runCurrentButton);
    runRow->addWidget(runAllButton);
    runRow->addWidget(cancelButton);
    layout->addLayout(runRow);

    auto *reviewRow = new QHBoxLayout;
    acceptButton = new QPushButton(QStringLiteral("Accept"), this);
    clearButton = new QPushButton(QStringLiteral("Clear"), this);
    reviewRow->addWidget(acceptButton);
    reviewRow->addWidget(clearButton);
    layout->addLayout(reviewRow);
    updateButtons();

    connect(modelCombo, &QComboBox::activated, this, &FaceAnnotationDialog::onModelActivated);
    connect(browseButton, &QPushButton::clicked, this, &FaceAnnotationDialog::browseForModel);
    connect(runCurrentButton, &QPushButton::clicked, this, &FaceAnnotationDialog::runCurrentRequested);
    connect(runAllButton, &QPushButton::clicked, this, &FaceAnnotationDialog::runAllRequested);
    connect(cancelButton, &QPushButton::clicked, this, &FaceAnnotationDialog::cancelRequested);
    connect(acceptButton, &QPushButton::clicked, this, &FaceAnnotationDialog::acceptRequested);
    connect(clearButton, &QPushButton::clicked, this, &FaceAnnotationDialog::clearRequested);
}

float FaceAnnotationDialog::confidence() const
{
    return float(confidenceSpin->value());
}

float FaceAnnotationDialog::iouThreshold() const
{
    return float(iouSpin->value());
}

void FaceAnnotationDialog::setLoadedPath(const QString &path)
{
    loaded = path;
    if (!loaded.isEmpty())
        selectModel(loaded);
}

void FaceAnnotationDialog::setModelReady(bool ok, const QString &info)
{
    modelReady = ok;
    infoLabel->setText(ok && info.isEmpty() ? QStringLiteral("✓ Model loaded.") : info);
    updateButtons();
}

void FaceAnnotationDialog::setProgress(int current, int total)
{
    showRunProgress(progressBar, current, total);
}

void FaceAnnotationDialog::setRunning(bool isRunning)
{
    running = isRunning;
    updateButtons();
}

void FaceAnnotationDialog::setFaces(const QList<FaceDetection> &faces)
{
    faceList->clear();
    for (qsizetype i = 0; i < faces.size(); ++i)
        faceList->addItem(faceRow(int(i), faces[i]));
    updateButtons();
}

void FaceAnnotationDialog::clearFaces()
{
    faceList->clear();
    updateButtons();
}

void FaceAnnotationDialog::updateButtons()
{
    runCurrentButton->setEnabled(modelReady && !running);
    runAllButton->setEnabled(modelReady && !running);
    acceptButton->setEnabled(!running && faceList->count() > 0);
    cancelButton->setVisible(running);
    // No other model while one runs.
    modelCombo->setEnabled(!running);
    browseButton->setEnabled(!running);
    fitMinimumWidth(this);
}

// Makes `path` the combo's current item, adding it when it lies outside the
// listed folder.
void FaceAnnotationDialog::selectModel(const QString &path)
{
    const QSignalBlocker blocker(modelCombo);
    int index = modelCombo->findData(path);
    if (index < 0) {
        modelCombo->addItem(QFileInfo(path).fileName(), path);
        index = modelCombo->count() - 1;
        growWindowToFit(this);
    }
    modelCombo->setCurrentIndex(index);
}

void FaceAnnotationDialog::rescanModels()
{
    const QString folder = resolveModelsDir(QStringLiteral("face"));
    if (folder.isEmpty())
        return;
    {
        const QSignalBlocker blocker(modelCombo);
        modelCombo->clear();
        for (const QFileInfo &file : faceModels(folder))
            addModelItem(modelCombo, file);
    }
    growWindowToFit(this);
    if (!loaded.isEmpty()) {
        selectModel(loaded);
        return;
    }
    // Nothing loaded yet: the first model found loads by itself.
    if (modelCombo->count() > 0 && !modelCombo->itemData(0).toString().isEmpty())
        emit modelSelected(modelCombo->itemData(0).toString());
}

void FaceAnnotationDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    rescanModels();
}

void FaceAnnotationDialog::onModelActivated(int index)
{
    const QString path = modelCombo->itemData(index).toString();
    if (!path.isEmpty())
        emit modelSelected(path);
}

void FaceAnnotationDialog::browseForModel()
{
    QSettings settings = programSettings();
    const QString start = settings.value(QStringLiteral("lastModelDir"), resolveModelsDir()).toString();
    const QString path = Prompts::current().getOpenFileName(this, QStringLiteral("Select Face Model"), start,
                                                            QStringLiteral("ONNX Models (*.onnx)"));
    if (path.isEmpty())
        return;
    settings.setValue(QStringLiteral("lastModelDir"), QFileInfo(path).absolutePath());
    selectModel(path);
    emit modelSelected(path);
}

} // namespace Quillmark
