#include "chrome/TopBar.h"

#include "chrome/HintBubble.h"
#include "chrome/IconHelpers.h"
#include "dialogs/WizardTypeTable.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>

#include <QPushButton>

namespace Quillmark {

namespace {

// The hint shown under the type badge when the user tries to draw before a
// project type is chosen.
class TypeHintBubble : public HintBubble {
public:
    explicit TypeHintBubble(QWidget *anchor)
        : HintBubble(anchor, QStringLiteral("Select a project type first"), QStringLiteral("Set Type ▾"),
                     QStringLiteral("color:#c4c4d8;font-size:11px;background:#36364e;"
                                    "border:1px solid #56567a;border-radius:4px;padding:1px 6px;"))
    {
    }
};

struct BadgeColors {
    QString background;
    QString text;
    QString hover;
};

// The badge names a type as the wizard's type page does: every type a project
// can have reads as its name, never as its key. An unknown key shows itself.
QString badgeLabel(const QString &key)
{
    for (const WizardTypeRow &row : wizardTypeTable) {
        if (row.key == key)
            return row.title;
    }
    return key;
}

const QHash<QString, BadgeColors> &badgeColors()
{
    static const QHash<QString, BadgeColors> colors = {
        {QStringLiteral("object_detection"), {"#DBEAFE", "#1D4ED8", "#BFDBFE"}},
        {QStringLiteral("segmentation"), {"#DCFCE7", "#15803D", "#BBF7D0"}},
        {QStringLiteral("semantic_segmentation"), {"#FCE7F3", "#BE185D", "#FBCFE8"}},
        {QStringLiteral("pose"), {"#EDE9FE", "#6D28D9", "#DDD6FE"}},
        {QStringLiteral("face"), {"#FFEDD5", "#C2410C", "#FED7AA"}},
        {QStringLiteral("classification"), {"#CFFAFE", "#0E7490", "#A5F3FC"}},
    };
    return colors;
}

QString badgeStyle(const QString &background, const QString &text, const QString &hover)
{
    return QStringLiteral("QPushButton {  background: %1;  color: %2;  border-radius: 9px;  padding: 2px 9px;  "
                          "font-size: 9px;  font-weight: bold;  border: none;}"
                          "QPushButton:hover { background: %3; }")
        .arg(background, text, hover);
}

QPushButton *windowButton(QWidget *parent, const QString &text, const QString &name, const QString &toolTip)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setToolTip(toolTip);
    b->setFixedSize(36, 30);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

TopBar::TopBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("topBar"));
    setAttribute(Qt::WA_StyledBackground, true);
    setFixedHeight(44);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->setSpacing(0);

    infoLabel = new QLabel(this);
    infoLabel->hide();

    brand = new QPushButton(QStringLiteral("  Quillmark"), this);
    brand->setFlat(true);
    brand->setObjectName(QStringLiteral("brandIcon"));
    brand->setCursor(Qt::PointingHandCursor);
    brand->setFocusPolicy(Qt::NoFocus);
    brand->setToolTip(QStringLiteral("About Quillmark"));
    brand->setStyleSheet(QStringLiteral("QPushButton { font-size:14px; font-weight:800; border:none;              "
                                        "background:transparent; padding:0 4px; }"
                                        "QPushButton:hover { text-decoration:underline; }"));
    brand->setIcon(QIcon(renderSvgPixmap(QStringLiteral(":/icons/logo.svg"), 24)));
    brand->setIconSize(QSize(24, 24));
    layout->addWidget(brand);
    layout->addSpacing(18);

    badge = new QPushButton(this);
    badge->setFlat(true);
    badge->setCursor(Qt::PointingHandCursor);
    badge->setFocusPolicy(Qt::NoFocus);
    // Twice the corner radius, so the rounded ends meet: a pill.
    badge->setFixedHeight(18);
    badge->setToolTip(QStringLiteral("Click to change project type"));
    badge->hide();
    layout->addWidget(badge);
    layout->addSpacing(6);

