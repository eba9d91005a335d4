#include "BoundedRun.h"
#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/ClassListFile.h"
#include "formats/FormatRegistry.h"
#include "formats/UnreadableFileNames.h"
#include "formats/YoloLabelLines.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

// Files of the kinds people do meet, handed to every reader and detection
// rule, each run under a watchdog with a time, memory and read bound: special
// files where a dataset file is expected, large files that only their first
// bytes tell apart, deep XML, long line lists, numbers beyond single
// precision, and file names that are not UTF-8.
class TestHostileFiles : public QObject {
    Q_OBJECT
private slots:
    void specialFiles_data();
    void specialFiles();
    void specialFileAmongRealOnes();
    void detectionReadsAPrefix_data();
    void detectionReadsAPrefix();
    void deepXml_data();
    void deepXml();
    void lineLists_data();
    void lineLists();
    void yoloNumbers_data();
    void yoloNumbers();
    void cocoIdsAndBoxes();
    void jsonShapesBeyondFloat_data();
    void jsonShapesBeyondFloat();
    void unnameableFiles();
};

namespace {

const QString fixtures = QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/");

// Every name a handler reads or detects by: class lists, yaml files, the
// one-file datasets, label and annotation files in the usual folders.
const QStringList &datasetFileNames()
{
    static const QStringList names = {
        "data.yaml",
        "other.yaml",
        "classes.txt",
        "labels/classes.txt",
        "obj.names",
        "_classes.txt",
        "_classes.csv",
        "_darknet.labels",
        "_annotations.txt",
        "_annotations.csv",
        "_tokenization.txt",
        "annotations.jsonl",
        "_annotations.jsonl",
        "_annotations.train.jsonl",
        "_annotations.coco.json",
        "annotations.xml",
        "annotations.json",
        "a.json",
        "a.xml",
        "a.txt",
        "labels/a.txt",
        "labels/train/a.txt",
        "train/labels/a.txt",
        "Annotations/a.xml",
        "labelTxt/a.txt",
        "annotations/instances.json",
        "p.qmpkg",
        "p.qmk",
        "images/a.jpg",
    };
    return names;
}

enum class Special { Fifo, LinkToFifo, LinkToZero };

bool makeSpecial(const QString &path, Special kind, const QString &fifoStore)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    switch (kind) {
    case Special::Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    case Special::LinkToFifo: {
        static int count = 0;
        const QString fifo = fifoStore + QStringLiteral("/fifo%1").arg(++count);
        return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 && QFile::link(fifo, path);
    }
    case Special::LinkToZero:
        return QFile::link(QStringLiteral("/dev/zero"), path);
    }
    return false;
}

// A check run in the watchdog's child: a message when the value is wrong.
QString expect(bool condition, const QString &message)
{
    return condition ? QString() : message;
}

QString verifyBounded(const QmTest::BoundedResult &result, qint64 maxRead)
{
    if (!result.ok())
        return result.describe();
    if (result.bytesRead > maxRead)
        return QStringLiteral("read too much: ") + result.describe();
    return {};
}

} // namespace

void TestHostileFiles::specialFiles_data()
{
    QTest::addColumn<QString>("handlerName");
    QTest::addColumn<int>("kind");
    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        const QByteArray name = handler->name().toUtf8();
        QTest::newRow(name + " fifo") << handler->name() << int(Special::Fifo);
        QTest::newRow(name + " link to fifo") << handler->name() << int(Special::LinkToFifo);
        QTest::newRow(name + " link to /dev/zero") << handler->name() << int(Special::LinkToZero);
    }
}

