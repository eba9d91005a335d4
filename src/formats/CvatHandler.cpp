#include "formats/CvatHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImportFailure.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/XmlDocumentBytes.h"
#include "model/FiniteNumber.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QHash>
#include <QPolygonF>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace Quillmark {

QString CvatHandler::name() const { return QStringLiteral("CVAT XML"); }
QString CvatHandler::extension() const { return QStringLiteral("xml"); }

namespace {

bool passesHeaderTest(const QString &path)
{
    const QByteArray head = readRegularFileHead(path, 512);
    return head.contains("<annotations") && head.contains("<version");
}

bool holdsImages(const QString &path);

// The XML file to read: the path itself when it names a file, else the first
// XML file of the folder that passes the header test.
QString chooseFile(const QString &path)
{
    if (QFileInfo(path).isFile())
        return path;
    const QStringList candidates = listFiles(path, {QStringLiteral("*.xml")});
    for (const QString &candidate : candidates) {
        if (passesHeaderTest(candidate) && holdsImages(candidate))
            return candidate;
    }
    return {};
}

} // namespace

bool CvatHandler::canImport(const QString &path) const
{
    const QString file = chooseFile(path);
    return !file.isEmpty() && passesHeaderTest(file) && holdsImages(file);
}

QList<QPointF> parseCvatPoints(const QString &text)
{
    QList<QPointF> points;
    const QStringList pieces = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QStringList parts = piece.split(QLatin1Char(','));
        if (parts.size() != 2)
            continue;
        points.append(QPointF(coordinateField(QStringView(parts.at(0)).trimmed()),
                              coordinateField(QStringView(parts.at(1)).trimmed())));
    }
    return points;
}

// ---- export ---------------------------------------------------------------

