#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/Yolo5ObbHandler.h"
#include "formats/ImportFormats.h"
#include "formats/Yolo8ObbHandler.h"

using namespace Quillmark;
using namespace FormatTest;

// The two oriented-box formats: YOLOv5 OBB (pixel corners and class names in
// labelTxt files) and YOLOv8 OBB (class ids and normalised corners).
class TestObbHandlers : public QObject {
    Q_OBJECT
private slots:
    void obb5Detection();
    void obb5ImportFixture();
    void obb5ImportLineTable_data();
    void obb5ImportLineTable();
    void obb5ImportPrefersSplitFolders();
    void obb5ExportExactBytes();
    void obb5RoundTripKeepsNamesWithSpaces();

    void obb8Detection_data();
    void obb8Detection();
    void obb8ImportFixture();
    void obb8ImportKeepsIndexMapGaps();
    void obb8ImportLineTable_data();
    void obb8ImportLineTable();
    void obb8ExportExactBytes();
    void obb8RoundTrip();
    void obb8DeclaredByNameOrYaml_data();
    void obb8DeclaredByNameOrYaml();

    void exportsFailWhenAFileCannotBeWritten();
};

namespace {

QList<QPointF> rectCorners(double x, double y, double w, double h)
{
    return {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
}

// A dataset of the oriented shapes: a box, a rotated four-point polygon, a
// triangle and a pentagon, on an image of 100 x 200 with its file.
Dataset obbSample(const QString &folder)
{
    const QString picture = folder + "/src/scene.png";
    writeImage(picture, 100, 200);
    Dataset dataset;
    dataset.addImage(image(picture, 100, 200,
                           {box("car", 10, 20, 30, 40), polygon("ship", {{50, 10}, {90, 30}, {80, 50}, {40, 30}}),
                            polygon("car", ring(3, 50, 100, 10)), polygon("ship", ring(5, 50, 150, 20)),
                            keypoints("car", {0, 0, 10, 10}, {{1, 1}, {5, 5}}, {2, 2})}));
    return dataset;
}

} // namespace

void TestObbHandlers::obb5Detection()
{
    QTemporaryDir dir;
    Yolo5ObbHandler handler;
    QVERIFY(QDir().mkpath(dir.filePath("train/labelTxt")));
    QVERIFY(!handler.canImport(dir.path())); // no data.yaml
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: [a]\n"));
    QVERIFY(handler.canImport(dir.path())); // an empty split labelTxt is enough...
    Dataset dataset;
    QVERIFY(!handler.importDataset(dir.path(), dataset, {})); // ...but holds nothing to read
    QTemporaryDir root;
    QVERIFY(writeFile(root.filePath("data.yaml"), "names: [a]\n"));
    QVERIFY(!handler.canImport(root.path()));
    QVERIFY(QDir().mkpath(root.filePath("labelTxt")));
    QVERIFY(handler.canImport(root.path()));
}

void TestObbHandlers::obb5ImportFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(Yolo5ObbHandler().importDataset(detectFixture("yolov5-obb"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(fileNameOf(first.filePath), QStringLiteral("P0001.png"));
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    // The DOTA header lines (imagesource, gsd) are no objects.
    QCOMPARE(classNamesOf(first.labels), (QStringList{"plane", "small-vehicle"}));
    const Annotation &vehicle = first.labels.last();
    QCOMPARE(vehicle.kind, int(Polygon));
    QCOMPARE(vehicle.points, (QList<QPointF>{{5, 1}, {30, 4}, {28, 22}, {4, 20}})); // pixels, as read
    QCOMPARE(vehicle.bbox, QRectF(4, 1, 26, 21));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"plane", "small-vehicle"}));
}

void TestObbHandlers::obb5ImportLineTable_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("classes");
    QTest::newRow("with difficulty") << QByteArray("1 2 3 4 5 6 7 8 plane 1") << QStringList{"plane"};
    QTest::newRow("without difficulty") << QByteArray("1 2 3 4 5 6 7 8 plane") << QStringList{"plane"};
    QTest::newRow("real coordinates") << QByteArray("1.5 2 3 4 5 6 7 8.25 plane 0") << QStringList{"plane"};
    QTest::newRow("name with a space") << QByteArray("1 2 3 4 5 6 7 8 small car 0") << QStringList{"small car"};
    QTest::newRow("extra fields after the flag") << QByteArray("1 2 3 4 5 6 7 8 plane 0 x") << QStringList{"plane"};
    QTest::newRow("no class name") << QByteArray("1 2 3 4 5 6 7 8") << QStringList{};
    QTest::newRow("word for a corner") << QByteArray("1 2 3 x 5 6 7 8 plane 0") << QStringList{};
    QTest::newRow("header line") << QByteArray("gsd:0.146343590398") << QStringList{};
}