// A pipe would block its reader until some program writes to it, and a
// device may never end: every detection rule and reader skips them at once,
// whether the folder or the file itself is handed to it.
void TestHostileFiles::specialFiles()
{
    QFETCH(QString, handlerName);
    QFETCH(int, kind);
    QTemporaryDir dir, store;
    for (const QString &name : datasetFileNames())
        QVERIFY2(makeSpecial(dir.filePath(name), Special(kind), store.path()), qPrintable(name));
    IFormatHandler *handler = FormatRegistry::instance().find(handlerName);
    QVERIFY(handler);
    const QString folder = dir.path();
    const QmTest::BoundedResult result = QmTest::runBounded({5000, 64LL << 20}, [&] {
        handler->canImport(folder);
        Dataset dataset;
        handler->importDataset(folder, dataset, {});
        for (const QString &name : datasetFileNames()) {
            handler->canImport(dir.filePath(name));
            Dataset fromFile;
            handler->importDataset(dir.filePath(name), fromFile, {});
        }
        return QString();
    });
    const QString failure = verifyBounded(result, 1 << 20);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

// A special file among a dataset's real files is skipped; the rest is read.
void TestHostileFiles::specialFileAmongRealOnes()
{
    QTemporaryDir dir, store;
    for (const QString &file : filesBelow(fixtures + "yolo-split"))
        QVERIFY(writeFile(dir.filePath(file), readFile(fixtures + "yolo-split/" + file)));
    Dataset expected;
    QVERIFY(FormatRegistry::instance().find("YOLO")->importDataset(dir.path(), expected, {}));
    QVERIFY(makeSpecial(dir.filePath("train/labels/zz_pipe.txt"), Special::Fifo, store.path()));
    QVERIFY(makeSpecial(dir.filePath("train/labels/zz_zero.txt"), Special::LinkToZero, store.path()));
    const QString folder = dir.path();
    const int expectedImages = int(expected.images.size());
    const QmTest::BoundedResult result = QmTest::runBounded({5000, 64LL << 20}, [&] {
        Dataset dataset;
        if (!FormatRegistry::instance().find("YOLO")->importDataset(folder, dataset, {}))
            return QStringLiteral("the import failed");
        // The special files count as label files without labels at most.
        qsizetype labelled = 0;
        for (const ImageEntry &entry : dataset.images)
            labelled += entry.isLabelled() ? 1 : 0;
        return expect(dataset.images.size() >= expectedImages && labelled > 0,
                      QStringLiteral("%1 images read").arg(dataset.images.size()));
    });
    const QString failure = verifyBounded(result, 1 << 20);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestHostileFiles::detectionReadsAPrefix_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("head");
    QTest::newRow("COCO") << "big.json" << QByteArray("{\"info\": {}, \"images\": [");
    QTest::newRow("COCO release") << "annotations/instances_train.json"
                                  << QByteArray("{\"licenses\": [], \"images\": [");
    QTest::newRow("LabelMe") << "big.json" << QByteArray("{\"version\": \"5.0\", \"flags\": {}, ");
    QTest::newRow("LabelMe shapes") << "big.json" << QByteArray("{\"version\": \"5.0\", \"shapes\": [");
    QTest::newRow("CreateML") << "big.json" << QByteArray("[");
    QTest::newRow("CVAT") << "big.xml" << QByteArray("<annotations><version>1.1</version><meta>");
    QTest::newRow("Pascal VOC") << "big.xml" << QByteArray("<annotation><folder>");
    QTest::newRow("data.yaml") << "data.yaml" << QByteArray("names: [a, b]\n");
    QTest::newRow("other yaml") << "other.yaml" << QByteArray("names: [a, b]\n");
    QTest::newRow("Florence-2") << "annotations.jsonl" << QByteArray("{\"image\": ");
    QTest::newRow("PaliGemma") << "_annotations.jsonl" << QByteArray("{\"image\": ");
    QTest::newRow("label file") << "labels/a.txt" << QByteArray("0 ");
    QTest::newRow("loose label file") << "a.txt" << QByteArray("0 ");
    QTest::newRow("CSV") << "_annotations.csv" << QByteArray("filename,width,height,class,xmin");
    QTest::newRow("package") << "p.qmpkg" << QByteArray("SQLite format 3");
}

// Detection looks at the first few MiB of a file at most: a 2 GiB file that
// starts like a dataset file (sparse here, so it costs no disk) is judged by
// every detection rule without being read to its end.
void TestHostileFiles::detectionReadsAPrefix()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, head);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    QVERIFY(writeFile(path, head));
    QFile file(path);
    QVERIFY(file.resize(2LL << 30));
    const QString folder = dir.path();
    const QmTest::BoundedResult result = QmTest::runBounded({30000, 64LL << 20}, [&]() -> QString {
        QStringList greedy;
        for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
            const qint64 before = QmTest::BoundedRunDetail::bytesReadSoFar();
            handler->canImport(folder);
            handler->canImport(path);
            const qint64 read = QmTest::BoundedRunDetail::bytesReadSoFar() - before;
            if (read > (16LL << 20))
                greedy.append(QStringLiteral("%1 read %2 MiB").arg(handler->name()).arg(read >> 20));
        }
        return greedy.join(QStringLiteral(", "));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

void TestHostileFiles::deepXml_data()
{
    QTest::addColumn<QString>("handlerName");
    QTest::addColumn<QByteArray>("open");
    QTest::addColumn<QByteArray>("close");
    QTest::newRow("Pascal VOC") << "Pascal VOC" << QByteArray("<annotation><object><name>a</name>")
                                << QByteArray("</object></annotation>");
    QTest::newRow("CVAT") << "CVAT XML" << QByteArray("<annotations><version>1.1</version><image name=\"a.jpg\">")
                          << QByteArray("</image></annotations>");
}

// 100,000 nested elements in about a megabyte: read as a stream or refused
// before any tree is built, in well under a second.
void TestHostileFiles::deepXml()
{
    QFETCH(QString, handlerName);
    QFETCH(QByteArray, open);
    QFETCH(QByteArray, close);
    QTemporaryDir dir;
    constexpr int depth = 100000;
    QVERIFY(writeFile(dir.filePath("deep.xml"),
                      open + QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth) + close));
    IFormatHandler *handler = FormatRegistry::instance().find(handlerName);
    const QString folder = dir.path();
    const QString file = dir.filePath("deep.xml");
    const QmTest::BoundedResult result = QmTest::runBounded({3000, 128LL << 20}, [&] {
        handler->canImport(folder);
        Dataset dataset;
        handler->importDataset(folder, dataset, {});
        handler->importDataset(file, dataset, {});
        return QString();
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

void TestHostileFiles::lineLists_data()
{
    QTest::addColumn<QString>("reader");
    QTest::newRow("classes.txt") << "classes";
    QTest::newRow("YOLO label file") << "yolo";
    QTest::newRow("Darknet label file") << "darknet";
    QTest::newRow("YOLOv3 Keras annotations") << "keras";
}

// 32 MiB of line ends cost the file's bytes and nothing per line: no list of
// lines, no list of empty names. A class list keeps at most 100,000 names.
void TestHostileFiles::lineLists()
{
    QFETCH(QString, reader);
    QTemporaryDir dir;
    const QByteArray blanks(32 << 20, '\n');
    QVERIFY(writeFile(dir.filePath("classes.txt"), blanks + "cat\n"));
    QVERIFY(writeFile(dir.filePath("_darknet.labels"), blanks + "cat\n"));
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), blanks + "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(writeFile(dir.filePath("a.txt"), blanks + "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(writeFile(dir.filePath("_annotations.txt"), blanks + "a.jpg 1,2,3,4,0\n"));
    QVERIFY(writeFile(dir.filePath("many.txt"), QByteArray("name\n").repeated(150000)));
    const QString folder = dir.path();
    // Reading 32 MiB takes about a second and a half on an idle machine; the
    // bound leaves a loaded one room, while work per line would take hours.
    const QmTest::BoundedResult result = QmTest::runBounded({30000, 96LL << 20}, [&]() -> QString {
        if (reader == "classes") {
            QStringList names;
            if (!readClassListFile(folder + "/classes.txt", &names))
                return QStringLiteral("not read");
            if (names.size() != kMaxClassNames || !names.first().isEmpty())
                return QStringLiteral("%1 names").arg(names.size());
            if (!readClassListFile(folder + "/many.txt", &names) || names.size() != kMaxClassNames)
                return QStringLiteral("%1 names from a long list").arg(names.size());
            return {};
        }
        if (reader == "yolo") {
            const QList<Annotation> labels = readYoloLabelFile(folder + "/labels/a.txt", {"cat"}, 100, 100);
            return expect(labels.size() == 1 && labels.first().className == "cat", QStringLiteral("wrong labels"));
        }
        const char *name = reader == "darknet" ? "Darknet" : "YOLOv3 Keras";
        Dataset dataset;
        FormatRegistry::instance().find(name)->importDataset(folder, dataset, {});
        return expect(!dataset.images.isEmpty(), QStringLiteral("nothing read"));
    });
    QVERIFY2(result.ok(), qPrintable(result.describe()));
}

void TestHostileFiles::yoloNumbers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("className"); // empty: the line is skipped
    QTest::addColumn<QRectF>("box");
    const QRectF centre(40, 40, 20, 20);
    QTest::newRow("plain") << QByteArray("1 0.5 0.5 0.2 0.2") << "dog" << centre;
    QTest::newRow("id beyond int") << QByteArray("4294967296 0.5 0.5 0.2 0.2") << "class_4294967296" << centre;
    QTest::newRow("id beyond 64 bits") << QByteArray("99999999999999999999 0.5 0.5 0.2 0.2") << "" << QRectF();
    QTest::newRow("fractional id") << QByteArray("1.5 0.5 0.5 0.2 0.2") << "" << QRectF();
    QTest::newRow("negative id") << QByteArray("-1 0.5 0.5 0.2 0.2") << "class_-1" << centre;
    QTest::newRow("id no number") << QByteArray("x 0.5 0.5 0.2 0.2") << "cat" << centre;
    QTest::newRow("centre beyond float") << QByteArray("1 1e39 0.5 0.2 0.2") << "" << QRectF();
    QTest::newRow("size beyond double") << QByteArray("1 0.5 0.5 1e999 0.2") << "" << QRectF();
    QTest::newRow("tiny size") << QByteArray("1 0.5 0.5 1e-999 0.2") << "dog" << QRectF(50, 40, 0, 20);
    QTest::newRow("coordinate no number") << QByteArray("1 0.5 0.5 0.2 x") << "dog" << QRectF(40, 50, 20, 0);
    QTest::newRow("polygon beyond float") << QByteArray("1 0.1 0.1 0.5 3e38 0.9 0.9") << "" << QRectF();
    QTest::newRow("keypoint beyond float") << QByteArray("1 0.5 0.5 0.2 0.2 1e39 0.5 2") << "" << QRectF();
}

// A number that single precision cannot hold drops its line; it is never read
// as 0 or infinity while the line is kept. A class id beyond the int range
// names its own class and never falls onto the first one.
void TestHostileFiles::yoloNumbers()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, className);
    QFETCH(QRectF, box);
    const QList<Annotation> labels = parseYoloLabelText(line + "\n", {"cat", "dog"}, 100, 100);
    if (className.isEmpty()) {
        QCOMPARE(labels.size(), 0);
        return;
    }
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().className, className);
    QCOMPARE(labels.first().bbox, box);
}

