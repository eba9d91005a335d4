#include "ai/AiAutoLabelDialog.h"

#include "ai/ModelsFolder.h"
#include "ai/ModelsFolderDialog.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

const QString placeholderText = QStringLiteral("— no compatible ONNX models found in models/ —");

bool isSegmentationType(const QString &type)
{
    return type == QLatin1String("segmentation") || type == QLatin1String("semantic_segmentation");
}

QString modelSubfolder(const QString &type)
{
    if (type == QLatin1String("object_detection"))
        return QStringLiteral("detection");
    if (isSegmentationType(type))
        return QStringLiteral("segmentation");
    return {};
}

// Models of other tools share the folder; they are never offered here.
bool isOtherToolsModel(const QString &lowerName)
{
    for (const char *word : {"pose", "face", "encoder", "decoder"}) {
        if (lowerName.contains(QLatin1String(word)))
            return true;
    }
    return false;
}

struct ModelLists {
    QFileInfoList primary;
    QFileInfoList secondary;
};

// The folder's models for a project type: detection projects put detectors
// first, segmentation projects segmentation models ("seg" in the name).
ModelLists listModels(const QString &folder, const QString &type)
{
    ModelLists lists;
    if (folder.isEmpty())
        return lists;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.onnx")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString lower = file.fileName().toLower();
        if (isOtherToolsModel(lower))
            continue;
        const bool seg = lower.contains(QLatin1String("seg"));
        bool primary = true;
        if (type == QLatin1String("object_detection"))
            primary = !seg;
        else if (isSegmentationType(type))
            primary = seg;
        (primary ? lists.primary : lists.secondary).append(file);
    }
    return lists;
}

} // namespace

AiAutoLabelDialog::AiAutoLabelDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("AI Auto-Label"));
    setMinimumWidth(420);
    setWindowFlags(windowFlags() | Qt::Tool);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    tabs = new QTabWidget(this);
    tabs->addTab(buildAutoLabelPage(), QStringLiteral("Auto Segmentation"));
    tabs->tabBar()->hide();
    layout->addWidget(tabs);

    auto *bottom = new QHBoxLayout;
    samButton = new QPushButton(QStringLiteral("SAM Segmentation…"), this);
    sam3Button = new QPushButton(QStringLiteral("SAM3 Concepts…"), this);
    samButton->hide();
    sam3Button->hide();
    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    bottom->addWidget(samButton);
    bottom->addWidget(sam3Button);
    bottom->addStretch();
    bottom->addWidget(closeButton);
    layout->addLayout(bottom);

    connect(samButton, &QPushButton::clicked, this, &AiAutoLabelDialog::samRequested);
    connect(sam3Button, &QPushButton::clicked, this, &AiAutoLabelDialog::sam3Requested);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);
}

