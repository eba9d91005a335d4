#include "ai/ui/AiAutoLabelDialog.h"

#include "ai/ui/AiDialogParts.h"
#include "ai/ModelsFolder.h"
#include "ai/ui/ModelsFolderDialog.h"

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

// Models of other tools share the folder; they are never offered here. The
// point-prompt and concept models lie in "segmentation" by default.
bool isOtherToolsModel(const QString &lowerName)
{
    for (const char *word : {"pose", "face", "encoder", "decoder"}) {
        if (lowerName.contains(QLatin1String(word)))
            return true;
    }
    return isPromptSegmentationModelName(lowerName);
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
    setMinimumWidthFloor(this, 420);
    keepWrappedTextsWhole(this);
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
    modelCombo = modelListCombo(modelGroup);
    modelCombo->setToolTip(QStringLiteral("ONNX models in the models/ directory"));
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
    confSpin = thresholdSpin(0.05, 0.95, 0.25, thresholds);
    iouSpin = thresholdSpin(0.10, 0.90, 0.45, thresholds);
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
    showRunProgress(progress, current, total);
}

void AiAutoLabelDialog::setRunning(bool isRunning)
{
    running = isRunning;
    cancelButton->setVisible(running);
    // No other model while one runs.
    modelGroup->setEnabled(!running);
    updateRunButtons();
    fitMinimumWidth(this);
}

void AiAutoLabelDialog::setDetectionMode(bool simple)
{
    const bool changed = simple != simpleMode;
    simpleMode = simple;
    modelGroup->setVisible(!simple);
    updateRunButtons();
    if (changed)
        fitHeight();
}

void AiAutoLabelDialog::updateRunButtons()
{
    const bool enabled = !running && !loaded.isEmpty();
    runCurrentButton->setEnabled(enabled);
    runAllButton->setEnabled(enabled);
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

bool AiAutoLabelDialog::listsModels() const
{
    for (int i = 0; i < modelCombo->count(); ++i) {
        if (!modelCombo->itemData(i).toString().isEmpty())
            return true;
    }
    return false;
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

        int current = loaded.isEmpty() ? -1 : modelCombo->findData(loaded);
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
    if (hasSegTab) {
        tabs->setTabVisible(1, seg);
        // A hidden tab still counts in the tab widget's minimum size: the
        // dialog would keep the click-segmentation panel's height as empty
        // space below the run buttons.
        tabs->widget(1)->setSizePolicy(seg ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                           : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    tabs->tabBar()->setVisible(seg && hasSegTab);
    if (!seg)
        tabs->setCurrentIndex(0);
    fitHeight();
}

void AiAutoLabelDialog::fitHeight()
{
    // Once the layouts have taken in what was shown or hidden; a hidden dialog
    // when it shows again.
    heightStale = true;
    if (!isVisible())
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!heightStale || !isVisible())
                return;
            heightStale = false;
            resize(width(), sizeHint().height());
        },
        Qt::QueuedConnection);
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
    growWindowToFit(this);
}

void AiAutoLabelDialog::showEvent(QShowEvent *event)
{
    rescanAndFit();
    QDialog::showEvent(event);
    if (heightStale)
        fitHeight();
}

void AiAutoLabelDialog::hideEvent(QHideEvent *event)
{
    emit samPanelDeactivated();
    QDialog::hideEvent(event);
}

} // namespace Quillmark