// COCO image ids that are no whole numbers in range are no ids: such an image
// gets an id of its own and no annotation, and never falls onto a real id 0.
// Boxes with a negative width or height count from the other corner; numbers
// beyond single precision drop their annotation.
void TestHostileFiles::cocoIdsAndBoxes()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("coco.json"), R"({
        "categories": [{"id": 1, "name": "cat"}, {"id": 2.5, "name": "half"}],
        "images": [{"id": 0, "file_name": "zero.jpg"}, {"id": 0.5, "file_name": "half.jpg"},
                   {"id": 1e30, "file_name": "huge.jpg"}, {"id": null, "file_name": "null.jpg"},
                   {"id": true, "file_name": "true.jpg"}, {"id": 4294967301, "file_name": "wide.jpg"}],
        "annotations": [
            {"id": 1, "image_id": 0, "category_id": 1, "bbox": [10, 10, -4, -6]},
            {"id": 2, "image_id": 0.5, "category_id": 1, "bbox": [1, 1, 1, 1]},
            {"id": 3, "image_id": 1e30, "category_id": 1, "bbox": [1, 1, 1, 1]},
            {"id": 4, "image_id": null, "category_id": 1, "bbox": [1, 1, 1, 1]},
            {"id": 5, "image_id": 4294967301, "category_id": 2.5, "bbox": [2, 2, 2, 2]},
            {"id": 6, "image_id": 0, "category_id": 1, "bbox": [1e39, 0, 1, 1]},
            {"id": 7, "image_id": 0, "category_id": 1, "bbox": [0, 0, 3e38, 1], "segmentation": [[0, 0, 3e38, 0, 0, 1]]},
            {"id": 8, "image_id": 0, "category_id": 1, "bbox": [-3e38, 0, 6e38, 1]}]})"));
    Dataset dataset;
    QVERIFY(FormatRegistry::instance().find("COCO")->importDataset(dir.filePath("coco.json"), dataset, {}));
    QCOMPARE(dataset.images.size(), 6);
    QSet<int> ids;
    QStringList labelled;
    for (const ImageEntry &entry : dataset.images) {
        QVERIFY(entry.id >= 0 && entry.id < dataset.nextImageId && !ids.contains(entry.id));
        ids.insert(entry.id);
        if (entry.isLabelled())
            labelled.append(QFileInfo(entry.filePath).fileName());
    }
    QCOMPARE(labelled, (QStringList{"zero.jpg", "wide.jpg"}));
    const ImageEntry &zero = dataset.images.first();
    QCOMPARE(zero.id, 0);
    QCOMPARE(zero.labels.size(), 2);   // the box, and the polygon that fits
    QCOMPARE(zero.labels.first().bbox, QRectF(6, 4, 4, 6));
    QCOMPARE(dataset.images.last().labels.first().className, QStringLiteral("half"));
}

