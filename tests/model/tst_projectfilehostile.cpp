#include "BoundedRun.h"
#include "QmTest.h"

#include "model/JsonText.h"
#include "model/MappedFile.h"
#include "model/ProjectFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quillmark;

// Project files as people do meet them: a pipe or a device in place of the
// file, numbers that single precision cannot hold, and a file that another
// program cuts short or rewrites while it loads. Each read runs in a child
// process under a time and memory bound.
class TestProjectFileHostile : public QObject {
    Q_OBJECT
private slots:
    void specialFilesAreRefused_data();
    void specialFilesAreRefused();
    void numbersAreFinite();
    void idsAreUniqueAndExact();
    void mappedFileCutShort();
    void fileCutShortWhileLoading_data();
    void fileCutShortWhileLoading();
};

namespace {

QString writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A project of one image whose annotations are the given JSON objects.
QByteArray projectWith(const QByteArray &labels, const QByteArray &videos = "[]")
{
    return R"({"version": "1.0", "name": "p", "projectType": "object_detection", "dataset": {
        "classColors": {}, "videos": )" + videos + R"(, "images": [
        {"id": 0, "filePath": "/a.png", "width": 10, "height": 10, "labels": [)" + labels + "]}]}}";
}

// A project as the program writes it: `images` images of 10 annotations each.
Project largeProject(int images)
{
    Project project;
    project.name = QStringLiteral("large");
    project.projectType = QStringLiteral("segmentation");
    for (int i = 0; i < images; ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("/data/images/img_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        entry.width = 1920;
        entry.height = 1080;
        for (int a = 0; a < 10; ++a) {
            Annotation annotation;
            annotation.className = QStringLiteral("class_%1").arg(a % 4);
            annotation.kind = Polygon;
            annotation.bbox = QRectF(a * 10.5, i % 100, 40.25, 30.75);
            for (int p = 0; p < 12; ++p)
                annotation.points.append(QPointF(a * 10.5 + p * 3.125, (i % 100) + p * 2.5));
            entry.labels.append(annotation);
        }
        project.dataset.addImage(entry);
    }
    return project;
}

// Waits for the first read(2) of the file after `watch` was set up, up to 10 s.
void waitForFirstRead(int watch)
{
    pollfd ready{watch, POLLIN, 0};
    if (::poll(&ready, 1, 10000) > 0) {
        char events[4096];
        [[maybe_unused]] const ssize_t n = ::read(watch, events, sizeof events);
    }
}

} // namespace

void TestProjectFileHostile::specialFilesAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("pipe") << "fifo";
    QTest::newRow("link to a pipe") << "link to fifo";
    QTest::newRow("link to /dev/zero") << "link to zero";
    QTest::newRow("folder") << "folder";
}

// A pipe would block the open for good; /dev/zero would be read until memory
// runs out. Both are refused at once, and the project stays as it was.
void TestProjectFileHostile::specialFilesAreRefused()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmk");
    const QString fifo = dir.filePath("pipe");
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "link to fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(fifo, path));
    } else if (kind == "link to zero") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else {
        QVERIFY(QDir(dir.path()).mkdir("p.qmk"));
    }
    const QmTest::BoundedResult result = QmTest::runBounded({5000, 64LL << 20}, [&]() -> QString {
        Project project;
        project.name = "before";
        if (loadProjectFile(project, path))
            return QStringLiteral("read as a project");
        return project.name == "before" ? QString() : QStringLiteral("the project changed");
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// A confidence or frame rate beyond single precision takes its default; a shape
// with a coordinate or size beyond it is dropped; neither is ever stored as
// infinity or 0.
void TestProjectFileHostile::numbersAreFinite()
{
    QTemporaryDir dir;
    const QByteArray labels = R"(
        {"type": "Point", "className": "a", "confidence": 1e39, "bbox": {"x": 1, "y": 2, "w": 1, "h": 1},
         "polygon": [[1, 2]]},
        {"type": "Point", "className": "b", "confidence": -1e39, "bbox": {"x": 3, "y": 4, "w": 1, "h": 1},
         "polygon": [[3, 4]]},
        {"type": "BoundingBox", "className": "c", "bbox": {"x": 1e39, "y": 0, "w": 1, "h": 1}},
        {"type": "BoundingBox", "className": "d", "bbox": {"x": -3e38, "y": 0, "w": 6e38, "h": 1}},
        {"type": "Polygon", "className": "e", "bbox": {"x": 0, "y": 0, "w": 1, "h": 1},
         "polygon": [[0, 0], [3e39, 1], [1, 1]]},
        {"type": "BoundingBox", "className": "f", "confidence": 0.25, "bbox": {"x": 1e-50, "y": 0, "w": 5, "h": 5}})";
    const QByteArray videos = R"([{"id": 0, "filePath": "/v.mp4", "fps": 1e39, "frameCount": 3, "width": 2,
        "height": 2, "frameLabels": {}}])";
    const QString path = writeText(dir.filePath("p.qmk"), projectWith(labels, videos));
    const QmTest::BoundedResult result = QmTest::runBounded({5000, 64LL << 20}, [&]() -> QString {
        Project project;
        if (!loadProjectFile(project, path) || project.dataset.images.size() != 1)
            return QStringLiteral("not read");
        QStringList kept;
        for (const Annotation &a : project.dataset.images.first().labels)
            kept.append(QStringLiteral("%1:%2").arg(a.className).arg(a.confidence));
        if (kept != QStringList{"a:1", "b:1", "f:0.25"})
            return QStringLiteral("kept ") + kept.join(", ");
        const QRectF box = project.dataset.images.first().labels.last().bbox;
        if (box != QRectF(0, 0, 5, 5))
            return QStringLiteral("a tiny number is no 0");
        return project.dataset.videos.value(0).fps == 25.0f ? QString() : QStringLiteral("fps not 25");
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

// The project loader's rule for ids, shared with the package reader: an id is
// kept when it is a whole number from 0 to 2^30 that no entry read before
// holds; any other takes a fresh one.
void TestProjectFileHostile::idsAreUniqueAndExact()
{
    QTemporaryDir dir;
    const QByteArray images = R"({"version": "1.0", "dataset": {"images": [
        {"id": 4, "filePath": "/four.png"}, {"id": 4, "filePath": "/again.png"},
        {"id": 4294967301, "filePath": "/huge.png"}, {"id": -2, "filePath": "/negative.png"},
        {"id": 2.5, "filePath": "/fraction.png"}, {"id": "7", "filePath": "/text.png"},
        {"id": 5, "filePath": "/five.png"}]}})";
    const QString path = writeText(dir.filePath("p.qmk"), images);
    Project project;
    QVERIFY(loadProjectFile(project, path));
    const QList<ImageEntry> &entries = project.dataset.images;
    QCOMPARE(entries.size(), 7);
    QSet<int> ids;
    for (const ImageEntry &entry : entries) {
        QVERIFY2(entry.id >= 0 && entry.id < project.dataset.nextImageId && !ids.contains(entry.id),
                 qPrintable(entry.filePath));
        ids.insert(entry.id);
    }
    QCOMPARE(entries.at(0).id, 4);
    QVERIFY(entries.at(6).id != 4);
}

