#include "ai/DetectionDecoding.h"

#include "ai/OutlineTracing.h"

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

float clampTo(float value, float upper)
{
    return std::max(std::min(value, upper), 0.0f);
}

QString classNameFor(int classId, const QStringList &classNames)
{
    if (classId < classNames.size())
        return classNames.at(classId);
    return QStringLiteral("cls_%1").arg(classId);
}

// Integer part of a model-pixel coordinate in mask cells, kept within [0, upper]
// before the conversion so that no huge or non-finite value reaches it.
int maskCell(float value, int upper)
{
    if (!(value > 0.0f))
        return 0;
    return int(std::min(value, float(upper)));
}

} // namespace

LetterboxMapping letterboxMapping(const LetterboxResult &letterbox, QSize pictureSize)
{
    LetterboxMapping mapping;
    mapping.scale = letterbox.scale;
    mapping.padX = letterbox.padX;
    mapping.padY = letterbox.padY;
    mapping.imageWidth = pictureSize.width();
    mapping.imageHeight = pictureSize.height();
    return mapping;
}

QPointF mapPointToPicture(float u, float v, const LetterboxMapping &mapping)
{
    const float x = (u - float(mapping.padX)) / mapping.scale;
    const float y = (v - float(mapping.padY)) / mapping.scale;
    return QPointF(std::isfinite(x) ? clampTo(x, float(mapping.imageWidth)) : 0.0f,
                   std::isfinite(y) ? clampTo(y, float(mapping.imageHeight)) : 0.0f);
}

QRectF mapBoxToPicture(float x1, float y1, float x2, float y2, const LetterboxMapping &mapping)
{
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return {};
    const QPointF topLeft = mapPointToPicture(x1, y1, mapping);
    const QPointF bottomRight = mapPointToPicture(x2, y2, mapping);
    if (!(topLeft.x() < bottomRight.x()) || !(topLeft.y() < bottomRight.y()))
        return {};
    return QRectF(topLeft, bottomRight);
}

DecodedCandidates decodeCandidates(std::span<const float> output, int64_t nFeat, int64_t n, int64_t classCount,
                                   const LetterboxMapping &mapping, float confThreshold, const QStringList &classNames)
{
    DecodedCandidates result;
    if (nFeat < 5 || n <= 0 || classCount < 1 || classCount > nFeat - 4)
        return result;
    if (uint64_t(n) > output.size() / uint64_t(nFeat))
        return result;
    result.detections.reserve(256);
    result.columns.reserve(256);
    result.letterboxBoxes.reserve(256);

    const float *rows = output.data();
    const float imageWidth = float(mapping.imageWidth);
    const float imageHeight = float(mapping.imageHeight);
    for (int64_t j = 0; j < n; ++j) {
        float best = 0.0f;
        int bestClass = 0;
        for (int64_t c = 0; c < classCount; ++c) {
            const float score = rows[(4 + c) * n + j];
            if (score > best) {
                best = score;
                bestClass = int(c);
            }
        }
        if (confThreshold > best)
            continue;

        const float cx = rows[j];
        const float cy = rows[n + j];
        const float w = rows[2 * n + j];
        const float h = rows[3 * n + j];
        if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(w) || !std::isfinite(h))
            continue;
        const float x1 = clampTo((cx - w / 2 - float(mapping.padX)) / mapping.scale, imageWidth);
        const float y1 = clampTo((cy - h / 2 - float(mapping.padY)) / mapping.scale, imageHeight);
        const float x2 = clampTo((cx + w / 2 - float(mapping.padX)) / mapping.scale, imageWidth);
        const float y2 = clampTo((cy + h / 2 - float(mapping.padY)) / mapping.scale, imageHeight);
        if (!(x1 < x2) || !(y1 < y2))
            continue;

        Detection detection;
        detection.classId = bestClass;
        detection.className = classNameFor(bestClass, classNames);
        detection.score = best;
        detection.box = QRectF(x1, y1, x2 - x1, y2 - y1);
        result.detections.append(detection);
        result.columns.push_back(j);
        result.letterboxBoxes.emplace_back(cx - w / 2, cy - h / 2, w, h);
    }
    return result;
}