QWidget *AiAutoLabelDialog::buildAutoLabelPage()
{
    auto *page = new QWidget(tabs);
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(10);

    modelGroup = new QGroupBox(QStringLiteral("Model"), page);
    auto *modelLayout = new QVBoxLayout(modelGroup);
    auto *modelRow = new QHBoxLayout;
    modelCombo = new QComboBox(modelGroup);
    modelCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    modelCombo->setToolTip(QStringLiteral("ONNX models in the models/ directory"));
    // Model names (and the placeholder) are shown whole; the dialog widens.
    modelCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *rescanButton = modelListButton(QStringLiteral("↺"), QStringLiteral("Modelleri yeniden tara"), modelGroup);
    auto *folderButton = modelListButton(QStringLiteral("…"), QStringLiteral("Models klasörünü seç"), modelGroup);
    modelRow->addWidget(modelCombo);
    modelRow->addWidget(rescanButton);
    modelRow->addWidget(folderButton);
    modelLayout->addLayout(modelRow);
    typeLabel = new QLabel(modelGroup);
    typeLabel->setObjectName(QStringLiteral("mutedLabel"));
    typeLabel->hide();
    modelLayout->addWidget(typeLabel);
    layout->addWidget(modelGroup);

    auto *thresholds = new QGroupBox(QStringLiteral("Thresholds"), page);
    auto *form = new QFormLayout(thresholds);
    form->setLabelAlignment(Qt::AlignRight);
    confSpin = new QDoubleSpinBox(thresholds);
    confSpin->setRange(0.05, 0.95);
    confSpin->setSingleStep(0.05);
    confSpin->setDecimals(2);
    confSpin->setValue(0.25);
    iouSpin = new QDoubleSpinBox(thresholds);
    iouSpin->setRange(0.10, 0.90);
    iouSpin->setSingleStep(0.05);
    iouSpin->setDecimals(2);
    iouSpin->setValue(0.45);
    form->addRow(QStringLiteral("Confidence:"), confSpin);
    form->addRow(QStringLiteral("NMS IoU:"), iouSpin);
    layout->addWidget(thresholds);

    progress = new QProgressBar(page);
    progress->hide();
    layout->addWidget(progress);

    auto *runRow = new QHBoxLayout;
    runCurrentButton = new QPushButton(QStringLiteral("Run on Current Image"), page);
    runAllButton = new QPushButton(QStringLiteral("Run on All Images"), page);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), page);
    runCurrentButton->setEnabled(false);
    runAllButton->setEnabled(false);
    cancelButton->hide();
    runRow->addWidget(runCurrentButton);
    runRow->addWidget(runAllButton);
    runRow->addWidget(cancelButton);
    runRow->addStretch();
    layout->addLayout(runRow);
    layout->addStretch();

    connect(rescanButton, &QPushButton::clicked, this, &AiAutoLabelDialog::rescanAndFit);
    connect(folderButton, &QPushButton::clicked, this, &AiAutoLabelDialog::chooseModelsFolder);
    connect(modelCombo, &QComboBox::activated, this, &AiAutoLabelDialog::onModelActivated);
    connect(runCurrentButton, &QPushButton::clicked, this, &AiAutoLabelDialog::runCurrentRequested);
    connect(runAllButton, &QPushButton::clicked, this, &AiAutoLabelDialog::runAllRequested);
    connect(cancelButton, &QPushButton::clicked, this, &AiAutoLabelDialog::cancelRequested);
    return page;
}

float AiAutoLabelDialog::confidence() const
{
    return float(confSpin->value());
}

float AiAutoLabelDialog::iouThreshold() const
{
    return float(iouSpin->value());
}

void AiAutoLabelDialog::setProjectType(const QString &projectType)
{
    if (projectType == type)
        return;
    type = projectType;
    if (type == QLatin1String("object_detection"))
        setWindowTitle(QStringLiteral("AI Detection"));
    else if (isSegmentationType(type))
        setWindowTitle(QStringLiteral("AI Segmentation"));
    else
        setWindowTitle(QStringLiteral("AI Auto-Label"));
    updateSegmentationTab();
    loaded.clear();
    typeLabel->hide();
    updateRunButtons();
    // A hidden dialog lists the models when it is shown; announcing a model now
    // would load it while the user is only opening a project.
    if (isVisible())
        rescanAndFit();
}

void AiAutoLabelDialog::setModelType(bool isSeg)
{
    typeLabel->setText(isSeg ? QStringLiteral("Type: Segmentation (YOLOv8-Seg)")
                             : QStringLiteral("Type: Detection (YOLOv8-Det)"));
    typeLabel->show();
    updateRunButtons();
}

void AiAutoLabelDialog::setLoadedPath(const QString &path)
{
    loaded = path;
    if (loaded.isEmpty())
        typeLabel->hide();
    updateRunButtons();
}

void AiAutoLabelDialog::setProgress(int current, int total)
{
    if (total < 1) {
        progress->hide();
        return;
    }
    progress->setRange(0, total);
    progress->setValue(current);
    progress->show();
}

void AiAutoLabelDialog::setRunning(bool isRunning)
{
    running = isRunning;
    cancelButton->setVisible(running);
    // No other model while one runs.
    modelGroup->setEnabled(!running);
    updateRunButtons();
}

void AiAutoLabelDialog::setDetectionMode(bool simple)
{
    simpleMode = simple;
    modelGroup->setVisible(!simple);
    updateRunButtons();
}

