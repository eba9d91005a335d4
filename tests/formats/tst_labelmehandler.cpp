#include "ImageFileBytes.h"
#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/LabelMeHandler.h"

#include <cmath>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

class TestLabelMeHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void detectionOfFolders();
    void readsShapes();
    void imageSources_data();
    void imageSources();
    void embeddedImageInReadOnlyFolder();
    void sizeFromTheImage();
    void importSkipsOtherJson();
    void bothImageSources();
    void exportLayout();
    void exportEmbedsImages();
    void exportNamesAreUnique();
    void exportFailsWhenFolderCannotBeMade();
    void roundTrip();
    void peerWritesWeRead();
    void peerReadsOurExport();
    void peerFindsImagesOfWholeExport();
    void groupsOfOneLabelAreOneObject();
    void ownObjectsOfSeveralPartsRoundTrip();
};

namespace {

LabelMeHandler &handler()
{
    return *static_cast<LabelMeHandler *>(FormatRegistry::instance().find("LabelMe"));
}

QByteArray pngBytes(int width, int height, QColor colour)
{
    return QmTest::filledImageBytes(width, height, colour);
}

// A LabelMe file as the tool writes it: version, flags, the shapes, then the
// image's name, its data and its size.
QByteArray labelMeText(const QJsonValue &imagePath, const QJsonValue &imageData, const QJsonArray &shapes = {},
                       int width = 0, int height = 0)
{
    QByteArray text = "{\n  \"version\": \"5.1.1\",\n  \"flags\": {},\n  \"shapes\": " +
                      QJsonDocument(shapes).toJson(QJsonDocument::Compact) + ",\n";
    text += "  \"imagePath\": " + QJsonDocument(QJsonArray{imagePath}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    text +=
        ",\n  \"imageData\": " + QJsonDocument(QJsonArray{imageData}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    if (width > 0)
        text +=
            ",\n  \"imageWidth\": " + QByteArray::number(width) + ",\n  \"imageHeight\": " + QByteArray::number(height);
    return text + "\n}\n";
}

// LabelMe points: [[x, y], ...].
QJsonArray pts(std::initializer_list<QPointF> points)
{
    QJsonArray array;
    for (const QPointF &p : points)
        array.append(QJsonArray{p.x(), p.y()});
    return array;
}

QJsonObject shape(const QString &label, const QString &type, const QJsonArray &points)
{
    return QJsonObject{{"label", label},
                       {"shape_type", type},
                       {"points", points},
                       {"flags", QJsonObject()},
                       {"group_id", QJsonValue::Null}};
}

QJsonArray manyShapes(int count)
{
    QJsonArray shapes;
    for (int i = 0; i < count; ++i)
        shapes.append(shape("cat", "polygon", pts({{1.5, 2.5}, {10.25, 2}, {4, 9}})));
    return shapes;
}

Dataset readOne(const QString &path, bool preferExternal, bool *ok = nullptr)
{
    Dataset dataset;
    const bool read = readLabelMeFile(path, dataset, preferExternal);
    if (ok)
        *ok = read;
    return dataset;
}

bool runPeer(const QStringList &arguments, QByteArray *output)
{
    return runReaderScript(QStringLiteral("labelme_peer.py"), arguments, output);
}

} // namespace

void TestLabelMeHandler::detection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("labelMe");
    QTest::newRow("embedded image") << QByteArray(R"({"imageData": "iVBORw0KGgo=", "flags": {}})") << true;
    QTest::newRow("null image data only") << QByteArray(R"({"imageData": null, "flags": {}})") << false;
    QTest::newRow("null image data, no blank") << QByteArray(R"({"imageData":null,"flags":{}})") << false;
    QTest::newRow("name and shapes") << QByteArray(R"({"shapes": [], "imagePath": "a.jpg"})") << true;
    QTest::newRow("shapes only") << QByteArray(R"({"shapes": []})") << false;
    // The tool writes the shapes first: with a few of them, the image keys
    // lie far beyond the first 512 bytes.
    QTest::newRow("tool layout, name late") << labelMeText("a.jpg", QJsonValue::Null, manyShapes(12)) << true;
    QTest::newRow("tool layout, data late") << labelMeText(QJsonValue::Null, "iVBORw0KGgo=", manyShapes(12)) << true;
    QTest::newRow("tool layout, no image keys")
        << QByteArray("{\n  \"version\": \"5.1.1\",\n  \"shapes\": " +
                      QJsonDocument(manyShapes(12)).toJson(QJsonDocument::Compact) + "\n}")
        << false;
    QTest::newRow("array of LabelMe objects")
        << QByteArray("[" + QByteArray(600, ' ') + R"({"shapes": [], "imagePath": "a.jpg"}])") << false;
    QTest::newRow("no LabelMe key in the first 64 KiB")
        << QByteArray(R"({"notes": ")" + QByteArray(70000, 'x') + R"(", "shapes": [], "imagePath": "a"})") << false;
    QTest::newRow("COCO") << QByteArray(R"({"images": [{"file_name": "a.jpg", "id": 1}], "annotations": [],)"
                                        R"( "categories": []})")
                          << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestLabelMeHandler::detection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, labelMe);
    QTemporaryDir dir;
    const QString path = dir.filePath("0001.JSON");
    QVERIFY(writeFile(path, content));
    QCOMPARE(isLabelMeJsonFile(path), labelMe);
    QCOMPARE(handler().canImport(path), labelMe);
    QCOMPARE(handler().canImport(dir.path()), labelMe);
}

