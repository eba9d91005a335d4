#include "QmTest.h"

#include "formats/FormatRegistry.h"

#include <QDir>
#include <QSet>

using namespace Quillmark;

// Every fixture folder of a dataset layout against every handler's detection
// rule: exactly the listed handlers may claim the folder. A handler added to
// the registry joins every row; a new layout adds a row.
class TestDetectionMatrix : public QObject {
    Q_OBJECT
private slots:
    void matrix_data();
    void matrix();
    void everyFixtureHasARow();
};

namespace {

const QStringList kRoboflowFamily = {"Roboflow YOLO", "YOLOv5 PyTorch", "YOLOv7 PyTorch", "YOLOv8",
                                     "YOLOv9",        "YOLOv11",        "YOLOv12"};

QString fixture(const QString &name)
{
    return QStringLiteral(QM_TESTS_DIR "/formats/fixtures/detect/") + name;
}

struct Row {
    const char *folder;
    QStringList claimedBy;
};

QList<Row> rows()
{
    return {
        {"yolo-flat", {"YOLO"}},
        {"yolo-labels", {"YOLO"}},
        {"yolo-split", {"YOLO", "YOLOv4 Scaled"}},
        {"yolo-roboflow", QStringList{"YOLO"} + kRoboflowFamily},
        // images/ and labels/ with split subfolders: the YOLOv6 layout too.
        {"yolo-background", {"YOLO", "YOLOv6 MT"}},
        {"yolo-labelimg", {"YOLO"}},
        {"coco", {"COCO"}},
        {"coco-release", {"COCO"}},
        {"voc", {"Pascal VOC"}},
        {"vocdevkit", {"Pascal VOC"}},
        {"vocdevkit/VOC2012", {"Pascal VOC"}},
        {"cvat", {"CVAT XML"}},
        {"cvat-images", {"CVAT XML"}},
        {"cvat-video", {}},
        {"labelme", {"LabelMe"}},
        {"createml", {"CreateML"}},
        {"florence2", {"Florence-2"}},
        {"paligemma", {"PaliGemma"}},
        {"paligemma-own", {"PaliGemma"}},
        {"clip", {"CLIP"}},
        // Flat label files beside the images: plain YOLO reads them too.
        {"darknet", {"YOLO", "Darknet"}},
        {"yolo-keras", {"YOLOv3 Keras", "YOLOv4 PyTorch"}},
        {"yolo-tf", {"YOLO TensorFlow"}},
        // Its "_classes.csv" is a class map, not a Multiclass table.
        {"retinanet", {"RetinaNet"}},
        {"multiclass", {"Multiclass"}},
        // Layouts with a data.yaml: plain YOLO claims every one of them, and
        // YOLOv4 Scaled those without top-level "images" and "labels".
        {"yolov5-obb", {"YOLO", "YOLOv4 Scaled", "YOLOv5 OBB"}},
        {"yolov6-mt", {"YOLO", "YOLOv6 MT"}},
        {"yolov8-obb", {"YOLO", "YOLOv4 Scaled", "YOLOv8 OBB"}},
        {"yolo-pose", {"YOLO", "YOLOv6 MT", "YOLO Pose"}},
        {"unrelated", {}},
    };
}

} // namespace

void TestDetectionMatrix::matrix_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("claimedBy");
    for (const Row &row : rows())
        QTest::newRow(row.folder) << fixture(QLatin1String(row.folder)) << row.claimedBy;
}

void TestDetectionMatrix::matrix()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, claimedBy);
    QVERIFY(QFileInfo(folder).isDir());
    QStringList claimed;
    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        // The import command never asks the package handler about a folder.
        if (handler->name() == QLatin1String("QuillPackage"))
            continue;
        if (handler->canImport(folder))
            claimed.append(handler->name());
    }
    QStringList expected;
    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (claimedBy.contains(handler->name()))
            expected.append(handler->name());
    }
    QCOMPARE(claimed, expected);
}

void TestDetectionMatrix::everyFixtureHasARow()
{
    QSet<QString> covered;
    for (const Row &row : rows())
        covered.insert(QLatin1String(row.folder));
    const QStringList folders = QDir(fixture(QString())).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &folder : folders)
        QVERIFY2(covered.contains(folder), qPrintable(folder + " has no row in the matrix"));
}

QM_TEST_MAIN(TestDetectionMatrix)
#include "tst_detectionmatrix.moc"
