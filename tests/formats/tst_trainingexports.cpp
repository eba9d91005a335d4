#include "QmTest.h"

#include "FormatTestSupport.h"

#include "MainWindowTestAccess.h"
#include "ScriptedPrompts.h"

#include "formats/ui/ExportDialog.h"
#include "formats/ui/ImportFormatDialog.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/ImportFormats.h"
#include "formats/QpkgHandler.h"
#include "model/AnnotationKind.h"
#include "model/ProjectFile.h"

#include <QApplication>
#include <QBuffer>
#include <QListWidget>
#include <QTimer>

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
    void severalPartsAndCrowdsAfterReopening_data();
    void severalPartsAndCrowdsAfterReopening();
    void importedFlagsAfterReopening_data();
    void importedFlagsAfterReopening();
    void keypointSchemaComesInThroughTheWindow();
    void faceExportComesBackAsFace();
    void cocoSubsetFoldersImportWhole();
    void cvatAsItsImportersReadIt();
    void retinaNetTrainerFindsItsClasses();
    void boxFormIsOneForTheDataset_data();
    void boxFormIsOneForTheDataset();
    void dataYamlTrainsWhereverItIsCopied_data();
    void dataYamlTrainsWhereverItIsCopied();
    void dotaNamesAsTheLinesSpellThem();
    void darknetTrainsFromTheExportFolder_data();
    void darknetTrainsFromTheExportFolder();
    void darknetOwnLayoutImports();
    void poseFlipIndex_data();
    void poseFlipIndex();
    void fiveDigitSplitWithFrames();

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
    // The box-only picture is of a dataset that holds a polygon: its box is
    // written as its four corners too.
    QCOMPARE(readFile(out + "/labels/boxes.txt").split(' ').size(), 9);

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

    // Every other format sees the object once, and the crowd region not at
    // all: it cannot mark it as one.
    QVERIFY2(exportWith("Pascal VOC", dir.filePath("voc"), project, false, &error), qPrintable(error));
    QCOMPARE(readFile(dir.filePath("voc/a.xml")).count("<object>"), 2);
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

// The COCO file of the release layout: an object of two polygons with its
// own box and area, a crowd region as a run-length mask, a plain polygon.
static QString writeCocoOfPartsAndCrowd(const QTemporaryDir &dir)
{
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
    const QString path = dir.filePath("in/annotations.json");
    writeFile(path, QJsonDocument(source).toJson());
    return path;
}

void TestTrainingExports::severalPartsAndCrowdsAfterReopening_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("package");
    for (const char *name : {"COCO", "YOLO", "LabelMe", "CVAT XML", "Pascal VOC", "CreateML"})
        QTest::addRow("%s, project file", name) << QString::fromLatin1(name) << false;
    for (const char *name : {"COCO", "YOLO"})
        QTest::addRow("%s, package", name) << QString::fromLatin1(name) << true;
}

// A COCO import saved and opened again, as a project file or a package, then
// exported: each format writes the object of two polygons whole, and the crowd
// region as a crowd (COCO) or not at all (every other format, which says so).
void TestTrainingExports::severalPartsAndCrowdsAfterReopening()
{
    QFETCH(QString, format);
    QFETCH(bool, package);
    QTemporaryDir dir;
    bool ok = false;
    Project imported;
    imported.dataset = importFrom("COCO", writeCocoOfPartsAndCrowd(dir), &ok);
    QVERIFY(ok);
    Project reopened;
    if (package) {
        const QString path = dir.filePath("saved.qmpkg");
        QVERIFY(QpkgHandler::exportProject(path, imported, {}));
        reopened.dataset = importFrom("QuillPackage", path, &ok);
        QVERIFY(ok);
    } else {
        const QString path = dir.filePath("saved.qmk");
        QVERIFY(saveProjectFile(imported, path));
        QVERIFY(loadProjectFile(reopened, path));
    }

    const QString out = dir.filePath("out");
    ExportConfig c;
    c.format = format;
    c.outputPath = out;
    QString error;
    QString result;
    QVERIFY2(runExportJob(FormatRegistry::instance().find(format), c, reopened.dataset, 1, formatWritesOwnImages(format),
                          {}, &error, &result),
             qPrintable(error));

    const QJsonArray twoParts{QJsonArray{1, 1, 11, 1, 11, 11, 1, 11}, QJsonArray{21, 11, 31, 11, 31, 21, 21, 21, 26, 16}};
    const QJsonArray plain{QJsonArray{20, 0, 30, 0, 30, 10}};
    const auto compact = [](const QJsonValue &value) {
        return QString::fromUtf8(value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                                 : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    };
    if (format == "COCO") {
        const QJsonObject expect{{"boxes", QJsonArray{QJsonArray{1, 1, 30, 20}, QJsonArray{2, 3, 10, 12},
                                                      QJsonArray{20, 0, 10, 10}}},
                                 {"parts", QJsonArray{2}}};
        runCheck({"coco", out + "/annotations.json", "3", compact(expect)});
        const QJsonArray written =
            QJsonDocument::fromJson(readFile(out + "/annotations.json"))["annotations"].toArray();
        QCOMPARE(written.at(0)["segmentation"].toArray(), twoParts);
        QCOMPARE(written.at(0)["area"].toDouble(), 130.0);
        QCOMPARE(written.at(1)["iscrowd"].toInt(), 1);
        QVERIFY(written.at(1)["segmentation"].isObject());
        QCOMPARE(written.at(1)["area"].toDouble(), 55.0);
    } else if (format == "YOLO") {
        runCheck({"yolosegments", out + "/labels/a.txt", "40", "30", compact(QJsonArray{twoParts, plain})});
    } else if (format == "LabelMe") {
        runCheck({"labelmegroups", out + "/a.json", compact(QJsonArray{2, 1})});
    } else if (format == "CVAT XML") {
        runCheck({"cvat", out + "/annotations.xml",
                  compact(QJsonObject{{"labels", QJsonArray{"person"}}, {"objects", QJsonArray{2, 1}}})});
    } else if (format == "Pascal VOC") {
        // The object's own box, not its larger polygon's (1, 1, 11, 11).
        runCheck({"voc", out, compact(QJsonObject{{"a", QJsonArray{QJsonArray{1, 1, 31, 21}, QJsonArray{20, 0, 30, 10}}}})});
    } else {
        // Boxes by their centres.
        const QJsonArray boxes =
            QJsonDocument::fromJson(readFile(out + "/annotations.createml.json")).array().at(0)["annotations"].toArray();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.at(0)["coordinates"].toObject(),
                 (QJsonObject{{"x", 16}, {"y", 11}, {"width", 30}, {"height", 20}}));
        QCOMPARE(boxes.at(1)["coordinates"].toObject(),
                 (QJsonObject{{"x", 25}, {"y", 5}, {"width", 10}, {"height", 10}}));
    }
    if (format != "COCO")
        QVERIFY2(result.contains("1 crowd region was left out"), qPrintable(result));
}

