#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/YoloHandler.h"

#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

namespace {

QList<QPair<int, int>> recordProgress(const std::function<void(ProgressCallback)> &run)
{
    QList<QPair<int, int>> calls;
    run([&calls](int current, int total) { calls.append({current, total}); });
    return calls;
}

} // namespace

class TestYoloHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void dataYamlOnlyIsDetectedButImportsNothing();
    void importSplitLabelsWithImages();
    void importPrefersLabelSubfolders();
    void importSplitFolders();
    void importLabelWithoutImage();
    void importClassNames_data();
    void importClassNames();
    void importReadsYamlKeypointShape();
    void importMissingFolder();
    void exportFlatLayout();
    void exportCollidingNamesStayApart();
    void exportFailsWhenOutputCannotBeWritten();
    void roundTrip();
    void ultralyticsLayoutWithBackgroundImages();
    void labellingToolLayout();
    void sideBySideBackgroundImages();
    void darknetLayoutAsCvatExportsIt();
    void manyPicturesComeInInOrder();
    void failureOfManyNamesTheLastFile();
};

void TestYoloHandler::detection_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("box line") << "a.txt" << QByteArray("0 0.5 0.5 0.2 0.2\n") << true;
    QTest::newRow("nested box line") << "deep/er/a.txt" << QByteArray("3 0 1 1 0.1\n") << true;
    QTest::newRow("two spaces") << "a.txt" << QByteArray("0  0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("centre outside") << "a.txt" << QByteArray("0 1.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("zero size") << "a.txt" << QByteArray("0 0.5 0.5 0 0.2\n") << false;
    QTest::newRow("real class id") << "a.txt" << QByteArray("0.5 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("pixel coordinates") << "a.txt" << QByteArray("0 320 240 20 20\n") << false;
    QTest::newRow("classes.txt only") << "classes.txt" << QByteArray("0 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("CLASSES.TXT only") << "CLASSES.TXT" << QByteArray("0 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("empty first line") << "a.txt" << QByteArray("\n0 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("prose") << "readme.txt" << QByteArray("hello world this is text\n") << false;
    QTest::newRow("labels folder") << "labels/readme.md" << QByteArray("x") << true;
}

void TestYoloHandler::detection()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(file), content));
    QCOMPARE(YoloHandler().canImport(dir.path()), detected);
}

void TestYoloHandler::dataYamlOnlyIsDetectedButImportsNothing()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: [a]\n"));
    YoloHandler handler;
    QVERIFY(handler.canImport(dir.path()));
    Dataset dataset;
    QVERIFY(!handler.importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestYoloHandler::importSplitLabelsWithImages()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("labels/train/a.txt"), "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(writeImage(dir.filePath("images/train/a.png"), 40, 20));
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\n"));
    Dataset dataset;
    const auto calls = recordProgress([&](ProgressCallback p) {
        QVERIFY(YoloHandler().importDataset(dir.path(), dataset, p));
    });
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &e = dataset.images.first();
    QCOMPARE(QFileInfo(e.filePath).canonicalFilePath(), QFileInfo(dir.filePath("images/train/a.png")).canonicalFilePath());
    QCOMPARE(e.width, 40);
    QCOMPARE(e.height, 20);
    QCOMPARE(e.labels.first().className, QStringLiteral("cat"));
    fuzzyCompareRect(e.labels.first().bbox, QRectF(10, 5, 20, 10));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 1}}));
    QVERIFY(dataset.classColors.isEmpty());   // the import command syncs classes
}

