#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/ui/ExportDialog.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "model/AnnotationKind.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

using namespace FormatTest;

// Exports read the way each format's own loaders and trainers read them:
// pictures where the loader looks, one dataset per split export, one object
// per object.
class TestTrainingExports : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void picturesWhereTheLoaderLooks_data();
    void picturesWhereTheLoaderLooks();
    void splitIsOneDataset_data();
    void splitIsOneDataset();
    void boxesAndPolygonsNeverMix();
    void cocoObjectsOfSeveralPolygonsAndCrowds();
    void keypointSetsWithoutStoredBox_data();
    void keypointSetsWithoutStoredBox();
    void facesAreOneObject_data();
    void facesAreOneObject();
    void labelMeKeypointsOnATurnedPicture();
    void smallerLosses();
    void splitExportsImportFromTheirRoot_data();
    void splitExportsImportFromTheirRoot();

private:
    void runCheck(const QStringList &arguments);
    static bool exportWith(const QString &format, const QString &out, const Dataset &dataset, bool split,
                           QString *error);
    static Dataset importFrom(const QString &format, const QString &path, bool *ok);
    static qsizetype annotationCount(const Dataset &dataset);
};

void TestTrainingExports::initTestCase()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
}

void TestTrainingExports::runCheck(const QStringList &arguments)
{
    QByteArray output;
    QVERIFY2(runReaderScript(QStringLiteral("check_training.py"), arguments, &output), output.constData());
}

bool TestTrainingExports::exportWith(const QString &format, const QString &out, const Dataset &dataset, bool split,
                                     QString *error)
{
    ExportConfig c;
    c.format = format;
    c.outputPath = out;
    c.split = split;
    QString result;
    return runExportJob(FormatRegistry::instance().find(format), c, dataset, int(dataset.images.size()),
                        formatWritesOwnImages(format), {}, error, &result);
}

Dataset TestTrainingExports::importFrom(const QString &format, const QString &path, bool *ok)
{
    Dataset back;
    *ok = FormatRegistry::instance().find(format)->importDataset(path, back, {});
    return back;
}

qsizetype TestTrainingExports::annotationCount(const Dataset &dataset)
{
    qsizetype count = 0;
    for (const ImageEntry &image : dataset.images)
        count += image.labels.size();
    return count;
}

// Odd sizes, two pictures sharing a file name in different folders, one
// picture without annotations.
static Dataset boxDataset(const QString &folder, int count)
{
    Dataset dataset;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/%2/shot.png").arg(folder).arg(i);
        writeImage(path, 61 + i, 47);
        QList<Annotation> labels;
        if (i != 1)
            labels = {box("cat", 3, 4, 20, 11), box("dog", 30.5, 20, 17, 9)};
        dataset.addImage(image(path, 61 + i, 47, labels));
    }
    return dataset;
}

void TestTrainingExports::picturesWhereTheLoaderLooks_data()
{
    QTest::addColumn<QString>("format");
    for (const char *name : {"Florence-2", "PaliGemma", "RetinaNet", "YOLO TensorFlow", "YOLOv3 Keras", "CreateML",
                             "COCO", "Darknet", "Pascal VOC", "LabelMe"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestTrainingExports::picturesWhereTheLoaderLooks()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    const Dataset dataset = boxDataset(dir.filePath("src"), 5);
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, false, &error), qPrintable(error));
    // The TensorFlow CSV has a row per box only: the background picture is
    // named nowhere.
    runCheck({"pictures", format, out, format == "YOLO TensorFlow" ? "4" : "5"});
    // Our own import still reads the folder, the background picture included.
    bool ok = false;
    const Dataset back = importFrom(format, exportTargetPath(format, out), &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(back), 8);
}

// The formats whose dataset is one root holding its splits.
void TestTrainingExports::splitIsOneDataset_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    for (const char *name : {"YOLOv5 OBB", "YOLOv8 OBB", "YOLOv6 MT", "YOLO Pose"}) {
        QTest::addRow("%s split", name) << QString::fromLatin1(name) << true;
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << false;
    }
}

