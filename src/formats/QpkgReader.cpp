#include "formats/QpkgReader.h"

#include "formats/QpkgHandler.h"
#include "formats/QpkgImageBytes.h"
#include "formats/SafeRead.h"
#include "model/PictureLoader.h"

#include <QColor>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

namespace Quillmark {

namespace {

bool run(QSqlQuery &query, const QString &sql)
{
    query.setForwardOnly(true);
    if (query.exec(sql))
        return true;
    qWarning().noquote() << "QpkgHandler read error:" << query.lastError().text();
    return false;
}

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

float storedFps(double fps)
{
    return std::isfinite(fps) && fps > 0 ? float(fps) : 25.0f;
}

} // namespace

QpkgReader::QpkgReader(QSqlDatabase &db, const QString &packagePath, ProgressCallback progress)
    : m_db(db), m_packagePath(QFileInfo(packagePath).absoluteFilePath()),
      m_folder(QFileInfo(packagePath).absolutePath()), m_progress(std::move(progress))
{
}

bool QpkgReader::read(Dataset &dataset)
{
    // Classes come before the keypoint schema so that the schema's object
    // class keeps its stored colour.
    return readClasses(dataset) && readKeypointSchema(dataset) && readImageAnnotations()
        && readImages(dataset) && readVideos(dataset);
}

bool QpkgReader::tableExists(const QString &table)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=? LIMIT 1"));
    query.bindValue(0, table);
    return query.exec() && query.next();
}

