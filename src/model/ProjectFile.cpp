#include "model/ProjectFile.h"

#include "model/FiniteNumber.h"
#include "model/AnnotationAttributes.h"
#include "model/AttributeReader.h"
#include "model/JsonIndentedWriter.h"
#include "model/JsonParser.h"
#include "model/JsonPieceReader.h"
#include "model/JsonStringPool.h"
#include "model/JobQueue.h"
#include "model/JsonValue.h"
#include "model/MappedFile.h"
#include "model/RegularFile.h"
#include "model/StoredIds.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quillmark {

namespace {

const QString kBoundingBox = QStringLiteral("BoundingBox");
const QString kPolygon = QStringLiteral("Polygon");
const QString kPolyline = QStringLiteral("Polyline");
const QString kPoint = QStringLiteral("Point");
const QString kKeypoint = QStringLiteral("Keypoint");

QString kindToText(int kind)
{
    switch (kind) {
    case Polygon: return kPolygon;
    case Polyline: return kPolyline;
    case Point: return kPoint;
    case Keypoint: return kKeypoint;
    default: return kBoundingBox;
    }
}

int kindFromText(const QString &text)
{
    if (text == kPolygon) return Polygon;
    if (text == kPolyline) return Polyline;
    if (text == kPoint) return Point;
    if (text == kKeypoint) return Keypoint;
    return BoundingBox;
}

// Sizes below 1 mean "unknown", kept as 0.
int sizeFrom(int value)
{
    return value < 1 ? 0 : value;
}

int readSize(const QJsonObject &object, const QString &key)
{
    return sizeFrom(object.value(key).toInt(0));
}

QString readString(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString();
}

// A frame key is a non-negative decimal integer without sign; anything else is
// not a frame and is skipped.
bool parseFrameKey(const QString &key, int &frame)
{
    if (key.isEmpty())
        return false;
    for (QChar c : key) {
        if (c < u'0' || c > u'9')
            return false;
    }
    bool ok = false;
    frame = key.toInt(&ok, 10);
    return ok;
}

// One member of "frameLabels": a frame whose list is empty is not stored,
// and replaces what an earlier key naming the same frame stored.
void applyFrame(QMap<int, QList<Annotation>> &frames, const QString &key, const QList<Annotation> &list)
{
    int frame = 0;
    if (!parseFrameKey(key, frame))
        return;
    if (list.isEmpty())
        frames.remove(frame);
    else
        frames.insert(frame, list);
}

// An annotation whose geometry single precision cannot hold is dropped (the
// finite-number rule every reader follows); every other one is kept.
void appendIfFinite(QList<Annotation> &list, Annotation &&annotation)
{
    if (geometryFitsFloat(annotation))
        list.append(std::move(annotation));
}

QList<Annotation> annotationsFromJson(const QJsonArray &array)
{
    QList<Annotation> list;
    list.reserve(array.size());
    for (const auto &value : array)
        appendIfFinite(list, annotationFromJson(value.toObject()));
    return list;
}

QJsonArray annotationsToJson(const QList<Annotation> &list)
{
    QJsonArray array;
    for (const auto &a : list)
        array.append(annotationToJson(a));
    return array;
}

KeypointSchema schemaFromJson(const QJsonObject &object)
{
    KeypointSchema schema;
    schema.objectClass = readString(object, QStringLiteral("objectClass"));
    for (const auto &name : object.value(QStringLiteral("keypointNames")).toArray())
        schema.keypointNames.append(name.toString());
    for (const auto &edgeValue : object.value(QStringLiteral("edges")).toArray()) {
        const QJsonArray edge = edgeValue.toArray();
        if (edge.size() < 2)
            continue;
        schema.edges.append({edge.at(0).toInt(0), edge.at(1).toInt(0)});
    }
    return schema;
}

QJsonObject schemaToJson(const KeypointSchema &schema)
{
    QJsonArray edges;
    for (const auto &edge : schema.edges)
        edges.append(QJsonArray{edge.first, edge.second});
    QJsonObject object;
    object.insert(QStringLiteral("edges"), edges);
    object.insert(QStringLiteral("keypointNames"), QJsonArray::fromStringList(schema.keypointNames));
    object.insert(QStringLiteral("objectClass"), schema.objectClass);
    return object;
}

// A frame rate that is not a positive number single precision holds counts as
// none given.
float fpsFrom(double fps)
{
    const float value = floatOrDefault(fps, 25.0f);
    return value > 0 ? value : 25.0f;
}

float readFps(const QJsonObject &object)
{
    return fpsFrom(object.value(QStringLiteral("fps")).toDouble(25.0));
}

// The file is streamed rather than built as a document first: a project of
// 100,000 images makes a file of over a gigabyte. The members go out in the
// sorted key order a document would give them, byte for byte the same text.

void writeAnnotation(JsonIndentedWriter &w, const Annotation &a)
{
    w.beginObject();
    // Only annotations that carry attributes have the member.
    if (!a.attributes.isEmpty()) {
        w.key("attributes");
        writeAttributes(w, a.attributes);
    }
    w.key("bbox");
    w.beginObject();
    w.key("h");
    w.value(a.bbox.height());
    w.key("w");
    w.value(a.bbox.width());
    w.key("x");
    w.value(a.bbox.x());
    w.key("y");
    w.value(a.bbox.y());
    w.endObject();
    w.key("className");
    w.value(a.className);
    w.key("confidence");
    w.value(double(a.confidence));
    if (!a.keypointVis.isEmpty()) {
        w.key("keypointVis");
        w.beginArray();
        for (int v : a.keypointVis)
            w.value(v);
        w.endArray();
    }
    if (!a.points.isEmpty()) {
        w.key("polygon");
        w.beginArray();
        for (const QPointF &p : a.points) {
            w.beginArray();
            w.value(p.x());
            w.value(p.y());
            w.endArray();
        }
        w.endArray();
    }
    w.key("type");
    w.value(kindToText(a.kind));
    w.endObject();
}

void writeAnnotations(JsonIndentedWriter &w, const QList<Annotation> &list)
{
    w.beginArray();
    for (const auto &a : list)
        writeAnnotation(w, a);
    w.endArray();
}

void writeImage(JsonIndentedWriter &w, const ImageEntry &entry)
{
    w.beginObject();
    w.key("filePath");
    w.value(entry.filePath);
    w.key("height");
    w.value(entry.height);
    w.key("id");
    w.value(entry.id);
    w.key("labels");
    writeAnnotations(w, entry.labels);
    w.key("width");
    w.value(entry.width);
    w.endObject();
}

void writeVideo(JsonIndentedWriter &w, const VideoEntry &entry)
{
    w.beginObject();
    w.key("filePath");
    w.value(entry.filePath);
    w.key("fps");
    w.value(double(entry.fps));
    w.key("frameCount");
    w.value(entry.frameCount);
    w.key("frameLabels");
    // Frame keys sort as text in the file: "10" comes before "9".
    QList<QPair<QString, int>> frames;
    for (auto it = entry.frameLabels.cbegin(); it != entry.frameLabels.cend(); ++it) {
        if (!it.value().isEmpty())
            frames.append({QString::number(it.key()), it.key()});
    }
    std::sort(frames.begin(), frames.end());
    w.beginObject();
    for (const auto &frame : frames) {
        w.key(frame.first.toLatin1().constData());
        writeAnnotations(w, entry.frameLabels.value(frame.second));
    }
    w.endObject();
    w.key("height");
    w.value(entry.height);
    w.key("id");
    w.value(entry.id);
    w.key("width");
    w.value(entry.width);
    w.endObject();
}

void writeSchema(JsonIndentedWriter &w, const KeypointSchema &schema)
{
    w.beginObject();
    w.key("edges");
    w.beginArray();
    for (const auto &edge : schema.edges) {
        w.beginArray();
        w.value(edge.first);
        w.value(edge.second);
        w.endArray();
    }
    w.endArray();
    w.key("keypointNames");
    w.beginArray();
    for (const auto &name : schema.keypointNames)
        w.value(name);
    w.endArray();
    w.key("objectClass");
    w.value(schema.objectClass);
    w.endObject();
}

void writeDataset(JsonIndentedWriter &w, const Dataset &dataset)
{
    w.beginObject();
    w.key("classColors");
    w.beginObject();
    for (auto it = dataset.classColors.cbegin(); it != dataset.classColors.cend(); ++it) {
        w.rawKey(it.key());
        w.value(it.value().name(QColor::HexRgb));
    }
    w.endObject();
    w.key("images");
    w.beginArray();
    for (const auto &image : dataset.images)
        writeImage(w, image);
    w.endArray();
    if (dataset.keypointSchema.isInUse()) {
        w.key("keypointSchema");
        writeSchema(w, dataset.keypointSchema);
    }
    w.key("videos");
    w.beginArray();
    for (const auto &video : dataset.videos)
        writeVideo(w, video);
    w.endArray();
    w.endObject();
}

bool writeProject(QIODevice &device, const Project &project)
{
    JsonIndentedWriter w(&device);
    w.beginObject();
    w.key("dataset");
    writeDataset(w, project.dataset);
    w.key("name");
    w.value(project.name);
    w.key("projectType");
    w.value(project.projectType);
    w.key("version");
    w.value(QStringLiteral("1.0"));
    w.endObject();
    return w.finish();
}

// Reads the records of a project file as they come, through the JSON parser,
// without a tree; the rules are those of the tree readers below
// (annotationFromJson and the others), which the tests hold them to. A key
// that comes twice counts as its last occurrence, as in a tree: each member
// replaces what an earlier one of the same key gave.
class StreamedRecords {
public:
    ImageEntry image(JsonValue &value)
    {
        ImageEntry entry;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            if (readSharedMember(key, member, entry))
                return;
            if (key == "labels")
                entry.labels = annotations(member);
        });
        return entry;
    }

    VideoEntry video(JsonValue &value)
    {
        VideoEntry entry;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            if (readSharedMember(key, member, entry))
                return;
            if (key == "frameCount")
                entry.frameCount = std::max(0, member.toInt(0));
            else if (key == "fps")
                entry.fps = fpsFrom(member.toDouble(25.0));
            else if (key == "frameLabels")
                entry.frameLabels = frames(member);
        });
        return entry;
    }