void TestYoloHandler::importPrefersLabelSubfolders()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(writeFile(dir.filePath("labels/train/b.txt"), "0 0.5 0.5 0.5 0.5\n"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(QFileInfo(dataset.images.first().filePath).fileName(), QStringLiteral("b.txt"));
}

void TestYoloHandler::importSplitFolders()
{
    QTemporaryDir dir;
    for (const char *split : {"test", "train", "valid"}) {
        const QString base = dir.filePath(QString::fromLatin1(split));
        QVERIFY(writeFile(base + "/labels/x.txt", "1 0.5 0.5 0.5 0.5\n"));
        QVERIFY(writeImage(base + "/images/x.jpg", 8, 8));
    }
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names:\n  - cat\n  - dog\n"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
    QStringList order;
    for (const ImageEntry &e : dataset.images) {
        order.append(QFileInfo(e.filePath).dir().dirName() + "/" + QFileInfo(QFileInfo(e.filePath).path()).dir().dirName());
        QCOMPARE(e.width, 8);
        QCOMPARE(e.labels.first().className, QStringLiteral("dog"));
    }
    QCOMPARE(order, (QStringList{"images/train", "images/valid", "images/test"}));
}

void TestYoloHandler::importLabelWithoutImage()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("sub/a.txt"), "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\n"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &e = dataset.images.first();
    QCOMPARE(QFileInfo(e.filePath).fileName(), QStringLiteral("a.txt"));
    QCOMPARE(e.width, 0);
    QCOMPARE(e.height, 0);
    fuzzyCompareRect(e.labels.first().bbox, QRectF(0.4, 0.4, 0.2, 0.2));
}

void TestYoloHandler::importClassNames_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QByteArray>("classesTxt");
    QTest::addColumn<QStringList>("expected");   // class names of ids 0, 1, 2
    QTest::newRow("inline quoted list") << QByteArray("names: ['person', \"car\", bike]\n") << QByteArray()
                                        << QStringList{"person", "car", "bike"};
    QTest::newRow("index map") << QByteArray("names:\n  0: person\n  1: car\n  2: bike\n") << QByteArray()
                               << QStringList{"person", "car", "bike"};
    QTest::newRow("classes.txt with an empty line") << QByteArray() << QByteArray("person\n\nbike\n")
                                                    << QStringList{"person", "", "bike"};
    QTest::newRow("yaml without names falls back") << QByteArray("nc: 3\n") << QByteArray("a\nb\nc\n")
                                                   << QStringList{"a", "b", "c"};
    QTest::newRow("nothing") << QByteArray() << QByteArray() << QStringList{"class_0", "class_1", "class_2"};
}

void TestYoloHandler::importClassNames()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QByteArray, classesTxt);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    if (!yaml.isEmpty())
        QVERIFY(writeFile(dir.filePath("data.yaml"), yaml));
    if (!classesTxt.isEmpty())
        QVERIFY(writeFile(dir.filePath("classes.txt"), classesTxt));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), "0 0.5 0.5 0.1 0.1\n1 0.5 0.5 0.1 0.1\n2 0.5 0.5 0.1 0.1\n"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QStringList names;
    for (const Annotation &a : dataset.images.first().labels)
        names.append(a.className);
    QCOMPARE(names, expected);
}

void TestYoloHandler::importReadsYamlKeypointShape()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "kpt_shape: [2, 3]\nnames: [person]\n"));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), "0 0.5 0.5 0.2 0.2 0.4 0.4 2.5 0.6 0.6 2\n"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.first().labels.first().kind, int(Keypoint));
}

void TestYoloHandler::importMissingFolder()
{
    Dataset dataset;
    bool called = false;
    QVERIFY(!YoloHandler().importDataset("/no/such/folder", dataset, [&](int, int) { called = true; }));
    QVERIFY(!called);
}

void TestYoloHandler::exportFlatLayout()
{
    Dataset dataset;
    dataset.addClass("dog", QColor());
    dataset.addImage(image("/src/a.jpg", 200, 100, {box("cat", 30, 40, 40, 20), box("dog", 0, 0, 200, 100)}));
    dataset.addImage(image("/src/b.jpg", 200, 100));
    QTemporaryDir dir;
    const QString out = dir.filePath("out/deeper");
    const auto calls = recordProgress([&](ProgressCallback p) {
        QVERIFY(YoloHandler().exportDataset(out, dataset, p));
    });
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(filesBelow(out), (QStringList{"a.txt", "b.txt", "classes.txt"}));
    QCOMPARE(readFile(out + "/classes.txt"), QByteArray("dog\ncat\n"));
    QCOMPARE(readFile(out + "/a.txt"), QByteArray("1 0.25 0.5 0.2 0.2\n0 0.5 0.5 1 1\n"));
    QCOMPARE(readFile(out + "/b.txt"), QByteArray());
}