void TestTrainingExports::splitIsOneDataset()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 10; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/p%1.png").arg(i));
        writeImage(path, 40 + i, 31);
        const Annotation object = format == "YOLO Pose"
                                      ? keypoints("person", {4, 4, 20, 20}, {{5, 6}, {20, 21}, {0, 0}}, {2, 1, 0})
                                      : box("car", 4, 4, 20, 12);
        dataset.addImage(image(path, 40 + i, 31, {object}));
    }
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, split, &error), qPrintable(error));
    runCheck({"onedataset", format, out, "10"});

    bool ok = false;
    const Dataset back = importFrom(format, out, &ok);
    QVERIFY(ok);
    QCOMPARE(back.images.size(), 10);
    QCOMPARE(annotationCount(back), 10);
}

// A detection project with a box and a polygon in one picture: the file is
// read by the trainers as polygons throughout, the box keeping its extent.
void TestTrainingExports::boxesAndPolygonsNeverMix()
{
    QTemporaryDir dir;
    Dataset dataset;
    writeImage(dir.filePath("src/mixed.png"), 100, 50);
    writeImage(dir.filePath("src/boxes.png"), 100, 50);
    dataset.addImage(image(dir.filePath("src/mixed.png"), 100, 50,
                           {box("cat", 10, 10, 6, 3), polygon("dog", {{50, 5}, {96, 5}, {80, 35}})}));
    dataset.addImage(image(dir.filePath("src/boxes.png"), 100, 50, {box("cat", 0, 0, 100, 50)}));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("YOLO", out, dataset, false, &error), qPrintable(error));
    const QJsonObject expected{
        {"mixed", QJsonArray{QJsonArray{0.13, 0.23, 0.06, 0.06}, QJsonArray{0.73, 0.4, 0.46, 0.6}}},
        {"boxes", QJsonArray{QJsonArray{0.5, 0.5, 1.0, 1.0}}},
    };
    runCheck({"yololines", out, QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact))});
    // A plain box file keeps its box lines.
    QCOMPARE(readFile(out + "/labels/boxes.txt").split(' ').size(), 5);

    bool ok = false;
    const Dataset back = importFrom("YOLO", out, &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(back), 3);
}

// A COCO file as the release lays it out: an object of two polygons with its
// own box, a crowd region as a run-length mask, a plain polygon.
void TestTrainingExports::cocoObjectsOfSeveralPolygonsAndCrowds()
{
    QTemporaryDir dir;
    writeImage(dir.filePath("in/a.png"), 40, 30);
    const QJsonObject source{
        {"images", QJsonArray{QJsonObject{{"id", 7}, {"file_name", "a.png"}, {"width", 40}, {"height", 30}}}},
        {"categories", QJsonArray{QJsonObject{{"id", 1}, {"name", "person"}}}},
        {"annotations",
         QJsonArray{
             QJsonObject{{"id", 1}, {"image_id", 7}, {"category_id", 1}, {"iscrowd", 0}, {"area", 130.0},
                         {"bbox", QJsonArray{1, 1, 30, 20}},
                         {"segmentation", QJsonArray{QJsonArray{1, 1, 11, 1, 11, 11, 1, 11},
                                                     QJsonArray{21, 11, 31, 11, 31, 21, 21, 21, 26, 16}}}},
             QJsonObject{{"id", 2}, {"image_id", 7}, {"category_id", 1}, {"iscrowd", 1}, {"area", 55.0},
                         {"bbox", QJsonArray{2, 3, 10, 12}},
                         {"segmentation",
                          QJsonObject{{"size", QJsonArray{30, 40}}, {"counts", QJsonArray{100, 55, 1045}}}}},
             QJsonObject{{"id", 3}, {"image_id", 7}, {"category_id", 1}, {"iscrowd", 0}, {"area", 50.0},
                         {"bbox", QJsonArray{20, 0, 10, 10}},
                         {"segmentation", QJsonArray{QJsonArray{20, 0, 30, 0, 30, 10}}}},
         }},
    };
    QVERIFY(writeFile(dir.filePath("in/annotations.json"), QJsonDocument(source).toJson()));
    // The fixture itself is what the loader reads.
    runCheck({"coco", dir.filePath("in/annotations.json"), "3"});

    bool ok = false;
    const Dataset project = importFrom("COCO", dir.filePath("in/annotations.json"), &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(project), 3);
    QCOMPARE(project.images.first().labels.first().bbox, QRectF(1, 1, 30, 20));

    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("COCO", out, project, false, &error), qPrintable(error));
    const QJsonObject expect{{"boxes", QJsonArray{QJsonArray{1, 1, 30, 20}, QJsonArray{2, 3, 10, 12},
                                                  QJsonArray{20, 0, 10, 10}}},
                             {"parts", QJsonArray{2}}};
    runCheck({"coco", out + "/annotations.json", "3", QString::fromUtf8(QJsonDocument(expect).toJson())});
    const QJsonArray written =
        QJsonDocument::fromJson(readFile(out + "/annotations.json"))["annotations"].toArray();
    QCOMPARE(written.at(1)["iscrowd"].toInt(), 1);
    QCOMPARE(written.at(1)["area"].toDouble(), 55.0);
    QCOMPARE(written.at(0)["area"].toDouble(), 130.0);

    // And back again: still three objects.
    const Dataset again = importFrom("COCO", out + "/annotations.json", &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(again), 3);

    // Every other format sees the object once.
    QVERIFY2(exportWith("Pascal VOC", dir.filePath("voc"), project, false, &error), qPrintable(error));
    QCOMPARE(readFile(dir.filePath("voc/a.xml")).count("<object>"), 3);
}

