#include "dialogs/SettingsDialog.h"

#include "dialogs/Prompts.h"
#include "model/SettingsStores.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

// Room around the text of a row: the sheet's padding and border, the cursor,
// and the missing-file mark at its end.
constexpr int rowTextMargin = 24 + 22;

QFormLayout *settingsForm(QGroupBox *box)
{
    auto *form = new QFormLayout(box);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(6);
    return form;
}

QVBoxLayout *tabLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);
    return layout;
}

QPushButton *compactButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("compactButton"));
    button->setFixedHeight(26);
    return button;
}

// The mark of a row whose file is not there: a red disc with "!".
constexpr const char *missingColor = "#e5484d";

QIcon missingFileIcon()
{
    constexpr int size = 16;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QLatin1String(missingColor)));
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(7, 3.5, 2, 6.5), 1, 1);
    painter.drawEllipse(QRectF(7, 11, 2, 2));
    painter.end();
    return QIcon(pixmap);
}

bool isMissingAbsoluteFile(const QString &path)
{
    return QFileInfo(path).isAbsolute() && !QFileInfo::exists(path);
}

struct ModelRow {
    const char *group;
    const char *label;
    const char *key;
    const char *defaultPath;
    const char *filter;
};

const ModelRow modelRows[] = {
    {"Detection", "Model", "models/detection", "models/detection.onnx", "ONNX model (*.onnx)"},
    {"Segmentation", "Model", "models/segmentation", "models/segmentation.onnx", "ONNX model (*.onnx)"},
    {"Segmentation", "SAM (Click Segment)", "models/sam", "models/segmentation_mobile_sam.onnx",
     "ONNX model (*.onnx)"},
    {"Body", "Model", "models/body", "models/body.onnx", "ONNX model (*.onnx)"},
    {"Hand", "Model", "models/hand", "models/hand.onnx", "ONNX model (*.onnx)"},
    {"Face", "Model", "models/face", "models/face.onnx", "ONNX model (*.onnx)"},
};

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    setMinimumWidth(520);

    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 12, 12);

    auto *title = new QLabel(QStringLiteral("Settings"), this);
    title->setObjectName(QStringLiteral("shortcutTitle"));
    title->setAlignment(Qt::AlignCenter);
    outer->addWidget(title);

    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("settingsTabs"));
    tabs->addTab(buildGeneralTab(), QStringLiteral("General"));
    tabs->addTab(buildModelsTab(), QStringLiteral("Models"));
    outer->addWidget(tabs, 1);

    outer->addSpacing(4);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::onAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);

    fitRowsToDefaults();
    // Never narrower than the rows need: below that the layout would cut labels.
    setMinimumWidth(qMax(minimumWidth(), minimumSizeHint().width()));

    loadSettings();
}

void SettingsDialog::fitRowsToDefaults()
{
    // Wide enough that every default path shows whole, in the font the
    // style sheet gives the rows.
    ensurePolished();
    for (auto it = modelEdits.cbegin(); it != modelEdits.cend(); ++it) {
        QLineEdit *edit = it.value();
        int widest = 0;
        for (const QString &path : std::as_const(modelDefaults))
            widest = qMax(widest, edit->fontMetrics().horizontalAdvance(path));
        edit->setMinimumWidth(widest + rowTextMargin);
    }
}

QWidget *SettingsDialog::buildGeneralTab()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = tabLayout(page);
    auto *appearance = new QGroupBox(QStringLiteral("Appearance"), page);
    QFormLayout *form = settingsForm(appearance);
    themeCombo = new QComboBox(appearance);
    themeCombo->setFixedWidth(110);
    themeCombo->addItem(QStringLiteral("Light"), int(Theme::Light));
    themeCombo->addItem(QStringLiteral("Dark"), int(Theme::Dark));
    form->addRow(QStringLiteral("Theme:"), themeCombo);
    layout->addWidget(appearance);
    layout->addStretch(1);
    return page;
}

