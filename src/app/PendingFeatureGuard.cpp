#include "app/PendingFeatureGuard.h"

#include <QEvent>
#include <QWidget>

namespace Quillmark {

void PendingFeatureGuard::hold(QWidget *widget)
{
    if (!widget)
        return;
    const QString old = widget->toolTip();
    const QString toolTip = old.isEmpty() ? QStringLiteral("Not available yet")
                                          : old + QStringLiteral(" — not available yet");
    new PendingFeatureGuard(widget, toolTip);
}

PendingFeatureGuard::PendingFeatureGuard(QWidget *widget, const QString &toolTip)
    : QObject(widget), widget(widget), toolTip(toolTip)
{
    setObjectName(QStringLiteral("pendingFeatureGuard"));
    widget->installEventFilter(this);
    apply();
}

bool PendingFeatureGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == widget && !applying
        && (event->type() == QEvent::EnabledChange || event->type() == QEvent::ToolTipChange))
        apply();
    return QObject::eventFilter(watched, event);
}

void PendingFeatureGuard::apply()
{
    applying = true;
    if (widget->isEnabled())
        widget->setEnabled(false);
    if (widget->toolTip() != toolTip)
        widget->setToolTip(toolTip);
    applying = false;
}

} // namespace Quillmark
