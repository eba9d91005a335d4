#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/Yolo6MtHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestYolo6MtHandler : public QObject {
    Q_OBJECT
private slots:
    void detection();
    void importFixture();
    void importLineTable_data();
    void importLineTable();
    void importNeedsSplitFolders();
    void exportExactBytes();
    void exportFailsWhenAFileCannotBeWritten();
    void roundTrip();
};

void TestYolo6MtHandler::detection()
{
    QTemporaryDir dir;
    Yolo6MtHandler handler;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: [a]\n"));
    QVERIFY(!handler.canImport(dir.path()));
    QVERIFY(QDir().mkpath(dir.filePath("images")));
    QVERIFY(!handler.canImport(dir.path()));
    QVERIFY(QDir().mkpath(dir.filePath("labels")));
    QVERIFY(handler.canImport(dir.path()));
    QVERIFY(QFile::remove(dir.filePath("data.yaml")));
    QVERIFY(!handler.canImport(dir.path()));
}

void TestYolo6MtHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(Yolo6MtHandler().importDataset(detectFixture("yolov6-mt"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(dataset.images.size(), 2); // labels/train and labels/val, as the project lays them out
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(QFileInfo(first.filePath).canonicalFilePath(),
             QFileInfo(detectFixture("yolov6-mt/images/train/0001.jpg")).canonicalFilePath());
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"person", "bicycle"}));
    fuzzyCompareRect(first.labels.first().bbox, QRectF(0.24 * 32, 0.29 * 24, 0.2 * 32, 0.3 * 24));
    QCOMPARE(fileNameOf(dataset.images.at(1).filePath), QStringLiteral("0002.jpg"));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"bicycle", "person"}));
}

void TestYolo6MtHandler::importLineTable_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("classes"); // the names are cat, dog
    QTest::newRow("box") << QByteArray("1 0.5 0.5 0.2 0.2") << QStringList{"dog"};
    QTest::newRow("negative id") << QByteArray("-1 0.5 0.5 0.2 0.2") << QStringList{"class_-1"};
    QTest::newRow("id past the names") << QByteArray("2 0.5 0.5 0.2 0.2") << QStringList{"class_2"};
    QTest::newRow("polygon line reads as its box") << QByteArray("0 0.5 0.5 0.2 0.2 0.3 0.3 0.4") << QStringList{"cat"};
    QTest::newRow("letter for a number") << QByteArray("0 0.5 a 0.2 0.2") << QStringList{};
    QTest::newRow("four fields") << QByteArray("0 0.5 0.5 0.2") << QStringList{};
}

void TestYolo6MtHandler::importLineTable()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, classes);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names:\n  - cat\n  - dog\nnc: 2\n"));
    QVERIFY(writeFile(dir.filePath("labels/test/a.txt"), line + "\n"));
    QVERIFY(writeImage(dir.filePath("images/test/a.png"), 100, 50));
    Dataset dataset;
    QVERIFY(Yolo6MtHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(classNamesOf(dataset.images.first().labels), classes);
    if (!classes.isEmpty())
        fuzzyCompareRect(dataset.images.first().labels.first().bbox, QRectF(40, 20, 20, 10));
}

void TestYolo6MtHandler::importNeedsSplitFolders()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: [a]\n"));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(QDir().mkpath(dir.filePath("images")));
    Yolo6MtHandler handler;
    QVERIFY(handler.canImport(dir.path()));
    Dataset dataset;
    QVERIFY(!handler.importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestYolo6MtHandler::exportExactBytes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 200, 100));
    Dataset dataset;
    dataset.addImage(
        image(picture, 0, 0, // the size comes from the file's header
              {box("cat", 30, 40, 40, 20), keypoints("dog", {0, 0, 200, 100}, {{50, 20}, {150, 80}}, {2, 2}),
               polygon("cat", {{10, 50}, {90, 50}, {50, 50}}), polyline("cat", {{0, 0}, {5, 5}}), point("dog", 5, 5)}));
    dataset.addImage(image("gone.jpg", 0, 0, {box("a: b", 30, 40, 40, 20)})); // nothing tells its size
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(Yolo6MtHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(filesBelow(dir.filePath("out")),
             (QStringList{"data.yaml", "images/train/a.png", "labels/train/a.txt", "labels/train/gone.txt"}));
    QCOMPARE(readFile(dir.filePath("out/data.yaml")), QByteArray("# Dataset root: the folder of this file. The folders below are relative to it.\n"
                                                                 "train: ./images/train\nval: ./images/train\n"
                                                                 "\nnc: 3\n"
                                                                 "names: ['cat', 'dog', 'a: b']\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/train/a.txt")), QByteArray("0 0.25 0.5 0.2 0.2\n"
                                                                          "1 0.5 0.5 0.5 0.6\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/train/gone.txt")), QByteArray("2 50 50 40 20\n"));
}

void TestYolo6MtHandler::exportFailsWhenAFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/x/a.jpg", 10, 10, {box("cat", 1, 1, 2, 2)}));
    QVERIFY(QDir().mkpath(dir.filePath("out/labels/train/a.txt")));
    QVERIFY(!Yolo6MtHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!Yolo6MtHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
}

void TestYolo6MtHandler::roundTrip()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = QStringLiteral("%1/src/%2/frame.jpg").arg(dir.path()).arg(i);
        QVERIFY(writeImage(path, 64, 48));
        dataset.addImage(image(path, 64, 48, {box("cat", 0, 0, 64, 48), box("no", 60, 40, 4, 8)}));
    }
    QVERIFY(Yolo6MtHandler().exportDataset(dir.filePath("out"), dataset, {}));
    Dataset back;
    QVERIFY(Yolo6MtHandler().importDataset(dir.filePath("out"), back, {}));
    QStringList files;
    for (const ImageEntry &e : back.images) {
        files.append(fileNameOf(e.filePath));
        QCOMPARE(QSize(e.width, e.height), QSize(64, 48));
        QCOMPARE(classNamesOf(e.labels), (QStringList{"cat", "no"}));
        fuzzyCompareRect(e.labels.at(1).bbox, QRectF(60, 40, 4, 8));
    }
    QCOMPARE(files, (QStringList{"frame.jpg", "frame_2.jpg", "frame_3.jpg"}));
}

QM_TEST_MAIN(TestYolo6MtHandler)
#include "tst_yolo6mthandler.moc"