// The JSON formats of one shape list per picture: a shape whose numbers single
// precision cannot hold is left out, the shapes beside it are kept.
void TestHostileFiles::jsonShapesBeyondFloat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("LabelMe") << "LabelMe"
                             << "a.json"
                             << QByteArray(R"({"imagePath": "a.jpg", "shapes": [
        {"label": "far", "shape_type": "rectangle", "points": [[0, 0], [1e39, 5]]},
        {"label": "wide", "shape_type": "polygon", "points": [[0, 0], [3e38, 0], [-3e38, 4]]},
        {"label": "huge", "shape_type": "circle", "points": [[0, 0], [2e38, 2e38]]},
        {"label": "cat", "shape_type": "rectangle", "points": [[1, 2], [11, 7]]}]})");
    QTest::newRow("CreateML") << "CreateML"
                              << "a.json"
                              << QByteArray(R"([{"image": "a.jpg", "annotations": [
        {"label": "far", "coordinates": {"x": 1e39, "y": 5, "width": 2, "height": 2}},
        {"label": "wide", "coordinates": {"x": 0, "y": 5, "width": 4e38, "height": 2}},
        {"label": "cat", "coordinates": {"x": 6, "y": 4.5, "width": 10, "height": 5}}]}])");
}

void TestHostileFiles::jsonShapesBeyondFloat()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(file), text));
    Dataset dataset;
    QVERIFY(FormatRegistry::instance().find(format)->importDataset(dir.filePath(file), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const QList<Annotation> &labels = dataset.images.first().labels;
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().className, QStringLiteral("cat"));
    QCOMPARE(labels.first().bbox, QRectF(1, 2, 10, 5));
}

