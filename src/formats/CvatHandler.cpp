#include "formats/CvatHandler.h"

#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace Quillmark {

QString CvatHandler::name() const { return QStringLiteral("CVAT XML"); }
QString CvatHandler::extension() const { return QStringLiteral("xml"); }

namespace {

bool passesHeaderTest(const QString &path)
{
    const QByteArray head = readFileHead(path, 512);
    return head.contains("<annotations") && head.contains("<version");
}

// The XML file to read: the path itself when it names a file, else the first
// XML file of the folder that passes the header test.
QString chooseFile(const QString &path)
{
    if (QFileInfo(path).isFile())
        return path;
    const QStringList candidates = listFiles(path, {QStringLiteral("*.xml")});
    for (const QString &candidate : candidates) {
        if (passesHeaderTest(candidate))
            return candidate;
    }
    return {};
}

} // namespace

bool CvatHandler::canImport(const QString &path) const
{
    if (QFileInfo(path).isFile())
        return passesHeaderTest(path);
    return !chooseFile(path).isEmpty();
}

QList<QPointF> parseCvatPoints(const QString &text)
{
    QList<QPointF> points;
    const QStringList pieces = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QStringList parts = piece.split(QLatin1Char(','));
        if (parts.size() != 2)
            continue;
        points.append(QPointF(floatOr(QStringView(parts.at(0)).trimmed()), floatOr(QStringView(parts.at(1)).trimmed())));
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
    xml.writeAttribute(QStringLiteral("occluded"), QStringLiteral("0"));
}

void writeAnnotation(QXmlStreamWriter &xml, const Annotation &a)
{
    if (a.kind == BoundingBox) {
        writeShapeStart(xml, "box", a);
        xml.writeAttribute(QStringLiteral("xtl"), formatFixed2(a.bbox.left()));
        xml.writeAttribute(QStringLiteral("ytl"), formatFixed2(a.bbox.top()));
        xml.writeAttribute(QStringLiteral("xbr"), formatFixed2(a.bbox.x() + a.bbox.width()));
        xml.writeAttribute(QStringLiteral("ybr"), formatFixed2(a.bbox.y() + a.bbox.height()));
    } else if (a.kind == Polygon && a.points.size() >= 3) {
        writeShapeStart(xml, "polygon", a);
        QStringList points;
        points.reserve(a.points.size());
        for (const QPointF &p : a.points)
            points.append(pointText(p.x(), p.y()));
        xml.writeAttribute(QStringLiteral("points"), points.join(QLatin1Char(';')));
    } else if (a.kind == Point) {
        writeShapeStart(xml, "points", a);
        const QPointF at = a.points.isEmpty() ? a.bbox.topLeft() : a.points.first();
        xml.writeAttribute(QStringLiteral("points"), pointText(at.x(), at.y()));
    } else {
        return;
    }
    xml.writeAttribute(QStringLiteral("z_order"), QStringLiteral("0"));
}

} // namespace

