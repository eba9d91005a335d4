#pragma once

#include "ai/Detection.h"
#include "ai/ImagePreprocessing.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QStringList>

#include <cstdint>
#include <span>
#include <vector>

namespace Quillmark {

// Mapping from model (letterbox) pixels back to the source picture, and the
// picture's size that results are clamped to.
struct LetterboxMapping {
    float scale = 1.0f;
    int padX = 0;
    int padY = 0;
    int imageWidth = 0;
    int imageHeight = 0;
};

// The mapping of a letterbox made from a picture of `pictureSize`.
LetterboxMapping letterboxMapping(const LetterboxResult &letterbox, QSize pictureSize);

// A point in model pixels mapped back to the picture and clamped to it. A
// non-finite coordinate gives 0.
QPointF mapPointToPicture(float u, float v, const LetterboxMapping &mapping);

// The box (x1, y1) - (x2, y2) in model pixels mapped back to the picture and
// clamped to it; a null rectangle when nothing of it is left or a corner is not
// finite.
QRectF mapBoxToPicture(float x1, float y1, float x2, float y2, const LetterboxMapping &mapping);

// The candidates of a YOLO-style output that pass the confidence threshold, in
// output order, with what instance segmentation needs of each.
struct DecodedCandidates {
    QList<Detection> detections;        // boxes in source-picture pixels, clamped
    std::vector<int64_t> columns;       // output column of each detection
    std::vector<QRectF> letterboxBoxes; // (cx - w/2, cy - h/2, w, h), model pixels
};

// Decodes a row-major [nFeat, n] block: rows 0-3 box centre x, centre y, width
// and height in model pixels, rows 4 to 4 + classCount - 1 class scores; further
// rows (mask coefficients) are not read. A candidate passes when its best score
// is at least confThreshold (ties between classes keep the lower id); boxes are
// mapped back to the picture and clamped, and empty ones dropped. Candidates with
// non-finite box values are dropped. Nothing is decoded when `output` holds fewer
// than nFeat * n values or the class rows do not fit in nFeat.
DecodedCandidates decodeCandidates(std::span<const float> output, int64_t nFeat, int64_t n, int64_t classCount,
                                   const LetterboxMapping &mapping, float confThreshold, const QStringList &classNames);

// The same for a one-class output whose row 4 is the score (face and pose
// models): candidates whose score is at least confThreshold, unnamed.
DecodedCandidates decodeScoredBoxes(std::span<const float> output, int64_t nFeat, int64_t n,
                                    const LetterboxMapping &mapping, float confThreshold);

// Instance masks of YOLO-style segmentation: 32 prototype planes at a quarter of
// the model's input size (160 x 160 cells at 640 x 640, 80 x 80 at 320, ...).
constexpr int maskCoefficientCount = 32;
// The planes of a 640 x 640 model.
constexpr int maskSize = 160;
constexpr int64_t prototypeValueCount = int64_t(maskCoefficientCount) * maskSize * maskSize;

// The prototype planes of a model: their size in cells and the model pixels
// one cell covers.
struct PrototypeGrid {
    int width = maskSize;
    int height = maskSize;
    float cellWidth = 4.0f;
    float cellHeight = 4.0f;

    size_t planeSize() const { return size_t(width) * size_t(height); }
    size_t valueCount() const { return planeSize() * maskCoefficientCount; }
};
// The grid of planes of width x height cells over an input of inputWidth x
// inputHeight pixels.
PrototypeGrid prototypeGridFor(int width, int height, int inputWidth, int inputHeight);

// Mask cells covered by a box in model pixels: columns x0 to x1 - 1, rows y0 to
// y1 - 1, all within the grid. The box is the model's own, before any clamping
// to the picture: mask rows in the padding still belong to the crop.
struct MaskCrop {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
};
MaskCrop maskCropForBox(const QRectF &letterboxBox, const PrototypeGrid &grid = {});

// The instance's mask, sigmoid(sum over k of coefficient k x prototype plane k),
// as grid.width x grid.height floats in row order. Only the cells of `crop` are
// computed (the outline never looks elsewhere); the others stay 0. Nothing is
// computed when `prototypes` holds fewer than grid.valueCount() values.
std::vector<float> instanceMask(std::span<const float> prototypes,
                                std::span<const float, maskCoefficientCount> coefficients, const MaskCrop &crop,
                                const PrototypeGrid &grid = {});

// The outline of one instance in source-picture pixels: the row-run trace of its
// mask over the crop, simplified with tolerance 2.
QList<QPointF> instanceOutline(std::span<const float> prototypes,
                               std::span<const float, maskCoefficientCount> coefficients, const QRectF &letterboxBox,
                               const LetterboxMapping &mapping, const PrototypeGrid &grid = {});

} // namespace Quillmark
