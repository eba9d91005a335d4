#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/DarknetHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestDarknetHandler : public QObject {
    Q_OBJECT
private slots:
    void detection();
    void importFixture();
    void importFindsImages_data();
    void importFindsImages();
    void importSkipsTextThatIsNoLabelFile();
    void importLineTable_data();
    void importLineTable();
    void importNothingReadIsFailure();
    void exportWritesBoxLinesOnly();
    void exportProbesUnknownSizes();
    void exportKeepsSameNamedImagesApart();
    void exportFailsWhenAFileCannotBeWritten();
    void roundTrip();
};

void TestDarknetHandler::detection()
{
    QTemporaryDir dir;
    DarknetHandler handler;
    QVERIFY(!handler.canImport(dir.path()));
    QVERIFY(QDir().mkpath(dir.filePath("_darknet.labels"))); // a folder of that name
    QVERIFY(!handler.canImport(dir.path()));
    QTemporaryDir other;
    QVERIFY(writeFile(other.filePath("_darknet.labels"), ""));
    QVERIFY(handler.canImport(other.path()));
    QVERIFY(!handler.canImport(other.filePath("missing")));
}

void TestDarknetHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(DarknetHandler().importDataset(detectFixture("darknet"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(fileNameOf(first.filePath), QStringLiteral("hard_hat_0001.jpg"));
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"helmet", "person"}));
    fuzzyCompareRect(first.labels.first().bbox,
                     QRectF((0.481 - 0.059) * 32, (0.634 - 0.076) * 24, 0.118 * 32, 0.152 * 24));
    QVERIFY(dataset.classColors.isEmpty()); // the import command adds the classes
}

void TestDarknetHandler::importFindsImages_data()
{
    QTest::addColumn<QStringList>("images"); // existing image files, relative to the dataset folder
    QTest::addColumn<QString>("expected");   // the file the entry names; "" = the label file
    QTest::newRow("beside") << QStringList{"a.png"} << "a.png";
    QTest::newRow("images subfolder") << QStringList{"images/a.jpg"} << "images/a.jpg";
    QTest::newRow("jpeg beside before png in images") << QStringList{"a.jpeg", "images/a.png"} << "a.jpeg";
    QTest::newRow("jpg in images before jpeg beside") << QStringList{"a.jpeg", "images/a.jpg"} << "images/a.jpg";
    QTest::newRow("sibling images folder is not searched") << QStringList{"../images/a.jpg"} << "";
    // Camera files carry their suffix in capitals; the base name still pairs exactly.
    QTest::newRow("suffix in capitals") << QStringList{"images/a.JPG"} << "images/a.JPG";
    QTest::newRow("base name in capitals") << QStringList{"A.jpg"} << "";
}