private:
    // The members images and videos have alike; false for any other key.
    template <typename Entry> static bool readSharedMember(std::string_view key, JsonValue &member, Entry &entry)
    {
        if (key == "id")
            entry.id = member.toInt(-1);
        else if (key == "filePath")
            entry.filePath = member.toString();
        else if (key == "width")
            entry.width = sizeFrom(member.toInt(0));
        else if (key == "height")
            entry.height = sizeFrom(member.toInt(0));
        else
            return false;
        return true;
    }

    // Lists are gathered in scratch lists that keep their memory and then
    // moved into one allocation of the exact size: a dataset holds millions
    // of them, and growing each step by step costs more than reading it.
    template <typename T> static QList<T> takeExact(QList<T> &scratch)
    {
        QList<T> list;
        list.reserve(scratch.size());
        for (T &item : scratch)
            list.append(std::move(item));
        scratch.clear();
        return list;
    }

    QList<Annotation> annotations(JsonValue &value)
    {
        value.forEachElement([&](JsonValue &element) {
            appendIfFinite(annotationScratch, element.isObject() ? annotation(element) : Annotation());
        });
        return takeExact(annotationScratch);
    }

    Annotation annotation(JsonValue &value)
    {
        Annotation a;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            if (key == "className")
                a.className = member.toString(strings);
            else if (key == "attributes")
                a.attributes = attributes.read(member);
            else if (key == "type")
                a.kind = kindFromText(member.toString(strings));
            else if (key == "bbox")
                a.bbox = box(member);
            else if (key == "confidence")
                a.confidence = floatOrDefault(member.toDouble(1.0), 1.0f);
            else if (key == "polygon")
                a.points = points(member);
            else if (key == "keypointVis")
                a.keypointVis = visibilities(member);
        });
        return a;
    }

    static QRectF box(JsonValue &value)
    {
        double x = 0, y = 0, w = 0, h = 0;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            if (key == "x")
                x = member.toDouble(0);
            else if (key == "y")
                y = member.toDouble(0);
            else if (key == "w")
                w = member.toDouble(0);
            else if (key == "h")
                h = member.toDouble(0);
        });
        return QRectF(x, y, w, h);
    }

    QList<QPointF> points(JsonValue &value)
    {
        value.forEachElement([&](JsonValue &pair) {
            numbers.clear();
            pair.appendNumbers(numbers, 0.0);
            if (numbers.size() >= 2)
                pointScratch.append(QPointF(numbers[0], numbers[1]));
        });
        return takeExact(pointScratch);
    }

    // Whole numbers within the int range; anything else counts as 2.
    QList<int> visibilities(JsonValue &value)
    {
        numbers.clear();
        value.appendNumbers(numbers, 2.0);
        QList<int> list;
        list.reserve(qsizetype(numbers.size()));
        for (const double v : numbers) {
            const bool whole =
                v == std::floor(v) && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
            list.append(whole ? int(v) : 2);
        }
        return list;
    }

    // Frames in the order of their keys, as a tree holds them, so that of two
    // keys naming one frame ("7" and "07") the same one wins.
    QMap<int, QList<Annotation>> frames(JsonValue &value)
    {
        std::map<std::string, QList<Annotation>> byKey;
        value.forEachMember(
            [&](std::string_view key, JsonValue &member) { byKey[std::string(key)] = annotations(member); });
        QMap<int, QList<Annotation>> frames;
        for (const auto &[key, list] : byKey)
            applyFrame(frames, QString::fromStdString(key), list);
        return frames;
    }

    JsonStringPool strings;      // class names and kinds repeat throughout a file
    AttributeReader attributes;
    std::vector<double> numbers; // scratch
    QList<Annotation> annotationScratch;
    QList<QPointF> pointScratch;
};