void TestLabelMeHandler::detectionOfFolders()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("meta.json"), R"({"classes": ["cat"]})"));
    QVERIFY(!handler().canImport(dir.path()));
    // LabelMe files only in a subfolder.
    QVERIFY(writeFile(dir.filePath("set/a/0001.json"), labelMeText("0001.jpg", QJsonValue::Null, manyShapes(3))));
    QVERIFY(handler().canImport(dir.path()));
    Dataset dataset;
    QVERIFY(handler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(dataset.images.at(0).labels.size(), 3);
    QVERIFY(!handler().canImport(dir.filePath("missing")));
}

void TestLabelMeHandler::readsShapes()
{
    QJsonArray lenientPoints = pts({{1, 2}});
    lenientPoints.append(QJsonArray{3});
    lenientPoints.append("x");
    lenientPoints.append(QJsonArray{4, 5, 6});
    lenientPoints.append(QJsonArray{QJsonValue::Null, 7});
    const QJsonArray shapes = {
        shape("box", "rectangle", pts({{50, 60}, {10, 20}})),
        shape("box3", "rectangle", pts({{5, 9}, {1, 2}, {3, 12}})),
        shape("box1", "rectangle", pts({{5, 9}})),
        shape("eye", "point", pts({{5, 7}})),
        shape("nothing", "point", {}),
        shape("wire", "line", pts({{0, 0}, {4, 3}})),
        shape("road", "linestrip", pts({{1, 1}, {2, 5}, {7, 3}})),
        shape("ball", "circle", pts({{10, 10}, {14, 10}})),
        shape("odd", "", pts({{1, 2}, {3, 4}, {0, 6}})),
        shape("cased", "Rectangle", pts({{1, 2}, {3, 4}})),
        shape("   ", "rectangle", pts({{1, 2}, {3, 4}})),
        shape(" dog ", "polygon", lenientPoints),
        shape("cup", "mask", pts({{40, 30}, {12, 8}})),
        QJsonValue(5),
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("a.json");
    QVERIFY(writeFile(path, QJsonDocument(QJsonObject{{"shapes", shapes}}).toJson()));
    bool ok = false;
    const Dataset dataset = readOne(path, false, &ok);
    QVERIFY(ok);
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &entry = dataset.images.at(0);
    // Neither "imagePath" nor "imageData": the entry is the JSON file itself.
    QCOMPARE(entry.filePath, QFileInfo(path).absoluteFilePath());
    const QList<Annotation> &a = entry.labels;
    QCOMPARE(a.size(), 12);
    auto check = [&](int i, const QString &cls, int kind, const QRectF &bbox, const QList<QPointF> &points) {
        QCOMPARE(a.at(i).className, cls);
        QCOMPARE(a.at(i).kind, kind);
        QCOMPARE(a.at(i).bbox, bbox);
        QCOMPARE(a.at(i).points, points);
        QCOMPARE(a.at(i).confidence, 1.0f);
    };
    check(0, "box", BoundingBox, QRectF(10, 20, 40, 40), {});
    check(1, "box3", BoundingBox, QRectF(1, 2, 4, 10), {});
    check(2, "box1", BoundingBox, QRectF(), {});
    check(3, "eye", Point, QRectF(4, 6, 2, 2), {QPointF(5, 7)});
    check(4, "nothing", Point, QRectF(), {});
    check(5, "wire", Polyline, QRectF(0, 0, 4, 3), {QPointF(0, 0), QPointF(4, 3)});
    check(6, "road", Polyline, QRectF(1, 1, 6, 4), {QPointF(1, 1), QPointF(2, 5), QPointF(7, 3)});
    // A circle is its centre and a point on its edge: it comes as an outline
    // around the centre, not as a two-point line.
    QCOMPARE(a.at(7).className, QString("ball"));
    QCOMPARE(a.at(7).kind, int(Polygon));
    QCOMPARE(a.at(7).bbox, QRectF(6, 6, 8, 8));
    QVERIFY(a.at(7).points.size() >= 16);
    for (const QPointF &p : a.at(7).points)
        QVERIFY(qAbs(std::hypot(p.x() - 10, p.y() - 10) - 4) < 1e-9);
    check(8, "odd", Polygon, QRectF(0, 2, 3, 4), {QPointF(1, 2), QPointF(3, 4), QPointF(0, 6)});
    check(9, "cased", Polygon, QRectF(1, 2, 2, 2), {QPointF(1, 2), QPointF(3, 4)});
    check(10, "dog", Polygon, QRectF(0, 2, 4, 5), {QPointF(1, 2), QPointF(4, 5), QPointF(0, 7)});
    // A mask names its box by two corners, as a rectangle does.
    check(11, "cup", BoundingBox, QRectF(12, 8, 28, 22), {});
}

// Where the pixels of an entry come from, for a file that embeds a 6 x 4
// picture and names "photo.png" (or another name).
void TestLabelMeHandler::imageSources_data()
{
    QTest::addColumn<QString>("imagePath");
    QTest::addColumn<QByteArray>("embedded"); // the picture's bytes, or other bytes
    QTest::addColumn<QString>("existing");    // a file placed beside the JSON file first
    QTest::addColumn<QByteArray>("existingBytes");
    QTest::addColumn<bool>("preferExternal");
    QTest::addColumn<QString>("expected"); // relative to the folder; "=json" for the JSON itself
    QTest::addColumn<QByteArray>("expectedBytes");
    const QByteArray picture = pngBytes(6, 4, Qt::blue);
    const QByteArray other = pngBytes(6, 4, Qt::green);
    const QByteArray jpeg = QmTest::filledImageBytes(6, 4, Qt::gray, "JPEG");
    const QByteArray notImage = "hello, not a picture";
    QTest::newRow("external preferred and there")
        << "photo.png" << picture << "images/photo.png" << other << true << "images/photo.png" << other;
    QTest::newRow("embedded written under its name")
        << "photo.png" << picture << "images/photo.png" << other << false << "photo.png" << picture;
    QTest::newRow("same picture already there")
        << "photo.png" << picture << "photo.png" << picture << false << "photo.png" << picture;
    QTest::newRow("other picture there") << "photo.png" << picture << "photo.png" << other << false << "photo_2.png"
                                         << picture;
    QTest::newRow("suffix of the format")
        << "photo.jpg" << picture << "" << QByteArray() << false << "photo.png" << picture;
    QTest::newRow("jpeg keeps jpeg") << "photo.jpeg" << jpeg << "" << QByteArray() << false << "photo.jpeg" << jpeg;
    QTest::newRow("no suffix") << "photo" << picture << "" << QByteArray() << false << "photo.png" << picture;
    QTest::newRow("never outside the folder")
        << "../../evil.png" << picture << "" << QByteArray() << false << "evil.png" << picture;
    QTest::newRow("Windows folders") << "..\\pics\\cat.png" << picture << "" << QByteArray() << false << "cat.png"
                                     << picture;
    QTest::newRow("dot dot") << ".." << picture << "" << QByteArray() << false << "label.png" << picture;
    QTest::newRow("no name") << "" << picture << "" << QByteArray() << false << "label.png" << picture;
    QTest::newRow("not an image, external there")
        << "photo.png" << notImage << "images/photo.png" << other << false << "images/photo.png" << other;
    QTest::newRow("not an image, nothing else")
        << "photo.png" << notImage << "" << QByteArray() << false << "=json" << QByteArray();
}

void TestLabelMeHandler::imageSources()
{
    QFETCH(QString, imagePath);
    QFETCH(QByteArray, embedded);
    QFETCH(QString, existing);
    QFETCH(QByteArray, existingBytes);
    QFETCH(bool, preferExternal);
    QFETCH(QString, expected);
    QFETCH(QByteArray, expectedBytes);
    QTemporaryDir dir;
    const QDir folder(dir.filePath("set"));
    if (!existing.isEmpty())
        QVERIFY(writeFile(folder.filePath(existing), existingBytes));
    const QString json = folder.filePath("label.json");
    QVERIFY(writeFile(json, labelMeText(imagePath, QString::fromLatin1(embedded.toBase64()))));
    const QStringList before = filesBelow(dir.path());

    const Dataset dataset = readOne(json, preferExternal);
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &entry = dataset.images.at(0);
    if (expected == "=json") {
        QCOMPARE(entry.filePath, json);
        QCOMPARE(filesBelow(dir.path()), before);
        return;
    }
    QCOMPARE(entry.filePath, folder.filePath(expected));
    QCOMPARE(readFile(entry.filePath), expectedBytes);
    QCOMPARE(QSize(entry.width, entry.height), QSize(6, 4));
    QVERIFY(entry.imageData.isEmpty());
    // A file that was there before keeps its bytes.
    if (!existing.isEmpty())
        QCOMPARE(readFile(folder.filePath(existing)), existingBytes);
    // Nothing is ever written outside the JSON file's folder.
    for (const QString &file : filesBelow(dir.path()))
        QVERIFY2(file.startsWith("set/"), qPrintable(file));
}

// An embedded image that cannot be written beside its file stays in memory:
// in a folder without write permission, or (for root, whom permissions do
// not bind) when every name it could take belongs to another picture.
void TestLabelMeHandler::embeddedImageInReadOnlyFolder()
{
    QTemporaryDir dir;
    const QByteArray picture = pngBytes(6, 4, Qt::blue);
    const QString json = dir.filePath("label.json");
    QVERIFY(writeFile(json, labelMeText("photo.png", QString::fromLatin1(picture.toBase64()))));
    const bool root = geteuid() == 0;
    if (root) {
        const QByteArray other = pngBytes(6, 4, Qt::green);
        QVERIFY(writeFile(dir.filePath("photo.png"), other));
        for (int n = 2; n <= 1000; ++n)
            QVERIFY(writeFile(dir.filePath(QStringLiteral("photo_%1.png").arg(n)), other));
    } else {
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    const QStringList before = filesBelow(dir.path());
    const Dataset dataset = readOne(json, false);
    QCOMPARE(filesBelow(dir.path()), before);
    if (!root)
        QVERIFY(QFile::setPermissions(dir.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(dataset.images.size(), 1);
    const ImageEntry &entry = dataset.images.at(0);
    QCOMPARE(entry.filePath, QStringLiteral("photo.png"));
    QCOMPARE(entry.imageData, picture);
    QCOMPARE(entry.loadPixels().size(), QSize(6, 4));
    QCOMPARE(entry.loadPixels().pixelColor(0, 0), QColor(Qt::blue));
    QCOMPARE(QSize(entry.width, entry.height), QSize(6, 4));
}

void TestLabelMeHandler::sizeFromTheImage()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("photo.png"), 9, 7));
    // The size the file gives wins; a missing or bad one comes from the image.
    QVERIFY(writeFile(dir.filePath("given.json"), labelMeText("photo.png", QJsonValue::Null, {}, 90, 70)));
    QVERIFY(writeFile(dir.filePath("missing.json"), labelMeText("photo.png", QJsonValue::Null)));
    QVERIFY(writeFile(dir.filePath("none.json"), labelMeText("gone.png", QJsonValue::Null)));
    QCOMPARE(readOne(dir.filePath("given.json"), false).images.at(0).width, 90);
    const ImageEntry probed = readOne(dir.filePath("missing.json"), false).images.at(0);
    QCOMPARE(QSize(probed.width, probed.height), QSize(9, 7));
    const ImageEntry none = readOne(dir.filePath("none.json"), false).images.at(0);
    QCOMPARE(QSize(none.width, none.height), QSize(0, 0));
    QCOMPARE(none.filePath, dir.filePath("none.json"));
}

void TestLabelMeHandler::importSkipsOtherJson()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a/classes.json"), R"({"names": ["cat"]})"));
    QVERIFY(writeFile(dir.filePath("a/broken.json"), R"({"shapes": [)"));
    QVERIFY(writeFile(dir.filePath("a/list.json"), R"([{"shapes": []}])"));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(!handler().importDataset(dir.path(), dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(dataset.images.size(), 0);
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));

    QVERIFY(writeFile(dir.filePath("b/0001.json"), labelMeText("0001.jpg", QJsonValue::Null, manyShapes(1))));
    QVERIFY(handler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QVERIFY(!handler().importDataset(dir.filePath("nowhere"), dataset, {}));
}

void TestLabelMeHandler::bothImageSources()
{
    QTemporaryDir dir;
    const QString data = QString::fromLatin1(pngBytes(2, 2, Qt::red).toBase64());
    QVERIFY(writeImage(dir.filePath("set/images/photo.png"), 2, 2));
    QVERIFY(writeFile(dir.filePath("set/embedded-only.json"), labelMeText("gone.png", data)));
    QVERIFY(writeFile(dir.filePath("set/external-only.json"), labelMeText("photo.png", QJsonValue::Null)));
    QVERIFY(!labelMeFileHasBothImageSources(dir.filePath("set/embedded-only.json")));
    QVERIFY(!labelMeFileHasBothImageSources(dir.filePath("set/external-only.json")));
    QVERIFY(!labelMeImportHasBothImageSources(dir.path()));
    QVERIFY(writeFile(dir.filePath("set/deep/both.json"), labelMeText("../images/photo.png", data, manyShapes(20))));
    QVERIFY(labelMeFileHasBothImageSources(dir.filePath("set/deep/both.json")));
    QVERIFY(labelMeImportHasBothImageSources(dir.path()));
    QVERIFY(labelMeImportHasBothImageSources(dir.filePath("set/deep/both.json")));
}

// The file of one image, as an independent writer lays out the same content:
// QJsonDocument sorts keys and indents by four spaces.
void TestLabelMeHandler::exportLayout()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/frame.png");
    QVERIFY(writeImage(picture, 64, 48));
    Dataset dataset;
    Annotation empty;
    empty.className = "nothing";
    empty.kind = Point;
    dataset.addImage(image(picture, 64, 48,
                           {box("cat", 10.5, 20, 30, 0.1), polygon("dog", {{1, 2}, {3.25, 4}, {5, 6}}),
                            polyline("road", {{0, 47}, {63, 0}}), point("eye", 5, 7),
                            keypoints("person", {1, 1, 9, 9}, {{2, 3}, {8, 9}}, {2, 1}), empty}));
    handler().useExternalImages = 1;
    QVERIFY(handler().exportDataset(dir.filePath("out"), dataset, {}));
    handler().useExternalImages = 0;

    auto shapeObject = [](const QString &label, const QString &type, const QJsonArray &points) {
        return QJsonObject{{"flags", QJsonObject()},
                           {"group_id", QJsonValue::Null},
                           {"label", label},
                           {"points", points},
                           {"shape_type", type}};
    };
    // A keypoint set: its labelled points as "point" shapes of one group.
    auto keypointObject = [](const QString &description, const QJsonArray &points) {
        return QJsonObject{{"description", description}, {"flags", QJsonObject()}, {"group_id", 1},
                           {"label", "person"},          {"points", points},       {"shape_type", "point"}};
    };
    const QJsonObject expected{
        {"flags", QJsonObject()},
        {"imageData", QJsonValue::Null},
        {"imageHeight", 48},
        {"imagePath", "frame.png"},
        {"imageWidth", 64},
        {"shapes",
         QJsonArray{shapeObject("cat", "rectangle", pts({{10.5, 20}, {40.5, 20.1}})),
                    shapeObject("dog", "polygon", pts({{1, 2}, {3.25, 4}, {5, 6}})),
                    shapeObject("road", "linestrip", pts({{0, 47}, {63, 0}})),
                    shapeObject("eye", "point", pts({{5, 7}})), keypointObject("keypoint 1", pts({{2, 3}})),
                    keypointObject("keypoint 2, occluded", pts({{8, 9}})), shapeObject("nothing", "point", {})}},
        {"version", "5.2.1"},
    };
    QCOMPARE(filesBelow(dir.filePath("out")), QStringList{"frame.json"});
    QCOMPARE(readFile(dir.filePath("out/frame.json")), QJsonDocument(expected).toJson(QJsonDocument::Indented));
}

