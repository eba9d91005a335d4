#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/YoloPoseHandler.h"

using namespace Quillmark;
using namespace FormatTest;

class TestYoloPoseHandler : public QObject {
    Q_OBJECT
private slots:
    void detection_data();
    void detection();
    void detectionSeesOnlyTheYamlHead();
    void importFixture();
    void importLineTable_data();
    void importLineTable();
    void importClassNameSources_data();
    void importClassNameSources();
    void importLabelWithoutImage();
    void importFailures();
    void exportExactBytes();
    void exportWithoutKeypoints();
    void exportMeasuresUnknownSizes();
    void exportCopiesOnlyAbsolutePaths();
    void exportFailsWhenAFileCannotBeWritten();
    void roundTrip();
};

namespace {

Annotation person(const QList<QPointF> &points, const QList<int> &visibility, const QRectF &box = {20, 40, 40, 80})
{
    return keypoints("person", box, points, visibility);
}

} // namespace

void TestYoloPoseHandler::detection_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("detected");
    QTest::newRow("kpt_shape in data.yaml") << "data.yaml" << QByteArray("kpt_shape: [17, 3]\nnames: [p]\n") << true;
    QTest::newRow("data.yaml without it") << "data.yaml" << QByteArray("names: [p]\n") << false;
    QTest::newRow("box line") << "labels/a.txt" << QByteArray("0 0.5 0.5 0.2 0.2\n") << false;
    QTest::newRow("one keypoint") << "labels/a.txt" << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2\n") << true;
    QTest::newRow("centre beyond 1") << "labels/a.txt" << QByteArray("0 1.2 0.5 0.2 0.2 0.4 0.4 2\n") << false;
    QTest::newRow("nested split labels") << "labels/train/x/a.txt" << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2\n")
                                         << true;
    QTest::newRow("anywhere below") << "deep/er/a.txt" << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2\n") << true;
    QTest::newRow("classes.txt is no label file")
        << "classes.txt" << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2\n") << false;
    QTest::newRow("nor is data.txt") << "data.txt" << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.4 2\n") << false;
    QTest::newRow("blank first line") << "labels/a.txt" << QByteArray("\n0 0.5 0.5 0.2 0.2 0.4 0.4 2\n") << false;
}

void TestYoloPoseHandler::detection()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(file), content));
    QCOMPARE(YoloPoseHandler().canImport(dir.path()), detected);
}

void TestYoloPoseHandler::detectionSeesOnlyTheYamlHead()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), "# " + QByteArray(4100, 'x') + "\nkpt_shape: [17, 3]\n"));
    QVERIFY(!YoloPoseHandler().canImport(dir.path()));
}

void TestYoloPoseHandler::importFixture()
{
    Dataset dataset;
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloPoseHandler().importDataset(detectFixture("yolo-pose"), dataset, p)); });
    QCOMPARE(calls, countingTo(2));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &first = dataset.images.first();
    QCOMPARE(QFileInfo(first.filePath).canonicalFilePath(),
             QFileInfo(detectFixture("yolo-pose/images/train/0001.jpg")).canonicalFilePath());
    QCOMPARE(QSize(first.width, first.height), QSize(32, 24));
    QCOMPARE(classNamesOf(first.labels), (QStringList{"person", "person"})); // names given as an index map
    const Annotation &a = first.labels.first();
    QCOMPARE(a.kind, int(Keypoint));
    QCOMPARE(a.points.size(), 17);
    QCOMPARE(a.keypointVis.size(), 17);
    fuzzyCompareRect(a.bbox, QRectF(0.3 * 32, 0.1 * 24, 0.4 * 32, 0.8 * 24));
    for (qsizetype j = 0; j < a.points.size(); ++j) {
        QVERIFY(a.keypointVis.at(j) >= 0 && a.keypointVis.at(j) <= 2);
        if (a.keypointVis.at(j) > 0)
            QVERIFY(a.bbox.contains(a.points.at(j)));
    }
    QVERIFY(dataset.classColors.isEmpty());
}