// A dataset of `format` whose objects carry the flags its reader keeps, laid
// out as the tools that make such files lay them out; the path to import.
static QString writeFlaggedDataset(const QString &format, const QTemporaryDir &dir)
{
    if (format == "Pascal VOC") {
        // As LabelImg writes it, with the "occluded" of later VOC releases.
        writeImage(dir.filePath("in/a.jpg"), 40, 30);
        writeFile(dir.filePath("in/a.xml"), R"(<annotation>
	<folder>in</folder>
	<filename>a.jpg</filename>
	<path>/home/someone/in/a.jpg</path>
	<source>
		<database>Unknown</database>
	</source>
	<size>
		<width>40</width>
		<height>30</height>
		<depth>3</depth>
	</size>
	<segmented>0</segmented>
	<object>
		<name>person</name>
		<pose>Unspecified</pose>
		<truncated>1</truncated>
		<difficult>1</difficult>
		<bndbox><xmin>1</xmin><ymin>2</ymin><xmax>11</xmax><ymax>12</ymax></bndbox>
	</object>
	<object>
		<name>car</name>
		<pose>Left</pose>
		<truncated>0</truncated>
		<occluded>1</occluded>
		<difficult>0</difficult>
		<bndbox><xmin>20</xmin><ymin>5</ymin><xmax>35</xmax><ymax>25</ymax></bndbox>
	</object>
	<object>
		<name>dog</name>
		<pose>Unspecified</pose>
		<truncated>0</truncated>
		<difficult>0</difficult>
		<bndbox><xmin>3</xmin><ymin>15</ymin><xmax>9</xmax><ymax>28</ymax></bndbox>
	</object>
</annotation>
)");
        return dir.filePath("in");
    }
    if (format == "CVAT XML") {
        // CVAT's own archive: the pictures under images/.
        writeImage(dir.filePath("in/images/a.jpg"), 40, 30);
        writeFile(dir.filePath("in/annotations.xml"), R"(<?xml version="1.0" encoding="utf-8"?>
<annotations>
  <version>1.1</version>
  <meta>
    <task>
      <name>street</name>
      <size>1</size>
      <mode>annotation</mode>
      <labels>
        <label><name>person</name><color>#ff0000</color><type>any</type><attributes></attributes></label>
        <label><name>car</name><color>#00ff00</color><type>any</type><attributes></attributes></label>
      </labels>
    </task>
  </meta>
  <image id="0" name="a.jpg" width="40" height="30">
    <box label="person" source="manual" occluded="1" xtl="1.00" ytl="2.00" xbr="11.00" ybr="12.00" z_order="0">
    </box>
    <polygon label="car" source="manual" occluded="0" points="20.00,5.00;35.00,5.00;35.00,25.00" z_order="0">
    </polygon>
    <polygon label="person" source="manual" occluded="1" points="2.00,15.00;9.00,15.00;9.00,28.00" z_order="0">
    </polygon>
  </image>
</annotations>
)");
        return dir.filePath("in/annotations.xml");
    }
    if (format == "CLIP") {
        writeImage(dir.filePath("in/cat_multiple dog/a.png"), 40, 30);
        writeImage(dir.filePath("in/dog/b.png"), 40, 30);
        writeFile(dir.filePath("in/_tokenization.txt"), "An image depicting cat, dog\nAn image depicting dog\n");
        return dir.filePath("in");
    }
    writeImage(dir.filePath("in/a.png"), 40, 30);
    const QJsonObject source{
        {"images", QJsonArray{QJsonObject{{"id", 1}, {"file_name", "a.png"}, {"width", 40}, {"height", 30}}}},
        {"categories", QJsonArray{QJsonObject{{"id", 1}, {"name", "person"}}}},
        {"annotations",
         QJsonArray{QJsonObject{{"id", 1}, {"image_id", 1}, {"category_id", 1}, {"iscrowd", 0}, {"area", 100.0},
                                {"bbox", QJsonArray{1, 2, 10, 10}}, {"segmentation", QJsonArray{}}, {"ignore", 1},
                                {"attributes", QJsonObject{{"occluded", true}, {"track_id", 2}}}},
                    QJsonObject{{"id", 2}, {"image_id", 1}, {"category_id", 1}, {"iscrowd", 0}, {"area", 20.0},
                                {"bbox", QJsonArray{20, 5, 4, 5}}, {"segmentation", QJsonArray{}}}}},
    };
    writeFile(dir.filePath("in/annotations.json"), QJsonDocument(source).toJson());
    return dir.filePath("in/annotations.json");
}