// The members of a dataset object, read but not yet applied.
struct DatasetParts {
    QJsonObject classColors;
    QList<ImageEntry> images;
    QList<VideoEntry> videos;
    bool hasSchema = false;
    QJsonObject schema;
};

// Builds the dataset in the order that decides colours and ids: the stored
// classes, the images, the videos, the schema's object class, and last the
// classes that only annotations name.
Dataset assembleDataset(const DatasetParts &parts)
{
    Dataset dataset;
    for (auto it = parts.classColors.constBegin(); it != parts.classColors.constEnd(); ++it) {
        const QJsonValue value = it.value();
        const QColor color = value.isString() ? QColor::fromString(value.toString()) : QColor();
        dataset.addClass(it.key(), color);
    }

    dataset.images.reserve(parts.images.size());
    StoredIds imageIds;
    for (ImageEntry entry : parts.images) {
        entry.id = imageIds.idToAdd(entry.id);
        dataset.addImage(entry);
        imageIds.noteAdded(dataset.images.constLast().id);
    }
    StoredIds videoIds;
    for (VideoEntry entry : parts.videos) {
        entry.id = videoIds.idToAdd(entry.id);
        dataset.addVideo(entry);
        videoIds.noteAdded(dataset.videos.constLast().id);
    }
    if (parts.hasSchema)
        dataset.setKeypointSchema(schemaFromJson(parts.schema));
    dataset.syncClassesFromAnnotations();
    return dataset;
}