void TestLabelMeHandler::exportEmbedsImages()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 8, 6));
    Dataset dataset;
    dataset.addImage(image(picture, 0, 0, {box("cat", 1, 1, 2, 2)}));
    ImageEntry held = image("held.jpg", 0, 0);
    held.image = QImage(5, 3, QImage::Format_RGB32);
    held.image.fill(Qt::blue);
    dataset.addImage(held);

    struct Case {
        int setting;
        bool embeds;
    };
    for (const Case &c : {Case{0, true}, Case{1, false}, Case{2, false}}) {
        handler().useExternalImages = c.setting;
        const QString out = dir.filePath(QStringLiteral("out%1").arg(c.setting));
        QVERIFY(handler().exportDataset(out, dataset, {}));
        const QJsonObject a = QJsonDocument::fromJson(readFile(out + "/a.json")).object();
        const QJsonObject h = QJsonDocument::fromJson(readFile(out + "/held.json")).object();
        // Unknown sizes are read from the pixels.
        QCOMPARE(a.value("imageWidth").toInt(), 8);
        QCOMPARE(h.value("imageHeight").toInt(), 3);
        if (!c.embeds) {
            QVERIFY(a.value("imageData").isNull());
            QVERIFY(h.value("imageData").isNull());
            continue;
        }
        QCOMPARE(QByteArray::fromBase64(a.value("imageData").toString().toLatin1()), readFile(picture));
        // Pixels held in memory behind a relative path go in as PNG.
        const QByteArray png = QByteArray::fromBase64(h.value("imageData").toString().toLatin1());
        QVERIFY(png.startsWith("\x89PNG"));
        QCOMPARE(QImage::fromData(png).size(), QSize(5, 3));
    }
    handler().useExternalImages = 0;
}