void TestYoloPoseHandler::importLineTable_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind"); // -1: the line is skipped
    QTest::addColumn<QString>("className");
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<QList<int>>("visibility");
    const QByteArray names("names: [person]\n");
    QTest::newRow("box") << names << QByteArray("0 0.5 0.5 0.2 0.2") << int(BoundingBox) << "person" << QList<QPointF>{}
                         << QList<int>{};
    QTest::newRow("one triplet") << names << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.3 1") << int(Keypoint) << "person"
                                 << QList<QPointF>{{40, 60}} << QList<int>{1};
    QTest::newRow("visibility not a number") << names << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.3 x") << int(Keypoint)
                                             << "person" << QList<QPointF>{{40, 60}} << QList<int>{0};
    QTest::newRow("one pair after the box") << names << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.3") << int(Polygon)
                                            << "person" << QList<QPointF>{{40, 60}} << QList<int>{};
    QTest::newRow("even extra fields") << names << QByteArray("0 0.5 0.5 0.2 0.2 0.4") << int(BoundingBox) << "person"
                                       << QList<QPointF>{} << QList<int>{};
    QTest::newRow("negative id") << names << QByteArray("-1 0.5 0.5 0.2 0.2") << int(BoundingBox) << "class_-1"
                                 << QList<QPointF>{} << QList<int>{};
    QTest::newRow("id past the names") << names << QByteArray("3 0.5 0.5 0.2 0.2") << int(BoundingBox) << "class_3"
                                       << QList<QPointF>{} << QList<int>{};
    QTest::newRow("name for an id") << names << QByteArray("person 0.5 0.5 0.2 0.2") << -1 << "" << QList<QPointF>{}
                                    << QList<int>{};
    QTest::newRow("four fields") << names << QByteArray("0 0.5 0.5 0.2") << -1 << "" << QList<QPointF>{}
                                 << QList<int>{};
    // Two values per keypoint, declared: every point is visible.
    QTest::newRow("declared pairs") << QByteArray("kpt_shape: [2, 2]\nnames: [person]\n")
                                    << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.3 0.6 0.7") << int(Keypoint) << "person"
                                    << QList<QPointF>{{40, 60}, {60, 140}} << QList<int>{2, 2};
    // Three pairs make six values, which would also be two triplets.
    QTest::newRow("declared pairs, count divisible by 3")
        << QByteArray("kpt_shape: [3, 2]\nnames: [person]\n") << QByteArray("0 0.5 0.5 0.2 0.2 0.1 0.1 0.2 0.2 0.3 0.3")
        << int(Keypoint) << "person" << QList<QPointF>{{10, 20}, {20, 40}, {30, 60}} << QList<int>{2, 2, 2};
    QTest::newRow("undeclared pairs") << names << QByteArray("0 0.5 0.5 0.2 0.2 0.4 0.3 0.6 0.7") << int(Polygon)
                                      << "person" << QList<QPointF>{{40, 60}, {60, 140}} << QList<int>{};
}

void TestYoloPoseHandler::importLineTable()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QString, className);
    QFETCH(QList<QPointF>, points);
    QFETCH(QList<int>, visibility);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("data.yaml"), yaml));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), line + "\n"));
    QVERIFY(writeImage(dir.filePath("images/a.png"), 100, 200));
    Dataset dataset;
    QVERIFY(YoloPoseHandler().importDataset(dir.path(), dataset, {}));
    const QList<Annotation> &labels = dataset.images.first().labels;
    if (kind < 0) {
        QVERIFY(labels.isEmpty());
        return;
    }
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().kind, kind);
    QCOMPARE(labels.first().className, className);
    QVERIFY(pointsClose(labels.first().points, points));
    QCOMPARE(labels.first().keypointVis, visibility);
    fuzzyCompareRect(labels.first().bbox, QRectF(40, 80, 20, 40)); // the box of the line, in every case
}

void TestYoloPoseHandler::importClassNameSources_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QByteArray>("classesTxt");
    QTest::addColumn<QStringList>("expected"); // the names of ids 0, 1, 2
    QTest::newRow("dash list") << QByteArray("kpt_shape: [1, 3]\nnames:\n  - a\n  - b\n  - c\n") << QByteArray()
                               << QStringList{"a", "b", "c"};
    QTest::newRow("index map with a gap")
        << QByteArray("names:\n  0: person\n  2: 'no'\n") << QByteArray() << QStringList{"person", "class_1", "no"};
    QTest::newRow("classes.txt") << QByteArray("kpt_shape: [1, 3]\n") << QByteArray("a\n\nb\nc\n")
                                 << QStringList{"a", "b", "c"};
    QTest::newRow("nothing") << QByteArray() << QByteArray() << QStringList{"class_0", "class_1", "class_2"};
}