// Reads a whole project file's text. The large members, the image and video
// lists, are read one element at a time through the JSON parser; the small
// ones as Qt values. That keeps files of any size readable and the memory
// that a load needs close to that of the dataset itself.
class ProjectTextReader {
public:
    ProjectTextReader(const char *text, qsizetype size) : reader(text, size) {}
    void setByteSource(JsonPieceReader::ByteSource source) { reader.setByteSource(std::move(source)); }

    // False, with `project` untouched, when the text is not a JSON object.
    bool read(Project &project)
    {
        const qsizetype begin = reader.start();
        if (!reader.isObjectAt(begin))
            return false;
        Project read;
        const qsizetype end = reader.walkObject(begin, [&](const QString &key, qsizetype valueBegin) -> qsizetype {
            if (key == QLatin1String("dataset"))
                return readDataset(valueBegin, read.dataset);
            if (key != QLatin1String("name") && key != QLatin1String("projectType"))
                return check(valueBegin);
            QJsonValue value;
            const qsizetype valueEnd = reader.parseValue(valueBegin, value);
            (key == QLatin1String("name") ? read.name : read.projectType) = value.toString();
            return valueEnd;
        });
        if (!reader.onlyWhitespaceFrom(end))
            return false;
        project = std::move(read);
        return true;
    }

private:
    // Checks a value that nothing reads.
    qsizetype check(qsizetype begin)
    {
        return reader.readValue(begin, parser, [](JsonValue &) {});
    }

