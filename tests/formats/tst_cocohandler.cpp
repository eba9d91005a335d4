#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/CocoFileDetection.h"
#include "formats/CocoHandler.h"
#include "formats/CocoJsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

namespace {

QJsonObject exportedDocument(const Dataset &dataset)
{
    return QJsonDocument::fromJson(cocoJsonBytes(dataset)).object();
}

Dataset importText(const QByteArray &json, bool *ok, const QString &folder)
{
    const QString path = folder + "/annotations.json";
    writeFile(path, json);
    Dataset dataset;
    *ok = CocoHandler().importDataset(path, dataset, {});
    return dataset;
}

} // namespace

class TestCocoHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void exactBytesOfSmallExport();
    void exportCategoriesAndIds();
    void exportKeypointPaddingAndNames();
    void exportUsesUniqueFileNames();
    void exportFailsWhenFileCannotBeWritten();
    void importReadsEveryKind();
    void importFailures_data();
    void importFailures();
    void importLenience();
    void importInAnyMemberOrder();
    void importLargeAndDuplicateIds();
    void importResolvesImagePaths();
    void roundTrip();
    void releaseLayout();
    void keypointCategoriesGiveTheSchema();
    void stringImageIdsStayApart();
    void flagsTravelBothWays();
    void areaIsTheShapesOwn();
    void linesAndPointsGetTheBoxOfTheirPoints();
    void manyImagesWrittenInPiecesAreOneDocument();
};

void TestCocoHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("annotations and images") << QByteArray(R"({"annotations": [], "images": []})") << true;
    QTest::newRow("annotations and categories") << QByteArray(R"({"annotations": [], "categories": []})") << true;
    QTest::newRow("no annotations") << QByteArray(R"({"categories": [], "images": []})") << false;
    QTest::newRow("unquoted words") << QByteArray("annotations images categories") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QByteArray straddling = "{" + QByteArray(8192 - 6, ' ') + R"("annotations": [], "images": []})";
    QTest::newRow("key across a chunk border") << straddling << true;
    QByteArray late = "{" + QByteArray(100000, ' ') + R"("images": [], "annotations": []})";
    QTest::newRow("keys far into the file") << late << true;
}

void TestCocoHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("x.json"), content));
    QCOMPARE(isCocoJsonFile(dir.filePath("x.json")), detected);
    QCOMPARE(CocoHandler().canImport(dir.path()), detected);
    QVERIFY(writeFile(dir.filePath("UPPER.JSON"), content));
    QCOMPARE(CocoHandler().canImport(dir.filePath("UPPER.JSON")), detected);
}

void TestCocoHandler::exactBytesOfSmallExport()
{
    Dataset dataset;
    dataset.addImage(image("/data/a.jpg", 100, 80,
                           {box("car", 1.5, 2, 10, 20), polygon("person", {{10, 20}, {30, 20}, {30, 50}})}));
    const QByteArray expected = R"({
    "annotations": [
        {
            "area": 200,
            "bbox": [
                1.5,
                2,
                10,
                20
            ],
            "category_id": 1,
            "id": 1,
            "image_id": 0,
            "iscrowd": 0,
            "segmentation": [
            ]
        },
        {
            "area": 300,
            "bbox": [
                10,
                20,
                20,
                30
            ],
            "category_id": 2,
            "id": 2,
            "image_id": 0,
            "iscrowd": 0,
            "segmentation": [
                [
                    10,
                    20,
                    30,
                    20,
                    30,
                    50
                ]
            ]
        }
    ],
    "categories": [
        {
            "id": 1,
            "name": "car"
        },
        {
            "id": 2,
            "name": "person"
        }
    ],
    "images": [
        {
            "file_name": "a.jpg",
            "height": 80,
            "id": 0,
            "width": 100
        }
    ]
}
)";
    QCOMPARE(cocoJsonBytes(dataset), expected);
}