// A mapped file cut short reads zeros past its new end instead of ending the
// program with SIGBUS, and says it changed; so does a large JSON text of a
// dataset read where it lies.
void TestProjectFileHostile::mappedFileCutShort()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("cut.bin");
    const QString json = dir.filePath("cut.json");
    const QmTest::BoundedResult result = QmTest::runBounded({20000, 64LL << 20}, [&]() -> QString {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite) || file.write(QByteArray(3 << 20, 'x')) != 3 << 20 || !file.flush())
            return QStringLiteral("cannot write");
        const MappedFile mapped(file);
        if (!mapped.isMapped() || mapped.changed() || mapped.data()[(3 << 20) - 1] != 'x')
            return QStringLiteral("not mapped as written");
        if (::ftruncate(file.handle(), 5000) != 0)
            return QStringLiteral("cannot cut");
        qint64 zeros = 0;
        for (qint64 i = 0; i < mapped.size(); i += 512)
            zeros += mapped.data()[i] == 0 ? 1 : 0;
        if (zeros != (mapped.size() - 5120) / 512 || !mapped.changed())
            return QStringLiteral("%1 zeros read").arg(zeros);

        QFile large(json);
        // Mapped: 64 MiB and more, with room for the parser's padding after
        // its end in the last page.
        if (!large.open(QIODevice::WriteOnly) || large.write("[1, 2, 3") != 8 || !large.resize((80LL << 20) + 100))
            return QStringLiteral("cannot write the JSON text");
        large.close();
        JsonText text;
        if (!text.load(json, 100LL << 20, JsonText::Mapping::IfLarge) || !text.isMapped() || text.changedSinceLoad())
            return QStringLiteral("the JSON text is not mapped");
        if (!large.resize(1 << 20))
            return QStringLiteral("cannot cut the JSON text");
        return text.data()[70LL << 20] == 0 && text.changedSinceLoad() ? QString()
                                                                       : QStringLiteral("the JSON text misread");
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

void TestProjectFileHostile::fileCutShortWhileLoading_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("cut to nothing") << "empty";
    QTest::newRow("cut in half") << "half";
    QTest::newRow("rewritten with another project") << "rewritten";
}

// Another program cuts a large project file short, or writes another project
// into it (as `cp new.qmk p.qmk` does: the file is emptied, then filled), once
// the load has begun reading it. The load gives an error or the whole project
// as it was, never a signal and never a project pieced together from the two.
void TestProjectFileHostile::fileCutShortWhileLoading()
{
    QFETCH(QString, change);
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmk");
    constexpr int imageCount = 2500;
    QVERIFY(saveProjectFile(largeProject(imageCount), path));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray whole = saved.readAll();
    saved.close();
    QVERIFY(whole.size() > 20 << 20);
    const QByteArray other = projectToJsonBytes(largeProject(300));

    const QmTest::BoundedResult result = QmTest::runBounded({120000, 768LL << 20}, [&]() -> QString {
        for (int round = 0; round < 4; ++round) {
            writeText(path, whole);
            const int watch = ::inotify_init1(IN_CLOEXEC);
            if (watch < 0 || ::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_ACCESS) < 0)
                return QStringLiteral("no watch");
            std::thread cutter([&] {
                waitForFirstRead(watch);
                if (change == "rewritten") {
                    writeText(path, other);
                } else if (::truncate(QFile::encodeName(path).constData(),
                                      change == "half" ? off_t(whole.size() / 2) : off_t(0)) != 0) {
                    qFatal("cannot cut the file");
                }
            });
            Project project;
            QString problem;
            const bool ok = readProjectFile(project, path, &problem);
            cutter.join();
            ::close(watch);
            if (ok && project.dataset.images.size() != imageCount)
                return QStringLiteral("a project of %1 images was read").arg(project.dataset.images.size());
            // The file was whole when the load began: a failure is the change.
            if (!ok && problem != QStringLiteral("The project file changed while it was read."))
                return QStringLiteral("the load failed without saying why: ") + problem;
        }
        return QString();
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

QM_TEST_MAIN(TestProjectFileHostile)
#include "tst_projectfilehostile.moc"
