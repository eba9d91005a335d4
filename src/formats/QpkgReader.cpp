#include "formats/QpkgReader.h"

#include "formats/QpkgConnection.h"
#include "formats/QpkgHandler.h"
#include "formats/QpkgImageBytes.h"
#include "formats/SafeRead.h"
#include "model/FiniteNumber.h"
#include "model/PictureLoader.h"
#include "model/StoredIds.h"

#include <QColor>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>

#include <cmath>
#include <limits>

namespace Quillmark {

namespace {

// A keypoint schema is a short list of names; a longer text is no schema.
constexpr qint64 kMaxSchemaBytes = 1024 * 1024;

QSize encodedImageSize(const QByteArray &bytes)
{
    return PictureLoader::uprightSize(bytes);
}

KeypointSchema schemaFromJson(const QJsonObject &object)
{
    KeypointSchema schema;
    schema.objectClass = object.value(QStringLiteral("objectClass")).toString();
    const QJsonArray names = object.value(QStringLiteral("keypointNames")).toArray();
    for (const QJsonValue &name : names)
        schema.keypointNames.append(name.toString());
    // An edge must join two of the schema's keypoints.
    schema.edges = jsonKeypointEdges(object.value(QStringLiteral("edges")).toArray(), 0, schema.keypointNames.size());
    return schema;
}

// A whole number as SQLite gives it: an integer, or a real without a fraction
// within the 64-bit range. Text, blobs and NULL are none.
std::optional<qint64> storedInteger(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        return value.toLongLong();
    case QMetaType::Double: {
        const double d = value.toDouble();
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(d) && d == std::floor(d) && d >= -limit && d < limit)
            return qint64(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// A count or a size: a whole number from 0 to the int range, else 0 (unknown).
int storedCount(const QVariant &value)
{
    const std::optional<qint64> number = storedInteger(value);
    if (!number || *number < 0 || *number > std::numeric_limits<int>::max())
        return 0;
    return int(*number);
}

// A number column (confidence, frame rate): NULL or text that is no number is
// no value; so is one that single precision cannot hold.
std::optional<float> storedFloat(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.isNull() || !ok || !fitsFloat(number))
        return std::nullopt;
    return float(number);
}

float storedFps(const QVariant &value)
{
    const std::optional<float> fps = storedFloat(value);
    return fps && *fps > 0 ? *fps : 25.0f;
}

} // namespace

QpkgReader::QpkgReader(QpkgConnection &connection, ProgressCallback progress)
    : m_connection(connection), m_packagePath(QFileInfo(connection.path()).absoluteFilePath()),
      m_folder(QFileInfo(connection.path()).absolutePath()), m_progress(std::move(progress))
{
}

bool QpkgReader::read(Dataset &dataset)
{
    // Classes come before the keypoint schema so that the schema's object
    // class keeps its stored colour.
    return readClasses(dataset) && readKeypointSchema(dataset) && readImageAnnotations()
        && readImages(dataset) && readVideos(dataset);
}

bool QpkgReader::run(QSqlQuery &query, const QString &sql)
{
    query.setForwardOnly(true);
    if (query.exec(sql))
        return true;
    qWarning().noquote() << "QpkgHandler read error:" << query.lastError().text();
    return false;
}

bool QpkgReader::hasColumn(const QString &table, const QString &column)
{
    QSqlQuery query(m_connection.database());
    if (!run(query, QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return false;
    while (query.next()) {
        if (query.value(1).toString() == column)
            return true;
    }
    return false;
}

bool QpkgReader::readClasses(Dataset &dataset)
{
    if (!m_connection.hasPlainTable(QStringLiteral("classes")))
        return true;
    QSqlQuery query(m_connection.database());
    if (!run(query, QStringLiteral("SELECT id, title, color FROM classes ORDER BY id")))
        return false;
    while (query.next()) {
        const QString title = query.value(1).toString();
        dataset.addClass(title, QColor::fromString(query.value(2).toString()));
        // Annotations name their class by id; only whole numbers can match.
        if (const std::optional<qint64> id = storedInteger(query.value(0)); id && !m_classTitles.contains(*id))
            m_classTitles.insert(*id, title);
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readKeypointSchema(Dataset &dataset)
{
    if (!m_connection.hasPlainTable(QStringLiteral("qmpkg_metadata")))
        return true;
    QSqlQuery query(m_connection.database());
    const QString select = QStringLiteral("SELECT CASE WHEN length(value) <= %1 THEN value END FROM qmpkg_metadata "
                                          "WHERE key='keypoint_schema' LIMIT 1");
    if (!run(query, select.arg(kMaxSchemaBytes)))
        return false;
    if (!query.next() || query.value(0).isNull())
        return query.lastError().type() == QSqlError::NoError;
    const QJsonObject object = QJsonDocument::fromJson(query.value(0).toString().toUtf8()).object();
    if (object.isEmpty())
        return true;
    const KeypointSchema schema = schemaFromJson(object);
    if (schema.isInUse())
        dataset.setKeypointSchema(schema);
    return true;
}

// The annotation of the row's columns from `first` on: class id, geometry
// type, geometry, confidence, attributes, id. None when its class is unknown
// or its geometry does not fit single precision.
std::optional<Annotation> QpkgReader::annotationFromQuery(const QSqlQuery &query, int first)
{
    const std::optional<qint64> classId = storedInteger(query.value(first));
    const auto title = classId ? m_classTitles.constFind(*classId) : m_classTitles.cend();
    if (title == m_classTitles.cend())
        return std::nullopt;
    const std::optional<qint64> rowId = storedInteger(query.value(first + 5));
    const int id = rowId && *rowId >= 0 && *rowId <= std::numeric_limits<int>::max() ? int(*rowId) : -1;
    Annotation annotation = QpkgHandler::annotationFromRow(
        query.value(first + 1).toString(), query.value(first + 2).toString(), title.value(),
        storedFloat(query.value(first + 3)).value_or(1.0f), query.value(first + 4).toString(), id);
    if (!geometryFitsFloat(annotation))
        return std::nullopt;
    return annotation;
}

bool QpkgReader::readImageAnnotations()
{
    if (!m_connection.hasPlainTable(QStringLiteral("annotations")))
        return true;
    QSqlQuery query(m_connection.database());
    if (!run(query, QStringLiteral("SELECT a.image_id, a.class_id, a.geom_type, a.geometry, a.confidence, "
                                   "a.attributes, a.id FROM annotations a ORDER BY a.image_id, a.id")))
        return false;
    while (query.next()) {
        const std::optional<qint64> imageId = storedInteger(query.value(0));
        if (!imageId)
            continue;
        if (std::optional<Annotation> annotation = annotationFromQuery(query, 1))
            m_imageLabels[*imageId].append(std::move(*annotation));
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readImageRows(QList<ImageRow> &rows)
{
    QSqlQuery query(m_connection.database());
    if (!run(query, QStringLiteral("SELECT rowid, id, filename, width, height, length(bytes) FROM images "
                                   "ORDER BY id, rowid")))
        return false;
    while (query.next()) {
        ImageRow row;
        row.rowId = query.value(0).toLongLong();
        row.storedId = storedInteger(query.value(1));
        row.fileName = QpkgHandler::mediaFileName(query.value(2).toString(), "image", row.rowId);
        row.width = storedCount(query.value(3));
        row.height = storedCount(query.value(4));
        const QVariant length = query.value(5);
        row.storedLength = length.isNull() ? -1 : length.toLongLong();
        rows.append(row);
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readImages(Dataset &dataset)
{
    if (!m_connection.hasPlainTable(QStringLiteral("images")))
        return true;
    QList<ImageRow> rows;
    if (!readImageRows(rows))
        return false;
    const int total = int(rows.size());
    dataset.images.reserve(dataset.images.size() + total);
    StoredIds ids;
    for (int i = 0; i < total; ++i) {
        const ImageRow &row = rows.at(i);
        ImageEntry entry;
        entry.id = ids.idToAdd(row.storedId);
        entry.width = row.width;
        entry.height = row.height;
        // The annotations of a stored id go to the first image that has it.
        if (row.storedId)
            entry.labels = m_imageLabels.take(*row.storedId);
        // A file of the same name beside the package is this image only when
        // nothing was stored or the stored bytes have its size: images from
        // different folders often share a name.
        const QFileInfo sibling(m_folder + QLatin1Char('/') + row.fileName);
        if (sibling.isFile() && (row.storedLength < 0 || sibling.size() == row.storedLength))
            entry.filePath = sibling.filePath();
        else
            referToStoredImage(row, entry);
        dataset.addImage(entry);
        ids.noteAdded(dataset.images.constLast().id);
        if (m_progress)
            m_progress(i + 1, total);
    }
    return true;
}

void QpkgReader::referToStoredImage(const ImageRow &row, ImageEntry &entry)
{
    entry.filePath = row.fileName;
    if (row.storedLength <= 0)
        return;
    if (entry.width <= 0 || entry.height <= 0) {
        const QSize size = storedImageSize(row);
        if (entry.width <= 0)
            entry.width = std::max(0, size.width());
        if (entry.height <= 0)
            entry.height = std::max(0, size.height());
    }
    entry.storedBytes = std::make_shared<QpkgImageBytes>(m_packagePath, row.rowId, row.fileName, row.storedLength);
}

// The size from the start of the stored bytes; the whole image is read only
// when its header lies further in (a JPEG with a large preview). One image at
// a time, so memory stays bounded.
QSize QpkgReader::storedImageSize(const ImageRow &row)
{
    constexpr qint64 headBytes = 256 * 1024;
    // SQLite builds the whole blob before it takes a part of it.
    const QpkgConnection::ValueAllowance allowance(m_connection, row.storedLength);
    QSqlQuery query(m_connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT substr(bytes, 1, ?) FROM images WHERE rowid=?"));
    for (const qint64 count : {headBytes, row.storedLength}) {
        query.bindValue(0, count);
        query.bindValue(1, row.rowId);
        if (!query.exec() || !query.next())
            return {};
        const QSize size = encodedImageSize(query.value(0).toByteArray());
        query.finish();
        if (size.isValid() || row.storedLength <= headBytes)
            return size;
    }
    return {};
}

bool QpkgReader::readVideoAnnotations(QHash<qint64, QMap<int, QList<Annotation>>> &byVideo)
{
    if (!m_connection.hasPlainTable(QStringLiteral("video_annotations")))
        return true;
    QSqlQuery query(m_connection.database());
    if (!run(query, QStringLiteral("SELECT va.video_id, va.frame_index, va.class_id, va.geom_type, va.geometry, "
                                   "va.confidence, va.attributes, va.id FROM video_annotations va "
                                   "ORDER BY va.video_id, va.frame_index, va.id")))
        return false;
    while (query.next()) {
        const std::optional<qint64> videoId = storedInteger(query.value(0));
        const std::optional<qint64> frame = storedInteger(query.value(1));
        if (!videoId || !frame || *frame < 0 || *frame > std::numeric_limits<int>::max())
            continue;
        if (std::optional<Annotation> annotation = annotationFromQuery(query, 2))
            byVideo[*videoId][int(*frame)].append(std::move(*annotation));
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readVideos(Dataset &dataset)
{
    if (!m_connection.hasPlainTable(QStringLiteral("videos")))
        return true;
    QHash<qint64, QMap<int, QList<Annotation>>> byVideo;
    if (!readVideoAnnotations(byVideo))
        return false;
    // Packages from before videos carried their bytes have no such column;
    // they are read as they are, without changing the file.
    const bool hasBytes = hasColumn(QStringLiteral("videos"), QStringLiteral("bytes"));
    const QString select = QStringLiteral("SELECT rowid, id, filename, width, height, frame_count, fps, %1 "
                                          "FROM videos ORDER BY id, rowid");
    QSqlQuery query(m_connection.database());
    if (!run(query, select.arg(hasBytes ? QStringLiteral("length(bytes)") : QStringLiteral("NULL"))))
        return false;
    StoredIds ids;
    while (query.next()) {
        const qint64 rowId = query.value(0).toLongLong();
        const std::optional<qint64> storedId = storedInteger(query.value(1));
        VideoEntry entry;
        entry.id = ids.idToAdd(storedId);
        entry.filePath = QpkgHandler::mediaFileName(query.value(2).toString(), "video", rowId);
        entry.width = storedCount(query.value(3));
        entry.height = storedCount(query.value(4));
        entry.frameCount = storedCount(query.value(5));
        entry.fps = storedFps(query.value(6));
        const QVariant length = query.value(7);
        if (!length.isNull() && !readVideoBytes(rowId, length.toLongLong(), &entry.bytes))
            return false;
        if (storedId)
            entry.frameLabels = byVideo.take(*storedId);
        dataset.addVideo(entry);
        ids.noteAdded(dataset.videos.constLast().id);
    }
    return query.lastError().type() == QSqlError::NoError;
}

// A video's bytes, fetched on their own once their length is known, so that
// the connection lets no other value of that size through.
bool QpkgReader::readVideoBytes(qint64 rowId, qint64 length, QByteArray *bytes)
{
    const QpkgConnection::ValueAllowance allowance(m_connection, length);
    QSqlQuery query(m_connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT bytes FROM videos WHERE rowid=?"));
    query.bindValue(0, rowId);
    if (!query.exec() || !query.next()) {
        qWarning().noquote() << "QpkgHandler read error:" << query.lastError().text();
        return false;
    }
    *bytes = query.value(0).toByteArray();
    return true;
}

} // namespace Quillmark