void TestObbHandlers::obb5ImportLineTable()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, classes);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: ['ship']\n"));
    QVERIFY(writeFile(dir.filePath("labelTxt/a.txt"), line + "\n"));
    Dataset dataset;
    QVERIFY(Yolo5ObbHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(classNamesOf(dataset.images.first().labels), classes);
    // Every class of data.yaml joins once a label file was read.
    QStringList expected = QStringList{"ship"} + classes;
    expected.sort();
    QCOMPARE(dataset.classColors.keys(), expected);
}

void TestObbHandlers::obb5ImportPrefersSplitFolders()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names: [a]\n"));
    QVERIFY(writeFile(dir.filePath("labelTxt/root.txt"), "1 2 3 4 5 6 7 8 a 0\n"));
    QVERIFY(writeFile(dir.filePath("val/labelTxt/v.txt"), "1 2 3 4 5 6 7 8 a 0\n"));
    QVERIFY(writeFile(dir.filePath("train/labelTxt/t.txt"), "1 2 3 4 5 6 7 8 a 0\n"));
    QVERIFY(writeImage(dir.filePath("train/images/t.jpg"), 10, 10));
    Dataset dataset;
    QVERIFY(Yolo5ObbHandler().importDataset(dir.path(), dataset, {}));
    QStringList files;
    for (const ImageEntry &e : dataset.images)
        files.append(fileNameOf(e.filePath));
    QCOMPARE(files, (QStringList{"t.jpg", "v.txt"}));
}

void TestObbHandlers::obb5ExportExactBytes()
{
    QTemporaryDir dir;
    Dataset dataset = obbSample(dir.path());
    dataset.images.first().labels.prepend(box("car", 10.4, 20.5, 30, 40));
    ImageEntry inMemory = image("snapshot", 0, 0, {box("say 'hi'", 1, 1, 2, 2)});
    inMemory.image = QImage(4, 4, QImage::Format_RGB32);
    dataset.addImage(inMemory);
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(Yolo5ObbHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(filesBelow(dir.filePath("out")),
             (QStringList{"data.yaml", "train/images/scene.png", "train/images/snapshot.png",
                          "train/labelTxt/scene.txt", "train/labelTxt/snapshot.txt"}));
    // Only the folder written is named: the training pictures validate. The
    // names are spelled as the lines spell them; the project's spelling is
    // kept beside them.
    QCOMPARE(readFile(dir.filePath("out/data.yaml")),
             QByteArray("# Dataset root: the folder of this file. The folders below are relative to it.\n"
                        "train: train/images\nval: train/images\n"
                        "\nnc: 3\n"
                        "names: ['car', 'ship', 'say_''hi''']\n"
                        "display_names: ['car', 'ship', 'say ''hi''']\n"));
    QCOMPARE(readFile(dir.filePath("out/train/labelTxt/scene.txt")),
             QByteArray("10 21 40 21 40 61 10 61 car 0\n"
                        "10 20 40 20 40 60 10 60 car 0\n"
                        "50 10 90 30 80 50 40 30 ship 0\n"
                        "34 131 70 131 70 169 34 169 ship 0\n"));
    QCOMPARE(readFile(dir.filePath("out/train/images/scene.png")), readFile(dir.filePath("src/scene.png")));
    QVERIFY(readFile(dir.filePath("out/train/images/snapshot.png")).startsWith("\x89PNG"));
}

void TestObbHandlers::obb5RoundTripKeepsNamesWithSpaces()
{
    QTemporaryDir dir;
    Dataset dataset;
    const QString picture = dir.filePath("src/a.jpg");
    QVERIFY(writeImage(picture, 64, 48));
    dataset.addImage(
        image(picture, 64, 48, {polygon("traffic light", {{1, 1}, {9, 2}, {8, 9}, {2, 8}}), box("car", 0, 0, 64, 48)}));
    QVERIFY(Yolo5ObbHandler().exportDataset(dir.filePath("out"), dataset, {}));
    Dataset back;
    QVERIFY(Yolo5ObbHandler().importDataset(dir.filePath("out"), back, {}));
    QCOMPARE(back.images.size(), 1);
    QCOMPARE(fileNameOf(back.images.first().filePath), QStringLiteral("a.jpg"));
    QCOMPARE(classNamesOf(back.images.first().labels), (QStringList{"traffic light", "car"}));
    QCOMPARE(back.images.first().labels.first().points, (QList<QPointF>{{1, 1}, {9, 2}, {8, 9}, {2, 8}}));
    QCOMPARE(back.images.first().labels.last().points, rectCorners(0, 0, 64, 48));
}

void TestObbHandlers::obb8Detection_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QString>("labelFile");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("detected");
    const QByteArray yaml("names:\n  0: plane\n");
    const QByteArray obbLine("0 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3\n");
    QTest::newRow("train") << yaml << "train/labels/a.txt" << obbLine << true;
    QTest::newRow("valid") << yaml << "valid/labels/a.txt" << obbLine << true;
    QTest::newRow("roboflow yaml") << QByteArray("names: [a]\nroboflow:\n  project: x\n") << "train/labels/a.txt"
                                   << obbLine << false;
    QTest::newRow("ten fields") << yaml << "train/labels/a.txt" << QByteArray("0 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3 1\n")
                                << false;
    QTest::newRow("corner beyond 1") << yaml << "train/labels/a.txt"
                                     << QByteArray("0 0.1 0.1 1.5 0.1 0.4 0.3 0.1 0.3\n") << false;
    QTest::newRow("labels below the root") << yaml << "labels/a.txt" << obbLine << false;
    QTest::newRow("box lines") << yaml << "train/labels/a.txt" << QByteArray("0 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("no yaml") << QByteArray() << "train/labels/a.txt" << obbLine << false;
    // A YOLO outline file whose first line is a box written as its corners:
    // the pentagon after it would be cut to four points.
    QTest::newRow("a longer line after") << yaml << "train/labels/a.txt"
                                         << obbLine + "0 0.1 0.1 0.4 0.1 0.4 0.3 0.2 0.35 0.1 0.3\n" << false;
}

void TestObbHandlers::obb8Detection()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QString, labelFile);
    QFETCH(QByteArray, line);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    if (!yaml.isEmpty())
        QVERIFY(writeFile(dir.filePath("data.yaml"), yaml));
    QVERIFY(writeFile(dir.filePath(labelFile), line));
    QCOMPARE(Yolo8ObbHandler().canImport(dir.path()), detected);
}