bool QpkgReader::hasColumn(const QString &table, const QString &column)
{
    QSqlQuery query(m_db);
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
    if (!tableExists(QStringLiteral("classes")))
        return true;
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT id, title, color FROM classes ORDER BY id")))
        return false;
    while (query.next()) {
        const QString title = query.value(1).toString();
        dataset.addClass(title, QColor::fromString(query.value(2).toString()));
        m_classTitles.insert(query.value(0).toInt(), title);
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readKeypointSchema(Dataset &dataset)
{
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT value FROM qmpkg_metadata WHERE key='keypoint_schema' LIMIT 1")))
        return false;
    if (!query.next() || query.value(0).isNull())
        return true;
    const QJsonObject object = QJsonDocument::fromJson(query.value(0).toString().toUtf8()).object();
    if (object.isEmpty())
        return true;
    const KeypointSchema schema = schemaFromJson(object);
    if (schema.isInUse())
        dataset.setKeypointSchema(schema);
    return true;
}

bool QpkgReader::readImageAnnotations()
{
    if (!tableExists(QStringLiteral("annotations")))
        return true;
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT a.image_id, a.class_id, a.geom_type, a.geometry, a.confidence, "
                                   "a.attributes, a.id FROM annotations a ORDER BY a.image_id, a.id")))
        return false;
    while (query.next()) {
        const auto title = m_classTitles.constFind(query.value(1).toInt());
        if (title == m_classTitles.cend())
            continue;
        m_imageLabels[query.value(0).toInt()].append(QpkgHandler::annotationFromRow(
            query.value(2).toString(), query.value(3).toString(), title.value(), query.value(4).toFloat(),
            query.value(5).toString(), query.value(6).toInt()));
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readImageRows(QList<ImageRow> &rows)
{
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT id, filename, width, height, length(bytes) FROM images ORDER BY id")))
        return false;
    while (query.next()) {
        ImageRow row;
        row.id = query.value(0).toInt();
        row.storedName = query.value(1).toString();
        row.fileName = QpkgHandler::mediaFileName(row.storedName, "image", row.id);
        row.width = std::max(0, query.value(2).toInt());
        row.height = std::max(0, query.value(3).toInt());
        const QVariant length = query.value(4);
        row.storedLength = length.isNull() ? -1 : length.toLongLong();
        rows.append(row);
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readImages(Dataset &dataset)
{
    if (!tableExists(QStringLiteral("images")))
        return true;
    QList<ImageRow> rows;
    if (!readImageRows(rows))
        return false;
    const int total = int(rows.size());
    dataset.images.reserve(dataset.images.size() + total);
    for (int i = 0; i < total; ++i) {
        const ImageRow &row = rows.at(i);
        ImageEntry entry;
        entry.id = row.id;
        entry.width = row.width;
        entry.height = row.height;
        entry.labels = m_imageLabels.take(row.id);
        // A file of the same name beside the package is this image only when
        // nothing was stored or the stored bytes have its size: images from
        // different folders often share a name.
        const QFileInfo sibling(m_folder + QLatin1Char('/') + row.fileName);
        if (sibling.isFile() && (row.storedLength < 0 || sibling.size() == row.storedLength))
            entry.filePath = sibling.filePath();
        else
            referToStoredImage(row, entry);
        dataset.addImage(entry);
        if (m_progress)
            m_progress(i + 1, total);
    }
    return true;
}

void QpkgReader::referToStoredImage(const ImageRow &row, ImageEntry &entry) const
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
    entry.storedBytes = std::make_shared<QpkgImageBytes>(m_packagePath, row.id, row.fileName, row.storedLength);
}

// The size from the start of the stored bytes; the whole image is read only
// when its header lies further in (a JPEG with a large preview). One image at
// a time, so memory stays bounded.
QSize QpkgReader::storedImageSize(const ImageRow &row) const
{
    constexpr qint64 headBytes = 256 * 1024;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT substr(bytes, 1, ?) FROM images WHERE id=?"));
    for (const qint64 count : {headBytes, row.storedLength}) {
        query.bindValue(0, count);
        query.bindValue(1, row.id);
        if (!query.exec() || !query.next())
            return {};
        const QSize size = encodedImageSize(query.value(0).toByteArray());
        query.finish();
        if (size.isValid() || row.storedLength <= headBytes)
            return size;
    }
    return {};
}

bool QpkgReader::readVideoAnnotations(QHash<int, QMap<int, QList<Annotation>>> &byVideo)
{
    if (!tableExists(QStringLiteral("video_annotations")))
        return true;
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT va.video_id, va.frame_index, va.class_id, va.geom_type, va.geometry, "
                                   "va.confidence, va.attributes, va.id FROM video_annotations va "
                                   "ORDER BY va.video_id, va.frame_index, va.id")))
        return false;
    while (query.next()) {
        const auto title = m_classTitles.constFind(query.value(2).toInt());
        const int frame = query.value(1).toInt();
        if (title == m_classTitles.cend() || frame < 0)
            continue;
        byVideo[query.value(0).toInt()][frame].append(QpkgHandler::annotationFromRow(
            query.value(3).toString(), query.value(4).toString(), title.value(), query.value(5).toFloat(),
            query.value(6).toString(), query.value(7).toInt()));
    }
    return query.lastError().type() == QSqlError::NoError;
}

bool QpkgReader::readVideos(Dataset &dataset)
{
    if (!tableExists(QStringLiteral("videos")))
        return true;
    QHash<int, QMap<int, QList<Annotation>>> byVideo;
    if (!readVideoAnnotations(byVideo))
        return false;
    // Packages from before videos carried their bytes have no such column;
    // they are read as they are, without changing the file.
    const QString bytesColumn = hasColumn(QStringLiteral("videos"), QStringLiteral("bytes"))
        ? QStringLiteral("bytes") : QStringLiteral("NULL");
    QSqlQuery query(m_db);
    if (!run(query, QStringLiteral("SELECT id, filename, width, height, frame_count, fps, %1 FROM videos "
                                   "ORDER BY id").arg(bytesColumn)))
        return false;
    while (query.next()) {
        VideoEntry entry;
        entry.id = query.value(0).toInt();
        entry.filePath = QpkgHandler::mediaFileName(query.value(1).toString(), "video", entry.id);
        entry.width = std::max(0, query.value(2).toInt());
        entry.height = std::max(0, query.value(3).toInt());
        entry.frameCount = std::max(0, query.value(4).toInt());
        entry.fps = storedFps(query.value(5).toDouble());
        entry.bytes = query.value(6).toByteArray();
        entry.frameLabels = byVideo.take(entry.id);
        dataset.addVideo(entry);
    }
    return query.lastError().type() == QSqlError::NoError;
}

} // namespace Quillmark
