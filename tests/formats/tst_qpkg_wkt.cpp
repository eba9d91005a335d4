#include "QmTest.h"

#include "formats/QpkgHandler.h"
#include "formats/WktGeometry.h"

#include <limits>

Q_DECLARE_METATYPE(Quillmark::Annotation)

using namespace Quillmark;

namespace {

Annotation shape(int kind, const QList<QPointF> &points, const QRectF &box = QRectF())
{
    Annotation a;
    a.kind = kind;
    a.points = points;
    a.bbox = box;
    return a;
}

} // namespace

class TestQpkgWkt : public QObject {
    Q_OBJECT
private slots:
    void coordinates_data();
    void coordinates();
    void annotationGeometry_data();
    void annotationGeometry();
    void parsing_data();
    void parsing();
    void annotationFromRow_data();
    void annotationFromRow();
    void attributesAndVisibility();
    void storedBox_data();
    void storedBox();
    void plainFileName_data();
    void plainFileName();
};

void TestQpkgWkt::coordinates_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QString>("text");
    QTest::newRow("fixed four decimals") << 12.5 << 7.0 << "12.5000 7.0000";
    QTest::newRow("rounded") << 1.23456 << -0.00004 << "1.2346 -0.0000";
    QTest::newRow("large") << 123456.0 << 0.1 << "123456.0000 0.1000";
}

void TestQpkgWkt::coordinates()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QString, text);
    QCOMPARE(wktCoordinate(x, y), text);
}

void TestQpkgWkt::annotationGeometry_data()
{
    QTest::addColumn<Annotation>("annotation");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("geometry");

    QTest::newRow("box ring, closed")
        << shape(BoundingBox, {}, QRectF(1, 2, 3, 4)) << "BBOX"
        << "POLYGON ((1.0000 2.0000, 4.0000 2.0000, 4.0000 6.0000, 1.0000 6.0000, 1.0000 2.0000))";
    QTest::newRow("box of zero height is not closed twice")
        << shape(BoundingBox, {}, QRectF(1, 2, 3, 0)) << "BBOX"
        << "POLYGON ((1.0000 2.0000, 4.0000 2.0000, 4.0000 2.0000, 1.0000 2.0000))";
    QTest::newRow("polygon gets closed")
        << shape(Polygon, {{0, 0}, {2, 0}, {1, 1.5}}) << "POLYGON"
        << "POLYGON ((0.0000 0.0000, 2.0000 0.0000, 1.0000 1.5000, 0.0000 0.0000))";
    QTest::newRow("closed polygon stays as it is")
        << shape(Polygon, {{0, 0}, {2, 0}, {1, 1}, {0, 0}}) << "POLYGON"
        << "POLYGON ((0.0000 0.0000, 2.0000 0.0000, 1.0000 1.0000, 0.0000 0.0000))";
    QTest::newRow("empty polygon") << shape(Polygon, {}) << "POLYGON" << "";
    QTest::newRow("polyline") << shape(Polyline, {{1, 2}, {3, 4}}) << "POLYLINE"
                              << "LINESTRING (1.0000 2.0000, 3.0000 4.0000)";
    QTest::newRow("empty polyline") << shape(Polyline, {}) << "POLYLINE" << "LINESTRING ()";
    QTest::newRow("point") << shape(Point, {{5, 6}, {9, 9}}) << "POINT" << "POINT (5.0000 6.0000)";
    QTest::newRow("point from box centre")
        << shape(Point, {}, QRectF(0, 0, 4, 2)) << "POINT" << "POINT (2.0000 1.0000)";
    QTest::newRow("point without anything") << shape(Point, {}, QRectF(3, 3, 0, 2)) << "POINT" << "";
    QTest::newRow("keypoints") << shape(Keypoint, {{1, 2}, {3, 4}}) << "KEYPOINT"
                               << "MULTIPOINT ((1.0000 2.0000), (3.0000 4.0000))";
    QTest::newRow("no keypoints") << shape(Keypoint, {}) << "KEYPOINT" << "MULTIPOINT ()";
    QTest::newRow("unknown kind") << shape(9, {{1, 1}}, QRectF(0, 0, 1, 1)) << "BBOX" << "";
}

