#include "ai/PoseDecoding.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Quillmark {

namespace {

constexpr int64_t firstKeypointRow = 5;
// A keypoint this far above the threshold counts as plainly visible.
constexpr float visibleMargin = 0.4f;

constexpr int palmValuesPerAnchor = 18;
constexpr int palmKeypointCount = 7;
constexpr float palmLogitLimit = 50.0f;

int visibilityOf(float score, float threshold)
{
    if (!(score >= threshold))
        return 0;
    return score >= threshold + visibleMargin ? 2 : 1;
}

} // namespace

QList<PosePerson> decodePoseRows(std::span<const float> rows, int keypointCount, int64_t n,
                                 const LetterboxMapping &mapping, float confThreshold, float keypointThreshold)
{
    QList<PosePerson> persons;
    if (keypointCount < 1)
        return persons;
    const int64_t nFeat = firstKeypointRow + 3 * int64_t(keypointCount);
    const DecodedCandidates candidates = decodeScoredBoxes(rows, nFeat, n, mapping, confThreshold);
    persons.reserve(std::max<qsizetype>(32, candidates.detections.size()));
    const float *v = rows.data();
    for (qsizetype d = 0; d < candidates.detections.size(); ++d) {
        const int64_t column = candidates.columns[size_t(d)];
        const auto at = [v, n, column](int64_t row) { return v[size_t(row * n + column)]; };
        PosePerson person;
        person.box = candidates.detections[d].box;
        person.score = candidates.detections[d].score;
        person.keypoints.reserve(keypointCount);
        for (int k = 0; k < keypointCount; ++k) {
            const int64_t row = firstKeypointRow + 3 * int64_t(k);
            const QPointF p = mapPointToPicture(at(row), at(row + 1), mapping);
            const float score = at(row + 2);
            person.keypoints.append({float(p.x()), float(p.y()), std::isfinite(score) ? score : 0.0f,
                                     visibilityOf(score, keypointThreshold)});
        }
        persons.append(person);
    }
    return persons;
}

std::vector<QPointF> palmAnchors(int inputWidth)
{
    constexpr std::array<std::pair<int, int>, 3> layers{{{8, 2}, {16, 2}, {32, 6}}};
    std::vector<QPointF> anchors;
    for (const auto &[stride, perCell] : layers) {
        const int grid = inputWidth / stride;
        if (grid <= 0)
            continue;
        for (int j = 0; j < grid; ++j) {
            for (int k = 0; k < grid; ++k) {
                const QPointF centre((k + 0.5f) / float(grid), (j + 0.5f) / float(grid));
                anchors.insert(anchors.end(), size_t(perCell), centre);
            }
        }
    }
    return anchors;
}

QList<PosePerson> decodePalms(std::span<const float> regression, std::span<const float> scores,
                              const std::vector<QPointF> &anchors, int inputWidth, int inputHeight,
                              const LetterboxMapping &mapping, float confThreshold)
{
    QList<PosePerson> hands;
    const size_t count = anchors.size();
    if (inputWidth <= 0 || scores.size() < count || regression.size() / palmValuesPerAnchor < count)
        return hands;
    const float size = float(inputWidth);
    const float width = float(inputWidth);
    const float height = float(inputHeight);
    for (size_t a = 0; a < count; ++a) {
        const float logit = std::clamp(scores[a], -palmLogitLimit, palmLogitLimit);
        const float score = 1.0f / (1.0f + std::exp(-logit));
        if (!(score >= confThreshold))
            continue;
        const float *r = regression.data() + a * palmValuesPerAnchor;
        const float ax = float(anchors[a].x());
        const float ay = float(anchors[a].y());
        const float cx = (r[0] / size + ax) * width;
        const float cy = (r[1] / size + ay) * height;
        const float halfWidth = (r[2] / size) * width / 2;
        const float halfHeight = (r[3] / size) * height / 2;
        const QRectF box = mapBoxToPicture(cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight, mapping);
        if (box.isNull())
            continue;
        PosePerson hand;
        hand.box = box;
        hand.score = score;
        hand.keypoints.reserve(palmKeypointCount);
        for (int k = 0; k < palmKeypointCount; ++k) {
            const QPointF p =
                mapPointToPicture((r[4 + 2 * k] / size + ax) * width, (r[5 + 2 * k] / size + ay) * height, mapping);
            hand.keypoints.append({float(p.x()), float(p.y()), score, 2});
        }
        hands.append(hand);
    }
    return hands;
}

} // namespace Quillmark
