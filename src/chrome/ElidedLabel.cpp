#include "chrome/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

namespace Quillmark {

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    const QRect area = contentsRect();
    const QString full = text();
    const QString shown = fontMetrics().elidedText(full, Qt::ElideMiddle, area.width());
    const QString tip = shown == full ? QString() : full;
    if (toolTip() != tip)
        setToolTip(tip);
    QPainter painter(this);
    style()->drawItemText(&painter, area, int(alignment()) | Qt::TextSingleLine, palette(), isEnabled(), shown,
                          foregroundRole());
}

} // namespace Quillmark
