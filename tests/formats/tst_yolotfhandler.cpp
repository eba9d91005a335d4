#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/YoloTfHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestYoloTfHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void importFixture();
    void importRowTable_data();
    void importRowTable();
    void importQuotedFields();
    void importFailures();
    void exportExactBytes();
    void exportQuotesOnlyWhereNeeded();
    void exportFailsWhenTheFileCannotBeWritten();
    void roundTrip();
};

namespace {

const QByteArray kHeader("filename,width,height,class,xmin,ymin,xmax,ymax\n");

} // namespace

void TestYoloTfHandler::detection_data()
{
    QTest::addColumn<QString>("file"); // written below the folder
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<QString>("asked"); // the path asked about, relative to the folder
    QTest::addColumn<bool>("detected");
    QTest::newRow("folder") << "_annotations.csv" << kHeader << "" << true;
    QTest::newRow("file with upper-case suffix") << "export.CSV" << kHeader << "export.CSV" << true;
    QTest::newRow("capitalised header") << "_annotations.csv" << QByteArray("FileName,Width,Height,Class,XMin\n") << ""
                                        << true;
    QTest::newRow("no xmin") << "_annotations.csv" << QByteArray("filename,width,height,class\n") << "" << false;
    QTest::newRow("other file name in folder") << "data.csv" << kHeader << "" << false;
    QTest::newRow("rows without header") << "_annotations.csv" << QByteArray("a.jpg,1,2,3,4,car\n") << "" << false;
}

void TestYoloTfHandler::detection()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, firstLine);
    QFETCH(QString, asked);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(file), firstLine + "a.jpg,10,10,car,1,1,5,5\n"));
    QCOMPARE(YoloTfHandler().canImport(asked.isEmpty() ? dir.path() : dir.filePath(asked)), detected);
}

void TestYoloTfHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloTfHandler().importDataset(detectFixture("yolo-tf"), dataset, p)); });
    QCOMPARE(calls, countingTo(4));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"head", "helmet"}));
    QCOMPARE(dataset.classColors.value("helmet"), QColor("#4D8DFF")); // first seen, first colour
    QCOMPARE(dataset.images.size(), 2);
    QCOMPARE(fileNameOf(dataset.images.first().filePath), QStringLiteral("img_0001.jpg"));
    QCOMPARE(classNamesOf(dataset.images.first().labels), (QStringList{"helmet", "head"}));
    QCOMPARE(dataset.images.first().labels.last().bbox, QRectF(5, 1, 25, 21));
    QCOMPARE(dataset.images.at(1).id, 1);
}

void TestYoloTfHandler::importRowTable_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRectF>("box");
    QTest::newRow("row") << QByteArray("a.jpg,640,480,car,10,20,110,220") << 1 << QSize(640, 480)
                         << QRectF(10, 20, 100, 200);
    QTest::newRow("corners reversed") << QByteArray("a.jpg,640,480,car,110,220,10,20") << 1 << QSize(640, 480)
                                      << QRectF(10, 20, 100, 200);
    QTest::newRow("width not a number") << QByteArray("a.jpg,wide,480,car,10,20,110,220") << 1 << QSize(0, 480)
                                        << QRectF(10, 20, 100, 200);
    QTest::newRow("negative size") << QByteArray("a.jpg,-5,480,car,10,20,110,220") << 1 << QSize(0, 480)
                                   << QRectF(10, 20, 100, 200);
    QTest::newRow("spaced cells") << QByteArray(" a.jpg , 640 ,480, car ,10, 20,110,220 ") << 1 << QSize(640, 480)
                                  << QRectF(10, 20, 100, 200);
    QTest::newRow("fractional corner") << QByteArray("a.jpg,640,480,car,10.5,20,110,220") << 0 << QSize() << QRectF();
    QTest::newRow("seven cells") << QByteArray("a.jpg,640,480,car,10,20,110") << 0 << QSize() << QRectF();
}

void TestYoloTfHandler::importRowTable()
{
    QFETCH(QByteArray, row);
    QFETCH(int, boxes);
    QFETCH(QSize, size);
    QFETCH(QRectF, box);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), kHeader + row + "\r\n"));
    Dataset dataset;
    QCOMPARE(YoloTfHandler().importDataset(dir.path(), dataset, {}), boxes > 0);
    if (boxes == 0) {
        QVERIFY(dataset.images.isEmpty());
        return;
    }
    const ImageEntry &e = dataset.images.first();
    QCOMPARE(fileNameOf(e.filePath), QStringLiteral("a.jpg"));
    QCOMPARE(QSize(e.width, e.height), size);
    QCOMPARE(e.labels.size(), boxes);
    QCOMPARE(e.labels.first().className, QStringLiteral("car"));
    QCOMPARE(e.labels.first().bbox, box);
}

