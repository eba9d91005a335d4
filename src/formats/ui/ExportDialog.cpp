#include "formats/ui/ExportDialog.h"

#include "chrome/IconHelpers.h"
#include "dialogs/Prompts.h"
#include "formats/ExportSplit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace Quillmark {

namespace {

enum class Group { Core, Yolo };

// One format of the catalogue. `rank` orders the cards within their group; 0
// means unranked (after every ranked card, in the order given).
struct FormatInfo {
    const char *name;
    Group group;
    int rank;
    const char *cardLabel; // null: the display name
    const char *description;
    const char *icon;
    bool split;
    bool dataYaml;
};

// "Generate data.yaml" is offered only where the export acts on it: the formats
// written with the YOLO writer, whose export writes data.yaml only when asked.
// (The other YOLO formats write their own configuration files whatever the box
// says.)
const FormatInfo catalogue[] = {
    {"COCO", Group::Core, 1, nullptr, "Single instances.json with all bounding-box annotations", ":/icons/coco.svg",
     false, false},
    {"LabelMe", Group::Core, 2, nullptr, "One JSON file per image", ":/icons/labelme.svg", false, false},
    {"CreateML", Group::Core, 3, nullptr, "Apple Create ML JSON array with centred bounding boxes",
     ":/icons/createml.svg", false, false},
    {"Darknet", Group::Core, 4, nullptr, "YOLO .txt labels + .names / .data config", ":/icons/darknet.svg", true,
     false},
    {"CVAT XML", Group::Core, 5, nullptr, "Single annotations.xml in CVAT XML 1.1 format (boxes, polygons, points)",
     ":/icons/cvat.svg", false, false},
    {"Pascal VOC", Group::Core, 6, nullptr, "Per-image XML annotation files", ":/icons/voc.svg", true, false},
    {"Florence-2", Group::Core, 7, "Florence-2", "annotations.jsonl with quantised <loc_N> tokens",
     ":/icons/florence2.svg", false, false},
    {"Multiclass", Group::Core, 8, nullptr, "Images sorted into class-named subdirectories", ":/icons/multiclass.svg",
     true, false},
    {"CLIP", Group::Core, 9, nullptr, "Caption files grouped by class subdirectory", ":/icons/clip.svg", false, false},
    {"PaliGemma", Group::Core, 10, "PaliGemma", "annotations.jsonl with <locNNNN> tokens (y-first, 0–1023)",
     ":/icons/paligemma.svg", false, false},
    {"RetinaNet", Group::Core, 11, "RetinaNet", "Keras RetinaNet CSV with absolute pixel coordinates",
     ":/icons/retinanet.svg", false, false},
    {"YOLO Pose", Group::Core, 0, nullptr, "", ":/icons/yolopose.svg", false, false},
    {"YOLOv8", Group::Yolo, 1, nullptr, "Ultralytics normalised labels + data.yaml", ":/icons/yolov8.svg", true, true},
    {"YOLOv9", Group::Yolo, 2, nullptr, "Roboflow YOLOv9 normalised labels + data.yaml", ":/icons/yolov9.svg", true,
     true},
    {"YOLOv11", Group::Yolo, 3, nullptr, "YOLO11 normalised labels + data.yaml", ":/icons/yolov11.svg", true, true},
    {"YOLOv12", Group::Yolo, 4, nullptr, "Roboflow YOLOv12 normalised labels + data.yaml", ":/icons/yolov12.svg", true,
     true},
    {"YOLOv5 PyTorch", Group::Yolo, 5, "YOLOv5 PT", "Roboflow YOLOv5 normalised labels + data.yaml",
     ":/icons/yolo5pytorch.svg", true, true},
    {"YOLOv5 OBB", Group::Yolo, 6, "v5 OBB", "Oriented bounding boxes as 4 corner points (DOTA convention)",
     ":/icons/yolo5obb.svg", true, false},
    {"YOLOv6 MT", Group::Yolo, 7, nullptr, "Normalised labels in separate images/ + labels/ directories",
     ":/icons/yolo6mt.svg", true, false},
    {"YOLOv7 PyTorch", Group::Yolo, 8, "YOLOv7 PT", "Roboflow YOLOv7 normalised labels + data.yaml",
     ":/icons/yolo7pytorch.svg", true, true},
    {"YOLOv4 PyTorch", Group::Yolo, 9, "YOLOv4 PT", "Absolute pixel labels + _classes.txt", ":/icons/yolo4pytorch.svg",
     true, false},
    {"YOLOv4 Scaled", Group::Yolo, 10, "v4 Scaled", "Normalised labels + data.yaml (YOLOv4-Scaled layout)",
     ":/icons/yolo4scaled.svg", true, true},
    {"YOLOv3 Keras", Group::Yolo, 11, "v3 Keras", "Absolute pixel labels + _classes.txt", ":/icons/yolov3keras.svg",
     true, false},
    {"YOLO TensorFlow", Group::Yolo, 12, "YOLO TF", "TF Object Detection CSV with absolute pixel coordinates",
     ":/icons/yolotf.svg", false, false},
    {"Roboflow YOLO", Group::Yolo, 13, "RF YOLO", "Roboflow normalised labels + data.yaml", ":/icons/yoloroboflow.svg",
     true, true},
    {"YOLOv8 OBB", Group::Yolo, 14, "v8 OBB", "Oriented bounding boxes as normalised 4 corner points",
     ":/icons/yolov8obb.svg", true, false},
    {"YOLO", Group::Yolo, 15, nullptr, "Normalised labels (class cx cy w h) + classes.txt", ":/icons/yolo.svg", true,
     true},
};

const FormatInfo *findFormat(const QString &name)
{
    for (const FormatInfo &info : catalogue) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

QString cardLabel(const QString &name)
{
    const FormatInfo *info = findFormat(name);
    return info && info->cardLabel ? QString::fromUtf8(info->cardLabel) : name;
}

QString descriptionOf(const QString &name)
{
    const FormatInfo *info = findFormat(name);
    return info ? QString::fromUtf8(info->description) : QString();
}

QString iconOf(const QString &name)
{
    const FormatInfo *info = findFormat(name);
    return info ? QString::fromUtf8(info->icon) : QString();
}

bool isYoloVariant(const QString &name)
{
    const FormatInfo *info = findFormat(name);
    return info && info->group == Group::Yolo;
}

// Orders one group by rank; unranked names keep their given order after the
// ranked ones (a stable sort).
QStringList sortedByRank(QStringList group)
{
    const auto rank = [](const QString &name) {
        const FormatInfo *info = findFormat(name);
        return info && info->rank > 0 ? info->rank : std::numeric_limits<int>::max();
    };
    std::stable_sort(group.begin(), group.end(),
                     [&rank](const QString &a, const QString &b) { return rank(a) < rank(b); });
    return group;
}

constexpr int cardWidth = 74;
constexpr int cardHeight = 64;
constexpr int cardSpacing = 4;
constexpr int cardsPerRow = 9;
constexpr int minimumDialogHeight = 500;

} // namespace

QPixmap ExportDialog::formatIconPixmap(const QString &resource, int side)
{
    return renderSvgPixmap(resource, side);
}

bool ExportDialog::allowsSplit(const QString &format)
{
    const FormatInfo *info = findFormat(format);
    return info && info->split;
}

bool ExportDialog::offersDataYaml(const QString &format)
{
    const FormatInfo *info = findFormat(format);
    return info && info->dataYaml;
}

ExportDialog::ExportDialog(const QStringList &formats, int imageCount, QWidget *parent)
    : QDialog(parent), imageCount(imageCount)
{
    setWindowTitle(QStringLiteral("Export Dataset"));
    setMinimumSize(820, minimumDialogHeight);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(buildCardArea(formats));
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    outer->addWidget(line);
    outer->addWidget(buildBottomPanel(), 1);

    connect(formatGroup, &QButtonGroup::idClicked, this, &ExportDialog::onFormatSelected);
    connect(splitCheck, &QCheckBox::toggled, this, &ExportDialog::onSplitToggled);
    for (QSpinBox *spin : {trainSpin, validSpin, testSpin})
        connect(spin, &QSpinBox::valueChanged, this, &ExportDialog::onPctChanged);
    connect(pathEdit, &QLineEdit::textChanged, this, &ExportDialog::updateSummary);

    pctRow->setEnabled(false);
    shuffleCheck->setEnabled(false);
    copyImagesCheck->setEnabled(true);
    updateSummary();
    if (!names.isEmpty()) {
        formatGroup->button(0)->setChecked(true);
        onFormatSelected(0);
    }
}

QWidget *ExportDialog::buildCardArea(const QStringList &formats)
{
    QStringList core;
    QStringList yolo;
    for (const QString &name : formats)
        (isYoloVariant(name) ? yolo : core).append(name);
    core = sortedByRank(core);
    yolo = sortedByRank(yolo);

    formatGroup = new QButtonGroup(this);
    formatGroup->setExclusive(true);

    auto *area = new QWidget(this);
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(16, 12, 16, 10);
    layout->setSpacing(4);

    if (!core.isEmpty()) {
        auto *label = new QLabel(QStringLiteral("CORE FORMATS"), area);
        label->setObjectName(QStringLiteral("exportSectionLabel"));
        layout->addWidget(label);
        auto *gridWidget = new QWidget(area);
        gridWidget->setObjectName(QStringLiteral("exportCoreGrid"));
        auto *grid = new QGridLayout(gridWidget);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(cardSpacing);
        for (int i = 0; i < core.size(); ++i) {
            const int id = int(names.size());
            names.append(core.at(i));
            grid->addWidget(makeCard(core.at(i), id, gridWidget), i / cardsPerRow, i % cardsPerRow);
        }
        grid->setColumnStretch(cardsPerRow, 1);
        layout->addWidget(gridWidget);
    }

    if (!yolo.isEmpty()) {
        auto *label = new QLabel(QStringLiteral("YOLO VARIANTS"), area);
        label->setObjectName(QStringLiteral("exportSectionLabel"));
        layout->addWidget(label);
        auto *scroll = yoloScroll = new QScrollArea(area);
        scroll->setObjectName(QStringLiteral("exportYoloScroll"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidgetResizable(false);
        scroll->setFixedHeight(84);
        // Its cards are the stops for the keyboard, and it scrolls to them.
        scroll->setFocusPolicy(Qt::NoFocus);
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("exportYoloRow"));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(cardSpacing);
        for (const QString &name : yolo) {
            const int id = int(names.size());
            names.append(name);
            rowLayout->addWidget(makeCard(name, id, row));
        }
        rowLayout->addStretch();
        const int n = int(yolo.size());
        row->setFixedSize(std::max(100, cardWidth * n + cardSpacing * (n - 1)), 68);
        scroll->setWidget(row);
        layout->addWidget(scroll);
    }
    return area;
}

QWidget *ExportDialog::makeCard(const QString &name, int id, QWidget *parent)
{
    auto *card = new QToolButton(parent);
    card->setObjectName(QStringLiteral("exportFormatCard"));
    card->setCheckable(true);
    card->setAutoExclusive(false);
    card->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    card->setFixedSize(cardWidth, cardHeight);
    card->setIconSize(QSize(26, 26));
    card->setText(cardLabel(name));
    card->setToolTip(name);
    // Tab reaches the cards whatever the platform's tab policy (some reach
    // only the controls that also take a click's focus); the arrows move
    // between them and pick the card they reach, as do Space and Enter.
    card->setFocusPolicy(Qt::StrongFocus);
    card->installEventFilter(this);
    const QString icon = iconOf(name);
    if (!icon.isEmpty())
        card->setIcon(QIcon(formatIconPixmap(icon, 26)));
    formatGroup->addButton(card, id);
    return card;
}

bool ExportDialog::eventFilter(QObject *watched, QEvent *event)
{
    auto *card = qobject_cast<QToolButton *>(watched);
    if (!card || formatGroup->id(card) < 0)
        return QDialog::eventFilter(watched, event);
    // A card reached by the arrows inside the YOLO row scrolls into view:
    // the scroll area follows Tab by itself, not a focus given by a key.
    if (event->type() == QEvent::FocusIn && yoloScroll && yoloScroll->widget()->isAncestorOf(card))
        yoloScroll->ensureWidgetVisible(card, 8, 0);
    // Enter picks the focused card, as Space does (the dialog's default
    // button would otherwise export with the card shown before).
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !card->isChecked()) {
            card->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QWidget *ExportDialog::buildBottomPanel()
{
    auto *panel = new QWidget(this);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(16, 10, 16, 12);
    layout->setSpacing(8);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    headerIcon = new QLabel(panel);
    headerIcon->setObjectName(QStringLiteral("exportFmtIcon"));
    headerIcon->setFixedSize(28, 28);
    headerIcon->setAlignment(Qt::AlignCenter);
    headerName = new QLabel(panel);
    headerName->setObjectName(QStringLiteral("exportFmtName"));
    auto *dot = new QLabel(QStringLiteral("·"), panel);
    dot->setObjectName(QStringLiteral("mutedLabel"));
    headerDesc = new QLabel(panel);
    headerDesc->setObjectName(QStringLiteral("exportFmtDesc"));
    header->addWidget(headerIcon);
    header->addWidget(headerName);
    header->addWidget(dot);
    header->addWidget(headerDesc, 1);
    header->addStretch();
    layout->addLayout(header);

    auto *output = new QHBoxLayout;
    output->setSpacing(6);
    auto *outputLabel = new QLabel(QStringLiteral("Output:"), panel);
    outputLabel->setFixedWidth(52);
    pathEdit = new QLineEdit(panel);
    pathEdit->setObjectName(QStringLiteral("exportPath"));
    pathEdit->setPlaceholderText(QStringLiteral("Select output directory…"));
    auto *browse = new QPushButton(QStringLiteral("Browse…"), panel);
    browse->setFixedWidth(80);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::onBrowse);
    output->addWidget(outputLabel);
    output->addWidget(pathEdit, 1);
    output->addWidget(browse);
    layout->addLayout(output);

    layout->addWidget(buildOptionsPanel());

    yamlRow = new QWidget(panel);
    yamlRow->setObjectName(QStringLiteral("exportYamlRow"));
    auto *yamlLayout = new QHBoxLayout(yamlRow);
    yamlLayout->setContentsMargins(0, 0, 0, 0);
    yamlCheck = new QCheckBox(QStringLiteral("Generate data.yaml"), yamlRow);
    yamlCheck->setChecked(true);
    yamlLayout->addWidget(yamlCheck);
    yamlLayout->addStretch();
    layout->addWidget(yamlRow);

    base64Row = new QWidget(panel);
    base64Row->setObjectName(QStringLiteral("exportBase64Row"));
    auto *base64Layout = new QHBoxLayout(base64Row);
    base64Layout->setContentsMargins(0, 0, 0, 0);
    base64Check = new QCheckBox(QStringLiteral("Embed images as base64 (imageData field)"), base64Row);
    base64Check->setToolTip(QStringLiteral("When checked, the raw image bytes are encoded in base64 and written\n"
                                           "directly inside each JSON file (LabelMe \"imageData\" field).\n"
                                           "This makes each .json self-contained but increases file size."));
    base64Layout->addWidget(base64Check);
    base64Layout->addStretch();
    layout->addWidget(base64Row);

    layout->addStretch(1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    summaryLabel = new QLabel(panel);
    summaryLabel->setObjectName(QStringLiteral("mutedLabel"));
    summaryLabel->setWordWrap(false);
    // It shows the output path as typed.
    summaryLabel->setTextFormat(Qt::PlainText);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), panel);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    exportButton = new QPushButton(QStringLiteral("Export"), panel);
    exportButton->setObjectName(QStringLiteral("exportBtn"));
    exportButton->setDefault(true);
    connect(exportButton, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(summaryLabel, 1);
    buttons->addWidget(cancel);
    buttons->addWidget(exportButton);
    layout->addLayout(buttons);
    return panel;
}

QWidget *ExportDialog::buildOptionsPanel()
{
    optionsPanel = new QWidget(this);
    optionsPanel->setObjectName(QStringLiteral("exportOptions"));
    auto *layout = new QVBoxLayout(optionsPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    splitCheck = new QCheckBox(QStringLiteral("Split into train / valid / test"), optionsPanel);
    layout->addWidget(splitCheck);
    layout->addWidget(buildPctRow());
    shuffleCheck = new QCheckBox(QStringLiteral("Shuffle images before split"), optionsPanel);
    shuffleCheck->setChecked(true);
    layout->addWidget(shuffleCheck);
    copyImagesCheck = new QCheckBox(QStringLiteral("Copy image files to output directory"), optionsPanel);
    copyImagesCheck->setChecked(true);
    layout->addWidget(copyImagesCheck);
    return optionsPanel;
}

QWidget *ExportDialog::buildPctRow()
{
    pctRow = new QWidget(optionsPanel);
    pctRow->setObjectName(QStringLiteral("exportPctRow"));
    auto *layout = new QHBoxLayout(pctRow);
    layout->setContentsMargins(20, 0, 0, 0);
    layout->setSpacing(6);
    const auto addPair = [this, layout](const QString &word, int value, const QString &objectName) {
        auto *label = new QLabel(word + QLatin1Char(':'), pctRow);
        label->setFixedWidth(36);
        auto *spin = new QSpinBox(pctRow);
        spin->setObjectName(objectName);
        spin->setRange(0, 100);
        spin->setValue(value);
        spin->setSuffix(QStringLiteral("%"));
        spin->setFixedWidth(68);
        layout->addWidget(label);
        layout->addWidget(spin);
        return spin;
    };
    const ExportConfig defaults;
    trainSpin = addPair(QStringLiteral("Train"), defaults.trainPct, QStringLiteral("exportTrainPct"));
    layout->addSpacing(4);
    validSpin = addPair(QStringLiteral("Valid"), defaults.validPct, QStringLiteral("exportValidPct"));
    layout->addSpacing(4);
    testSpin = addPair(QStringLiteral("Test"), defaults.testPct, QStringLiteral("exportTestPct"));
    layout->addStretch();
    return pctRow;
}

QString ExportDialog::chosenFormat() const
{
    return chosenId >= 0 && chosenId < names.size() ? names.at(chosenId) : QString();
}

bool ExportDialog::splitChosen() const
{
    return allowsSplit(chosenFormat()) && splitCheck->isChecked();
}

ExportDialog::Config ExportDialog::config() const
{
    Config config;
    config.format = chosenFormat();
    config.outputPath = pathEdit->text().trimmed();
    config.split = splitChosen();
    config.trainPct = trainSpin->value();
    config.validPct = validSpin->value();
    config.testPct = testSpin->value();
    config.copyImages = copyImagesCheck->isChecked();
    config.generateYaml = yamlCheck->isChecked();
    config.shuffle = shuffleCheck->isChecked();
    // The box is offered for LabelMe only; ticked there and left behind, it
    // must not stop another format's export from copying its images.
    config.embedBase64 = base64Check->isChecked() && config.format == QLatin1String("LabelMe");
    return config;
}

void ExportDialog::onFormatSelected(int id)
{
    if (id < 0 || id >= names.size())
        return;
    chosenId = id;
    const QString name = names.at(id);
    const QString icon = iconOf(name);
    if (icon.isEmpty())
        headerIcon->clear();
    else
        headerIcon->setPixmap(formatIconPixmap(icon, 28));
    headerName->setText(name);
    headerDesc->setText(descriptionOf(name));
    pathEdit->setPlaceholderText(QStringLiteral("Select output directory…"));
    optionsPanel->setVisible(allowsSplit(name));
    yamlRow->setVisible(offersDataYaml(name));
    base64Row->setVisible(name == QLatin1String("LabelMe"));
    updateSummary();
    fitOptions();
}

void ExportDialog::fitOptions()
{
    // The explicit minimum size keeps the layout from raising it by itself.
    const int needed = layout()->minimumSize().height();
    setMinimumHeight(std::max(minimumDialogHeight, needed));
    if (height() < needed)
        resize(width(), needed);
}

void ExportDialog::onSplitToggled(bool enabled)
{
    pctRow->setEnabled(enabled);
    shuffleCheck->setEnabled(enabled);
    copyImagesCheck->setEnabled(true);
    updateSummary();
}

void ExportDialog::onPctChanged()
{
    if (adjustingPct)
        return;
    adjustingPct = true;
    const int train = trainSpin->value();
    const int valid = validSpin->value();
    if (train + valid + testSpin->value() != 100)
        testSpin->setValue(std::max(0, 100 - train - valid));
    adjustingPct = false;
    updateSummary();
}

void ExportDialog::onBrowse()
{
    QSettings settings;
    const QString typed = pathEdit->text().trimmed();
    const QString start =
        typed.isEmpty() ? settings.value(QStringLiteral("lastExportDir"), QDir::homePath()).toString() : typed;
    const QString folder = Prompts::current().getExistingDirectory(this, QStringLiteral("Select Output Directory"),
                                                                   start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    pathEdit->setText(folder);
    settings.setValue(QStringLiteral("lastExportDir"), folder);
}

void ExportDialog::updateSummary()
{
    const QString path = pathEdit->text().trimmed();
    // Nothing to export to, or no format to write: Export would do nothing.
    exportButton->setEnabled(!path.isEmpty() && chosenId >= 0);
    if (splitChosen()) {
        // The subsets the export job will write, by the job's own arithmetic.
        const QList<ExportSplit> splits = computeExportSplits(imageCount, trainSpin->value(), validSpin->value());
        summaryLabel->setText(QStringLiteral("train %1  ·  valid %2  ·  test %3  (%4 total)")
                                  .arg(splits.at(0).count)
                                  .arg(splits.at(1).count)
                                  .arg(splits.at(2).count)
                                  .arg(imageCount));
        return;
    }
    summaryLabel->setText(QStringLiteral("%1 image%2  ·  %3")
                              .arg(imageCount)
                              .arg(imageCount == 1 ? QString() : QStringLiteral("s"))
                              .arg(path.isEmpty() ? QStringLiteral("no output path selected") : pathEdit->text()));
}

} // namespace Quillmark
