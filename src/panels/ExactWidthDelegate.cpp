#include "panels/ExactWidthDelegate.h"

#include <QFontMetrics>

namespace Quillmark {

QSize ExactWidthDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const int exact = option.fontMetrics.horizontalAdvance(text) + option.decorationSize.width() + 14;
    // Under a style sheet the item's padding and border and the style's own
    // margins come on top of the text. The base hint counts them for the state it
    // is asked about; a selected row carries a border as well, so that state is
    // measured too and the widest wins: the name is never cut, whatever the row's
    // state, once the list is scrolled to it.
    QStyleOptionViewItem selected(option);
    selected.state |= QStyle::State_Selected;
    const int styled = qMax(size.width(), QStyledItemDelegate::sizeHint(selected, index).width());
    size.setWidth(qMax(exact, styled));
    return size;
}

} // namespace Quillmark