void TestQpkgWkt::annotationGeometry()
{
    QFETCH(Annotation, annotation);
    QFETCH(QString, type);
    QFETCH(QString, geometry);
    QCOMPARE(wktGeometryType(annotation.kind), type);
    QCOMPARE(annotationToWkt(annotation), geometry);
}

void TestQpkgWkt::parsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QPointF>>("points");
    QTest::newRow("empty") << QString() << QList<QPointF>{};
    QTest::newRow("own polygon")
        << "POLYGON ((1.0000 2.0000, 4.0000 2.0000, 1.0000 2.0000))"
        << QList<QPointF>{{1, 2}, {4, 2}, {1, 2}};
    QTest::newRow("own multipoint") << "MULTIPOINT ((1.5000 2.0000), (-3.0000 4.2500))"
                                    << QList<QPointF>{{1.5, 2}, {-3, 4.25}};
    QTest::newRow("own point") << "POINT (7.0000 8.0000)" << QList<QPointF>{{7, 8}};
    QTest::newRow("lower case, no spaces") << "polygon((1 2,3 4))" << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("extra blanks and a third number")
        << "  MULTIPOINT ( (1   2) ,\t(3 4 5) )" << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("short parts skipped") << "1 2, 3, , 4 5" << QList<QPointF>{{1, 2}, {4, 5}};
    QTest::newRow("non-numbers count as zero") << "1 -, + 5" << QList<QPointF>{{1, 0}, {0, 5}};
    QTest::newRow("only punctuation") << ",,, ()" << QList<QPointF>{};
    // Too large for a double: infinite, so that the reader drops the shape
    // rather than keep it at 0.
    QTest::newRow("overflow is infinite")
        << QString(QStringLiteral("1") + QString(400, QLatin1Char('0')) + QStringLiteral(" 2"))
        << QList<QPointF>{{std::numeric_limits<double>::infinity(), 2}};
    QTest::newRow("exponents") << "POINT (1.5e2 2E-1), (-1e+1 3e0)" << QList<QPointF>{{150, 0.2}, {-10, 3}};
    QTest::newRow("letters beside digits") << "POINT (1e 2x), e5 E" << QList<QPointF>{{1, 2}};
}

void TestQpkgWkt::parsing()
{
    QFETCH(QString, text);
    QFETCH(QList<QPointF>, points);
    const QList<QPointF> parsed = parseWktPoints(text);
    QCOMPARE(parsed.size(), points.size());
    // Exact, and infinities compare as equal (QPointF's own comparison is fuzzy).
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        QCOMPARE(parsed.at(i).x(), points.at(i).x());
        QCOMPARE(parsed.at(i).y(), points.at(i).y());
    }
}