QWidget *SettingsDialog::buildModelsTab()
{
    auto *page = new QWidget(this);
    QVBoxLayout *layout = tabLayout(page);
    QString currentGroup;
    QFormLayout *form = nullptr;
    for (const ModelRow &row : modelRows) {
        const QString group = QLatin1String(row.group);
        if (!form || group != currentGroup) {
            auto *box = new QGroupBox(group, page);
            form = settingsForm(box);
            layout->addWidget(box);
            currentGroup = group;
        }
        addModelRow(form, row.label, row.key, row.defaultPath, row.filter);
    }
    layout->addStretch(1);
    return page;
}

QString SettingsDialog::defaultModelPath(const QString &key)
{
    for (const ModelRow &row : modelRows) {
        if (key == QLatin1String(row.key))
            return QLatin1String(row.defaultPath);
    }
    return {};
}

QString SettingsDialog::configuredModelPath(const QString &key)
{
    const QString value = QSettings().value(key).toString().trimmed();
    if (value.isEmpty() || value == defaultModelPath(key))
        return {};
    return resolveModelPath(key);
}

void SettingsDialog::addModelRow(QFormLayout *form, const char *label, const char *keyName, const char *defaultPath,
                                 const char *filterText)
{
    QWidget *parent = form->parentWidget();
    auto *container = new QWidget(parent);
    auto *layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *edit = new QLineEdit(container);
    edit->setPlaceholderText(QStringLiteral("(not set — click Browse…)"));
    QPushButton *browse = compactButton(QStringLiteral("Browse…"), container);
    QPushButton *clear = compactButton(QStringLiteral("×"), container);
    clear->setFixedSize(26, 26);
    clear->setToolTip(QStringLiteral("Clear"));
    layout->addWidget(edit, 1);
    layout->addWidget(browse);
    layout->addWidget(clear);
    form->addRow(QLatin1String(label) + QLatin1Char(':'), container);
    // A mark inside the row, shown while it names a file that is not there
    // (loading it would fail); it takes no room of the dialog.
    QAction *missing = edit->addAction(missingFileIcon(), QLineEdit::TrailingPosition);
    missing->setToolTip(QStringLiteral("File not found"));
    missing->setVisible(false);

    const QString key = QLatin1String(keyName);
    const QString filter = QLatin1String(filterText);
    modelEdits.insert(key, edit);
    missingMarks.insert(key, missing);
    modelDefaults.insert(key, QLatin1String(defaultPath));
    connect(edit, &QLineEdit::textChanged, this, [this, key] { markIfMissing(key); });
    connect(browse, &QPushButton::clicked, this, [this, key, filter] { browseModel(key, filter); });
    connect(clear, &QPushButton::clicked, edit, &QLineEdit::clear);
}

bool SettingsDialog::isModelMissing(const QString &key) const
{
    const QLineEdit *edit = modelEdits.value(key);
    if (!edit)
        return false;
    return !missingPath(key).isEmpty();
}

QString SettingsDialog::missingPath(const QString &key) const
{
    const QLineEdit *edit = modelEdits.value(key);
    const QString text = edit->text().trimmed();
    if (text.isEmpty())
        return {};
    if (edit->text() == shownTexts.value(key) && !goneChoices.value(key).isEmpty())
        return goneChoices.value(key);
    // The default path the dialog shows for a model never chosen (and stores
    // on OK) is no choice of the user's: only a path the user gave is marked.
    if (text == modelDefaults.value(key))
        return {};
    const QString resolved = resolveModelPathFrom(text, QCoreApplication::applicationDirPath());
    return QFileInfo(resolved).isFile() ? QString() : resolved;
}

void SettingsDialog::markIfMissing(const QString &key)
{
    QAction *mark = missingMarks.value(key);
    if (!mark)
        return;
    const bool missing = isModelMissing(key);
    mark->setVisible(missing);
    QLineEdit *edit = modelEdits.value(key);
    edit->setStyleSheet(missing ? QStringLiteral("border: 1px solid %1;").arg(QLatin1String(missingColor))
                                : QString());
    edit->setToolTip(missing ? QStringLiteral("No file at %1").arg(missingPath(key)) : QString());
}