    nameLabel = new QLabel(this);
    nameLabel->setObjectName(QStringLiteral("topBarProjectName"));
    // The name comes from the project file: shown as written, never as markup.
    nameLabel->setTextFormat(Qt::PlainText);
    nameLabel->setStyleSheet(QStringLiteral("QLabel { font-size:13px; font-weight:800; padding: 0 2px; }"));
    nameLabel->hide();
    layout->addWidget(nameLabel);
    layout->addSpacing(10);
    layout->addStretch(1);
    layout->addSpacing(10);

    minButton = windowButton(this, QStringLiteral("_"), QStringLiteral("windowButton"), QStringLiteral("Minimize"));
    maxButton = windowButton(this, QStringLiteral("[]"), QStringLiteral("windowButton"), QStringLiteral("Maximize"));
    closeBtn = windowButton(this, QStringLiteral("X"), QStringLiteral("closeButton"), QStringLiteral("Close"));
    layout->addWidget(minButton);
    layout->addWidget(maxButton);
    layout->addWidget(closeBtn);

    connect(brand, &QPushButton::clicked, this, &TopBar::aboutRequested);
    connect(badge, &QPushButton::clicked, this, &TopBar::projectTypeChangeRequested);
    connect(minButton, &QPushButton::clicked, this, [this] { window()->showMinimized(); });
    connect(maxButton, &QPushButton::clicked, this, [this] {
        QWidget *w = window();
        if (w->isMaximized()) {
            w->showNormal();
            maxButton->setText(QStringLiteral("[]"));
            maxButton->setToolTip(QStringLiteral("Maximize"));
        } else {
            w->showMaximized();
            maxButton->setText(QStringLiteral("]["));
            maxButton->setToolTip(QStringLiteral("Restore"));
        }
    });
    connect(closeBtn, &QPushButton::clicked, this, [this] { window()->close(); });
}

void TopBar::setHasProject(bool value)
{
    hasProject = value;
    styleTypeBadge();
}

void TopBar::setProjectName(const QString &name)
{
    projectName = name;
    styleTypeBadge();
}

void TopBar::setProjectType(const QString &key)
{
    projectType = key;
    styleTypeBadge();
}

void TopBar::setInfoText(const QString &text)
{
    infoLabel->setText(text);
}

void TopBar::styleTypeBadge()
{
    if (!hasProject) {
        nameLabel->hide();
        badge->hide();
        return;
    }
    if (projectName.isEmpty()) {
        nameLabel->hide();
    } else {
        nameLabel->setText(projectName);
        nameLabel->show();
    }

    if (projectType.isEmpty()) {
        badge->setText(QStringLiteral("Set Type ▾"));
        badge->setStyleSheet(badgeStyle(QStringLiteral("#FEF9C3"), QStringLiteral("#854D0E"),
                                        QStringLiteral("#FDE047")));
    } else {
        badge->setText(badgeLabel(projectType) + QStringLiteral(" ▾"));
        const BadgeColors colors = badgeColors().value(
            projectType, {QStringLiteral("#F0F0F0"), QStringLiteral("#444444"), QStringLiteral("#E0E0E0")});
        badge->setStyleSheet(badgeStyle(colors.background, colors.text, colors.hover));
    }
    badge->show();
}

void TopBar::pulseTypeBadge()
{
    if (!badge->isVisible())
        return;
    pulseWidget(badge, this);
    new TypeHintBubble(badge);
}

void TopBar::toggleMaximized()
{
    QWidget *w = window();
    if (w->isMaximized())
        w->showNormal();
    else
        w->showMaximized();
}

void TopBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging = true;
    dragOffset = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void TopBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    QWidget *w = window();
    if (w->isMaximized()) {
        const double ratio = qMin(1.0, event->position().x() / double(qMax(width(), 1)));
        w->showNormal();
        dragOffset = QPoint(int(w->width() * qMax(ratio, 0.0)), height() / 2);
    }
    w->move(event->globalPosition().toPoint() - dragOffset);
    event->accept();
}

void TopBar::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void TopBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    toggleMaximized();
    event->accept();
}

} // namespace Quillmark