void TestTrainingExports::importedFlagsAfterReopening_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("package");
    for (const char *name : {"Pascal VOC", "CVAT XML", "CLIP", "COCO"}) {
        QTest::addRow("%s, project file", name) << QString::fromLatin1(name) << false;
        QTest::addRow("%s, package", name) << QString::fromLatin1(name) << true;
    }
}

// The flags a dataset came with (VOC's difficult, truncated and occluded,
// CVAT's occluded, CLIP's multiple, a COCO object's other members) are in the
// export of the project saved and opened again, as the format's tools read
// them.
void TestTrainingExports::importedFlagsAfterReopening()
{
    QFETCH(QString, format);
    QFETCH(bool, package);
    QTemporaryDir dir;
    bool ok = false;
    Project imported;
    imported.dataset = importFrom(format, writeFlaggedDataset(format, dir), &ok);
    QVERIFY(ok);
    imported.dataset.syncClassesFromAnnotations();
    Project reopened;
    if (package) {
        const QString path = dir.filePath("saved.qmpkg");
        QVERIFY(QpkgHandler::exportProject(path, imported, {}));
        reopened.dataset = importFrom("QuillPackage", path, &ok);
        QVERIFY(ok);
    } else {
        const QString path = dir.filePath("saved.qmk");
        QVERIFY(saveProjectFile(imported, path));
        QVERIFY(loadProjectFile(reopened, path));
    }

    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, reopened.dataset, false, &error), qPrintable(error));
    const auto compact = [](const QJsonObject &object) {
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    if (format == "Pascal VOC") {
        runCheck({"vocflags", out, compact({{"a", QJsonArray{QJsonArray{1, 1, 0}, QJsonArray{0, 0, 1},
                                                             QJsonArray{0, 0, 0}}}})});
    } else if (format == "CVAT XML") {
        runCheck({"cvat", out + "/annotations.xml",
                  compact({{"labels", QJsonArray{"car", "person"}},
                           {"objects", QJsonArray{1, 1}},
                           {"occluded", QJsonArray{1, 0, 1}}})});
    } else if (format == "CLIP") {
        QCOMPARE(filesBelow(out), (QStringList{"_tokenization.txt", "cat_multiple dog/a.png", "dog/b.png"}));
    } else {
        const QJsonArray written = QJsonDocument::fromJson(readFile(out + "/annotations.json"))["annotations"].toArray();
        QCOMPARE(written.size(), 2);
        QCOMPARE(written.at(0)["ignore"], QJsonValue(1));
        QCOMPARE(written.at(0)["attributes"].toObject(), (QJsonObject{{"occluded", true}, {"track_id", 2}}));
        QVERIFY(!written.at(1).toObject().contains("ignore"));
    }
}

// Answers the window's import command: the folder, then the format in the
// chooser, then `answers` for the dialogs after it.
static bool importThroughWindow(MainWindow &window, QmTest::ScriptedPrompts &prompts, const QString &folder,
                                const QString &format, const QVariantList &answers = {})
{
    prompts.answers.enqueue(folder);
    for (const QVariant &answer : answers)
        prompts.answers.enqueue(answer);
    bool chosen = false;
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, format, &chosen] {
        auto *chooser = qobject_cast<ImportFormatDialog *>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        timer->stop();
        timer->deleteLater();
        QListWidget *list = chooser->formatList();
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->data(Qt::UserRole).toString() == format)
                list->setCurrentRow(i);
        }
        chooser->accept();
        chosen = true;
    });
    timer->start();
    window.onImportDataset();
    return QTest::qWaitFor([&] { return chosen && !window.isJobRunning(); }, QmTest::patienceMs);
}

// The 17 keypoints and 19 edges of a person keypoints file.
static const QStringList personKeypoints = {
    "nose",          "left_eye",       "right_eye",  "left_ear",    "right_ear",  "left_shoulder",
    "right_shoulder", "left_elbow",    "right_elbow", "left_wrist", "right_wrist", "left_hip",
    "right_hip",     "left_knee",      "right_knee", "left_ankle",  "right_ankle"};