void TestObbHandlers::obb8DeclaredByNameOrYaml_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<bool>("declared");
    const QByteArray plain("train: train/images\nval: train/images\nnames:\n  0: plane\n");
    QTest::newRow("plain") << "dataset" << plain << false;
    QTest::newRow("folder name") << "aerial_OBB" << plain << true;
    QTest::newRow("dota folder") << "DOTAv1.5" << plain << true;
    QTest::newRow("word inside another") << "lobby" << plain << false;
    QTest::newRow("dota in the yaml") << "dataset"
                                      << QByteArray("path: ../datasets/dota8\ntrain: images/train\nval: images/val\n")
                                      << true;
    QTest::newRow("our own comment") << "dataset" << QByteArray("# Oriented bounding boxes (OBB)\n") + plain << true;
}

// Lines of a class and four corners are the same text as the YOLO outline
// of a quadrilateral: only a folder that says it holds oriented boxes is
// offered as such first.
void TestObbHandlers::obb8DeclaredByNameOrYaml()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, yaml);
    QFETCH(bool, declared);
    QTemporaryDir dir;
    const QString root = dir.filePath(folder);
    QVERIFY(writeFile(root + "/data.yaml", yaml));
    QVERIFY(writeFile(root + "/train/labels/a.txt", "0 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3\n"));
    QCOMPARE(declaresOrientedBoxes(root), declared);
    QCOMPARE(detectImportFormats(root).constFirst(), declared ? QStringLiteral("YOLOv8 OBB") : QStringLiteral("YOLO"));

    // The format's own export says so.
    Dataset dataset = obbSample(dir.path());
    QVERIFY(Yolo8ObbHandler().exportDataset(dir.filePath("export"), dataset, {}));
    QVERIFY(declaresOrientedBoxes(dir.filePath("export")));
}

void TestObbHandlers::obb8ImportFixture()
{
    Dataset dataset;
    QVERIFY(Yolo8ObbHandler().importDataset(detectFixture("yolov8-obb"), dataset, {}));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(fileNameOf(first.filePath), QStringLiteral("P0001.jpg"));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"plane", "ship"}));
    QVERIFY(pointsClose(first.labels.first().points, rectCorners(2, 3, 18, 15)));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"plane", "ship"}));
}

void TestObbHandlers::obb8ImportKeepsIndexMapGaps()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names:\n  0: car\n  2: truck\n"));
    QVERIFY(writeFile(dir.filePath("train/labels/a.txt"), "0 0 0 1 0 1 1 0 1\n"
                                                          "1 0 0 1 0 1 1 0 1\n"
                                                          "2 0 0 1 0 1 1 0 1\n"
                                                          "3 0 0 1 0 1 1 0 1\n"));
    Dataset dataset;
    QVERIFY(Yolo8ObbHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(classNamesOf(dataset.images.first().labels), (QStringList{"car", "class_1", "truck", "class_3"}));
}