void TestCocoHandler::exportCategoriesAndIds()
{
    Dataset dataset;
    dataset.addClass("person", QColor());
    dataset.addClass("car", QColor());
    ImageEntry first = image("/a.jpg", 0, 0, {box("person", 0, 0, 1, 1), polyline("car", {{1, 1}, {2, 3}})});
    first.id = 41;
    dataset.addImage(first);
    dataset.addImage(image("/b.jpg", 10, 10, {point("car", 5, 5)}));
    QList<QPair<int, int>> calls;
    const QJsonObject root =
        QJsonDocument::fromJson(cocoJsonBytes(dataset, [&](int c, int t) { calls.append({c, t}); })).object();
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    const QJsonArray categories = root["categories"].toArray();
    QCOMPARE(categories.at(0)["name"].toString(), QStringLiteral("car"));
    QCOMPARE(categories.at(1)["name"].toString(), QStringLiteral("person"));
    const QJsonArray annotations = root["annotations"].toArray();
    QCOMPARE(annotations.size(), 3);
    QCOMPARE(annotations.at(0)["id"].toInt(), 1);
    QCOMPARE(annotations.at(0)["image_id"].toInt(), 41);
    QCOMPARE(annotations.at(0)["category_id"].toInt(), 2);
    // A polyline and a point are written as their stored boxes.
    QCOMPARE(annotations.at(1)["segmentation"].toArray().size(), 0);
    QCOMPARE(annotations.at(1)["bbox"].toArray(), (QJsonArray{1, 1, 1, 2}));
    QCOMPARE(annotations.at(2)["image_id"].toInt(), 42);
    QCOMPARE(root["images"].toArray().at(0)["width"].toInt(), 0);
}

void TestCocoHandler::exportKeypointPaddingAndNames()
{
    Dataset dataset;
    dataset.keypointSchema.keypointNames = {"nose", "left_eye", "right_eye"};
    dataset.keypointSchema.edges = {{0, 1}, {0, 2}};
    QList<QPointF> five;
    for (int i = 0; i < 5; ++i)
        five.append(QPointF(i, i));
    dataset.addImage(image("/a.jpg", 100, 100,
                           {keypoints("person", {0, 0, 10, 10}, five, {2, 1, 0}),
                            keypoints("person", {0, 0, 10, 10}, five.mid(0, 2), {0, 2})}));
    const QJsonObject root = exportedDocument(dataset);
    const QJsonObject category = root["categories"].toArray().at(0).toObject();
    QCOMPARE(category["keypoints"].toArray(),
             (QJsonArray{"nose", "left_eye", "right_eye", "kp_3", "kp_4"}));
    QCOMPARE(category["skeleton"].toArray(), (QJsonArray{QJsonArray{1, 2}, QJsonArray{1, 3}}));
    const QJsonArray annotations = root["annotations"].toArray();
    const QJsonArray first = annotations.at(0)["keypoints"].toArray();
    QCOMPARE(first.size(), 15);
    QCOMPARE(first.at(5).toInt(), 1);
    QCOMPARE(first.at(14).toInt(), 2);   // visibility list too short: visible
    QCOMPARE(annotations.at(0)["num_keypoints"].toInt(), 4);   // labelled points only
    const QJsonArray second = annotations.at(1)["keypoints"].toArray();
    QCOMPARE(second.size(), 15);
    QCOMPARE(second.at(14).toInt(), 0);
    QCOMPARE(annotations.at(1)["num_keypoints"].toInt(), 1);
}

void TestCocoHandler::exportUsesUniqueFileNames()
{
    Dataset dataset;
    dataset.addImage(image("/cam1/0001.jpg", 10, 10));
    dataset.addImage(image("/cam2/0001.jpg", 10, 10));
    const QJsonArray images = exportedDocument(dataset)["images"].toArray();
    QCOMPARE(images.at(0)["file_name"].toString(), QStringLiteral("0001.jpg"));
    QCOMPARE(images.at(1)["file_name"].toString(), QStringLiteral("0001_2.jpg"));
}

void TestCocoHandler::exportFailsWhenFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/a.jpg", 10, 10));
    QVERIFY(CocoHandler().exportDataset(dir.filePath("new/folder/annotations.json"), dataset, {}));
    QVERIFY(writeFile(dir.filePath("blocker"), "x"));
    QVERIFY(!CocoHandler().exportDataset(dir.filePath("blocker/annotations.json"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("isdir.json")));
    QVERIFY(!CocoHandler().exportDataset(dir.filePath("isdir.json"), dataset, {}));
}

