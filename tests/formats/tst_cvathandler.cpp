#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/AnnotationGeometry.h"
#include "formats/CvatHandler.h"

#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

namespace {

QByteArray cvatFile(const QByteArray &images)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<annotations>\n  <version>1.1</version>\n" + images
           + "\n</annotations>\n";
}

} // namespace

class TestCvatHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void parsePoints_data();
    void parsePoints();
    void exactBytesOfSmallExport();
    void exportPathsAndFailures();
    void importShapes();
    void importEllipsesAndMasks();
    void importChoosesFile();
    void importFailures_data();
    void importFailures();
    void roundTrip();
    void cvatExportForImages();
    void exportForVideoIsNotImported();
    void groupsOfOneLabelAreOneObject();
    void ownObjectsOfSeveralPartsRoundTrip();
};

void TestCvatHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("cvat") << cvatFile(R"(<image id="0" name="a.jpg"/>)") << true;
    QTest::newRow("version after meta") << QByteArray("<annotations><meta/><version>1.1</version><image name=\"a\"/>")
                                        << true;
    QTest::newRow("version outside the root")
        << QByteArray("<version>1.1</version><annotations><image name=\"a\"/>") << false;
    QTest::newRow("no image") << cvatFile("") << false;
    QTest::newRow("video export")
        << cvatFile(R"(<track id="0" label="car"><box frame="0" xtl="1" ytl="1" xbr="2" ybr="2"/></track>
  <image name="after the tracks"/>)")
        << false;
    QTest::newRow("version beyond 512 bytes") << "<annotations>" + QByteArray(600, ' ') + "<version>" << false;
    QTest::newRow("voc") << QByteArray("<annotation><filename>a.jpg</filename></annotation>") << false;
}

void TestCvatHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("task.xml"), content));
    CvatHandler handler;
    QCOMPARE(handler.canImport(dir.path()), detected);
    QCOMPARE(handler.canImport(dir.filePath("task.xml")), detected);
}

void TestCvatHandler::parsePoints_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QPointF>>("points");
    QTest::newRow("three") << "1,2;;3,4;5,6" << QList<QPointF>{{1, 2}, {3, 4}, {5, 6}};
    QTest::newRow("three parts skipped") << "7,8,9;1,1" << QList<QPointF>{{1, 1}};
    QTest::newRow("spaces and junk") << " 1.5 , x ;2,3" << QList<QPointF>{{1.5, 0}, {2, 3}};
    QTest::newRow("empty") << "" << QList<QPointF>{};
}

void TestCvatHandler::parsePoints()
{
    QFETCH(QString, text);
    QFETCH(QList<QPointF>, points);
    QCOMPARE(parseCvatPoints(text), points);
}

void TestCvatHandler::exactBytesOfSmallExport()
{
    Dataset dataset;
    ImageEntry entry = image("/data/a.jpg", 640, 480,
                             {box("car", 10, 20, 30.5, 40), polygon("road", {{10, 20}, {30, 20}, {30, 50}}),
                              point("pin", 5, 6), polygon("short", {{1, 1}, {2, 2}}),
                              keypoints("kp", {0, 0, 1, 1}, {{1, 1}}, {2})});
    entry.id = 17;
    dataset.addImage(entry);
    dataset.addClass("road", QColor("#123456"));
    // Every class in class order, with its colour: a stored one, else the one
    // the project gives it.
    QString labels;
    const QList<QPair<QString, QString>> classes = {
        {"road", "#123456"}, {"car", "#ff5757"}, {"pin", "#55c772"}, {"short", "#ffb23f"}, {"kp", "#b47fff"}};
    for (const auto &[name, colour] : classes) {
        labels += QStringLiteral("        <label>\n          <name>%1</name>\n          <color>%2</color>\n"
                                 "          <type>any</type>\n          <attributes/>\n        </label>\n")
                      .arg(name, colour);
    }
    const QByteArray expected = R"(<?xml version="1.0" encoding="utf-8"?>
<annotations>
  <version>1.1</version>
  <meta>
    <task>
      <name>Quillmark Export</name>
      <size>1</size>
      <mode>annotation</mode>
      <source>Quillmark</source>
      <labels>
)" + labels.toUtf8() + R"(      </labels>
    </task>
  </meta>
  <image id="0" name="a.jpg" width="640" height="480">
    <box label="car" occluded="0" xtl="10.00" ytl="20.00" xbr="40.50" ybr="60.00" z_order="0"/>
    <polygon label="road" occluded="0" points="10.00,20.00;30.00,20.00;30.00,50.00" z_order="0"/>
    <points label="pin" occluded="0" points="5.00,6.00" z_order="0"/>
  </image>
</annotations>
)";
    const QByteArray actual = cvatXmlBytes(dataset);
    QCOMPARE(actual.split('\n'), expected.split('\n'));
    QCOMPARE(actual, expected);

    // A point without its own coordinates is written at its box's corner.
    Annotation bare = point("pin", 0, 0);
    bare.points.clear();
    bare.bbox = QRectF(7, 8, 0, 0);
    Dataset other;
    other.addImage(image("/b.jpg", 10, 10, {bare}));
    QVERIFY(cvatXmlBytes(other).contains("points=\"7.00,8.00\""));
}