QByteArray cvatXmlBytes(const Dataset &dataset, const ProgressCallback &progress)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    buffer.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);

    const int total = int(dataset.images.size());
    xml.writeStartElement(QStringLiteral("annotations"));
    xml.writeTextElement(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeStartElement(QStringLiteral("meta"));
    xml.writeStartElement(QStringLiteral("task"));
    xml.writeTextElement(QStringLiteral("name"), QStringLiteral("Quillmark Export"));
    xml.writeTextElement(QStringLiteral("size"), QString::number(total));
    xml.writeTextElement(QStringLiteral("mode"), QStringLiteral("annotation"));
    xml.writeTextElement(QStringLiteral("source"), QStringLiteral("Quillmark"));
    xml.writeEndElement();
    xml.writeEndElement();

    const QStringList stems = uniqueExportStems(dataset.images);
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &entry = dataset.images.at(i);
        xml.writeStartElement(QStringLiteral("image"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(i));
        xml.writeAttribute(QStringLiteral("name"), xmlSafeText(exportFileName(stems.at(i), entry.filePath)));
        xml.writeAttribute(QStringLiteral("width"), QString::number(std::max(entry.width, 0)));
        xml.writeAttribute(QStringLiteral("height"), QString::number(std::max(entry.height, 0)));
        for (const Annotation &a : entry.labels)
            writeAnnotation(xml, a);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
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

struct PendingImage {
    ImageEntry entry;
    QList<Annotation> boxes;
    QList<Annotation> polygons;
    QList<Annotation> points;
    QStringList classOrder;   // labels in the order their classes are added
};

QString resolveImagePath(const QDir &base, const QString &name)
{
    if (name.isEmpty())
        return {};
    const QString direct = base.filePath(name);
    if (QFileInfo::exists(direct))
        return direct;
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const QString inImages = base.filePath(QStringLiteral("images/") + name.mid(cut + 1));
    return QFileInfo::exists(inImages) ? inImages : direct;
}

float attributeFloat(const QXmlStreamAttributes &attributes, const char *name)
{
    return floatOr(attributes.value(QLatin1String(name)).trimmed());
}

void readBox(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    const QString label = attributes.value(QLatin1String("label")).toString();
    if (label.isEmpty())
        return;
    const float xtl = attributeFloat(attributes, "xtl");
    const float ytl = attributeFloat(attributes, "ytl");
    const float xbr = attributeFloat(attributes, "xbr");
    const float ybr = attributeFloat(attributes, "ybr");
    Annotation a;
    a.kind = BoundingBox;
    a.className = label;
    // The size in double precision: two huge single-precision edges would
    // overflow to an infinite width.
    a.bbox = QRectF(std::min(xtl, xbr), std::min(ytl, ybr), std::abs(double(xbr) - xtl),
                    std::abs(double(ybr) - ytl));
    image.boxes.append(a);
}

void readPolygon(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    const QString label = attributes.value(QLatin1String("label")).toString();
    if (label.isEmpty())
        return;
    const QList<QPointF> points = parseCvatPoints(attributes.value(QLatin1String("points")).toString());
    if (points.size() < 3)
        return;
    Annotation a;
    a.kind = Polygon;
    a.className = label;
    a.points = points;
    QPolygonF polygon(points);
    a.bbox = polygon.boundingRect();
    image.polygons.append(a);
}

void readPoints(const QXmlStreamAttributes &attributes, PendingImage &image)
{
    const QString label = attributes.value(QLatin1String("label")).toString();
    if (label.isEmpty())
        return;
    const QList<QPointF> points = parseCvatPoints(attributes.value(QLatin1String("points")).toString());
    for (const QPointF &p : points) {
        Annotation a;
        a.kind = Point;
        a.className = label;
        a.bbox = QRectF(p.x(), p.y(), 0, 0);
        image.points.append(a);
    }
}

QList<Annotation> labelsOf(const PendingImage &image)
{
    return image.boxes + image.polygons + image.points;
}

// Counts the "image" elements, so that progress can name its total.
qsizetype countImages(QIODevice &device)
{
    QXmlStreamReader xml(&device);
    qsizetype count = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("image"))
            ++count;
    }
    return xml.hasError() ? -1 : count;
}

} // namespace

bool CvatHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QString filePath = chooseFile(path);
    if (filePath.isEmpty())
        return false;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qsizetype total = countImages(file);
    if (total <= 0 || !file.seek(0))
        return false;

    const QDir base(QFileInfo(filePath).absolutePath());
    QXmlStreamReader xml(&file);
    QList<PendingImage> open;     // "image" elements being read, innermost last
    QList<PendingImage> finished;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (!rootSeen) {
                if (xml.name() != QLatin1String("annotations"))
                    return false;
                rootSeen = true;
                continue;
            }
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == QLatin1String("image")) {
                PendingImage image;
                image.entry.filePath = resolveImagePath(base, attributes.value(QLatin1String("name")).toString());
                image.entry.width = std::max(intOr(attributes.value(QLatin1String("width")).trimmed()), 0);
                image.entry.height = std::max(intOr(attributes.value(QLatin1String("height")).trimmed()), 0);
                open.append(image);
            } else if (!open.isEmpty() && xml.name() == QLatin1String("box")) {
                readBox(attributes, open.last());
            } else if (!open.isEmpty() && xml.name() == QLatin1String("polygon")) {
                readPolygon(attributes, open.last());
            } else if (!open.isEmpty() && xml.name() == QLatin1String("points")) {
                readPoints(attributes, open.last());
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("image") && !open.isEmpty()) {
            finished.append(open.takeLast());
            if (progress)
                progress(int(std::min(finished.size(), total)), int(total));
        }
    }
    if (xml.hasError() || !rootSeen || finished.isEmpty())
        return false;

    for (PendingImage &image : finished) {
        for (const Annotation &a : labelsOf(image))
            dataset.addClass(a.className, QColor());
        image.entry.labels = labelsOf(image);
        dataset.addImage(image.entry);
    }
    return true;
}

} // namespace Quillmark
