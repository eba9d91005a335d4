#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/YoloLabelLines.h"

#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

Q_DECLARE_METATYPE(Quillmark::ImageEntry)

class TestYoloLines : public QObject {
    Q_OBJECT
private slots:
    void write_data();
    void write();
    void writeThroughTextStream();
    void read_data();
    void read();
    void readKeypointsAndPolygonBoxes();
    void readUnknownSize();
    void layoutFromYaml();
    void roundTripKeepsKinds_data();
    void roundTripKeepsKinds();
    void hostileFiles();
};

void TestYoloLines::write_data()
{
    QTest::addColumn<ImageEntry>("entry");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QByteArray>("text");
    const QStringList classes = {"cat", "dog"};
    QTest::newRow("box") << image("a.jpg", 200, 100, {box("cat", 30, 40, 40, 20)}) << classes
                         << QByteArray("0 0.25 0.5 0.2 0.2\n");
    QTest::newRow("missing class is id 0") << image("a.jpg", 200, 100, {box("bird", 30, 40, 40, 20)}) << classes
                                           << QByteArray("0 0.25 0.5 0.2 0.2\n");
    QTest::newRow("second class") << image("a.jpg", 200, 100, {box("dog", 0, 0, 200, 100)}) << classes
                                  << QByteArray("1 0.5 0.5 1 1\n");
    QTest::newRow("polygon") << image("a.jpg", 100, 50, {polygon("dog", {{10, 5}, {90, 5}, {50, 45}})}) << classes
                             << QByteArray("1 0.1 0.1 0.9 0.1 0.5 0.9\n");
    // A box beside a polygon is written as its four corners: a file never
    // mixes the two line forms.
    QTest::newRow("unknown size writes pixels")
        << image("a.jpg", 0, 0, {box("cat", 30, 40, 40, 20), polygon("cat", {{10, 5}, {90, 5}, {50, 45}})}) << classes
        << QByteArray("0 30 40 70 40 70 60 30 60\n0 10 5 90 5 50 45\n");
    QTest::newRow("width unknown, height known")
        << image("a.jpg", 0, 100, {box("cat", 30, 40, 40, 20), polygon("cat", {{10, 50}, {90, 50}, {50, 100}})})
        << classes << QByteArray("0 30 0.4 70 0.4 70 0.6 30 0.6\n0 10 0.5 90 0.5 50 1.0\n");
    // Vertices on the border keep a decimal point, so that no polygon field
    // reads as a keypoint visibility.
    QTest::newRow("polygon on the border")
        << image("a.jpg", 100, 50, {polygon("cat", {{0, 0}, {100, 0}, {100, 50}, {50, 50}})}) << classes
        << QByteArray("0 0.0 0.0 1.0 0.0 1.0 1.0 0.5 1.0\n");
    QTest::newRow("keypoints pad visibility with 2")
        << image("a.jpg", 100, 100, {keypoints("cat", {10, 10, 20, 20}, {{10, 10}, {20, 20}, {30, 30}}, {1})})
        << classes << QByteArray("0 0.2 0.2 0.2 0.2 0.1 0.1 1 0.2 0.2 2 0.3 0.3 2\n");
    QTest::newRow("keypoints without points") << image("a.jpg", 100, 100, {keypoints("dog", {0, 0, 50, 50}, {}, {})})
                                              << classes << QByteArray("1 0.25 0.25 0.5 0.5\n");
    QTest::newRow("no line kinds")
        << image("a.jpg", 100, 100, {polyline("cat", {{1, 1}, {2, 2}}), point("cat", 5, 5), polygon("cat", {})})
        << classes << QByteArray();
    QTest::newRow("outside the image is not clamped") << image("a.jpg", 100, 100, {box("cat", -10, 90, 20, 20)})
                                                      << classes << QByteArray("0 0 1 0.2 0.2\n");
    QTest::newRow("six digits") << image("a.jpg", 3, 7, {box("cat", 1, 1, 1, 1)}) << classes
                                << QByteArray("0 0.5 0.214286 0.333333 0.142857\n");
}

void TestYoloLines::write()
{
    QFETCH(ImageEntry, entry);
    QFETCH(QStringList, classes);
    QFETCH(QByteArray, text);
    QByteArray out;
    appendYoloLabelLines(out, entry, yoloClassIndex(classes));
    QCOMPARE(out, text);
}

