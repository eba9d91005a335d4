#include "formats/QpkgHandler.h"

#include "formats/QpkgReader.h"
#include "formats/QpkgWriter.h"
#include "formats/WktGeometry.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"
#include "model/StoredIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Quillmark {

namespace {

const QByteArray sqliteHeader("SQLite format 3");

bool startsWithSqliteHeader(const QString &path)
{
    return readRegularFileHead(path, 16).startsWith(sqliteHeader);
}

bool hasVersionRow(QpkgConnection &connection)
{
    if (!connection.hasPlainTable(QStringLiteral("qmpkg_metadata")))
        return false;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    return query.exec(QStringLiteral("SELECT 1 FROM qmpkg_metadata WHERE key='qmpkg_version' LIMIT 1"))
        && query.next();
}

// A writer that crashed may have left committed data in the "-wal" beside the
// package. Fold it into the package (a read-write connection checkpoints on
// closing) so that the package is whole again; the log is never just deleted.
// On read-only media the fold fails quietly and readers still see the log.
void foldLeftoverLog(const QString &path)
{
    const QFileInfo wal(QpkgConnection::walPath(path));
    if (!wal.isFile() || wal.size() == 0 || !QFileInfo(path).isFile())
        return;
    QpkgConnection connection(path, false);
    if (connection.isOpen())
        connection.close();
}

bool isPristine(const Dataset &dataset)
{
    return dataset.images.isEmpty() && dataset.videos.isEmpty() && dataset.classColors.isEmpty()
        && !dataset.keypointSchema.isInUse() && dataset.nextImageId == 0 && dataset.nextVideoId == 0;
}

// Appends the entries, each keeping its id unless the target holds it already.
template <typename Entry>
void appendEntries(QList<Entry> &targetList, const QList<Entry> &entries, void (Dataset::*add)(const Entry &),
                   Dataset &target)
{
    StoredIds ids;
    for (const Entry &entry : targetList)
        ids.noteAdded(entry.id);
    for (Entry entry : entries) {
        entry.id = ids.idToAdd(entry.id);
        (target.*add)(entry);
        ids.noteAdded(targetList.constLast().id);
    }
}

void mergeInto(Dataset &target, Dataset &&read)
{
    if (isPristine(target)) {
        target = std::move(read);
        return;
    }
    for (auto it = read.classColors.cbegin(); it != read.classColors.cend(); ++it)
        target.addClass(it.key(), it.value());
    if (read.keypointSchema.isInUse() && !target.keypointSchema.isInUse())
        target.setKeypointSchema(read.keypointSchema);
    appendEntries(target.images, read.images, &Dataset::addImage, target);
    appendEntries(target.videos, read.videos, &Dataset::addVideo, target);
}

QVariantMap attributesFromJson(const QString &text)
{
    if (text.isEmpty())
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return {};
    return document.object().toVariantMap();
}

QRectF boundsOf(const QList<QPointF> &points)
{
    double left = points.first().x();
    double top = points.first().y();
    double right = left;
    double bottom = top;
    for (const QPointF &p : points) {
        left = std::min(left, p.x());
        top = std::min(top, p.y());
        right = std::max(right, p.x());
        bottom = std::max(bottom, p.y());
    }
    return QRectF(left, top, right - left, bottom - top);
}

// A box member's value: a list of four finite numbers, else nothing.
std::optional<QRectF> storedBox(const QVariant &value)
{
    const QVariantList values = value.toList();
    if (values.size() != 4)
        return std::nullopt;
    double numbers[4];
    for (int i = 0; i < 4; ++i) {
        const int type = values.at(i).typeId();
        const bool isNumber = type == QMetaType::Double || type == QMetaType::LongLong || type == QMetaType::Int;
        numbers[i] = values.at(i).toDouble();
        if (!isNumber || !std::isfinite(numbers[i]))
            return std::nullopt;
    }
    return QRectF(numbers[0], numbers[1], numbers[2], numbers[3]);
}

// Whether `box` holds every labelled point of the row (to a pixel), as the
// box this program stored does.
bool holdsPoints(const QRectF &box, const Annotation &annotation)
{
    const QRectF area = box.normalized().adjusted(-1.0, -1.0, 1.0, 1.0);
    for (qsizetype i = 0; i < annotation.points.size(); ++i) {
        const bool labelled = i >= annotation.keypointVis.size() || annotation.keypointVis.at(i) > 0;
        if (labelled && !area.contains(annotation.points.at(i)))
            return false;
    }
    return true;
}

// The box stored beside the points; a member that is no list of four finite
// numbers leaves the box empty. The member of earlier versions counts only
// where it agrees with the points; else it is another tool's and stays.
void takeBox(Annotation &annotation)
{
    const auto own = annotation.attributes.constFind(boxAttribute());
    if (own != annotation.attributes.cend()) {
        const std::optional<QRectF> box = storedBox(own.value());
        annotation.attributes.remove(boxAttribute());
        if (box)
            annotation.bbox = *box;
        return;
    }
    const auto legacy = annotation.attributes.constFind(legacyBoxAttribute());
    if (legacy == annotation.attributes.cend())
        return;
    const std::optional<QRectF> box = storedBox(legacy.value());
    if (!box || !holdsPoints(*box, annotation))
        return;
    annotation.attributes.remove(legacyBoxAttribute());
    annotation.bbox = *box;
}

void takeVisibility(Annotation &annotation)
{
    const auto found = annotation.attributes.constFind(QStringLiteral("visibility"));
    if (found == annotation.attributes.cend())
        return;
    const QVariantList values = found.value().toList();
    for (const QVariant &value : values)
        annotation.keypointVis.append(value.toInt());
    annotation.attributes.remove(QStringLiteral("visibility"));
}

} // namespace