void TestTrainingExports::keypointSetsWithoutStoredBox_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("YOLO Pose") << "YOLO Pose";
    QTest::newRow("COCO") << "COCO";
    QTest::newRow("YOLO") << "YOLO";
}

// Keypoint sets as packages of other writers hold them: no box.
void TestTrainingExports::keypointSetsWithoutStoredBox()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    Dataset dataset;
    writeImage(dir.filePath("src/k.png"), 81, 63);
    dataset.addImage(image(dir.filePath("src/k.png"), 81, 63,
                           {keypoints("person", QRectF(), {{10, 12}, {40, 50}, {0, 0}}, {2, 1, 0}),
                            keypoints("person", QRectF(), {{60, 5}, {70, 30}, {65, 20}}, {2, 2, 2})}));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, false, &error), qPrintable(error));
    if (format == "COCO") {
        const QJsonObject expect{{"boxes", QJsonArray{QJsonArray{10, 12, 30, 38}, QJsonArray{60, 5, 10, 25}}}};
        runCheck({"coco", out + "/annotations.json", "2", QString::fromUtf8(QJsonDocument(expect).toJson())});
    } else {
        runCheck({"pose", out, "2", "3"});
    }
    if (format == "COCO")
        return;
    // The first set's box is its labelled points' extent: 30 of 81 pixels.
    const QList<QByteArray> first = readFile(out + "/labels/k.txt").split('\n').first().split(' ');
    QVERIFY(std::abs(first.at(3).toDouble() - 30.0 / 81) < 1e-4);
}

void TestTrainingExports::facesAreOneObject_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("YOLO Pose") << "YOLO Pose";
    QTest::newRow("COCO") << "COCO";
}

// Three faces drawn as boxes, two of them with their five landmarks drawn
// apart, the third without.
void TestTrainingExports::facesAreOneObject()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    Dataset dataset;
    dataset.keypointSchema.objectClass = "face";
    dataset.keypointSchema.keypointNames = {"left_eye", "right_eye", "nose", "mouth_left", "mouth_right"};
    const auto landmarks = [](double x, double y) {
        return keypoints("face", QRectF(),
                         {{x + 4, y + 5}, {x + 12, y + 5}, {x + 8, y + 9}, {x + 5, y + 13}, {x + 11, y + 13}},
                         {2, 2, 2, 2, 1});
    };
    writeImage(dir.filePath("src/group.png"), 121, 45);
    dataset.addImage(image(dir.filePath("src/group.png"), 121, 45,
                           {box("face", 2, 2, 17, 18), box("face", 40, 3, 17, 18), box("face", 80, 2, 20, 22),
                            landmarks(40, 3), landmarks(2, 2)}));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, false, &error), qPrintable(error));
    if (format == "COCO") {
        const QJsonObject expect{
            {"boxes", QJsonArray{QJsonArray{80, 2, 20, 22}, QJsonArray{40, 3, 17, 18}, QJsonArray{2, 2, 17, 18}}},
            {"keypoint_names", QJsonArray::fromStringList(dataset.keypointSchema.keypointNames)}};
        runCheck({"coco", out + "/annotations.json", "3", QString::fromUtf8(QJsonDocument(expect).toJson())});
    } else {
        runCheck({"pose", out, "3", "5"});
    }
    bool ok = false;
    const Dataset back = importFrom(format, exportTargetPath(format, out), &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(back), 3);
    for (const Annotation &a : back.images.first().labels)
        QVERIFY(a.bbox.width() >= 16 && a.bbox.height() >= 17);
}