void TestYoloHandler::exportCollidingNamesStayApart()
{
    Dataset dataset;
    dataset.addImage(image("/cam1/0001.jpg", 100, 100, {box("cat", 0, 0, 10, 10)}));
    dataset.addImage(image("/cam2/0001.jpg", 100, 100, {box("cat", 50, 50, 10, 10)}));
    QTemporaryDir dir;
    QVERIFY(YoloHandler().exportDataset(dir.path(), dataset, {}));
    QCOMPARE(readFile(dir.filePath("0001.txt")), QByteArray("0 0.05 0.05 0.1 0.1\n"));
    QCOMPARE(readFile(dir.filePath("0001_2.txt")), QByteArray("0 0.55 0.55 0.1 0.1\n"));

    // An image named like the class list keeps its labels apart from it.
    Dataset named;
    named.addImage(image("/x/classes.jpg", 100, 100, {box("dog", 0, 0, 10, 10)}));
    QTemporaryDir other;
    QVERIFY(YoloHandler().exportDataset(other.path(), named, {}));
    QCOMPARE(readFile(other.filePath("classes.txt")), QByteArray("dog\n"));
    QCOMPARE(readFile(other.filePath("classes_2.txt")), QByteArray("0 0.05 0.05 0.1 0.1\n"));
}

void TestYoloHandler::exportFailsWhenOutputCannotBeWritten()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    Dataset dataset;
    dataset.addImage(image("/a.jpg", 10, 10, {box("cat", 0, 0, 5, 5)}));
    QVERIFY(!YoloHandler().exportDataset(dir.filePath("file"), dataset, {}));
    QVERIFY(!YoloHandler().exportDataset(dir.filePath("file/sub"), dataset, {}));
    // A folder in the way of a label file.
    QVERIFY(QDir().mkpath(dir.filePath("out/a.txt")));
    QVERIFY(!YoloHandler().exportDataset(dir.filePath("out"), dataset, {}));
}

void TestYoloHandler::roundTrip()
{
    QTemporaryDir dir;
    const QString src = dir.filePath("src");
    QVERIFY(writeImage(src + "/a.png", 640, 480));
    QVERIFY(writeImage(src + "/b.png", 320, 240));
    Dataset dataset;
    dataset.addImage(
        image(src + "/a.png", 640, 480,
              {box("cat", 10, 20, 100, 50), polygon("dog", ring(5, 320, 240, 100)), box("dog", 0, 0, 640, 480),
               polygon("dog", {{320, 0}, {640, 240}, {320, 480}, {0, 480}, {0, 0}})}));
    dataset.addImage(
        image(src + "/b.png", 320, 240,
              {polygon("cat", ring(8, 160, 120, 50)),
               polygon("cat", {{0, 0}, {160, 0}, {320, 0}, {0, 120}, {320, 240}, {160, 240}, {0, 240}, {0, 240}})}));
    const QString out = dir.filePath("out");
    QVERIFY(YoloHandler().exportDataset(out, dataset, {}));
    QVERIFY(QFile::copy(src + "/a.png", out + "/a.png"));
    QVERIFY(QFile::copy(src + "/b.png", out + "/b.png"));

    Dataset back;
    QVERIFY(YoloHandler().importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const ImageEntry &expected = dataset.images.at(i);
        const ImageEntry &actual = back.images.at(i);
        QCOMPARE(QFileInfo(actual.filePath).fileName(), QFileInfo(expected.filePath).fileName());
        QCOMPARE(actual.labels.size(), expected.labels.size());
        for (int j = 0; j < expected.labels.size(); ++j) {
            const Annotation &want = expected.labels.at(j);
            QCOMPARE(actual.labels.at(j).className, want.className);
            fuzzyCompareRect(actual.labels.at(j).bbox, want.bbox, 0.01);
            // The boxes share their files with polygons: written as their
            // four corners, they come back as boxes.
            QCOMPARE(actual.labels.at(j).kind, want.kind);
            QVERIFY(pointsClose(actual.labels.at(j).points, want.points, 0.01));
        }
    }
}

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/") + name;
}

QStringList fileNames(const Dataset &dataset)
{
    QStringList names;
    for (const ImageEntry &e : dataset.images)
        names.append(QFileInfo(e.filePath).fileName());
    return names;
}

} // namespace