bool QpkgHandler::canImport(const QString &path) const
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QDir folder(path);
        const QStringList packages = folder.entryList({QStringLiteral("*.qmpkg")}, QDir::Files, QDir::Name);
        return !packages.isEmpty() && isPackageFile(pathInFolder(folder, packages.first()));
    }
    return isPackageFile(path);
}

bool QpkgHandler::isPackageFile(const QString &path)
{
    if (!QFileInfo(path).isFile() || !startsWithSqliteHeader(path))
        return false;
    QpkgConnection connection(path, true);
    return connection.isOpen() && hasVersionRow(connection);
}

bool QpkgHandler::importDataset(const QString &path, Dataset &target, ProgressCallback progress)
{
    if (!isPackageFile(path))
        return false;
    foldLeftoverLog(path);
    Dataset read;
    {
        QpkgConnection connection(path, true);
        if (!connection.isOpen() || !hasVersionRow(connection))
            return false;
        QpkgReader reader(connection, std::move(progress));
        if (!reader.read(read))
            return false;
    }
    mergeInto(target, std::move(read));
    return true;
}

bool QpkgHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback)
{
    return exportWithoutProgress(path, dataset);
}

bool QpkgHandler::exportWithoutProgress(const QString &path, const Dataset &dataset)
{
    return writePackage(path, dataset, ProgressCallback(), QString());
}

bool QpkgHandler::exportProject(const QString &path, const Project &project, ProgressCallback progress,
                                QStringList *refusedMedia)
{
    return writePackage(path, project.dataset, std::move(progress), project.projectType, refusedMedia);
}

QString QpkgHandler::readProjectType(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return QString();
    QpkgConnection connection(path, true);
    if (!connection.isOpen() || !connection.hasPlainTable(QStringLiteral("qmpkg_metadata")))
        return QString();
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    // A project-type key is a short word; a longer value is none.
    if (!query.exec(QStringLiteral("SELECT CASE WHEN length(value) <= 64 THEN value END FROM qmpkg_metadata "
                                   "WHERE key='project_type' LIMIT 1"))
        || !query.next())
        return QString();
    return query.value(0).toString();
}

bool QpkgHandler::writePackage(const QString &path, const Dataset &dataset, ProgressCallback progress,
                               const QString &projectType, QStringList *refusedMedia)
{
    QpkgWriter writer(dataset, std::move(progress), projectType);
    const bool written = writer.write(path);
    if (refusedMedia)
        *refusedMedia = writer.refusedMedia();
    return written;
}

std::unique_ptr<QpkgConnection> QpkgHandler::openDatabase(const QString &path, bool readOnly)
{
    return std::make_unique<QpkgConnection>(path, readOnly);
}

bool QpkgHandler::closeDatabase(QpkgConnection &connection)
{
    return connection.close();
}

Annotation QpkgHandler::annotationFromRow(const QString &geomType, const QString &geometry,
                                          const QString &className, float confidence,
                                          const QString &attributesJson, int id)
{
    Annotation annotation;
    annotation.id = id;
    annotation.className = className;
    annotation.confidence = confidence;
    annotation.attributes = attributesFromJson(attributesJson);

    if (geomType == QLatin1String("BBOX")) {
        const QList<QPointF> points = parseWktPoints(geometry);
        if (points.size() >= 4)
            annotation.bbox = boundsOf(points);
    } else if (geomType == QLatin1String("POLYGON")) {
        annotation.kind = Polygon;
        annotation.points = parseWktPoints(geometry);
        if (annotation.points.size() > 1 && annotation.points.last() == annotation.points.first())
            annotation.points.removeLast();
        takeBox(annotation);
    } else if (geomType == QLatin1String("POLYLINE")) {
        annotation.kind = Polyline;
        annotation.points = parseWktPoints(geometry);
        takeBox(annotation);
    } else if (geomType == QLatin1String("POINT")) {
        annotation.kind = Point;
        annotation.points = parseWktPoints(geometry);
        if (!annotation.points.isEmpty())
            annotation.bbox = QRectF(annotation.points.first(), QSizeF(1, 1));
    } else if (geomType == QLatin1String("KEYPOINT")) {
        annotation.kind = Keypoint;
        annotation.points = parseWktPoints(geometry);
        takeVisibility(annotation);
        takeBox(annotation);
    }
    return annotation;
}

QString QpkgHandler::mediaFileName(const QString &stored, const char *kind, qint64 id)
{
    const QString name = plainFileName(stored);
    if (!name.isEmpty())
        return name;
    return QString::fromLatin1(kind) + QLatin1Char('_') + QString::number(id);
}

QString QpkgHandler::plainFileName(const QString &path)
{
    QString name = path;
    const qsizetype nul = name.indexOf(QChar(0));
    if (nul >= 0)
        name.truncate(nul);
    qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
#ifdef Q_OS_WIN
    cut = std::max(cut, name.lastIndexOf(QLatin1Char(':')));
#endif
    name = name.mid(cut + 1);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    return name;
}

} // namespace Quillmark