static const QList<QPair<int, int>> personSkeleton = {
    {16, 14}, {14, 12}, {17, 15}, {15, 13}, {12, 13}, {6, 12}, {7, 13}, {6, 7}, {6, 8}, {7, 9},
    {8, 10},  {9, 11},  {2, 3},   {1, 2},   {1, 3},   {2, 4},  {3, 5},  {4, 6}, {5, 7}};

// A person keypoints file comes in through the window's import command with
// its keypoint names and skeleton, and goes out again with them.
void TestTrainingExports::keypointSchemaComesInThroughTheWindow()
{
    QTemporaryDir dir;
    writeImage(dir.filePath("in/p.png"), 90, 70);
    QJsonArray skeleton;
    for (const auto &edge : personSkeleton)
        skeleton.append(QJsonArray{edge.first, edge.second});
    QJsonArray triplets;
    for (int i = 0; i < personKeypoints.size(); ++i) {
        triplets.append(10 + 3 * i);
        triplets.append(5 + 2 * i);
        triplets.append(i % 5 == 4 ? 0 : 2);
    }
    const QJsonObject source{
        {"images", QJsonArray{QJsonObject{{"id", 1}, {"file_name", "p.png"}, {"width", 90}, {"height", 70}}}},
        {"categories", QJsonArray{QJsonObject{{"id", 1},
                                              {"name", "person"},
                                              {"keypoints", QJsonArray::fromStringList(personKeypoints)},
                                              {"skeleton", skeleton}}}},
        {"annotations", QJsonArray{QJsonObject{{"id", 1}, {"image_id", 1}, {"category_id", 1}, {"iscrowd", 0},
                                               {"bbox", QJsonArray{8, 4, 60, 40}}, {"keypoints", triplets},
                                               {"num_keypoints", 14}, {"area", 2400}}}},
    };
    const QString json = dir.filePath("in/person_keypoints.json");
    QVERIFY(writeFile(json, QJsonDocument(source).toJson()));

    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride installed(&prompts);
    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(importThroughWindow(window, prompts, dir.filePath("in"), "COCO", {json}));
    const Dataset &dataset = access.project().dataset;
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(access.project().projectType, QStringLiteral("pose"));
    QCOMPARE(dataset.keypointSchema.keypointNames, personKeypoints);
    QCOMPARE(dataset.keypointSchema.edges.size(), 19);
    QCOMPARE(dataset.keypointSchema.edges.first(), qMakePair(15, 13));

    QString error;
    QVERIFY2(exportWith("COCO", dir.filePath("out"), dataset, false, &error), qPrintable(error));
    runCheck({"coco", dir.filePath("out/annotations.json"), "1",
              QString::fromUtf8(QJsonDocument(QJsonObject{{"keypoint_names", QJsonArray::fromStringList(personKeypoints)}})
                                    .toJson(QJsonDocument::Compact))});
    const QJsonObject category =
        QJsonDocument::fromJson(readFile(dir.filePath("out/annotations.json")))["categories"][0].toObject();
    QCOMPARE(category["skeleton"].toArray(), skeleton);
}

// A face project's COCO export, imported through the window into a fresh
// window, makes a face project again (not a pose project).
void TestTrainingExports::faceExportComesBackAsFace()
{
    QTemporaryDir dir;
    Dataset face;
    face.keypointSchema = {"face", {"Left Eye", "Right Eye", "Nose", "Left Mouth Corner", "Right Mouth Corner"}, {}};
    writeImage(dir.filePath("src/f.png"), 61, 45);
    face.addImage(image(dir.filePath("src/f.png"), 61, 45,
                        {keypoints("face", {10, 8, 20, 22}, {{14, 13}, {22, 13}, {18, 18}, {15, 23}, {21, 23}},
                                   {2, 2, 2, 2, 2})}));
    QString error;
    QVERIFY2(exportWith("COCO", dir.filePath("out"), face, false, &error), qPrintable(error));

    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride installed(&prompts);
    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(importThroughWindow(window, prompts, dir.filePath("out"), "COCO", {dir.filePath("out/annotations.json")}));
    QCOMPARE(access.project().dataset.images.size(), 1);
    QCOMPARE(access.project().projectType, QStringLiteral("face"));
    QCOMPARE(access.project().dataset.keypointSchema, face.keypointSchema);
}