void SettingsDialog::browseModel(const QString &key, const QString &filter)
{
    QLineEdit *edit = modelEdits.value(key);
    const QString appDir = QCoreApplication::applicationDirPath();
    // A relative row names a file below the program folder (or one of its
    // parents), not below the working folder: start where it resolves to.
    const QString start = resolveModelPathFrom(edit->text().trimmed(), appDir);
    const QString chosen = Prompts::current().getOpenFileName(this, QStringLiteral("Select Model"), start, filter);
    if (chosen.isEmpty())
        return;
    edit->setText(storedPathFor(chosen, appDir));
}

void SettingsDialog::loadSettings()
{
    QSettings settings;
    for (auto it = modelEdits.cbegin(); it != modelEdits.cend(); ++it) {
        const QString value = settings.value(it.key()).toString();
        const bool unset = value.isEmpty() || isMissingAbsoluteFile(value);
        const QString shown = unset ? modelDefaults.value(it.key()) : value;
        shownTexts.insert(it.key(), shown);
        storedKeys.insert(it.key(), !value.isEmpty());
        // A chosen file that is gone shows the default path in its place, and
        // the row's mark names the file that is gone.
        const QString resolved = resolveModelPathFrom(value, QCoreApplication::applicationDirPath());
        const bool chosenGone = !value.isEmpty() && value != modelDefaults.value(it.key()) && shown != value
            && !QFileInfo(resolved).isFile();
        goneChoices.insert(it.key(), chosenGone ? resolved : QString());
        it.value()->setText(shown);
        // Files may have come or gone since the last showing.
        markIfMissing(it.key());
    }
    const int index = themeCombo->findData(settings.value(SettingsStores::themeKey, 0).toInt());
    themeCombo->setCurrentIndex(index < 0 ? 0 : index);
}

void SettingsDialog::onAccept()
{
    QSettings settings;
    for (auto it = modelEdits.cbegin(); it != modelEdits.cend(); ++it) {
        // A row left as shown keeps what the store holds: a stored path whose
        // file is missing right now (an unmounted drive) shows the default but
        // must not be replaced by it. Only an unset key takes the shown default.
        const bool edited = it.value()->text() != shownTexts.value(it.key());
        if (!edited && storedKeys.value(it.key()))
            continue;
        const QString text = it.value()->text().trimmed();
        if (text.isEmpty())
            settings.remove(it.key());
        else
            settings.setValue(it.key(), text);
    }
    const auto mode = Theme::Mode(themeCombo->currentData().toInt());
    settings.setValue(SettingsStores::themeKey, int(mode));
    emit themeChanged(mode);
    accept();
}

Theme::Mode SettingsDialog::savedTheme()
{
    return SettingsStores::storedTheme() == int(Theme::Dark) ? Theme::Dark : Theme::Light;
}

QString SettingsDialog::resolveModelPath(const QString &key)
{
    return SettingsStores::resolveModelPath(key);
}

QString SettingsDialog::resolveModelPathFrom(const QString &value, const QString &appDir)
{
    return SettingsStores::resolveModelPathFrom(value, appDir);
}

QString SettingsDialog::storedPathFor(const QString &chosen, const QString &appDir)
{
    const QString app = QDir(appDir).absolutePath();
    const QString prefix = app.endsWith(QLatin1Char('/')) ? app : app + QLatin1Char('/');
    const QString path = QFileInfo(chosen).absoluteFilePath();
    if (!path.startsWith(prefix, Qt::CaseInsensitive) || path.size() == prefix.size())
        return chosen;
    const QString relative = path.mid(prefix.size());
    // Whether the prefix matched only by ignoring case is for the file system
    // to say: keep the relative path only when it leads back to this file.
    const QString back = QFileInfo(prefix + relative).canonicalFilePath();
    if (back.isEmpty() || back != QFileInfo(path).canonicalFilePath())
        return chosen;
    return relative;
}

} // namespace Quillmark
