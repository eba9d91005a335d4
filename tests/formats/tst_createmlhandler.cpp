#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/CreateMLHandler.h"
#include "formats/FormatRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

class TestCreateMLHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void importsDocumentedLayout();
    void importFailures_data();
    void importFailures();
    void exportLayout();
    void exportReadByPython();
    void exportFailsWhenFileCannotBeWritten();
    void roundTrip();
};

namespace {

IFormatHandler &handler()
{
    return *FormatRegistry::instance().find("CreateML");
}

// The layout of the format's documentation: an array of images, each with
// its boxes by centre and size.
const QByteArray kDocumented = R"([
    {
        "image": "image1.jpg",
        "annotations": [
            {
                "label": "carrots",
                "coordinates": { "x": 120, "y": 164, "width": 230, "height": 119 }
            },
            {
                "label": "orange",
                "coordinates": { "x": 230, "y": 321, "width": 50.5, "height": 50 }
            }
        ]
    },
    {
        "image": "sub/image2.jpg",
        "annotations": [
            { "label": "  ", "coordinates": { "x": 1, "y": 1, "width": 1, "height": 1 } },
            { "label": " apple ", "coordinates": { "x": 10, "y": "20", "width": 4 } }
        ]
    },
    7,
    { "image": "image1.jpg", "annotations": [] }
]
)";

} // namespace

void TestCreateMLHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("createML");
    QTest::newRow("documented layout") << kDocumented << true;
    QTest::newRow("blanks and byte-order mark first") << QByteArray("\xEF\xBB\xBF \n [{\"coordinates\": {}}]") << true;
    // Our own export whose first images have no boxes yet.
    QTest::newRow("first images without boxes")
        << QByteArray("[\n    {\n        \"annotations\": [\n        ],\n        \"image\": \"a.jpg\"\n    }\n]\n")
        << true;
    QTest::newRow("keys only past 512 bytes")
        << QByteArray("[" + QByteArray(600, ' ') + R"({"image": "a.jpg", "annotations": [{"coordinates": {}}]}])")
        << false;
    QTest::newRow("object at the top") << QByteArray(R"({"coordinates": [], "image": "a", "annotations": []})")
                                       << false;
    QTest::newRow("COCO") << QByteArray(R"({"images": [], "annotations": [], "categories": []})") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCreateMLHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, createML);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("annotations.createml.JSON"), content));
    QCOMPARE(isCreateMLJsonFile(dir.filePath("annotations.createml.JSON")), createML);
    QCOMPARE(handler().canImport(dir.filePath("annotations.createml.JSON")), createML);
    QCOMPARE(handler().canImport(dir.path()), createML);
    // Only files directly in the folder count.
    QTemporaryDir deeper;
    QVERIFY(writeFile(deeper.filePath("sub/a.json"), content));
    QVERIFY(!handler().canImport(deeper.path()));
}

void TestCreateMLHandler::importsDocumentedLayout()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("image1.jpg"), 640, 480));
    QVERIFY(writeImage(dir.filePath("images/image2.jpg"), 32, 24));
    const QString file = dir.filePath("annotations.json");
    QVERIFY(writeFile(file, kDocumented));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(handler().importDataset(file, dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    QCOMPARE(dataset.images.size(), 4);
    QCOMPARE(dataset.classColors.size(), 0); // the import command adds the classes

    const ImageEntry &first = dataset.images.at(0);
    QCOMPARE(first.id, 0);
    QCOMPARE(first.filePath, dir.filePath("image1.jpg"));
    QCOMPARE(QSize(first.width, first.height), QSize(640, 480));
    QCOMPARE(first.labels.size(), 2);
    QCOMPARE(first.labels.at(0).className, QStringLiteral("carrots"));
    QCOMPARE(first.labels.at(0).kind, int(BoundingBox));
    QCOMPARE(first.labels.at(0).bbox, QRectF(5, 104.5, 230, 119));
    QCOMPARE(first.labels.at(1).bbox, QRectF(204.75, 296, 50.5, 50));

    // Not beside the file: found in "images" under its last component.
    const ImageEntry &second = dataset.images.at(1);
    QCOMPARE(second.filePath, dir.filePath("images/image2.jpg"));
    QCOMPARE(QSize(second.width, second.height), QSize(32, 24));
    QCOMPARE(second.labels.size(), 1); // the blank label is left out
    QCOMPARE(second.labels.at(0).className, QStringLiteral("apple"));
    QCOMPARE(second.labels.at(0).bbox, QRectF(8, 0, 4, 0)); // "y" of another type and no height read as 0

    // An element that is no object still takes its place and id.
    const ImageEntry &third = dataset.images.at(2);
    QCOMPARE(third.id, 2);
    QVERIFY(third.labels.isEmpty());
    QCOMPARE(QSize(third.width, third.height), QSize(0, 0));
    // An image listed twice is two entries.
    QCOMPARE(dataset.images.at(3).id, 3);
    QCOMPARE(dataset.images.at(3).filePath, first.filePath);

    // A missing image keeps the path where it would be, and no size.
    QTemporaryDir bare;
    QVERIFY(writeFile(bare.filePath("a.json"), R"([{"image": "x/gone.png", "annotations": []}])"));
    Dataset missing;
    QVERIFY(handler().importDataset(bare.filePath("a.json"), missing, {}));
    QCOMPARE(missing.images.at(0).filePath, bare.filePath("images/gone.png"));
    QCOMPARE(missing.images.at(0).width, 0);
}

void TestCreateMLHandler::importFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty array") << QByteArray("[]");
    QTest::newRow("object") << QByteArray(R"({"image": "a.jpg", "annotations": []})");
    QTest::newRow("invalid JSON") << QByteArray(R"([{"image": "a.jpg", "annotations": [}])");
    QTest::newRow("trailing garbage") << QByteArray(R"([{"image": "a.jpg"}] [])");
    QTest::newRow("empty file") << QByteArray();
}

