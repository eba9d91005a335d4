#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/AnnotationGeometry.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"

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

QM_TEST_MAIN(TestAnnotationGeometry)
#include "tst_annotationgeometry.moc"