void TestYoloTfHandler::importQuotedFields()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("x.csv"), kHeader + "\"my, photo.jpg\",100,50,\"say \"\"hi\"\"\",1,2,3,4\n"
                                                       "\"my, photo.jpg\",100,50,\"two\nlines\",5,6,7,8\n"
                                                       "b.jpg,100,50,a,1,1,2,2\n"));
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloTfHandler().importDataset(dir.filePath("x.csv"), dataset, p)); });
    QCOMPARE(calls.last(), qMakePair(5, 5));
    QCOMPARE(dataset.images.size(), 2);
    QCOMPARE(fileNameOf(dataset.images.first().filePath), QStringLiteral("my, photo.jpg"));
    QCOMPARE(classNamesOf(dataset.images.first().labels), (QStringList{"say \"hi\"", "two\nlines"}));
}

void TestYoloTfHandler::importFailures()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(!YoloTfHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), kHeader));
    QVERIFY(!YoloTfHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), ""));
    QVERIFY(!YoloTfHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestYoloTfHandler::exportExactBytes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/c.png");
    QVERIFY(writeImage(picture, 80, 60));
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 640, 480,
                           {box("car", 10.5, 20, 100, -10.5), polygon("bus", {{1, 2}, {30, 2}, {15, 40}}),
                            polyline("car", {{0, 0}, {9, 9}}), point("car", 3, 3)}));
    dataset.addImage(image("/one/b.jpg", 640, 480, {polyline("car", {{0, 0}, {9, 9}})})); // no row at all
    dataset.addImage(image(picture, 0, 0, {box("car", 1, 1, 2, 2)}));                     // size probed
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloTfHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(3));
    QCOMPARE(readFile(dir.filePath("out/_annotations.csv")), kHeader + "a.jpg,640,480,car,11,10,111,20\n"
                                                                       "a.jpg,640,480,bus,1,2,30,40\n"
                                                                       "c.png,80,60,car,1,1,3,3\n");
}

void TestYoloTfHandler::exportQuotesOnlyWhereNeeded()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/my, photo.jpg", 10, 10, {box("a, b", 1, 1, 2, 2), box("traffic light", 1, 1, 2, 2)}));
    QVERIFY(YoloTfHandler().exportDataset(dir.filePath("named.csv"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("named.csv")), kHeader + "\"my, photo.jpg\",10,10,\"a, b\",1,1,3,3\n"
                                                            "\"my, photo.jpg\",10,10,traffic light,1,1,3,3\n");
    Dataset back;
    QVERIFY(YoloTfHandler().importDataset(dir.filePath("named.csv"), back, {}));
    QCOMPARE(classNamesOf(back.images.first().labels), (QStringList{"a, b", "traffic light"}));
}

void TestYoloTfHandler::exportFailsWhenTheFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 10, 10, {box("car", 1, 1, 2, 2)}));
    QVERIFY(QDir().mkpath(dir.filePath("out/_annotations.csv")));
    QVERIFY(!YoloTfHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!YoloTfHandler().exportDataset(dir.filePath("file/x.csv"), dataset, {}));
}

void TestYoloTfHandler::roundTrip()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = QStringLiteral("%1/images/%2/frame.png").arg(dir.path()).arg(i);
        dataset.addImage(image(path, 64, 48, {box("cat", 0, 0, 64, 48), box("dog", 3, 4, 10, 12)}));
    }
    QVERIFY(YoloTfHandler().exportDataset(out, dataset, {}));
    Dataset back;
    QVERIFY(YoloTfHandler().importDataset(out, back, {}));
    QStringList names;
    for (const ImageEntry &e : back.images) {
        names.append(fileNameOf(e.filePath));
        QCOMPARE(QSize(e.width, e.height), QSize(64, 48));
        QCOMPARE(e.labels.size(), 2);
        QCOMPARE(e.labels.at(0).bbox, QRectF(0, 0, 64, 48));
        QCOMPARE(e.labels.at(1).bbox, QRectF(3, 4, 10, 12));
    }
    // Three images of one file name stay three images.
    QCOMPARE(names, (QStringList{"frame.png", "frame_2.png", "frame_3.png"}));
}

QM_TEST_MAIN(TestYoloTfHandler)
#include "tst_yolotfhandler.moc"
