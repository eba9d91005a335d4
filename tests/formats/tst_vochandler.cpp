#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/PascalVocHandler.h"

#include <QDomDocument>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

namespace {

QByteArray vocFile(const QByteArray &inner)
{
    return "<?xml version=\"1.0\"?>\n<annotation>\n" + inner + "\n</annotation>\n";
}

} // namespace

class TestVocHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void exactBytesOfSmallExport();
    void exportRectangles();
    void exportNamesAndFailures();
    void importObjects();
    void importImagePaths();
    void importSkipsWhatIsNoVocFile();
    void roundTrip();
    void vocdevkitLayout();
    void objectFlagsTravelBothWays();
};

void TestVocHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("voc") << vocFile("<filename>a.jpg</filename>") << true;
    QTest::newRow("root with attribute") << QByteArray("<annotation verified=\"yes\">") << true;
    QTest::newRow("empty root") << QByteArray("<annotation/>") << true;
    QTest::newRow("cvat root") << QByteArray("<?xml version=\"1.0\"?><annotations><version>1.1</version>") << false;
    QTest::newRow("tag beyond 512 bytes") << QByteArray(600, ' ') + "<annotation>" << false;
    QTest::newRow("other xml") << QByteArray("<svg></svg>") << false;
}

void TestVocHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.xml"), content));
    PascalVocHandler handler;
    QCOMPARE(handler.canImport(dir.path()), detected);
    QVERIFY(!handler.canImport(dir.filePath("a.xml")));   // a file is no folder
}

void TestVocHandler::exactBytesOfSmallExport()
{
    const ImageEntry entry = image("/data/photo.final.jpg", 640, 480,
                                   {box("cat", 10.5, 20.4, 30, 40), polyline("cat", {{1, 1}, {2, 2}})});
    const QByteArray expected = R"(<?xml version="1.0" encoding="utf-8"?>
<annotation>
    <folder/>
    <filename>photo.final.jpg</filename>
    <path>photo.final.jpg</path>
    <source>
        <database>Quillmark</database>
    </source>
    <size>
        <width>640</width>
        <height>480</height>
        <depth>3</depth>
    </size>
    <segmented>0</segmented>
    <object>
        <name>cat</name>
        <pose>Unspecified</pose>
        <truncated>0</truncated>
        <difficult>0</difficult>
        <occluded>0</occluded>
        <bndbox>
            <xmin>11</xmin>
            <ymin>20</ymin>
            <xmax>41</xmax>
            <ymax>60</ymax>
        </bndbox>
    </object>
</annotation>
)";
    const QByteArray actual = vocXmlBytes(entry, "photo.final.jpg");
    QCOMPARE(actual.split('\n'), expected.split('\n'));   // names the first differing line
    QCOMPARE(actual, expected);
}

void TestVocHandler::exportRectangles()
{
    const ImageEntry entry =
        image("/a.jpg", 100, 100,
              {box("neg", -0.5, 0, 10, 10), box("flipped", 50, 50, -20, -10), box("empty", 5, 5, 0, 10),
               polygon("poly", {{10, 10}, {30, 15}, {20, 40}}), keypoints("kp", {}, {{1, 2}, {5, 9}}, {}),
               point("pt", 3, 3), polygon("nopoints", {})});
    const QByteArray xml = vocXmlBytes(entry, "a.jpg");
    QVERIFY(xml.contains("<xmin>-1</xmin>"));
    QVERIFY(xml.contains("<name>flipped</name>"));
    QVERIFY(xml.contains("<xmin>30</xmin>\n            <ymin>40</ymin>\n            <xmax>50</xmax>"));
    QVERIFY(!xml.contains("<name>empty</name>"));
    QVERIFY(xml.contains("<xmin>10</xmin>\n            <ymin>10</ymin>\n            <xmax>30</xmax>\n"
                         "            <ymax>40</ymax>"));
    QVERIFY(xml.contains("<name>kp</name>"));
    QVERIFY(!xml.contains("<name>pt</name>"));
    QVERIFY(!xml.contains("<name>nopoints</name>"));
    // Markup and forbidden characters in a class name stay well-formed.
    const QByteArray hostile = vocXmlBytes(image("/a.jpg", 1, 1, {box("a<b>&\x01" "c", 0, 0, 1, 1)}), "a.jpg");
    QVERIFY(hostile.contains("<name>a&lt;b>&amp;c</name>") || hostile.contains("<name>a&lt;b&gt;&amp;c</name>"));
}