void TestLabelMeHandler::exportNamesAreUnique()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (const char *folder : {"a", "b"}) {
        const QString path = dir.filePath(QStringLiteral("%1/frame.png").arg(folder));
        QVERIFY(writeImage(path, 4, 4));
        dataset.addImage(image(path, 4, 4, {box(folder, 0, 0, 1, 1)}));
    }
    handler().useExternalImages = 1;
    QVERIFY(handler().exportDataset(dir.filePath("out"), dataset, {}));
    handler().useExternalImages = 0;
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"frame.json", "frame_2.json"}));
    const QJsonObject second = QJsonDocument::fromJson(readFile(dir.filePath("out/frame_2.json"))).object();
    QCOMPARE(second.value("imagePath").toString(), QStringLiteral("frame_2.png"));
    QCOMPARE(second.value("shapes").toArray().at(0).toObject().value("label").toString(), QStringLiteral("b"));
}

void TestLabelMeHandler::exportFailsWhenFolderCannotBeMade()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("out"), "a file in the way"));
    Dataset dataset;
    dataset.addImage(image("/nowhere/a.png", 4, 4, {box("cat", 0, 0, 1, 1)}));
    QVERIFY(!handler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(!handler().exportDataset(dir.filePath("out/sub"), dataset, {}));
}

