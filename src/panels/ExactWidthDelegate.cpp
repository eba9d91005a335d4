#include "panels/ExactWidthDelegate.h"

#include "panels/FileListModel.h"

#include <QFontMetrics>

namespace Quillmark {

QSize ExactWidthDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const int own = option.fontMetrics.horizontalAdvance(text);
    // A list of uniform rows asks one row for the size of all: that row then
    // answers with the widest of the longest names, measured here, so that no
    // name is cut however far down the list it stands.
    int widest = own;
    for (const QString &name : index.data(FileListModel::LongestNamesRole).toStringList())
        widest = qMax(widest, option.fontMetrics.horizontalAdvance(name));
    const int exact = widest + option.decorationSize.width() + 14;
    // Under a style sheet the item's padding and border and the style's own
    // margins come on top of the text. The base hint counts them for the state it
    // is asked about; a selected row carries a border as well, so that state is
    // measured too and the widest wins: the name is never cut, whatever the row's
    // state, once the list is scrolled to it.
    QStyleOptionViewItem selected(option);
    selected.state |= QStyle::State_Selected;
    const int styled = qMax(size.width(), QStyledItemDelegate::sizeHint(selected, index).width()) + widest - own;
    size.setWidth(qMax(exact, styled));
    return size;
}

} // namespace Quillmark
