#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/QpkgHandler.h"
#include "formats/YoloLabelLines.h"
#include "model/ProjectFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

// The boxes that box-only formats write for shapes that are not boxes.
class TestAnnotationGeometry : public QObject {
    Q_OBJECT
private slots:
    void keypointBoxLeavesOutUnlabelledPoints();
    void keypointSetsThroughBoxFormats_data();
    void keypointSetsThroughBoxFormats();
    void objectsOfSeveralParts();
    void crowdRegions_data();
    void crowdRegions();
    void severalPartsJoinIntoOneOutline();
    void partsMadeToSearchForEverJoinAtOnce();
    void attributesOfAnyKindExport();
};

namespace {

// A person on a 640 x 480 picture, boxed at (90, 110) to (310, 410), whose
// second and fourth joints are not labelled and lie at the origin, as COCO and
// YOLO pose files keep them; the labelled joints span (100, 120) to (300, 400).
Annotation personWithUnlabelledJoints()
{
    return keypoints("person", QRectF(90, 110, 220, 300),
                     {QPointF(100, 120), QPointF(0, 0), QPointF(300, 400), QPointF(0, 0), QPointF(200, 250)},
                     {2, 0, 1, 0, 2});
}

const QRectF kPersonBox(90, 110, 220, 300);
const QRectF kLabelledBounds(100, 120, 200, 280);

} // namespace

void TestAnnotationGeometry::keypointBoxLeavesOutUnlabelledPoints()
{
    using Box = std::optional<QRectF>;
    QCOMPARE(annotationBox(personWithUnlabelledJoints()), Box(kLabelledBounds));
    // A point without a visibility counts as labelled.
    Annotation reaching = personWithUnlabelledJoints();
    reaching.points.append(QPointF(330, 200));
    QCOMPARE(annotationBox(reaching), Box(QRectF(100, 120, 230, 280)));
    // A person of a COCO file without any labelled joint keeps its box.
    Annotation none = personWithUnlabelledJoints();
    none.keypointVis = {0, 0, 0, 0, 0};
    QCOMPARE(annotationBox(none), Box(kPersonBox));
    // Stored without a box either: all points' bounds.
    none.bbox = QRectF();
    QCOMPARE(annotationBox(none), Box(QRectF(0, 0, 300, 400)));
    // A polygon through the origin keeps it.
    const Annotation shape = polygon("lake", {QPointF(0, 0), QPointF(50, 10), QPointF(20, 60)});
    QCOMPARE(annotationBox(shape), Box(QRectF(0, 0, 50, 60)));
}

// A pose dataset exported to each format that writes boxes only, read back by
// the same format: a person's box is that of its labelled joints, not one
// stretched to the picture's corner, and a person without a labelled joint
// keeps its own box rather than being left out.
void TestAnnotationGeometry::keypointSetsThroughBoxFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("voc") << "Pascal VOC" << 1.0;
    QTest::newRow("createml") << "CreateML" << 1e-6;
    QTest::newRow("keras") << "YOLOv3 Keras" << 1.0;
    QTest::newRow("tensorflow") << "YOLO TensorFlow" << 1.0;
    QTest::newRow("retinanet") << "RetinaNet" << 1.0;
    QTest::newRow("yolov6") << "YOLOv6 MT" << 1e-3;
    QTest::newRow("darknet") << "Darknet" << 1e-3;
    QTest::newRow("florence2") << "Florence-2" << 1.0;
    QTest::newRow("paligemma") << "PaliGemma" << 1.0;
}

