#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

namespace Quillmark {

// One object found by the detection engine, in source-picture pixels.
struct Detection {
    int classId = 0;
    QString className; // the engine's name for classId, or "cls_<id>"
    float score = 0.0f;
    QRectF box;
};

// One instance found by the instance-segmentation engine: a detection and its
// outline in source-picture pixels (may be empty).
struct SegDetection {
    int classId = 0;
    QString className;
    float score = 0.0f;
    QRectF box;
    QList<QPointF> polygon;
};

// Intersection over union of two boxes; 0 when they do not overlap or the union
// is empty.
float boxIoU(const QRectF &a, const QRectF &b);

// Class-wise non-maximum suppression: the indices of the detections that survive,
// highest score first. A detection is dropped when an earlier survivor of the
// same class overlaps it by an IoU strictly greater than iouThreshold; boxes of
// different classes never suppress each other. Equal scores keep input order.
std::vector<int> nmsSurvivors(const QList<Detection> &detections, float iouThreshold);

// The surviving detections themselves, highest score first.
QList<Detection> nmsPerClass(const QList<Detection> &detections, float iouThreshold);

// The same suppression for results of one class that carry a `box` and a
// `score` (faces, persons): highest score first, a result dropped when a better
// survivor overlaps it by an IoU strictly greater than iouThreshold.
template <typename Result>
QList<Result> suppressOverlaps(const QList<Result> &results, float iouThreshold)
{
    QList<Detection> boxes;
    boxes.reserve(results.size());
    for (const Result &result : results) {
        Detection detection;
        detection.score = result.score;
        detection.box = result.box;
        boxes.append(detection);
    }
    QList<Result> kept;
    for (int index : nmsSurvivors(boxes, iouThreshold))
        kept.append(results[index]);
    return kept;
}

} // namespace Quillmark