void TestCocoHandler::importReadsEveryKind()
{
    QTemporaryDir dir;
    bool ok = false;
    const Dataset dataset = importText(R"({
        "images": [{"id": 7, "file_name": "b.jpg", "width": 64, "height": 48},
                   {"id": 3, "file_name": "a.jpg", "width": 32, "height": 24}],
        "categories": [{"id": 1, "name": "cat"}, {"id": 2, "name": "person"}],
        "annotations": [
            {"id": 10, "image_id": 7, "category_id": 1, "bbox": [1, 2, 3, 4]},
            {"id": 11, "image_id": 7, "category_id": 1, "bbox": [0, 0, 9, 9],
             "segmentation": [[1, 1, 5, 1, 5, 5, 9], [0, 0, 1, 1, 2, 2]]},
            {"id": 12, "image_id": 7, "category_id": 2, "bbox": [0, 0, 9, 9],
             "keypoints": [1, 2, 2, 0, 0, 0, 5, 6, 1, 7]},
            {"id": 13, "image_id": 7, "category_id": 9, "bbox": [0, 0, 1, 1],
             "segmentation": {"counts": [1, 2], "size": [2, 2]}},
            {"id": 14, "image_id": 99, "category_id": 1, "bbox": [0, 0, 1, 1]}
        ]})", &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &b = dataset.images.at(0);   // file order
    QCOMPARE(b.id, 7);
    QCOMPARE(b.width, 64);
    QCOMPARE(dataset.images.at(1).id, 3);
    QCOMPARE(dataset.images.at(1).labels.size(), 0);
    QCOMPARE(b.labels.size(), 4);
    QCOMPARE(b.labels.at(0).id, 10);
    QCOMPARE(b.labels.at(0).kind, int(BoundingBox));
    QCOMPARE(b.labels.at(0).bbox, QRectF(1, 2, 3, 4));
    // A segmentation of two polygons is one object: its largest part is the
    // outline, the object's own box stays (the trailing odd number is
    // dropped).
    QCOMPARE(b.labels.at(1).kind, int(Polygon));
    QCOMPARE(b.labels.at(1).id, 11);
    QCOMPARE(b.labels.at(1).className, QStringLiteral("cat"));
    QCOMPARE(b.labels.at(1).points, (QList<QPointF>{{1, 1}, {5, 1}, {5, 5}}));
    QCOMPARE(b.labels.at(1).bbox, QRectF(0, 0, 9, 9));
    QCOMPARE(b.labels.at(2).kind, int(Keypoint));
    QCOMPARE(b.labels.at(2).points, (QList<QPointF>{{1, 2}, {0, 0}, {5, 6}}));
    QCOMPARE(b.labels.at(2).keypointVis, (QList<int>{2, 0, 1}));
    QCOMPARE(b.labels.at(3).kind, int(BoundingBox));
    QCOMPARE(b.labels.at(3).className, QStringLiteral("class_9"));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"cat", "person"}));
}

void TestCocoHandler::importFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not json") << QByteArray("{\"images\": [");
    QTest::newRow("no images") << QByteArray(R"({"images": [], "annotations": [{"image_id": 0}]})");
    QTest::newRow("top level array") << QByteArray(R"([{"images": [{"id": 1}]}])");
    QTest::newRow("images is an object") << QByteArray(R"({"images": {"id": 1}})");
    QTest::newRow("empty file") << QByteArray();
}

void TestCocoHandler::importFailures()
{
    QFETCH(QByteArray, json);
    QTemporaryDir dir;
    bool ok = true;
    const Dataset dataset = importText(json, &ok, dir.path());
    QVERIFY(!ok);
    Dataset missing;
    QVERIFY(!CocoHandler().importDataset(dir.filePath("missing.json"), missing, {}));
}

void TestCocoHandler::importLenience()
{
    QTemporaryDir dir;
    bool ok = false;
    const Dataset dataset = importText(R"({
        "images": [{"id": 1, "file_name": 5, "width": "wide", "height": 1e300}, 17, "x"],
        "categories": "none",
        "annotations": [
            {"image_id": 1, "category_id": "1", "bbox": [1, 2, 3]},
            {"image_id": 1, "bbox": ["a", null, 3, 4], "keypoints": "x", "segmentation": [5, 6]},
            {"image_id": 1, "segmentation": [[]], "id": 1e40},
            "garbage", 12
        ]})", &ok, dir.path());
    QVERIFY(ok);
    // Items that are no objects are no images and no annotations; values of
    // the wrong type take their defaults.
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &e = dataset.images.at(0);
    QCOMPARE(e.id, 1);
    QCOMPARE(e.width, 0);
    QCOMPARE(e.height, 0);
    QCOMPARE(e.filePath, QString());
    QCOMPARE(e.labels.size(), 3);
    QCOMPARE(e.labels.at(0).bbox, QRectF());
    QCOMPARE(e.labels.at(0).className, QStringLiteral("class_1")); // a string id names no category
    QCOMPARE(e.labels.at(1).bbox, QRectF(0, 0, 3, 4));
    QCOMPARE(e.labels.at(1).kind, int(BoundingBox));
    QCOMPARE(e.labels.at(1).className, QStringLiteral("class_0"));
    QCOMPARE(e.labels.at(2).kind, int(Polygon));
    QCOMPARE(e.labels.at(2).points.size(), 0);
    QCOMPARE(e.labels.at(2).id, 0); // not an int
    QVERIFY(dataset.classColors.isEmpty());
}

