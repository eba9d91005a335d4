#pragma once

#include <QStyledItemDelegate>

namespace Quillmark {

// Item delegate of the image list: a row is exactly as wide as its text plus
// its icon plus 14 px, so the horizontal scroll bar reaches the end of long
// file names.
class ExactWidthDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace Quillmark
