#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/Yolo4PyTorchHandler.h"
#include "formats/YoloKerasHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestKerasHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void importFixture();
    void importByFilePath();
    void importLineTable_data();
    void importLineTable();
    void importResolvesImages();
    void importProgressCountsEveryLine();
    void importFailures();
    void exportExactBytes();
    void exportFailsWhenAFileCannotBeWritten();
    void pyTorchVariantIsTheSame();
    void roundTrip();
};

void TestKerasHandler::detection_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<bool>("detected");
    QTest::newRow("both files") << QStringList{"_annotations.txt", "_classes.txt"} << QStringList{} << true;
    QTest::newRow("no class list") << QStringList{"_annotations.txt"} << QStringList{} << false;
    QTest::newRow("no annotation list") << QStringList{"_classes.txt"} << QStringList{} << false;
    QTest::newRow("annotation list is a folder")
        << QStringList{"_classes.txt"} << QStringList{"_annotations.txt"} << false;
}

void TestKerasHandler::detection()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    for (const QString &file : files)
        QVERIFY(writeFile(dir.filePath(file), "x\n"));
    for (const QString &folder : folders)
        QVERIFY(QDir().mkpath(dir.filePath(folder)));
    QCOMPARE(YoloKerasHandler().canImport(dir.path()), detected);
}

void TestKerasHandler::importFixture()
{
    Dataset dataset;
    QVERIFY(YoloKerasHandler().importDataset(detectFixture("yolo-keras"), dataset, {}));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"cat", "dog", "person"}));
    QCOMPARE(dataset.classColors.value("dog"), QColor("#4D8DFF")); // added in file order
    QCOMPARE(dataset.images.size(), 3);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(first.id, 0);
    QCOMPARE(fileNameOf(first.filePath), QStringLiteral("img_0001.jpg"));
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"cat", "dog"}));
    QCOMPARE(first.labels.first().bbox, QRectF(2, 3, 18, 15));
    QVERIFY(dataset.images.at(1).labels.isEmpty());
    QCOMPARE(dataset.images.at(2).id, 2);
}

void TestKerasHandler::importByFilePath()
{
    Dataset byFolder;
    Dataset byFile;
    QVERIFY(YoloKerasHandler().importDataset(detectFixture("yolo-keras"), byFolder, {}));
    QVERIFY(YoloKerasHandler().importDataset(detectFixture("yolo-keras/_annotations.txt"), byFile, {}));
    QCOMPARE(byFile.images.size(), byFolder.images.size());
    for (qsizetype i = 0; i < byFile.images.size(); ++i) {
        QCOMPARE(byFile.images.at(i).filePath, byFolder.images.at(i).filePath);
        QCOMPARE(byFile.images.at(i).labels, byFolder.images.at(i).labels);
    }
}

void TestKerasHandler::importLineTable_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("classes"); // the class list is cat, dog
    QTest::addColumn<QRectF>("firstBox");
    QTest::newRow("two boxes") << QByteArray("a.jpg 1,2,11,22,0 5,5,6,6,1") << "a.jpg" << QStringList{"cat", "dog"}
                               << QRectF(1, 2, 10, 20);
    QTest::newRow("corners reversed") << QByteArray("a.jpg 11,22,1,2,1") << "a.jpg" << QStringList{"dog"}
                                      << QRectF(1, 2, 10, 20);
    QTest::newRow("fields after the fifth")
        << QByteArray("a.jpg 1,2,11,22,0,0.9") << "a.jpg" << QStringList{"cat"} << QRectF(1, 2, 10, 20);
    QTest::newRow("ids outside the list") << QByteArray("a.jpg 1,2,11,22,7 1,2,11,22,-1") << "a.jpg"
                                          << QStringList{"class_7", "class_-1"} << QRectF(1, 2, 10, 20);
    QTest::newRow("fractional corner rejects the group")
        << QByteArray("a.jpg 1,2,11.5,22,0 0,0,4,4,1") << "a.jpg" << QStringList{"dog"} << QRectF(0, 0, 4, 4);
    QTest::newRow("short group") << QByteArray("a.jpg 1,2,11,22") << "a.jpg" << QStringList{} << QRectF();
    QTest::newRow("no boxes") << QByteArray("a.jpg") << "a.jpg" << QStringList{} << QRectF();
    QTest::newRow("name with spaces") << QByteArray("my photo 1.jpg 1,2,11,22,0") << "my photo 1.jpg"
                                      << QStringList{"cat"} << QRectF(1, 2, 10, 20);
    QTest::newRow("name with spaces, no boxes")
        << QByteArray("my photo.jpg") << "my photo.jpg" << QStringList{} << QRectF();
}

void TestKerasHandler::importLineTable()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, fileName);
    QFETCH(QStringList, classes);
    QFETCH(QRectF, firstBox);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n\ndog\n"));
    QVERIFY(writeFile(dir.filePath("_annotations.txt"), line + "\r\n"));
    Dataset dataset;
    QVERIFY(YoloKerasHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &e = dataset.images.first();
    QCOMPARE(fileNameOf(e.filePath), fileName);
    QCOMPARE(classNamesOf(e.labels), classes);
    if (!classes.isEmpty())
        QCOMPARE(e.labels.first().bbox, firstBox);
}