void TestAnnotationGeometry::keypointSetsThroughBoxFormats()
{
    QFETCH(QString, format);
    QFETCH(double, tolerance);
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/people.png");
    QVERIFY(writeImage(picture, 640, 480));
    Dataset dataset;
    dataset.addClass("person", QColor());
    Annotation unseen = personWithUnlabelledJoints();
    unseen.keypointVis = {0, 0, 0, 0, 0};
    unseen.bbox = QRectF(400, 50, 240, 430); // up to the picture's right and bottom edges
    dataset.addImage(image(picture, 640, 480, {personWithUnlabelledJoints(), unseen}));

    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    ExportConfig config;
    config.format = format;
    config.outputPath = dir.filePath("out");
    QString error;
    QVERIFY2(runExportJob(handler, config, dataset, 1, formatWritesOwnImages(format), {}, &error, nullptr),
             qPrintable(error));

    const QString target = exportTargetPath(format, config.outputPath);
    const QString source = QFileInfo(target).isFile() ? target : config.outputPath;
    Dataset back;
    QVERIFY(handler->importDataset(source, back, {}));
    QCOMPARE(back.images.size(), 1);
    const QList<Annotation> &read = back.images.first().labels;
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0).className, QStringLiteral("person"));
    fuzzyCompareRect(read.at(0).bbox, kLabelledBounds, tolerance);
    fuzzyCompareRect(read.at(1).bbox, QRectF(400, 50, 240, 430), tolerance);
}

// An object that came as two polygons: its box and its parts are the
// object's while its outline is one of them; an edited outline stands alone.
void TestAnnotationGeometry::objectsOfSeveralParts()
{
    using Box = std::optional<QRectF>;
    const QList<QPointF> left = {{1, 1}, {11, 1}, {11, 11}, {1, 11}};
    const QList<QPointF> right = {{21, 11}, {31, 11}, {31, 21}, {21, 21}, {26, 16}};
    Annotation object = polygon("person", right);
    object.bbox = QRectF(1, 1, 30.4, 20);
    object.attributes.insert("coco:segmentation",
                             QVariantList{QVariantList{1, 1, 11, 1, 11, 11, 1, 11},
                                          QVariantList{21, 11, 31, 11, 31, 21, 21, 21, 26, 16}});
    QCOMPARE(objectParts(object), (QList<QList<QPointF>>{left, right}));
    QCOMPARE(annotationBox(object), Box(QRectF(1, 1, 30.4, 20)));
    const auto corners = orientedBoxCorners(object);
    QVERIFY(corners);
    QCOMPARE(corners->at(2), QPointF(31.4, 21));
    // A box that no longer holds the parts gives way to theirs.
    Annotation shrunk = object;
    shrunk.bbox = QRectF(20, 10, 12, 12);
    QCOMPARE(annotationBox(shrunk), Box(QRectF(1, 1, 30, 20)));
    // The outline edited since: it is the object.
    Annotation edited = object;
    edited.points[0] = QPointF(23, 9);
    QCOMPARE(objectParts(edited), QList<QList<QPointF>>{edited.points});
    QCOMPARE(annotationBox(edited), Box(QRectF(21, 9, 10, 12)));
    // Parts that are no polygons (too short, not numbers, beyond single
    // precision) are passed over; with one part left the outline stands alone.
    Annotation damaged = object;
    damaged.attributes.insert("coco:segmentation",
                              QVariantList{QVariantList{1, 1, 11, 1}, QVariantList{"a", "b", "c", "d", "e", "f"},
                                           QVariantList{1e39, 1, 11, 1, 11, 11},
                                           QVariantList{21, 11, 31, 11, 31, 21, 21, 21, 26, 16}});
    QCOMPARE(objectParts(damaged), QList<QList<QPointF>>{right});
    QCOMPARE(annotationBox(damaged), Box(QRectF(21, 11, 10, 10)));
    // Not a polygon: no parts.
    QVERIFY(objectParts(box("person", 1, 1, 5, 5)).isEmpty());
}

void TestAnnotationGeometry::crowdRegions_data()
{
    QTest::addColumn<QVariant>("flag");
    QTest::addColumn<bool>("crowd");
    QTest::newRow("absent") << QVariant() << false;
    QTest::newRow("0") << QVariant(0) << false;
    QTest::newRow("1") << QVariant(1) << true;
    QTest::newRow("1 as a whole number read from a file") << QVariant(qlonglong(1)) << true;
    QTest::newRow("true") << QVariant(true) << true;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("null") << QVariant::fromValue(nullptr) << false;
    QTest::newRow("text that is no number") << QVariant("yes") << false;
}

