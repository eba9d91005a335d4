#include "ai/ui/AiSam3Dialog.h"

#include "ai/ui/AiDialogParts.h"
#include "ai/ModelsFolder.h"
#include "ai/ui/ModelsFolderDialog.h"
#include "chrome/Theme.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

// The accent among the colours of a theme (Theme::colors).
constexpr int accentColour = 11;

} // namespace

AiSam3Dialog::AiSam3Dialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("SAM3 Concept Segmentation"));
    setMinimumWidthFloor(this, 480);
    keepWrappedTextsWhole(this);
    setWindowFlags(Qt::Dialog | Qt::Tool);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto *modelGroup = new QGroupBox(QStringLiteral("Models  (models/segmentation/sam3_*.onnx)"), this);
    auto *modelForm = new QFormLayout(modelGroup);
    encoderCombo = modelListCombo(modelGroup);
    decoderCombo = modelListCombo(modelGroup);
    tokenizerCombo = modelListCombo(modelGroup);
    modelForm->addRow(QStringLiteral("Vision encoder:"), encoderCombo);
    modelForm->addRow(QStringLiteral("Decoder:"), decoderCombo);
    modelForm->addRow(QStringLiteral("Tokenizer:"), tokenizerCombo);
    auto *refreshRow = new QHBoxLayout;
    auto *refreshButton = new QPushButton(QStringLiteral("Refresh All"), modelGroup);
    // 80 pixels wide, or as wide as its text needs under the style sheet.
    refreshButton->setMinimumWidth(80);
    refreshButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    browseLink = new QLabel(modelGroup);
    browseLink->setTextFormat(Qt::RichText);
    browseLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    colourBrowseLink();
    refreshRow->addWidget(refreshButton);
    refreshRow->addWidget(browseLink);
    refreshRow->addStretch();
    modelForm->addRow(refreshRow);
    layout->addWidget(modelGroup);

    encodeButton = new QPushButton(QStringLiteral("Encode Current Image"), this);
    encodeButton->setEnabled(false);
    cancelLoadButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelLoadButton->hide();
    auto *encodeRow = new QHBoxLayout;
    encodeRow->addWidget(encodeButton, 1);
    encodeRow->addWidget(cancelLoadButton);
    layout->addLayout(encodeRow);
    connect(cancelLoadButton, &QPushButton::clicked, this, &AiSam3Dialog::cancelLoadRequested);

    auto *promptGroup = new QGroupBox(QStringLiteral("Concept Prompt"), this);
    auto *promptLayout = new QVBoxLayout(promptGroup);
    auto *promptRow = new QHBoxLayout;
    promptEdit = new QLineEdit(promptGroup);
    promptEdit->setPlaceholderText(QStringLiteral("e.g.  person,  yellow bus,  red car"));
    detectButton = new QPushButton(QStringLiteral("Detect"), promptGroup);
    detectButton->setEnabled(false);
    promptRow->addWidget(promptEdit, 1);
    promptRow->addWidget(detectButton);
    promptLayout->addLayout(promptRow);
    auto *thresholdForm = new QFormLayout;
    presenceSpin = thresholdSpin(0.05, 0.95, 0.5, promptGroup);
    presenceSpin->setToolTip(QStringLiteral("Minimum presence confidence to accept a detection"));
    maskSpin = thresholdSpin(0.05, 0.95, 0.5, promptGroup);
    maskSpin->setToolTip(QStringLiteral("Pixel mask binarization threshold"));
    thresholdForm->addRow(QStringLiteral("Presence threshold:"), presenceSpin);
    thresholdForm->addRow(QStringLiteral("Mask threshold:"), maskSpin);
    promptLayout->addLayout(thresholdForm);
    layout->addWidget(promptGroup);

    statusLabel = new QLabel(QStringLiteral("Select models and encode an image."), this);
    statusLabel->setObjectName(QStringLiteral("mutedLabel"));
    statusLabel->setWordWrap(true);
    layout->addWidget(statusLabel);

    auto *detectionGroup = new QGroupBox(QStringLiteral("Detections"), this);
    auto *detectionLayout = new QVBoxLayout(detectionGroup);
    detectionList = new QListWidget(detectionGroup);
    detectionList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    detectionList->setMaximumHeight(160);
    detectionLayout->addWidget(detectionList);
    layout->addWidget(detectionGroup);

    auto *buttons = new QHBoxLayout;
    acceptButton = new QPushButton(QStringLiteral("Accept Selected"), this);
    acceptButton->setEnabled(false);
    clearButton = new QPushButton(QStringLiteral("Clear"), this);
    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(acceptButton);
    buttons->addWidget(clearButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    // Return belongs to the prompt field (it runs Detect); no button of the
    // dialog is clicked by it.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);

    connect(refreshButton, &QPushButton::clicked, this, &AiSam3Dialog::scanModels);
    connect(browseLink, &QLabel::linkActivated, this, [this] {
        if (chooseModelsFolder(this, QStringLiteral("Select models folder")))
            scanModels();
    });
    connect(encoderCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (!visionEncoderPath().isEmpty())
            emit visionEncoderSelected(visionEncoderPath());
    });
    connect(decoderCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (!decoderPath().isEmpty())
            emit decoderSelected(decoderPath());
    });
    connect(encodeButton, &QPushButton::clicked, this, &AiSam3Dialog::encodeRequested);
    connect(detectButton, &QPushButton::clicked, this, [this] {
        emit detectRequested(promptEdit->text().trimmed(), float(presenceSpin->value()), float(maskSpin->value()));
    });
    connect(promptEdit, &QLineEdit::returnPressed, this, [this] {
        if (detectButton->isEnabled())
            detectButton->click();
    });
    connect(detectionList, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<int> rows = selectedRows();
        acceptButton->setEnabled(!rows.isEmpty());
        emit previewRequested(rows);
    });
    connect(acceptButton, &QPushButton::clicked, this, [this] {
        const QList<int> rows = selectedRows();
        if (!rows.isEmpty())
            emit acceptRequested(rows);
    });
    connect(clearButton, &QPushButton::clicked, this, &AiSam3Dialog::clearRequested);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::hide);
}

