#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/RetinaNetHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestRetinaNetHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void importFixture();
    void importRowTable_data();
    void importRowTable();
    void importGroupsByNameAsWritten();
    void importFailures();
    void exportExactBytes();
    void exportQuotesOnlyWhereNeeded();
    void exportFailsWhenTheFileCannotBeWritten();
    void roundTripKeepsImagesWithoutBoxes();
};

void TestRetinaNetHandler::detection_data()
{
    QTest::addColumn<QByteArray>("firstLine");
    QTest::addColumn<bool>("detected");
    QTest::newRow("box row") << QByteArray("img.jpg,10,20,110,220,car") << true;
    QTest::newRow("spaced cells") << QByteArray(" img.jpg , 10 ,20,110,220,car") << true;
    QTest::newRow("image without boxes") << QByteArray("img.jpg,,,,,") << true;
    QTest::newRow("quoted name") << QByteArray("\"a,b.jpg\",10,20,110,220,car") << true;
    QTest::newRow("header") << QByteArray("image,x1,y1,x2,y2,class") << false;
    QTest::newRow("five cells") << QByteArray("img.jpg,10,20,110,220") << false;
    QTest::newRow("fractional corner") << QByteArray("img.jpg,10.5,20,110,220,car") << false;
    QTest::newRow("one corner missing") << QByteArray("img.jpg,,20,110,220,car") << false;
    QTest::newRow("TensorFlow header") << QByteArray("filename,width,height,class,xmin,ymin,xmax,ymax") << false;
}

void TestRetinaNetHandler::detection()
{
    QFETCH(QByteArray, firstLine);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), firstLine + "\n"));
    QVERIFY(writeFile(dir.filePath("set.csv"), firstLine + "\n"));
    QCOMPARE(RetinaNetHandler().canImport(dir.path()), detected);
    QCOMPARE(RetinaNetHandler().canImport(dir.filePath("set.csv")), detected);
}

void TestRetinaNetHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(RetinaNetHandler().importDataset(detectFixture("retinanet"), dataset, p)); });
    QCOMPARE(calls, countingTo(3));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(fileNameOf(first.filePath), QStringLiteral("img_0001.jpg"));
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"helmet", "head"}));
    QCOMPARE(first.labels.first().bbox, QRectF(2, 3, 18, 15));
    // The row "img_0002.jpg,,,,," is an image without objects.
    QCOMPARE(fileNameOf(dataset.images.at(1).filePath), QStringLiteral("img_0002.jpg"));
    QCOMPARE(dataset.images.at(1).id, 1);
    QVERIFY(dataset.images.at(1).labels.isEmpty());
    QCOMPARE(dataset.classColors.keys(), (QStringList{"head", "helmet"}));
}

void TestRetinaNetHandler::importRowTable_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QRectF>("box");
    QTest::newRow("row") << QByteArray("a.jpg,10,20,110,220,car") << QStringList{"car"} << QRectF(10, 20, 100, 200);
    QTest::newRow("corners reversed") << QByteArray("a.jpg,110,220,10,20,car") << QStringList{"car"}
                                      << QRectF(10, 20, 100, 200);
    QTest::newRow("cells after the sixth")
        << QByteArray("a.jpg,10,20,110,220,car,0.87") << QStringList{"car"} << QRectF(10, 20, 100, 200);
    QTest::newRow("quoted class with comma")
        << QByteArray("a.jpg,10,20,110,220,\"car, red\"") << QStringList{"car, red"} << QRectF(10, 20, 100, 200);
    QTest::newRow("unquoted class with comma")
        << QByteArray("a.jpg,10,20,110,220,car, red") << QStringList{"car"} << QRectF(10, 20, 100, 200);
    QTest::newRow("fractional corner") << QByteArray("a.jpg,12.5,20,110,220,car") << QStringList{} << QRectF();
    QTest::newRow("blank corner") << QByteArray("a.jpg,,20,110,220,car") << QStringList{} << QRectF();
}

void TestRetinaNetHandler::importRowTable()
{
    QFETCH(QByteArray, row);
    QFETCH(QStringList, classes);
    QFETCH(QRectF, box);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), "image,x1,y1,x2,y2,class\n" + row + "\n"));
    Dataset dataset;
    QCOMPARE(RetinaNetHandler().importDataset(dir.path(), dataset, {}), !classes.isEmpty());
    if (classes.isEmpty())
        return;
    QCOMPARE(dataset.images.size(), 1); // the header row is passed over
    QCOMPARE(classNamesOf(dataset.images.first().labels), classes);
    QCOMPARE(dataset.images.first().labels.first().bbox, box);
}