// A dataset split into subset folders, each holding its own COCO file with
// its pictures beside it (ids start again in each), is detected as COCO from
// its root and imports whole, also through the window without a file picker.
void TestTrainingExports::cocoSubsetFoldersImportWhole()
{
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    const QStringList subsets = {"train", "valid", "test"};
    for (int s = 0; s < subsets.size(); ++s) {
        QJsonArray images;
        QJsonArray annotations;
        for (int i = 0; i < 2; ++i) {
            const QString name = QStringLiteral("%1_%2.jpg").arg(subsets.at(s)).arg(i);
            QVERIFY(writeImage(root + "/" + subsets.at(s) + "/" + name, 33, 21, Qt::blue));
            images.append(QJsonObject{{"id", i}, {"file_name", name}, {"width", 33}, {"height", 21}});
            annotations.append(QJsonObject{{"id", i}, {"image_id", i}, {"category_id", s == 2 ? 2 : 1},
                                           {"bbox", QJsonArray{1, 2, 10, 8}}, {"area", 80}, {"segmentation", QJsonArray{}},
                                           {"iscrowd", 0}});
        }
        const QJsonArray categories{QJsonObject{{"id", 0}, {"name", "cells"}}, QJsonObject{{"id", 1}, {"name", "red"}},
                                    QJsonObject{{"id", 2}, {"name", "white"}}};
        QVERIFY(writeFile(root + "/" + subsets.at(s) + "/_annotations.coco.json",
                          QJsonDocument(QJsonObject{{"images", images}, {"annotations", annotations},
                                                    {"categories", categories}})
                              .toJson()));
    }
    QVERIFY(detectImportFormats(root).contains("COCO"));
    bool ok = false;
    const Dataset back = importFrom("COCO", root, &ok);
    QVERIFY(ok);
    QCOMPARE(back.images.size(), 6);
    QSet<int> ids;
    for (const ImageEntry &entry : back.images) {
        ids.insert(entry.id);
        QVERIFY2(QFileInfo(entry.filePath).isFile(), qPrintable(entry.filePath));
        QCOMPARE(entry.labels.size(), 1);
    }
    QCOMPARE(ids.size(), 6);
    QCOMPARE(annotationCount(back), 6);
    QCOMPARE(back.images.last().labels.first().className, QStringLiteral("white"));

    QmTest::ScriptedPrompts prompts;
    QmTest::PromptsOverride installed(&prompts);
    MainWindow window;
    MainWindowTestAccess access(window);
    QVERIFY(importThroughWindow(window, prompts, root, "COCO"));
    QCOMPARE(access.project().dataset.images.size(), 6);
    for (const QmTest::PromptCall &call : prompts.calls)
        QVERIFY2(call.kind != QLatin1String("open") && call.kind != QLatin1String("warning"), qPrintable(call.title));
}

// CVAT's own archive layout: every class declared with its colour in the
// task's labels, shapes named by them, pictures in images/.
void TestTrainingExports::cvatAsItsImportersReadIt()
{
    QTemporaryDir dir;
    Dataset dataset = boxDataset(dir.filePath("src"), 4);
    dataset.addClass("unused", QColor("#0a0b0c"));
    dataset.addClass("cat", QColor("#102030"));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("CVAT XML", out, dataset, false, &error), qPrintable(error));
    runCheck({"cvat", out + "/annotations.xml",
              QString::fromUtf8(QJsonDocument(QJsonObject{{"labels", QJsonArray{"cat", "dog", "unused"}},
                                                          {"objects", QJsonArray{}}})
                                    .toJson(QJsonDocument::Compact))});
    const QByteArray xml = readFile(out + "/annotations.xml");
    QVERIFY(xml.contains("<name>cat</name>\n          <color>#102030</color>"));
    QVERIFY(xml.contains("<name>unused</name>\n          <color>#0a0b0c</color>"));
    // Our own reader finds the pictures there.
    bool ok = false;
    const Dataset back = importFrom("CVAT XML", out, &ok);
    QVERIFY(ok);
    for (const ImageEntry &entry : back.images)
        QVERIFY2(QFileInfo(entry.filePath).isFile(), qPrintable(entry.filePath));
}

// The RetinaNet trainer starts from a class mapping beside the annotations;
// class names that CSV must quote travel quoted in both files.
void TestTrainingExports::retinaNetTrainerFindsItsClasses()
{
    QTemporaryDir dir;
    Dataset dataset = boxDataset(dir.filePath("src"), 3);
    dataset.images[0].labels.append(box("traffic light, red", 1, 1, 5, 5));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("RetinaNet", out, dataset, false, &error), qPrintable(error));
    runCheck({"retinanet", out});
    QCOMPARE(readFile(out + "/classes.csv"), QByteArray("cat,0\ndog,1\n\"traffic light, red\",2\n"));
}

// Ten pictures of odd sizes: the first holds a pentagon only, the next eight
// two boxes each, the last nothing. Without a shuffle, a 70/20/10 split puts
// the pentagon in train with six box-only pictures, and valid gets box-only
// pictures alone.
static Dataset segmentationDataset(const QString &folder, bool withPolygon)
{
    Dataset dataset;
    for (int i = 0; i < 10; ++i) {
        const QString path = QStringLiteral("%1/p%2.png").arg(folder).arg(i);
        writeImage(path, 61 + i, 47);
        QList<Annotation> labels;
        if (i == 0 && withPolygon)
            labels = {polygon("cat", ring(5, 30, 23, 15))};
        else if (i < 9)
            labels = {box("cat", 3, 4, 20, 11), box("dog", 30.5, 20, 17, 9)};
        dataset.addImage(image(path, 61 + i, 47, labels));
    }
    return dataset;
}

void TestTrainingExports::boxFormIsOneForTheDataset_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("withPolygon");
    // Whole, the export is one dataset; split, train/valid/test are the
    // datasets of one data.yaml. "YOLOv4 Scaled" puts a whole export in
    // train/.
    for (const char *name : {"YOLO", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv11"}) {
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << false << true;
        QTest::addRow("%s split", name) << QString::fromLatin1(name) << true << true;
    }
    QTest::newRow("boxes only, whole") << "YOLO" << false << false;
    QTest::newRow("boxes only, split") << "YOLO" << true << false;
}

