#include "ai/Detection.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace Quillmark {

float boxIoU(const QRectF &a, const QRectF &b)
{
    const QRectF intersection = a.intersected(b);
    if (intersection.isEmpty())
        return 0.0f;
    const float inter = float(intersection.width() * intersection.height());
    const float unionArea = float(a.width() * a.height() + b.width() * b.height()) - inter;
    return unionArea > 0.0f ? inter / unionArea : 0.0f;
}

std::vector<int> nmsSurvivors(const QList<Detection> &detections, float iouThreshold)
{
    std::vector<int> order(size_t(detections.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int l, int r) {
        return detections[l].score > detections[r].score;
    });

    // Greedy suppression in score order: a detection survives when no earlier
    // survivor of its class overlaps it too much. Comparing only against the
    // survivors of the same class gives the same result as suppressing forward
    // from each survivor, without touching other classes' boxes.
    QHash<int, std::vector<int>> survivorsByClass;
    std::vector<int> kept;
    kept.reserve(order.size());
    for (int index : order) {
        const Detection &candidate = detections[index];
        std::vector<int> &sameClass = survivorsByClass[candidate.classId];
        const bool suppressed = std::any_of(sameClass.begin(), sameClass.end(), [&](int k) {
            return boxIoU(detections[k].box, candidate.box) > iouThreshold;
        });
        if (suppressed)
            continue;
        sameClass.push_back(index);
        kept.push_back(index);
    }
    return kept;
}

QList<Detection> nmsPerClass(const QList<Detection> &detections, float iouThreshold)
{
    QList<Detection> result;
    const std::vector<int> kept = nmsSurvivors(detections, iouThreshold);
    result.reserve(qsizetype(kept.size()));
    for (int index : kept)
        result.append(detections[index]);
    return result;
}

} // namespace Quillmark

