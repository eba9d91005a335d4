#include "BoundedRun.h"
#include "QmTest.h"

#include "model/ProjectFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Quillmark;

// Project files as people do meet them: a pipe or a device in place of the
// file, and numbers that single precision cannot hold. Each read runs in a
// child process under a time and memory bound.
class TestProjectFileHostile : public QObject {
    Q_OBJECT
private slots:
    void specialFilesAreRefused_data();
    void specialFilesAreRefused();
    void numbersAreFinite();
    void idsAreUniqueAndExact();
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

QM_TEST_MAIN(TestProjectFileHostile)
#include "tst_projectfilehostile.moc"
