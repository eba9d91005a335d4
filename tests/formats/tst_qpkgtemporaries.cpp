#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/QpkgHandler.h"
#include "formats/QpkgTemporaryFile.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

// The package's temporary files, and the media it refuses to store: a write
// killed on the way leaves its temporary beside the target, and the next
// write clears it away, touching nothing that is not provably such a
// leftover; a medium that is no picture or video is named, not stored.
class TestQpkgTemporaries : public QObject {
    Q_OBJECT
private slots:
    void temporaryNames_data();
    void temporaryNames();
    void killedWritesAreClearedByTheNext();
    void onlyProvableLeftoversGo();
    void refusedMediaAreNamed();
};

namespace {

const QByteArray kSqliteHead("SQLite format 3\0", 16);

// Sets the file's modification time `seconds` into the past.
bool age(const QString &path, int seconds)
{
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ::time(nullptr) - seconds;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

QStringList temporariesBeside(const QString &target)
{
    const QFileInfo info(target);
    QStringList found;
    for (const QString &name : info.absoluteDir().entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (QpkgTemporaryFile::isTemporaryName(name, info.fileName()))
            found.append(name);
    }
    return found;
}

Dataset pictures(const QString &folder, int count)
{
    Dataset dataset;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/%2.png").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
        writeImage(path, 61, 37, QColor::fromHsv(i % 360, 200, 200));
        dataset.addImage(image(path, 61, 37, {box("cat", 1, 1, 5, 5)}));
    }
    return dataset;
}

// The byte counts of a table's "bytes" column in id order, -1 for none.
QList<qint64> storedLengths(const QString &package, const char *table)
{
    QList<qint64> lengths;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "lengths");
        db.setDatabaseName(package);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT length(bytes) FROM %1 ORDER BY id").arg(QLatin1String(table)));
            while (query.next())
                lengths.append(query.value(0).isNull() ? -1 : query.value(0).toLongLong());
        }
    }
    QSqlDatabase::removeDatabase("lengths");
    return lengths;
}

} // namespace

void TestQpkgTemporaries::temporaryNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("temporary");
    QTest::newRow("ours") << "p.qmpkg.0123456789ab.tmp" << true;
    QTest::newRow("upper-case digits") << "p.qmpkg.0123456789AB.tmp" << false;
    QTest::newRow("short id") << "p.qmpkg.0123456789a.tmp" << false;
    QTest::newRow("other target") << "q.qmpkg.0123456789ab.tmp" << false;
    QTest::newRow("longer target") << "xp.qmpkg.0123456789ab.tmp" << false;
    QTest::newRow("side file") << "p.qmpkg.0123456789ab.tmp-wal" << false;
    QTest::newRow("no separator") << "p.qmpkg0123456789abc.tmp" << false;
}

void TestQpkgTemporaries::temporaryNames()
{
    QFETCH(QString, name);
    QFETCH(bool, temporary);
    QCOMPARE(QpkgTemporaryFile::isTemporaryName(name, "p.qmpkg"), temporary);
}