    qsizetype readDataset(qsizetype begin, Dataset &dataset)
    {
        if (!reader.isObjectAt(begin)) {
            dataset = Dataset();
            return check(begin);
        }
        DatasetParts parts;
        const qsizetype end = reader.walkObject(begin, [&](const QString &key, qsizetype valueBegin) -> qsizetype {
            if (key == QLatin1String("images"))
                return readEntries(valueBegin, parts.images, &StreamedRecords::image);
            if (key == QLatin1String("videos"))
                return readEntries(valueBegin, parts.videos, &StreamedRecords::video);
            if (key != QLatin1String("classColors") && key != QLatin1String("keypointSchema"))
                return check(valueBegin);
            QJsonValue value;
            const qsizetype valueEnd = reader.parseValue(valueBegin, value);
            if (key == QLatin1String("classColors")) {
                parts.classColors = value.toObject();
            } else {
                parts.hasSchema = true;
                parts.schema = value.toObject();
            }
            return valueEnd;
        });
        if (end >= 0)
            dataset = assembleDataset(parts);
        return end;
    }

    // Reads the entries of an "images" or "videos" member one element at a
    // time; a value that is not an array holds none, and an element that is
    // not an object is an entry of defaults. A later member of the same name
    // replaces an earlier one, as in any JSON object.
    template <typename Entry>
    qsizetype readEntries(qsizetype begin, QList<Entry> &entries, Entry (StreamedRecords::*fromJson)(JsonValue &))
    {
        entries.clear();
        if (!reader.isArrayAt(begin))
            return check(begin);
        if (const qsizetype end = readEntriesInParallel(begin, entries, fromJson); end >= 0)
            return end;
        entries.clear();
        return reader.readElements(begin, parser, [&](qsizetype index, JsonValue &element) {
            // An element read again replaces what its first reading gave.
            if (index < entries.size())
                entries.resize(index);
            entries.append(element.isObject() ? (records.*fromJson)(element) : Entry());
        });
    }

    // The entries of an array of many batches, parsed on several threads at
    // once, each with a parser and records of its own, and joined in text
    // order. -1 when the array is not cut into batches (not laid out as the
    // program writes it) or a batch does not parse whole: the caller then
    // reads it element by element, as readElements() does.
    template <typename Entry>
    qsizetype readEntriesInParallel(qsizetype begin, QList<Entry> &entries,
                                    Entry (StreamedRecords::*fromJson)(JsonValue &))
    {
        // The cores this process may run on; more than eight gain little.
        const int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
        if (threads < 2)
            return -1;
        struct Worker {
            JsonParser parser;
            StreamedRecords records;
        };
        std::vector<std::unique_ptr<Worker>> workers;
        for (int i = 0; i < threads; ++i)
            workers.push_back(std::make_unique<Worker>());
        std::deque<QList<Entry>> chunks;
        std::atomic<bool> refused{false};
        const auto parseInto = [&](QList<Entry> &chunk, const QByteArray &text, Worker &worker) {
            const QByteArrayView array(text.constData(), text.size() - JsonText::padding);
            const bool ok = worker.parser.parse(array, JsonText::padding, [&](JsonValue &value) {
                value.forEachElement([&](JsonValue &element) {
                    chunk.append(element.isObject() ? (worker.records.*fromJson)(element) : Entry());
                });
            });
            if (!ok)
                refused = true;
        };
        // Threads are started only for an array of more than one batch.
        std::optional<JobQueue> queue;
        QByteArray first;
        const auto submit = [&](QByteArray &&text) {
            QList<Entry> &chunk = chunks.emplace_back();
            queue->submit([&parseInto, &workers, &chunk, text = std::move(text)](int thread) {
                parseInto(chunk, text, *workers[size_t(thread)]);
            });
        };
        const qsizetype end = reader.cutBatches(begin, [&](QByteArray &&text) {
            // A batch grows past its size only around an element larger than
            // a batch; many such in flight at once would hold too much memory,
            // so those arrays are read one element at a time.
            if (refused || text.size() > 4 * JsonPieceReader::batchBytes)
                return false;
            if (!queue && first.isNull()) {
                first = std::move(text);
                return true;
            }
            if (!queue) {
                queue.emplace(threads, 2 * threads);
                submit(std::move(first));
            }
            submit(std::move(text));
            return true;
        });
        if (queue)
            queue->finish();
        else if (end >= 0 && !first.isNull())
            parseInto(chunks.emplace_back(), first, *workers.front());
        if (end < 0 || refused)
            return -1;
        qsizetype total = 0;
        for (const QList<Entry> &chunk : chunks)
            total += chunk.size();
        entries.reserve(total);
        for (QList<Entry> &chunk : chunks) {
            for (Entry &entry : chunk)
                entries.append(std::move(entry));
            chunk = QList<Entry>();
        }
        return end;
    }