void TestYoloLines::writeThroughTextStream()
{
    QString text;
    QTextStream stream(&text);
    writeYoloLabelLines(stream, image("a.jpg", 200, 100, {box("dog", 30, 40, 40, 20)}), {"cat", "dog", "dog"});
    stream.flush();
    QCOMPARE(text, QStringLiteral("1 0.25 0.5 0.2 0.2\n"));
}

void TestYoloLines::read_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("classNames");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QRectF>("bbox");
    QTest::addColumn<int>("pointCount");
    const QStringList two = {"cat", "dog"};
    QTest::newRow("box") << QByteArray("1 0.25 0.5 0.2 0.2") << two << int(BoundingBox) << QRectF(30, 40, 40, 20) << 0;
    QTest::newRow("unknown id") << QByteArray("3 0.5 0.5 0.2 0.2") << two << int(BoundingBox)
                                << QRectF(80, 40, 40, 20) << 0;
    QTest::newRow("triangle") << QByteArray("0 0.1 0.1 0.9 0.1 0.5 0.9") << two << int(Polygon)
                              << QRectF(20, 10, 160, 80) << 3;
    QTest::newRow("six parts is a box") << QByteArray("0 0.5 0.5 0.2 0.2 0.9") << two << int(BoundingBox)
                                        << QRectF(80, 40, 40, 20) << 0;
    QTest::newRow("keypoints") << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2 0.6 0.6 2") << two << int(Keypoint)
                               << QRectF(80, 40, 40, 20) << 2;
    QTest::newRow("five-vertex polygon") << QByteArray("0 0.1 0.1 0.9 0.1 0.9 0.9 0.5 0.95 0.1 0.9") << two
                                         << int(Polygon) << QRectF(20, 10, 160, 85) << 5;
    QTest::newRow("runs of spaces and CRLF") << QByteArray("  1  0.25   0.5 0.2 0.2 \r") << two << int(BoundingBox)
                                             << QRectF(30, 40, 40, 20) << 0;
    QTest::newRow("tabs") << QByteArray("1\t0.25 \t0.5\t0.2\t0.2") << two << int(BoundingBox) << QRectF(30, 40, 40, 20)
                          << 0;
    QTest::newRow("tab-separated keypoints") << QByteArray("0\t0.5\t0.5\t0.2\t0.2\t0.4\t0.4\t2\t0.6\t0.6\t2") << two
                                             << int(Keypoint) << QRectF(80, 40, 40, 20) << 2;
    QTest::newRow("border polygon as written") << QByteArray("0 0.0 0.0 1.0 0.0 1.0 1.0 0.0 1.0 0.5 0.0") << two
                                               << int(Polygon) << QRectF(0, 0, 200, 100) << 5;
    QTest::newRow("not a number reads 0") << QByteArray("x 0.5 y 0.2 0.2") << two << int(BoundingBox)
                                          << QRectF(80, -10, 40, 20) << 0;
    QTest::newRow("non-finite reads 0") << QByteArray("0 nan 0.5 inf 0.2") << two << int(BoundingBox)
                                        << QRectF(0, 40, 0, 20) << 0;
    QTest::newRow("integral class id") << QByteArray("1.0 0.25 0.5 0.2 0.2") << two << int(BoundingBox)
                                       << QRectF(30, 40, 40, 20) << 0;
}

void TestYoloLines::read()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, classNames);
    QFETCH(int, kind);
    QFETCH(QRectF, bbox);
    QFETCH(int, pointCount);
    const QList<Annotation> labels = parseYoloLabelText(text, classNames, 200, 100);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().kind, kind);
    fuzzyCompareRect(labels.first().bbox, bbox);
    QCOMPARE(labels.first().points.size(), pointCount);
    QCOMPARE(labels.first().id, -1);
    QCOMPARE(labels.first().confidence, 1.0f);
}

