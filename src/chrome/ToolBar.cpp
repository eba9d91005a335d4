#include "chrome/ToolBar.h"

#include "chrome/HintBubble.h"
#include "chrome/HoverTint.h"
#include "chrome/IconHelpers.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>

namespace Quillmark {

namespace {

constexpr int iconSize = 18;

// The hint shown under the Save button when the user tries to draw in a project
// that was never saved.
class SaveHintBubble : public HintBubble {
public:
    explicit SaveHintBubble(QWidget *anchor)
        : HintBubble(anchor, QStringLiteral("Save your project first"), QStringLiteral("Ctrl+S"),
                     QStringLiteral("color:#c4c4d8;font-size:11px;font-family:monospace;background:#36364e;"
                                    "border:1px solid #56567a;border-radius:4px;padding:1px 6px;"))
    {
    }
};

struct ButtonSpec {
    const char *toolTip;
    const char *icon;
    void (ToolBar::*signal)();
    bool separatorAfter;
};

} // namespace

ToolBar::ToolBar(QWidget *parent)
    : QWidget(parent)
{
    qRegisterMetaType<Quillmark::Theme::Mode>("Quillmark::Theme::Mode");
    setObjectName(QStringLiteral("toolBar"));
    setAttribute(Qt::WA_StyledBackground, true);
    setFixedHeight(38);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(2);

    static const ButtonSpec specs[] = {
        {"New Project  (Ctrl+N)", ":/icons/new_project.svg", &ToolBar::newProjectClicked, false},
        {"Open Project (Ctrl+O)", ":/icons/open_project.svg", &ToolBar::openProjectClicked, false},
        {"Save Project (Ctrl+S)", ":/icons/save.svg", &ToolBar::saveProjectClicked, false},
        {"Close Project", ":/icons/close_project.svg", &ToolBar::closeProjectClicked, true},
        {"Open QuillPackage (.qmpkg)", ":/icons/package_import.svg", &ToolBar::importQuillPackageClicked, false},
        {"Export QuillPackage (.qmpkg)", ":/icons/package_export.svg", &ToolBar::exportQuillPackageClicked, true},
        {"Import Images", ":/icons/import_images.svg", &ToolBar::importImagesClicked, false},
        {"Import Video", ":/icons/import_video.svg", &ToolBar::importVideoClicked, false},
        {"Import Dataset (F5)", ":/icons/import_dataset.svg", &ToolBar::importDatasetClicked, false},
        {"Export Dataset", ":/icons/export_dataset.svg", &ToolBar::exportDatasetClicked, true},
        {"Undo (Ctrl+Z)", ":/icons/undo.svg", &ToolBar::undoClicked, false},
        {"Redo (Ctrl+Y)", ":/icons/redo.svg", &ToolBar::redoClicked, true},
        {"First Image", ":/icons/skip-previous.svg", &ToolBar::skipPreviousClicked, false},
        {"Jump Back", ":/icons/rewind.svg", &ToolBar::rewindClicked, false},
        {"Previous (A)", ":/icons/chevron-left.svg", &ToolBar::prevClicked, false},
        {"Play Slideshow", ":/icons/play.svg", &ToolBar::playClicked, false},
        {"Next (D)", ":/icons/chevron-right.svg", &ToolBar::nextClicked, false},
        {"Jump Forward", ":/icons/fast-forward.svg", &ToolBar::fastForwardClicked, false},
        {"Last Image", ":/icons/skip-next.svg", &ToolBar::skipNextClicked, false},
    };
    for (const ButtonSpec &spec : specs) {
        QPushButton *b = makeButton(QString::fromLatin1(spec.icon), QString::fromUtf8(spec.toolTip));
        connect(b, &QPushButton::clicked, this, spec.signal);
        if (spec.separatorAfter)
            addSeparator();
    }
    layout->addStretch();

    combo = new QComboBox(this);
    combo->addItem(QIcon(), QStringLiteral("Light"), int(Theme::Light));
    combo->addItem(QIcon(), QStringLiteral("Dark"), int(Theme::Dark));
    combo->setCurrentIndex(0);
    combo->setFixedWidth(72);
    combo->setToolTip(QStringLiteral("UI Theme"));
    layout->addWidget(combo);
    connect(combo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            emit themeChanged(Theme::Mode(combo->itemData(index).toInt()));
    });
    layout->addSpacing(4);

    connect(makeButton(QStringLiteral(":/icons/settings.svg"), QStringLiteral("Settings")),
            &QPushButton::clicked, this, &ToolBar::settingsClicked);
    connect(makeButton(QStringLiteral(":/icons/help.svg"), QStringLiteral("Shortcuts Reference (F2)")),
            &QPushButton::clicked, this, &ToolBar::helpClicked);

    updateIcons();
}

QPushButton *ToolBar::makeButton(const QString &iconPath, const QString &toolTip)
{
    auto *b = new QPushButton(this);
    b->setObjectName(QStringLiteral("toolBarBtn"));
    b->setToolTip(toolTip);
    b->setFixedSize(30, 30);
    b->setIconSize(QSize(iconSize, iconSize));
    // A click leaves the keyboard focus where it was (the canvas keeps its keys,
    // and Space never repeats the last command).
    b->setFocusPolicy(Qt::NoFocus);
    HoverTint::install(b);
    entries.append({b, iconPath});
    layout()->addWidget(b);
    return b;
}

void ToolBar::addSeparator()
{
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setObjectName(QStringLiteral("toolbarSeparator"));
    layout()->addWidget(line);
}

QPushButton *ToolBar::button(Button which) const
{
    if (which < 0 || which >= entries.size())
        return nullptr;
    return entries.at(which).button;
}

void ToolBar::setProjectOpen(bool open)
{
    static constexpr Button projectButtons[] = {
        SaveProject, CloseProject, ExportPackage, ImportImages, ImportVideo, ExportDataset,
        SkipPrevious, Rewind, Prev, Play, Next, FastForward, SkipNext,
    };
    for (Button b : projectButtons) {
        if (QPushButton *w = button(b))
            w->setEnabled(open);
    }
    for (Button b : {ImportPackage, ImportDataset}) {
        if (QPushButton *w = button(b))
            w->setEnabled(true);
    }
    projectOpen = open;
    refreshHistoryButtons();
}

void ToolBar::setHistoryAvailable(bool undoable, bool redoable)
{
    canUndo = undoable;
    canRedo = redoable;
    refreshHistoryButtons();
}

void ToolBar::refreshHistoryButtons()
{
    if (QPushButton *w = button(Undo))
        w->setEnabled(projectOpen && canUndo);
    if (QPushButton *w = button(Redo))
        w->setEnabled(projectOpen && canRedo);
}

void ToolBar::setPlaybackEnabled(bool enabled)
{
    for (Button b : {Rewind, Play, FastForward}) {
        if (QPushButton *w = button(b))
            w->setEnabled(enabled);
    }
}

void ToolBar::setTheme(Theme::Mode mode)
{
    dark = mode != Theme::Light;
    updateIcons();
    const int index = combo->findData(int(mode));
    if (index < 0)
        return;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
}

void ToolBar::updateIcons()
{
    for (const Entry &e : entries) {
        const QIcon icon = themedIcon(e.iconPath, iconSize, dark);
        if (!icon.isNull())
            e.button->setIcon(icon);
    }
}

void ToolBar::pulseSaveButton()
{
    QPushButton *save = button(SaveProject);
    if (!save)
        return;
    pulseWidget(save, this);
    new SaveHintBubble(save);
}

} // namespace Quillmark