// The reader takes the file front to back in one pass: the three lists may
// stand in any order (pycocotools writes the categories last), and a list
// that comes twice counts as its last, as in a JSON object.
void TestCocoHandler::importInAnyMemberOrder()
{
    const QByteArray images = R"("images": [{"id": 7, "file_name": "a.jpg", "width": 4, "height": 3},
                                            {"id": "s", "file_name": "b.jpg"}])";
    const QByteArray annotations = R"("annotations": [
        {"id": 1, "image_id": 7, "category_id": 2, "bbox": [1, 2, 3, 4]},
        {"id": 2, "image_id": "s", "category_id": 1, "segmentation": [[0, 0, 4, 0, 4, 4], [9, 9, 9, 8, 8, 8]]},
        {"id": 3, "image_id": 7, "category_id": 9, "keypoints": [1, 2, 2, 3, 4, 1.5], "iscrowd": 1},
        {"id": 4, "image_id": 8, "category_id": 1}])";
    const QByteArray categories = R"("categories": [{"id": 1, "name": "cat"}, {"id": 2, "name": "dog"}])";
    const QList<QByteArray> members = {images, annotations, categories};
    QTemporaryDir dir;
    QByteArray reference;
    const QList<QList<int>> orders = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const QList<int> &order : orders) {
        QByteArray json = "{";
        for (int i : order)
            json += members.at(i) + (i == order.last() ? "}" : ",");
        bool ok = false;
        const Dataset dataset = importText(json, &ok, dir.path());
        QVERIFY(ok);
        QCOMPARE(dataset.images.size(), 2);
        const ImageEntry &first = dataset.images.at(0);
        QCOMPARE(first.id, 7);
        QCOMPARE(first.labels.size(), 2);
        QCOMPARE(first.labels.at(0).className, QStringLiteral("dog"));
        QCOMPARE(first.labels.at(1).className, QStringLiteral("class_9"));
        QCOMPARE(first.labels.at(1).keypointVis, (QList<int>{2, 0}));
        QCOMPARE(first.labels.at(1).attributes.value("iscrowd").toInt(), 1);
        const ImageEntry &second = dataset.images.at(1);
        QCOMPARE(second.labels.size(), 1); // one object of two parts
        QCOMPARE(second.labels.at(0).className, QStringLiteral("cat"));
        QCOMPARE(second.labels.at(0).bbox, QRectF(0, 0, 9, 9)); // the box of both parts
        QCOMPARE(dataset.classColors.keys(), (QStringList{"cat", "dog"}));
    }

    // Repeated lists: the last of each name is the one read.
    bool ok = false;
    const Dataset repeated = importText(
        R"({"annotations": [{"image_id": 7, "category_id": 1}, {"image_id": 7, "category_id": 1}],
            "images": [{"id": 3}], "categories": [{"id": 1, "name": "gone"}],)" + images + "," + annotations + "," +
            categories + "}",
        &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(repeated.images.size(), 2);
    QCOMPARE(repeated.images.at(0).labels.size(), 2);
    QVERIFY(!repeated.classColors.contains("gone"));
}