void TestKerasHandler::importResolvesImages()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    QVERIFY(writeImage(dir.filePath("images/b.jpg"), 30, 20));
    QVERIFY(writeImage(dir.filePath("a.jpg"), 10, 20));
    QVERIFY(writeImage(dir.filePath("abs/c.jpg"), 5, 5));
    const QByteArray lines = "a.jpg\nsub/b.jpg\n" + dir.filePath("abs/c.jpg").toUtf8() + "\nmissing.jpg\na.jpg\n";
    QVERIFY(writeFile(dir.filePath("_annotations.txt"), lines));
    Dataset dataset;
    QVERIFY(YoloKerasHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 5); // an image listed twice gives two entries
    const QDir base(dir.path());
    QCOMPARE(dataset.images.at(0).filePath, base.filePath("a.jpg"));
    QCOMPARE(dataset.images.at(1).filePath, base.filePath("images/b.jpg"));
    QCOMPARE(QSize(dataset.images.at(1).width, dataset.images.at(1).height), QSize(30, 20));
    QCOMPARE(dataset.images.at(2).filePath, dir.filePath("abs/c.jpg"));
    QCOMPARE(dataset.images.at(3).filePath, base.filePath("images/missing.jpg"));
    QCOMPARE(QSize(dataset.images.at(3).width, dataset.images.at(3).height), QSize(0, 0));
    QCOMPARE(dataset.images.at(4).filePath, base.filePath("a.jpg"));
}

void TestKerasHandler::importProgressCountsEveryLine()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    QVERIFY(
        writeFile(dir.filePath("_annotations.txt"), "a.jpg\n\nb.jpg\nc.jpg\n\nd.jpg\ne.jpg\nf.jpg\ng.jpg\nh.jpg\n"));
    Dataset dataset;
    const auto calls =
        recordProgress([&](ProgressCallback p) { QVERIFY(YoloKerasHandler().importDataset(dir.path(), dataset, p)); });
    QCOMPARE(calls, countingTo(10));
    QCOMPARE(dataset.images.size(), 8);
}

void TestKerasHandler::importFailures()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    QVERIFY(!YoloKerasHandler().importDataset(dir.path(), dataset, {})); // no annotation list
    QVERIFY(writeFile(dir.filePath("_annotations.txt"), "\n  \n"));
    QVERIFY(!YoloKerasHandler().importDataset(dir.path(), dataset, {})); // no image line
    QVERIFY(dataset.images.isEmpty());
}

void TestKerasHandler::exportExactBytes()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("dog", QColor());
    dataset.addImage(
        image("/one/a.jpg", 100, 100,
              {box("cat", 10.5, -10.5, 20, 21), polygon("dog", {{3, 4}, {13, 4}, {8, 14.5}}),
               keypoints("cat", {0, 0, 50, 50}, {{5, 5}, {25, 15}}, {2, 2}), polyline("dog", {{0, 0}, {5, 5}}),
               point("cat", 1, 1), polygon("dog", {{7, 7}}), box("dog", 30, 40, -10, -20)}));
    dataset.addImage(image("/two/a.jpg", 100, 100));
    dataset.addImage(image("", 0, 0));
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloKerasHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(3));
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"_annotations.txt", "_classes.txt"}));
    QCOMPARE(readFile(dir.filePath("out/_classes.txt")), QByteArray("dog\ncat\n"));
    QCOMPARE(readFile(dir.filePath("out/_annotations.txt")),
             QByteArray("a.jpg 11,-11,31,11,1 3,4,13,15,0 5,5,25,15,1 20,20,30,40,0\n"
                        "a_2.jpg\n"
                        "image.png\n"));
}

void TestKerasHandler::exportFailsWhenAFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 100, 100, {box("cat", 0, 0, 10, 10)}));
    QVERIFY(QDir().mkpath(dir.filePath("out/_annotations.txt")));
    QVERIFY(!YoloKerasHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!YoloKerasHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
}

void TestKerasHandler::pyTorchVariantIsTheSame()
{
    QCOMPARE(Yolo4PyTorchHandler().name(), QStringLiteral("YOLOv4 PyTorch"));
    QCOMPARE(Yolo4PyTorchHandler().extension(), QStringLiteral("txt"));
    QVERIFY(Yolo4PyTorchHandler().canImport(detectFixture("yolo-keras")));
    Dataset dataset;
    QVERIFY(Yolo4PyTorchHandler().importDataset(detectFixture("yolo-keras"), dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
}

void TestKerasHandler::roundTrip()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = QStringLiteral("%1/images/pic %2.png").arg(out).arg(i);
        QVERIFY(writeImage(path, 64, 48));
        dataset.addImage(image(path, 64, 48, {box("cat", 0, 0, 64, 48), box("dog", 3, 4, 10, 12)}));
    }
    QVERIFY(YoloKerasHandler().exportDataset(out, dataset, {}));
    Dataset back;
    QVERIFY(YoloKerasHandler().importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(back.images.at(i).filePath, dataset.images.at(i).filePath);
        QCOMPARE(QSize(back.images.at(i).width, back.images.at(i).height), QSize(64, 48));
        QCOMPARE(back.images.at(i).labels.size(), 2);
        QCOMPARE(back.images.at(i).labels.at(0).bbox, QRectF(0, 0, 64, 48));
        QCOMPARE(back.images.at(i).labels.at(1).className, QStringLiteral("dog"));
        QCOMPARE(back.images.at(i).labels.at(1).bbox, QRectF(3, 4, 10, 12));
    }
}

QM_TEST_MAIN(TestKerasHandler)
#include "tst_kerashandler.moc"
