#include "ai/ui/PoseAnnotationDialog.h"

#include "ai/ui/AiDialogParts.h"
#include "ai/ModelsFolder.h"
#include "dialogs/KeypointTemplates.h"
#include "model/SettingsStores.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

constexpr int handIndex = 1;

const QString errorStyle = QStringLiteral("color: #ff5757;");

QString notFoundText(int modeIndex)
{
    return modeIndex == handIndex ? QStringLiteral("hand.onnx bulunamadı — Settings → Models → Hand")
                                  : QStringLiteral("body.onnx bulunamadı — Settings → Models → Body");
}

// The model configured under `key`, else `fileName` in the models folder;
// empty when neither exists.
QString findPoseModel(const QString &key, const QString &fileName)
{
    const QString configured = SettingsStores::resolveModelPath(key);
    if (!configured.isEmpty() && QFileInfo(configured).isFile())
        return configured;
    const QString folder = resolveModelsDir();
    if (folder.isEmpty())
        return {};
    const QString candidate = folder + QLatin1Char('/') + fileName;
    return QFileInfo(candidate).isFile() ? candidate : QString();
}

void setVisibilityCell(QTreeWidgetItem *item, int value)
{
    QString text = QStringLiteral("× Unlabeled");
    QColor colour(0x88, 0x88, 0x88);
    if (value == 2) {
        text = QStringLiteral("● Visible");
        colour = QColor(0x55, 0xc7, 0x72);
    } else if (value == 1) {
        text = QStringLiteral("○ Occluded");
        colour = QColor(0xff, 0xb2, 0x3f);
    }
    item->setText(2, text);
    item->setForeground(2, QBrush(colour));
    item->setData(2, Qt::UserRole, value);
}

QString personRow(int index, const PosePerson &person)
{
    qsizetype labelled = 0;
    for (const PoseKeypoint &keypoint : person.keypoints) {
        if (keypoint.visibility > 0)
            ++labelled;
    }
    return QStringLiteral("Person %1     conf: %2     %3/%4 kp")
        .arg(index + 1)
        .arg(double(person.score), 0, 'f', 2)
        .arg(labelled)
        .arg(person.keypoints.size());
}

// The keypoint table, which asks for room for a good part of a body's list.
class KeypointTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    QSize sizeHint() const override { return {QTreeWidget::sizeHint().width(), 240}; }
};

} // namespace

QString PoseAnnotationDialog::keypointName(int index, int count)
{
    const QStringList &body = coco17KeypointNames();
    const QStringList &hand = hand21KeypointNames();
    if (count == body.size() && index >= 0 && index < count)
        return body.at(index);
    if (count == hand.size() && index >= 0 && index < count)
        return hand.at(index);
    return QStringLiteral("kp %1").arg(index);
}