DecodedCandidates decodeScoredBoxes(std::span<const float> output, int64_t nFeat, int64_t n,
                                    const LetterboxMapping &mapping, float confThreshold)
{
    static const QStringList unnamed{QString()};
    return decodeCandidates(output, nFeat, n, 1, mapping, confThreshold, unnamed);
}

PrototypeGrid prototypeGridFor(int width, int height, int inputWidth, int inputHeight)
{
    PrototypeGrid grid;
    grid.width = width;
    grid.height = height;
    grid.cellWidth = width > 0 ? float(inputWidth) / float(width) : 0.0f;
    grid.cellHeight = height > 0 ? float(inputHeight) / float(height) : 0.0f;
    return grid;
}

MaskCrop maskCropForBox(const QRectF &letterboxBox, const PrototypeGrid &grid)
{
    MaskCrop crop;
    if (grid.width <= 0 || grid.height <= 0 || !(grid.cellWidth > 0.0f) || !(grid.cellHeight > 0.0f))
        return crop;
    crop.x0 = maskCell(float(letterboxBox.left()) / grid.cellWidth, grid.width - 1);
    crop.y0 = maskCell(float(letterboxBox.top()) / grid.cellHeight, grid.height - 1);
    crop.x1 = maskCell(float(letterboxBox.right()) / grid.cellWidth + 0.5f, grid.width);
    crop.y1 = maskCell(float(letterboxBox.bottom()) / grid.cellHeight + 0.5f, grid.height);
    return crop;
}

std::vector<float> instanceMask(std::span<const float> prototypes,
                                std::span<const float, maskCoefficientCount> coefficients, const MaskCrop &crop,
                                const PrototypeGrid &grid)
{
    if (grid.width <= 0 || grid.height <= 0)
        return {};
    const size_t plane = grid.planeSize();
    std::vector<float> mask(plane, 0.0f);
    if (prototypes.size() < grid.valueCount() || crop.x0 >= crop.x1 || crop.y0 >= crop.y1)
        return mask;
    const int x0 = std::clamp(crop.x0, 0, grid.width);
    const int x1 = std::clamp(crop.x1, 0, grid.width);
    const int y0 = std::clamp(crop.y0, 0, grid.height);
    const int y1 = std::clamp(crop.y1, 0, grid.height);

    for (int r = y0; r < y1; ++r) {
        float *cells = mask.data() + size_t(r) * size_t(grid.width);
        // Sum plane by plane: each cell adds its 32 terms in plane order.
        for (int k = 0; k < maskCoefficientCount; ++k) {
            const float coefficient = coefficients[size_t(k)];
            const float *proto = prototypes.data() + size_t(k) * plane + size_t(r) * size_t(grid.width);
            for (int c = x0; c < x1; ++c)
                cells[c] += coefficient * proto[c];
        }
        for (int c = x0; c < x1; ++c)
            cells[c] = 1.0f / (1.0f + std::exp(-cells[c]));
    }
    return mask;
}

QList<QPointF> instanceOutline(std::span<const float> prototypes,
                               std::span<const float, maskCoefficientCount> coefficients, const QRectF &letterboxBox,
                               const LetterboxMapping &mapping, const PrototypeGrid &grid)
{
    const MaskCrop crop = maskCropForBox(letterboxBox, grid);
    const std::vector<float> mask = instanceMask(prototypes, coefficients, crop, grid);
    if (mask.empty())
        return {};
    return maskRowsToPolygon(mask, grid.width, crop.x0, crop.y0, crop.x1, crop.y1, mapping.scale, mapping.padX,
                             mapping.padY, mapping.imageWidth, mapping.imageHeight, grid.cellWidth, grid.cellHeight);
}

} // namespace Quillmark