    JsonPieceReader reader;
    JsonParser parser;
    StreamedRecords records;
};

} // namespace

Annotation annotationFromJson(const QJsonObject &object)
{
    Annotation a;
    a.className = readString(object, QStringLiteral("className"));
    a.kind = kindFromText(readString(object, QStringLiteral("type")));
    const QJsonObject box = object.value(QStringLiteral("bbox")).toObject();
    a.bbox = QRectF(box.value(QStringLiteral("x")).toDouble(0), box.value(QStringLiteral("y")).toDouble(0),
                    box.value(QStringLiteral("w")).toDouble(0), box.value(QStringLiteral("h")).toDouble(0));
    a.confidence = floatOrDefault(object.value(QStringLiteral("confidence")).toDouble(1.0), 1.0f);
    a.attributes = attributesFromJson(object.value(QStringLiteral("attributes")));

    const QJsonValue polygon = object.value(QStringLiteral("polygon"));
    if (polygon.isArray()) {
        const QJsonArray points = polygon.toArray();
        a.points.reserve(points.size());
        for (const auto &pointValue : points) {
            const QJsonArray pair = pointValue.toArray();
            if (pair.size() < 2)
                continue;
            a.points.append(QPointF(pair.at(0).toDouble(0), pair.at(1).toDouble(0)));
        }
    }
    const QJsonValue vis = object.value(QStringLiteral("keypointVis"));
    if (vis.isArray()) {
        const QJsonArray values = vis.toArray();
        a.keypointVis.reserve(values.size());
        for (const auto &v : values)
            a.keypointVis.append(v.toInt(2));
    }
    return a;
}

QJsonObject annotationToJson(const Annotation &a)
{
    QJsonObject object;
    if (!a.attributes.isEmpty())
        object.insert(QStringLiteral("attributes"), attributesToJson(a.attributes));
    object.insert(QStringLiteral("bbox"), QJsonObject{{QStringLiteral("h"), a.bbox.height()},
                                                      {QStringLiteral("w"), a.bbox.width()},
                                                      {QStringLiteral("x"), a.bbox.x()},
                                                      {QStringLiteral("y"), a.bbox.y()}});
    object.insert(QStringLiteral("className"), a.className);
    object.insert(QStringLiteral("confidence"), double(a.confidence));
    if (!a.keypointVis.isEmpty()) {
        QJsonArray vis;
        for (int v : a.keypointVis)
            vis.append(v);
        object.insert(QStringLiteral("keypointVis"), vis);
    }
    if (!a.points.isEmpty()) {
        QJsonArray points;
        for (const QPointF &p : a.points)
            points.append(QJsonArray{p.x(), p.y()});
        object.insert(QStringLiteral("polygon"), points);
    }
    object.insert(QStringLiteral("type"), kindToText(a.kind));
    return object;
}

namespace {

// The members images and videos have alike.
template <typename Entry> Entry mediaEntryFromJson(const QJsonObject &object)
{
    Entry entry;
    entry.id = object.value(QStringLiteral("id")).toInt(-1);
    entry.filePath = readString(object, QStringLiteral("filePath"));
    entry.width = readSize(object, QStringLiteral("width"));
    entry.height = readSize(object, QStringLiteral("height"));
    return entry;
}

} // namespace

ImageEntry imageEntryFromJson(const QJsonObject &object)
{
    ImageEntry entry = mediaEntryFromJson<ImageEntry>(object);
    entry.labels = annotationsFromJson(object.value(QStringLiteral("labels")).toArray());
    return entry;
}

QJsonObject imageEntryToJson(const ImageEntry &entry)
{
    QJsonObject object;
    object.insert(QStringLiteral("filePath"), entry.filePath);
    object.insert(QStringLiteral("height"), entry.height);
    object.insert(QStringLiteral("id"), entry.id);
    object.insert(QStringLiteral("labels"), annotationsToJson(entry.labels));
    object.insert(QStringLiteral("width"), entry.width);
    return object;
}

VideoEntry videoEntryFromJson(const QJsonObject &object)
{
    VideoEntry entry = mediaEntryFromJson<VideoEntry>(object);
    entry.frameCount = std::max(0, object.value(QStringLiteral("frameCount")).toInt(0));
    entry.fps = readFps(object);
    const QJsonObject frames = object.value(QStringLiteral("frameLabels")).toObject();
    for (auto it = frames.begin(); it != frames.end(); ++it)
        applyFrame(entry.frameLabels, it.key(), annotationsFromJson(it.value().toArray()));
    return entry;
}