PoseAnnotationDialog::PoseAnnotationDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Pose Annotation"));
    setMinimumWidthFloor(this, 400);
    keepWrappedTextsWhole(this);
    setWindowFlags(windowFlags() | Qt::Tool);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    auto *modelGroup = new QGroupBox(QStringLiteral("Model"), this);
    auto *modelLayout = new QVBoxLayout(modelGroup);
    modeCombo = new QComboBox(modelGroup);
    modeCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    modeCombo->setToolTip(QStringLiteral("Annotation type — Body (body.onnx) or Hand (hand.onnx)"));
    modelLayout->addWidget(modeCombo);
    modelLabel = new QLabel(modelGroup);
    modelLabel->setObjectName(QStringLiteral("mutedLabel"));
    // The error line names the model and where to set it: longer than the dialog is wide.
    modelLabel->setWordWrap(true);
    modelLabel->hide();
    modelLayout->addWidget(modelLabel);
    layout->addWidget(modelGroup);

    auto *thresholds = new QGroupBox(QStringLiteral("Thresholds"), this);
    auto *form = new QFormLayout(thresholds);
    form->setLabelAlignment(Qt::AlignRight);
    confSpin = thresholdSpin(0.05, 0.95, 0.25, thresholds);
    iouSpin = thresholdSpin(0.10, 0.90, 0.45, thresholds);
    kpConfSpin = thresholdSpin(0.05, 0.90, 0.30, thresholds);
    kpConfSpin->setToolTip(QStringLiteral("Bu değerin altındaki keypoint'ler 'Unlabeled' olarak işaretlenir"));
    form->addRow(QStringLiteral("Confidence:"), confSpin);
    form->addRow(QStringLiteral("NMS IoU:"), iouSpin);
    form->addRow(QStringLiteral("Keypoint Conf:"), kpConfSpin);
    layout->addWidget(thresholds);

    personsGroup = new QGroupBox(QStringLiteral("Detected Persons (0)"), this);
    auto *personsLayout = new QVBoxLayout(personsGroup);
    personsList = new QListWidget(personsGroup);
    personsList->setSelectionMode(QAbstractItemView::SingleSelection);
    personsList->setMaximumHeight(110);
    personsLayout->addWidget(personsList);
    layout->addWidget(personsGroup);

    keypointsGroup = new QGroupBox(QStringLiteral("Keypoints"), this);
    auto *keypointsLayout = new QVBoxLayout(keypointsGroup);
    keypointTree = new KeypointTree(keypointsGroup);
    keypointTree->setColumnCount(3);
    keypointTree->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Name"), QStringLiteral("Visibility")});
    keypointTree->setRootIsDecorated(false);
    keypointTree->setIndentation(0);
    // It opens 240 high (17 body keypoints in two screens); on a short screen
    // it gives way down to 120 and scrolls, so that the whole dialog fits.
    keypointTree->setMinimumHeight(120);
    keypointTree->setMaximumHeight(280);
    QHeaderView *header = keypointTree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->resizeSection(0, 28);
    header->resizeSection(2, 105);
    keypointsLayout->addWidget(keypointTree);
    layout->addWidget(keypointsGroup);

    progress = new QProgressBar(this);
    progress->hide();
    layout->addWidget(progress);

    auto *buttons = new QHBoxLayout;
    runCurrentButton = new QPushButton(QStringLiteral("Run Current"), this);
    runAllButton = new QPushButton(QStringLiteral("Run All"), this);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    acceptButton = new QPushButton(QStringLiteral("Accept"), this);
    clearButton = new QPushButton(QStringLiteral("Clear"), this);
    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(runCurrentButton);
    buttons->addWidget(runAllButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    buttons->addWidget(acceptButton);
    buttons->addWidget(clearButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    auto *hint = new QLabel(
        QStringLiteral("<span style='color:#888'>Canvas'ta keypoint'ler sürüklenebilir. Sağ tık = visibility "
                       "döngüsü.</span>"),
        this);
    hint->setTextFormat(Qt::RichText);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    updateButtons();

    connect(modeCombo, &QComboBox::activated, this, &PoseAnnotationDialog::onModeActivated);
    connect(personsList, &QListWidget::currentRowChanged, this, &PoseAnnotationDialog::onPersonRowChanged);
    connect(keypointTree, &QTreeWidget::itemClicked, this, &PoseAnnotationDialog::cycleVisibility);
    connect(runCurrentButton, &QPushButton::clicked, this, &PoseAnnotationDialog::runCurrentRequested);
    connect(runAllButton, &QPushButton::clicked, this, &PoseAnnotationDialog::runAllRequested);
    connect(cancelButton, &QPushButton::clicked, this, &PoseAnnotationDialog::cancelRequested);
    connect(acceptButton, &QPushButton::clicked, this, &PoseAnnotationDialog::acceptRequested);
    connect(clearButton, &QPushButton::clicked, this, &PoseAnnotationDialog::clearRequested);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);
}

float PoseAnnotationDialog::confThreshold() const
{
    return float(confSpin->value());
}

float PoseAnnotationDialog::iouThreshold() const
{
    return float(iouSpin->value());
}

float PoseAnnotationDialog::keypointConfThreshold() const
{
    return float(kpConfSpin->value());
}

void PoseAnnotationDialog::refreshModels()
{
    const QString body = findPoseModel(QStringLiteral("models/body"), QStringLiteral("body.onnx"));
    const QString hand = findPoseModel(QStringLiteral("models/hand"), QStringLiteral("hand.onnx"));
    {
        const QSignalBlocker blocker(modeCombo);
        const int remembered = modeCombo->currentIndex();
        modeCombo->clear();
        modeCombo->addItem(body.isEmpty() ? QStringLiteral("Body  (body.onnx bulunamadı)") : QStringLiteral("Body"),
                           body);
        modeCombo->addItem(hand.isEmpty() ? QStringLiteral("Hand  (hand.onnx bulunamadı)") : QStringLiteral("Hand"),
                           hand);
        modeCombo->setCurrentIndex(remembered < 0 ? 0 : remembered);
    }
    if (loaded.isEmpty())
        onModeActivated(modeCombo->currentIndex());
}

void PoseAnnotationDialog::showEvent(QShowEvent *event)
{
    refreshModels();
    QDialog::showEvent(event);
}

void PoseAnnotationDialog::onModeActivated(int index)
{
    if (index < 0)
        return;
    const QString path = modeCombo->itemData(index).toString();
    if (path.isEmpty()) {
        modelReady = false;
        showModelError(notFoundText(index));
        updateButtons();
        return;
    }
    if (path != loaded) {
        emit modelSelected(path);
        return;
    }
    // Back to the mode whose model is loaded.
    setModelReady(true);
}

void PoseAnnotationDialog::selectMode(const QString &mode)
{
    refreshModels();
    const int index = mode == QLatin1String("hand") ? handIndex : 0;
    {
        const QSignalBlocker blocker(modeCombo);
        modeCombo->setCurrentIndex(index);
    }
    onModeActivated(index);
}

void PoseAnnotationDialog::setLoadedPath(const QString &path)
{
    loaded = path;
    for (int i = 0; i < modeCombo->count(); ++i) {
        if (modeCombo->itemData(i).toString() == path) {
            const QSignalBlocker blocker(modeCombo);
            modeCombo->setCurrentIndex(i);
            break;
        }
    }
}

