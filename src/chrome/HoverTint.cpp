#include "chrome/HoverTint.h"

#include <QAbstractButton>
#include <QEvent>

namespace Quillmark {

HoverTint::HoverTint(QAbstractButton *watchedButton) : QObject(watchedButton), button(watchedButton)
{
    button->installEventFilter(this);
}

void HoverTint::install(QAbstractButton *button)
{
    if (button && !button->findChild<HoverTint *>(QString(), Qt::FindDirectChildrenOnly))
        new HoverTint(button);
}

QIcon HoverTint::hoverVariant(const QIcon &icon, const QSize &size)
{
    QIcon hovered;
    bool changed = false;
    for (const QIcon::State state : {QIcon::Off, QIcon::On}) {
        const QPixmap active = icon.pixmap(size, QIcon::Active, state);
        if (active.isNull())
            return icon;
        changed = changed || active.cacheKey() != icon.pixmap(size, QIcon::Normal, state).cacheKey();
        hovered.addPixmap(active, QIcon::Normal, state);
        hovered.addPixmap(active, QIcon::Active, state);
        hovered.addPixmap(icon.pixmap(size, QIcon::Disabled, state), QIcon::Disabled, state);
    }
    return changed ? hovered : icon;
}

bool HoverTint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == button) {
        switch (event->type()) {
        case QEvent::Enter:
            enter();
            break;
        case QEvent::Leave:
        case QEvent::Hide:
            leave();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void HoverTint::enter()
{
    if (tinted || !button->isEnabled() || button->icon().isNull())
        return;
    ownIcon = button->icon();
    const QIcon hovered = hoverVariant(ownIcon, button->iconSize());
    button->setIcon(hovered);
    shownKey = button->icon().cacheKey();
    tinted = true;
}

void HoverTint::leave()
{
    if (!tinted)
        return;
    tinted = false;
    // An icon set while hovered (the other theme's) stays.
    if (button->icon().cacheKey() == shownKey)
        button->setIcon(ownIcon);
    ownIcon = QIcon();
}

} // namespace Quillmark