void TestLabelMeHandler::roundTrip()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 64, 48));
    Dataset dataset;
    const QList<Annotation> labels = {box("cat", 63, 47, -20, -10), polygon("dog", ring(5, 32, 24, 30)),
                                      polyline("road", {{0, 0}, {64, 48}}), point("eye", 0, 48),
                                      keypoints("person", {0, 0, 64, 48}, {{0, 0}, {64, 48}, {10, 5}}, {2, 2, 0})};
    dataset.addImage(image(picture, 64, 48, labels));
    for (int setting : {0, 1}) {
        handler().useExternalImages = setting;
        const QString out = dir.filePath(QStringLiteral("out%1").arg(setting));
        QVERIFY(handler().exportDataset(out, dataset, {}));
        QVERIFY(writeImage(out + "/images/a.png", 64, 48)); // where the export job copies images
        Dataset read;
        QVERIFY(handler().canImport(out));
        QVERIFY(handler().importDataset(out, read, {}));
        QCOMPARE(read.images.size(), 1);
        const ImageEntry &entry = read.images.at(0);
        QCOMPARE(QFileInfo(entry.filePath).fileName(), QStringLiteral("a.png"));
        QCOMPARE(QSize(entry.width, entry.height), QSize(64, 48));
        const QList<Annotation> &a = entry.labels;
        QCOMPARE(a.size(), 5);
        QCOMPARE(a.at(0).kind, int(BoundingBox));
        fuzzyCompareRect(a.at(0).bbox, QRectF(43, 37, 20, 10));
        QCOMPARE(a.at(1).kind, int(Polygon));
        QVERIFY(pointsClose(a.at(1).points, labels.at(1).points, 1e-9));
        QCOMPARE(a.at(2).kind, int(Polyline));
        QCOMPARE(a.at(2).points, labels.at(2).points);
        QCOMPARE(a.at(3).kind, int(Point));
        QCOMPARE(a.at(3).points, labels.at(3).points);
        // The keypoint set comes back from its labelled points; the
        // unlabelled one was not written.
        QCOMPARE(a.at(4).kind, int(Keypoint));
        QCOMPARE(a.at(4).points, (QList<QPointF>{{0, 0}, {64, 48}}));
        QCOMPARE(a.at(4).keypointVis, (QList<int>{2, 2}));
    }
    handler().useExternalImages = 0;
}

