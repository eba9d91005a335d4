#include "dialogs/ColorSwatch.h"

#include <QPainter>

namespace Quillmark {

QPixmap makeColorSwatch(const QColor &color, int size)
{
    if (size <= 0)
        return {};
    QPixmap pixmap(size, size);
    pixmap.fill(color);
    QPainter painter(&pixmap);
    painter.setPen(color.darker(150));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, size - 1, size - 1);
    return pixmap;
}

} // namespace Quillmark