void TestObbHandlers::obb8ImportLineTable_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("classes");
    QTest::newRow("nine fields") << QByteArray("0 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3") << QStringList{"plane"};
    QTest::newRow("fields after the corners")
        << QByteArray("0 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3 0.9") << QStringList{"plane"};
    QTest::newRow("negative id") << QByteArray("-1 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3") << QStringList{"class_-1"};
    QTest::newRow("word for a corner") << QByteArray("0 0.1 0.1 x 0.1 0.4 0.3 0.1 0.3") << QStringList{};
    QTest::newRow("eight fields") << QByteArray("0 0.1 0.1 0.4 0.1 0.4 0.3 0.1") << QStringList{};
    QTest::newRow("name for an id") << QByteArray("plane 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3") << QStringList{};
}

void TestObbHandlers::obb8ImportLineTable()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, classes);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "names:\n  0: plane\n"));
    QVERIFY(writeFile(dir.filePath("test/labels/a.txt"), line + "\n"));
    QVERIFY(writeImage(dir.filePath("test/images/a.png"), 100, 200));
    Dataset dataset;
    QVERIFY(Yolo8ObbHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(classNamesOf(dataset.images.first().labels), classes);
    if (!classes.isEmpty())
        QVERIFY(pointsClose(dataset.images.first().labels.first().points, rectCorners(10, 20, 30, 40)));
}

void TestObbHandlers::obb8ExportExactBytes()
{
    QTemporaryDir dir;
    Dataset dataset = obbSample(dir.path());
    dataset.images.first().width = 0; // the size comes from the file's header
    dataset.images.first().height = 0;
    dataset.addClass("1.5", QColor());
    dataset.addImage(image("nowhere.jpg", 0, 0, {box("car", 10, 20, 30, 40)})); // no size anywhere
    QVERIFY(Yolo8ObbHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"data.yaml", "train/images/scene.png",
                                                           "train/labels/nowhere.txt", "train/labels/scene.txt"}));
    QCOMPARE(readFile(dir.filePath("out/data.yaml")),
             QByteArray("# Oriented bounding boxes (OBB): class x1 y1 x2 y2 x3 y3 x4 y4, corners normalised to "
                        "the image.\n"
                        "# Dataset root: the folder of this file. The folders below are relative to it.\n"
                        "train: train/images\nval: train/images\n"
                        "\nnames:\n"
                        "  0: '1.5'\n  1: car\n  2: ship\n"));
    QCOMPARE(readFile(dir.filePath("out/train/labels/scene.txt")),
             QByteArray("1 0.1 0.1 0.4 0.1 0.4 0.3 0.1 0.3\n"
                        "2 0.5 0.05 0.9 0.15 0.8 0.25 0.4 0.15\n"
                        "2 0.338197 0.654894 0.7 0.654894 0.7 0.845106 0.338197 0.845106\n"));
    QCOMPARE(readFile(dir.filePath("out/train/labels/nowhere.txt")), QByteArray("1 10 20 40 20 40 60 10 60\n"));
}

void TestObbHandlers::obb8RoundTrip()
{
    QTemporaryDir dir;
    const Dataset dataset = obbSample(dir.path());
    QVERIFY(Yolo8ObbHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(Yolo8ObbHandler().canImport(dir.filePath("out")));
    Dataset back;
    QVERIFY(Yolo8ObbHandler().importDataset(dir.filePath("out"), back, {}));
    QCOMPARE(back.images.size(), 1);
    const ImageEntry &e = back.images.first();
    QCOMPARE(QSize(e.width, e.height), QSize(100, 200));
    QCOMPARE(classNamesOf(e.labels), (QStringList{"car", "ship", "ship"}));
    QVERIFY(pointsClose(e.labels.at(0).points, rectCorners(10, 20, 30, 40)));
    QVERIFY(pointsClose(e.labels.at(1).points, {{50, 10}, {90, 30}, {80, 50}, {40, 30}}));
}

void TestObbHandlers::exportsFailWhenAFileCannotBeWritten()
{
    QTemporaryDir dir;
    const Dataset dataset = obbSample(dir.path());
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!Yolo5ObbHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
    QVERIFY(!Yolo8ObbHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("five/train/labelTxt/scene.txt")));
    QVERIFY(!Yolo5ObbHandler().exportDataset(dir.filePath("five"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("eight/data.yaml")));
    QVERIFY(!Yolo8ObbHandler().exportDataset(dir.filePath("eight"), dataset, {}));
}

QM_TEST_MAIN(TestObbHandlers)
#include "tst_obbhandlers.moc"
