#include "panels/ExactWidthDelegate.h"

#include <QFontMetrics>

namespace Quillmark {

QSize ExactWidthDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    size.setWidth(option.fontMetrics.horizontalAdvance(text) + option.decorationSize.width() + 14);
    return size;
}

} // namespace Quillmark