// A segmentation dataset whose pictures hold a polygon or boxes: the trainer
// decides per dataset, so every box of a dataset that holds a polygon is an
// outline; a dataset of boxes keeps box lines.
void TestTrainingExports::boxFormIsOneForTheDataset()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QFETCH(bool, withPolygon);
    QTemporaryDir dir;
    const Dataset dataset = segmentationDataset(dir.filePath("src"), withPolygon);
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, split, &error), qPrintable(error));
    const QJsonObject expect{{"segments", withPolygon}, {"objects", withPolygon ? 17 : 18}};
    runCheck({"yolosets", out, QString::fromUtf8(QJsonDocument(expect).toJson(QJsonDocument::Compact))});

    // The handler's own flat form decides for its dataset the same way.
    const QString flat = dir.filePath("flat");
    QVERIFY(FormatRegistry::instance().find(format)->exportDataset(flat, dataset, {}));
    QCOMPARE(readFile(flat + "/p1.txt").split('\n').first().split(' ').size(), withPolygon ? 9 : 5);

    // And our reader takes every box back as the box it was.
    bool ok = false;
    const Dataset back = importFrom(format, out, &ok);
    QVERIFY(ok);
    QCOMPARE(back.images.size(), 10);
    for (const ImageEntry &entry : back.images) {
        const QString stem = QFileInfo(entry.filePath).completeBaseName();
        const ImageEntry &source = dataset.images.at(stem.mid(1).toInt());
        QCOMPARE(entry.labels.size(), source.labels.size());
        for (qsizetype j = 0; j < source.labels.size(); ++j) {
            QCOMPARE(entry.labels.at(j).kind, source.labels.at(j).kind);
            fuzzyCompareRect(entry.labels.at(j).bbox, source.labels.at(j).bbox, 0.01);
        }
    }
}

void TestTrainingExports::dataYamlTrainsWhereverItIsCopied_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    for (const char *name : {"YOLO", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv8", "YOLOv5 OBB", "YOLOv6 MT",
                             "YOLOv8 OBB", "YOLO Pose"}) {
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << false;
        QTest::addRow("%s split", name) << QString::fromLatin1(name) << true;
    }
}

// Every data.yaml of the YOLO family names its folders so that the dataset,
// copied to a training machine, trains from the copy.
void TestTrainingExports::dataYamlTrainsWhereverItIsCopied()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 5; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/q%1.png").arg(i));
        writeImage(path, 40, 30);
        dataset.addImage(image(path, 40, 30,
                               {format == "YOLO Pose" ? keypoints("person", {4, 4, 20, 20}, {{5, 6}, {20, 21}}, {2, 1})
                                                      : box("car", 4, 4, 20, 12)}));
    }
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith(format, out, dataset, split, &error), qPrintable(error));
    runCheck({"portable", out});
}

// Class names with spaces: DOTA's lines cannot hold one, and its trainer
// drops a picture whose line names a class the data.yaml does not list. Two
// names that DOTA's spelling would make one stay two classes.
void TestTrainingExports::dotaNamesAsTheLinesSpellThem()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (int i = 0; i < 4; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/d%1.png").arg(i));
        writeImage(path, 50 + i, 40);
        dataset.addImage(image(path, 50 + i, 40,
                               {box("traffic light", 5, 5, 10, 20), box("car", 20, 10, 12, 8),
                                polygon("fire  hydrant", {{30, 5}, {40, 8}, {37, 18}, {27, 15}}),
                                box("fire_hydrant", 2, 30, 9, 6)}));
    }
    for (const bool split : {false, true}) {
        const QString out = dir.filePath(split ? "split" : "whole");
        QString error;
        QVERIFY2(exportWith("YOLOv5 OBB", out, dataset, split, &error), qPrintable(error));
        runCheck({"dota", out, "4", "16"});
        // Back in the project, the classes are spelled as the project spells
        // them, each object of its own.
        bool ok = false;
        const Dataset back = importFrom("YOLOv5 OBB", out, &ok);
        QVERIFY(ok);
        QCOMPARE(back.images.size(), 4);
        for (const ImageEntry &entry : back.images) {
            QStringList classes;
            for (const Annotation &a : entry.labels)
                classes.append(a.className);
            QCOMPARE(classes, (QStringList{"traffic light", "car", "fire  hydrant", "fire_hydrant"}));
        }
    }
}

// Pictures of odd sizes named as darknet's own files and as each other, a
// polygon and a background picture.
static Dataset darknetDataset(const QString &folder)
{
    Dataset dataset;
    const QStringList paths = {"a/train.png", "a/shot.png", "b/shot.png", "c/p3.jpg", "c/p4.png",
                               "c/p5.png",    "c/p6.png",   "c/p7.png",   "c/p8.png", "c/p9.png"};
    for (int i = 0; i < paths.size(); ++i) {
        const QString path = folder + '/' + paths.at(i);
        writeImage(path, 61 + i, 47);
        QList<Annotation> labels;
        if (i == 1)
            labels = {polygon("dog", ring(5, 30, 23, 15))};
        else if (i != 9)
            labels = {box("cat", 3, 4, 20, 11), box("dog", 30.5, 20, 17, 9)};
        dataset.addImage(image(path, 61 + i, 47, labels));
    }
    return dataset;
}