// Files written by the LabelMe tool's own LabelFile class: several shapes
// before the image keys, an embedded image, an image one folder up.
void TestLabelMeHandler::peerWritesWeRead()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    QByteArray output;
    QVERIFY2(runPeer({"write", dir.path()}, &output), output.constData());
    QVERIFY(handler().canImport(dir.path()));
    QVERIFY(isLabelMeJsonFile(dir.filePath("external.json")));
    QVERIFY(readFile(dir.filePath("external.json")).indexOf("\"imagePath\"") > 512);

    Dataset dataset;
    QVERIFY(handler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
    const ImageEntry &embedded = dataset.images.at(0);
    const ImageEntry &external = dataset.images.at(1);
    const ImageEntry &nested = dataset.images.at(2);
    // The embedded picture is the one beside the file (same bytes): it is used.
    QCOMPARE(embedded.filePath, dir.filePath("photo.png"));
    QCOMPARE(external.filePath, dir.filePath("photo.png"));
    QCOMPARE(QFileInfo(nested.filePath).canonicalFilePath(), QFileInfo(dir.filePath("photo.png")).canonicalFilePath());
    QCOMPARE(QSize(embedded.width, embedded.height), QSize(64, 48));

    const QList<Annotation> &a = embedded.labels;
    QCOMPARE(a.size(), 5); // the blank label is left out
    QCOMPARE(a.at(0).className, QStringLiteral("cat"));
    QCOMPARE(a.at(0).bbox, QRectF(10, 5, 30, 25));
    QCOMPARE(a.at(1).className, QString::fromUtf8("çiçek"));
    QCOMPARE(a.at(1).points, (QList<QPointF>{{1, 1}, {20.5, 2}, {25, 30}, {3, 40}}));
    QCOMPARE(a.at(2).kind, int(Polyline));
    QCOMPARE(a.at(3).kind, int(Point));
    QCOMPARE(a.at(3).bbox, QRectF(4, 6, 2, 2));
    QCOMPARE(a.at(4).kind, int(Polygon));
    QCOMPARE(a.at(4).bbox, QRectF(28, 20, 8, 8)); // the circle of radius 4 around (32, 24)
    QCOMPARE(external.labels.size(), 2);
    QCOMPARE(nested.labels.size(), 1);
}