void PoseAnnotationDialog::showModelError(const QString &text)
{
    modelLabel->setText(QStringLiteral("Hata: ") + text);
    modelLabel->setStyleSheet(errorStyle);
    modelLabel->show();
}

void PoseAnnotationDialog::setModelReady(bool ok, const QString &info)
{
    modelReady = ok;
    if (ok) {
        modelLabel->setText(modeCombo->currentIndex() == handIndex
                                ? QStringLiteral("Type: Hand Pose (21 kp)")
                                : QStringLiteral("Type: Body Pose (YOLOv8-Pose · 17 kp)"));
        modelLabel->setStyleSheet(QString());
        modelLabel->show();
    } else {
        showModelError(info);
    }
    updateButtons();
}

void PoseAnnotationDialog::setProgress(int current, int total)
{
    showRunProgress(progress, current, total);
}

void PoseAnnotationDialog::setRunning(bool isRunning)
{
    running = isRunning;
    updateButtons();
}

void PoseAnnotationDialog::updateButtons()
{
    const bool canRun = !running && modelReady && !loaded.isEmpty();
    runCurrentButton->setEnabled(canRun);
    runAllButton->setEnabled(canRun);
    acceptButton->setEnabled(!running && !persons.isEmpty());
    cancelButton->setVisible(running);
    // No other model while one runs.
    modeCombo->setEnabled(!running);
    fitMinimumWidth(this);
}

void PoseAnnotationDialog::setPersons(const QList<PosePerson> &shown)
{
    persons = shown;
    {
        const QSignalBlocker blocker(personsList);
        personsList->clear();
        for (qsizetype i = 0; i < persons.size(); ++i)
            personsList->addItem(personRow(int(i), persons[i]));
        personsGroup->setTitle(QStringLiteral("Detected Persons (%1)").arg(persons.size()));
    }
    if (persons.isEmpty()) {
        selectedPerson = -1;
        keypointTree->clear();
        keypointsGroup->setTitle(QStringLiteral("Keypoints"));
    } else {
        personsList->setCurrentRow(0);
        selectedPerson = 0;
        showPersonKeypoints(0);
    }
    updateButtons();
}

void PoseAnnotationDialog::clearPersons()
{
    persons.clear();
    selectedPerson = -1;
    {
        const QSignalBlocker blocker(personsList);
        personsList->clear();
    }
    keypointTree->clear();
    personsGroup->setTitle(QStringLiteral("Detected Persons (0)"));
    keypointsGroup->setTitle(QStringLiteral("Keypoints"));
    updateButtons();
}

void PoseAnnotationDialog::onPersonRowChanged(int row)
{
    selectedPerson = row;
    showPersonKeypoints(row);
    emit personSelected(row);
}

void PoseAnnotationDialog::showPersonKeypoints(int index)
{
    keypointTree->clear();
    if (index < 0 || index >= persons.size()) {
        keypointsGroup->setTitle(QStringLiteral("Keypoints"));
        return;
    }
    keypointsGroup->setTitle(QStringLiteral("Keypoints — Person %1").arg(index + 1));
    const QList<PoseKeypoint> &keypoints = persons.at(index).keypoints;
    const int count = int(keypoints.size());
    QList<QTreeWidgetItem *> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        auto *item = new QTreeWidgetItem;
        item->setText(0, QString::number(i));
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        item->setData(0, Qt::UserRole, i);
        item->setText(1, keypointName(i, count));
        setVisibilityCell(item, keypoints.at(i).visibility);
        item->setToolTip(2, QStringLiteral("Klik: Visible → Occluded → Unlabeled"));
        rows.append(item);
    }
    keypointTree->addTopLevelItems(rows);
}

void PoseAnnotationDialog::cycleVisibility(QTreeWidgetItem *item, int column)
{
    if (!item || column != 2)
        return;
    const int kp = item->data(0, Qt::UserRole).toInt();
    const int current = item->data(2, Qt::UserRole).toInt();
    const int next = current == 0 ? 2 : current - 1;
    if (selectedPerson >= 0 && selectedPerson < persons.size() && kp >= 0 &&
        kp < persons.at(selectedPerson).keypoints.size()) {
        persons[selectedPerson].keypoints[kp].visibility = next;
        if (QListWidgetItem *row = personsList->item(selectedPerson))
            row->setText(personRow(selectedPerson, persons.at(selectedPerson)));
    }
    setVisibilityCell(item, next);
    emit keypointVisibilityChanged(selectedPerson, kp, next);
}

void PoseAnnotationDialog::highlightKeypoint(int kpIndex)
{
    if (kpIndex < 0 || kpIndex >= keypointTree->topLevelItemCount())
        return;
    QTreeWidgetItem *item = keypointTree->topLevelItem(kpIndex);
    keypointTree->setCurrentItem(item);
    keypointTree->scrollToItem(item);
}

} // namespace Quillmark