void TestCreateMLHandler::importFailures()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.json"), content));
    Dataset dataset;
    QVERIFY(!handler().importDataset(dir.filePath("a.json"), dataset, {}));
    QCOMPARE(dataset.images.size(), 0);
    QVERIFY(!handler().importDataset(dir.filePath("missing.json"), dataset, {}));
    QVERIFY(!handler().importDataset(dir.path(), dataset, {}));
}

// Every kind goes out as its box; the layout is the indented form with sorted
// keys that QJsonDocument, an independent writer, gives the same content.
void TestCreateMLHandler::exportLayout()
{
    QTemporaryDir dir;
    Dataset dataset;
    Annotation emptyPolygon = polygon("hull", {});
    emptyPolygon.bbox = QRectF(1, 2, 3, 4);
    dataset.addImage(
        image(dir.filePath("a/frame.png"), 64, 48,
              {box("cat", 10.5, 20, 30, 0.1), point("eye", 5, 7), emptyPolygon,
               keypoints("person", {0, 0, 1, 1}, {{2, 3}, {8, 9}}, {2, 2}), polyline("road", {{0, 47}, {63, 1}})}));
    dataset.addImage(image(dir.filePath("b/frame.png"), 64, 48));
    const QString file = dir.filePath("out/annotations.createml.json");
    QList<QPair<int, int>> calls;
    QVERIFY(handler().exportDataset(file, dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));

    auto boxObject = [](const QString &label, double x, double y, double w, double h) {
        return QJsonObject{{"coordinates", QJsonObject{{"height", h}, {"width", w}, {"x", x}, {"y", y}}},
                           {"label", label}};
    };
    const QJsonArray expected{
        QJsonObject{{"annotations", QJsonArray{boxObject("cat", 25.5, 20.05, 30, 0.1), boxObject("eye", 5, 7, 0, 0),
                                               boxObject("hull", 2.5, 4, 3, 4), boxObject("person", 5, 6, 6, 6),
                                               boxObject("road", 31.5, 24, 63, 46)}},
                    {"image", "frame.png"}},
        // A second image of the same name is named apart, as its copy is.
        QJsonObject{{"annotations", QJsonArray()}, {"image", "frame_2.png"}},
    };
    QCOMPARE(readFile(file), QJsonDocument(expected).toJson(QJsonDocument::Indented));
}

void TestCreateMLHandler::exportReadByPython()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    Dataset dataset;
    const QString name = QString::fromUtf8("çiçek \"dal\" \\ <b>");
    dataset.addImage(image(dir.filePath("x/ü 1.png"), 640, 480,
                           {box(name, 0.1, 0.2, 100.3, 50.7), polygon("dog", ring(7, 320, 240, 100.123456789))}));
    dataset.addImage(image(dir.filePath("y.png"), 10, 10));
    const QString file = dir.filePath("out.json");
    QVERIFY(handler().exportDataset(file, dataset, {}));
    const QRectF ringBox = boundsOf(ring(7, 320, 240, 100.123456789));
    const QJsonArray expected{
        QJsonArray{QString::fromUtf8("ü 1.png"),
                   QJsonArray{QJsonArray{name, 50.25, 25.55, 100.3, 50.7},
                              QJsonArray{"dog", ringBox.center().x(), ringBox.center().y(), ringBox.width(),
                                         ringBox.height()}}},
        QJsonArray{"y.png", QJsonArray()},
    };
    QVERIFY(writeFile(dir.filePath("expected.json"), QJsonDocument(expected).toJson()));
    QByteArray output;
    QVERIFY2(runReaderScript("check_jsonformats.py", {"createml", file, dir.filePath("expected.json")}, &output),
             output.constData());
}

void TestCreateMLHandler::exportFailsWhenFileCannotBeWritten()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("taken.json")));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    Dataset dataset;
    dataset.addImage(image("/a.png", 4, 4, {box("cat", 0, 0, 1, 1)}));
    QVERIFY(!handler().exportDataset(dir.filePath("taken.json"), dataset, {}));
    QVERIFY(!handler().exportDataset(dir.filePath("file/out.json"), dataset, {}));
}

void TestCreateMLHandler::roundTrip()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("out/images/a.png"), 64, 48));
    Dataset dataset;
    const QList<Annotation> labels = {box("cat", 0, 0, 64, 48), box("dog", 63.75, 47.5, 0.25, 0.5),
                                      polygon("hull", ring(5, 32, 24, 30))};
    dataset.addImage(image(dir.filePath("src/a.png"), 64, 48, labels));
    const QString file = dir.filePath("out/annotations.createml.json");
    QVERIFY(handler().exportDataset(file, dataset, {}));
    QVERIFY(handler().canImport(dir.filePath("out")));
    Dataset read;
    QVERIFY(handler().importDataset(file, read, {}));
    QCOMPARE(read.images.size(), 1);
    QCOMPARE(read.images.at(0).filePath, dir.filePath("out/images/a.png"));
    const QList<Annotation> &a = read.images.at(0).labels;
    QCOMPARE(a.size(), 3);
    QCOMPARE(a.at(0).bbox, labels.at(0).bbox);
    QCOMPARE(a.at(1).bbox, labels.at(1).bbox);
    fuzzyCompareRect(a.at(2).bbox, boundsOf(labels.at(2).points), 1e-9);
    QCOMPARE(a.at(2).kind, int(BoundingBox));
}

QM_TEST_MAIN(TestCreateMLHandler)
#include "tst_createmlhandler.moc"