void TestCocoHandler::importLargeAndDuplicateIds()
{
    QTemporaryDir dir;
    bool ok = false;
    const Dataset dataset = importText(R"({
        "images": [{"id": 5000000000, "file_name": "big1.jpg"},
                   {"id": 5000000001, "file_name": "big2.jpg"},
                   {"id": 2, "file_name": "two.jpg"},
                   {"id": -4, "file_name": "negative.jpg"},
                   {"id": 2147483647, "file_name": "largest.jpg"},
                   {"id": 2, "file_name": "two-again.jpg"}],
        "annotations": [{"image_id": 5000000000, "bbox": [0, 0, 1, 1]},
                        {"image_id": 5000000001, "bbox": [0, 0, 2, 2]},
                        {"image_id": 5000000001, "bbox": [0, 0, 3, 3]},
                        {"image_id": 705032704, "bbox": [0, 0, 4, 4]},
                        {"image_id": -4, "bbox": [0, 0, 5, 5]}]})", &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(dataset.images.size(), 5);
    QStringList names;
    QSet<int> ids;
    for (const ImageEntry &e : dataset.images) {
        names.append(QFileInfo(e.filePath).fileName());
        ids.insert(e.id);
        // The dataset's next id stays above every id it holds.
        QVERIFY(e.id >= 0 && e.id < dataset.nextImageId);
    }
    QCOMPARE(names, (QStringList{"big1.jpg", "big2.jpg", "two-again.jpg", "negative.jpg", "largest.jpg"}));
    QCOMPARE(ids.size(), 5);   // every entry has an id of its own
    QVERIFY(ids.contains(2));
    QCOMPARE(dataset.images.at(0).labels.size(), 1);
    QCOMPARE(dataset.images.at(1).labels.size(), 2);
    QCOMPARE(dataset.images.at(3).labels.size(), 1);
}

void TestCocoHandler::importResolvesImagePaths()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("here.jpg"), "x"));
    // Pictures of one name in two folders, named as a file written on Windows
    // names them.
    QVERIFY(writeFile(dir.filePath("train/same.jpg"), "x"));
    QVERIFY(writeFile(dir.filePath("val/same.jpg"), "x"));
    bool ok = false;
    const QString absolute = dir.filePath("elsewhere/abs.jpg");
    const Dataset dataset = importText(QStringLiteral(R"({"images": [
        {"id": 1, "file_name": "here.jpg"},
        {"id": 2, "file_name": "sub/missing.jpg"},
        {"id": 3, "file_name": "win\\dir\\w.jpg"},
        {"id": 4, "file_name": "%1"},
        {"id": 5, "file_name": "train\\same.jpg"},
        {"id": 6, "file_name": "val\\same.jpg"}]})").arg(absolute).toUtf8(), &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(dataset.images.at(0).filePath, dir.filePath("here.jpg"));
    QCOMPARE(dataset.images.at(1).filePath, dir.filePath("images/missing.jpg"));
    QCOMPARE(dataset.images.at(2).filePath, dir.filePath("images/w.jpg"));
    QCOMPARE(dataset.images.at(3).filePath, absolute);
    QCOMPARE(dataset.images.at(4).filePath, dir.filePath("train/same.jpg"));
    QCOMPARE(dataset.images.at(5).filePath, dir.filePath("val/same.jpg"));
}

void TestCocoHandler::roundTrip()
{
    Dataset dataset;
    dataset.keypointSchema.keypointNames = {"a", "b", "c"};
    dataset.addImage(image("/data/x.jpg", 640, 480,
                           {box("cat", 10.25, 20.5, 30, 40), polygon("dog", ring(6, 300, 200, 50)),
                            polygon("dog", {{0, 0}, {640, 0}, {640, 480}, {320, 480}, {0, 240}}),
                            keypoints("person", {5, 5, 50, 50}, {{10, 10}, {20, 20}, {30, 30}}, {2, 1, 0})}));
    dataset.addImage(image("/data/y.png", 320, 240, {box("cat", 0, 0, 320, 240)}));
    QTemporaryDir dir;
    const QString path = dir.filePath("out/annotations.json");
    QVERIFY(CocoHandler().exportDataset(path, dataset, {}));
    Dataset back;
    QVERIFY(CocoHandler().importDataset(path, back, {}));
    QCOMPARE(back.images.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(back.images.at(i).id, dataset.images.at(i).id);
        QCOMPARE(back.images.at(i).width, dataset.images.at(i).width);
        const QList<Annotation> &expected = dataset.images.at(i).labels;
        const QList<Annotation> &actual = back.images.at(i).labels;
        QCOMPARE(actual.size(), expected.size());
        for (int j = 0; j < expected.size(); ++j) {
            QCOMPARE(actual.at(j).className, expected.at(j).className);
            QCOMPARE(actual.at(j).kind, expected.at(j).kind);
            QCOMPARE(actual.at(j).points, expected.at(j).points);   // shortest round-trip numbers
            QCOMPARE(actual.at(j).keypointVis, expected.at(j).keypointVis);
            QCOMPARE(actual.at(j).bbox, expected.at(j).bbox);
        }
    }
}