void TestTrainingExports::darknetTrainsFromTheExportFolder_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("train");
    QTest::addColumn<int>("valid");
    QTest::newRow("whole") << false << 10 << 10;
    QTest::newRow("split") << true << 7 << 2;
}

void TestTrainingExports::darknetTrainsFromTheExportFolder()
{
    QFETCH(bool, split);
    QFETCH(int, train);
    QFETCH(int, valid);
    QTemporaryDir dir;
    const Dataset dataset = darknetDataset(dir.filePath("src"));
    const QString out = dir.filePath("out");
    QString error;
    QVERIFY2(exportWith("Darknet", out, dataset, split, &error), qPrintable(error));
    const QJsonObject expect{{"train", train}, {"valid", valid}, {"classes", QJsonArray{"cat", "dog"}},
                             {"objects", 17}};
    runCheck({"darknet", out, QString::fromUtf8(QJsonDocument(expect).toJson(QJsonDocument::Compact))});

    // Our reader takes the same files: every picture once, from the root.
    IFormatHandler *darknet = FormatRegistry::instance().find("Darknet");
    QVERIFY(darknet->canImport(out));
    Dataset back;
    QVERIFY(darknet->importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 10);
    QCOMPARE(annotationCount(back), 17);
    for (const ImageEntry &entry : back.images)
        QVERIFY2(entry.width > 0, qPrintable(entry.filePath));
}

// darknet's own layout, as its documentation and labelling tools write it:
// the data files in data/, every path relative to the folder above it.
void TestTrainingExports::darknetOwnLayoutImports()
{
    QTemporaryDir dir;
    const QString data = dir.filePath("darknet/data");
    writeImage(data + "/obj/frame 1.jpg", 64, 48);
    writeImage(data + "/obj/frame2.jpg", 32, 32);
    writeImage(data + "/obj/unlisted.jpg", 32, 32);
    QVERIFY(writeFile(data + "/obj/frame 1.txt", "1 0.5 0.5 0.25 0.5\r\n0 0.25 0.25 0.125 0.125\r\n"));
    QVERIFY(writeFile(data + "/obj.names", "person\ncar\n"));
    QVERIFY(writeFile(data + "/obj.data", "classes= 2\ntrain  = data/train.txt\nvalid = data/train.txt\n"
                                          "names = data/obj.names\nbackup = backup/\n"));
    QVERIFY(writeFile(data + "/train.txt", "data/obj/frame 1.jpg\r\ndata/obj/frame2.jpg\r\n"));
    // Chosen as it is, and renamed: the paths then lose their "data/".
    for (const QString &folder : {data, dir.filePath("renamed")}) {
        if (folder != data)
            QVERIFY(QDir().rename(data, folder));
        IFormatHandler *darknet = FormatRegistry::instance().find("Darknet");
        QVERIFY(darknet->canImport(folder));
        Dataset back;
        QVERIFY(darknet->importDataset(folder, back, {}));
        QCOMPARE(back.images.size(), 2);
        QCOMPARE(QFileInfo(back.images.at(0).filePath).fileName(), QStringLiteral("frame 1.jpg"));
        QCOMPARE(back.images.at(0).labels.size(), 2);
        QCOMPARE(back.images.at(0).labels.at(0).className, QStringLiteral("car"));
        fuzzyCompareRect(back.images.at(0).labels.at(0).bbox, QRectF(24, 12, 16, 24));
        // A listed picture without a label file holds no object.
        QCOMPARE(back.images.at(1).labels.size(), 0);
        QCOMPARE(back.images.at(1).width, 32);
    }
}

void TestTrainingExports::poseFlipIndex_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("keypointCount");
    QTest::addColumn<QList<int>>("flip");
    const QStringList coco = {"nose",          "left_eye",       "right_eye",  "left_ear",    "right_ear",
                              "left_shoulder", "right_shoulder", "left_elbow", "right_elbow", "left_wrist",
                              "right_wrist",   "left_hip",       "right_hip",  "left_knee",   "right_knee",
                              "left_ankle",    "right_ankle"};
    const QList<int> cocoFlip = {0, 2, 1, 4, 3, 6, 5, 8, 7, 10, 9, 12, 11, 14, 13, 16, 15};
    QTest::newRow("COCO person") << "YOLO Pose" << coco << 17 << cocoFlip;
    QTest::newRow("COCO person, YOLO lines") << "YOLO" << coco << 17 << cocoFlip;
    QTest::newRow("face") << "YOLO Pose" << QStringList{"left_eye", "right_eye", "nose", "mouth_left", "mouth_right"}
                          << 5 << QList<int>{1, 0, 2, 4, 3};
    QTest::newRow("other spellings") << "YOLO Pose"
                                     << QStringList{"lEye", "Tail", "RIGHT HAND", "rEye", "Left Hand", "r_paw"} << 6
                                     << QList<int>{3, 1, 4, 0, 2, 5};
    QTest::newRow("a side twice") << "YOLO Pose" << QStringList{"left", "right", "Right"} << 3
                                  << QList<int>{1, 0, 2};
    QTest::newRow("no sides") << "YOLO Pose" << QStringList{"head", "spine", "tail"} << 3 << QList<int>{0, 1, 2};
    QTest::newRow("more points than names") << "YOLO Pose" << QStringList{"right_hand", "left_hand"} << 4
                                            << QList<int>{1, 0, 2, 3};
    QTest::newRow("no schema") << "YOLO Pose" << QStringList{} << 3 << QList<int>{0, 1, 2};
}