void TestYoloLines::readKeypointsAndPolygonBoxes()
{
    const QList<Annotation> labels = parseYoloLabelText(
        "\xEF\xBB\xBF" "3 0.5 0.5 0.2 0.2\n-1 0.5 0.5 0.2 0.2\n\n0 0.5 0.5\n0 0.1 0.2 0.3\n"
        "0 0.5 0.5 0.2 0.2 0.4 0.4 1 0.6 0.6 0\n",
        {"cat", "dog"}, 200, 100);
    QCOMPARE(labels.size(), 3);   // the short lines are skipped
    QCOMPARE(labels.at(0).className, QStringLiteral("class_3"));
    QCOMPARE(labels.at(1).className, QStringLiteral("class_-1"));
    const Annotation &kp = labels.at(2);
    QCOMPARE(kp.kind, int(Keypoint));
    QVERIFY(pointsClose(kp.points, {{80, 40}, {120, 60}}));
    QCOMPARE(kp.keypointVis, (QList<int>{1, 0}));
}

void TestYoloLines::readUnknownSize()
{
    const QList<Annotation> labels =
        parseYoloLabelText("0 0.5 0.5 0.2 0.2\n0 0.1 0.1 0.9 0.1 0.5 0.9\n", {"cat"}, 0, 0);
    QCOMPARE(labels.size(), 2);
    fuzzyCompareRect(labels.at(0).bbox, QRectF(0.4, 0.4, 0.2, 0.2));
    QVERIFY(pointsClose(labels.at(1).points, {{0.1, 0.1}, {0.9, 0.1}, {0.5, 0.9}}));
}

void TestYoloLines::layoutFromYaml()
{
    const QByteArray polygon5 = "0 0.1 0.1 0.9 0.1 1 1 2 2 0 1\n";   // 11 parts, ambiguous
    YoloDataYaml yaml;
    QCOMPARE(parseYoloLabelText(polygon5, {}, 1, 1, YoloLineLayout::fromDataYaml(yaml)).first().kind,
             int(Keypoint));
    yaml.path = "data.yaml";
    QCOMPARE(parseYoloLabelText(polygon5, {}, 1, 1, YoloLineLayout::fromDataYaml(yaml)).first().kind, int(Polygon));
    yaml.keypointCount = 2;
    yaml.keypointDims = 3;
    QCOMPARE(parseYoloLabelText(polygon5, {}, 1, 1, YoloLineLayout::fromDataYaml(yaml)).first().kind,
             int(Keypoint));

    // kpt_shape with two dimensions: x y pairs, every keypoint visible.
    yaml.keypointCount = 3;
    yaml.keypointDims = 2;
    const Annotation a =
        parseYoloLabelText("0 0.5 0.5 1 1 0.1 0.2 0.3 0.4 0.5 0.6\n", {}, 10, 10, YoloLineLayout::fromDataYaml(yaml))
            .first();
    QCOMPARE(a.kind, int(Keypoint));
    QVERIFY(pointsClose(a.points, {{1, 2}, {3, 4}, {5, 6}}));
    QCOMPARE(a.keypointVis, (QList<int>{2, 2, 2}));

    // kpt_shape names the largest set; a smaller set of another skeleton in
    // the same dataset is still a keypoint set, a polygon still a polygon.
    yaml.keypointCount = 3;
    yaml.keypointDims = 3;
    const QList<Annotation> mixed = parseYoloLabelText(
        "0 0.5 0.5 1 1 0.1 0.2 2 0.3 0.4 1 0.5 0.6 0\n0 0.5 0.5 1 1 0.1 0.2 2 0.3 0.4 0\n" + polygon5
            + "0 0.1 0.1 0.9 0.1 0.9 0.9 0.5 0.95 0.1 0.9\n",
        {}, 10, 10, YoloLineLayout::fromDataYaml(yaml));
    QCOMPARE(mixed.size(), 4);
    QCOMPARE(mixed.at(0).points.size(), 3);
    QCOMPARE(mixed.at(1).kind, int(Keypoint));
    QCOMPARE(mixed.at(1).keypointVis, (QList<int>{2, 0}));
    QCOMPARE(mixed.at(2).kind, int(Keypoint));   // 11 parts whose visibilities fit
    QCOMPARE(mixed.at(3).kind, int(Polygon));
}

