#include "formats/KeypointObjectPairing.h"

#include "formats/AnnotationGeometry.h"
#include "model/AnnotationKind.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace Quillmark {

namespace {

// How far a labelled point may lie outside its box and still belong to it:
// points are drawn on the box's edge as often as inside it.
constexpr double kEdgeSlack = 1.0;

bool hasKeypointSets(const Dataset &dataset)
{
    for (const ImageEntry &image : dataset.images) {
        for (const Annotation &a : image.labels) {
            if (a.kind == Keypoint)
                return true;
        }
    }
    return false;
}

bool holdsLabelledPoints(const QRectF &box, const Annotation &set)
{
    const QRectF area = box.normalized().adjusted(-kEdgeSlack, -kEdgeSlack, kEdgeSlack, kEdgeSlack);
    bool any = false;
    for (qsizetype i = 0; i < set.points.size(); ++i) {
        if (i < set.keypointVis.size() && set.keypointVis.at(i) <= 0)
            continue;
        if (!area.contains(set.points.at(i)))
            return false;
        any = true;
    }
    return any;
}

double boxArea(const QRectF &box)
{
    return std::abs(box.width() * box.height());
}

// The box of `boxes` (indices into labels, not yet taken) for the set: its
// own class first, then the smallest. -1 when none holds it.
int boxForSet(const QList<Annotation> &labels, const QList<int> &boxes, const QList<bool> &taken,
              const Annotation &set)
{
    int best = -1;
    for (int k = 0; k < boxes.size(); ++k) {
        if (taken.at(k))
            continue;
        const Annotation &box = labels.at(boxes.at(k));
        if (!holdsLabelledPoints(box.bbox, set))
            continue;
        if (best < 0) {
            best = k;
            continue;
        }
        const Annotation &current = labels.at(boxes.at(best));
        const bool ownClass = box.className == set.className;
        const bool currentOwnClass = current.className == set.className;
        if (ownClass != currentOwnClass ? ownClass : boxArea(box.bbox) < boxArea(current.bbox))
            best = k;
    }
    return best;
}

// Pairs the sets of one image: each set takes its box's rectangle and the
// box is dropped. The positions (in the result) of the boxes left over are
// appended to `leftOver`; the classes of the boxes paired join
// `pairedClasses`.
QList<Annotation> pairImage(const QList<Annotation> &labels, QSet<QString> &pairedClasses, QList<int> *leftOver,
                            bool boxesOnly)
{
    QList<int> boxes;
    for (int i = 0; i < labels.size(); ++i) {
        if (labels.at(i).kind == BoundingBox)
            boxes.append(i);
    }
    QList<bool> taken(boxes.size(), false);
    QHash<int, int> boxOfSet; // label index of a set -> label index of its box
    for (int i = 0; i < labels.size(); ++i) {
        if (labels.at(i).kind != Keypoint)
            continue;
        const int k = boxForSet(labels, boxes, taken, labels.at(i));
        if (k < 0)
            continue;
        taken[k] = true;
        boxOfSet.insert(i, boxes.at(k));
        pairedClasses.insert(labels.at(boxes.at(k)).className);
    }
    QSet<int> dropped;
    if (boxesOnly) {
        for (auto it = boxOfSet.cbegin(); it != boxOfSet.cend(); ++it)
            dropped.insert(it.key());
    } else {
        for (int box : std::as_const(boxOfSet))
            dropped.insert(box);
    }
    QList<Annotation> out;
    out.reserve(labels.size() - dropped.size());
    for (int i = 0; i < labels.size(); ++i) {
        if (dropped.contains(i))
            continue;
        if (labels.at(i).kind == BoundingBox)
            leftOver->append(int(out.size()));
        out.append(labels.at(i));
        if (!boxesOnly && boxOfSet.contains(i))
            out.last().bbox = labels.at(boxOfSet.value(i)).bbox.normalized();
    }
    return out;
}

Annotation unlabelledSet(const Annotation &box, int keypointCount)
{
    Annotation a = box;
    a.kind = Keypoint;
    a.bbox = box.bbox.normalized();
    a.points = QList<QPointF>(keypointCount, QPointF());
    a.keypointVis = QList<int>(keypointCount, 0);
    return a;
}

} // namespace

Dataset withPairedKeypointObjects(const Dataset &dataset, bool boxesOnly)
{
    if (!hasKeypointSets(dataset) && !dataset.keypointSchema.isInUse())
        return dataset;
    Dataset paired = dataset;
    QSet<QString> keypointClasses;
    QList<QList<int>> leftOvers(paired.images.size());
    for (qsizetype i = 0; i < paired.images.size(); ++i) {
        ImageEntry &image = paired.images[i];
        for (const Annotation &a : image.labels) {
            if (a.kind == Keypoint)
                keypointClasses.insert(a.className);
        }
        image.labels = pairImage(image.labels, keypointClasses, &leftOvers[i], boxesOnly);
    }
    if (boxesOnly)
        return paired;
    const KeypointSchema &schema = dataset.keypointSchema;
    if (!schema.objectClass.isEmpty())
        keypointClasses.insert(schema.objectClass);
    const int keypointCount = std::max(largestKeypointCount(dataset), int(schema.keypointNames.size()));
    if (keypointCount == 0)
        return paired;
    // A box of a keypoint class without a set: the object with no point
    // labelled, so that a face without landmarks is not lost.
    for (qsizetype i = 0; i < paired.images.size(); ++i) {
        QList<Annotation> &labels = paired.images[i].labels;
        for (int at : std::as_const(leftOvers.at(i))) {
            const Annotation &box = labels.at(at);
            if (keypointClasses.contains(box.className))
                labels[at] = unlabelledSet(box, keypointCount);
        }
    }
    return paired;
}

KeypointPairing keypointPairingOf(const QString &format, bool writesYoloLines)
{
    static const QStringList keepsShapesApart = {QStringLiteral("LabelMe"), QStringLiteral("CVAT XML"),
                                                 QStringLiteral("QuillPackage"), QStringLiteral("CLIP"),
                                                 QStringLiteral("Multiclass")};
    if (keepsShapesApart.contains(format))
        return KeypointPairing::KeepApart;
    if (writesYoloLines || format == QLatin1String("COCO") || format == QLatin1String("YOLO Pose"))
        return KeypointPairing::JoinIntoSet;
    return KeypointPairing::BoxOnly;
}

} // namespace Quillmark