// Without "flip_idx" the pose trainer mirrors no picture; a wrong one
// teaches it left for right.
void TestTrainingExports::poseFlipIndex()
{
    QFETCH(QString, format);
    QFETCH(QStringList, names);
    QFETCH(int, keypointCount);
    QFETCH(QList<int>, flip);
    QTemporaryDir dir;
    Dataset dataset;
    dataset.keypointSchema.objectClass = "person";
    dataset.keypointSchema.keypointNames = names;
    QList<QPointF> points;
    QList<int> visibility;
    for (int k = 0; k < keypointCount; ++k) {
        points.append(QPointF(5 + k, 6 + k));
        visibility.append(2);
    }
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/k%1.png").arg(i));
        writeImage(path, 53, 41);
        dataset.addImage(image(path, 53, 41, {keypoints("person", {2, 2, 30, 30}, points, visibility)}));
    }
    for (const bool split : {false, true}) {
        const QString out = dir.filePath(split ? "split" : "whole");
        QString error;
        QVERIFY2(exportWith(format, out, dataset, split, &error), qPrintable(error));
        QJsonArray expected;
        for (int index : flip)
            expected.append(index);
        runCheck({"flip", out, QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact))});
    }
}

// A split export of 10,005 pictures: tiny files of an odd size, a thousand of
// them named alike in folders of their own, and video frames held in memory
// under their bare names (one of them also the name of a file picture), as the
// frame extraction hands them over. Every picture and object reaches the
// trainer of each format once.
void TestTrainingExports::fiveDigitSplitWithFrames()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("src/proto.png"), 13, 11));
    const QByteArray png = readFile(dir.filePath("src/proto.png"));
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QImage frame(98, 66, QImage::Format_RGB32);
        frame.fill(Qt::darkGreen);
        QVERIFY(frame.save(&buffer, "JPEG", 95));
    }
    Dataset dataset;
    int objects = 0;
    for (int i = 0; i < 10000; ++i) {
        const QString path = i == 5 ? dir.filePath("src/clip_frame_000007.jpg")
                             : i % 10 == 0 ? dir.filePath(QStringLiteral("src/d%1/shot.png").arg(i))
                                           : dir.filePath(QStringLiteral("src/img_%1.png").arg(i));
        QVERIFY(writeFile(path, i == 5 ? jpeg : png));
        QList<Annotation> labels;
        if (i % 3 == 0)
            labels.append(box("traffic light", 1, 1, 5, 4));
        if (i % 7 == 0)
            labels.append(polygon("stop sign", {{2, 2}, {9, 2}, {9, 8}}));
        objects += int(labels.size());
        dataset.addImage(i == 5 ? image(path, 98, 66, labels) : image(path, 13, 11, labels));
    }
    for (const int frame : {0, 7, 31, 1200, 99999}) {
        ImageEntry entry = image(QStringLiteral("clip_frame_%1.jpg").arg(frame, 6, 10, QLatin1Char('0')), 98, 66,
                                 {box("stop sign", 10, 10, 30, 20)});
        entry.imageData = jpeg;
        dataset.addImage(entry);
        ++objects;
    }
    const QString count = QString::number(dataset.images.size());
    QCOMPARE(count, QStringLiteral("10005"));

    QString error;
    const QString yolo = dir.filePath("yolo");
    QVERIFY2(exportWith("YOLOv8", yolo, dataset, true, &error), qPrintable(error));
    runCheck({"onedataset", "YOLOv8", yolo, count});
    runCheck({"yolosets", yolo, QStringLiteral(R"({"segments": true, "objects": %1})").arg(objects)});

    const QString darknet = dir.filePath("darknet");
    QVERIFY2(exportWith("Darknet", darknet, dataset, true, &error), qPrintable(error));
    runCheck({"darknet", darknet,
              QStringLiteral(R"({"train": 7004, "valid": 2001, "classes": ["stop sign", "traffic light"], "objects": %1})")
                  .arg(objects)});

    const QString coco = dir.filePath("coco");
    QVERIFY2(exportWith("COCO", coco, dataset, true, &error), qPrintable(error));
    qsizetype written = 0;
    QSet<QString> files;
    for (const char *subset : {"train", "valid", "test"}) {
        const QString json = coco + "/" + subset + "/annotations.json";
        const QJsonObject document = QJsonDocument::fromJson(readFile(json)).object();
        const qsizetype annotations = document["annotations"].toArray().size();
        runCheck({"coco", json, QString::number(annotations)});
        for (const QJsonValue &entry : document["images"].toArray()) {
            const QString file = coco + "/" + subset + "/" + entry["file_name"].toString();
            QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
            files.insert(file);
        }
        written += annotations;
    }
    QCOMPARE(files.size(), 10005);
    QCOMPARE(written, qsizetype(objects));
}

QM_TEST_MAIN(TestTrainingExports)
#include "tst_trainingexports.moc"