namespace {

QString releaseFixture(const QString &file = QString())
{
    return QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/coco-release/") + file;
}

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

void TestCocoHandler::releaseLayout()
{
    // annotations/instances_val2017.json beside val2017/, as the release ships.
    CocoHandler handler;
    QVERIFY(handler.canImport(releaseFixture()));
    QVERIFY(handler.canImport(releaseFixture("annotations")));
    QVERIFY(!handler.canImport(releaseFixture("val2017")));

    Dataset dataset;
    QVERIFY(handler.importDataset(releaseFixture("annotations/instances_val2017.json"), dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
    const QStringList names = {"000000000139.jpg", "000000000285.jpg", "000000000632.jpg"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(canonical(dataset.images.at(i).filePath), canonical(releaseFixture("val2017/" + names.at(i))));
        QCOMPARE(QImage(dataset.images.at(i).filePath).size(),
                 QSize(dataset.images.at(i).width, dataset.images.at(i).height));
    }
    QCOMPARE(dataset.images.at(2).labels.size(), 0); // an image without objects stays

    // Every category is a class, also "car", which no annotation uses.
    QCOMPARE(dataset.classColors.keys(), (QStringList{"bear", "car", "chair", "person"}));

    const QList<Annotation> &labels = dataset.images.at(0).labels;
    QCOMPARE(labels.size(), 3);
    QCOMPARE(labels.at(0).kind, int(Polygon));
    QCOMPARE(labels.at(0).points.size(), 4);
    QCOMPARE(labels.at(0).bbox, QRectF(10.5, 5, 19.5, 20.25));
    QVERIFY(labels.at(0).attributes.isEmpty()); // iscrowd 0 is the default
    // The chair of two parts is one object: its larger part is the outline,
    // its own box stays.
    QCOMPARE(labels.at(1).className, QStringLiteral("chair"));
    QCOMPARE(labels.at(1).points.size(), 4);
    QCOMPARE(labels.at(1).bbox, QRectF(0, 30, 64, 18));
    // The crowd region (a run-length mask) is its box, flagged as a crowd.
    QCOMPARE(labels.at(2).kind, int(BoundingBox));
    QCOMPARE(labels.at(2).bbox, QRectF(2, 0, 2, 8));
    QCOMPARE(labels.at(2).attributes.value("iscrowd").toInt(), 1);

    // Written back: the crowd with its mask and area, the chair whole, and
    // areas of the shapes.
    const QJsonArray annotations = exportedDocument(dataset)["annotations"].toArray();
    QCOMPARE(annotations.size(), 4);
    QCOMPARE(annotations.at(2)["iscrowd"].toInt(), 1);
    QCOMPARE(annotations.at(2)["area"].toDouble(), 128.0);
    QCOMPARE(annotations.at(2)["segmentation"]["counts"].toArray().size(), 5);
    QCOMPARE(annotations.at(0)["iscrowd"].toInt(), 0);
    QCOMPARE(annotations.at(1)["segmentation"].toArray().size(), 2);
    QCOMPARE(annotations.at(1)["bbox"].toArray(), (QJsonArray{0, 30, 64, 18}));
    QCOMPARE(annotations.at(1)["area"].toDouble(), 540.0);
    QCOMPARE(annotations.at(3)["area"].toDouble(), 450.0);
}

void TestCocoHandler::keypointCategoriesGiveTheSchema()
{
    Dataset dataset;
    QVERIFY(CocoHandler().importDataset(releaseFixture("annotations/person_keypoints_val2017.json"), dataset, {}));
    const KeypointSchema &schema = dataset.keypointSchema;
    QCOMPARE(schema.objectClass, QStringLiteral("person"));
    QCOMPARE(schema.keypointNames, (QStringList{"nose", "left_eye", "right_eye", "left_ear", "left_shoulder"}));
    QCOMPARE(schema.edges, (QList<QPair<int, int>>{{0, 1}, {0, 2}, {1, 3}, {3, 4}}));
    const Annotation &person = dataset.images.first().labels.first();
    QCOMPARE(person.kind, int(Keypoint));
    QCOMPARE(person.keypointVis, (QList<int>{2, 2, 1, 0, 2}));
    QCOMPARE(person.bbox, QRectF(10.5, 5, 19.5, 20.25));

    // A dataset that has a schema keeps it; a skeleton naming joints that do
    // not exist loses those edges.
    Dataset withSchema;
    withSchema.setKeypointSchema({"hand", {"wrist"}, {}});
    QVERIFY(CocoHandler().importDataset(releaseFixture("annotations/person_keypoints_val2017.json"), withSchema, {}));
    QCOMPARE(withSchema.keypointSchema.objectClass, QStringLiteral("hand"));
    QTemporaryDir dir;
    bool ok = false;
    const Dataset odd = importText(R"({"images": [{"id": 1}], "categories": [{"id": 1, "name": "p",
        "keypoints": ["a", "b"], "skeleton": [[1, 2], [2, 3], [0, 1], [1]]}]})",
                                   &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(odd.keypointSchema.edges, (QList<QPair<int, int>>{{0, 1}}));
}