void TestQpkgWkt::annotationFromRow_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("geometry");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<QList<QPointF>>("points");

    QTest::newRow("box from ring") << "BBOX" << "POLYGON ((4 2, 1 2, 1 6, 4 6, 4 2))" << int(BoundingBox)
                                   << QRectF(1, 2, 3, 4) << QList<QPointF>{};
    QTest::newRow("box with too few points") << "BBOX" << "POLYGON ((1 2, 3 4, 5 6))" << int(BoundingBox)
                                             << QRectF() << QList<QPointF>{};
    QTest::newRow("polygon drops its closing point")
        << "POLYGON" << "POLYGON ((0 0, 2 0, 1 1, 0 0))" << int(Polygon) << QRectF()
        << QList<QPointF>{{0, 0}, {2, 0}, {1, 1}};
    QTest::newRow("one-point polygon kept") << "POLYGON" << "POLYGON ((3 3))" << int(Polygon) << QRectF()
                                            << QList<QPointF>{{3, 3}};
    QTest::newRow("empty polygon") << "POLYGON" << "" << int(Polygon) << QRectF() << QList<QPointF>{};
    QTest::newRow("polyline") << "POLYLINE" << "LINESTRING (1 2, 3 4)" << int(Polyline) << QRectF()
                              << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("point gets a unit box") << "POINT" << "POINT (7 8)" << int(Point) << QRectF(7, 8, 1, 1)
                                           << QList<QPointF>{{7, 8}};
    QTest::newRow("keypoints") << "KEYPOINT" << "MULTIPOINT ((1 2), (3 4))" << int(Keypoint) << QRectF()
                               << QList<QPointF>{{1, 2}, {3, 4}};
    QTest::newRow("type is case-sensitive") << "bbox" << "POLYGON ((0 0, 1 0, 1 1, 0 1))" << int(BoundingBox)
                                            << QRectF() << QList<QPointF>{};
    QTest::newRow("null type") << QString() << "POINT (1 1)" << int(BoundingBox) << QRectF()
                               << QList<QPointF>{};
}

void TestQpkgWkt::annotationFromRow()
{
    QFETCH(QString, type);
    QFETCH(QString, geometry);
    QFETCH(int, kind);
    QFETCH(QRectF, box);
    QFETCH(QList<QPointF>, points);
    const Annotation a = QpkgHandler::annotationFromRow(type, geometry, QStringLiteral("car"), 0.75f, QString(), 42);
    QCOMPARE(a.kind, kind);
    QCOMPARE(a.bbox, box);
    QCOMPARE(a.points, points);
    QCOMPARE(a.id, 42);
    QCOMPARE(a.className, QStringLiteral("car"));
    QCOMPARE(a.confidence, 0.75f);
}

void TestQpkgWkt::attributesAndVisibility()
{
    const QString json = QStringLiteral(R"({"visibility":[2,1,0],"pose":"standing","score":0.5,"flag":true})");
    const Annotation keypoints =
        QpkgHandler::annotationFromRow("KEYPOINT", "MULTIPOINT ((1 1), (2 2), (3 3))", "person", 1, json, 1);
    QCOMPARE(keypoints.keypointVis, (QList<int>{2, 1, 0}));
    const QVariantMap expected{{"pose", "standing"}, {"score", 0.5}, {"flag", true}};
    QCOMPARE(keypoints.attributes, expected);

    // Only keypoint rows turn "visibility" into the visibility list.
    const Annotation box = QpkgHandler::annotationFromRow("BBOX", "", "car", 1, json, 1);
    QVERIFY(box.keypointVis.isEmpty());
    QCOMPARE(box.attributes.value("visibility").toList().size(), 3);

    for (const QString &bad : {QStringLiteral("[1,2]"), QStringLiteral("{not json"), QStringLiteral("3")})
        QVERIFY(QpkgHandler::annotationFromRow("BBOX", "", "car", 1, bad, 1).attributes.isEmpty());
}