namespace {

QString pointText(double x, double y)
{
    return formatFixed2(x) + QLatin1Char(',') + formatFixed2(y);
}

void writeShapeStart(QXmlStreamWriter &xml, const char *element, const Annotation &a)
{
    xml.writeEmptyElement(QLatin1String(element));
    xml.writeAttribute(QStringLiteral("label"), xmlSafeText(a.className));
    const bool occluded = a.attributes.value(QStringLiteral("occluded")).toInt() != 0;
    xml.writeAttribute(QStringLiteral("occluded"), occluded ? QStringLiteral("1") : QStringLiteral("0"));
}

QString pointsText(const QList<QPointF> &points)
{
    QStringList texts;
    texts.reserve(points.size());
    for (const QPointF &p : points)
        texts.append(pointText(p.x(), p.y()));
    return texts.join(QLatin1Char(';'));
}

// The parts of an object of several polygons, each a polygon of the group
// `group` (counted from 1 in each image).
void writePolygonParts(QXmlStreamWriter &xml, const Annotation &a, const QList<QList<QPointF>> &parts, int group)
{
    for (const QList<QPointF> &part : parts) {
        writeShapeStart(xml, "polygon", a);
        xml.writeAttribute(QStringLiteral("points"), pointsText(part));
        xml.writeAttribute(QStringLiteral("z_order"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("group_id"), QString::number(group));
    }
}

void writeAnnotation(QXmlStreamWriter &xml, const Annotation &a, int *group)
{
    if (a.kind == Polygon) {
        if (const QList<QList<QPointF>> parts = objectParts(a); parts.size() > 1) {
            writePolygonParts(xml, a, parts, ++*group);
            return;
        }
    }
    if (a.kind == BoundingBox) {
        writeShapeStart(xml, "box", a);
        xml.writeAttribute(QStringLiteral("xtl"), formatFixed2(a.bbox.left()));
        xml.writeAttribute(QStringLiteral("ytl"), formatFixed2(a.bbox.top()));
        xml.writeAttribute(QStringLiteral("xbr"), formatFixed2(a.bbox.x() + a.bbox.width()));
        xml.writeAttribute(QStringLiteral("ybr"), formatFixed2(a.bbox.y() + a.bbox.height()));
    } else if (a.kind == Polygon && a.points.size() >= 3) {
        writeShapeStart(xml, "polygon", a);
        xml.writeAttribute(QStringLiteral("points"), pointsText(a.points));
    } else if (a.kind == Polyline && a.points.size() >= 2) {
        writeShapeStart(xml, "polyline", a);
        xml.writeAttribute(QStringLiteral("points"), pointsText(a.points));
    } else if (a.kind == Point) {
        writeShapeStart(xml, "points", a);
        const QPointF at = a.points.isEmpty() ? a.bbox.topLeft() : a.points.first();
        xml.writeAttribute(QStringLiteral("points"), pointText(at.x(), at.y()));
    } else {
        return;
    }
    xml.writeAttribute(QStringLiteral("z_order"), QStringLiteral("0"));
}

// Every class of the dataset, in class order, with its colour: the labels a
// CVAT task declares, which its importers take the shapes' labels from.
void writeLabels(QXmlStreamWriter &xml, const Dataset &dataset)
{
    xml.writeStartElement(QStringLiteral("labels"));
    // Classes only annotations name take the colours the project gives them.
    Dataset coloured = dataset;
    coloured.syncClassesFromAnnotations();
    for (const QString &name : dataset.classNames()) {
        const QColor colour = coloured.classColors.value(name);
        xml.writeStartElement(QStringLiteral("label"));
        xml.writeTextElement(QStringLiteral("name"), xmlSafeText(name));
        xml.writeTextElement(QStringLiteral("color"), colour.name(QColor::HexRgb));
        xml.writeTextElement(QStringLiteral("type"), QStringLiteral("any"));
        xml.writeEmptyElement(QStringLiteral("attributes"));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

} // namespace

QByteArray cvatXmlBytes(const Dataset &dataset, const ProgressCallback &progress)
{
    XmlDocumentBytes document(2);
    QXmlStreamWriter &xml = document.xml();

    const int total = int(dataset.images.size());
    xml.writeStartElement(QStringLiteral("annotations"));
    xml.writeTextElement(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeStartElement(QStringLiteral("meta"));
    xml.writeStartElement(QStringLiteral("task"));
    xml.writeTextElement(QStringLiteral("name"), QStringLiteral("Quillmark Export"));
    xml.writeTextElement(QStringLiteral("size"), QString::number(total));
    xml.writeTextElement(QStringLiteral("mode"), QStringLiteral("annotation"));
    xml.writeTextElement(QStringLiteral("source"), QStringLiteral("Quillmark"));
    writeLabels(xml, dataset);
    xml.writeEndElement();
    xml.writeEndElement();

    forEachExportImage(dataset.images, progress, [&](const ExportImage &at) {
        xml.writeStartElement(QStringLiteral("image"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(at.index));
        xml.writeAttribute(QStringLiteral("name"), xmlSafeText(at.fileName));
        xml.writeAttribute(QStringLiteral("width"), QString::number(std::max(at.image.width, 0)));
        xml.writeAttribute(QStringLiteral("height"), QString::number(std::max(at.image.height, 0)));
        int group = 0;
        for (const Annotation &a : at.image.labels)
            writeAnnotation(xml, a, &group);
        xml.writeEndElement();
        return true;
    });
    return document.finish();
}

bool CvatHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    QString file = path;
    if (path.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) {
        if (!ensureFolder(QFileInfo(path).absolutePath()))
            return false;
    } else {
        if (!ensureFolder(path))
            return false;
        file = QDir(path).filePath(QStringLiteral("annotations.xml"));
    }
    return writeDocumentFile(file, cvatXmlBytes(dataset, progress));
}

// ---- import ---------------------------------------------------------------

namespace {

// One joint of a skeleton as the file gives it.
struct Joint {
    QString name;
    QPointF point;
    int visibility = 2; // outside: 0, occluded: 1, else 2
};

struct PendingSkeleton {
    Annotation annotation; // label, flags
    QList<Joint> joints;
};

struct PendingImage {
    ImageEntry entry;
    QList<Annotation> boxes;
    QList<Annotation> polygons;
    QList<qint64> polygonGroups; // one per polygon: its group_id, -1 for none
    QList<Annotation> polylines;
    QList<Annotation> points;
    QList<PendingSkeleton> skeletons;
    bool inSkeleton = false; // "points" are joints of the last skeleton
};

// A label of the task's meta part: skeletons name their joints as labels
// whose parent is the skeleton, and draw their edges in an SVG.
struct MetaLabel {
    QString name;
    QString type;
    QString parent;
    QString svg;
};

float attributeFloat(const QXmlStreamAttributes &attributes, const char *name)
{
    return coordinateField(attributes.value(QLatin1String(name)).trimmed());
}

// A shape's label and its "occluded" flag (kept when set).
bool startShape(const QXmlStreamAttributes &attributes, Annotation &a)
{
    a.className = attributes.value(QLatin1String("label")).toString();
    if (a.className.isEmpty())
        return false;
    if (intOr(attributes.value(QLatin1String("occluded")).trimmed()) != 0)
        a.attributes.insert(QStringLiteral("occluded"), 1);
    return true;
}

QRectF boundsOf(const QList<QPointF> &points)
{
    return points.isEmpty() ? QRectF() : QPolygonF(points).boundingRect();
}

// A box turned by "rotation" degrees (clockwise on the picture, about its
// centre) is the polygon of its four turned corners.
QList<QPointF> rotatedCorners(const QRectF &box, double degrees)
{
    const double radians = degrees * M_PI / 180.0;
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const QPointF centre = box.center();
    QList<QPointF> corners;
    for (const QPointF &corner : {box.topLeft(), box.topRight(), box.bottomRight(), box.bottomLeft()}) {
        const QPointF d = corner - centre;
        corners.append(centre + QPointF(d.x() * c - d.y() * s, d.x() * s + d.y() * c));
    }
    return corners;
}

void readBox(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    Annotation a;
    if (!startShape(attributes, a))
        return;
    const float xtl = attributeFloat(attributes, "xtl");
    const float ytl = attributeFloat(attributes, "ytl");
    const float xbr = attributeFloat(attributes, "xbr");
    const float ybr = attributeFloat(attributes, "ybr");
    a.kind = BoundingBox;
    // The size in double precision: two huge single-precision edges would
    // overflow to an infinite width.
    a.bbox = QRectF(std::min(xtl, xbr), std::min(ytl, ybr), std::abs(double(xbr) - xtl),
                    std::abs(double(ybr) - ytl));
    const double rotation = std::fmod(double(attributeFloat(attributes, "rotation")), 360.0);
    if (rotation != 0.0 && std::isfinite(rotation)) {
        a.kind = Polygon;
        a.points = rotatedCorners(a.bbox, rotation);
        a.bbox = boundsOf(a.points);
    }
    if (geometryFitsFloat(a))
        image.boxes.append(a);
}

// An ellipse (centre cx, cy, radii rx, ry, turned by "rotation" degrees) as
// the polygon of its outline.
void readEllipse(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    Annotation a;
    if (!startShape(attributes, a))
        return;
    const QPointF centre(attributeFloat(attributes, "cx"), attributeFloat(attributes, "cy"));
    const double rotation = std::fmod(double(attributeFloat(attributes, "rotation")), 360.0);
    a.kind = Polygon;
    a.points = ellipseOutline(centre, std::abs(attributeFloat(attributes, "rx")),
                              std::abs(attributeFloat(attributes, "ry")), std::isfinite(rotation) ? rotation : 0.0);
    a.bbox = boundsOf(a.points);
    if (a.points.size() >= 3 && geometryFitsFloat(a)) {
        image.polygons.append(a);
        image.polygonGroups.append(-1);
    }
}

// A mask keeps its pixels run-length encoded within the box given by "left",
// "top", "width" and "height"; the object is kept as that box.
void readMask(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    Annotation a;
    if (!startShape(attributes, a))
        return;
    a.kind = BoundingBox;
    a.bbox = QRectF(attributeFloat(attributes, "left"), attributeFloat(attributes, "top"),
                    attributeFloat(attributes, "width"), attributeFloat(attributes, "height"))
                 .normalized();
    if (a.bbox.width() > 0.0 && a.bbox.height() > 0.0 && geometryFitsFloat(a))
        image.boxes.append(a);
}

void readPointShape(const QXmlStreamAttributes &attributes, int kind, int minimum, QList<Annotation> &into)
{
    Annotation a;
    if (!startShape(attributes, a))
        return;
    const QList<QPointF> points = parseCvatPoints(attributes.value(QLatin1String("points")).toString());
    if (points.size() < minimum)
        return;
    a.kind = kind;
    a.points = points;
    a.bbox = boundsOf(points);
    if (geometryFitsFloat(a))
        into.append(a);
}

// A polygon; one of a group (group_id above 0) is a part of the object whose
// other parts are the polygons of that group and label.
void readPolygon(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    const qsizetype before = image.polygons.size();
    readPointShape(attributes, Polygon, 3, image.polygons);
    if (image.polygons.size() == before)
        return;
    const int group = intOr(attributes.value(QLatin1String("group_id")).trimmed());
    image.polygonGroups.append(group > 0 ? group : -1);
}

// Each point of a "points" shape is a point annotation of its own.
void readPoints(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    Annotation a;
    if (!startShape(attributes, a))
        return;
    const QList<QPointF> points = parseCvatPoints(attributes.value(QLatin1String("points")).toString());
    for (const QPointF &p : points) {
        Annotation single = a;
        single.kind = Point;
        single.points = {p};
        single.bbox = QRectF(p.x(), p.y(), 0, 0);
        if (geometryFitsFloat(single))
            image.points.append(single);
    }
}

void readJoint(const QXmlStreamAttributes &attributes, PendingSkeleton &skeleton)
{
    const QList<QPointF> points = parseCvatPoints(attributes.value(QLatin1String("points")).toString());
    Joint joint;
    joint.name = attributes.value(QLatin1String("label")).toString();
    const bool placed = !points.isEmpty() && fitsFloat(points.first().x()) && fitsFloat(points.first().y());
    joint.point = placed ? points.first() : QPointF();
    if (!placed || intOr(attributes.value(QLatin1String("outside")).trimmed()) != 0)
        joint.visibility = 0;
    else if (intOr(attributes.value(QLatin1String("occluded")).trimmed()) != 0)
        joint.visibility = 1;
    skeleton.joints.append(joint);
}

// Reads one <label> of the meta part, up to its end tag.
MetaLabel readMetaLabel(QXmlStreamReader &xml)
{
    MetaLabel label;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name"))
            label.name = xml.readElementText();
        else if (xml.name() == QLatin1String("type"))
            label.type = xml.readElementText();
        else if (xml.name() == QLatin1String("parent"))
            label.parent = xml.readElementText();
        else if (xml.name() == QLatin1String("svg"))
            label.svg = xml.readElementText();
        else
            xml.skipCurrentElement();
    }
    return label;
}

// The keypoint schema of a skeleton label: its joints in the order of the
// meta part, the edges its SVG draws between them.
KeypointSchema skeletonSchema(const QString &skeleton, const QList<MetaLabel> &labels)
{
    KeypointSchema schema;
    schema.objectClass = skeleton;
    QString svg;
    for (const MetaLabel &label : labels) {
        if (label.parent == skeleton)
            schema.keypointNames.append(label.name);
        else if (label.name == skeleton && label.parent.isEmpty())
            svg = label.svg;
    }
    static const QRegularExpression node(QStringLiteral("<circle\\b[^>]*>"));
    static const QRegularExpression edge(QStringLiteral("<line\\b[^>]*>"));
    auto attribute = [](const QString &tag, const QString &name) {
        const QRegularExpression pattern(QStringLiteral("\\b%1=\"([^\"]*)\"").arg(name));
        return pattern.match(tag).captured(1);
    };
    QHash<QString, int> jointOfNode;
    for (auto it = node.globalMatch(svg); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const qsizetype index = schema.keypointNames.indexOf(attribute(tag, QStringLiteral("data-label-name")));
        if (index >= 0)
            jointOfNode.insert(attribute(tag, QStringLiteral("data-node-id")), int(index));
    }
    for (auto it = edge.globalMatch(svg); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const int from = jointOfNode.value(attribute(tag, QStringLiteral("data-node-from")), -1);
        const int to = jointOfNode.value(attribute(tag, QStringLiteral("data-node-to")), -1);
        if (from >= 0 && to >= 0)
            schema.edges.append({from, to});
    }
    return schema;
}

// A skeleton as one keypoint set: its joints in the schema's order (joints
// the file leaves out are unlabelled), boxed by its labelled joints.
Annotation skeletonAnnotation(const PendingSkeleton &skeleton, const QStringList &jointOrder)
{
    Annotation a = skeleton.annotation;
    a.kind = Keypoint;
    QList<Joint> joints = skeleton.joints;
    if (!jointOrder.isEmpty()) {
        QList<Joint> ordered;
        for (const QString &name : jointOrder) {
            const auto found =
                std::find_if(joints.cbegin(), joints.cend(), [&name](const Joint &j) { return j.name == name; });
            ordered.append(found != joints.cend() ? *found : Joint{name, QPointF(), 0});
        }
        joints = ordered;
    }
    QList<QPointF> labelled;
    for (const Joint &joint : joints) {
        a.points.append(joint.point);
        a.keypointVis.append(joint.visibility);
        if (joint.visibility > 0)
            labelled.append(joint.point);
    }
    a.bbox = boundsOf(labelled);
    return a;
}

// Whether the document holds images (a task exported "for images"): an
// export "for video" keeps its shapes in tracks, which are no images.
bool holdsImages(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && xml.characterOffset() < kMaxDetectionBytes) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("image"))
            return true;
        if (xml.name() == QLatin1String("track"))
            return false;
    }
    return false;
}

// Counts the "image" elements, so that progress can name its total.
qsizetype countImages(QIODevice &device, const QString &filePath)
{
    QXmlStreamReader xml(&device);
    qsizetype count = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("image"))
            ++count;
    }
    if (!xml.hasError())
        return count;
    ImportFailure::noteDamagedXml(filePath, xml);
    return -1;
}

} // namespace