void TestAnnotationGeometry::crowdRegions()
{
    QFETCH(QVariant, flag);
    QFETCH(bool, crowd);
    Annotation a = box("person", 1, 1, 5, 5);
    if (flag.isValid())
        a.attributes.insert("iscrowd", flag);
    QCOMPARE(isCrowdRegion(a), crowd);
}

// Three squares in a row, the middle one's tie to the next coming before its
// tie to the previous: the outline goes out through the first and round the
// last, along the middle one reversed, and back along the rest of it, each
// part tied to the next at their nearest points.
void TestAnnotationGeometry::severalPartsJoinIntoOneOutline()
{
    const QList<QPointF> first = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const QList<QPointF> middle = {{30, 10}, {30, 0}, {20, 0}, {20, 10}};
    const QList<QPointF> last = {{40, 0}, {50, 0}, {50, 10}, {40, 10}};
    const auto flat = [](const QList<QPointF> &points) {
        QVariantList numbers;
        for (const QPointF &p : points)
            numbers << p.x() << p.y();
        return numbers;
    };
    Annotation object = polygon("row", middle);
    object.attributes.insert("coco:segmentation", QVariantList{flat(first), flat(middle), flat(last)});
    const QList<QPointF> expected = {{10, 0},  {10, 10}, {0, 10},  {0, 0},   {10, 0},  {20, 0},
                                     {30, 0},  {30, 10}, {40, 10}, {40, 0},  {50, 0},  {50, 10},
                                     {40, 10}, {30, 10}, {20, 10}, {20, 0}};
    QCOMPARE(joinedObjectOutline(object), expected);
    // One polygon is its own outline.
    QCOMPARE(joinedObjectOutline(polygon("one", middle)), middle);
}

// Two parts of 300,000 points each on two vertical lines: every pair of
// points is as near in x as the nearest pair, which a plain search weighs all
// of (9e10 distances). The join ties them at a near pair at once.
void TestAnnotationGeometry::partsMadeToSearchForEverJoinAtOnce()
{
    constexpr int n = 300000;
    QVariantList left;
    QVariantList right;
    QList<QPointF> outline;
    for (int i = 0; i < n; ++i) {
        left << 0.0 << double(i);
        right << 1.0 << double(i);
        outline.append(QPointF(1.0, double(i)));
    }
    Annotation object = polygon("line", outline);
    object.attributes.insert("coco:segmentation", QVariantList{left, right});
    QElapsedTimer clock;
    clock.start();
    const QList<QPointF> joined = joinedObjectOutline(object);
    // Far beyond what the bounded search takes, far below the plain one.
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(joined.size(), 2 * n + 2);
}