void TestDarknetHandler::importFindsImages()
{
    QFETCH(QStringList, images);
    QFETCH(QString, expected);
    QTemporaryDir root;
    const QString dir = root.filePath("set");
    QVERIFY(writeFile(dir + "/_darknet.labels", "cat\n"));
    QVERIFY(writeFile(dir + "/a.txt", "0 0.5 0.5 0.5 0.5\n"));
    for (const QString &image : images)
        QVERIFY(writeImage(dir + "/" + image, 40, 20));
    Dataset dataset;
    QVERIFY(DarknetHandler().importDataset(dir, dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &e = dataset.images.first();
    if (expected.isEmpty()) {
        QCOMPARE(fileNameOf(e.filePath), QStringLiteral("a.txt"));
        QCOMPARE(QSize(e.width, e.height), QSize(0, 0));
        fuzzyCompareRect(e.labels.first().bbox, QRectF(0.25, 0.25, 0.5, 0.5)); // left normalised
    } else {
        QCOMPARE(QFileInfo(e.filePath).canonicalFilePath(), QFileInfo(dir + "/" + expected).canonicalFilePath());
        QCOMPARE(QSize(e.width, e.height), QSize(40, 20));
        fuzzyCompareRect(e.labels.first().bbox, QRectF(10, 5, 20, 10));
    }
}

void TestDarknetHandler::importSkipsTextThatIsNoLabelFile()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_darknet.labels"), "cat\n\ndog\n"));
    QVERIFY(writeFile(dir.filePath("readme.txt"), "These are the labels of five photos.\n"));
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\ndog\n"));
    QVERIFY(writeFile(dir.filePath("empty.txt"), ""));      // no image, no line
    QVERIFY(writeFile(dir.filePath("background.txt"), "")); // an image without objects
    QVERIFY(writeImage(dir.filePath("background.jpg"), 8, 8));
    QVERIFY(writeFile(dir.filePath("lone.txt"), "1 0.5 0.5 0.2 0.2\n")); // labels without their image
    Dataset dataset;
    QVERIFY(DarknetHandler().importDataset(dir.path(), dataset, {}));
    QStringList files;
    for (const ImageEntry &e : dataset.images)
        files.append(fileNameOf(e.filePath));
    QCOMPARE(files, (QStringList{"background.jpg", "lone.txt"}));
    QVERIFY(dataset.images.first().labels.isEmpty());
    QCOMPARE(dataset.images.last().labels.first().className, QStringLiteral("dog")); // the empty line took no id
}

void TestDarknetHandler::importLineTable_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("classes"); // of the boxes read; the class list is cat, dog
    QTest::newRow("box") << QByteArray("1 0.5 0.5 0.1 0.1") << QStringList{"dog"};
    QTest::newRow("id beyond the list") << QByteArray("5 0.5 0.5 0.1 0.1") << QStringList{"class_5"};
    QTest::newRow("negative id") << QByteArray("-2 0.5 0.5 0.1 0.1") << QStringList{"class_-2"};
    QTest::newRow("polygon line reads as its first box")
        << QByteArray("0 0.1 0.1 0.9 0.1 0.5 0.9") << QStringList{"cat"};
    QTest::newRow("runs of spaces") << QByteArray("  0   0.5 0.5  0.1 0.1  ") << QStringList{"cat"};
    QTest::newRow("four fields") << QByteArray("0 0.5 0.5 0.1") << QStringList{};
    QTest::newRow("word for a number") << QByteArray("0 0.5 half 0.1 0.1") << QStringList{};
    QTest::newRow("real class id") << QByteArray("0.5 0.5 0.5 0.1 0.1") << QStringList{};
    QTest::newRow("tab separated") << QByteArray("0\t0.5\t0.5\t0.1\t0.1") << QStringList{};
    QTest::newRow("overflowing number") << QByteArray("0 0.5 0.5 1e39 0.1") << QStringList{};
}

void TestDarknetHandler::importLineTable()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, classes);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.txt"), line + "\n"));
    const QList<Annotation> boxes = readDarknetLabelFile(dir.filePath("a.txt"), {"cat", "dog"}, QSize(100, 50));
    QCOMPARE(classNamesOf(boxes), classes);
    for (const Annotation &a : boxes)
        QCOMPARE(a.kind, int(BoundingBox));
    if (line.startsWith("0 0.1 0.1 0.9"))
        fuzzyCompareRect(boxes.first().bbox, QRectF(-35, 2.5, 90, 5)); // centre (0.1, 0.1), size (0.9, 0.1)
}

