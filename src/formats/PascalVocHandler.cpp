#include "formats/PascalVocHandler.h"

#include "formats/AnnotationGeometry.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/FolderListing.h"
#include "formats/ImportFailure.h"
#include "formats/NumberFormat.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "formats/XmlDocumentBytes.h"
#include "model/FiniteNumber.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>
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
    return opensVocRoot(readRegularFileHead(file, 512));
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
        files += xmlFilesIn(pathInFolder(dir, sub + QStringLiteral("/Annotations")));
    return files;
}

bool PascalVocHandler::canImportFolder(const QString &path) const
{
    if (!QFileInfo(path).isDir())
        return false;
    const QStringList files = vocAnnotationFiles(path);
    return std::any_of(files.cbegin(), files.cend(), isVocFile);
}

QString resolveVocImagePath(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QString found = resolveDatasetImagePath(dir, name, MissingImage::BesideDatasetFile);
    if (QFileInfo(found).isFile())
        return found;
    // JPEGImages/ beside Annotations/, as the VOCdevkit keeps them.
    const QString devkit = QDir::cleanPath(dir.filePath(QStringLiteral("../JPEGImages/") + fileNamePart(name)));
    return QFileInfo(devkit).isFile() ? devkit : found;
}

// ---- import ---------------------------------------------------------------

namespace {

// A VOC file is a few levels deep (annotation, object, part, bndbox, corner);
// a deeper one is no VOC file, however well-formed.
constexpr int kMaxVocDepth = 32;

// What one "object" element holds: the texts of its first child of each name.
struct VocObject {
    std::optional<QString> name;
    std::optional<QString> flags[3];
    bool hasBox = false;
    std::optional<QString> corners[4];
};

// What the file holds, read in one pass: the root's first "path",
// "filename" and "size" children, and every "object" element at any depth,
// in document order. The text of an element is all text inside it.
struct VocFile {
    std::optional<QString> path;
    std::optional<QString> fileName;
    bool hasSize = false;
    std::optional<QString> width;
    std::optional<QString> height;
    QList<VocObject> objects;
};

const char *const cornerNames[] = {"xmin", "ymin", "xmax", "ymax"};

class VocStreamReader {
public:
    explicit VocStreamReader(const QByteArray &bytes) : m_xml(bytes) {}

    std::optional<VocFile> read()
    {
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                if (!startElement())
                    return std::nullopt;
                break;
            case QXmlStreamReader::EndElement:
                m_open.pop_back();
                break;
            case QXmlStreamReader::Characters:
                appendText();
                break;
            default:
                break;
            }
        }
        if (m_xml.hasError() || !m_rootSeen)
            return std::nullopt;
        return std::move(m_file);
    }

private:
    enum class Kind { Other, Root, Size, Object, Box };
    // Which text an element feeds. Frames name it rather than point at it:
    // an "object" opened anywhere grows the object list under the frames
    // that are still open.
    enum class Field { None, Path, FileName, Width, Height, Name, Flag, Corner };
    struct Frame {
        Kind kind = Kind::Other;
        qsizetype object = -1; // the object an Object or Box frame, or an object's field, belongs to
        Field field = Field::None;
        int fieldIndex = 0; // which flag or corner
    };

    std::optional<QString> &slotOf(const Frame &frame)
    {
        switch (frame.field) {
        case Field::Path:
            return m_file.path;
        case Field::FileName:
            return m_file.fileName;
        case Field::Width:
            return m_file.width;
        case Field::Height:
            return m_file.height;
        case Field::Name:
            return m_file.objects[frame.object].name;
        case Field::Flag:
            return m_file.objects[frame.object].flags[frame.fieldIndex];
        case Field::Corner:
        case Field::None:
            break;
        }
        return m_file.objects[frame.object].corners[frame.fieldIndex];
    }

    void appendText()
    {
        for (const Frame &frame : std::as_const(m_open)) {
            if (frame.field != Field::None)
                slotOf(frame)->append(m_xml.text());
        }
    }

    // The first child of a name feeds its field; later ones are not read.
    Frame textFrame(Field field, qsizetype object = -1, int index = 0)
    {
        const Frame frame{Kind::Other, object, field, index};
        std::optional<QString> &slot = slotOf(frame);
        if (slot)
            return {};
        slot.emplace();
        return frame;
    }

    bool startElement()
    {
        if (m_open.size() >= kMaxVocDepth)
            return false;
        const QStringView name = m_xml.qualifiedName();
        if (m_open.isEmpty()) {
            if (name != QLatin1String("annotation"))
                return false;
            m_rootSeen = true;
            m_open.append({Kind::Root});
            return true;
        }
        m_open.append(childFrame(m_open.constLast(), name));
        return true;
    }

    Frame childFrame(const Frame &parent, QStringView name)
    {
        if (name == QLatin1String("object")) {
            m_file.objects.append(VocObject());
            return {Kind::Object, m_file.objects.size() - 1};
        }
        switch (parent.kind) {
        case Kind::Root:
            if (name == QLatin1String("path"))
                return textFrame(Field::Path);
            if (name == QLatin1String("filename"))
                return textFrame(Field::FileName);
            if (name == QLatin1String("size") && !m_file.hasSize) {
                m_file.hasSize = true;
                return {Kind::Size};
            }
            break;
        case Kind::Size:
            if (name == QLatin1String("width"))
                return textFrame(Field::Width);
            if (name == QLatin1String("height"))
                return textFrame(Field::Height);
            break;
        case Kind::Object:
            return objectChild(parent.object, name);
        case Kind::Box:
            for (int i = 0; i < 4; ++i) {
                if (name == QLatin1String(cornerNames[i]))
                    return textFrame(Field::Corner, parent.object, i);
            }
            break;
        case Kind::Other:
            break;
        }
        return {};
    }

    Frame objectChild(qsizetype index, QStringView name)
    {
        if (name == QLatin1String("name"))
            return textFrame(Field::Name, index);
        VocObject &object = m_file.objects[index];
        if (name == QLatin1String("bndbox") && !object.hasBox) {
            object.hasBox = true;
            return {Kind::Box, index};
        }
        for (int i = 0; i < 3; ++i) {
            if (name == QLatin1String(vocFlags[i]))
                return textFrame(Field::Flag, index, i);
        }
        return {};
    }

    QXmlStreamReader m_xml;
    QList<Frame> m_open;
    VocFile m_file;
    bool m_rootSeen = false;
};

