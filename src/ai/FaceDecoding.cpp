#include "ai/FaceDecoding.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

constexpr int64_t firstLandmarkRow = 5;
constexpr int64_t rowsWithLandmarks = firstLandmarkRow + 3 * FaceDetection::landmarkCount;

constexpr int64_t binsPerSide = 16;
constexpr int64_t logitChannel = 4 * binsPerSide;
constexpr int64_t firstLandmarkChannel = logitChannel + 1;
constexpr int64_t gridChannels = firstLandmarkChannel + 3 * FaceDetection::landmarkCount;

float sigmoid(float v)
{
    return 1.0f / (1.0f + std::exp(-v));
}

float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

// The softmax expectation of 16 bins read `step` values apart: the side's
// distance in cells. NaN when a bin is not finite.
float binExpectation(const float *bins, size_t step)
{
    float largest = bins[0];
    for (int64_t i = 1; i < binsPerSide; ++i)
        largest = std::max(largest, bins[size_t(i) * step]);
    float weighted = 0.0f;
    float total = 0.0f;
    for (int64_t i = 0; i < binsPerSide; ++i) {
        const float e = std::exp(bins[size_t(i) * step] - largest);
        weighted += float(i) * e;
        total += e;
    }
    if (!std::isfinite(total) || !std::isfinite(weighted))
        return std::numeric_limits<float>::quiet_NaN();
    return total > 0.0f ? weighted / total : 0.0f;
}

} // namespace

QList<FaceDetection> decodeFaceRows(std::span<const float> rows, int64_t nFeat, int64_t n,
                                    const LetterboxMapping &mapping, float confThreshold)
{
    QList<FaceDetection> faces;
    const DecodedCandidates candidates = decodeScoredBoxes(rows, nFeat, n, mapping, confThreshold);
    faces.reserve(std::max<qsizetype>(64, candidates.detections.size()));
    const bool withLandmarks = nFeat == rowsWithLandmarks;
    const float *v = rows.data();
    for (qsizetype d = 0; d < candidates.detections.size(); ++d) {
        const int64_t column = candidates.columns[size_t(d)];
        const auto at = [v, n, column](int64_t row) { return v[size_t(row * n + column)]; };
        FaceDetection face;
        face.box = candidates.detections[d].box;
        face.score = candidates.detections[d].score;
        face.hasLandmarks = withLandmarks;
        for (int k = 0; withLandmarks && k < FaceDetection::landmarkCount; ++k) {
            const int64_t row = firstLandmarkRow + 3 * k;
            const QPointF p = mapPointToPicture(at(row), at(row + 1), mapping);
            face.landmarks[size_t(k)] = {float(p.x()), float(p.y()), finiteOrZero(at(row + 2))};
        }
        faces.append(face);
    }
    return faces;
}

void decodeFaceGrid(std::span<const float> values, int64_t channels, int64_t gridH, int64_t gridW, float strideX,
                    float strideY, const LetterboxMapping &mapping, float confThreshold, QList<FaceDetection> &faces)
{
    if (channels < gridChannels || gridH <= 0 || gridW <= 0)
        return;
    const uint64_t plane = uint64_t(gridH) * uint64_t(gridW);
    if (plane > values.size() / uint64_t(channels))
        return;
    const float *logits = values.data() + size_t(logitChannel) * plane;
    for (int64_t r = 0; r < gridH; ++r) {
        for (int64_t c = 0; c < gridW; ++c) {
            const size_t cell = size_t(r * gridW + c);
            const float score = sigmoid(logits[cell]);
            if (!(score >= confThreshold))
                continue;
            const float *at = values.data() + cell; // channel k of this cell: at[k * plane]
            float side[4];
            for (int s = 0; s < 4; ++s)
                side[s] = binExpectation(at + size_t(s * binsPerSide) * plane, plane);
            const float ax = float(c) + 0.5f;
            const float ay = float(r) + 0.5f;
            const QRectF box = mapBoxToPicture((ax - side[0]) * strideX, (ay - side[1]) * strideY,
                                               (ax + side[2]) * strideX, (ay + side[3]) * strideY, mapping);
            if (box.isNull())
                continue;
            FaceDetection face;
            face.box = box;
            face.score = score;
            face.hasLandmarks = true;
            for (int k = 0; k < FaceDetection::landmarkCount; ++k) {
                const size_t base = size_t(firstLandmarkChannel + 3 * k) * plane;
                const float x = (2.0f * at[base] + float(c)) * strideX;
                const float y = (2.0f * at[base + plane] + float(r)) * strideY;
                const QPointF p = mapPointToPicture(x, y, mapping);
                face.landmarks[size_t(k)] = {float(p.x()), float(p.y()), finiteOrZero(sigmoid(at[base + 2 * plane]))};
            }
            faces.append(face);
        }
    }
}

} // namespace Quillmark