// Twelve writes of one target at once, all killed on the way, leave their
// temporaries, each of a good part of the package's size (while they lived,
// each kept the others' files: their locks said they were being written).
// The next write removes every one of them at once, however fresh, and the
// package it writes reads back.
void TestQpkgTemporaries::killedWritesAreClearedByTheNext()
{
    QTemporaryDir dir;
    const Dataset dataset = pictures(dir.filePath("media"), 60);
    const QString target = dir.filePath("p.qmpkg");
    constexpr int kills = 12;
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    QList<pid_t> writers;
    for (int i = 0; i < kills; ++i) {
        fflush(stdout);
        fflush(stderr);
        const pid_t child = ::fork();
        if (child == 0) {
            QpkgHandler::writePackage(target, dataset, [&](int current, int) {
                if (current != 30)
                    return;
                [[maybe_unused]] const ssize_t n = ::write(ready[1], "x", 1);
                for (;;)
                    ::pause();
            }, QString());
            ::_exit(0);
        }
        QVERIFY(child > 0);
        writers.append(child);
    }
    ::close(ready[1]);
    for (int i = 0; i < kills; ++i) {
        char byte;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    }
    ::close(ready[0]);
    for (pid_t writer : writers) {
        QCOMPARE(::kill(writer, SIGKILL), 0);
        int status = 0;
        QCOMPARE(::waitpid(writer, &status, 0), writer);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    QVERIFY(!QFileInfo::exists(target));
    const QStringList left = temporariesBeside(target);
    QCOMPARE(left.size(), kills);
    for (const QString &name : left)
        QVERIFY(QFileInfo(dir.filePath(name)).size() > 0);

    QVERIFY(QpkgHandler::writePackage(target, dataset, {}, QString()));
    QCOMPARE(temporariesBeside(target), QStringList());
    QCOMPARE(filesBelow(dir.path()).filter("-wal").size() + filesBelow(dir.path()).filter("-shm").size(), 0);
    Dataset back;
    QVERIFY(QpkgHandler().importDataset(target, back, {}));
    QCOMPARE(back.images.size(), 60);
}

// Only an unlocked file of the exact temporary name that is empty or an
// SQLite file is a leftover, new or old; its side files go with it. Links,
// pipes and files of other names or content are never touched.
void TestQpkgTemporaries::onlyProvableLeftoversGo()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("p.qmpkg");
    struct Case {
        QString name;
        QByteArray bytes;
        bool removed;
        bool old;
    };
    const QList<Case> cases = {
        {"p.qmpkg.0123456789ab.tmp", kSqliteHead + QByteArray(4080, 'x'), true, true},
        {"p.qmpkg.aaaaaaaaaaaa.tmp", QByteArray(), true, false},
        {"p.qmpkg.dddddddddddd.tmp", kSqliteHead, true, false},
        {"p.qmpkg.bbbbbbbbbbbb.tmp", "someone's notes", false, true},
        {"p.qmpkg.0123456789AB.tmp", kSqliteHead, false, true},
        {"q.qmpkg.0123456789ab.tmp", kSqliteHead, false, true},
        {"p.qmpkg.0123456789ab.tmp.bak", kSqliteHead, false, true},
    };
    for (const Case &c : cases) {
        QVERIFY(writeFile(dir.filePath(c.name), c.bytes));
        QVERIFY(!c.old || age(dir.filePath(c.name), 3600));
    }
    // A pipe of the temporary name is nobody's package, and opening it to
    // look must not wait for a writer.
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("p.qmpkg.eeeeeeeeeeee.tmp")).constData(), 0600), 0);
    QVERIFY(writeFile(dir.filePath("p.qmpkg.0123456789ab.tmp-wal"), "log"));
    // A link of the temporary name is no file of ours, whatever it points to.
    QVERIFY(writeFile(dir.filePath("elsewhere.db"), kSqliteHead));
    QVERIFY(QFile::link(dir.filePath("elsewhere.db"), dir.filePath("p.qmpkg.cccccccccccc.tmp")));
    QVERIFY(age(dir.filePath("p.qmpkg.cccccccccccc.tmp"), 3600));
    // A write at work: its lock keeps its file, however old it looks.
    QpkgTemporaryFile live(target);
    QVERIFY(live.isValid());
    QVERIFY(writeFile(live.path(), kSqliteHead));
    QVERIFY(age(live.path(), 3600));

    QCOMPARE(QpkgTemporaryFile::removeStale(target), 3);
    for (const Case &c : cases)
        QVERIFY2(QFileInfo::exists(dir.filePath(c.name)) != c.removed, qPrintable(c.name));
    QVERIFY(QFileInfo(dir.filePath("p.qmpkg.eeeeeeeeeeee.tmp")).exists());
    QVERIFY(!QFileInfo::exists(dir.filePath("p.qmpkg.0123456789ab.tmp-wal")));
    QVERIFY(QFileInfo(dir.filePath("p.qmpkg.cccccccccccc.tmp")).isSymLink());
    QVERIFY(QFileInfo::exists(dir.filePath("elsewhere.db")));
    QVERIFY(QFileInfo::exists(live.path()));
}

// A project may name any file as an image or a video: the package stores the
// pictures and videos and names the others, stored without their bytes.
void TestQpkgTemporaries::refusedMediaAreNamed()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("good.png");
    QVERIFY(writeImage(picture, 9, 7));
    QVERIFY(writeFile(dir.filePath("notes.mp4"), "just some words, no video\n"));
    QVERIFY(writeFile(dir.filePath("clip.mkv"), QByteArray("\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01", 9) +
                                                    QByteArray(600, '\x01')));
    Dataset dataset;
    dataset.addImage(image(picture, 9, 7));
    dataset.addImage(image("/etc/passwd", 9, 7));
    ImageEntry held = image("held.png", 9, 7);
    held.imageData = "not a picture";
    dataset.addImage(held);
    VideoEntry textVideo;
    textVideo.filePath = dir.filePath("notes.mp4");
    dataset.addVideo(textVideo);
    VideoEntry video;
    video.filePath = dir.filePath("clip.mkv");
    dataset.addVideo(video);

    const QString target = dir.filePath("p.qmpkg");
    QStringList refused;
    QVERIFY(QpkgHandler::writePackage(target, dataset, {}, QString(), &refused));
    QCOMPARE(refused, (QStringList{"/etc/passwd", "held.png", dir.filePath("notes.mp4")}));
    QCOMPARE(storedLengths(target, "images"), (QList<qint64>{readFile(picture).size(), -1, -1}));
    QCOMPARE(storedLengths(target, "videos"), (QList<qint64>{-1, readFile(dir.filePath("clip.mkv")).size()}));
}

QM_TEST_MAIN(TestQpkgTemporaries)
#include "tst_qpkgtemporaries.moc"