// A project file may hold attributes of any kind under any name. Those the
// exporters read, when of a kind they do not expect, count as not set: the
// polygons are written by their outlines, nothing is a crowd but what says
// so by a number (or a number's text), and every format writes the picture
// without failing.
void TestAnnotationGeometry::attributesOfAnyKindExport()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.png"), 40, 30));
    const QByteArray labels = R"([
        {"type": "Polygon", "className": "lake", "polygon": [[1, 1], [11, 1], [11, 11]],
         "attributes": {"coco:segmentation": "x", "coco:area": "big", "iscrowd": {"a": 1}, "coco:rle": "r",
                        "difficult": {"x": 1}, "truncated": "yes", "occluded": [1], "multiple": "yes"}},
        {"type": "Polygon", "className": "lake", "polygon": [[20, 1], [30, 1], [30, 9]],
         "attributes": {"coco:segmentation": [[20, 1, 30, 1, 30, "9"], [1e300, 1, 2, 3, 4, 5], {"x": 1}, 7, null],
                        "iscrowd": "1", "coco:area": {"n": 2}}},
        {"type": "BoundingBox", "className": "car", "bbox": {"x": 2, "y": 3, "w": 10, "h": 12},
         "attributes": {"coco:rle": [1, 2], "coco:area": -5, "iscrowd": [1], "difficult": 1e300,
                        "occluded": -1, "multiple": {"t": true}}},
        {"type": "BoundingBox", "className": "car", "bbox": {"x": 4, "y": 5, "w": 6, "h": 7},
         "attributes": {"iscrowd": "0", "coco:rle": {"counts": 5}}},
        {"type": "Keypoint", "className": "person", "bbox": {"x": 28, "y": 18, "w": 9, "h": 9},
         "polygon": [[30, 20], [35, 25]], "keypointVis": [2, 1],
         "attributes": {"visibility": "all", "quillmark:box": [1, "x", 3, 4], "bbox": "b", "coco:rle": null}},
        {"type": "Polyline", "className": "road", "polygon": [[0, 0], [5, 5]],
         "attributes": {"coco:segmentation": [[0, 0, 5, 5, 9, 0]], "iscrowd": true}}
    ])";
    QVERIFY(writeFile(dir.filePath("p.qmk"), R"({"dataset": {"images": [{"filePath": ")" +
                                                 dir.filePath("a.png").toUtf8() + R"(", "width": 40, "height": 30,
        "labels": )" + labels + "}]}}"));
    Project project;
    QVERIFY(loadProjectFile(project, dir.filePath("p.qmk")));
    QCOMPARE(project.dataset.images.first().labels.size(), 6);
    project.dataset.syncClassesFromAnnotations();

    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        const QString format = handler->name();
        if (format == "QuillPackage")
            continue; // below
        ExportConfig config;
        config.format = format;
        config.outputPath = dir.filePath("out/" + format);
        QString error;
        QVERIFY2(runExportJob(handler, config, project.dataset, 1, formatWritesOwnImages(format), {}, &error, nullptr),
                 qPrintable(format + ": " + error));
    }

    const QJsonArray coco =
        QJsonDocument::fromJson(readFile(dir.filePath("out/COCO/annotations.json")))["annotations"].toArray();
    QCOMPARE(coco.size(), 6);
    // Written as COCO's loaders test it, 0 or 1: a map, a list or the text
    // "0" is no crowd. The polyline's flag says crowd, but it has no region
    // to write, so it is an ordinary object.
    QJsonArray crowds;
    for (const QJsonValue &object : coco)
        crowds.append(object["iscrowd"]);
    QCOMPARE(crowds, (QJsonArray{0, 1, 0, 0, 0, 0}));
    QCOMPARE(coco.at(0)["segmentation"].toArray(), (QJsonArray{QJsonArray{1, 1, 11, 1, 11, 11}}));
    QCOMPARE(coco.at(0)["area"].toDouble(), 50.0);
    QCOMPARE(coco.at(1)["segmentation"].toArray(), (QJsonArray{QJsonArray{20, 1, 30, 1, 30, 9}}));
    QCOMPARE(coco.at(2)["segmentation"].toArray(), QJsonArray());
    // LabelMe: the first lake by its outline alone, the two cars; the crowd
    // regions are left out.
    QCOMPARE(readFile(dir.filePath("out/LabelMe/a.json")).count("\"group_id\": null"), 3);

    // The package keeps them as they are, but for the members it keeps a
    // keypoint set's visibilities and a shape's box under.
    QVERIFY(QpkgHandler::exportProject(dir.filePath("p.qmpkg"), project, {}));
    Dataset back;
    QVERIFY(FormatRegistry::instance().find("QuillPackage")->importDataset(dir.filePath("p.qmpkg"), back, {}));
    const QList<Annotation> &read = back.images.first().labels;
    const QList<Annotation> &saved = project.dataset.images.first().labels;
    QCOMPARE(read.size(), saved.size());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(read.at(i).attributes, saved.at(i).attributes);
    QCOMPARE(read.at(4).keypointVis, (QList<int>{2, 1}));
}

QM_TEST_MAIN(TestAnnotationGeometry)
#include "tst_annotationgeometry.moc"
