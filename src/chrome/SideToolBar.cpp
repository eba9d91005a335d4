#include "chrome/SideToolBar.h"

#include "chrome/HoverTint.h"
#include "chrome/IconHelpers.h"
#include "chrome/ToolTable.h"

#include <QButtonGroup>
#include <QFrame>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

constexpr int iconSize = 18;

// Like themedIcon, but also fills the checked (On) state so the active tool
// stands out.
QIcon sideToolIcon(const QString &path, bool dark)
{
    struct Entry {
        QIcon::Mode mode;
        QIcon::State state;
        const char *darkColor;
        const char *lightColor;
    };
    static constexpr Entry entries[] = {
        {QIcon::Normal, QIcon::Off, "#f4f4f4", "#3a3a3a"},
        {QIcon::Normal, QIcon::On, "#ffffff", "#000000"},
        {QIcon::Active, QIcon::Off, "#ffffff", "#000000"},
        {QIcon::Active, QIcon::On, "#ffffff", "#000000"},
        {QIcon::Disabled, QIcon::Off, "#747474", "#b0b0b0"},
    };
    QIcon icon;
    for (const Entry &e : entries) {
        const QPixmap pixmap = renderSvgIcon(path, iconSize, QColor(dark ? e.darkColor : e.lightColor));
        if (!pixmap.isNull())
            icon.addPixmap(pixmap, e.mode, e.state);
    }
    return icon;
}

} // namespace

SideToolBar::SideToolBar(QWidget *parent)
    : QWidget(parent)
    , group(new QButtonGroup(this))
{
    qRegisterMetaType<Quillmark::Tool>("Quillmark::Tool");
    group->setExclusive(true);
    setFixedWidth(52);
    setObjectName(QStringLiteral("sideToolBar"));
    setAttribute(Qt::WA_StyledBackground, true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 10, 7, 10);
    layout->setSpacing(2);
    layout->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    for (const ToolTableRow &row : toolTable) {
        if (row.separatorBefore) {
            auto *line = new QFrame(this);
            line->setObjectName(QStringLiteral("toolbarSeparator"));
            line->setFrameShape(QFrame::HLine);
            layout->addWidget(line);
        }
        auto *button = new QPushButton(this);
        button->setObjectName(QStringLiteral("sideToolBtn"));
        button->setCheckable(true);
        button->setToolTip(QString::fromUtf8(row.toolTip));
        button->setFixedSize(38, 38);
        button->setIconSize(QSize(iconSize, iconSize));
        button->setFocusPolicy(Qt::NoFocus);
        HoverTint::install(button);
        buttons.append({button, QString::fromLatin1(row.icon)});
        group->addButton(button, int(row.tool));
        layout->addWidget(button, 0, Qt::AlignHCenter);
    }
    layout->addStretch();
    updateIcons();

    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        currentTool = id;
        emit toolChanged(Tool(id));
    });
    if (QAbstractButton *select = group->button(int(Tool::Select)))
        select->setChecked(true);
}

SideToolBar::~SideToolBar() = default;

QPushButton *SideToolBar::button(int tool) const
{
    return qobject_cast<QPushButton *>(group->button(tool));
}

void SideToolBar::setTool(int tool)
{
    currentTool = tool;
    if (QAbstractButton *b = group->button(tool))
        b->setChecked(true);
}

void SideToolBar::setProjectType(const QString &type)
{
    if (type.isEmpty()) {
        for (const auto &[button, path] : buttons) {
            button->setEnabled(false);
            button->setToolTip(QString());
        }
        return;
    }
    for (size_t i = 0; i < toolTable.size() && i < size_t(buttons.size()); ++i) {
        const bool allowed = isToolAllowed(type, int(toolTable[i].tool));
        QPushButton *button = buttons.at(qsizetype(i)).first;
        button->setEnabled(allowed);
        button->setToolTip(allowed ? QString::fromUtf8(toolTable[i].toolTip) : QString());
    }
    const bool knownType = allowedToolsByProjectType().contains(type);
    if (knownType && !isToolAllowed(type, currentTool)) {
        currentTool = int(Tool::Select);
        if (QAbstractButton *select = group->button(currentTool))
            select->setChecked(true);
        emit toolChanged(Tool::Select);
    }
}

void SideToolBar::setDark(bool value)
{
    dark = value;
    updateIcons();
}

void SideToolBar::updateIcons()
{
    for (const auto &[button, path] : buttons) {
        const QIcon icon = sideToolIcon(path, dark);
        if (!icon.isNull())
            button->setIcon(icon);
    }
}

} // namespace Quillmark
