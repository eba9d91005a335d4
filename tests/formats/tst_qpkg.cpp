#include "ImageFileBytes.h"
#include "QmTest.h"

#include "formats/FormatRegistry.h"
#include "formats/QpkgHandler.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <atomic>
#include <limits>
#include <mutex>

#include <unistd.h>

using namespace Quillmark;

namespace {

// ---- fixtures ---------------------------------------------------------------

QByteArray encodedImage(int width, int height, QColor color, const char *format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, Qt::white);   // tells orientation apart
    painter.end();
    return QmTest::imageFileBytes(image, format);
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return QFileInfo(path).absoluteFilePath();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray digest(const QString &path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

Annotation annotation(const QString &cls, int kind, const QList<QPointF> &points = {},
                      const QRectF &box = QRectF())
{
    Annotation a;
    a.className = cls;
    a.kind = kind;
    a.points = points;
    a.bbox = box;
    return a;
}

// What an annotation is once stored and read back, apart from its row id.
Annotation withoutId(Annotation a)
{
    a.id = -1;
    return a;
}

QList<Annotation> withoutIds(const QList<Annotation> &list)
{
    QList<Annotation> out;
    for (const Annotation &a : list)
        out.append(withoutId(a));
    return out;
}

// A raw QtSql connection of the test's own, to look at files from outside.
class RawDb {
public:
    explicit RawDb(const QString &path, bool readOnly = true)
        : m_name(QStringLiteral("raw_") + QUuid::createUuid().toString(QUuid::Id128))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        if (readOnly)
            m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!m_db.open())
            qFatal("raw open failed: %s", qPrintable(m_db.lastError().text()));
    }
    ~RawDb()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    void exec(const QString &sql)
    {
        QSqlQuery query(m_db);
        if (!query.exec(sql))
            qFatal("raw exec failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    }
    QList<QVariantList> rows(const QString &sql)
    {
        QList<QVariantList> out;
        QSqlQuery query(m_db);
        if (!query.exec(sql))
            qFatal("raw query failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row.append(query.value(i));
            out.append(row);
        }
        return out;
    }
    QSqlDatabase &db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

// Fails the test on any QtSql complaint (connections still in use, duplicate
// names, connections used from another thread) for the life of the object.
class SqlWarningGuard {
public:
    SqlWarningGuard() { s_previous = qInstallMessageHandler(&SqlWarningGuard::handle); }
    ~SqlWarningGuard() { qInstallMessageHandler(s_previous); }
    static QStringList messages()
    {
        std::lock_guard lock(s_mutex);
        return s_messages;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (message.contains(QLatin1String("QSql")) || message.contains(QLatin1String("connection"))) {
            std::lock_guard lock(s_mutex);
            s_messages.append(message);
        }
        if (s_previous)
            s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline QStringList s_messages;
};

struct Fixture {
    QByteArray jpeg = encodedImage(64, 48, Qt::red, "JPG");
    QByteArray png = encodedImage(20, 10, Qt::blue, "PNG");
    QByteArray videoA = QByteArray("\x00\x00\x00\x18" "ftypmp42", 12).repeated(500);
    QByteArray videoB = QByteArray("\x1A\x45\xDF\xA3", 4) + QByteArray("second video bytes ").repeated(300);
};

// A project with every kind of annotation, media held in every way.
Project richProject(const QString &mediaFolder, const Fixture &f)
{
    Project project;
    project.projectType = QStringLiteral("pose");
    Dataset &d = project.dataset;
    d.addClass("car", QColor("#123456"));
    d.addClass("lane", QColor("#abcdef"));
    d.addClass("person", QColor("#0f0f0f"));
    d.setKeypointSchema({"person", {"nose", "left eye", "right eye"}, {{0, 1}, {0, 2}}});

    Annotation box = annotation("car", BoundingBox, {}, QRectF(10.25, 20.5, 30, 40.125));
    box.confidence = 0.5f;
    box.attributes = {{"occluded", true}, {"note", "it's \"quoted\""}, {"count", 3}};
    // Realistic boxes: a keypoint set's object box is not implied by its
    // points, and shapes start on the picture's border.
    Annotation keypoints = annotation("person", Keypoint, {{1, 2}, {3.5, 4}, {5, 6.25}}, QRectF(0, 0.5, 7.75, 6));
    keypoints.keypointVis = {2, 1, 0};
    keypoints.attributes = {{"pose", "standing"}};

    ImageEntry onDisk;
    onDisk.filePath = writeFile(mediaFolder + "/photo.jpg", f.jpeg);
    onDisk.width = 64;
    onDisk.height = 48;
    onDisk.labels = {box, annotation("car", Polygon, {{0, 1}, {5, 1.23456}, {3, 48}}, QRectF(0, 1, 5, 47))};
    d.addImage(onDisk);

    ImageEntry encoded;                 // encoded bytes in memory, size unknown
    encoded.filePath = "memory.png";
    encoded.imageData = f.png;
    encoded.labels = {annotation("lane", Polyline, {{0, 0}, {10, 10}, {20, 5}}, QRectF(0, 0, 20, 10)),
                      annotation("dot", Point, {{7, 8}})};
    d.addImage(encoded);

    ImageEntry decoded;                 // only decoded pixels, no name at all
    decoded.id = 10;
    decoded.image = QImage(8, 6, QImage::Format_RGB32);
    decoded.image.fill(Qt::green);
    decoded.width = 8;
    decoded.height = 6;
    decoded.labels = {keypoints, annotation("car", Polygon, {})};
    d.addImage(decoded);

    ImageEntry missing;                 // file gone: no bytes to store
    missing.filePath = mediaFolder + "/gone.jpg";
    missing.width = 5;
    missing.height = 5;
    d.addImage(missing);

    VideoEntry inMemory;
    inMemory.filePath = "clip.mp4";
    inMemory.bytes = f.videoA;
    inMemory.width = 320;
    inMemory.height = 240;
    inMemory.frameCount = 100;
    inMemory.fps = 29.97f;
    inMemory.frameLabels[5] = {annotation("car", BoundingBox, {}, QRectF(1, 1, 2, 2))};
    inMemory.frameLabels[0] = {annotation("bird", Point, {{3, 3}})};   // class used only here
    d.addVideo(inMemory);

    VideoEntry file;
    file.filePath = writeFile(mediaFolder + "/second.mov", f.videoB);
    d.addVideo(file);
    return project;
}

} // namespace

class TestQpkg : public QObject {
    Q_OBJECT
private slots:
    void registryHasPackageFirst();
    void roundTripKeepsEverything();
    void reexportKeepsMediaBytes();
    void storedImagesAreReadWhenNeeded();
    void unnamedClassesAndNanNumbersAreStored();
    void siblingFiles();
    void fileShape();
    void hostileFilesAreRefused_data();
    void hostileFilesAreRefused();
    void truncatedPackage();
    void traversalNamesStayInside();
    void folderDetectionUsesFirstPackage();
    void committedLogIsFoldedIn();
    void staleLogIsNotReplayedOntoNewPackage();
    void failedWritesKeepOldPackage_data();
    void failedWritesKeepOldPackage();
    void legacyVideosTableIsReadWithoutChange();
    void concurrentReadsUseSeparateConnections();

private:
    Fixture m_fixture;
};

void TestQpkg::registryHasPackageFirst()
{
    const auto handlers = FormatRegistry::instance().handlers();
    QVERIFY(!handlers.isEmpty());
    QCOMPARE(handlers.first()->name(), QStringLiteral("QuillPackage"));
    QCOMPARE(handlers.first()->extension(), QStringLiteral("qmpkg"));
    QVERIFY(dynamic_cast<QpkgHandler *>(FormatRegistry::instance().find("QuillPackage")));
}

void TestQpkg::roundTripKeepsEverything()
{
    QTemporaryDir media, out;
    const Project project = richProject(media.path(), m_fixture);
    // Characters that must survive as a file name and inside SQLite's file URIs.
    QVERIFY(QDir(out.path()).mkdir("a b%20"));
    const QString path = out.filePath("a b%20/it's #1 ? 50% \u00fc.qmpkg");

    QList<QPair<int, int>> written;
    QVERIFY(QpkgHandler::exportProject(path, project, [&](int c, int t) { written.append({c, t}); }));
    QCOMPARE(written, (QList<QPair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    QCOMPARE(QpkgHandler::readProjectType(path), QStringLiteral("pose"));

    QpkgHandler handler;
    QVERIFY(handler.canImport(path));
    Dataset read;
    QList<QPair<int, int>> readProgress;
    QVERIFY(handler.importDataset(path, read, [&](int c, int t) { readProgress.append({c, t}); }));
    QCOMPARE(readProgress, written);

    // Classes with their colours; a class used only on video frames is kept.
    const Dataset &d = project.dataset;
    QCOMPARE(read.classColors.value("car"), QColor("#123456"));
    QCOMPARE(read.classColors.value("lane"), QColor("#abcdef"));
    QCOMPARE(read.classColors.value("person"), QColor("#0f0f0f"));
    QCOMPARE(read.classColors.value("dot"), QColor(Qt::white));
    QCOMPARE(read.classColors.value("bird"), QColor(Qt::white));
    QCOMPARE(read.keypointSchema, d.keypointSchema);

    // Images: ids, names, sizes, media bytes and annotations.
    QCOMPARE(read.images.size(), 4);
    const ImageEntry &photo = read.images[0];
    QCOMPARE(photo.id, 0);
    QCOMPARE(photo.filePath, QStringLiteral("photo.jpg"));
    // The bytes stay in the package until they are needed, then come back as
    // they were stored: not re-encoded, not decoded on reading.
    QVERIFY(photo.imageData.isEmpty());
    QVERIFY(photo.storedBytes);
    QVERIFY(photo.image.isNull());
    QVERIFY(photo.hasInMemoryImage());
    QCOMPARE(photo.encodedBytes(), m_fixture.jpeg);
    QCOMPARE(photo.loadPixels().size(), QSize(64, 48));
    QList<Annotation> expected = withoutIds(d.images[0].labels);
    expected[1].points[1] = QPointF(5, 1.2346);          // four decimals
    QCOMPARE(withoutIds(photo.labels), expected);
    QVERIFY(photo.labels[0].id > 0 && photo.labels[1].id > photo.labels[0].id);

    const ImageEntry &memory = read.images[1];
    QCOMPARE(memory.filePath, QStringLiteral("memory.png"));
    QCOMPARE(memory.encodedBytes(), m_fixture.png);
    QCOMPARE(QSize(memory.width, memory.height), QSize(20, 10));   // measured from the header
    Annotation point = d.images[1].labels[1];
    point.bbox = QRectF(7, 8, 1, 1);
    QCOMPARE(withoutIds(memory.labels), (QList<Annotation>{d.images[1].labels[0], point}));

    const ImageEntry &decoded = read.images[2];
    QCOMPARE(decoded.id, 10);
    QCOMPARE(decoded.filePath, QStringLiteral("image_10"));
    QCOMPARE(decoded.loadPixels().size(), QSize(8, 6));
    QCOMPARE(decoded.loadPixels().pixelColor(0, 0), QColor(Qt::green));
    QCOMPARE(withoutIds(decoded.labels), withoutIds(d.images[2].labels));
    QCOMPARE(decoded.labels[0].keypointVis, (QList<int>{2, 1, 0}));
    QVERIFY(!decoded.labels[0].attributes.contains("visibility"));

    const ImageEntry &missing = read.images[3];
    QCOMPARE(missing.filePath, QStringLiteral("gone.jpg"));
    QVERIFY(!missing.hasInMemoryImage());
    QCOMPARE(QSize(missing.width, missing.height), QSize(5, 5));
    QCOMPARE(read.nextImageId, 12);

    // Videos: bytes from memory and from the file, frame annotations in order.
    QCOMPARE(read.videos.size(), 2);
    const VideoEntry &clip = read.videos[0];
    QCOMPARE(clip.filePath, QStringLiteral("clip.mp4"));
    QCOMPARE(clip.bytes, m_fixture.videoA);
    QCOMPARE(clip.frameCount, 100);
    QCOMPARE(clip.fps, 29.97f);
    QCOMPARE(QSize(clip.width, clip.height), QSize(320, 240));
    QCOMPARE(clip.frameLabels.keys(), (QList<int>{0, 5}));
    QCOMPARE(clip.frameLabels[0][0].className, QStringLiteral("bird"));
    QCOMPARE(clip.frameLabels[5][0].bbox, QRectF(1, 1, 2, 2));
    QCOMPARE(read.videos[1].filePath, QStringLiteral("second.mov"));
    QCOMPARE(read.videos[1].bytes, m_fixture.videoB);

    // The generic export writes the same package without a project type and
    // without progress calls.
    int calls = 0;
    const QString plain = out.filePath("plain.qmpkg");
    QVERIFY(handler.exportDataset(plain, d, [&](int, int) { ++calls; }));
    QCOMPARE(calls, 0);
    QCOMPARE(QpkgHandler::readProjectType(plain), QString());
}

void TestQpkg::reexportKeepsMediaBytes()
{
    // A project opened from a package is saved back onto that same package:
    // the media it holds only in memory must survive, byte for byte.
    QTemporaryDir media, out;
    const QString path = out.filePath("p.qmpkg");
    QVERIFY(QpkgHandler::exportProject(path, richProject(media.path(), m_fixture), {}));
    QpkgHandler handler;
    Dataset first;
    QVERIFY(handler.importDataset(path, first, {}));
    QDir(media.path()).removeRecursively();              // the original media are gone

    // Files named like the bare names in the working folder must not be taken.
    const QString oldCwd = QDir::currentPath();
    QDir().mkpath(out.filePath("cwd"));
    QDir::setCurrent(out.filePath("cwd"));
    writeFile(out.filePath("cwd/memory.png"), "not the stored image");
    writeFile(out.filePath("cwd/clip.mp4"), "not the stored video");

    const auto privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QVERIFY(QFile::setPermissions(path, privateFile));
    Project again{"again", "pose", first};
    const bool saved = QpkgHandler::exportProject(path, again, {});
    QDir::setCurrent(oldCwd);
    QVERIFY(saved);
    const auto permissions = QFileInfo(path).permissions();
    QCOMPARE(permissions & privateFile, privateFile);
    QVERIFY(!(permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));

    Dataset second;
    QVERIFY(handler.importDataset(path, second, {}));
    QCOMPARE(second.images.size(), first.images.size());
    for (qsizetype i = 0; i < first.images.size(); ++i) {
        QCOMPARE(second.images[i].encodedBytes(), first.images[i].encodedBytes());
        QCOMPARE(second.images[i].labels, first.images[i].labels);
    }
    QCOMPARE(second.images[0].encodedBytes(), m_fixture.jpeg);
    QCOMPARE(second.images[1].encodedBytes(), m_fixture.png);
    QCOMPARE(second.videos[0].bytes, m_fixture.videoA);
    QCOMPARE(second.videos[1].bytes, m_fixture.videoB);
    QCOMPARE(second.classColors, first.classColors);
}

// A JPEG whose header lies beyond the first 256 KiB: large application
// segments (an embedded preview or colour profile) before the frame header.
QByteArray jpegWithLargeSegments(const QByteArray &jpeg)
{
    QByteArray segments;
    for (int i = 0; i < 5; ++i) {
        segments += "\xFF\xEF"; // APP15
        segments += char(0xFF);
        segments += char(0xFF); // length 65535, itself included
        segments += QByteArray(65533, char('a' + i));
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

void TestQpkg::storedImagesAreReadWhenNeeded()
{
    QTemporaryDir dir;
    const QByteArray bigHeader = jpegWithLargeSegments(m_fixture.jpeg);
    QCOMPARE(QImage::fromData(bigHeader).size(), QSize(64, 48));
    Dataset d;
    ImageEntry photo;
    photo.filePath = "photo.jpg";
    photo.imageData = bigHeader; // size unknown: measured from the stored bytes
    d.addImage(photo);
    ImageEntry icon;
    icon.filePath = "icon.png";
    icon.imageData = m_fixture.png;
    d.addImage(icon);
    const QString path = dir.filePath("set.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, d, {}, {}));

    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(path, read, {}));
    QCOMPARE(read.images.size(), 2);
    for (const ImageEntry &e : std::as_const(read.images)) {
        QVERIFY(e.imageData.isEmpty() && e.image.isNull() && e.storedBytes);
        QVERIFY(e.hasInMemoryImage());
    }
    QCOMPARE(QSize(read.images[0].width, read.images[0].height), QSize(64, 48));
    QCOMPARE(read.images[0].encodedBytes(), bigHeader);
    QCOMPARE(read.images[1].loadPixels().pixelColor(19, 9), QColor(Qt::blue));

    // A copy of the entry, as a worker or the export gets it, reads the same.
    const ImageEntry copy = read.images[1];
    QCOMPARE(copy.encodedBytes(), m_fixture.png);

    // Another project saved over the package: its rows are not these images,
    // so they give no pixels rather than the other project's.
    Dataset other;
    ImageEntry stranger;
    stranger.filePath = "photo.jpg";
    stranger.imageData = m_fixture.jpeg;
    other.addImage(stranger);
    QVERIFY(QpkgHandler::writePackage(path, other, {}, {}));
    QVERIFY(read.images[0].encodedBytes().isEmpty());
    QVERIFY(read.images[0].loadPixels().isNull());
    QVERIFY(read.images[1].encodedBytes().isEmpty());

    // Nor does a package that has gone.
    Dataset again;
    QVERIFY(handler.importDataset(path, again, {}));
    QCOMPARE(again.images[0].encodedBytes(), m_fixture.jpeg);
    QVERIFY(QFile::rename(path, dir.filePath("moved.qmpkg")));
    QVERIFY(again.images[0].encodedBytes().isEmpty());
    QCOMPARE(filesIn(dir.path()), QStringList{"moved.qmpkg"});

    // Saving such a project must not store the image without its pixels: the
    // save fails and the target keeps what it held.
    const QString target = dir.filePath("target.qmpkg");
    QVERIFY(QpkgHandler::writePackage(target, other, {}, {}));
    const QByteArray before = digest(target);
    QVERIFY(!QpkgHandler::writePackage(target, again, {}, {}));
    QCOMPARE(digest(target), before);
    QCOMPARE(filesIn(dir.path()), (QStringList{"moved.qmpkg", "target.qmpkg"}));
}

void TestQpkg::unnamedClassesAndNanNumbersAreStored()
{
    // Imports can bring annotations without a class name, and a score or a
    // frame rate can be NaN, which SQLite cannot hold in a NOT NULL column:
    // none of them may make the whole package unwritable.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Dataset d;
    ImageEntry e;
    e.filePath = "x.png";
    e.imageData = m_fixture.png;
    Annotation unnamed = annotation(QString(), BoundingBox, {}, QRectF(1, 1, 2, 2));
    Annotation unscored = annotation("car", Point, {{3, 4}});
    unscored.confidence = nan;
    e.labels = {unnamed, unscored};
    d.addImage(e);
    VideoEntry v;
    v.filePath = "v.mp4";
    v.bytes = m_fixture.videoB;
    v.fps = nan;
    v.frameLabels[2] = {annotation(QString(), Point, {{1, 1}})};
    d.addVideo(v);

    QTemporaryDir dir;
    const QString path = dir.filePath("odd.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, d, {}, {}));
    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(path, read, {}));
    QCOMPARE(read.images.size(), 1);
    QCOMPARE(read.images[0].labels.size(), 2);
    QCOMPARE(read.images[0].labels[0].className, QString());
    QCOMPARE(read.images[0].labels[0].bbox, QRectF(1, 1, 2, 2));
    QCOMPARE(read.images[0].labels[1].confidence, 1.0f);
    QCOMPARE(read.videos.size(), 1);
    QCOMPARE(read.videos[0].fps, 25.0f);
    QCOMPARE(read.videos[0].frameLabels.value(2).size(), 1);
    QCOMPARE(read.videos[0].frameLabels.value(2)[0].className, QString());
}

void TestQpkg::siblingFiles()
{
    QTemporaryDir beside, elsewhere;
    Dataset d;
    ImageEntry a;
    a.filePath = writeFile(beside.filePath("a.jpg"), m_fixture.jpeg);
    a.width = 64;
    a.height = 48;
    d.addImage(a);
    ImageEntry gone;
    gone.filePath = beside.filePath("later.png");      // not there yet: stored as NULL
    d.addImage(gone);

    const QString path = beside.filePath("set.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, d, {}, {}));
    writeFile(beside.filePath("later.png"), m_fixture.png);

    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(path, read, {}));
    QCOMPARE(read.images[0].filePath, QFileInfo(beside.filePath("a.jpg")).absoluteFilePath());
    QVERIFY(!read.images[0].hasInMemoryImage());
    QCOMPARE(read.images[1].filePath, QFileInfo(beside.filePath("later.png")).absoluteFilePath());

    // Moved away from its files, the package gives its stored bytes; a file of
    // the same name but another size is some other image and is not taken.
    const QString moved = elsewhere.filePath("set.qmpkg");
    QVERIFY(QFile::copy(path, moved));
    writeFile(elsewhere.filePath("a.jpg"), m_fixture.jpeg + "tail");
    Dataset away;
    QVERIFY(handler.importDataset(moved, away, {}));
    QCOMPARE(away.images[0].filePath, QStringLiteral("a.jpg"));
    QCOMPARE(away.images[0].encodedBytes(), m_fixture.jpeg);
    QCOMPARE(away.images[1].filePath, QStringLiteral("later.png"));
    QVERIFY(!away.images[1].hasInMemoryImage());
}

void TestQpkg::fileShape()
{
    QTemporaryDir media, out;
    Project project = richProject(media.path(), m_fixture);
    ImageEntry empty;
    empty.filePath = writeFile(media.filePath("empty.png"), QByteArray());
    project.dataset.addImage(empty);
    const QString path = out.filePath("shape.qmpkg");
    QVERIFY(QpkgHandler::exportProject(path, project, {}));

    // One file, nothing beside it, WAL recorded in the header.
    QCOMPARE(filesIn(out.path()), QStringList{"shape.qmpkg"});
    const QByteArray header = readFile(path).left(20);
    QCOMPARE(header.left(16), QByteArray("SQLite format 3\0", 16));
    QCOMPARE(int(header[18]), 2);
    QCOMPARE(int(header[19]), 2);

    {
        RawDb raw(path);
        QCOMPARE(raw.rows("PRAGMA journal_mode").value(0).value(0).toString(), QStringLiteral("wal"));
        const auto meta = raw.rows("SELECT key, value FROM qmpkg_metadata ORDER BY rowid");
        QList<QStringList> metaText;
        for (const auto &row : meta)
            metaText.append({row[0].toString(), row[1].toString()});
        const QList<QStringList> expectedMeta{
            {"qmpkg_version", "1"}, {"generator", "Quillmark"}, {"image_count", "5"}, {"video_count", "2"},
            {"class_count", "5"}, {"project_type", "pose"},
            {"keypoint_schema",
             "{\"edges\":[[0,1],[0,2]],\"keypointNames\":[\"nose\",\"left eye\",\"right eye\"],\"objectClass\":\"person\"}"}};
        QCOMPARE(metaText, expectedMeta);

        const auto classes = raw.rows("SELECT id, title, color, task_type FROM classes ORDER BY id");
        QCOMPARE(classes.size(), 5);
        QCOMPARE(classes[0], (QVariantList{1, "car", "#123456", ""}));
        QCOMPARE(classes[3][1].toString(), QStringLiteral("dot"));
        QCOMPARE(classes[4], (QVariantList{5, "bird", "#ffffff", ""}));

        // NULL for no bytes, and for a file that is no picture (an empty one).
        const auto images = raw.rows("SELECT id, filename, bytes IS NULL, length(bytes) FROM images ORDER BY id");
        QCOMPARE(images.size(), 5);
        QCOMPARE(images[2][0].toInt(), 10);
        QCOMPARE(images[2][1].toString(), QString());
        QCOMPARE(images[3][1].toString(), QStringLiteral("gone.jpg"));
        QCOMPARE(images[3][2].toInt(), 1);
        QCOMPARE(images[4][1].toString(), QStringLiteral("empty.png"));
        QCOMPARE(images[4][2].toInt(), 1);

        const auto labels = raw.rows("SELECT geom_type, typeof(geometry), geometry, typeof(attributes), "
                                     "attributes, track_id IS NULL FROM annotations ORDER BY id");
        QCOMPARE(labels.size(), 6);
        QCOMPARE(labels[0][0].toString(), QStringLiteral("BBOX"));
        QCOMPARE(labels[0][2].toString(),
                 QStringLiteral("POLYGON ((10.2500 20.5000, 40.2500 20.5000, 40.2500 60.6250, "
                                "10.2500 60.6250, 10.2500 20.5000))"));
        QCOMPARE(labels[0][4].toString(),
                 QStringLiteral("{\"count\":3,\"note\":\"it's \\\"quoted\\\"\",\"occluded\":true}"));
        // A polygon's box beside its points; a point has no attributes at all.
        QCOMPARE(labels[1][4].toString(), QStringLiteral("{\"quillmark:box\":[0,1,5,47]}"));
        QCOMPARE(labels[3][3].toString(), QStringLiteral("null"));
        QCOMPARE(labels[4][4].toString(),
                 QStringLiteral("{\"pose\":\"standing\",\"quillmark:box\":[0,0.5,7.75,6],\"visibility\":[2,1,0]}"));
        QCOMPARE(labels[5][3].toString(), QStringLiteral("null"));        // no points, no box
        QCOMPARE(labels[5][0].toString(), QStringLiteral("POLYGON"));     // polygon without points
        QCOMPARE(labels[5][1].toString(), QStringLiteral("text"));
        QCOMPARE(labels[5][2].toString(), QString());
        QCOMPARE(labels[5][5].toInt(), 1);

        const auto frames = raw.rows("SELECT video_id, frame_index, class_id FROM video_annotations ORDER BY id");
        QCOMPARE(frames, (QList<QVariantList>{{0, 0, 5}, {0, 5, 1}}));
    }
    QFile::remove(path + "-wal");   // the raw look may leave its own, empty side files
    QFile::remove(path + "-shm");
}

void TestQpkg::hostileFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("sqlite");
    QTest::newRow("text file") << QByteArray("hello, not a database\n") << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("header only") << QByteArray("SQLite format 3\0", 16) << false;
    QTest::newRow("foreign database") << QByteArray() << true;
}

void TestQpkg::hostileFilesAreRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, sqlite);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.qmpkg");
    if (sqlite) {
        RawDb raw(path, false);
        raw.exec("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)");
        raw.exec("INSERT INTO notes(body) VALUES('keep me')");
    } else {
        writeFile(path, content);
    }
    const QByteArray before = digest(path);

    QpkgHandler handler;
    Dataset target;
    target.addClass("existing", QColor(Qt::red));
    QVERIFY(!handler.canImport(path));
    QVERIFY(!handler.importDataset(path, target, {}));
    QCOMPARE(QpkgHandler::readProjectType(path), QString());
    QCOMPARE(target.classColors.keys(), QStringList{"existing"});
    QVERIFY(target.images.isEmpty());
    QCOMPARE(digest(path), before);
    QCOMPARE(filesIn(dir.path()), QStringList{"x.qmpkg"});

    // A path that does not exist is refused and not created.
    QVERIFY(!handler.importDataset(dir.filePath("none.qmpkg"), target, {}));
    QVERIFY(!QFileInfo::exists(dir.filePath("none.qmpkg")));
}

void TestQpkg::truncatedPackage()
{
    QTemporaryDir media, out;
    Dataset d;
    for (int i = 0; i < 6; ++i) {
        ImageEntry e;
        QImage noise(96, 96, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, qRgb((x * 37 + y * 11 + i) % 256, (x * y + i * 7) % 256, (x ^ y) % 256));
        e.imageData = QmTest::imageFileBytes(noise);
        e.filePath = QStringLiteral("n%1.png").arg(i);
        e.labels = {annotation("a", BoundingBox, {}, QRectF(0, 0, 4, 4))};
        d.addImage(e);
    }
    const QString path = out.filePath("cut.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, d, {}, {}));
    const QByteArray whole = readFile(path);
    QpkgHandler handler;
    for (const double keep : {0.9, 0.6, 0.3}) {
        writeFile(path, whole.left(qsizetype(whole.size() * keep)));
        Dataset target;
        QVERIFY2(!handler.importDataset(path, target, {}), qPrintable(QString::number(keep)));
        QVERIFY(target.images.isEmpty());
    }
}

void TestQpkg::traversalNamesStayInside()
{
    QTemporaryDir root;
    QDir(root.path()).mkpath("pkg");
    const QString secret = writeFile(root.filePath("secret.png"), m_fixture.png);
    const QString path = root.filePath("pkg/evil.qmpkg");
    {
        Dataset seed;
        QVERIFY(QpkgHandler::writePackage(path, seed, {}, {}));
        RawDb raw(path, false);
        const QStringList names{"../secret.png", QFileInfo(secret).absoluteFilePath(), "..\\secret.png", "..", "",
                                "./../secret.png"};
        QSqlQuery insert(raw.db());
        insert.prepare("INSERT INTO images(id, filename, width, height, bytes) VALUES(?, ?, 1, 1, NULL)");
        for (int i = 0; i < names.size(); ++i) {
            insert.bindValue(0, i);
            insert.bindValue(1, names[i]);
            QVERIFY(insert.exec());
        }
        insert.prepare("INSERT INTO videos(id, filename, bytes) VALUES(0, '../../secret.mp4', NULL)");
        QVERIFY(insert.exec());
    }
    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(path, read, {}));
    QCOMPARE(read.images.size(), 6);
    for (const ImageEntry &e : read.images) {
        QVERIFY2(!e.filePath.contains('/') && !e.filePath.contains('\\'), qPrintable(e.filePath));
        QVERIFY(e.filePath != ".." && !e.filePath.isEmpty());
    }
    QCOMPARE(read.images[0].filePath, QStringLiteral("secret.png"));
    QCOMPARE(read.images[3].filePath, QStringLiteral("image_3"));
    QCOMPARE(read.videos[0].filePath, QStringLiteral("secret.mp4"));
}

void TestQpkg::folderDetectionUsesFirstPackage()
{
    QTemporaryDir dir;
    QpkgHandler handler;
    QVERIFY(!handler.canImport(dir.path()));
    QVERIFY(QpkgHandler::writePackage(dir.filePath("b.qmpkg"), Dataset(), {}, {}));
    QVERIFY(handler.canImport(dir.path()));
    writeFile(dir.filePath("a.qmpkg"), "not a package");
    QVERIFY(!handler.canImport(dir.path()));
}

void TestQpkg::committedLogIsFoldedIn()
{
    // Snapshot a package while a writer holds committed rows only in its log,
    // as a crash would leave it.
    QTemporaryDir work, crash;
    const QString path = work.filePath("live.qmpkg");
    Dataset d;
    d.addClass("car", QColor(Qt::red));
    QVERIFY(QpkgHandler::writePackage(path, d, {}, "object_detection"));
    const QString copy = crash.filePath("crashed.qmpkg");
    {
        RawDb writer(path, false);
        writer.exec("PRAGMA wal_autocheckpoint = 0");
        writer.exec("INSERT INTO images(id, filename, width, height, bytes) VALUES(7, 'late.png', 3, 4, NULL)");
        writer.exec("INSERT INTO annotations(image_id, class_id, geom_type, geometry) "
                    "VALUES(7, 1, 'POINT', 'POINT (1 2)')");
        QVERIFY(QFileInfo(path + "-wal").size() > 0);
        QVERIFY(QFile::copy(path, copy));
        QVERIFY(QFile::copy(path + "-wal", copy + "-wal"));
    }
    const qint64 walSize = QFileInfo(copy + "-wal").size();

    // Detection and the project-type probe read through the log but leave it.
    QpkgHandler handler;
    QVERIFY(handler.canImport(copy));
    QCOMPARE(QpkgHandler::readProjectType(copy), QStringLiteral("object_detection"));
    QCOMPARE(QFileInfo(copy + "-wal").size(), walSize);

    Dataset read;
    QVERIFY(handler.importDataset(copy, read, {}));
    QCOMPARE(read.images.size(), 1);
    QCOMPARE(read.images[0].id, 7);
    QCOMPARE(read.images[0].labels.size(), 1);

    // The rows are in the package file itself now, and nothing is left beside it.
    QCOMPARE(filesIn(crash.path()), QStringList{"crashed.qmpkg"});
    const QString alone = work.filePath("alone.qmpkg");
    QVERIFY(QFile::copy(copy, alone));
    Dataset again;
    QVERIFY(handler.importDataset(alone, again, {}));
    QCOMPARE(again.images.size(), 1);
}

void TestQpkg::staleLogIsNotReplayedOntoNewPackage()
{
    QTemporaryDir work, crash;
    const QString path = work.filePath("p.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, Dataset(), {}, {}));
    const QString target = crash.filePath("p.qmpkg");
    {
        RawDb writer(path, false);
        writer.exec("PRAGMA wal_autocheckpoint = 0");
        writer.exec("INSERT INTO images(id, filename) VALUES(99, 'old.png')");
        QVERIFY(QFile::copy(path, target));
        QVERIFY(QFile::copy(path + "-wal", target + "-wal"));
    }
    Dataset fresh;
    ImageEntry e;
    e.filePath = "new.png";
    e.imageData = m_fixture.png;
    fresh.addImage(e);
    QVERIFY(QpkgHandler::writePackage(target, fresh, {}, {}));
    QCOMPARE(filesIn(crash.path()), QStringList{"p.qmpkg"});
    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(target, read, {}));
    QCOMPARE(read.images.size(), 1);
    QCOMPARE(read.images[0].filePath, QStringLiteral("new.png"));
}

void TestQpkg::failedWritesKeepOldPackage_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("missing folder") << "missing folder";
    QTest::newRow("target is a folder") << "target is a folder";
    QTest::newRow("duplicate image id") << "duplicate image id";
    QTest::newRow("read-only folder") << "read-only folder";
}

void TestQpkg::failedWritesKeepOldPackage()
{
    QFETCH(QString, failure);
    QTemporaryDir dir;
    Dataset old;
    ImageEntry kept;
    kept.filePath = "kept.png";
    kept.imageData = m_fixture.png;
    old.addImage(kept);

    Dataset broken;
    ImageEntry first;
    first.id = 3;
    first.imageData = m_fixture.jpeg;
    broken.addImage(first);
    broken.addImage(first);   // the same id twice cannot be stored

    QString target = dir.filePath("p.qmpkg");
    QVERIFY(QpkgHandler::writePackage(target, old, {}, {}));
    Dataset attempt = old;
    if (failure == "missing folder") {
        target = dir.filePath("nowhere/p.qmpkg");
    } else if (failure == "target is a folder") {
        target = dir.filePath("folder.qmpkg");
        QVERIFY(QDir(dir.path()).mkdir("folder.qmpkg"));
    } else if (failure == "duplicate image id") {
        attempt = broken;
    } else {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    const QStringList before = filesIn(dir.path());
    const QByteArray oldDigest = digest(dir.filePath("p.qmpkg"));

    QVERIFY(!QpkgHandler::writePackage(target, attempt, {}, {}));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QCOMPARE(filesIn(dir.path()), before);                // no temporary file left
    QCOMPARE(digest(dir.filePath("p.qmpkg")), oldDigest);
    QVERIFY(!QFileInfo::exists(dir.filePath("nowhere")));
    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(dir.filePath("p.qmpkg"), read, {}));
    QCOMPARE(read.images.size(), 1);
    QCOMPARE(read.images[0].encodedBytes(), m_fixture.png);
}

void TestQpkg::legacyVideosTableIsReadWithoutChange()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.qmpkg");
    {
        RawDb raw(path, false);
        raw.exec("PRAGMA journal_mode = WAL");
        raw.exec("CREATE TABLE qmpkg_metadata (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL DEFAULT '')");
        raw.exec("INSERT INTO qmpkg_metadata VALUES('qmpkg_version', '1')");
        raw.exec("CREATE TABLE classes (id INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT NOT NULL UNIQUE, "
                 "color TEXT NOT NULL DEFAULT '#ffffff', task_type TEXT NOT NULL DEFAULT '')");
        raw.exec("INSERT INTO classes(title, color) VALUES('car', 'not a colour')");
        raw.exec("CREATE TABLE videos (id INTEGER PRIMARY KEY NOT NULL, filename TEXT NOT NULL, "
                 "width INTEGER NOT NULL DEFAULT 0, height INTEGER NOT NULL DEFAULT 0, "
                 "frame_count INTEGER NOT NULL DEFAULT 0, fps REAL NOT NULL DEFAULT 25.0)");
        raw.exec("INSERT INTO videos VALUES(4, 'old.avi', 640, 480, 50, 12.5)");
    }
    QFile::remove(path + "-wal");
    QFile::remove(path + "-shm");
    const QByteArray before = digest(path);

    QpkgHandler handler;
    Dataset read;
    QVERIFY(handler.importDataset(path, read, {}));
    QCOMPARE(read.videos.size(), 1);
    QCOMPARE(read.videos[0].id, 4);
    QCOMPARE(read.videos[0].fps, 12.5f);
    QVERIFY(read.videos[0].bytes.isEmpty());
    QVERIFY(read.images.isEmpty());                       // no images table at all
    QCOMPARE(read.classColors.value("car"), classPalette[0]);
    QCOMPARE(digest(path), before);
    QCOMPARE(filesIn(dir.path()), QStringList{"old.qmpkg"});
}

void TestQpkg::concurrentReadsUseSeparateConnections()
{
    SqlWarningGuard guard;
    QTemporaryDir media, dir;
    const Project project = richProject(media.path(), m_fixture);
    const QString a = dir.filePath("a.qmpkg");
    const QString b = dir.filePath("b.qmpkg");
    QVERIFY(QpkgHandler::exportProject(a, project, {}));
    QVERIFY(QpkgHandler::writePackage(b, project.dataset, {}, "face"));

    std::atomic<int> failures{0};
    auto reader = [&failures](const QString &path, const QString &copyPath) {
        return QThread::create([&failures, path, copyPath] {
            QpkgHandler handler;
            for (int i = 0; i < 15; ++i) {
                Dataset d;
                if (!handler.importDataset(path, d, {}) || d.images.size() != 4)
                    ++failures;
                if (!QpkgHandler::writePackage(copyPath, d, {}, {}))   // and a write per round
                    ++failures;
            }
        });
    };
    QThread *first = reader(a, dir.filePath("a-copy.qmpkg"));
    QThread *second = reader(b, dir.filePath("b-copy.qmpkg"));
    first->start();
    second->start();
    int probes = 0;
    while (!first->isFinished() || !second->isFinished()) {
        QCOMPARE(QpkgHandler::readProjectType(a), QStringLiteral("pose"));
        QCOMPARE(QpkgHandler::readProjectType(b), QStringLiteral("face"));
        ++probes;
    }
    QVERIFY(first->wait());
    QVERIFY(second->wait());
    delete first;
    delete second;
    QCOMPARE(failures.load(), 0);
    QVERIFY(probes > 0);
    QCOMPARE(SqlWarningGuard::messages(), QStringList());
    QStringList expected{"a-copy.qmpkg", "a.qmpkg", "b-copy.qmpkg", "b.qmpkg"};
    QCOMPARE(filesIn(dir.path()), expected);
    QCOMPARE(QSqlDatabase::connectionNames().filter("qmpkg_"), QStringList());
}

QM_TEST_MAIN(TestQpkg)
#include "tst_qpkg.moc"