void TestDarknetHandler::importNothingReadIsFailure()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_darknet.labels"), "cat\n"));
    DarknetHandler handler;
    QVERIFY(handler.canImport(dir.path()));
    Dataset dataset;
    QVERIFY(!handler.importDataset(dir.path(), dataset, {}));
    QVERIFY(writeFile(dir.filePath("notes.txt"), "nothing to see\n"));
    QVERIFY(!handler.importDataset(dir.path(), dataset, {}));
    QVERIFY(!handler.importDataset(dir.filePath("missing"), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestDarknetHandler::exportWritesBoxLinesOnly()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("dog", QColor());
    dataset.addImage(
        image("/photos/a.jpg", 200, 100,
              {box("cat", 30, 40, 40, 20), polygon("dog", {{20, 10}, {60, 10}, {40, 50}}),
               keypoints("cat", {0, 0, 200, 100}, {{50, 20}, {150, 80}}, {2, 2}), polyline("dog", {{0, 0}, {10, 10}}),
               point("cat", 5, 5), polygon("dog", {{1, 1}, {9, 1}})})); // a flat polygon has no area
    dataset.addImage(image("/photos/b.png", 10, 10));
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(DarknetHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"_darknet.labels", "a.txt", "b.txt", "obj.names"}));
    QCOMPARE(readFile(dir.filePath("out/_darknet.labels")), QByteArray("dog\ncat\n"));
    QCOMPARE(readFile(dir.filePath("out/obj.names")), QByteArray("dog\ncat\n"));
    QCOMPARE(readFile(dir.filePath("out/a.txt")), QByteArray("1 0.25 0.5 0.2 0.2\n"
                                                             "0 0.2 0.3 0.2 0.4\n"
                                                             "1 0.5 0.5 0.5 0.6\n"));
    QCOMPARE(readFile(dir.filePath("out/b.txt")), QByteArray());
}

void TestDarknetHandler::exportProbesUnknownSizes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 200, 100));
    Dataset dataset;
    dataset.addImage(image(picture, 0, 0, {box("cat", 30, 40, 40, 20)}));
    ImageEntry inMemory = image("b.png", 0, 0, {box("cat", 30, 40, 40, 20)});
    inMemory.image = QImage(400, 200, QImage::Format_RGB32);
    dataset.addImage(inMemory);
    dataset.addImage(image("c.png", 0, 0, {box("cat", 30, 40, 40, 20)})); // nothing tells its size
    QVERIFY(DarknetHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("out/a.txt")), QByteArray("0 0.25 0.5 0.2 0.2\n"));
    QCOMPARE(readFile(dir.filePath("out/b.txt")), QByteArray("0 0.125 0.25 0.1 0.1\n"));
    QCOMPARE(readFile(dir.filePath("out/c.txt")), QByteArray("0 50 50 40 20\n"));
}

void TestDarknetHandler::exportKeepsSameNamedImagesApart()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 100, 100, {box("cat", 0, 0, 10, 10)}));
    dataset.addImage(image("/two/a.jpg", 100, 100, {box("dog", 0, 0, 20, 20)}));
    QVERIFY(DarknetHandler().exportDataset(dir.path(), dataset, {}));
    QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("0 0.05 0.05 0.1 0.1\n"));
    QCOMPARE(readFile(dir.filePath("a_2.txt")), QByteArray("1 0.1 0.1 0.2 0.2\n"));
}

void TestDarknetHandler::exportFailsWhenAFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 100, 100, {box("cat", 0, 0, 10, 10)}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!DarknetHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("out/a.txt"))); // a folder where the label file goes
    QVERIFY(!DarknetHandler().exportDataset(dir.filePath("out"), dataset, {}));
}

void TestDarknetHandler::roundTrip()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = QStringLiteral("%1/img%2.png").arg(out).arg(i);
        QVERIFY(writeImage(path, 64, 48));
        // Boxes touching the image borders, as many real ones do.
        dataset.addImage(image(path, 64, 48, {box("cat", 0, 0, 64, 10), box("dog", 50, 40, 14, 8)}));
    }
    QVERIFY(DarknetHandler().exportDataset(out, dataset, {}));
    Dataset back;
    QVERIFY(DarknetHandler().importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(back.images.at(i).filePath, dataset.images.at(i).filePath);
        QCOMPARE(classNamesOf(back.images.at(i).labels), (QStringList{"cat", "dog"}));
        fuzzyCompareRect(back.images.at(i).labels.at(0).bbox, QRectF(0, 0, 64, 10));
        fuzzyCompareRect(back.images.at(i).labels.at(1).bbox, QRectF(50, 40, 14, 8));
    }
}

QM_TEST_MAIN(TestDarknetHandler)
#include "tst_darknethandler.moc"