void TestYoloHandler::ultralyticsLayoutWithBackgroundImages()
{
    // images/{train,val} beside labels/{train,val}, names as an index map,
    // camera names in upper case, and pictures without any object.
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloHandler().importDataset(fixture("yolo-background"), dataset, p)); });
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls.last(), (QPair<int, int>{4, 4}));
    QCOMPARE(fileNames(dataset), (QStringList{"IMG_0001.JPG", "IMG_0101.jpeg", "IMG_0002.JPG", "IMG_0102.PNG"}));
    for (const ImageEntry &e : dataset.images) {
        QVERIFY2(QFileInfo(e.filePath).isFile(), qPrintable(e.filePath));
        QCOMPARE(QSize(e.width, e.height), QImage(e.filePath).size());
    }
    const QList<Annotation> &first = dataset.images.at(0).labels;
    QCOMPARE(first.size(), 2);
    QCOMPARE(first.at(1).className, QStringLiteral("car"));
    fuzzyCompareRect(first.at(1).bbox, QRectF(0, 12, 8, 12));
    QCOMPARE(dataset.images.at(1).labels.first().className, QStringLiteral("bicycle"));
    QVERIFY(dataset.images.at(2).labels.isEmpty());
    QVERIFY(dataset.images.at(3).labels.isEmpty());
}

void TestYoloHandler::labellingToolLayout()
{
    // images/ beside labels/, the class list among the label files and a
    // label file with tab-separated fields.
    YoloHandler handler;
    QVERIFY(handler.canImport(fixture("yolo-labelimg")));
    Dataset dataset;
    QVERIFY(handler.importDataset(fixture("yolo-labelimg"), dataset, {}));
    QCOMPARE(fileNames(dataset), (QStringList{"dog_01.jpg", "dog_02.png", "empty_field.jpg"}));
    QCOMPARE(dataset.images.at(0).labels.size(), 1);
    QCOMPARE(dataset.images.at(0).labels.first().className, QStringLiteral("person"));
    fuzzyCompareRect(dataset.images.at(0).labels.first().bbox, QRectF(6, 4, 4, 8));
    QCOMPARE(dataset.images.at(1).labels.first().className, QStringLiteral("bicycle"));
    QVERIFY(dataset.images.at(2).labels.isEmpty());
}