// Our export read by LabelFile, which also checks that each image has the
// size the file gives.
void TestLabelMeHandler::peerReadsOurExport()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 40, 30));
    Dataset dataset;
    dataset.addImage(
        image(picture, 0, 0,
              {box("cat", 1, 2, 10, 5), polygon(QString::fromUtf8("çiçek & <dal>"), {{1, 1}, {9.5, 1}, {5, 8}}),
               polyline("road", {{0, 0}, {39, 29}}), point("eye", 3, 4)}));
    ImageEntry held = image("held.png", 0, 0, {box("dog", 0, 0, 5, 5)});
    held.image = QImage(7, 9, QImage::Format_RGB32);
    held.image.fill(Qt::green);
    dataset.addImage(held);
    const QByteArray expected =
        QJsonDocument(
            QJsonObject{
                {"a.json", QJsonArray{QJsonArray{"cat", "rectangle", QJsonArray{QJsonArray{1, 2}, QJsonArray{11, 7}}},
                                      QJsonArray{QString::fromUtf8("çiçek & <dal>"), "polygon",
                                                 QJsonArray{QJsonArray{1, 1}, QJsonArray{9.5, 1}, QJsonArray{5, 8}}},
                                      QJsonArray{"road", "linestrip", QJsonArray{QJsonArray{0, 0}, QJsonArray{39, 29}}},
                                      QJsonArray{"eye", "point", QJsonArray{QJsonArray{3, 4}}}}},
                {"held.json",
                 QJsonArray{QJsonArray{"dog", "rectangle", QJsonArray{QJsonArray{0, 0}, QJsonArray{5, 5}}}}},
            })
            .toJson();
    QVERIFY(writeFile(dir.filePath("expected.json"), expected));

    for (int setting : {0, 1}) {
        handler().useExternalImages = setting;
        const QString out = dir.filePath(QStringLiteral("out%1").arg(setting));
        QVERIFY(handler().exportDataset(out, dataset, {}));
        if (setting == 1) {
            // The images beside the files, as a split export copies them.
            QVERIFY(QFile::copy(picture, out + "/a.png"));
            QVERIFY(held.image.save(out + "/held.png"));
        }
        QByteArray output;
        QVERIFY2(runPeer({"read", out, dir.filePath("expected.json")}, &output), output.constData());
    }
    handler().useExternalImages = 0;
}

// An export without a split copies the pictures into "images/"; LabelMe opens
// a file's picture by its "imagePath" relative to the file.
void TestLabelMeHandler::peerFindsImagesOfWholeExport()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 40, 30));
    Dataset dataset;
    dataset.addImage(image(picture, 40, 30, {box("cat", 1, 2, 10, 5)}));
    const QByteArray expected =
        QJsonDocument(QJsonObject{{"a.json", QJsonArray{QJsonArray{"cat", "rectangle",
                                                                   QJsonArray{QJsonArray{1, 2}, QJsonArray{11, 7}}}}}})
            .toJson();
    QVERIFY(writeFile(dir.filePath("expected.json"), expected));
    ExportConfig config;
    config.format = QStringLiteral("LabelMe");
    config.outputPath = dir.filePath("out");
    handler().useExternalImages = 1;
    QString error;
    QVERIFY2(runExportJob(&handler(), config, dataset, 1, false, {}, &error, nullptr), qPrintable(error));
    handler().useExternalImages = 0;
    QVERIFY(QFileInfo::exists(config.outputPath + "/a.png"));
    QByteArray output;
    QVERIFY2(runPeer({"read", config.outputPath, dir.filePath("expected.json")}, &output), output.constData());

    // Read back by our own import as well.
    Dataset back;
    handler().useExternalImages = 1;
    QVERIFY(handler().importDataset(config.outputPath, back, {}));
    handler().useExternalImages = 0;
    QCOMPARE(back.images.size(), 1);
    QCOMPARE(QFileInfo(back.images.first().filePath).canonicalFilePath(),
             QFileInfo(config.outputPath + "/a.png").canonicalFilePath());
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

