#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/FormatRegistry.h"

#include <QSet>
#include <QTemporaryDir>

#include <random>

using namespace Quillmark;
using namespace FormatTest;

// Every reader against damaged copies of valid dataset files: truncated at
// random points, with bytes overwritten, or with digits replaced by huge
// numbers. No reader may crash or hang; whatever it returns must be usable.
class TestHostileInput : public QObject {
    Q_OBJECT
private slots:
    void damagedFiles_data();
    void damagedFiles();
};

namespace {

QByteArray damaged(const QByteArray &original, std::mt19937 &random)
{
    QByteArray bytes = original;
    switch (random() % 3) {
    case 0:
        bytes.truncate(qsizetype(random() % (bytes.size() + 1)));
        break;
    case 1:
        for (int i = 0; i < 8 && !bytes.isEmpty(); ++i)
            bytes[qsizetype(random() % bytes.size())] = char(random() % 256);
        break;
    default:
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes.at(i) >= '0' && bytes.at(i) <= '9' && random() % 4 == 0) {
                bytes.replace(i, 1, "99999999999999999999e300");
                i += 20;
            }
        }
    }
    return bytes;
}

} // namespace

void TestHostileInput::damagedFiles_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("handlerName");
    QTest::addColumn<QString>("importPath");   // relative to the layout folder; empty = the folder
    QTest::newRow("YOLO") << "yolo-split" << "YOLO" << "";
    QTest::newRow("YOLO flat") << "yolo-flat" << "YOLO" << "";
    QTest::newRow("YOLO background images") << "yolo-background" << "YOLO" << "";
    QTest::newRow("YOLO labelling tool") << "yolo-labelimg" << "YOLO" << "";
    QTest::newRow("COCO") << "coco" << "COCO" << "annotations.json";
    QTest::newRow("COCO release") << "coco-release" << "COCO" << "annotations/instances_val2017.json";
    QTest::newRow("COCO keypoints") << "coco-release" << "COCO" << "annotations/person_keypoints_val2017.json";
    QTest::newRow("Pascal VOC") << "voc" << "Pascal VOC" << "";
    QTest::newRow("VOCdevkit") << "vocdevkit" << "Pascal VOC" << "";
    QTest::newRow("CVAT XML") << "cvat" << "CVAT XML" << "annotations.xml";
    QTest::newRow("CVAT XML every shape") << "cvat-images" << "CVAT XML" << "annotations.xml";
    QTest::newRow("LabelMe") << "labelme" << "LabelMe" << "";
    QTest::newRow("CreateML") << "createml" << "CreateML" << "annotations.json";
    QTest::newRow("Florence-2") << "florence2" << "Florence-2" << "";
    QTest::newRow("PaliGemma") << "paligemma" << "PaliGemma" << "";
    QTest::newRow("Darknet") << "darknet" << "Darknet" << "";
    QTest::newRow("YOLOv3 Keras") << "yolo-keras" << "YOLOv3 Keras" << "_annotations.txt";
    QTest::newRow("YOLO TensorFlow") << "yolo-tf" << "YOLO TensorFlow" << "_annotations.csv";
    QTest::newRow("RetinaNet") << "retinanet" << "RetinaNet" << "";
    QTest::newRow("Multiclass") << "multiclass" << "Multiclass" << "";
    QTest::newRow("YOLOv5 OBB") << "yolov5-obb" << "YOLOv5 OBB" << "";
    QTest::newRow("YOLOv6 MT") << "yolov6-mt" << "YOLOv6 MT" << "";
    QTest::newRow("YOLOv8 OBB") << "yolov8-obb" << "YOLOv8 OBB" << "";
    QTest::newRow("YOLO Pose") << "yolo-pose" << "YOLO Pose" << "";
}

namespace {

bool finite(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Whatever a reader accepted must be usable everywhere: every number finite,
// every kind known, a keypoint set with one visibility per point, no shape
// without the points its kind needs, ids the dataset can hand out again.
void checkWholeResult(const Dataset &dataset)
{
    QSet<int> ids;
    for (const ImageEntry &entry : dataset.images) {
        QVERIFY(entry.width >= 0 && entry.height >= 0);
        QVERIFY(entry.id >= 0 && entry.id < dataset.nextImageId);
        QVERIFY2(!ids.contains(entry.id), "two images share an id");
        ids.insert(entry.id);
        for (const Annotation &a : entry.labels) {
            QVERIFY(a.kind >= BoundingBox && a.kind <= Keypoint);
            QVERIFY(finite(a.bbox.topLeft()) && finite(a.bbox.bottomRight()));
            QVERIFY(std::isfinite(a.confidence));
            for (const QPointF &p : a.points)
                QVERIFY(finite(p));
            if (a.kind == Keypoint)
                QCOMPARE(a.keypointVis.size(), a.points.size());
            else
                QVERIFY(a.keypointVis.isEmpty());
            if (a.kind == BoundingBox)
                QVERIFY(a.points.isEmpty());
            if (a.kind == Point)
                QCOMPARE(a.points.size(), 1);
            if (a.kind == Polyline)
                QVERIFY(a.points.size() >= 2);
        }
    }
}

} // namespace

void TestHostileInput::damagedFiles()
{
    QFETCH(QString, layout);
    QFETCH(QString, handlerName);
    QFETCH(QString, importPath);
    IFormatHandler *handler = FormatRegistry::instance().find(handlerName);
    QVERIFY(handler);
    const QString source = QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/") + layout;
    const QStringList files = filesBelow(source);
    std::mt19937 random(20240611u);
    // One folder for every round: each round writes over every file.
    QTemporaryDir dir;
    for (int round = 0; round < 150; ++round) {
        for (const QString &file : files) {
            const QByteArray original = readFile(source + "/" + file);
            QVERIFY(writeFile(dir.filePath(file), damaged(original, random)));
        }
        const QString path = importPath.isEmpty() ? dir.path() : dir.filePath(importPath);
        handler->canImport(dir.path());
        Dataset dataset;
        const bool read = handler->importDataset(
            path, dataset, [](int current, int total) { QVERIFY(current >= 1 && current <= total); });
        if (!read) {
            QVERIFY2(dataset.images.isEmpty(), "a failed read left images behind");
            continue;
        }
        checkWholeResult(dataset);
        if (QTest::currentTestFailed())
            return;
    }
}

QM_TEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