void AiAutoLabelDialog::updateRunButtons()
{
    const bool enabled = !running && !loaded.isEmpty();
    runCurrentButton->setEnabled(enabled);
    runAllButton->setEnabled(enabled);
}

int AiAutoLabelDialog::indexOfPath(const QString &path) const
{
    if (path.isEmpty())
        return -1;
    for (int i = 0; i < modelCombo->count(); ++i) {
        if (modelCombo->itemData(i).toString() == path)
            return i;
    }
    return -1;
}

int AiAutoLabelDialog::addLoadedModelItem()
{
    const QFileInfo file(loaded);
    if (modelCombo->count() == 1 && modelCombo->itemData(0).toString().isEmpty())
        modelCombo->clear(); // the placeholder
    else if (modelCombo->count() > 0)
        modelCombo->insertSeparator(modelCombo->count());
    modelCombo->addItem(file.fileName() + fileSizeSuffix(file.size()), loaded);
    return modelCombo->count() - 1;
}

void AiAutoLabelDialog::rescanModels()
{
    {
        const QSignalBlocker blocker(modelCombo);
        modelCombo->clear();
        const ModelLists lists = listModels(resolveModelsDir(modelSubfolder(type)), type);
        for (const QFileInfo &file : lists.primary)
            addModelItem(modelCombo, file);
        if (!lists.secondary.isEmpty() && modelCombo->count() > 0)
            modelCombo->insertSeparator(modelCombo->count());
        for (const QFileInfo &file : lists.secondary)
            addModelItem(modelCombo, file);
        if (modelCombo->count() == 0)
            modelCombo->addItem(placeholderText);

        int current = indexOfPath(loaded);
        // The model configured in Settings stays the one shown, wherever it lies.
        if (current < 0 && simpleMode && !loaded.isEmpty())
            current = addLoadedModelItem();
        if (current >= 0) {
            modelCombo->setCurrentIndex(current);
            return;
        }
    }
    const QString first = modelCombo->itemData(0).toString();
    if (first.isEmpty())
        return; // the placeholder
    modelCombo->setCurrentIndex(0);
    // In simple mode the model comes from Settings, and no model is swapped
    // under a running job.
    if (simpleMode || running)
        return;
    emit modelSelected(first);
}

void AiAutoLabelDialog::onModelActivated(int index)
{
    const QString path = modelCombo->itemData(index).toString();
    if (path.isEmpty())
        return;
    loaded.clear();
    typeLabel->hide();
    updateRunButtons();
    emit modelSelected(path);
}

void AiAutoLabelDialog::chooseModelsFolder()
{
    if (Quillmark::chooseModelsFolder(this, QStringLiteral("Models Klasörünü Seç")))
        rescanAndFit();
}

void AiAutoLabelDialog::updateSegmentationTab()
{
    const bool seg = isSegmentationType(type);
    const bool hasSegTab = tabs->count() >= 2;
    if (hasSegTab)
        tabs->setTabVisible(1, seg);
    tabs->tabBar()->setVisible(seg && hasSegTab);
    if (!seg)
        tabs->setCurrentIndex(0);
}

void AiAutoLabelDialog::addSegmentationTab(QWidget *panel)
{
    tabs->addTab(panel, QStringLiteral("Click Segmentation"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index != 1)
            emit samPanelDeactivated();
    });
    updateSegmentationTab();
}

void AiAutoLabelDialog::showSegmentationTab()
{
    if (tabs->count() >= 2 && tabs->isTabVisible(1))
        tabs->setCurrentIndex(1);
}

void AiAutoLabelDialog::rescanAndFit()
{
    rescanModels();
    // Wide enough for the longest name listed, once the layouts have taken in
    // the new items.
    QMetaObject::invokeMethod(
        this, [this] { resize(size().expandedTo(sizeHint())); }, Qt::QueuedConnection);
}

void AiAutoLabelDialog::showEvent(QShowEvent *event)
{
    rescanAndFit();
    QDialog::showEvent(event);
}

void AiAutoLabelDialog::hideEvent(QHideEvent *event)
{
    emit samPanelDeactivated();
    QDialog::hideEvent(event);
}

} // namespace Quillmark
