#include "ai/ui/AiSegDialog.h"

#include "ai/ui/AiDialogParts.h"

#include "ai/ModelsFolder.h"
#include "ai/ui/ModelsFolderDialog.h"
#include "model/SettingsStores.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

// A single-file point-prompt model: no concept model ("sam3") and no half of a
// split encoder/decoder pair.
bool isSingleFileSamModel(const QString &fileName)
{
    const QString name = fileName.toLower();
    return isPromptSegmentationModelName(name) && !name.contains(QLatin1String("sam3")) &&
           !name.contains(QLatin1String("encoder")) && !name.contains(QLatin1String("decoder"));
}

} // namespace

AiSegDialog::AiSegDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("SAM Segmentation"));
    setMinimumWidthFloor(this, 460);
    keepWrappedTextsWhole(this);
    setWindowFlags(windowFlags() | Qt::Tool);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto *modelGroup = new QGroupBox(QStringLiteral("SAM Model"), this);
    auto *modelRow = new QHBoxLayout(modelGroup);
    modelCombo = modelListCombo(modelGroup);
    auto *rescanButton = modelListButton(QStringLiteral("↺"), QStringLiteral("Yenile"), modelGroup);
    auto *folderButton = modelListButton(QStringLiteral("…"), QStringLiteral("Models klasörünü seç"), modelGroup);
    modelRow->addWidget(modelCombo, 1);
    modelRow->addWidget(rescanButton);
    modelRow->addWidget(folderButton);
    layout->addWidget(modelGroup);

    encodeButton = new QPushButton(QStringLiteral("Encode Current Image"), this);
    encodeButton->setEnabled(false);
    cancelLoadButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelLoadButton->hide();
    auto *encodeRow = new QHBoxLayout;
    encodeRow->addWidget(encodeButton, 1);
    encodeRow->addWidget(cancelLoadButton);
    layout->addLayout(encodeRow);
    connect(cancelLoadButton, &QPushButton::clicked, this, &AiSegDialog::cancelLoadRequested);

    statusLabel = new QLabel(QStringLiteral("Select a SAM model."), this);
    statusLabel->setObjectName(QStringLiteral("mutedLabel"));
    statusLabel->setWordWrap(true);
    layout->addWidget(statusLabel);

    auto *usage = new QLabel(
        QStringLiteral("<b>Kullanım:</b>  Encode sonrası canvas'a tıklayın.<br>  "
                       "<span style='color:#22cc44;'>&#9679;</span> <b>Sol tık</b> = pozitif prompt&nbsp;&nbsp;  "
                       "<span style='color:#ff4444;'>&#9679;</span> <b>Sağ tık</b> = negatif prompt<br>  "
                       "Maske önizlemesi otomatik güncellenir.  <b>Accept</b> ile kaydedin."),
        this);
    usage->setTextFormat(Qt::RichText);
    usage->setWordWrap(true);
    layout->addWidget(usage);
    layout->addStretch();

    auto *buttons = new QHBoxLayout;
    acceptButton = new QPushButton(QStringLiteral("Accept"), this);
    acceptButton->setEnabled(false);
    clearButton = new QPushButton(QStringLiteral("Clear Prompts"), this);
    auto *conceptButton = new QPushButton(QStringLiteral("SAM3 Concepts…"), this);
    conceptButton->setToolTip(QStringLiteral("Segment every instance of a concept named in text"));
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(acceptButton);
    buttons->addWidget(clearButton);
    buttons->addStretch();
    buttons->addWidget(conceptButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    // Return and Enter click nothing here: the panel's buttons start work.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);

    connect(rescanButton, &QPushButton::clicked, this, &AiSegDialog::refreshModels);
    connect(folderButton, &QPushButton::clicked, this, [this] {
        if (chooseModelsFolder(this, QStringLiteral("Models Klasörünü Seç")))
            refreshModels();
    });
    connect(modelCombo, &QComboBox::activated, this, [this](int index) {
        const QString path = modelCombo->itemData(index).toString();
        if (!path.isEmpty())
            emit encoderSelected(path);
    });
    connect(encodeButton, &QPushButton::clicked, this, &AiSegDialog::encodeRequested);
    connect(acceptButton, &QPushButton::clicked, this, &AiSegDialog::acceptRequested);
    connect(clearButton, &QPushButton::clicked, this, &AiSegDialog::clearRequested);
    connect(conceptButton, &QPushButton::clicked, this, &AiSegDialog::conceptRequested);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::hide);
}

void AiSegDialog::setEmbedded(bool embedded)
{
    closeButton->setVisible(!embedded);
    if (embedded)
        setWindowFlags(Qt::Widget);
}

QString AiSegDialog::currentModelPath() const
{
    return modelCombo->currentData().toString();
}

void AiSegDialog::setStatus(const QString &msg)
{
    statusLabel->setText(msg);
}

void AiSegDialog::setLoading(bool loading)
{
    cancelLoadButton->setVisible(loading);
    fitMinimumWidth(window());
}

void AiSegDialog::setEncodeEnabled(bool enabled)
{
    encodeButton->setEnabled(enabled);
}

void AiSegDialog::setAcceptEnabled(bool enabled)
{
    acceptButton->setEnabled(enabled);
}

void AiSegDialog::showEvent(QShowEvent *event)
{
    refreshModels();
    QDialog::showEvent(event);
}

void AiSegDialog::refreshModels()
{
    const QString folder = resolveModelsDir(QStringLiteral("segmentation"));
    const QString previous = modelCombo->currentData().toString();
    const bool firstChoice = previous.isEmpty();
    modelCombo->blockSignals(true);
    modelCombo->clear();
    bool found = false;

    if (!folder.isEmpty()) {
        const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.onnx")}, QDir::Files, QDir::Name);
        for (const QFileInfo &file : files) {
            if (!isSingleFileSamModel(file.fileName()))
                continue;
            addModelItem(modelCombo, file);
            found = true;
        }
    }

    int configuredIndex = -1;
    const QString configured = SettingsStores::resolveModelPath(QStringLiteral("models/sam"));
    if (!configured.isEmpty() && QFileInfo(configured).isFile()) {
        const QFileInfo file(configured);
        configuredIndex = modelCombo->findData(file.absoluteFilePath());
        if (configuredIndex < 0) {
            modelCombo->insertItem(0, modelItemText(file), file.absoluteFilePath());
            configuredIndex = 0;
            found = true;
        }
    }

    if (!found)
        modelCombo->addItem(QStringLiteral("— model bulunamadı (models/segmentation_mobile_sam.onnx) —"));

    if (firstChoice && configuredIndex >= 0) {
        modelCombo->setCurrentIndex(configuredIndex);
    } else if (!firstChoice) {
        const int index = modelCombo->findData(previous);
        if (index >= 0)
            modelCombo->setCurrentIndex(index);
    }
    modelCombo->blockSignals(false);
    growWindowToFit(this);

    const QString chosen = modelCombo->currentData().toString();
    if (firstChoice && found && !chosen.isEmpty())
        emit encoderSelected(chosen);
}

} // namespace Quillmark
