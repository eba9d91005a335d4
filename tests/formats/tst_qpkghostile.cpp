#include "BoundedRun.h"
#include "ImageFileBytes.h"
#include "QmTest.h"

#include "formats/QpkgConnection.h"
#include "formats/QpkgHandler.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quillmark;

// Packages are SQLite files from anywhere: crafted ones must neither hang the
// reader nor make it build huge values, ids must come out unique and exact,
// numbers finite, and a written package must carry nothing but pictures.
// Every read runs in a child process under a time and memory bound.
class TestQpkgHostile : public QObject {
    Q_OBJECT
private slots:
    void craftedPackages_data();
    void craftedPackages();
    void longStepsAreInterrupted();
    void idsAreUniqueAndExact();
    void numbersAreFinite();
    void onlyPicturesAreEmbedded();
    void mergedIdsStayUnique();
    void picturesWrittenMeanwhileAreNotStoredTorn();
};

namespace {

// Builds a package with raw SQL, as anybody could.
class Crafted {
public:
    explicit Crafted(const QString &path)
        : m_name(QStringLiteral("crafted_") + QUuid::createUuid().toString(QUuid::Id128))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        if (!m_db.open())
            qFatal("cannot create %s", qPrintable(path));
    }
    ~Crafted()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    Crafted &run(const QString &sql)
    {
        QSqlQuery query(m_db);
        if (!query.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return *this;
    }
    // The tables of a real package, without content.
    Crafted &standardTables(const QStringList &skip = {})
    {
        const QList<QPair<QString, QString>> tables = {
            {"qmpkg_metadata", "CREATE TABLE qmpkg_metadata (key TEXT PRIMARY KEY NOT NULL, value TEXT)"},
            {"classes", "CREATE TABLE classes (id INTEGER PRIMARY KEY, title TEXT, color TEXT)"},
            {"images", "CREATE TABLE images (id INTEGER PRIMARY KEY, filename TEXT, width INTEGER, height INTEGER, "
                       "bytes BLOB)"},
            {"annotations", "CREATE TABLE annotations (id INTEGER PRIMARY KEY, image_id INTEGER, class_id INTEGER, "
                            "geom_type TEXT, geometry TEXT, track_id INTEGER, confidence REAL, attributes TEXT)"},
            {"videos", "CREATE TABLE videos (id INTEGER PRIMARY KEY, filename TEXT, width INTEGER, height INTEGER, "
                       "frame_count INTEGER, fps REAL, bytes BLOB)"},
            {"video_annotations", "CREATE TABLE video_annotations (id INTEGER PRIMARY KEY, video_id INTEGER, "
                                  "frame_index INTEGER, class_id INTEGER, geom_type TEXT, geometry TEXT, "
                                  "confidence REAL, attributes TEXT)"},
        };
        for (const auto &[name, sql] : tables) {
            if (!skip.contains(name))
                run(sql);
        }
        if (!skip.contains("qmpkg_metadata"))
            run("INSERT INTO qmpkg_metadata VALUES('qmpkg_version', '1')");
        return *this;
    }

private:
    QString m_name;
    QSqlDatabase m_db;
};

QByteArray pngBytes(int width, int height)
{
    return QmTest::filledImageBytes(width, height, Qt::darkCyan);
}

QString expect(bool condition, const QString &message)
{
    return condition ? QString() : message;
}

// What every read must give: ids unique, kept below the counter.
QString checkIds(const Dataset &dataset)
{
    QSet<int> images;
    for (const ImageEntry &entry : dataset.images) {
        if (entry.id < 0 || entry.id >= dataset.nextImageId || images.contains(entry.id))
            return QStringLiteral("image id %1 is not unique or out of range").arg(entry.id);
        images.insert(entry.id);
    }
    QSet<int> videos;
    for (const VideoEntry &entry : dataset.videos) {
        if (entry.id < 0 || entry.id >= dataset.nextVideoId || videos.contains(entry.id))
            return QStringLiteral("video id %1 is not unique or out of range").arg(entry.id);
        videos.insert(entry.id);
    }
    return {};
}

constexpr QmTest::Bounds readBounds{5000, 64LL << 20};

} // namespace