void TestQpkgWkt::storedBox_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QRectF>("box");
    QTest::addColumn<QVariantMap>("left"); // the attributes that remain
    QTest::newRow("polygon") << "POLYGON"
                             << R"({"quillmark:box":[0.5,1,4.5,3.25],"note":"x"})" << QRectF(0.5, 1, 4.5, 3.25)
                             << QVariantMap{{"note", "x"}};
    QTest::newRow("polyline") << "POLYLINE"
                              << R"({"quillmark:box":[1,1,4,3]})" << QRectF(1, 1, 4, 3) << QVariantMap();
    QTest::newRow("keypoints") << "KEYPOINT"
                               << R"({"quillmark:box":[-2,0,40,80],"visibility":[2,0]})" << QRectF(-2, 0, 40, 80)
                               << QVariantMap();
    // Packages of earlier versions kept the box as "bbox": taken where it
    // holds the points (an unlabelled keypoint left out).
    QTest::newRow("earlier polygon") << "POLYGON"
                                     << R"({"bbox":[0.5,1,4.5,3.25],"note":"x"})" << QRectF(0.5, 1, 4.5, 3.25)
                                     << QVariantMap{{"note", "x"}};
    QTest::newRow("earlier keypoints") << "KEYPOINT"
                                       << R"({"bbox":[0,0,2,2],"visibility":[2,0]})" << QRectF(0, 0, 2, 2)
                                       << QVariantMap();
    // Another tool's "bbox" that is no box of the points stays its attribute.
    QTest::newRow("foreign bbox") << "POLYGON"
                                  << R"({"bbox":[100,100,5,5]})" << QRectF()
                                  << QVariantMap{{"bbox", QVariantList{100, 100, 5, 5}}};
    QTest::newRow("foreign bbox text") << "KEYPOINT"
                                       << R"({"bbox":"person-box-7"})" << QRectF()
                                       << QVariantMap{{"bbox", "person-box-7"}};
    // Packages from before the box was stored, and members that are no box.
    QTest::newRow("older package") << "POLYGON"
                                   << "" << QRectF() << QVariantMap();
    QTest::newRow("three numbers") << "POLYGON"
                                   << R"({"quillmark:box":[1,2,3]})" << QRectF() << QVariantMap();
    QTest::newRow("text") << "KEYPOINT"
                          << R"({"quillmark:box":["1","2","3","4"]})" << QRectF() << QVariantMap();
    QTest::newRow("null member") << "POLYLINE"
                                 << R"({"quillmark:box":[1,null,3,4]})" << QRectF() << QVariantMap();
    QTest::newRow("huge") << "POLYGON"
                          << R"({"quillmark:box":[1e999,0,1,1]})" << QRectF() << QVariantMap();
    // A box row's own attribute of that name is a user attribute.
    QTest::newRow("box row") << "BBOX"
                             << R"({"bbox":[1,2,3,4]})" << QRectF(1, 1, 4, 3)
                             << QVariantMap{{"bbox", QVariantList{1, 2, 3, 4}}};
}

void TestQpkgWkt::storedBox()
{
    QFETCH(QString, type);
    QFETCH(QString, attributes);
    QFETCH(QRectF, box);
    QFETCH(QVariantMap, left);
    const QString geometry = type == QLatin1String("KEYPOINT")   ? QStringLiteral("MULTIPOINT ((1 1), (5 4))")
                             : type == QLatin1String("POLYLINE") ? QStringLiteral("LINESTRING (1 1, 5 4)")
                                                                 : QStringLiteral("POLYGON ((1 1, 5 1, 5 4, 1 1))");
    const Annotation a = QpkgHandler::annotationFromRow(type, geometry, "car", 1, attributes, 1);
    QCOMPARE(a.bbox, box);
    QCOMPARE(a.attributes, left);
}

void TestQpkgWkt::plainFileName_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "a b.png" << "a b.png";
    QTest::newRow("absolute") << "/home/user/pics/a.png" << "a.png";
    QTest::newRow("climbing") << "../../secret.png" << "secret.png";
    QTest::newRow("backslashes") << "..\\..\\Windows\\win.ini" << "win.ini";
    QTest::newRow("folder only") << "pics/" << "";
    QTest::newRow("dot") << "." << "";
    QTest::newRow("dot dot") << "a/.." << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("embedded nul") << QString(QStringLiteral("ok.png") + QChar(0) + QStringLiteral("/../../x"))
                                  << "ok.png";
    QTest::newRow("quotes kept") << "it's \"quoted\".jpg" << "it's \"quoted\".jpg";
}

void TestQpkgWkt::plainFileName()
{
    QFETCH(QString, stored);
    QFETCH(QString, name);
    QCOMPARE(QpkgHandler::plainFileName(stored), name);
}

QM_TEST_MAIN(TestQpkgWkt)
#include "tst_qpkg_wkt.moc"