bool CvatHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QString filePath = chooseFile(path);
    if (filePath.isEmpty()) {
        ImportFailure::note(path, QStringLiteral("no CVAT annotation file (.xml) was found."));
        return false;
    }
    QFile file;
    if (!openRegularFile(file, filePath)) {
        ImportFailure::noteCannotOpen(filePath);
        return false;
    }
    const qsizetype total = countImages(file, filePath);
    if (total < 0)
        return false;
    if (!file.seek(0)) {
        ImportFailure::note(filePath, QStringLiteral("the file could not be read."));
        return false;
    }
    if (total == 0) {
        ImportFailure::note(filePath, QStringLiteral("the file lists no images."));
        return false;
    }

    const QDir base(QFileInfo(filePath).absolutePath());
    QXmlStreamReader xml(&file);
    QList<MetaLabel> metaLabels;
    QList<PendingImage> open;     // "image" elements being read, innermost last
    QList<PendingImage> finished;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (!rootSeen) {
                if (xml.name() != QLatin1String("annotations")) {
                    ImportFailure::noteDamagedXml(filePath, xml);
                    return false;
                }
                rootSeen = true;
                continue;
            }
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == QLatin1String("image")) {
                PendingImage image;
                image.entry.filePath = resolveDatasetImagePath(base, attributes.value(QLatin1String("name")).toString(),
                                                               MissingImage::BesideDatasetFile);
                image.entry.width = std::max(intOr(attributes.value(QLatin1String("width")).trimmed()), 0);
                image.entry.height = std::max(intOr(attributes.value(QLatin1String("height")).trimmed()), 0);
                open.append(image);
            } else if (open.isEmpty()) {
                if (xml.name() == QLatin1String("label"))
                    metaLabels.append(readMetaLabel(xml));
            } else if (open.last().inSkeleton && xml.name() == QLatin1String("points")) {
                readJoint(attributes, open.last().skeletons.last());
            } else if (xml.name() == QLatin1String("box")) {
                readBox(attributes, open.last());
            } else if (xml.name() == QLatin1String("polygon")) {
                readPolygon(attributes, open.last());
            } else if (xml.name() == QLatin1String("polyline")) {
                readPointShape(attributes, Polyline, 2, open.last().polylines);
            } else if (xml.name() == QLatin1String("points")) {
                readPoints(attributes, open.last());
            } else if (xml.name() == QLatin1String("ellipse")) {
                readEllipse(attributes, open.last());
            } else if (xml.name() == QLatin1String("mask")) {
                readMask(attributes, open.last());
            } else if (xml.name() == QLatin1String("skeleton")) {
                PendingSkeleton skeleton;
                if (startShape(attributes, skeleton.annotation)) {
                    open.last().skeletons.append(skeleton);
                    open.last().inSkeleton = true;
                } else {
                    xml.skipCurrentElement();
                }
            }
        } else if (token == QXmlStreamReader::EndElement && !open.isEmpty()) {
            if (xml.name() == QLatin1String("skeleton"))
                open.last().inSkeleton = false;
            if (xml.name() != QLatin1String("image"))
                continue;
            finished.append(open.takeLast());
            if (progress)
                progress(int(std::min(finished.size(), total)), int(total));
        }
    }
    if (xml.hasError() || !rootSeen || finished.isEmpty()) {
        ImportFailure::noteDamagedXml(filePath, xml);
        return false;
    }

    QHash<QString, QStringList> jointOrders;
    for (PendingImage &image : finished) {
        for (const PendingSkeleton &skeleton : std::as_const(image.skeletons)) {
            const QString &label = skeleton.annotation.className;
            if (jointOrders.contains(label))
                continue;
            KeypointSchema schema = skeletonSchema(label, metaLabels);
            if (schema.keypointNames.isEmpty()) {
                // No meta part naming the joints: the first skeleton's order.
                for (const Joint &joint : skeleton.joints)
                    schema.keypointNames.append(joint.name);
            }
            jointOrders.insert(label, schema.keypointNames);
            if (!dataset.keypointSchema.isInUse() && schema.isInUse())
                dataset.setKeypointSchema(schema);
        }
        // The polygons of one object, which CVAT gives as shapes of one
        // group, are one object again.
        joinGroupedPolygons(image.polygons, image.polygonGroups);
        QList<Annotation> labels = image.boxes + image.polygons + image.polylines + image.points;
        for (const PendingSkeleton &skeleton : std::as_const(image.skeletons))
            labels.append(skeletonAnnotation(skeleton, jointOrders.value(skeleton.annotation.className)));
        for (const Annotation &a : std::as_const(labels))
            dataset.addClass(a.className, QColor());
        image.entry.labels = labels;
        dataset.addImage(image.entry);
    }
    return true;
}

} // namespace Quillmark
