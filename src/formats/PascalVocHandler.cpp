#include "formats/PascalVocHandler.h"

#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"

#include <QBuffer>
#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QPolygonF>
#include <QXmlStreamWriter>

#include <algorithm>
#include <optional>

namespace Quillmark {

QString PascalVocHandler::name() const { return QStringLiteral("Pascal VOC"); }
QString PascalVocHandler::extension() const { return QStringLiteral("xml"); }

namespace {

// "<annotation" as the opening of an element named exactly "annotation".
bool opensVocRoot(const QByteArray &head)
{
    static const QByteArray tag("<annotation");
    for (qsizetype at = head.indexOf(tag); at >= 0; at = head.indexOf(tag, at + 1)) {
        const qsizetype next = at + tag.size();
        if (next >= head.size())
            return false;
        const char c = head.at(next);
        if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

QStringList xmlFilesIn(const QString &folder)
{
    return listFiles(folder, {QStringLiteral("*.xml")});
}

bool isVocFile(const QString &file)
{
    return opensVocRoot(readFileHead(file, 512));
}

// The per-object flags VOC files carry; kept among the attributes when set.
const char *const vocFlags[] = {"truncated", "difficult", "occluded"};

} // namespace

QStringList vocAnnotationFiles(const QString &folder)
{
    QStringList files = xmlFilesIn(folder);
    if (!files.isEmpty())
        return files;
    const QDir dir(folder);
    files = xmlFilesIn(dir.filePath(QStringLiteral("Annotations")));
    if (!files.isEmpty())
        return files;
    for (const QString &sub : listSubfolders(folder))
        files += xmlFilesIn(dir.filePath(sub + QStringLiteral("/Annotations")));
    return files;
}

bool PascalVocHandler::canImport(const QString &path) const
{
    if (!QFileInfo(path).isDir())
        return false;
    const QStringList files = vocAnnotationFiles(path);
    return std::any_of(files.cbegin(), files.cend(), isVocFile);
}

QString resolveVocImagePath(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QString direct = dir.filePath(name);
    if (QFileInfo::exists(direct))
        return direct;
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const QString last = name.mid(cut + 1);
    // images/ below the XML folder, or JPEGImages/ beside Annotations/ as the
    // VOCdevkit keeps them.
    for (const QString &candidate :
         {dir.filePath(QStringLiteral("images/") + last), dir.filePath(QStringLiteral("../JPEGImages/") + last)}) {
        if (QFileInfo::exists(candidate))
            return QDir::cleanPath(candidate);
    }
    return direct;
}

// ---- import ---------------------------------------------------------------

namespace {

QString childText(const QDomElement &parent, const char *name)
{
    return parent.firstChildElement(QLatin1String(name)).text().trimmed();
}

QString imagePathOf(const QDomElement &root, const QFileInfo &xmlFile)
{
    const QString folder = xmlFile.absolutePath();
    const QString pathText = childText(root, "path");
    const QString fileName = childText(root, "filename");
    if (!pathText.isEmpty() && QDir::isAbsolutePath(pathText) && QFileInfo(pathText).isFile())
        return pathText;
    if (fileName.isEmpty())
        return resolveVocImagePath(folder, xmlFile.completeBaseName() + QStringLiteral(".jpg"));
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return resolveVocImagePath(folder, fileName);
}

QList<Annotation> objectsOf(const QDomElement &root)
{
    QList<Annotation> labels;
    const QDomNodeList objects = root.elementsByTagName(QStringLiteral("object"));
    for (int i = 0; i < objects.size(); ++i) {
        const QDomElement object = objects.at(i).toElement();
        const QString name = childText(object, "name");
        if (name.isEmpty())
            continue;
        const QDomElement box = object.firstChildElement(QStringLiteral("bndbox"));
        const float xmin = floatOr(QStringView(childText(box, "xmin")));
        const float ymin = floatOr(QStringView(childText(box, "ymin")));
        const float xmax = floatOr(QStringView(childText(box, "xmax")));
        const float ymax = floatOr(QStringView(childText(box, "ymax")));
        Annotation a;
        a.kind = BoundingBox;
        a.className = name;
        for (const char *flag : vocFlags) {
            const int value = intOr(QStringView(childText(object, flag)));
            if (value != 0)
                a.attributes.insert(QLatin1String(flag), value);
        }
        // The size in double precision: two huge single-precision edges
        // would overflow to an infinite width.
        a.bbox = QRectF(xmin, ymin, double(xmax) - xmin, double(ymax) - ymin).normalized();
        labels.append(a);
    }
    return labels;
}

// One VOC file as an image entry; none when the file is unreadable, not
// well-formed, or not a VOC annotation.
std::optional<ImageEntry> readVocFile(const QString &path)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return std::nullopt;
    QDomDocument document;
    if (!document.setContent(bytes))
        return std::nullopt;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("annotation"))
        return std::nullopt;
    ImageEntry entry;
    entry.filePath = imagePathOf(root, QFileInfo(path));
    const QDomElement size = root.firstChildElement(QStringLiteral("size"));
    entry.width = std::max(intOr(QStringView(childText(size, "width"))), 0);
    entry.height = std::max(intOr(QStringView(childText(size, "height"))), 0);
    entry.labels = objectsOf(root);
    return entry;
}

} // namespace

bool PascalVocHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    const QStringList files = vocAnnotationFiles(path);
    const int total = int(files.size());
    int read = 0;
    for (int i = 0; i < total; ++i) {
        const std::optional<ImageEntry> entry = readVocFile(files.at(i));
        if (entry) {
            for (const Annotation &a : entry->labels)
                dataset.addClass(a.className, QColor());
            dataset.addImage(*entry);
            ++read;
        }
        if (progress)
            progress(i + 1, total);
    }
    return read > 0;
}