void TestCvatHandler::exportPathsAndFailures()
{
    Dataset dataset;
    dataset.addImage(image("/x/a.jpg", 1, 1));
    dataset.addImage(image("/y/a.jpg", 1, 1));
    QTemporaryDir dir;
    QList<QPair<int, int>> calls;
    QVERIFY(CvatHandler().exportDataset(dir.filePath("out"), dataset, [&](int c, int t) { calls.append({c, t}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    const QByteArray xml = readFile(dir.filePath("out/annotations.xml"));
    QVERIFY(xml.contains("name=\"a.jpg\""));
    QVERIFY(xml.contains("name=\"a_2.jpg\""));
    QVERIFY(CvatHandler().exportDataset(dir.filePath("other/TASK.XML"), dataset, {}));
    QVERIFY(QFileInfo::exists(dir.filePath("other/TASK.XML")));
    QVERIFY(writeFile(dir.filePath("blocker"), "x"));
    QVERIFY(!CvatHandler().exportDataset(dir.filePath("blocker"), dataset, {}));
    QVERIFY(!CvatHandler().exportDataset(dir.filePath("blocker/a.xml"), dataset, {}));
}

void TestCvatHandler::importShapes()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("images/b.jpg"), "x"));
    QVERIFY(writeFile(dir.filePath("task.xml"), cvatFile(R"(
  <meta><task><name>t</name></task></meta>
  <image id="5" name="sub/b.jpg" width="64" height="oops">
    <points label="pin" points="1,1;2,2"/>
    <polygon label="road" points="1,2;3,4"/>
    <polygon label="road" points="0,0;10,0;5,8"/>
    <box label="car" xtl="50" ytl="10" xbr="10" ybr="30" occluded="1"><attribute name="x">y</attribute></box>
    <box label="" xtl="0" ytl="0" xbr="1" ybr="1"/>
    <box label="wide" xtl="3e38" ytl="-3e38" xbr="-3e38" ybr="3e38"/>
    <polyline label="line" points="0,0;1,1"/>
  </image>
  <group><image name="" width="3" height="4"/></group>)")));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(CvatHandler().importDataset(dir.filePath("task.xml"), dataset,
                                        [&](int c, int t) { calls.append({c, t}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &b = dataset.images.at(0);
    QCOMPARE(b.id, 0);
    QCOMPARE(b.filePath, dir.filePath("images/b.jpg"));
    QCOMPARE(b.width, 64);
    QCOMPARE(b.height, 0);
    // Boxes, polygons, polylines, then points; huge edges whose size single
    // precision cannot hold drop their box.
    QCOMPARE(b.labels.size(), 5);
    QCOMPARE(b.labels.at(0).className, QStringLiteral("car"));
    QCOMPARE(b.labels.at(0).bbox, QRectF(10, 10, 40, 20));
    QCOMPARE(b.labels.at(0).attributes, (QVariantMap{{"occluded", 1}}));
    QCOMPARE(b.labels.at(1).kind, int(Polygon));
    QCOMPARE(b.labels.at(1).bbox, QRectF(0, 0, 10, 8));
    QCOMPARE(b.labels.at(2).kind, int(Polyline));
    QCOMPARE(b.labels.at(2).points, (QList<QPointF>{{0, 0}, {1, 1}}));
    QCOMPARE(b.labels.at(2).bbox, QRectF(0, 0, 1, 1));
    QCOMPARE(b.labels.at(3).kind, int(Point));
    QCOMPARE(b.labels.at(3).points, (QList<QPointF>{{1, 1}}));
    QCOMPARE(b.labels.at(3).bbox, QRectF(1, 1, 0, 0));
    QCOMPARE(b.labels.at(4).points, (QList<QPointF>{{2, 2}}));
    QCOMPARE(b.labels.at(4).bbox, QRectF(2, 2, 0, 0));
    QCOMPARE(dataset.images.at(1).filePath, QString());
    QCOMPARE(dataset.classColors.keys(), (QStringList{"car", "line", "pin", "road"}));
    QCOMPARE(dataset.classColors.value("car"), classPalette[0]);
    QCOMPARE(dataset.classColors.value("road"), classPalette[1]);
    QCOMPARE(dataset.classColors.value("line"), classPalette[2]);
}

// Ellipses and masks, as CVAT writes them for images, are objects too: an
// ellipse comes as the polygon of its outline, a mask as the box it covers.
// The pictures of a task whose files lay in folders keep them below images/.
void TestCvatHandler::importEllipsesAndMasks()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("images/day/wide.png"), 320, 200));
    QVERIFY(writeFile(dir.filePath("annotations.xml"), cvatFile(R"(
  <meta><task><name>t</name></task></meta>
  <image id="0" name="day/wide.png" subset="default" task_id="1" width="320" height="200">
    <ellipse label="ball" source="manual" occluded="0" cx="300" cy="100" rx="20" ry="10" z_order="0"/>
    <ellipse label="plate" source="manual" occluded="1" cx="50" cy="50" rx="20" ry="10" rotation="90" z_order="0"/>
    <mask label="sky" source="manual" occluded="0" rle="3, 5, 100" left="0" top="0" width="12" height="9" z_order="0"/>
    <ellipse label="flat" cx="5" cy="5" rx="0" ry="3"/>
  </image>)")));
    Dataset dataset;
    QVERIFY(CvatHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(dataset.images.first().filePath, dir.filePath("images/day/wide.png"));
    const QList<Annotation> &a = dataset.images.first().labels;
    QCOMPARE(a.size(), 3);
    QCOMPARE(a.at(0).className, QStringLiteral("sky"));
    QCOMPARE(a.at(0).kind, int(BoundingBox));
    QCOMPARE(a.at(0).bbox, QRectF(0, 0, 12, 9));
    // Touching the picture's right edge, as drawn.
    QCOMPARE(a.at(1).className, QStringLiteral("ball"));
    QCOMPARE(a.at(1).kind, int(Polygon));
    QVERIFY(a.at(1).points.size() >= 16);
    fuzzyCompareRect(a.at(1).bbox, QRectF(280, 90, 40, 20), 1e-9);
    for (const QPointF &p : a.at(1).points) {
        const double dx = (p.x() - 300) / 20, dy = (p.y() - 100) / 10;
        QVERIFY(qAbs(dx * dx + dy * dy - 1) < 1e-9);
    }
    // Turned a quarter: upright.
    QCOMPARE(a.at(2).className, QStringLiteral("plate"));
    fuzzyCompareRect(a.at(2).bbox, QRectF(40, 30, 20, 40), 1e-9);
    QCOMPARE(a.at(2).attributes, (QVariantMap{{"occluded", 1}}));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"ball", "plate", "sky"}));
}

void TestCvatHandler::importChoosesFile()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.xml"), "<other/>"));
    QVERIFY(writeFile(dir.filePath("b.xml"), cvatFile(R"(<image name="first.jpg"/>)")));
    QVERIFY(writeFile(dir.filePath("c.xml"), cvatFile(R"(<image name="second.jpg"/>)")));
    Dataset dataset;
    QVERIFY(CvatHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(QFileInfo(dataset.images.first().filePath).fileName(), QStringLiteral("first.jpg"));
}

void TestCvatHandler::importFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no image") << cvatFile("");
    QTest::newRow("wrong root") << QByteArray("<annotation><version/><image name=\"a\"/></annotation>");
    QTest::newRow("malformed after an image") << QByteArray("<annotations><version/><image name=\"a\"/><image");
    QTest::newRow("undeclared entity") << QByteArray("<annotations><version/><image name=\"&x;\"/></annotations>");
    QTest::newRow("entity bomb") << QByteArray(
        "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
        "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]>"
        "<annotations><version/><image name=\"&h;\"/></annotations>");
}

void TestCvatHandler::importFailures()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("task.xml"), content));
    Dataset dataset;
    QVERIFY(!CvatHandler().importDataset(dir.filePath("task.xml"), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
    QVERIFY(!CvatHandler().importDataset(dir.filePath("missing.xml"), dataset, {}));
}

void TestCvatHandler::roundTrip()
{
    Dataset dataset;
    dataset.addImage(image("/data/a.jpg", 640, 480,
                           {box("car", 10.25, 20, 30, 40), polygon("road", {{10, 20}, {30, 20.5}, {30, 50}}),
                            point("pin", 5, 6), box("car", 0, 0, 640, 480),
                            polygon("road", {{0, 0}, {640, 0}, {640, 480}}), polyline("lane", {{0, 480}, {640, 0}})}));
    QTemporaryDir dir;
    QVERIFY(CvatHandler().exportDataset(dir.path(), dataset, {}));
    Dataset back;
    QVERIFY(CvatHandler().importDataset(dir.path(), back, {}));
    const QList<Annotation> &labels = back.images.first().labels;
    QCOMPARE(labels.size(), 6); // boxes, polygons, polylines, points
    fuzzyCompareRect(labels.at(0).bbox, QRectF(10.25, 20, 30, 40));
    fuzzyCompareRect(labels.at(1).bbox, QRectF(0, 0, 640, 480));
    QVERIFY(pointsClose(labels.at(2).points, {{10, 20}, {30, 20.5}, {30, 50}}));
    QVERIFY(pointsClose(labels.at(3).points, {{0, 0}, {640, 0}, {640, 480}}));
    QCOMPARE(labels.at(4).kind, int(Polyline));
    QVERIFY(pointsClose(labels.at(4).points, {{0, 480}, {640, 0}}));
    QCOMPARE(labels.at(5).kind, int(Point));
    QVERIFY(pointsClose(labels.at(5).points, {{5, 6}}));
    fuzzyCompareRect(labels.at(5).bbox, QRectF(5, 6, 0, 0));
    QCOMPARE(back.images.first().width, 640);
}

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/") + name;
}

} // namespace

