#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/MulticlassHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestMulticlassHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void importFixture();
    void importRowTable_data();
    void importRowTable();
    void importUnknownImageGetsUnitBoxes();
    void importFailures();
    void exportExactBytes();
    void exportKeepsSameNamedImagesApart();
    void exportTwiceReplacesTheImages();
    void exportFailures();
    void roundTrip();
};

void TestMulticlassHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("header") << QByteArray("filename,cat,dog\n") << true;
    QTest::newRow("spaced, capitalised") << QByteArray("  FileName, cat\n") << true;
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "filename,cat\n")
                                     << true;
    QTest::newRow("file name alone") << QByteArray("filename\n") << false;
    QTest::newRow("class map") << QByteArray("helmet,0\nhead,1\n") << false;
}

void TestMulticlassHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.csv"), content));
    QCOMPARE(MulticlassHandler().canImport(dir.path()), detected);
}

void TestMulticlassHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress([&](ProgressCallback p) {
        QVERIFY(MulticlassHandler().importDataset(detectFixture("multiclass"), dataset, p));
    });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(first.id, 0);
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"cat", "bird"}));
    for (const Annotation &a : first.labels) {
        QCOMPARE(a.kind, int(BoundingBox));
        QCOMPARE(a.bbox, QRectF(0, 0, 32, 24));
    }
    QCOMPARE(classNamesOf(dataset.images.at(1).labels), (QStringList{"dog"}));
    QVERIFY(dataset.classColors.isEmpty()); // the import command adds the classes
}

void TestMulticlassHandler::importRowTable_data()
{
    QTest::addColumn<QByteArray>("row"); // the header is filename,cat,dog,bird
    QTest::addColumn<QStringList>("classes");
    QTest::newRow("one-hot") << QByteArray("a.jpg,1,0,1") << QStringList{"cat", "bird"};
    QTest::newRow("extra cells ignored") << QByteArray("a.jpg,0,0,0,1,1") << QStringList{};
    QTest::newRow("short row") << QByteArray("a.jpg,0,1") << QStringList{"dog"};
    QTest::newRow("only exactly 1 counts") << QByteArray("a.jpg,1.0,true, 1 ") << QStringList{"bird"};
    QTest::newRow("quoted cells") << QByteArray("\"a,b.jpg\",\"1\",0,0") << QStringList{"cat"};
}

void TestMulticlassHandler::importRowTable()
{
    QFETCH(QByteArray, row);
    QFETCH(QStringList, classes);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.csv"), "filename,cat,dog,bird\n" + row + "\n\n"));
    Dataset dataset;
    QVERIFY(MulticlassHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(classNamesOf(dataset.images.first().labels), classes);
}

void TestMulticlassHandler::importUnknownImageGetsUnitBoxes()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("images/b.jpg"), 20, 10));
    QVERIFY(writeFile(dir.filePath("_classes.csv"), "filename,cat\nmissing.jpg,1\nsub/b.jpg,1\n"));
    Dataset dataset;
    QVERIFY(MulticlassHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(QSize(dataset.images.at(0).width, dataset.images.at(0).height), QSize(0, 0));
    QCOMPARE(dataset.images.at(0).labels.first().bbox, QRectF(0, 0, 1, 1));
    QCOMPARE(dataset.images.at(1).filePath, QDir(dir.path()).filePath("images/b.jpg"));
    QCOMPARE(dataset.images.at(1).labels.first().bbox, QRectF(0, 0, 20, 10));
}

void TestMulticlassHandler::importFailures()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(!MulticlassHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(writeFile(dir.filePath("_classes.csv"), "filename\na.jpg\n"));
    QVERIFY(!MulticlassHandler().importDataset(dir.path(), dataset, {})); // no class column
    QVERIFY(writeFile(dir.filePath("_classes.csv"), "filename,cat\n\n"));
    QVERIFY(!MulticlassHandler().importDataset(dir.path(), dataset, {})); // no row
    QVERIFY(dataset.images.isEmpty());
}

void TestMulticlassHandler::exportExactBytes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 20, 10));
    Dataset dataset;
    dataset.addClass("dog", QColor());
    dataset.addClass("a, b", QColor());
    dataset.addImage(image(picture, 20, 10, {box("dog", 0, 0, 20, 10), polygon("cat", ring(3, 10, 5, 2))}));
    dataset.addImage(image(dir.filePath("src/missing.png"), 20, 10));
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(MulticlassHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(readFile(dir.filePath("out/_classes.csv")), QByteArray("filename,\"a, b\",dog,cat\n"
                                                                    "a.png,0,1,1\n"
                                                                    "missing.png,0,0,0\n"));
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"_classes.csv", "a.png"}));
    QCOMPARE(readFile(dir.filePath("out/a.png")), readFile(picture));

    Dataset empty;
    empty.addImage(image(picture, 20, 10));
    QVERIFY(MulticlassHandler().exportDataset(dir.filePath("bare"), empty, {}));
    QCOMPARE(readFile(dir.filePath("bare/_classes.csv")), QByteArray("filename\na.png\n"));
}