void AiSam3Dialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::StyleChange && event->type() != QEvent::PaletteChange)
        return;
    // Once the labels have taken in the new style sheet.
    QMetaObject::invokeMethod(this, &AiSam3Dialog::colourBrowseLink, Qt::QueuedConnection);
}

void AiSam3Dialog::colourBrowseLink()
{
    // A rich-text link takes the application palette's link colour, which the
    // style sheet does not change: a dark blue on the dark theme's dark panel.
    // It takes the theme's accent instead; the text colour the style sheet
    // gives labels tells which theme is on.
    browseLink->ensurePolished();
    const bool darkTheme = browseLink->palette().color(QPalette::WindowText).lightness() > 127;
    const QString accent = Theme::colors(darkTheme ? Theme::Dark : Theme::Light).at(accentColour);
    browseLink->setText(QStringLiteral("<a href='browse' style='color: %1;'>Browse folder...</a>").arg(accent));
}

void AiSam3Dialog::setStatus(const QString &text)
{
    statusLabel->setText(text);
}

void AiSam3Dialog::setLoading(bool loading)
{
    cancelLoadButton->setVisible(loading);
    fitMinimumWidth(window());
}

void AiSam3Dialog::setEncodeEnabled(bool enabled)
{
    encodeButton->setEnabled(enabled);
}

void AiSam3Dialog::setDetectEnabled(bool enabled)
{
    detectButton->setEnabled(enabled);
}

void AiSam3Dialog::clearDetections()
{
    detectionList->clear();
    acceptButton->setEnabled(false);
}

void AiSam3Dialog::setDetections(const QList<Sam3Detection> &detections)
{
    detectionList->clear();
    for (qsizetype i = 0; i < detections.size(); ++i) {
        const Sam3Detection &d = detections[i];
        detectionList->addItem(QStringLiteral("Detection #%1   score: %2   bbox: (%3,%4)-(%5,%6)")
                                   .arg(i + 1)
                                   .arg(double(d.score), 0, 'f', 3)
                                   .arg(int(d.box.left()))
                                   .arg(int(d.box.top()))
                                   .arg(int(d.box.right()))
                                   .arg(int(d.box.bottom())));
    }
    acceptButton->setEnabled(false);
}

QString AiSam3Dialog::visionEncoderPath() const
{
    return encoderCombo->currentData().toString();
}

QString AiSam3Dialog::decoderPath() const
{
    return decoderCombo->currentData().toString();
}

QString AiSam3Dialog::tokenizerPath() const
{
    return tokenizerCombo->currentData().toString();
}

void AiSam3Dialog::showEvent(QShowEvent *event)
{
    scanModels();
    QDialog::showEvent(event);
}

void AiSam3Dialog::scanModels()
{
    const QString folder = resolveModelsDir(QStringLiteral("segmentation"));
    if (folder.isEmpty())
        return;
    fillModelCombo(encoderCombo, folder, QStringLiteral("sam3_vision_encoder.onnx"),
                   QStringLiteral("-- sam3_vision_encoder.onnx not found --"));
    fillModelCombo(decoderCombo, folder, QStringLiteral("sam3_decoder.onnx"),
                   QStringLiteral("-- sam3_decoder.onnx not found --"));
    fillModelCombo(tokenizerCombo, folder, QStringLiteral("sam3_tokenizer.json"),
                   QStringLiteral("-- sam3_tokenizer.json not found --"));
    growWindowToFit(this);
    if (!visionEncoderPath().isEmpty())
        emit visionEncoderSelected(visionEncoderPath());
    if (!decoderPath().isEmpty())
        emit decoderSelected(decoderPath());
}

void AiSam3Dialog::fillModelCombo(QComboBox *combo, const QString &folder, const QString &fileName,
                                  const QString &placeholder)
{
    const QString previous = combo->currentData().toString();
    combo->blockSignals(true);
    combo->clear();
    const QFileInfoList files = QDir(folder).entryInfoList({fileName}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files)
        addModelItem(combo, file);
    if (combo->count() == 0)
        combo->addItem(placeholder);
    const int index = previous.isEmpty() ? -1 : combo->findData(previous);
    if (index >= 0)
        combo->setCurrentIndex(index);
    combo->blockSignals(false);
}

QList<int> AiSam3Dialog::selectedRows() const
{
    QList<int> rows;
    for (const QListWidgetItem *item : detectionList->selectedItems())
        rows.append(detectionList->row(item));
    return rows;
}

} // namespace Quillmark