void TestCvatHandler::cvatExportForImages()
{
    CvatHandler handler;
    QVERIFY(handler.canImport(fixture("cvat-images")));
    Dataset dataset;
    QVERIFY(handler.importDataset(fixture("cvat-images/annotations.xml"), dataset, {}));
    QCOMPARE(dataset.images.size(), 2);
    for (const ImageEntry &e : dataset.images) {
        QCOMPARE(QFileInfo(e.filePath).canonicalFilePath(),
                 QFileInfo(fixture("cvat-images/images/") + QFileInfo(e.filePath).fileName()).canonicalFilePath());
        QVERIFY(QFileInfo(e.filePath).isFile());
    }

    const QList<Annotation> &street = dataset.images.at(0).labels;
    QCOMPARE(street.size(), 6); // boxes (one turned), polygons, polylines, points
    QCOMPARE(street.at(0).bbox, QRectF(10, 12, 20, 12));
    QVERIFY(street.at(0).attributes.isEmpty());
    // The box turned a quarter clockwise about its centre (30, 25).
    QCOMPARE(street.at(1).kind, int(Polygon));
    QVERIFY(pointsClose(street.at(1).points, {{35, 15}, {35, 35}, {25, 35}, {25, 15}}, 1e-9));
    fuzzyCompareRect(street.at(1).bbox, QRectF(25, 15, 10, 20), 1e-9);
    QCOMPARE(street.at(1).attributes, (QVariantMap{{"occluded", 1}}));
    QCOMPARE(street.at(2).kind, int(Polygon));
    QCOMPARE(street.at(3).kind, int(Polyline));
    QCOMPARE(street.at(3).points, (QList<QPointF>{{0, 40}, {32, 36.5}, {64, 40}}));
    QCOMPARE(street.at(3).bbox, QRectF(0, 36.5, 64, 3.5));
    QCOMPARE(street.at(4).kind, int(Point));
    QCOMPARE(street.at(4).points, (QList<QPointF>{{50, 5}}));
    QCOMPARE(street.at(5).points, (QList<QPointF>{{55.5, 6}}));

    // The skeleton is one person, its joints in the order of the meta part.
    const QList<Annotation> &people = dataset.images.at(1).labels;
    QCOMPARE(people.size(), 1);
    QCOMPARE(people.first().kind, int(Keypoint));
    QCOMPARE(people.first().className, QStringLiteral("person"));
    QCOMPARE(people.first().points, (QList<QPointF>{{30, 8}, {32, 25}, {40, 46}}));
    QCOMPARE(people.first().keypointVis, (QList<int>{2, 1, 0}));
    QCOMPARE(people.first().bbox, QRectF(30, 8, 2, 17)); // around the labelled joints
    QCOMPARE(dataset.classColors.keys(), (QStringList{"car", "lane", "person", "road", "sign"}));
    QCOMPARE(dataset.keypointSchema.objectClass, QStringLiteral("person"));
    QCOMPARE(dataset.keypointSchema.keypointNames, (QStringList{"head", "hip", "foot"}));
    QCOMPARE(dataset.keypointSchema.edges, (QList<QPair<int, int>>{{0, 1}, {1, 2}}));

    // Written back, polylines and points keep their elements, and the
    // occluded flag its value.
    const QByteArray xml = cvatXmlBytes(dataset);
    QVERIFY(xml.contains(
        R"(<polyline label="lane" occluded="0" points="0.00,40.00;32.00,36.50;64.00,40.00" z_order="0"/>)"));
    QVERIFY(xml.contains(R"(<points label="sign" occluded="0" points="55.50,6.00" z_order="0"/>)"));
    QVERIFY(
        xml.contains(R"(<polygon label="car" occluded="1" points="35.00,15.00;35.00,35.00;25.00,35.00;25.00,15.00")"));
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("annotations.xml"), xml));
    Dataset back;
    QVERIFY(handler.importDataset(dir.path(), back, {}));
    QCOMPARE(back.images.at(0).labels.size(), 6);
    QCOMPARE(back.images.at(0).labels.at(3).kind, int(Polyline));
}