QString trimmedText(const std::optional<QString> &text)
{
    return text ? text->trimmed() : QString();
}

QString imagePathOf(const VocFile &file, const QFileInfo &xmlFile)
{
    const QString folder = xmlFile.absolutePath();
    const QString pathText = trimmedText(file.path);
    const QString fileName = trimmedText(file.fileName);
    if (isAbsoluteFilePath(pathText) && QFileInfo(pathText).isFile())
        return pathText;
    if (fileName.isEmpty())
        return resolveVocImagePath(folder, xmlFile.completeBaseName() + QStringLiteral(".jpg"));
    if (isAbsoluteFilePath(fileName))
        return fileName;
    const QString found = resolveVocImagePath(folder, fileName);
    // Blanks around the name are usually the XML's layout, but a picture's
    // name may begin or end with one: the name as written wins when it is
    // there.
    if (file.fileName && *file.fileName != fileName && !QFileInfo(found).isFile()) {
        const QString asWritten = resolveVocImagePath(folder, *file.fileName);
        if (QFileInfo(asWritten).isFile())
            return asWritten;
    }
    return found;
}

// An object with a name as a box; none when a corner is a number that single
// precision cannot hold. Corners that are no number count as 0.
std::optional<Annotation> annotationOf(const VocObject &object)
{
    const QString name = trimmedText(object.name);
    if (name.isEmpty())
        return std::nullopt;
    float corners[4];
    for (int i = 0; i < 4; ++i) {
        if (!floatField(QStringView(trimmedText(object.corners[i])), &corners[i]))
            return std::nullopt;
    }
    Annotation a;
    a.kind = BoundingBox;
    a.className = name;
    for (int i = 0; i < 3; ++i) {
        const int value = intOr(QStringView(trimmedText(object.flags[i])));
        if (value != 0)
            a.attributes.insert(QLatin1String(vocFlags[i]), value);
    }
    // The size in double precision: two huge single-precision edges
    // would overflow to an infinite width.
    const auto [xmin, ymin, xmax, ymax] = corners;
    a.bbox = QRectF(xmin, ymin, double(xmax) - xmin, double(ymax) - ymin).normalized();
    if (!geometryFitsFloat(a))
        return std::nullopt;
    return a;
}

// One VOC file as an image entry; none when the file is unreadable, not
// well-formed, nested deeper than a VOC file is, or not a VOC annotation.
std::optional<ImageEntry> readVocFile(const QString &path)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return std::nullopt;
    const std::optional<VocFile> file = VocStreamReader(bytes).read();
    if (!file) {
        ImportFailure::note(path, QStringLiteral("damaged XML, or no Pascal VOC annotation."));
        return std::nullopt;
    }
    ImageEntry entry;
    entry.filePath = imagePathOf(*file, QFileInfo(path));
    entry.width = std::max(intOr(QStringView(trimmedText(file->width))), 0);
    entry.height = std::max(intOr(QStringView(trimmedText(file->height))), 0);
    for (const VocObject &object : file->objects) {
        if (std::optional<Annotation> a = annotationOf(object))
            entry.labels.append(std::move(*a));
    }
    return entry;
}

} // namespace

bool PascalVocHandler::importFolder(const QString &path, Dataset &dataset, ProgressCallback progress)
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
    const std::optional<QRectF> rect = annotationBox(a);
    if (!rect || rect->width() == 0 || rect->height() == 0)
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
    XmlDocumentBytes document(4);
    QXmlStreamWriter &xml = document.xml();

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
    return document.finish();
}

bool PascalVocHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    return writeAnnotationFiles(
        path, dataset, QStringLiteral(".xml"),
        [](const ImageEntry &image, const QString &imageName) { return vocXmlBytes(image, imageName); }, progress);
}

// The root of a split export holds the format's folder once per subset.
bool PascalVocHandler::canImport(const QString &path) const
{
    return holdsFolderOrSubsets(path, [this](const QString &folder) { return canImportFolder(folder); });
}

bool PascalVocHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    return importFolderOrSubsets(
        path, dataset, std::move(progress), [this](const QString &folder) { return canImportFolder(folder); },
        [this](const QString &folder, Dataset &into, ProgressCallback share) {
            return importFolder(folder, into, std::move(share));
        });
}

} // namespace Quillmark