QJsonObject videoEntryToJson(const VideoEntry &entry)
{
    QJsonObject frames;
    for (auto it = entry.frameLabels.cbegin(); it != entry.frameLabels.cend(); ++it) {
        if (!it.value().isEmpty())
            frames.insert(QString::number(it.key()), annotationsToJson(it.value()));
    }
    QJsonObject object;
    object.insert(QStringLiteral("filePath"), entry.filePath);
    object.insert(QStringLiteral("fps"), double(entry.fps));
    object.insert(QStringLiteral("frameCount"), entry.frameCount);
    object.insert(QStringLiteral("frameLabels"), frames);
    object.insert(QStringLiteral("height"), entry.height);
    object.insert(QStringLiteral("id"), entry.id);
    object.insert(QStringLiteral("width"), entry.width);
    return object;
}

Dataset datasetFromJson(const QJsonObject &object)
{
    DatasetParts parts;
    parts.classColors = object.value(QStringLiteral("classColors")).toObject();
    for (const auto &value : object.value(QStringLiteral("images")).toArray())
        parts.images.append(imageEntryFromJson(value.toObject()));
    for (const auto &value : object.value(QStringLiteral("videos")).toArray())
        parts.videos.append(videoEntryFromJson(value.toObject()));
    parts.hasSchema = object.contains(QStringLiteral("keypointSchema"));
    parts.schema = object.value(QStringLiteral("keypointSchema")).toObject();
    return assembleDataset(parts);
}

QJsonObject datasetToJson(const Dataset &dataset)
{
    QJsonArray images;
    for (const auto &image : dataset.images)
        images.append(imageEntryToJson(image));
    QJsonObject colors;
    for (auto it = dataset.classColors.cbegin(); it != dataset.classColors.cend(); ++it)
        colors.insert(it.key(), it.value().name(QColor::HexRgb));
    QJsonArray videos;
    for (const auto &video : dataset.videos)
        videos.append(videoEntryToJson(video));

    QJsonObject object;
    object.insert(QStringLiteral("classColors"), colors);
    object.insert(QStringLiteral("images"), images);
    if (dataset.keypointSchema.isInUse())
        object.insert(QStringLiteral("keypointSchema"), schemaToJson(dataset.keypointSchema));
    object.insert(QStringLiteral("videos"), videos);
    return object;
}

QJsonObject projectToJson(const Project &project)
{
    QJsonObject root;
    root.insert(QStringLiteral("dataset"), datasetToJson(project.dataset));
    root.insert(QStringLiteral("name"), project.name);
    root.insert(QStringLiteral("projectType"), project.projectType);
    root.insert(QStringLiteral("version"), QStringLiteral("1.0"));
    return root;
}

QByteArray projectToJsonBytes(const Project &project)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    writeProject(buffer, project);
    return bytes;
}

bool loadProjectFile(Project &project, const QString &path)
{
    return readProjectFile(project, path, nullptr);
}

bool readProjectFile(Project &project, const QString &path, QString *problem)
{
    if (problem)
        problem->clear();
    // Only a regular file: a pipe would block the open for good, and a device
    // such as /dev/zero would be read until memory runs out.
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    // Read straight from the mapped file where possible: project files of large
    // datasets run to gigabytes, and a copy in memory would add as much again.
    // Another program may cut the file short or rewrite it meanwhile: what was
    // read is then thrown away.
    const MappedFile mapped(file);
    if (mapped.isMapped()) {
        ProjectTextReader reader(mapped.data(), qsizetype(mapped.size()));
        reader.setByteSource([&file](qsizetype offset, char *out, qsizetype length) {
            return readFileAt(file, offset, out, length);
        });
        Project read;
        const bool ok = reader.read(read);
        if (mapped.changed()) {
            if (problem)
                *problem = QStringLiteral("The project file changed while it was read.");
            return false;
        }
        if (ok)
            project = std::move(read);
        return ok;
    }
    const QByteArray bytes = file.readAll();
    return ProjectTextReader(bytes.constData(), bytes.size()).read(project);
}

bool saveProjectFile(const Project &project, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Flush before committing: a failure of the last buffered write would
    // otherwise go unnoticed by commit(), which would then replace the previous
    // file with a truncated one.
    if (!writeProject(file, project) || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace Quillmark