void TestQpkgHostile::craftedPackages_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<bool>("isPackage");
    QTest::addColumn<int>("images");
    const QString recursive = "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) ";
    QTest::newRow("metadata as a recursive view") << QStringList{"CREATE VIEW qmpkg_metadata AS " + recursive +
                                                                 "SELECT 'qmpkg_version' AS key, n AS value FROM r"}
                                                  << false << 0;
    QTest::newRow("images as a recursive view")
        << QStringList{"standard:images", "CREATE VIEW images AS " + recursive +
                                              "SELECT n AS id, 'x.png' AS filename, 1 AS width, 1 AS height, "
                                              "NULL AS bytes FROM r"}
        << true << 0;
    QTest::newRow("classes as a recursive view")
        << QStringList{"standard:classes",
                       "CREATE VIEW classes AS " + recursive + "SELECT n AS id, 'c' || n AS title, '' AS color FROM r",
                       "INSERT INTO images VALUES(1, 'a.png', 1, 1, NULL)"}
        << true << 1;
    // The rows are written first and the generated column is put into the
    // schema afterwards, as a crafted file has it: virtual columns are not
    // stored, so the rows still fit, and nothing computes the value here.
    const QString editSchema = "PRAGMA writable_schema=ON";
    QTest::newRow("generated text of 900 MB")
        << QStringList{"standard:images",
                       "CREATE TABLE images (id INTEGER PRIMARY KEY, width INTEGER, height INTEGER, bytes BLOB)",
                       "INSERT INTO images(id, width, height) VALUES(1, 1, 1)", editSchema,
                       "UPDATE sqlite_master SET sql = 'CREATE TABLE images (id INTEGER PRIMARY KEY, filename TEXT "
                       "AS (printf(''%.*c'', 900000000, ''x'')), width INTEGER, height INTEGER, bytes BLOB)' "
                       "WHERE name = 'images'"}
        << true << 0;
    QTest::newRow("generated blob of 900 MB")
        << QStringList{"standard:images",
                       "CREATE TABLE images (id INTEGER PRIMARY KEY, filename TEXT, width INTEGER, height INTEGER)",
                       "INSERT INTO images VALUES(1, 'a.png', 0, 0)", editSchema,
                       "UPDATE sqlite_master SET sql = 'CREATE TABLE images (id INTEGER PRIMARY KEY, filename TEXT, "
                       "width INTEGER, height INTEGER, bytes BLOB AS (zeroblob(900000000)))' WHERE name = 'images'"}
        << true << 0;
    QTest::newRow("virtual annotations table")
        << QStringList{"standard:annotations",
                       "CREATE VIRTUAL TABLE annotations USING fts5(image_id, class_id, geom_type, geometry, "
                       "confidence, attributes, id)",
                       "INSERT INTO images VALUES(1, 'a.png', 1, 1, NULL)"}
        << true << 1;
    QTest::newRow("project type of 1 MB")
        << QStringList{"standard", "INSERT INTO qmpkg_metadata VALUES('project_type', hex(zeroblob(500000)))"}
        << true << 0;
    QTest::newRow("keypoint schema of 2 MB")
        << QStringList{"standard",
                       "INSERT INTO qmpkg_metadata VALUES('keypoint_schema', "
                       "'{\"keypointNames\": [' || substr(hex(zeroblob(1000000)), 1, 1900000) || ']}')",
                       "INSERT INTO images VALUES(1, 'a.png', 1, 1, NULL)"}
        << true << 1;
}