void TestYoloPoseHandler::importClassNameSources()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QByteArray, classesTxt);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    if (!yaml.isEmpty())
        QVERIFY(writeFile(dir.filePath("data.yaml"), yaml));
    if (!classesTxt.isEmpty())
        QVERIFY(writeFile(dir.filePath("classes.txt"), classesTxt));
    QVERIFY(writeFile(dir.filePath("labels/a.txt"), "0 0.5 0.5 0.1 0.1 0.5 0.5 2\n1 0.5 0.5 0.1 0.1 0.5 0.5 2\n"
                                                    "2 0.5 0.5 0.1 0.1 0.5 0.5 2\n"));
    Dataset dataset;
    QVERIFY(YoloPoseHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(classNamesOf(dataset.images.first().labels), expected);
}

void TestYoloPoseHandler::importLabelWithoutImage()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("train/labels/a.txt"), "0 0.5 0.5 0.2 0.2 0.4 0.3 2\n"));
    QVERIFY(writeFile(dir.filePath("train/labels/notes.txt"), ""));
    Dataset dataset;
    QVERIFY(YoloPoseHandler().importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 2);
    const ImageEntry &e = dataset.images.first();
    QCOMPARE(fileNameOf(e.filePath), QStringLiteral("a.txt"));
    QCOMPARE(QSize(e.width, e.height), QSize(0, 0));
    QVERIFY(pointsClose(e.labels.first().points, {{0.4, 0.3}}));
    fuzzyCompareRect(e.labels.first().bbox, QRectF(0.4, 0.4, 0.2, 0.2));
}

void TestYoloPoseHandler::importFailures()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(!YoloPoseHandler().importDataset(dir.filePath("missing"), dataset, {}));
    QVERIFY(writeFile(dir.filePath("data.yaml"), "kpt_shape: [17, 3]\n"));
    QVERIFY(!YoloPoseHandler().importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

void TestYoloPoseHandler::exportExactBytes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/walk.png");
    QVERIFY(writeImage(picture, 100, 200));
    Dataset dataset;
    dataset.addClass("no", QColor());
    dataset.addImage(
        image(picture, 100, 200,
              {person({{30, 50}, {50, 100}, {150, -20}}, {1}), box("person", 0, 0, 10, 10),
               polygon("person", ring(4, 50, 50, 10)),
               person({{30, 50}, {50, 100}, {70, 150}, {40, 60}, {60, 60}}, {2, 2, 0, 1, 2}, {-10, 0, 120, 100})}));
    dataset.addImage(image(dir.filePath("src/missing.jpg"), 100, 200));
    const auto calls = recordProgress(
        [&](ProgressCallback p) { QVERIFY(YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, p)); });
    QCOMPARE(calls, countingTo(4));
    QCOMPARE(filesBelow(dir.filePath("out")),
             (QStringList{"data.yaml", "images/walk.png", "labels/missing.txt", "labels/walk.txt"}));
    // No "path": the folders are relative to the data.yaml.
    QCOMPARE(readFile(dir.filePath("out/data.yaml")),
             QByteArray("# Dataset root: the folder of this file. The folders below are relative to it.\n"
                        "train: images\nval: images\n\nnc: 2\n"
                        "kpt_shape: [5, 3]\nflip_idx: [0, 1, 2, 3, 4]\n\nnames:\n  - 'no'\n  - person\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/walk.txt")),
             QByteArray("1 0.4 0.4 0.4 0.4 0.3 0.25 1 0.5 0.5 2 1 0 2 0 0 0 0 0 0\n"
                        "1 0.5 0.25 1 0.5 0.3 0.25 2 0.5 0.5 2 0.7 0.75 0 0.4 0.3 1 0.6 0.3 2\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/missing.txt")), QByteArray());
    QCOMPARE(readFile(dir.filePath("out/images/walk.png")), readFile(picture));
}

void TestYoloPoseHandler::exportWithoutKeypoints()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/x/a.jpg", 100, 100, {box("cat", 1, 1, 5, 5)}));
    QVERIFY(YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(!readFile(dir.filePath("out/data.yaml")).contains("kpt_shape"));
    QCOMPARE(readFile(dir.filePath("out/labels/a.txt")), QByteArray());
}