void TestYoloLines::roundTripKeepsKinds_data()
{
    QTest::addColumn<QList<QPointF>>("outline");
    for (int n : {3, 4, 5, 8, 11, 12})
        QTest::newRow(qPrintable(QStringLiteral("%1 vertices").arg(n))) << ring(n, 320, 240, 100);
    // On the picture's border, where the fields of a keypoint line's
    // visibilities would read 0 and 1.
    QTest::newRow("5 vertices on the border") << QList<QPointF>{{320, 0}, {640, 240}, {320, 480}, {0, 480}, {0, 0}};
    QTest::newRow("8 vertices on the border")
        << QList<QPointF>{{0, 0}, {320, 0}, {640, 0}, {0, 240}, {640, 480}, {320, 480}, {0, 480}, {0, 480}};
    QTest::newRow("whole picture") << QList<QPointF>{{0, 0}, {640, 0}, {640, 480}, {0, 480}};
    QTest::newRow("whole picture, from the bottom") << QList<QPointF>{{0, 480}, {640, 480}, {640, 0}, {0, 0}};
}

void TestYoloLines::roundTripKeepsKinds()
{
    QFETCH(QList<QPointF>, outline);
    const ImageEntry entry = image("a.jpg", 640, 480,
                                   {polygon("dog", outline), box("cat", 0, 0, 640, 480),
                                    keypoints("cat", {0, 0, 50, 80}, {{0, 0}, {120, 150}, {130, 170}}, {2, 1, 0})});
    QByteArray text;
    appendYoloLabelLines(text, entry, yoloClassIndex({"cat", "dog"}));
    // Without any data.yaml, the guess must still tell polygons from keypoints.
    const QList<Annotation> back = parseYoloLabelText(text, {"cat", "dog"}, 640, 480);
    QCOMPARE(back.size(), 3);
    // An outline that is a rectangle from its top left corner clockwise is
    // the very line of a box: it reads back as one, of the same extent.
    const bool writtenAsBox = outline == QList<QPointF>{{0, 0}, {640, 0}, {640, 480}, {0, 480}};
    QCOMPARE(back.at(0).kind, int(writtenAsBox ? BoundingBox : Polygon));
    if (writtenAsBox)
        fuzzyCompareRect(back.at(0).bbox, entry.labels.at(0).bbox, 0.01);
    else
        QVERIFY(pointsClose(back.at(0).points, entry.labels.at(0).points, 0.01));
    // The box beside the polygon, written as its four corners, comes back as
    // the box.
    QCOMPARE(back.at(1).kind, int(BoundingBox));
    QVERIFY(back.at(1).points.isEmpty());
    fuzzyCompareRect(back.at(1).bbox, entry.labels.at(1).bbox, 0.01);
    QCOMPARE(back.at(2).kind, int(Keypoint));
    QCOMPARE(back.at(2).keypointVis, entry.labels.at(2).keypointVis);
    QVERIFY(pointsClose(back.at(2).points, entry.labels.at(2).points, 0.01));
}

void TestYoloLines::hostileFiles()
{
    QTemporaryDir dir;
    QCOMPARE(readYoloLabelFile(dir.filePath("missing.txt"), {}, 1, 1).size(), 0);
    // Binary garbage: no crash, nothing usable.
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131) % 256));
    QVERIFY(writeFile(dir.filePath("garbage.txt"), garbage));
    readYoloLabelFile(dir.filePath("garbage.txt"), {}, 10, 10);
    // A single line of a million fields is read as one polygon without trouble.
    QByteArray wide = "0";
    for (int i = 0; i < 1000000; ++i)
        wide += " 0.5";
    const QList<Annotation> labels = parseYoloLabelText(wide, {}, 10, 10);
    QCOMPARE(labels.size(), 1);
    // Numbers that fit a float but overflow once scaled to the image: the
    // line is skipped rather than read as infinite geometry.
    const QList<Annotation> huge = parseYoloLabelText(
        "0 3e38 0.5 3e38 0.2\n0 0.5 0.5 0.2 0.2 3e38 -3e38 2\n0 0.1 0.1 3e38 0.1 0.5 0.9\n0 0.5 0.5 0.2 0.2\n",
        {}, 640, 480);
    QCOMPARE(huge.size(), 1);
    fuzzyCompareRect(huge.first().bbox, QRectF(256, 192, 128, 96));
    // Unscaled (size unknown) the same numbers stay finite and are kept.
    QCOMPARE(parseYoloLabelText("0 3e38 0.5 3e38 0.2\n", {}, 0, 0).size(), 1);
}

QM_TEST_MAIN(TestYoloLines)
#include "tst_yololines.moc"
