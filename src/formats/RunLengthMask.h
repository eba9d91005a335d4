#pragma once

#include "formats/AxisMap.h"

#include <QJsonValue>
#include <QRect>
#include <QSize>
#include <QVariant>

#include <optional>
#include <vector>

namespace Quillmark {

// A mask of picture pixels as COCO keeps a crowd region's: "size" [height,
// width] and "counts", the lengths of alternate runs of background and mask
// pixels, column after column, beginning with background; the counts either
// as a list of numbers or as the text the COCO API makes of them (each count,
// from the third on less the count two before it, in groups of five bits,
// each group a character from '0' on with a bit that says whether more
// follow). Held as the mask's runs column by column, so that nothing as large
// as the picture is ever allocated.
class RunLengthMask {
public:
    // One run of mask pixels: column x, rows [top, bottom).
    struct Run {
        int x = 0;
        int top = 0;
        int bottom = 0;
    };

    // Whether the value has the members of such a mask: "counts" and a "size"
    // of two numbers (what COCO's loaders look at before they decode it).
    static bool hasMaskMembers(const QJsonValue &value);

    // The mask of a "segmentation" object as read from a file (a map of
    // "counts" and "size"); nothing when it is no such mask: a size that is
    // not two whole numbers above 0, counts that are not whole numbers of 0
    // or more, text that does not decode, or runs longer than the picture.
    // Runs shorter than the picture leave the rest background.
    static std::optional<RunLengthMask> read(const QVariant &segmentation);

    // The mask as COCO writes it, its counts in the form it was read in.
    QVariant toVariant() const;
    // The counts as the COCO API's text.
    QString countsText() const;

    // width x height of the picture the mask covers.
    QSize size() const { return QSize(width, height); }
    // Mask pixels.
    qint64 area() const;
    // The bounds of the mask pixels; empty when there are none.
    QRect bounds() const;
    // The runs of mask pixels, column by column, top to bottom.
    const std::vector<Run> &runs() const { return maskRuns; }

    // The mask moved and scaled by `map`, on a picture of `size`: each pixel
    // takes the value of the pixel its centre comes from. Pixels mapped
    // beyond the picture are lost.
    RunLengthMask mapped(const AxisMap &map, QSize size) const;

private:
    RunLengthMask(int width, int height) : width(width), height(height) {}
    void appendRun(int x, int top, int bottom);
    std::vector<qint64> counts() const;
    static std::optional<std::vector<qint64>> decodeText(const QByteArray &text);

    int width = 0;
    int height = 0;
    bool compressed = false;
    std::vector<Run> maskRuns;
};

} // namespace Quillmark