void TestRetinaNetHandler::importGroupsByNameAsWritten()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.jpg"), 40, 30));
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), "a.jpg,1,1,2,2,cat\n"
                                                        "./a.jpg,3,3,4,4,dog\n"
                                                        "b.jpg,1,1,2,2,dog\n"
                                                        "a.jpg,5,5,6,6,bird\n"));
    Dataset dataset;
    QVERIFY(RetinaNetHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
    QCOMPARE(classNamesOf(dataset.images.at(0).labels), (QStringList{"cat", "bird"}));
    QCOMPARE(QSize(dataset.images.at(0).width, dataset.images.at(0).height), QSize(40, 30));
    QCOMPARE(classNamesOf(dataset.images.at(1).labels), (QStringList{"dog"}));
    QCOMPARE(QFileInfo(dataset.images.at(1).filePath).canonicalFilePath(),
             QFileInfo(dataset.images.at(0).filePath).canonicalFilePath());
    QCOMPARE(dataset.images.at(2).filePath, QDir(dir.path()).filePath("images/b.jpg"));
    QCOMPARE(dataset.classColors.value("cat"), QColor("#4D8DFF"));
    QCOMPARE(dataset.classColors.value("dog"), QColor("#FF5757"));
}

void TestRetinaNetHandler::importFailures()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(!RetinaNetHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(writeFile(dir.filePath("_annotations.csv"), "image,x1,y1,x2,y2,class\n\n"));
    QVERIFY(!RetinaNetHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestRetinaNetHandler::exportExactBytes()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 640, 480,
                           {box("car", 10.5, 20, 20, 30), box("car", -0.5, 0, 5, 5), polyline("car", {{0, 0}, {9, 9}}),
                            polygon("bus", {{1, 2}, {30, 2}, {15, 40}}), box("car", 5, 5, 0, 10)}));
    dataset.addImage(image("/two/a.jpg", 640, 480, {point("car", 1, 1)}));
    const auto calls = recordProgress([&](ProgressCallback p) {
        QVERIFY(RetinaNetHandler().exportDataset(dir.filePath("out/_annotations.csv"), dataset, p));
    });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(readFile(dir.filePath("out/_annotations.csv")), QByteArray("a.jpg,11,20,31,50,car\n"
                                                                        "a.jpg,-1,0,5,5,car\n"
                                                                        "a.jpg,1,2,30,40,bus\n"
                                                                        "a_2.jpg,,,,,\n"));
}

void TestRetinaNetHandler::exportQuotesOnlyWhereNeeded()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/x.jpg", 10, 10, {box("a, b", 1, 1, 2, 2), box("say \"hi\"", 1, 1, 2, 2)}));
    QVERIFY(RetinaNetHandler().exportDataset(dir.path(), dataset, {}));
    QCOMPARE(readFile(dir.filePath("_annotations.csv")), QByteArray("x.jpg,1,1,3,3,\"a, b\"\n"
                                                                    "x.jpg,1,1,3,3,\"say \"\"hi\"\"\"\n"));
    Dataset back;
    QVERIFY(RetinaNetHandler().importDataset(dir.path(), back, {}));
    QCOMPARE(classNamesOf(back.images.first().labels), (QStringList{"a, b", "say \"hi\""}));
}

void TestRetinaNetHandler::exportFailsWhenTheFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/one/a.jpg", 10, 10, {box("car", 1, 1, 2, 2)}));
    QVERIFY(QDir().mkpath(dir.filePath("out/_annotations.csv")));
    QVERIFY(!RetinaNetHandler().exportDataset(dir.filePath("out"), dataset, {}));
}

void TestRetinaNetHandler::roundTripKeepsImagesWithoutBoxes()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 4; ++i) {
        const QString path = QStringLiteral("%1/images/img%2.png").arg(dir.path()).arg(i);
        QVERIFY(writeImage(path, 64, 48));
        QList<Annotation> labels;
        if (i % 2 == 0)
            labels = {box("cat", 0, 0, 64, 48), box("dog", 3, 4, 10, 12)};
        dataset.addImage(image(path, 64, 48, labels));
    }
    QVERIFY(RetinaNetHandler().exportDataset(dir.path(), dataset, {}));
    Dataset back;
    QVERIFY(RetinaNetHandler().importDataset(dir.path(), back, {}));
    QCOMPARE(back.images.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(back.images.at(i).filePath, dataset.images.at(i).filePath);
        QCOMPARE(back.images.at(i).labels.size(), i % 2 == 0 ? 2 : 0);
    }
    QCOMPARE(back.images.first().labels.at(1).bbox, QRectF(3, 4, 10, 12));
}

QM_TEST_MAIN(TestRetinaNetHandler)
#include "tst_retinanethandler.moc"
