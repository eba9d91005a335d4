#pragma once

#include <QStyledItemDelegate>

namespace Quillmark {

// Item delegate of the image list: a row is as wide as its text plus its icon
// plus 14 px, or as the style needs to draw that text uncut (item padding,
// border and margins of the style sheet), so the horizontal scroll bar reaches
// the end of long file names. Where the model offers the longest names of all
// rows, the widest of them sets the width, for a list whose rows share one size.
class ExactWidthDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace Quillmark