void TestVocHandler::exportNamesAndFailures()
{
    Dataset dataset;
    dataset.addImage(image("/a/img.png", 10, 10, {box("x", 0, 0, 1, 1)}));
    dataset.addImage(image("/b/img.jpg", 10, 10, {box("y", 0, 0, 1, 1)}));
    QTemporaryDir dir;
    QList<QPair<int, int>> calls;
    QVERIFY(PascalVocHandler().exportDataset(dir.filePath("out"), dataset,
                                             [&](int c, int t) { calls.append({c, t}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"img.xml", "img_2.xml"}));
    QVERIFY(readFile(dir.filePath("out/img_2.xml")).contains("<filename>img_2.jpg</filename>"));
    QVERIFY(writeFile(dir.filePath("blocker"), "x"));
    QVERIFY(!PascalVocHandler().exportDataset(dir.filePath("blocker"), dataset, {}));
}

void TestVocHandler::importObjects()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("b.xml"), vocFile(R"(
        <filename>b.jpg</filename><size><width> 64 </width><height>48</height></size>
        <object><name> dog </name><bndbox><xmin>50</xmin><ymin>5</ymin><xmax>10</xmax><ymax>25</ymax></bndbox></object>
        <object><name></name><bndbox><xmin>1</xmin><ymin>1</ymin><xmax>2</xmax><ymax>2</ymax></bndbox></object>
        <part><object><name>cat</name><bndbox><xmin>x</xmin><ymax>4</ymax></bndbox></object></part>
        <object><name>wide</name><bndbox><xmin>-3e38</xmin><ymin>0</ymin><xmax>3e38</xmax><ymax>1</ymax></bndbox></object>)")));
    QVERIFY(writeFile(dir.filePath("a.xml"), vocFile("<size><width>wide</width></size>")));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(PascalVocHandler().importDataset(dir.path(), dataset, [&](int c, int t) { calls.append({c, t}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(dataset.images.size(), 2);
    QCOMPARE(dataset.images.at(0).width, 0);
    const ImageEntry &b = dataset.images.at(1);
    QCOMPARE(b.width, 64);
    QCOMPARE(b.height, 48);
    // Huge edges whose width single precision cannot hold drop their object.
    QCOMPARE(b.labels.size(), 2);
    QCOMPARE(b.labels.at(0).className, QStringLiteral("dog"));
    QCOMPARE(b.labels.at(0).bbox, QRectF(10, 5, 40, 20));
    QCOMPARE(b.labels.at(1).className, QStringLiteral("cat"));
    QCOMPARE(b.labels.at(1).bbox, QRectF(0, 0, 0, 4));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"cat", "dog"}));
    QCOMPARE(dataset.classColors.value("dog"), classPalette[0]);   // classes in order of first use
}

void TestVocHandler::importImagePaths()
{
    QTemporaryDir dir;
    const QString absolute = dir.filePath("abs.png");
    QVERIFY(writeFile(absolute, "x"));
    QVERIFY(writeFile(dir.filePath("images/cat.jpg"), "x"));
    QVERIFY(writeFile(dir.filePath("1.xml"), vocFile("<path>" + absolute.toUtf8() + "</path>")));
    QVERIFY(writeFile(dir.filePath("2.xml"), vocFile("")));
    QVERIFY(writeFile(dir.filePath("cat.xml"), vocFile("")));
    QVERIFY(writeFile(dir.filePath("4.xml"), vocFile("<path>rel/x.jpg</path><filename>named.jpg</filename>")));
    QVERIFY(writeFile(dir.filePath("5.xml"), vocFile("<filename>/abs/missing.jpg</filename>")));
    Dataset dataset;
    QVERIFY(PascalVocHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 5);
    QCOMPARE(dataset.images.at(0).filePath, absolute);
    QCOMPARE(dataset.images.at(1).filePath, dir.filePath("2.jpg"));
    QCOMPARE(dataset.images.at(2).filePath, dir.filePath("named.jpg"));
    QCOMPARE(dataset.images.at(3).filePath, QStringLiteral("/abs/missing.jpg"));
    QCOMPARE(dataset.images.at(4).filePath, dir.filePath("images/cat.jpg"));
}

void TestVocHandler::importSkipsWhatIsNoVocFile()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("broken.xml"), "<annotation><object>"));
    QVERIFY(writeFile(dir.filePath("cvat.xml"), "<annotations><version>1.1</version></annotations>"));
    Dataset dataset;
    QVERIFY(!PascalVocHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
    QVERIFY(!PascalVocHandler().importDataset(dir.filePath("empty-or-missing"), dataset, {}));
}