void TestCocoHandler::stringImageIdsStayApart()
{
    QTemporaryDir dir;
    bool ok = false;
    const Dataset dataset = importText(R"({
        "images": [{"id": "frame_a", "file_name": "a.jpg"}, {"id": "frame_b", "file_name": "b.jpg"},
                   {"id": 0, "file_name": "zero.jpg"}, {"id": "0", "file_name": "text-zero.jpg"}],
        "categories": [{"id": 1, "name": "cat"}],
        "annotations": [{"id": 1, "image_id": "frame_b", "category_id": 1, "bbox": [1, 1, 2, 2]},
                        {"id": 2, "image_id": "frame_a", "category_id": 1, "bbox": [3, 3, 2, 2]},
                        {"id": 3, "image_id": "frame_b", "category_id": 1, "bbox": [5, 5, 2, 2]},
                        {"id": 4, "image_id": 0, "category_id": 1, "bbox": [7, 7, 2, 2]}]})",
                                       &ok, dir.path());
    QVERIFY(ok);
    QCOMPARE(dataset.images.size(), 4);
    QSet<int> ids;
    for (const ImageEntry &e : dataset.images)
        ids.insert(e.id);
    QCOMPARE(ids.size(), 4);
    QCOMPARE(QFileInfo(dataset.images.at(0).filePath).fileName(), QStringLiteral("a.jpg"));
    QCOMPARE(dataset.images.at(0).labels.size(), 1);
    QCOMPARE(dataset.images.at(0).labels.first().bbox, QRectF(3, 3, 2, 2));
    QCOMPARE(dataset.images.at(1).labels.size(), 2);
    QCOMPARE(dataset.images.at(2).id, 0); // numeric ids are kept
    QCOMPARE(dataset.images.at(2).labels.size(), 1);
    QCOMPARE(dataset.images.at(3).labels.size(), 0);
}

void TestCocoHandler::flagsTravelBothWays()
{
    QTemporaryDir dir;
    bool ok = false;
    const Dataset dataset = importText(R"({
        "images": [{"id": 1, "file_name": "a.jpg", "width": 10, "height": 10}],
        "categories": [{"id": 1, "name": "cat"}],
        "annotations": [{"id": 5, "image_id": 1, "category_id": 1, "bbox": [1, 1, 2, 2], "iscrowd": 1,
                         "ignore": 0, "score": 0.75, "attributes": {"occluded": true, "track_id": 3}}]})",
                                       &ok, dir.path());
    QVERIFY(ok);
    const Annotation &a = dataset.images.first().labels.first();
    QCOMPARE(a.attributes.value("iscrowd").toInt(), 1);
    QCOMPARE(a.attributes.value("ignore").toInt(), 0);
    QCOMPARE(a.attributes.value("score").toDouble(), 0.75);
    QCOMPARE(a.attributes.value("attributes").toMap().value("track_id").toInt(), 3);
    QVERIFY(!a.attributes.contains("bbox") && !a.attributes.contains("id"));

    const QJsonObject written = exportedDocument(dataset)["annotations"].toArray().first().toObject();
    // A crowd with no region to write goes out as an ordinary box: pycocotools
    // cannot load a crowd of an empty segmentation.
    QCOMPARE(written["iscrowd"].toInt(), 0);
    QCOMPARE(written["ignore"].toInt(), 0);
    QCOMPARE(written["score"].toDouble(), 0.75);
    QCOMPARE(written["attributes"].toObject()["occluded"].toBool(), true);

    // Flags from other formats go along; COCO's own members are never replaced.
    Dataset other;
    Annotation flagged = box("cat", 1, 1, 2, 2);
    flagged.attributes = {{"difficult", 1}, {"id", 99}, {"bbox", "x"}, {"category_id", 7}};
    other.addImage(image("/a.jpg", 10, 10, {flagged}));
    const QJsonObject out = exportedDocument(other)["annotations"].toArray().first().toObject();
    QCOMPARE(out["difficult"].toInt(), 1);
    QCOMPARE(out["id"].toInt(), 1);
    QCOMPARE(out["category_id"].toInt(), 1);
    QCOMPARE(out["bbox"].toArray(), (QJsonArray{1, 1, 2, 2}));
}