// File names that are not valid UTF-8 cannot be opened through Qt, which
// leaves them out of its listings: the import counts them instead of
// reading less without a word, and reads everything else.
void TestHostileFiles::unnameableFiles()
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    auto rawWrite = [](const QByteArray &path, const QByteArray &bytes) {
        FILE *file = std::fopen(path.constData(), "wb");
        if (!file)
            return false;
        const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size());
        return std::fclose(file) == 0 && written;
    };
    QVERIFY(writeFile(dir.filePath("labels/good.txt"), "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(rawWrite(root + "/labels/bad\xff.txt", "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(rawWrite(root + "/labels/latin\xe9.txt", "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(rawWrite(root + "/labels/ignored\xff.mp3", "not a label file"));
    QVERIFY(::mkdir((root + "/voc\xfe").constData(), 0700) == 0);
    QVERIFY(rawWrite(root + "/voc\xfe/a.xml", "<annotation><filename>a.jpg</filename></annotation>"));

    UnreadableFileNames unreadable;
    Dataset yolo;
    QVERIFY(FormatRegistry::instance().find("YOLO")->importDataset(dir.path(), yolo, {}));
    QCOMPARE(yolo.images.size(), 1);
    QCOMPARE(unreadable.count(), 2);
    QVERIFY(unreadable.paths().first().endsWith(QStringLiteral("\ufffd.txt")));

    // A folder whose name cannot be given hides every file below it.
    UnreadableFileNames below;
    Dataset voc;
    FormatRegistry::instance().find("LabelMe")->canImport(dir.path());
    FormatRegistry::instance().find("Pascal VOC")->importDataset(dir.path(), voc, {});
    QCOMPARE(below.count(), 1);
    QCOMPARE(unreadable.count(), 3); // the outer count sees it too

    // A counter that has ended counts no more.
    const int before = unreadable.count();
    {
        Dataset again;
        UnreadableFileNames inner;
        FormatRegistry::instance().find("YOLO")->importDataset(dir.path(), again, {});
        QCOMPARE(inner.count(), 2);
        QCOMPARE(unreadable.count(), before); // already counted
    }
    QCOMPARE(unreadable.count(), before);

    // Qt cannot remove what it cannot name.
    for (const QByteArray &path : {root + "/labels/bad\xff.txt", root + "/labels/latin\xe9.txt",
                                   root + "/labels/ignored\xff.mp3", root + "/voc\xfe/a.xml"})
        QCOMPARE(::unlink(path.constData()), 0);
    QCOMPARE(::rmdir((root + "/voc\xfe").constData()), 0);
}

QM_TEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