QJsonArray shapesOf(const QString &path)
{
    return QJsonDocument::fromJson(readFile(path))["shapes"].toArray();
}

} // namespace

// A file as the LabelMe tool saves it, its shapes tied by group_id: the
// polygons of one label in one group are one object again, as LabelMe's own
// instance examples take them (group 0 is a group too); a box and a polygon
// of one person, polygons of two labels, a polygon and a circle, a line
// strip, and polygons without a group stay shapes of their own.
void TestLabelMeHandler::groupsOfOneLabelAreOneObject()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    QByteArray output;
    QVERIFY2(runPeer({"groups", dir.path()}, &output), output.constData());
    Dataset dataset;
    QVERIFY(handler().importDataset(dir.filePath("groups.json"), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const QList<Annotation> &a = dataset.images.first().labels;
    QCOMPARE(objectsOf(a), (QStringList{"person 0 0", "person 1 1", "person 1 1", "bag 1 1", "car 1 2", "tree 1 1",
                                         "tree 1 1", "lake 1 1", "lake 1 1", "road 1 2", "road 2 0"}));
    // The larger part is the outline drawn; the parts keep the file's order;
    // the box holds them both.
    const QList<QPointF> small{{42, 2}, {50, 2}, {50, 10}, {42, 10}};
    const QList<QPointF> large{{52, 2}, {62, 2}, {62, 12}, {52, 12}};
    QCOMPARE(a.at(4).points, large);
    QCOMPARE(objectParts(a.at(4)), (QList<QList<QPointF>>{small, large}));
    QCOMPARE(a.at(4).bbox, QRectF(42, 2, 20, 10));
    QCOMPARE(a.at(9).bbox, QRectF(0, 44, 30, 3));
}

// Our export writes an object of several polygons as polygons of one group,
// which LabelMe takes for one object; read back, it is that object again, and
// a second export writes the same shapes.
void TestLabelMeHandler::ownObjectsOfSeveralPartsRoundTrip()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/a.png");
    QVERIFY(writeImage(picture, 41, 29));
    const QList<QPointF> left{{1, 1}, {11, 1}, {11, 11}, {1, 11}};
    const QList<QPointF> right{{21, 11}, {33.5, 11}, {33.5, 21}, {21, 21}};
    // As an import holds it: the larger part is the outline drawn.
    Annotation object = polygon("person", right);
    object.bbox = QRectF(1, 1, 32.5, 20);
    object.attributes.insert("coco:segmentation", QVariantList{QVariantList{1, 1, 11, 1, 11, 11, 1, 11},
                                                               QVariantList{21, 11, 33.5, 11, 33.5, 21, 21, 21}});
    const QList<Annotation> labels{object, polygon("person", {{34, 2}, {40, 2}, {36, 9}}), box("car", 2, 14, 9, 12),
                                   keypoints("person", {20, 1, 10, 8}, {{22, 3}, {28, 7}}, {2, 1})};
    Dataset dataset;
    dataset.addImage(image(picture, 41, 29, labels));
    QVERIFY(handler().exportDataset(dir.filePath("out1"), dataset, {}));
    if (QFileInfo::exists(QM_PYTHON)) {
        QByteArray output;
        QVERIFY2(runReaderScript("check_training.py", {"labelmegroups", dir.filePath("out1/a.json"), "[2, 1]"},
                                 &output),
                 output.constData());
    }

    Dataset back;
    QVERIFY(handler().importDataset(dir.filePath("out1"), back, {}));
    QCOMPARE(back.images.size(), 1);
    const QList<Annotation> &read = back.images.first().labels;
    QCOMPARE(objectsOf(read), objectsOf(labels));
    QCOMPARE(read.at(0).points, right);
    QCOMPARE(objectParts(read.at(0)), (QList<QList<QPointF>>{left, right}));
    QCOMPARE(read.at(0).bbox, QRectF(1, 1, 32.5, 20));
    QVERIFY(handler().exportDataset(dir.filePath("out2"), back, {}));
    QCOMPARE(shapesOf(dir.filePath("out2/a.json")), shapesOf(dir.filePath("out1/a.json")));
}

QM_TEST_MAIN(TestLabelMeHandler)
#include "tst_labelmehandler.moc"