// A view whose query never ends, a generated column that builds a value of
// 900 MB, a virtual table: none of them is read. The package is still read
// without them when what makes it a package is there.
void TestQpkgHostile::craftedPackages()
{
    QFETCH(QStringList, statements);
    QFETCH(bool, isPackage);
    QFETCH(int, images);
    QTemporaryDir dir;
    const QString path = dir.filePath("crafted.qmpkg");
    {
        Crafted crafted(path);
        for (const QString &statement : statements) {
            if (statement.startsWith("standard"))
                crafted.standardTables(statement.mid(9).split(',', Qt::SkipEmptyParts));
            else
                crafted.run(statement);
        }
    }
    QVERIFY(QFileInfo(path).size() < 4 * 1024 * 1024);
    const QmTest::BoundedResult result = QmTest::runBounded(readBounds, [&]() -> QString {
        QpkgHandler handler;
        if (handler.canImport(path) != isPackage)
            return QStringLiteral("detection says %1").arg(!isPackage);
        if (QpkgHandler::readProjectType(path).size() > 64)
            return QStringLiteral("a project type of any length");
        Dataset dataset;
        const bool read = handler.importDataset(path, dataset, {});
        if (read != isPackage)
            return QStringLiteral("the read gave %1").arg(read);
        if (dataset.images.size() != images)
            return QStringLiteral("%1 images").arg(dataset.images.size());
        return checkIds(dataset);
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// Every read connection interrupts a statement that runs past its time bound
// without producing a row, and lets no value past its length bound out.
void TestQpkgHostile::longStepsAreInterrupted()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmpkg");
    {
        Crafted crafted(path);
        crafted.standardTables();
        crafted.run("INSERT INTO images VALUES(1, 'a.png', 1, 1, zeroblob(300000))");
        crafted.run("INSERT INTO images VALUES(2, printf('%.*c', 300000, 'n'), 1, 1, NULL)");
    }
    const QmTest::BoundedResult result = QmTest::runBounded(readBounds, [&]() -> QString {
        QpkgConnection::setReadLimits({100000, std::chrono::milliseconds(200)});
        QpkgConnection connection(path, true);
        QSqlQuery endless(connection.database());
        if (endless.exec("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
                         "SELECT count(*) FROM r"))
            return QStringLiteral("an endless query ended");
        // Rows keep coming: a long read row by row is not cut short.
        QSqlQuery rows(connection.database());
        rows.setForwardOnly(true);
        if (!rows.exec("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < 1000000) "
                       "SELECT n FROM r"))
            return QStringLiteral("a long result failed: ") + rows.lastError().text();
        qint64 count = 0;
        while (rows.next())
            ++count;
        if (count != 1000000)
            return QStringLiteral("%1 rows").arg(count);
        QSqlQuery big(connection.database());
        if (big.exec("SELECT bytes FROM images WHERE id=1") && big.next())
            return QStringLiteral("a blob past the bound came out");
        QSqlQuery length(connection.database());
        if (!length.exec("SELECT length(bytes) FROM images WHERE id=1") || !length.next() ||
            length.value(0).toInt() != 300000)
            return QStringLiteral("the length of a large blob is not known");
        {
            const QpkgConnection::ValueAllowance allowance(connection, 300000);
            QSqlQuery allowed(connection.database());
            if (!allowed.exec("SELECT bytes FROM images WHERE id=1") || !allowed.next())
                return QStringLiteral("an allowed blob did not come out");
        }
        // The package as a whole: a name past the bound fails the read.
        Dataset dataset;
        return expect(!QpkgHandler().importDataset(path, dataset, {}) && dataset.images.isEmpty(),
                      QStringLiteral("a name past the bound was read"));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// Ids that are duplicated, NULL, text, negative or beyond the int range get
// fresh ones; the annotations of a stored id stay with its image; class ids
// are compared as the 64-bit numbers they are.
void TestQpkgHostile::idsAreUniqueAndExact()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ids.qmpkg");
    {
        Crafted crafted(path);
        crafted.standardTables({"images", "videos", "classes"});
        // Plain columns, so that any value can stand in any row.
        crafted.run("CREATE TABLE images (id, filename, width, height, bytes)");
        crafted.run("CREATE TABLE videos (id, filename, width, height, frame_count, fps, bytes)");
        crafted.run("CREATE TABLE classes (id, title, color)");
        crafted.run("INSERT INTO classes VALUES(1, 'one', '#ff0000'), (4294967297, 'big', '#00ff00'), "
                    "('1', 'text', '#0000ff')");
        const QString small = QString::fromLatin1(pngBytes(1, 1).toHex());
        const QString large = QString::fromLatin1(pngBytes(2, 2).toHex());
        crafted.run("INSERT INTO images VALUES(5, 'five.png', 1, 1, X'" + small +
                    "'), "
                    "(4294967301, 'huge.png', 1, 1, NULL), (NULL, 'null.png', 1, 1, NULL), "
                    "('seven', 'text.png', 1, 1, NULL), (5, 'again.png', 2, 2, X'" +
                    large +
                    "'), "
                    "(-3, 'negative.png', 1, 1, NULL), (6, 'six.png', 1, 1, NULL), "
                    "(4294967296, 'zero.png', 1, 1, NULL)");
        crafted.run("INSERT INTO annotations(image_id, class_id, geom_type, geometry) VALUES "
                    "(5, 1, 'POINT', 'POINT (1 1)'), (4294967301, 4294967297, 'POINT', 'POINT (2 2)'), "
                    "(6, 4294967297, 'POINT', 'POINT (3 3)'), (6, 1, 'POINT', 'POINT (4 4)')");
        crafted.run("INSERT INTO videos VALUES(2, 'a.mp4', 1, 1, 10, 25, NULL), (2, 'b.mp4', 1, 1, 10, 25, NULL), "
                    "(4294967298, 'c.mp4', 1, 1, 10, 25, NULL)");
        crafted.run("INSERT INTO video_annotations(video_id, frame_index, class_id, geom_type, geometry) VALUES "
                    "(4294967298, 3, 1, 'POINT', 'POINT (1 1)'), (2, 4294967301, 1, 'POINT', 'POINT (1 1)'), "
                    "(2, 4, 4294967297, 'POINT', 'POINT (1 1)')");
    }
    const QmTest::BoundedResult result = QmTest::runBounded(readBounds, [&]() -> QString {
        Dataset dataset;
        if (!QpkgHandler().importDataset(path, dataset, {}))
            return QStringLiteral("not read");
        if (const QString ids = checkIds(dataset); !ids.isEmpty())
            return ids;
        QHash<QString, const ImageEntry *> byName;
        for (const ImageEntry &entry : dataset.images)
            byName.insert(entry.filePath, &entry);
        if (byName.size() != 8)
            return QStringLiteral("%1 images").arg(byName.size());
        auto classesOf = [&](const char *name) {
            QStringList classes;
            for (const Annotation &a : byName.value(name)->labels)
                classes.append(a.className);
            return classes;
        };
        if (byName.value("five.png")->id != 5)
            return QStringLiteral("a free id was not kept");
        if (classesOf("five.png") != QStringList{"one"} || !classesOf("again.png").isEmpty())
            return QStringLiteral("the annotations of id 5 went astray");
        if (classesOf("huge.png") != QStringList{"big"})
            return QStringLiteral("the annotations of id 4294967301: %1").arg(classesOf("huge.png").join(','));
        if (classesOf("six.png") != (QStringList{"big", "one"}) || !classesOf("zero.png").isEmpty())
            return QStringLiteral("class ids were truncated: %1").arg(classesOf("six.png").join(','));
        if (dataset.videos.size() != 3)
            return QStringLiteral("%1 videos").arg(dataset.videos.size());
        QHash<QString, const VideoEntry *> videos;
        for (const VideoEntry &entry : dataset.videos)
            videos.insert(entry.filePath, &entry);
        if (videos.value("a.mp4")->id != 2 || videos.value("a.mp4")->frameLabels.keys() != QList<int>{4} ||
            !videos.value("b.mp4")->frameLabels.isEmpty() || videos.value("c.mp4")->frameLabels.keys() != QList<int>{3})
            return QStringLiteral("video annotations went astray");
        // An image's bytes come from its own row, whatever id it got.
        return expect(byName.value("five.png")->loadPixels().size() == QSize(1, 1) &&
                          byName.value("again.png")->loadPixels().size() == QSize(2, 2),
                      QStringLiteral("the bytes of another row"));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// Values beyond single precision never become infinity or 0: a confidence or
// frame rate takes its default, a shape with such a coordinate is dropped.
// Sizes that are no counts read as unknown; WKT numbers keep their exponent.
void TestQpkgHostile::numbersAreFinite()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("numbers.qmpkg");
    {
        Crafted crafted(path);
        crafted.standardTables();
        crafted.run("INSERT INTO classes VALUES(1, 'c', '#123456')");
        crafted.run("INSERT INTO images VALUES(1, 'a.png', 'wide', 4294967297, NULL)");
        crafted.run("INSERT INTO annotations(image_id, class_id, geom_type, geometry, confidence) VALUES "
                    "(1, 1, 'POINT', 'POINT (1.5e2 2E-1)', 1e39), "
                    "(1, 1, 'POINT', 'POINT (1e39 1)', 0.5), "
                    "(1, 1, 'POLYGON', 'POLYGON ((0 0, 1e999 0, 1 1, 0 0))', 0.5), "
                    "(1, 1, 'BBOX', 'POLYGON ((-3e38 0, 3e38 0, 3e38 1, -3e38 1, -3e38 0))', 0.5), "
                    "(1, 1, 'POINT', 'POINT (7 8)', -1e39), "
                    "(1, 1, 'POINT', 'POINT (9 9)', NULL)");
        crafted.run("INSERT INTO videos VALUES(1, 'v.mp4', 1, 1, -5, 1e39, NULL), (2, 'w.mp4', 1, 1, 5, 'x', NULL)");
    }
    const QmTest::BoundedResult result = QmTest::runBounded(readBounds, [&]() -> QString {
        Dataset dataset;
        if (!QpkgHandler().importDataset(path, dataset, {}) || dataset.images.size() != 1)
            return QStringLiteral("not read");
        const ImageEntry &image = dataset.images.first();
        if (image.width != 0 || image.height != 0)
            return QStringLiteral("size %1 x %2").arg(image.width).arg(image.height);
        const QList<Annotation> &labels = image.labels;
        if (labels.size() != 3)
            return QStringLiteral("%1 annotations kept").arg(labels.size());
        if (labels.at(0).points != QList<QPointF>{QPointF(150, 0.2)} || labels.at(0).confidence != 1.0f)
            return QStringLiteral("exponent or confidence lost");
        if (labels.at(1).points != QList<QPointF>{QPointF(7, 8)} || labels.at(1).confidence != 1.0f)
            return QStringLiteral("a negative huge confidence was kept");
        if (labels.at(2).confidence != 1.0f)
            return QStringLiteral("a missing confidence is not 1");
        const VideoEntry &v = dataset.videos.at(0);
        const VideoEntry &w = dataset.videos.at(1);
        return expect(v.fps == 25.0f && v.frameCount == 0 && w.fps == 25.0f && w.frameCount == 5,
                      QStringLiteral("video numbers %1 %2 %3").arg(v.fps).arg(v.frameCount).arg(w.fps));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// A dataset may name any file as an image: only bytes that an image reader
// recognises go into a package. Special files are never read.
void TestQpkgHostile::onlyPicturesAreEmbedded()
{
    QTemporaryDir dir;
    const QByteArray png = pngBytes(3, 2);
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    };
    write("picture.png", png);
    write("secret.png", "user:x:1000:1000::/home/user:/bin/sh\n");
    write("renamed.jpg", png); // a picture, whatever its name says
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("pipe.png")).constData(), 0600) == 0);
    QVERIFY(QFile::link("/dev/zero", dir.filePath("zero.png")));

    Dataset dataset;
    for (const QString &name : {dir.filePath("picture.png"), QStringLiteral("/etc/passwd"),
                                QStringLiteral("../../secret.png"), dir.filePath("secret.png"),
                                dir.filePath("pipe.png"), dir.filePath("zero.png"), dir.filePath("renamed.jpg")}) {
        ImageEntry entry;
        entry.filePath = name;
        dataset.addImage(entry);
    }
    ImageEntry encoded; // bytes held in memory (an earlier import) that are no picture
    encoded.filePath = "held.png";
    encoded.imageData = "#!/bin/sh\necho not a picture\n";
    dataset.addImage(encoded);
    const QString path = dir.filePath("out/p.qmpkg");
    QDir().mkpath(dir.filePath("out"));
    const QmTest::BoundedResult result = QmTest::runBounded(readBounds, [&]() -> QString {
        if (!QpkgHandler::writePackage(path, dataset, {}, {}))
            return QStringLiteral("not written");
        Dataset read;
        if (!QpkgHandler().importDataset(path, read, {}) || read.images.size() != 8)
            return QStringLiteral("not read back");
        QStringList stored;
        for (const ImageEntry &entry : read.images) {
            if (entry.storedBytes)
                stored.append(entry.filePath + "=" + QString::number(entry.encodedBytes().size()));
        }
        return expect(stored == QStringList{QStringLiteral("picture.png=%1").arg(png.size()),
                                            QStringLiteral("renamed.jpg=%1").arg(png.size())},
                      QStringLiteral("stored: ") + stored.join(", "));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// Read into a dataset that holds entries already, a package's entries keep
// their ids only where the dataset has none of them.
void TestQpkgHostile::mergedIdsStayUnique()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmpkg");
    Dataset written;
    for (int i = 0; i < 3; ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("p%1.png").arg(i);
        entry.imageData = pngBytes(2, 2);
        written.addImage(entry);
    }
    VideoEntry video;
    video.filePath = "v.mp4";
    video.bytes = "video";
    written.addVideo(video);
    QVERIFY(QpkgHandler::writePackage(path, written, {}, {}));

    Dataset target;
    ImageEntry own;
    own.id = 1;
    own.filePath = "own.png";
    target.addImage(own);
    target.addVideo(video);
    QVERIFY(QpkgHandler().importDataset(path, target, {}));
    QCOMPARE(target.images.size(), 4);
    QCOMPARE(checkIds(target), QString());
    QCOMPARE(target.images.at(1).id, 0);  // free: kept
    QVERIFY(target.images.at(2).id != 1); // taken: fresh
    QCOMPARE(target.images.at(2).loadPixels().size(), QSize(2, 2));
    QCOMPARE(target.videos.size(), 2);
}

// A picture that another program writes while the package is written (cut
// short and written again, as a copy over it does) is stored as one whole
// state of its file or not at all: never bytes of two moments, reported as
// written. A write that gives up keeps the package already there.
void TestQpkgHostile::picturesWrittenMeanwhileAreNotStoredTorn()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("busy.png");
    // A picture by its head, large enough that each read of it takes a while.
    const QByteArray content = pngBytes(3, 2) + QByteArray(48 * 1024 * 1024, 'x');
    const auto readAll = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    ImageEntry entry;
    entry.filePath = picture;
    Dataset dataset;
    dataset.addImage(entry);
    const QString path = dir.filePath("p.qmpkg");
    QVERIFY(QpkgHandler::writePackage(path, dataset, {}, {}));
    const QByteArray before = readAll(path);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const int fd = ::open(QFile::encodeName(picture).constData(), O_WRONLY);
        const qint64 half = content.size() / 2;
        while (fd >= 0 && !stop.load()) {
            if (::ftruncate(fd, off_t(half)) != 0 ||
                ::pwrite(fd, content.constData() + half, size_t(content.size() - half), off_t(half)) < 0)
                break;
        }
        if (fd >= 0)
            ::close(fd);
    });
    const bool written = QpkgHandler::writePackage(path, dataset, {}, {});
    stop.store(true);
    writer.join();

    if (!written) {
        QVERIFY(readAll(path) == before);
        return;
    }
    Dataset read;
    QVERIFY(QpkgHandler().importDataset(path, read, {}));
    QCOMPARE(read.images.size(), 1);
    const QByteArray stored = read.images.first().encodedBytes();
    QVERIFY2(stored == content, qPrintable(QStringLiteral("%1 of %2 bytes stored").arg(stored.size()).arg(content.size())));
}

QM_TEST_MAIN(TestQpkgHostile)
#include "tst_qpkghostile.moc"
