#include "formats/QpkgWriter.h"

#include "formats/ImageProbe.h"
#include "formats/QpkgConnection.h"
#include "formats/QpkgHandler.h"
#include "formats/QpkgTemporaryFile.h"
#include "formats/SafeWrite.h"
#include "formats/VideoSignature.h"
#include "formats/WktGeometry.h"
#include "model/FiniteNumber.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QColor>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <cmath>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace Quillmark {

namespace {

// The package is built in a temporary file that nobody else sees and that is
// thrown away on any failure, so it needs no journal while it is filled: every
// page is written once instead of once to the log and again at the checkpoint.
// The finished file is switched to WAL mode before it is closed. Its pages are
// of 16 KiB: a package is mostly pictures, each stored in pages of its own,
// and a picture of 500 KB is then 31 pages to write instead of 125, which
// halves the time of a write. Larger pages would not save much more, and each
// image row, which opening a package reads, keeps the head of its picture up
// to about a page in size (at 16 KiB about 11 KB a row). Every SQLite reads a
// file of any page size.
const char *const schemaDdl = R"(
PRAGMA page_size = 16384;
PRAGMA foreign_keys = ON;
PRAGMA journal_mode = OFF;
CREATE TABLE IF NOT EXISTS qmpkg_metadata (
    key   TEXT PRIMARY KEY NOT NULL,
    value TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS images (
    id       INTEGER PRIMARY KEY NOT NULL,
    filename TEXT NOT NULL,
    width    INTEGER NOT NULL DEFAULT 0,
    height   INTEGER NOT NULL DEFAULT 0,
    bytes    BLOB
);
CREATE TABLE IF NOT EXISTS classes (
    id        INTEGER PRIMARY KEY AUTOINCREMENT,
    title     TEXT NOT NULL UNIQUE,
    color     TEXT NOT NULL DEFAULT '#ffffff',
    task_type TEXT NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS annotations (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    image_id   INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE,
    class_id   INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
    geom_type  TEXT,
    geometry   TEXT,
    track_id   INTEGER,
    confidence REAL NOT NULL DEFAULT 1.0,
    attributes TEXT
);
CREATE INDEX IF NOT EXISTS idx_ann_image ON annotations(image_id);
CREATE INDEX IF NOT EXISTS idx_ann_class ON annotations(class_id);
CREATE TABLE IF NOT EXISTS videos (
    id          INTEGER PRIMARY KEY NOT NULL,
    filename    TEXT NOT NULL,
    width       INTEGER NOT NULL DEFAULT 0,
    height      INTEGER NOT NULL DEFAULT 0,
    frame_count INTEGER NOT NULL DEFAULT 0,
    fps         REAL NOT NULL DEFAULT 25.0,
    bytes       BLOB
);
CREATE TABLE IF NOT EXISTS video_annotations (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    video_id    INTEGER NOT NULL REFERENCES videos(id) ON DELETE CASCADE,
    frame_index INTEGER NOT NULL,
    class_id    INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
    geom_type   TEXT,
    geometry    TEXT,
    confidence  REAL NOT NULL DEFAULT 1.0,
    attributes  TEXT
);
CREATE INDEX IF NOT EXISTS idx_vann_video ON video_annotations(video_id, frame_index);
CREATE INDEX IF NOT EXISTS idx_vann_class ON video_annotations(class_id)
)";

const char *const insertAnnotationSql =
    "INSERT INTO annotations(image_id,class_id,geom_type,geometry,confidence,attributes) "
    "VALUES(?,?,?,?,?,?)";
const char *const insertVideoAnnotationSql =
    "INSERT INTO video_annotations(video_id,frame_index,class_id,geom_type,geometry,confidence,attributes) "
    "VALUES(?,?,?,?,?,?,?)";

// Text for a NOT NULL column: QtSql binds a null string as NULL, so an empty
// one is made non-null.
QString nonNullText(const QString &text)
{
    return text.isNull() ? QString::fromLatin1("") : text;
}

// The stored name of a medium: its plain file name, never NULL (an entry that
// has no path is stored with an empty name).
QString storedName(const QString &path)
{
    return nonNullText(QpkgHandler::plainFileName(path));
}

// SQLite stores a NaN as NULL, which the NOT NULL number columns refuse; such a
// value, and any other that single precision cannot hold, is stored as the
// column's default instead of failing the whole package.
double storableNumber(float value, float fallback)
{
    return double(floatOrDefault(value, fallback));
}

void warnQueryError(const char *what, const QSqlQuery &query)
{
    qWarning().noquote() << what << query.lastError().text();
}

bool prepare(QSqlQuery &query, const char *sql)
{
    query.setForwardOnly(true);
    if (query.prepare(QString::fromLatin1(sql)))
        return true;
    warnQueryError("QpkgHandler prepare error:", query);
    return false;
}

// The most SQLite keeps in one value; a larger medium cannot be stored.
constexpr qint64 kMaxStoredMediaBytes = 1000000000;

// How a file's content was read while another program may write to it.
enum class MediaRead { Read, None, TooLarge, Changing };

// The size and modification time of an open file, which change with its
// content.
bool statOf(const QFile &file, struct stat *info)
{
    return file.handle() >= 0 && ::fstat(file.handle(), info) == 0;
}

bool sameContentStamp(const struct stat &a, const struct stat &b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// One read of the whole of `path` (a regular file, never a pipe or a
// device), told apart from a read of a file written meanwhile: bytes of two
// moments would be stored as a picture no one ever had.
MediaRead readMediaOnce(const QString &path, QByteArray *bytes)
{
    bytes->clear();
    QFile file;
    if (!openRegularFile(file, path))
        return MediaRead::None;
    struct stat before {};
    if (!statOf(file, &before))
        return MediaRead::None;
    if (qint64(before.st_size) > kMaxStoredMediaBytes)
        return MediaRead::TooLarge;
    QByteArray read = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return MediaRead::None;
    struct stat after {};
    if (!statOf(file, &after) || !sameContentStamp(before, after) || read.size() != qint64(before.st_size))
        return MediaRead::Changing;
    *bytes = read.isNull() ? QByteArray("", 0) : std::move(read);
    return MediaRead::Read;
}

// The whole content of a regular file named by an absolute path, read again
// while another program is seen writing to it; a null array when there is
// none. A file too large to be stored is `tooLarge` and is not read; one that
// kept changing is `changing`.
QByteArray mediaFileBytes(const QString &path, bool *tooLarge, bool *changing)
{
    *tooLarge = false;
    *changing = false;
    if (!isAbsoluteFilePath(path))
        return QByteArray();
    constexpr int attempts = 3;
    QByteArray bytes;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        switch (readMediaOnce(path, &bytes)) {
        case MediaRead::Read:
            return bytes;
        case MediaRead::None:
            return QByteArray();
        case MediaRead::TooLarge:
            *tooLarge = true;
            return QByteArray();
        case MediaRead::Changing:
            break;
        }
    }
    *changing = true;
    return QByteArray();
}

// Why a medium's file could not be stored: false (and a warning) when it is
// too large or kept changing while it was read.
bool storable(const QString &path, bool tooLarge, bool changing)
{
    if (tooLarge)
        qWarning().noquote() << "QpkgHandler: too large to be stored:" << path;
    if (changing)
        qWarning().noquote() << "QpkgHandler: changed while it was read:" << path;
    return !tooLarge && !changing;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.isEmpty() ? QByteArray() : bytes;
}

QString mediaLabel(const QString &path, const char *kind, qint64 id)
{
    return path.isEmpty() ? QStringLiteral("%1 %2").arg(QLatin1String(kind)).arg(id) : QDir::toNativeSeparators(path);
}

void noteRefused(QStringList *refused, const QString &label)
{
    qWarning().noquote() << "QpkgHandler: not a picture or video, stored without its bytes:" << label;
    refused->append(label);
}

// An image's stored bytes: the encoded bytes it holds (in memory, or left in
// the package it was read from), else its file when the path is absolute, else
// its decoded pixels as PNG, else none. A relative path is never resolved
// against the working folder: it names the image, it does not locate it.
// Only pictures are stored: bytes that no image reader recognises (a dataset
// may name any file as an image) are left out, and the entry is added to
// `refused`; a file is told by its header before it is read. False when the
// file is too large to be stored.
bool imageBytes(const ImageEntry &entry, QByteArray *bytes, QStringList *refused)
{
    bytes->clear();
    bool isRefused = false;
    if (!entry.imageData.isEmpty() || entry.storedBytes) {
        QByteArray encoded = entry.encodedBytes();
        if (isPictureData(encoded)) {
            *bytes = std::move(encoded);
            return true;
        }
        isRefused = !encoded.isEmpty();
    }
    QByteArray file;
    if (isAbsoluteFilePath(entry.filePath) && QFileInfo(entry.filePath).isFile() && !isPictureFile(entry.filePath)) {
        isRefused = true;
    } else {
        bool tooLarge = false;
        bool changing = false;
        file = mediaFileBytes(entry.filePath, &tooLarge, &changing);
        if (!storable(entry.filePath, tooLarge, changing))
            return false;
    }
    if (isPictureData(file)) {
        *bytes = std::move(file);
        return true;
    }
    isRefused = isRefused || !file.isNull();
    if (!entry.image.isNull()) {
        *bytes = pngBytes(entry.image);
        return true;
    }
    if (isRefused)
        noteRefused(refused, mediaLabel(entry.filePath, "image", entry.id));
    return true;
}

// A video's stored bytes, the bytes it holds or its file: only a video (a
// project may name any file as one), else none, and the entry is added to
// `refused`. False when the file is too large to be stored.
bool videoBytes(const VideoEntry &entry, QByteArray *bytes, QStringList *refused)
{
    bytes->clear();
    if (!entry.bytes.isEmpty()) {
        if (looksLikeVideo(entry.bytes))
            *bytes = entry.bytes;
        else
            noteRefused(refused, mediaLabel(entry.filePath, "video", entry.id));
        return true;
    }
    if (isAbsoluteFilePath(entry.filePath) && QFileInfo(entry.filePath).isFile() && !isVideoFile(entry.filePath)) {
        noteRefused(refused, mediaLabel(entry.filePath, "video", entry.id));
        return true;
    }
    bool tooLarge = false;
    bool changing = false;
    *bytes = mediaFileBytes(entry.filePath, &tooLarge, &changing);
    return storable(entry.filePath, tooLarge, changing);
}

QString attributesJson(const Annotation &annotation)
{
    QJsonObject object;
    for (auto it = annotation.attributes.cbegin(); it != annotation.attributes.cend(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    if (annotation.kind == Keypoint && !annotation.keypointVis.isEmpty()) {
        QJsonArray visibility;
        for (int v : annotation.keypointVis)
            visibility.append(v);
        object.insert(QStringLiteral("visibility"), visibility);
    }
    // The geometry column of these kinds holds only their points; their box
    // (the object box of a keypoint set, which no point list implies) travels
    // beside it.
    if (keepsBoxInAttributes(annotation.kind) && annotation.bbox != QRectF()) {
        const QRectF &box = annotation.bbox;
        object.insert(boxAttribute(), QJsonArray{box.x(), box.y(), box.width(), box.height()});
    }
    if (object.isEmpty())
        return QString();
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString keypointSchemaJson(const KeypointSchema &schema)
{
    QJsonArray edges;
    for (const auto &edge : schema.edges)
        edges.append(QJsonArray{edge.first, edge.second});
    const QJsonObject object{
        {QStringLiteral("objectClass"), schema.objectClass},
        {QStringLiteral("keypointNames"), QJsonArray::fromStringList(schema.keypointNames)},
        {QStringLiteral("edges"), edges},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Binds the columns from class_id on (the leading ids are bound by the caller)
// and runs the statement.
bool insertAnnotation(QSqlQuery &insert, int firstColumn, int classId, const Annotation &annotation)
{
    insert.bindValue(firstColumn, classId);
    insert.bindValue(firstColumn + 1, wktGeometryType(annotation.kind));
    insert.bindValue(firstColumn + 2, nonNullText(annotationToWkt(annotation)));
    insert.bindValue(firstColumn + 3, storableNumber(annotation.confidence, 1.0f));
    insert.bindValue(firstColumn + 4, attributesJson(annotation));
    if (insert.exec())
        return true;
    warnQueryError("QpkgHandler insert annotation error:", insert);
    return false;
}

bool renameOver(const QString &from, const QString &to)
{
    std::error_code error;
    std::filesystem::rename(toFileSystemPath(from), toFileSystemPath(to), error);
    if (error)
        qWarning().noquote() << "QpkgHandler could not replace" << to << ":" << QString::fromStdString(error.message());
    return !error;
}

// The target itself when it is a file; the file a symbolic link points to, so
// that replacing a linked package keeps the link.
QString resolvedTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFileInfo(info.symLinkTarget()).absoluteFilePath();
    return info.absoluteFilePath();
}

// Replaces `target` by `temp`. A "-wal" or "-shm" that the old package left
// beside it would be replayed onto the new file on its next opening, so they
// are moved aside first and deleted once the new file is in place; if the
// replacement fails they are put back.
bool replaceTarget(const QString &temp, const QString &target)
{
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(12);
    QList<QPair<QString, QString>> stashed;
    auto restore = [&stashed] {
        for (const auto &[original, aside] : stashed)
            renameOver(aside, original);
    };
    for (const QString &side : {QpkgConnection::walPath(target), QpkgConnection::shmPath(target)}) {
        if (!QFileInfo::exists(side))
            continue;
        const QString aside = side + QLatin1Char('.') + tag + QStringLiteral(".old");
        if (!renameOver(side, aside)) {
            restore();
            return false;
        }
        stashed.append({side, aside});
    }
    // The new file keeps the old one's permissions, as a saved file would.
    if (QFileInfo::exists(target))
        QFile::setPermissions(temp, QFileInfo(target).permissions());
    if (!renameOver(temp, target)) {
        restore();
        return false;
    }
    for (const auto &entry : stashed)
        QFile::remove(entry.second);
    return true;
}

// Records the WAL journal mode in the finished file.
bool switchToWal(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && query.next()
        && query.value(0).toString() == QLatin1String("wal"))
        return true;
    qWarning().noquote() << "QpkgHandler DDL error:" << query.lastError().text() << "PRAGMA journal_mode = WAL";
    return false;
}

bool hasUnfoldedLog(const QString &path)
{
    const QFileInfo wal(QpkgConnection::walPath(path));
    return wal.exists() && wal.size() > 0;
}

} // namespace

QpkgWriter::QpkgWriter(const Dataset &dataset, ProgressCallback progress, const QString &projectType)
    : m_dataset(dataset), m_progress(std::move(progress)), m_projectType(projectType)
{
    m_classTitles = classTitles();
}

bool QpkgWriter::write(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString target = resolvedTarget(path);
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir() || !targetInfo.absoluteDir().exists()) {
        qWarning().noquote() << "QpkgHandler cannot write" << target;
        return false;
    }
    // What an earlier write killed on the way left would stay for good.
    QpkgTemporaryFile::removeStale(target);
    QpkgTemporaryFile temp(target);
    if (!temp.isValid()) {
        qWarning().noquote() << "QpkgHandler cannot write beside" << target;
        return false;
    }
    return writeDatabase(temp.path()) && replaceTarget(temp.path(), target);
}

bool QpkgWriter::writeDatabase(const QString &file)
{
    QpkgConnection connection(file, false);
    if (!connection.isOpen()) {
        qWarning().noquote() << "QpkgHandler open error:" << connection.lastErrorText();
        return false;
    }
    QSqlDatabase &db = connection.database();
    if (!createSchema(db))
        return false;
    if (!db.transaction()) {
        qWarning().noquote() << "QpkgHandler transaction error:" << db.lastError().text();
        return false;
    }
    const bool inserted = insertMetadata(db) && insertClasses(db) && insertImages(db) && insertVideos(db);
    if (!inserted || !db.commit()) {
        if (inserted)
            qWarning().noquote() << "QpkgHandler commit error:" << db.lastError().text();
        db.rollback();
        return false;
    }
    if (!switchToWal(db) || !connection.close() || hasUnfoldedLog(file)) {
        qWarning().noquote() << "QpkgHandler checkpoint error:" << file;
        return false;
    }
    return true;
}

bool QpkgWriter::createSchema(QSqlDatabase &db)
{
    const QStringList statements = QString::fromLatin1(schemaDdl).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &raw : statements) {
        const QString statement = raw.trimmed();
        if (statement.isEmpty())
            continue;
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            qWarning().noquote() << "QpkgHandler DDL error:" << query.lastError().text() << statement;
            return false;
        }
    }
    return true;
}

QStringList QpkgWriter::metadataRows() const
{
    QStringList rows{
        QStringLiteral("qmpkg_version"), QStringLiteral("1"),
        QStringLiteral("generator"), QStringLiteral("Quillmark"),
        QStringLiteral("image_count"), QString::number(m_dataset.images.size()),
        QStringLiteral("video_count"), QString::number(m_dataset.videos.size()),
        QStringLiteral("class_count"), QString::number(m_classTitles.size()),
    };
    if (!m_projectType.isEmpty())
        rows << QStringLiteral("project_type") << m_projectType;
    if (m_dataset.keypointSchema.isInUse())
        rows << QStringLiteral("keypoint_schema") << keypointSchemaJson(m_dataset.keypointSchema);
    return rows;
}

bool QpkgWriter::insertMetadata(QSqlDatabase &db)
{
    QSqlQuery insert(db);
    if (!prepare(insert, "INSERT OR REPLACE INTO qmpkg_metadata(key,value) VALUES(?,?)"))
        return false;
    const QStringList rows = metadataRows();
    for (qsizetype i = 0; i + 1 < rows.size(); i += 2) {
        insert.bindValue(0, rows.at(i));
        insert.bindValue(1, rows.at(i + 1));
        if (!insert.exec()) {
            warnQueryError("QpkgHandler insert metadata error:", insert);
            return false;
        }
    }
    return true;
}

// The dataset's class list, then classes that only video annotations use, so
// that no annotation is left without its class row.
QStringList QpkgWriter::classTitles() const
{
    QStringList titles = m_dataset.classNames();
    QSet<QString> seen(titles.cbegin(), titles.cend());
    for (const auto &video : m_dataset.videos) {
        for (const auto &frame : video.frameLabels) {
            for (const auto &annotation : frame) {
                if (seen.contains(annotation.className))
                    continue;
                seen.insert(annotation.className);
                titles.append(annotation.className);
            }
        }
    }
    return titles;
}

bool QpkgWriter::insertClasses(QSqlDatabase &db)
{
    QSqlQuery insert(db);
    if (!prepare(insert, "INSERT INTO classes(title, color) VALUES(?,?)"))
        return false;
    m_classIds.clear();
    m_classIds.reserve(m_classTitles.size());
    for (const QString &title : std::as_const(m_classTitles)) {
        const QColor color = m_dataset.classColors.value(title);
        insert.bindValue(0, nonNullText(title));   // annotations without a class name
        insert.bindValue(1, (color.isValid() ? color : QColor(Qt::white)).name());
        if (!insert.exec()) {
            warnQueryError("QpkgHandler insert class error:", insert);
            return false;
        }
        m_classIds.insert(title, insert.lastInsertId().toInt());
    }
    return true;
}

bool QpkgWriter::insertImages(QSqlDatabase &db)
{
    QSqlQuery insertImage(db);
    QSqlQuery insertLabel(db);
    if (!prepare(insertImage, "INSERT INTO images(id,filename,width,height,bytes) VALUES(?,?,?,?,?)")
        || !prepare(insertLabel, insertAnnotationSql))
        return false;
    const int total = int(m_dataset.images.size());
    for (int i = 0; i < total; ++i) {
        const ImageEntry &entry = m_dataset.images.at(i);
        insertImage.bindValue(0, entry.id);
        insertImage.bindValue(1, storedName(entry.filePath));
        insertImage.bindValue(2, entry.width);
        insertImage.bindValue(3, entry.height);
        QByteArray bytes;
        if (!imageBytes(entry, &bytes, &m_refused))
            return false;
        // Pixels the entry holds only in a package that can no longer be
        // read: writing the image without them would lose it for good.
        if (bytes.isEmpty() && entry.storedBytes && entry.image.isNull()) {
            qWarning().noquote() << "QpkgHandler cannot read the stored pixels of" << entry.filePath;
            return false;
        }
        insertImage.bindValue(4, bytes);
        const bool stored = insertImage.exec();
        insertImage.bindValue(4, QByteArray());   // drop the reference to the bytes
        if (!stored) {
            warnQueryError("QpkgHandler insert image error:", insertImage);
            return false;
        }
        for (const Annotation &annotation : entry.labels) {
            insertLabel.bindValue(0, entry.id);
            if (!insertAnnotation(insertLabel, 1, m_classIds.value(annotation.className), annotation))
                return false;
        }
        if (m_progress)
            m_progress(i + 1, total);
    }
    return true;
}

bool QpkgWriter::insertVideos(QSqlDatabase &db)
{
    QSqlQuery insertVideo(db);
    QSqlQuery insertLabel(db);
    if (!prepare(insertVideo,
                 "INSERT INTO videos(id,filename,width,height,frame_count,fps,bytes) VALUES(?,?,?,?,?,?,?)")
        || !prepare(insertLabel, insertVideoAnnotationSql))
        return false;
    for (const VideoEntry &entry : m_dataset.videos) {
        insertVideo.bindValue(0, entry.id);
        insertVideo.bindValue(1, storedName(entry.filePath));
        insertVideo.bindValue(2, entry.width);
        insertVideo.bindValue(3, entry.height);
        insertVideo.bindValue(4, entry.frameCount);
        insertVideo.bindValue(5, storableNumber(entry.fps, 25.0f));
        QByteArray bytes;
        if (!videoBytes(entry, &bytes, &m_refused))
            return false;
        insertVideo.bindValue(6, bytes);
        const bool stored = insertVideo.exec();
        insertVideo.bindValue(6, QByteArray());
        if (!stored) {
            warnQueryError("QpkgHandler insert video error:", insertVideo);
            return false;
        }
        for (auto frame = entry.frameLabels.cbegin(); frame != entry.frameLabels.cend(); ++frame) {
            for (const Annotation &annotation : frame.value()) {
                insertLabel.bindValue(0, entry.id);
                insertLabel.bindValue(1, frame.key());
                if (!insertAnnotation(insertLabel, 2, m_classIds.value(annotation.className), annotation))
                    return false;
            }
        }
    }
    return true;
}

} // namespace Quillmark