void TestCocoHandler::areaIsTheShapesOwn()
{
    Dataset dataset;
    // An L of six vertices: 30 x 20 minus a 10 x 10 notch is 500, its box 600.
    dataset.addImage(image("/a.jpg", 100, 100,
                           {polygon("cat", {{0, 0}, {30, 0}, {30, 20}, {10, 20}, {10, 10}, {0, 10}}),
                            polygon("cat", {{10, 10}, {0, 10}, {0, 0}, {10, 0}}), // the other way round
                            box("cat", 5, 5, 4, 2.5), keypoints("cat", {0, 0, 20, 30}, {{1, 1}, {2, 2}}, {2, 2})}));
    const QJsonArray annotations = exportedDocument(dataset)["annotations"].toArray();
    QCOMPARE(annotations.at(0)["area"].toDouble(), 500.0);
    QCOMPARE(annotations.at(0)["bbox"].toArray(), (QJsonArray{0, 0, 30, 20}));
    QCOMPARE(annotations.at(1)["area"].toDouble(), 100.0);
    QCOMPARE(annotations.at(2)["area"].toDouble(), 10.0);
    QCOMPARE(annotations.at(3)["area"].toDouble(), 600.0);
}

// Polylines and points (as LabelMe and CVAT bring them, without a box of
// their own or with a 2 x 2 one) are written by the box of their points.
void TestCocoHandler::linesAndPointsGetTheBoxOfTheirPoints()
{
    Annotation line = polyline("lane", {{5, 7}, {25, 17}, {15, 30}});
    line.bbox = QRectF();
    Annotation pin = point("pin", 4, 6);
    pin.bbox = QRectF(3, 5, 2, 2);
    Dataset dataset;
    dataset.addImage(image("/a.jpg", 40, 40, {line, pin}));
    const QJsonArray annotations = exportedDocument(dataset)["annotations"].toArray();
    QCOMPARE(annotations.at(0)["bbox"].toArray(), (QJsonArray{5, 7, 20, 23}));
    QCOMPARE(annotations.at(0)["area"].toDouble(), 460.0);
    QCOMPARE(annotations.at(0)["segmentation"].toArray(), QJsonArray());
    QCOMPARE(annotations.at(1)["bbox"].toArray(), (QJsonArray{4, 6, 0, 0}));
    QCOMPARE(annotations.at(1)["area"].toDouble(), 0.0);
}

// A dataset of more images than one thread writes at a time: the pieces
// join into exactly the document a JSON writer gives, ids running on.
void TestCocoHandler::manyImagesWrittenInPiecesAreOneDocument()
{
    Dataset dataset;
    dataset.addClass("cat", QColor());
    for (int i = 0; i < 1300; ++i) {
        QList<Annotation> labels;
        // Pieces without any annotation, and flags that are written whole.
        if (i < 512 || i >= 1030) {
            labels.append(box("cat", i % 50, 1.25, 3, 4));
            if (i % 97 == 0) {
                Annotation flagged = polygon("dog", {{1, 1}, {5, 1}, {3, 4}});
                flagged.attributes.insert("ignore", 1);
                labels.append(flagged);
            }
        }
        dataset.addImage(image(QStringLiteral("/p/%1.jpg").arg(i), 60, 40, labels));
    }
    const QByteArray bytes = cocoJsonBytes(dataset);
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    QVERIFY(document.isObject());
    QCOMPARE(bytes, document.toJson(QJsonDocument::Indented));
    const QJsonArray annotations = document["annotations"].toArray();
    int expected = 0;
    for (const ImageEntry &entry : dataset.images)
        expected += int(entry.labels.size());
    QCOMPARE(annotations.size(), expected);
    for (int i = 0; i < annotations.size(); ++i)
        QCOMPARE(annotations.at(i)["id"].toInt(), i + 1);
    QCOMPARE(annotations.last()["image_id"].toInt(), 1299);
    QCOMPARE(annotations.at(1)["ignore"].toInt(), 1);
}

QM_TEST_MAIN(TestCocoHandler)
#include "tst_cocohandler.moc"