void TestMulticlassHandler::exportKeepsSameNamedImagesApart()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(writeImage(dir.filePath("one/a.jpg"), 8, 8, Qt::red));
    QVERIFY(writeImage(dir.filePath("two/a.jpg"), 8, 8, Qt::blue));
    dataset.addImage(image(dir.filePath("one/a.jpg"), 8, 8, {box("cat", 0, 0, 8, 8)}));
    dataset.addImage(image(dir.filePath("two/a.jpg"), 8, 8, {box("dog", 0, 0, 8, 8)}));
    ImageEntry inMemory = image("b", 8, 8, {box("dog", 0, 0, 8, 8)}); // pixels only in memory, no suffix
    inMemory.image = QImage(8, 8, QImage::Format_RGB32);
    inMemory.image.fill(Qt::green);
    dataset.addImage(inMemory);
    QVERIFY(MulticlassHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("out/_classes.csv")), QByteArray("filename,cat,dog\n"
                                                                    "a.jpg,1,0\n"
                                                                    "a_2.jpg,0,1\n"
                                                                    "b.png,0,1\n"));
    QCOMPARE(readFile(dir.filePath("out/a.jpg")), readFile(dir.filePath("one/a.jpg")));
    QCOMPARE(readFile(dir.filePath("out/a_2.jpg")), readFile(dir.filePath("two/a.jpg")));
    QCOMPARE(QImage(dir.filePath("out/b.png")).pixelColor(4, 4), QColor(Qt::green));
}

// A second export into the same folder: its labels must not be paired with
// the first export's pixels.
void TestMulticlassHandler::exportTwiceReplacesTheImages()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 8, 8, Qt::red));
    Dataset dataset;
    dataset.addImage(image(picture, 8, 8, {box("cat", 0, 0, 8, 8)}));
    QVERIFY(MulticlassHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("out/a.png")), readFile(picture));
    QVERIFY(writeImage(picture, 8, 8, Qt::blue));
    dataset.images.first().labels = {box("dog", 0, 0, 8, 8)};
    QVERIFY(MulticlassHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("out/a.png")), readFile(picture));
    QCOMPARE(readFile(dir.filePath("out/_classes.csv")), QByteArray("filename,dog\na.png,1\n"));
}

void TestMulticlassHandler::exportFailures()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 8, 8));
    Dataset dataset;
    dataset.addImage(image(picture, 8, 8, {box("cat", 0, 0, 8, 8)}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!MulticlassHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("table/_classes.csv")));
    QVERIFY(!MulticlassHandler().exportDataset(dir.filePath("table"), dataset, {}));
}

void TestMulticlassHandler::roundTrip()
{
    QTemporaryDir dir;
    Dataset dataset;
    const QStringList classes = {"cat", "dog", "a, b", "say \"hi\""};
    for (int i = 0; i < 4; ++i) {
        const QString path = QStringLiteral("%1/src/%2/photo.jpg").arg(dir.path()).arg(i);
        QVERIFY(writeImage(path, 30, 20));
        dataset.addImage(image(path, 30, 20, {box(classes.at(i), 1, 1, 5, 5), box("cat", 2, 2, 3, 3)}));
    }
    QVERIFY(MulticlassHandler().exportDataset(dir.filePath("out"), dataset, {}));
    Dataset back;
    QVERIFY(MulticlassHandler().importDataset(dir.filePath("out"), back, {}));
    QCOMPARE(back.images.size(), 4);
    QCOMPARE(classNamesOf(back.images.at(0).labels), (QStringList{"cat"}));
    QCOMPARE(classNamesOf(back.images.at(2).labels), (QStringList{"cat", "a, b"}));
    QCOMPARE(classNamesOf(back.images.at(3).labels), (QStringList{"cat", "say \"hi\""}));
    for (const ImageEntry &e : back.images) {
        QVERIFY(QFileInfo(e.filePath).isFile());
        QCOMPARE(e.labels.first().bbox, QRectF(0, 0, 30, 20));
    }
}

QM_TEST_MAIN(TestMulticlassHandler)
#include "tst_multiclasshandler.moc"