// A camera JPEG stored on its side with an orientation tag, and a keypoint
// set with an unlabelled point (at the origin, as pose files keep it).
void TestTrainingExports::labelMeKeypointsOnATurnedPicture()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("src/turned.jpg");
    QDir().mkpath(dir.filePath("src"));
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON),
                 {"-c", "import PIL.Image, sys\n"
                        "img = PIL.Image.new('RGB', (30, 20), 'red')\n"
                        "exif = img.getexif(); exif[0x0112] = 6\n"
                        "img.save(sys.argv[1], exif=exif)\n",
                  picture});
    QVERIFY(python.waitForFinished(QmTest::patienceMs) && python.exitCode() == 0);
    QCOMPARE(QImageReader(picture).transformation(), QImageIOHandler::TransformationRotate90);
    Dataset dataset;
    dataset.addImage(image(picture, 20, 30,
                           {keypoints("person", {2, 2, 15, 25}, {{3, 4}, {0, 0}, {12, 20}}, {2, 0, 1}),
                            box("person", 1, 1, 18, 27)}));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("LabelMe", out, dataset, false, &error), qPrintable(error));
    runCheck({"labelme", out + "/turned.json", "1", "2"});
    bool ok = false;
    const Dataset back = importFrom("LabelMe", out, &ok);
    QVERIFY(ok);
    QCOMPARE(annotationCount(back), 2);
}

// DOTA names without spaces, CLIP names from the caption file, Darknet
// background pictures.
void TestTrainingExports::smallerLosses()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/s%1.png").arg(i));
        writeImage(path, 50, 40);
        dataset.addImage(image(path, 50, 40, i == 2 ? QList<Annotation>{} : QList<Annotation>{
                                                                              box("traffic light", 5, 5, 10, 20)}));
    }
    QString error;
    bool ok = false;
    // DOTA: ten fields a line, the name back as it was.
    QVERIFY2(exportWith("YOLOv5 OBB", dir.filePath("dota"), dataset, false, &error), qPrintable(error));
    const QByteArray line = readFile(dir.filePath("dota/train/labelTxt/s0.txt")).trimmed();
    QCOMPARE(line.split(' ').size(), 10);
    QVERIFY(line.contains(" traffic_light 0"));
    Dataset back = importFrom("YOLOv5 OBB", dir.filePath("dota"), &ok);
    QVERIFY(ok);
    QCOMPARE(back.images.first().labels.first().className, QStringLiteral("traffic light"));
    // CLIP: the caption file names the class as it is.
    QVERIFY2(exportWith("CLIP", dir.filePath("clip"), dataset, false, &error), qPrintable(error));
    back = importFrom("CLIP", dir.filePath("clip"), &ok);
    QVERIFY(ok);
    QCOMPARE(back.classNames(), QStringList{"traffic light"});
    // Darknet: an empty label file for the background picture, and a picture
    // without one imports as a background picture.
    QVERIFY2(exportWith("Darknet", dir.filePath("darknet"), dataset, false, &error), qPrintable(error));
    QVERIFY(QFileInfo::exists(dir.filePath("darknet/s2.txt")));
    QCOMPARE(readFile(dir.filePath("darknet/s2.txt")), QByteArray());
    QVERIFY(QFile::remove(dir.filePath("darknet/s2.txt")));
    back = importFrom("Darknet", dir.filePath("darknet"), &ok);
    QVERIFY(ok);
    QCOMPARE(back.images.size(), 3);
    QCOMPARE(annotationCount(back), 2);
}

void TestTrainingExports::splitExportsImportFromTheirRoot_data()
{
    QTest::addColumn<QString>("format");
    for (const IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (ExportDialog::allowsSplit(handler->name()))
            QTest::newRow(qPrintable(handler->name())) << handler->name();
    }
}

// Whatever the format, the folder a split export wrote imports back whole
// from its root.
void TestTrainingExports::splitExportsImportFromTheirRoot()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    const Dataset dataset = boxDataset(dir.filePath("src"), 10);
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, true, &error), qPrintable(error));
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler->canImport(out));
    Dataset back;
    QVERIFY(handler->importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 10);
}

QM_TEST_MAIN(TestTrainingExports)
#include "tst_trainingexports.moc"