void TestYoloPoseHandler::exportMeasuresUnknownSizes()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/file.jpg");
    QVERIFY(writeImage(picture, 100, 200));
    Dataset dataset;
    dataset.addImage(image(picture, 0, 0, {person({{30, 50}}, {2})}));
    ImageEntry inMemory = image("memory.png", 0, 0, {person({{30, 50}}, {2})});
    inMemory.image = QImage(200, 400, QImage::Format_RGB32);
    inMemory.image.fill(Qt::blue);
    dataset.addImage(inMemory);
    dataset.addImage(image("nowhere.jpg", 0, 0, {person({{30, 50}}, {2})})); // nothing tells its size
    QVERIFY(YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("out/labels/file.txt")), QByteArray("0 0.4 0.4 0.4 0.4 0.3 0.25 2\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/memory.txt")), QByteArray("0 0.2 0.2 0.2 0.2 0.15 0.125 2\n"));
    QCOMPARE(readFile(dir.filePath("out/labels/nowhere.txt")), QByteArray("0 40 80 40 80 30 50 2\n"));
    // In-memory pixels are written in the format their file name says.
    QVERIFY(readFile(dir.filePath("out/images/memory.png")).startsWith("\x89PNG\r\n"));
    QCOMPARE(QImage(dir.filePath("out/images/memory.png")).size(), QSize(200, 400));
}

void TestYoloPoseHandler::exportCopiesOnlyAbsolutePaths()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("bare.jpg"), 10, 10));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    Dataset dataset;
    dataset.addImage(image("bare.jpg", 10, 10, {person({{3, 3}}, {2}, {0, 0, 5, 5})}));
    const bool exported = YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, {});
    QDir::setCurrent(previous);
    QVERIFY(exported);
    QCOMPARE(filesBelow(dir.filePath("out")), (QStringList{"data.yaml", "labels/bare.txt"}));
}

void TestYoloPoseHandler::exportFailsWhenAFileCannotBeWritten()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/x/a.jpg", 10, 10, {person({{3, 3}}, {2}, {0, 0, 5, 5})}));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QVERIFY(!YoloPoseHandler().exportDataset(dir.filePath("file/out"), dataset, {}));
    QVERIFY(QDir().mkpath(dir.filePath("out/labels/a.txt")));
    QVERIFY(!YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, {}));
}

void TestYoloPoseHandler::roundTrip()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = QStringLiteral("%1/src/%2/frame.jpg").arg(dir.path()).arg(i);
        QVERIFY(writeImage(path, 100, 200));
        dataset.addImage(image(path, 100, 200,
                               {person({{30, 50}, {50, 100}, {0, 0}}, {2, 1, 0}),
                                keypoints("hand", {0, 0, 100, 200}, {{100, 200}}, {2})}));
    }
    QVERIFY(YoloPoseHandler().exportDataset(dir.filePath("out"), dataset, {}));
    QVERIFY(YoloPoseHandler().canImport(dir.filePath("out")));
    Dataset back;
    QVERIFY(YoloPoseHandler().importDataset(dir.filePath("out"), back, {}));
    QStringList files;
    for (const ImageEntry &e : back.images) {
        files.append(fileNameOf(e.filePath));
        QCOMPARE(QSize(e.width, e.height), QSize(100, 200));
        QCOMPARE(classNamesOf(e.labels), (QStringList{"person", "hand"}));
        QVERIFY(pointsClose(e.labels.at(0).points, {{30, 50}, {50, 100}, {0, 0}}));
        QCOMPARE(e.labels.at(0).keypointVis, (QList<int>{2, 1, 0}));
        fuzzyCompareRect(e.labels.at(0).bbox, QRectF(20, 40, 40, 80));
        // The shorter set is padded to the longest; the padding reads back as unlabelled points.
        QCOMPARE(e.labels.at(1).keypointVis, (QList<int>{2, 0, 0}));
    }
    files.sort();
    QCOMPARE(files, (QStringList{"frame.jpg", "frame_2.jpg", "frame_3.jpg"}));
}

QM_TEST_MAIN(TestYoloPoseHandler)
#include "tst_yoloposehandler.moc"