void TestYoloHandler::sideBySideBackgroundImages()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.jpg"), 20, 10));
    QVERIFY(writeFile(dir.filePath("a.txt"), "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(writeImage(dir.filePath("B.JPG"), 8, 8));
    QVERIFY(writeFile(dir.filePath("B.txt"), "0 0.5 0.5 1 1\n"));
    QVERIFY(writeImage(dir.filePath("c.webp"), 4, 4)); // no labels
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\n"));
    QVERIFY(writeFile(dir.filePath("notes.md"), "not an image"));
    Dataset dataset;
    QVERIFY(YoloHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(fileNames(dataset), (QStringList{"B.JPG", "a.jpg", "c.webp"}));
    QCOMPARE(dataset.images.at(0).width, 8);
    fuzzyCompareRect(dataset.images.at(0).labels.first().bbox, QRectF(0, 0, 8, 8));
    QCOMPARE(dataset.images.at(2).width, 4);
    QVERIFY(dataset.images.at(2).labels.isEmpty());
    QCOMPARE(findYoloImageInDir("B", dir.path()), dir.filePath("B.JPG"));
    QCOMPARE(findYoloImageInDir("b", dir.path()), QString()); // the base name stays exact
}

// CVAT's "YOLO 1.1" export, the Darknet training layout: the class names in
// obj.names, the image list train.txt and obj.data at the top, each picture
// beside its label file in obj_train_data/ (an empty one for a picture
// without objects).
void TestYoloHandler::darknetLayoutAsCvatExportsIt()
{
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(writeFile(root.filePath("obj.data"),
                      "classes = 2\ntrain = data/train.txt\nnames = data/obj.names\nbackup = backup/\n"));
    QVERIFY(writeFile(root.filePath("obj.names"), "car\nfire hydrant\n"));
    QVERIFY(writeFile(root.filePath("train.txt"), "data/obj_train_data/street.jpg\ndata/obj_train_data/empty.jpg\n"));
    QVERIFY(writeImage(root.filePath("obj_train_data/street.jpg"), 64, 32));
    QVERIFY(writeFile(root.filePath("obj_train_data/street.txt"), "1 0.250000 0.500000 0.500000 1.000000\n"));
    QVERIFY(writeImage(root.filePath("obj_train_data/empty.jpg"), 16, 16));
    QVERIFY(writeFile(root.filePath("obj_train_data/empty.txt"), ""));
    YoloHandler handler;
    QVERIFY(handler.canImport(dir.path()));
    Dataset dataset;
    QVERIFY(handler.importDataset(dir.path(), dataset, {}));
    // The image list is no image.
    QCOMPARE(fileNames(dataset), (QStringList{"empty.jpg", "street.jpg"}));
    QVERIFY(dataset.images.at(0).labels.isEmpty());
    const QList<Annotation> &labels = dataset.images.at(1).labels;
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().className, QStringLiteral("fire hydrant"));
    fuzzyCompareRect(labels.first().bbox, QRectF(0, 0, 32, 32));
}

// Pictures and label files are read on several threads at once: the entries
// still come in the order of the label files, each with its own picture's
// size (odd sizes, all different) and its own boxes, and progress counts up
// to the whole.
void TestYoloHandler::manyPicturesComeInInOrder()
{
    QTemporaryDir dir;
    constexpr int count = 300;
    for (int i = 0; i < count; ++i) {
        const QString stem = QStringLiteral("p%1").arg(i, 4, 10, QLatin1Char('0'));
        QVERIFY(writeImage(dir.filePath("images/" + stem + ".png"), 3 + i % 11, 2 + i % 7));
        QVERIFY(writeFile(dir.filePath("labels/" + stem + ".txt"),
                          QByteArray::number(i % 2) + " 0.5 0.5 0.25 " + QByteArray::number(0.1 + (i % 5) * 0.1) + "\n"));
    }
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\ndog\n"));
    Dataset dataset;
    bool ok = false;
    const QList<QPair<int, int>> calls =
        recordProgress([&](ProgressCallback progress) { ok = YoloHandler().importDataset(dir.path(), dataset, progress); });
    QVERIFY(ok);
    QCOMPARE(dataset.images.size(), count);
    for (int i = 0; i < count; ++i) {
        const ImageEntry &e = dataset.images.at(i);
        QCOMPARE(QFileInfo(e.filePath).fileName(), QStringLiteral("p%1.png").arg(i, 4, 10, QLatin1Char('0')));
        QCOMPARE(QSize(e.width, e.height), QSize(3 + i % 11, 2 + i % 7));
        QCOMPARE(e.labels.size(), 1);
        QCOMPARE(e.labels.first().className, i % 2 ? QStringLiteral("dog") : QStringLiteral("cat"));
        QVERIFY(qAbs(e.labels.first().bbox.height() - (0.1 + (i % 5) * 0.1) * e.height) < 1e-4);
    }
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.last(), qMakePair(count, count));
    for (int i = 1; i < calls.size(); ++i)
        QVERIFY(calls.at(i).first >= calls.at(i - 1).first);
}

// When nothing can be read, the import says why with the last file it gave up
// on, as a reading of one file after another would.
void TestYoloHandler::failureOfManyNamesTheLastFile()
{
    QTemporaryDir dir;
    constexpr int count = 200;
    QVERIFY(writeFile(dir.filePath("labels/a0000.txt"), "0 0.5 0.5 0.2 0.2\n"));
    for (int i = 1; i < count; ++i) {
        // Label files past the size bound, without pictures: sparse, so cheap.
        QFile file(dir.filePath(QStringLiteral("labels/a%1.txt").arg(i, 4, 10, QLatin1Char('0'))));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(65LL * 1024 * 1024));
    }
    QVERIFY(QFile::remove(dir.filePath("labels/a0000.txt")));
    QVERIFY(writeFile(dir.filePath("labels/a0000.txt"), "no label line\n"));
    Dataset dataset;
    QString why;
    QVERIFY(!YoloHandler().importExplained(dir.path(), dataset, {}, &why));
    QVERIFY2(why.contains(QStringLiteral("a0199.txt")), qPrintable(why));
}

QM_TEST_MAIN(TestYoloHandler)
#include "tst_yolohandler.moc"