// ---- export ---------------------------------------------------------------

namespace {

std::optional<QRectF> exportRect(const Annotation &a)
{
    QRectF rect;
    if (a.kind == BoundingBox)
        rect = a.bbox.normalized();
    else if ((a.kind == Polygon || a.kind == Keypoint) && !a.points.isEmpty())
        rect = QPolygonF(a.points).boundingRect();
    else
        return std::nullopt;
    if (rect.width() == 0 || rect.height() == 0)
        return std::nullopt;
    return rect;
}

void writeNumber(QXmlStreamWriter &xml, const char *element, double value)
{
    xml.writeTextElement(QLatin1String(element), QString::number(roundHalfAwayFromZero(value)));
}

QString flagText(const Annotation &a, const char *flag)
{
    return QString::number(a.attributes.value(QLatin1String(flag)).toInt());
}

void writeObject(QXmlStreamWriter &xml, const Annotation &a, const QRectF &rect)
{
    xml.writeStartElement(QStringLiteral("object"));
    xml.writeTextElement(QStringLiteral("name"), xmlSafeText(a.className));
    xml.writeTextElement(QStringLiteral("pose"), QStringLiteral("Unspecified"));
    xml.writeTextElement(QStringLiteral("truncated"), flagText(a, "truncated"));
    xml.writeTextElement(QStringLiteral("difficult"), flagText(a, "difficult"));
    xml.writeTextElement(QStringLiteral("occluded"), flagText(a, "occluded"));
    xml.writeStartElement(QStringLiteral("bndbox"));
    writeNumber(xml, "xmin", rect.left());
    writeNumber(xml, "ymin", rect.top());
    writeNumber(xml, "xmax", rect.x() + rect.width());
    writeNumber(xml, "ymax", rect.y() + rect.height());
    xml.writeEndElement();
    xml.writeEndElement();
}

} // namespace

QByteArray vocXmlBytes(const ImageEntry &image, const QString &fileName)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    buffer.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);

    const QString safeName = xmlSafeText(fileName);
    xml.writeStartElement(QStringLiteral("annotation"));
    xml.writeEmptyElement(QStringLiteral("folder"));
    xml.writeTextElement(QStringLiteral("filename"), safeName);
    xml.writeTextElement(QStringLiteral("path"), safeName);
    xml.writeStartElement(QStringLiteral("source"));
    xml.writeTextElement(QStringLiteral("database"), QStringLiteral("Quillmark"));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("size"));
    xml.writeTextElement(QStringLiteral("width"), QString::number(std::max(image.width, 0)));
    xml.writeTextElement(QStringLiteral("height"), QString::number(std::max(image.height, 0)));
    xml.writeTextElement(QStringLiteral("depth"), QStringLiteral("3"));
    xml.writeEndElement();
    xml.writeTextElement(QStringLiteral("segmented"), QStringLiteral("0"));
    for (const Annotation &a : image.labels) {
        if (const auto rect = exportRect(a))
            writeObject(xml, a, *rect);
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

bool PascalVocHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(path))
        return false;
    const QDir out(path);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const QByteArray bytes = vocXmlBytes(image, exportFileName(stems.at(i), image.filePath));
        if (!writeFileAtomically(out.filePath(stems.at(i) + QStringLiteral(".xml")), bytes))
            return false;
    }
    return true;
}

} // namespace Quillmark