void TestCvatHandler::exportForVideoIsNotImported()
{
    CvatHandler handler;
    QVERIFY(!handler.canImport(fixture("cvat-video")));
    QVERIFY(!handler.canImport(fixture("cvat-video/annotations.xml")));
    Dataset dataset;
    QVERIFY(!handler.importDataset(fixture("cvat-video/annotations.xml"), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

namespace {

// Each annotation as "class kind parts": the polygons an object of several
// parts holds, 0 for other kinds.
QStringList objectsOf(const QList<Annotation> &labels)
{
    QStringList objects;
    for (const Annotation &a : labels)
        objects.append(QStringLiteral("%1 %2 %3").arg(a.className).arg(a.kind).arg(objectParts(a).size()));
    return objects;
}

// The image elements of a document, without its meta part.
QByteArray imagesOf(const QByteArray &xml)
{
    return xml.mid(xml.indexOf("<image "));
}

} // namespace

// A file as CVAT writes it, shapes tied by group_id: the polygons of one
// label in one group are one object again; a box and a polygon of one person,
// polygons of two labels, an ellipse and a polygon, a line and a polygon, and
// polygons without a group stay shapes of their own.
void TestCvatHandler::groupsOfOneLabelAreOneObject()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("annotations.xml"), cvatFile(R"(  <meta>
    <task>
      <name>street</name>
      <size>1</size>
      <mode>annotation</mode>
      <labels>
        <label><name>person</name><color>#fa3253</color><type>any</type><attributes></attributes></label>
        <label><name>car</name><color>#34d1b7</color><type>any</type><attributes></attributes></label>
      </labels>
    </task>
  </meta>
  <image id="0" name="street.jpg" width="64" height="48">
    <box label="person" source="manual" occluded="0" xtl="2.00" ytl="2.00" xbr="20.00" ybr="28.00" z_order="0" group_id="1">
    </box>
    <polygon label="person" source="manual" occluded="0" points="3.00,3.00;18.00,3.00;10.00,25.00" z_order="0" group_id="1">
    </polygon>
    <polygon label="person" source="manual" occluded="0" points="30.00,2.00;40.00,2.00;35.00,10.00" z_order="0" group_id="2">
    </polygon>
    <polygon label="bag" source="manual" occluded="0" points="30.00,12.00;38.00,12.00;34.00,18.00" z_order="0" group_id="2">
    </polygon>
    <polygon label="car" source="manual" occluded="1" points="42.00,2.00;50.00,2.00;50.00,10.00;42.00,10.00" z_order="0" group_id="3">
      <attribute name="parked">true</attribute>
    </polygon>
    <polygon label="car" source="manual" occluded="0" points="52.00,2.00;62.00,2.00;62.00,12.00;52.00,12.00" z_order="0" group_id="3">
      <attribute name="parked">true</attribute>
    </polygon>
    <ellipse label="tree" source="manual" occluded="0" cx="20.00" cy="35.00" rx="4.00" ry="4.00" z_order="0" group_id="4">
    </ellipse>
    <polygon label="tree" source="manual" occluded="0" points="2.00,30.00;10.00,30.00;6.00,40.00" z_order="0" group_id="4">
    </polygon>
    <polygon label="lake" source="manual" occluded="0" points="30.00,30.00;40.00,30.00;35.00,40.00" z_order="0">
    </polygon>
    <polygon label="lake" source="manual" occluded="0" points="42.00,30.00;50.00,30.00;46.00,40.00" z_order="0">
    </polygon>
    <polyline label="road" source="manual" occluded="0" points="0.00,0.00;5.00,5.00" z_order="0" group_id="5">
    </polyline>
    <polygon label="road" source="manual" occluded="0" points="0.00,44.00;10.00,44.00;5.00,47.00" z_order="0" group_id="5">
    </polygon>
  </image>)")));
    Dataset dataset;
    QVERIFY(CvatHandler().importDataset(dir.filePath("annotations.xml"), dataset, {}));
    const QList<Annotation> &a = dataset.images.first().labels;
    QCOMPARE(objectsOf(a), (QStringList{"person 0 0", "person 1 1", "person 1 1", "bag 1 1", "car 1 2", "tree 1 1",
                                         "tree 1 1", "lake 1 1", "lake 1 1", "road 1 1", "road 2 0"}));
    // The larger part is the outline drawn, the parts in the file's order, the
    // box around them both; an occluded part makes the object occluded.
    const QList<QPointF> small{{42, 2}, {50, 2}, {50, 10}, {42, 10}};
    const QList<QPointF> large{{52, 2}, {62, 2}, {62, 12}, {52, 12}};
    QCOMPARE(a.at(4).points, large);
    QCOMPARE(objectParts(a.at(4)), (QList<QList<QPointF>>{small, large}));
    QCOMPARE(a.at(4).bbox, QRectF(42, 2, 20, 10));
    QCOMPARE(a.at(4).attributes.value("occluded").toInt(), 1);
}

// Our export writes an object of several polygons as polygons of one group;
// read back, it is that object again, and a second export writes the same
// shapes.
void TestCvatHandler::ownObjectsOfSeveralPartsRoundTrip()
{
    const QList<QPointF> left{{1, 1}, {11, 1}, {11, 11}, {1, 11}};
    const QList<QPointF> right{{21, 11}, {33.5, 11}, {33.5, 21}, {21, 21}};
    // As an import holds it: the larger part is the outline drawn.
    Annotation object = polygon("person", right);
    object.bbox = QRectF(1, 1, 32.5, 20);
    object.attributes.insert("coco:segmentation", QVariantList{QVariantList{1, 1, 11, 1, 11, 11, 1, 11},
                                                               QVariantList{21, 11, 33.5, 11, 33.5, 21, 21, 21}});
    object.attributes.insert("occluded", 1);
    Annotation second = object; // a second object of two parts in the picture
    second.attributes.remove("occluded");
    for (QPointF &p : second.points)
        p += QPointF(0, 20);
    second.attributes.insert("coco:segmentation", QVariantList{QVariantList{1, 21, 11, 21, 11, 31, 1, 31},
                                                               QVariantList{21, 31, 33.5, 31, 33.5, 41, 21, 41}});
    const QList<Annotation> labels{box("car", 2, 14, 9, 12), object, polygon("person", {{34, 2}, {40, 2}, {36, 9}}),
                                   second};
    Dataset dataset;
    dataset.addImage(image("/data/a.jpg", 41, 45, labels));
    const QByteArray first = cvatXmlBytes(dataset);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("annotations.xml"), first));

    Dataset back;
    QVERIFY(CvatHandler().importDataset(dir.filePath("annotations.xml"), back, {}));
    const QList<Annotation> &read = back.images.first().labels;
    QCOMPARE(objectsOf(read), objectsOf(labels));
    QCOMPARE(read.at(1).points, right);
    QCOMPARE(objectParts(read.at(1)), (QList<QList<QPointF>>{left, right}));
    QCOMPARE(read.at(1).bbox, QRectF(1, 1, 32.5, 20));
    QCOMPARE(read.at(1).attributes.value("occluded").toInt(), 1);
    QVERIFY(!read.at(3).attributes.contains("occluded"));
    QCOMPARE(imagesOf(cvatXmlBytes(back)), imagesOf(first));
}

QM_TEST_MAIN(TestCvatHandler)
#include "tst_cvathandler.moc"