void TestVocHandler::roundTrip()
{
    Dataset dataset;
    dataset.addImage(image("/data/a.jpg", 640, 480,
                           {box("cat", 10, 20, 30, 40), box("dog", 100, 100, 50, 60), box("cat", 0, 0, 640, 480)}));
    dataset.addImage(
        image("/data/b.jpg", 320, 240,
              {polygon("cat", {{10, 10}, {50, 12}, {30, 60}}), polygon("dog", {{0, 0}, {320, 120}, {0, 240}})}));
    QTemporaryDir dir;
    QVERIFY(PascalVocHandler().exportDataset(dir.path(), dataset, {}));
    Dataset back;
    QVERIFY(PascalVocHandler().importDataset(dir.path(), back, {}));
    QCOMPARE(back.images.size(), 2);
    QCOMPARE(back.images.at(0).labels.at(1).bbox, QRectF(100, 100, 50, 60));
    QCOMPARE(back.images.at(1).labels.at(0).kind, int(BoundingBox));
    QCOMPARE(back.images.at(1).labels.at(0).bbox, QRectF(10, 10, 40, 50));
    QCOMPARE(back.images.at(1).width, 320);
    // Shapes on the picture's border keep their edges.
    QCOMPARE(back.images.at(0).labels.at(2).bbox, QRectF(0, 0, 640, 480));
    QCOMPARE(back.images.at(1).labels.at(1).bbox, QRectF(0, 0, 320, 240));
}

void TestVocHandler::vocdevkitLayout()
{
    const QString devkit = QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/vocdevkit");
    const QString root = devkit + "/VOC2012";
    PascalVocHandler handler;
    QVERIFY(handler.canImport(root));   // Annotations/ beside JPEGImages/
    QVERIFY(handler.canImport(devkit)); // VOCdevkit holding VOC2012/
    QVERIFY(!handler.canImport(root + "/JPEGImages"));
    for (const QString &chosen : {root, devkit, root + "/Annotations"}) {
        Dataset dataset;
        QVERIFY(handler.importDataset(chosen, dataset, {}));
        QCOMPARE(dataset.images.size(), 2);
        for (const ImageEntry &e : dataset.images) {
            const QString expected = root + "/JPEGImages/" + QFileInfo(e.filePath).fileName();
            QCOMPARE(QFileInfo(e.filePath).canonicalFilePath(), QFileInfo(expected).canonicalFilePath());
            QCOMPARE(QImage(e.filePath).size(), QSize(e.width, e.height));
        }
        // The part of a person is no object of its own.
        QCOMPARE(dataset.images.at(0).labels.size(), 1);
        QCOMPARE(dataset.images.at(0).labels.first().bbox, QRectF(17, 10, 18, 25));
        QCOMPARE(dataset.images.at(1).labels.size(), 2);
        QCOMPARE(dataset.classColors.keys(), (QStringList{"aeroplane", "person"}));
    }
}

void TestVocHandler::objectFlagsTravelBothWays()
{
    Dataset dataset;
    QVERIFY(PascalVocHandler().importDataset(QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/vocdevkit/VOC2012"),
                                             dataset, {}));
    const QList<Annotation> &labels = dataset.images.at(1).labels;
    QVERIFY(labels.at(0).attributes.isEmpty()); // all flags 0
    QCOMPARE(labels.at(1).attributes, (QVariantMap{{"difficult", 1}, {"occluded", 1}, {"truncated", 1}}));

    QTemporaryDir dir;
    QVERIFY(PascalVocHandler().exportDataset(dir.path(), dataset, {}));
    QDomDocument written;
    QVERIFY(written.setContent(readFile(dir.filePath("2007_000032.xml"))));
    const QDomNodeList objects = written.documentElement().elementsByTagName("object");
    QCOMPARE(objects.size(), 2);
    for (const char *flag : {"truncated", "difficult", "occluded"}) {
        QCOMPARE(objects.at(0).firstChildElement(flag).text(), QStringLiteral("0"));
        QCOMPARE(objects.at(1).firstChildElement(flag).text(), QStringLiteral("1"));
    }
    Dataset back;
    QVERIFY(PascalVocHandler().importDataset(dir.path(), back, {}));
    QCOMPARE(back.images.at(1).labels.at(1).attributes, labels.at(1).attributes);
}

QM_TEST_MAIN(TestVocHandler)
#include "tst_vochandler.moc"
