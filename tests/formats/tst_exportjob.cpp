#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/ExportJob.h"
#include "formats/ExportJournal.h"
#include "formats/FormatRegistry.h"
#include "formats/QpkgHandler.h"
#include "formats/YoloHandler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

using namespace Quillmark;
using namespace FormatTest;

namespace {

using Calls = QList<QPair<int, int>>;

// A handler that records what it is given and fails on request.
class RecordingHandler : public IFormatHandler {
public:
    QString name() const override { return QStringLiteral("Recorder"); }
    QString extension() const override { return QStringLiteral("rec"); }
    bool canImport(const QString &) const override { return false; }
    bool importDataset(const QString &, Dataset &, ProgressCallback) override { return false; }
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override
    {
        paths.append(path);
        classLists.append(dataset.classNames());
        QStringList files;
        for (const ImageEntry &e : dataset.images)
            files.append(QFileInfo(e.filePath).fileName());
        imageLists.append(files);
        for (int i = 0; i < dataset.images.size(); ++i) {
            if (progress)
                progress(i + 1, int(dataset.images.size()));
        }
        return --failAfter != 0;
    }

    QStringList paths;
    QList<QStringList> classLists;
    QList<QStringList> imageLists;
    int failAfter = -1;   // the n-th call fails; -1 never
};

ExportConfig config(const QString &format, const QString &output, bool split)
{
    ExportConfig c;
    c.format = format;
    c.outputPath = output;
    c.split = split;
    c.shuffle = false;
    return c;
}

struct Outcome {
    bool ok = false;
    QString error;
    QString result;
    Calls calls;
};

Outcome run(IFormatHandler *handler, const ExportConfig &c, const Dataset &dataset, bool handlerWritesImages = false)
{
    Outcome outcome;
    outcome.ok = runExportJob(handler, c, dataset, int(dataset.images.size()), handlerWritesImages,
                              [&](int current, int total) { outcome.calls.append({current, total}); },
                              &outcome.error, &outcome.result);
    return outcome;
}

Calls sequence(int from, int to, int total)
{
    Calls calls;
    for (int i = from; i <= to; ++i)
        calls.append({i, total});
    return calls;
}

// Progress that rises to the total and ends there: image copies run beside
// the label files, so counts may be skipped, but they never go back.
bool risesTo(const Calls &calls, int total)
{
    if (calls.isEmpty() || calls.last() != QPair<int, int>{total, total})
        return false;
    int previous = 1;
    for (const auto &[current, reportedTotal] : calls) {
        if (reportedTotal != total || current < previous)
            return false;
        previous = current;
    }
    return true;
}

// n real images src/img<i>.png of 10 x 10 with one box each, classes cat and dog.
Dataset petDataset(const QString &folder, int n)
{
    Dataset dataset;
    for (int i = 0; i < n; ++i) {
        const QString path = QStringLiteral("%1/img%2.png").arg(folder).arg(i);
        writeImage(path, 10, 10, QColor::fromHsv(i * 30 % 360, 255, 255));
        dataset.addImage(image(path, 10, 10, {box(i % 2 ? "dog" : "cat", 0, 0, 5, 5)}));
    }
    return dataset;
}

} // namespace

class TestExportJob : public QObject {
    Q_OBJECT
private slots:
    void defaultConfig();
    void targetPaths();
    void wholeExportWithImageCopies();
    void wholeExportInMemoryAndCollidingImages();
    void wholeExportHandlerFailure();
    void yoloWholeExportReadsBackExactly_data();
    void yoloWholeExportReadsBackExactly();
    void yoloFamilyWritesAndDetectsItsOwnLayout_data();
    void yoloFamilyWritesAndDetectsItsOwnLayout();
    void missingPixelsFailTheExport_data();
    void missingPixelsFailTheExport();
    void earlierExportIsReplacedNotMixedIn();
    void unfinishedExportIsClearedByTheNext_data();
    void unfinishedExportIsClearedByTheNext();
    void sourceInsideTheOutputIsKept();
    void unknownSizesAreMeasured();
    void packageImagesAreExported();
    void splitOneFileFormatsWriteInsideTheirFolders();
    void handlerWritingImagesGetsNoCopies();
    void yoloSplitLayout();
    void yoloSplitRoundTripsKeypointsAndPolygons();
    void yoloSplitCollisionsAndInMemoryPixels();
    void emptyYoloSplit();
    void yoloSplitYamlNamesOnlyWrittenFolders();
    void splitPartitions();
    void shuffledSplitIsAPartition();
    void handlerSplitGivesEverySubsetTheClassList();
    void handlerSplitCopiesImagesUnderUniqueNames();
    void splitFailuresNameTheSubset();
    void outputFolderCannotBeCreated();
    void emptyProgressCallback();
    void noPictureFoundWhileCopying();
};

void TestExportJob::defaultConfig()
{
    const ExportConfig c;
    QCOMPARE(c.format, QString());
    QCOMPARE(c.outputPath, QString());
    QVERIFY(!c.split);
    QCOMPARE(c.trainPct, 70);
    QCOMPARE(c.validPct, 20);
    QCOMPARE(c.testPct, 10);
    QVERIFY(c.copyImages);
    QVERIFY(c.generateYaml);
    QVERIFY(c.shuffle);
    QVERIFY(!c.embedBase64);
}

void TestExportJob::targetPaths()
{
    QCOMPARE(exportTargetPath("COCO", "/o"), QStringLiteral("/o/annotations.json"));
    QCOMPARE(exportTargetPath("CreateML", "/o"), QStringLiteral("/o/annotations.createml.json"));
    QCOMPARE(exportTargetPath("Florence-2", "/o"), QStringLiteral("/o/annotations.jsonl"));
    QCOMPARE(exportTargetPath("PaliGemma", "/o"), QStringLiteral("/o/_annotations.jsonl"));
    QCOMPARE(exportTargetPath("RetinaNet", "/o"), QStringLiteral("/o/_annotations.csv"));
    QCOMPARE(exportTargetPath("YOLO", "/o"), QStringLiteral("/o"));
    QCOMPARE(exportTargetPath("coco", "/o"), QStringLiteral("/o"));
}

void TestExportJob::wholeExportWithImageCopies()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 3);
    const QString out = dir.filePath("out");
    const Outcome o = run(FormatRegistry::instance().find("COCO"), config("COCO", out, false), dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(o.result, QStringLiteral("Exported 3 images → %1").arg(out));
    QCOMPARE(o.calls, sequence(1, 6, 6) + Calls({{6, 6}}));
    // The pictures lie beside the file that names them.
    QCOMPARE(filesBelow(out), (QStringList{"annotations.json", "img0.png", "img1.png", "img2.png"}));
    QCOMPARE(readFile(out + "/img1.png"), readFile(dir.filePath("src/img1.png")));
}

void TestExportJob::wholeExportInMemoryAndCollidingImages()
{
    QTemporaryDir dir;
    Dataset dataset;
    writeImage(dir.filePath("cam1/0001.jpg"), 4, 4, Qt::red);
    writeImage(dir.filePath("cam2/0001.jpg"), 4, 4, Qt::blue);
    dataset.addImage(image(dir.filePath("cam1/0001.jpg"), 4, 4, {box("cat", 0, 0, 1, 1)}));
    dataset.addImage(image(dir.filePath("cam2/0001.jpg"), 4, 4, {box("cat", 1, 1, 1, 1)}));
    ImageEntry frame = image("clip_frame_000003", 6, 5, {box("cat", 2, 2, 1, 1)});
    frame.image = QImage(6, 5, QImage::Format_RGB32);
    frame.image.fill(Qt::green);
    dataset.addImage(frame);
    ImageEntry packed = image("/gone/packed.jpg", 3, 3);
    QBuffer buffer(&packed.imageData);
    buffer.open(QIODevice::WriteOnly);
    QImage(3, 3, QImage::Format_RGB32).save(&buffer, "PNG");
    dataset.addImage(packed);

    const QString out = dir.filePath("out");
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, false), dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(filesBelow(out), (QStringList{"classes.txt", "data.yaml", "images/0001.jpg", "images/0001_2.jpg",
                                           "images/clip_frame_000003.png", "images/packed.jpg", "labels/0001.txt",
                                           "labels/0001_2.txt", "labels/clip_frame_000003.txt", "labels/packed.txt"}));
    // Labels stay with their own pixels.
    QCOMPARE(readFile(out + "/labels/0001_2.txt"), QByteArray("0 0.375 0.375 0.25 0.25\n"));
    QCOMPARE(readFile(out + "/images/0001_2.jpg"), readFile(dir.filePath("cam2/0001.jpg")));
    QCOMPARE(QImage(out + "/images/clip_frame_000003.png").size(), QSize(6, 5));
    QCOMPARE(readFile(out + "/images/packed.jpg"), packed.imageData);
}

void TestExportJob::wholeExportHandlerFailure()
{
    QTemporaryDir dir;
    RecordingHandler handler;
    handler.failAfter = 1;
    Dataset dataset = petDataset(dir.filePath("src"), 2);
    QString error;
    QString result = QStringLiteral("untouched");
    QVERIFY(!runExportJob(&handler, config("Recorder", dir.filePath("out"), false), dataset, 2, false, {}, &error,
                          &result));
    QCOMPARE(error, QStringLiteral("Export failed."));
    QCOMPARE(result, QStringLiteral("untouched"));
    QVERIFY(!QFileInfo::exists(dir.filePath("out/images")));
}

namespace {

// A segmentation dataset whose shapes touch the picture's border: boxes over
// the whole picture and from its corner, polygons with vertices on all four
// edges (the normalised 0 and 1 that keypoint visibilities are made of).
Dataset borderDataset(const QString &folder)
{
    Dataset dataset;
    const QString a = folder + "/a.png";
    const QString b = folder + "/b.png";
    writeImage(a, 200, 100);
    writeImage(b, 64, 64);
    dataset.addImage(image(a, 200, 100,
                           {box("cat", 0, 0, 200, 100), box("dog", 0, 0, 20, 10),
                            polygon("cat", {{0, 0}, {200, 0}, {200, 100}, {0, 100}, {100, 50}}),
                            polygon("dog", {{0, 50}, {100, 0}, {200, 50}, {150, 100}, {50, 100}, {0, 100}, {0, 75}})}));
    // Written as 0 0.5 0 1 0.5 0.5 1 0 1 0 0: the fields where a keypoint line
    // has its visibilities hold 0 and 0.
    dataset.addImage(image(b, 64, 64, {polygon("cat", {{32, 0}, {64, 32}, {32, 64}, {0, 64}, {0, 0}})}));
    return dataset;
}

void compareAnnotations(const QList<Annotation> &actual, const QList<Annotation> &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int j = 0; j < expected.size(); ++j) {
        QCOMPARE(actual.at(j).className, expected.at(j).className);
        QCOMPARE(actual.at(j).kind, expected.at(j).kind);
        QVERIFY(pointsClose(actual.at(j).points, expected.at(j).points, 0.01));
        fuzzyCompareRect(actual.at(j).bbox, expected.at(j).bbox, 0.01);
        QCOMPARE(actual.at(j).keypointVis, expected.at(j).keypointVis);
    }
}

} // namespace

void TestExportJob::yoloWholeExportReadsBackExactly_data()
{
    QTest::addColumn<bool>("yaml");
    QTest::addColumn<bool>("pose");
    QTest::newRow("with data.yaml") << true << false;
    QTest::newRow("without data.yaml") << false << false;
    QTest::newRow("keypoints beside polygons") << true << true;
}

void TestExportJob::yoloWholeExportReadsBackExactly()
{
    QFETCH(bool, yaml);
    QFETCH(bool, pose);
    QTemporaryDir dir;
    Dataset dataset = borderDataset(dir.filePath("src"));
    if (pose) {
        dataset.images[1].labels.append(keypoints("person", {0, 0, 64, 40}, {{0, 0}, {64, 0}, {32, 40}}, {2, 1, 0}));
    }
    const QString out = dir.filePath("out");
    ExportConfig c = config("YOLO", out, false);
    c.generateYaml = yaml;
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), c, dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(o.result, QStringLiteral("Exported 2 images → %1").arg(out));
    QVERIFY(risesTo(o.calls, 2));
    QStringList expected{"classes.txt", "images/a.png", "images/b.png", "labels/a.txt", "labels/b.txt"};
    if (yaml)
        expected.insert(1, "data.yaml");
    QCOMPARE(filesBelow(out), expected);
    if (yaml) {
        // No "path": the folders are relative to the data.yaml.
        QCOMPARE(readFile(out + "/data.yaml"),
                 QStringLiteral("# Dataset root: the folder of this file. The folders below are relative to it.\n"
                                "train: images\nval: images\n\n%1nc: %2\nnames: [%3]\n")
                     .arg(pose ? "kpt_shape: [3, 3]\nflip_idx: [0, 1, 2]\n" : "", pose ? "3" : "2",
                          pose ? "'cat', 'dog', 'person'" : "'cat', 'dog'")
                     .toUtf8());
    }
    QCOMPARE(readFile(out + "/images/b.png"), readFile(dir.filePath("src/b.png")));

    YoloHandler handler;
    QVERIFY(handler.canImport(out));
    Dataset back;
    QVERIFY(handler.importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(QFileInfo(back.images.at(i).filePath).fileName(), QFileInfo(dataset.images.at(i).filePath).fileName());
        // The boxes, written as their four corners beside the polygons, come
        // back as boxes.
        compareAnnotations(back.images.at(i).labels, dataset.images.at(i).labels);
    }
}

void TestExportJob::yoloFamilyWritesAndDetectsItsOwnLayout_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    for (const char *name : {"YOLO", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv5 PyTorch", "YOLOv7 PyTorch", "YOLOv8",
                             "YOLOv9", "YOLOv11", "YOLOv12"}) {
        QTest::addRow("%s split", name) << QString::fromLatin1(name) << true;
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << false;
    }
}

void TestExportJob::yoloFamilyWritesAndDetectsItsOwnLayout()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 10);
    const QString out = dir.filePath("out");
    const Outcome o = run(handler, config(format, out, split), dataset);
    QVERIFY2(o.ok, qPrintable(o.error));

    const QStringList files = filesBelow(out);
    const QString set = split ? "valid/" : format == "YOLOv4 Scaled" ? "train/" : "";
    const QString image = split ? "img8" : "img3";
    QVERIFY2(files.contains(set + "labels/" + image + ".txt"), qPrintable(files.join(' ')));
    QVERIFY2(files.contains(set + "images/" + image + ".png"), qPrintable(files.join(' ')));
    QVERIFY(files.contains("classes.txt"));
    const QByteArray yaml = readFile(out + "/data.yaml");
    QCOMPARE(yaml.contains("\nroboflow:\n  project: out\n"), format != "YOLO" && format != "YOLOv4 Scaled");

    QVERIFY2(handler->canImport(out), "the format detects its own output");
    Dataset back;
    QVERIFY(handler->importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 10);
    for (const ImageEntry &e : std::as_const(back.images)) {
        QVERIFY2(e.filePath.endsWith(".png"), qPrintable(e.filePath));
        QCOMPARE(e.labels.size(), 1);
        fuzzyCompareRect(e.labels.first().bbox, QRectF(0, 0, 5, 5));
    }
}

void TestExportJob::missingPixelsFailTheExport_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    QTest::newRow("YOLO") << "YOLO" << false;
    QTest::newRow("YOLO split") << "YOLO" << true;
    QTest::newRow("COCO") << "COCO" << false;
    QTest::newRow("Pascal VOC split") << "Pascal VOC" << true;
    QTest::newRow("Multiclass, writing its own images") << "Multiclass" << false;
    QTest::newRow("YOLOv8 OBB split, writing its own images") << "YOLOv8 OBB" << true;
}

void TestExportJob::missingPixelsFailTheExport()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QTemporaryDir dir;
    Dataset dataset = petDataset(dir.filePath("src"), 3);
    dataset.addImage(image(dir.filePath("gone/missing.jpg"), 10, 10, {box("cat", 0, 0, 1, 1)}));
    const QString out = dir.filePath("out");
    const bool ownImages = formatWritesOwnImages(format);
    Outcome o = run(FormatRegistry::instance().find(format), config(format, out, split), dataset, ownImages);
    QVERIFY(!o.ok);
    QCOMPARE(o.error, QStringLiteral("Export failed: the image %1 cannot be found.")
                          .arg(QDir::toNativeSeparators(dir.filePath("gone/missing.jpg"))));
    QVERIFY(o.result.isEmpty());
    QCOMPARE(filesBelow(out), QStringList()); // nothing half-written

    // Several are counted and the first ones named.
    for (int i = 0; i < 6; ++i)
        dataset.addImage(image(QStringLiteral("/gone/%1.jpg").arg(i), 10, 10));
    o = run(FormatRegistry::instance().find(format), config(format, out, split), dataset, ownImages);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.startsWith("Export failed: 7 images cannot be found:\n"), qPrintable(o.error));
    QCOMPARE(o.error.count('\n'), 6);

    // Without image copies the labels need no pixels.
    if (ownImages)
        return;
    ExportConfig labelsOnly = config(format, out, split);
    labelsOnly.copyImages = false;
    o = run(FormatRegistry::instance().find(format), labelsOnly, dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
}

void TestExportJob::earlierExportIsReplacedNotMixedIn()
{
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    Dataset first;
    Dataset second;
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("img%1.png").arg(i);
        writeImage(dir.filePath("old/" + name), 10, 10, Qt::red);
        writeImage(dir.filePath("new/" + name), 20, 20, Qt::blue);
        first.addImage(image(dir.filePath("old/" + name), 10, 10, {box("cat", 0, 0, 5, 5)}));
        second.addImage(image(dir.filePath("new/" + name), 20, 20, {box("cat", 0, 0, 5, 5)}));
    }
    for (const QString &format : {QStringLiteral("YOLO"), QStringLiteral("Pascal VOC")}) {
        ExportConfig c = config(format, out + "/" + format, true);
        c.trainPct = 50;
        c.validPct = 50;
        QVERIFY(run(FormatRegistry::instance().find(format), c, first).ok);
        QVERIFY(run(FormatRegistry::instance().find(format), c, second).ok);
        // Every picture is the new one, beside labels made for its size.
        const QString train = out + "/" + format + "/train";
        const QString picture = format == "YOLO" ? train + "/images/img1.png" : train + "/img1.png";
        QCOMPARE(readFile(picture), readFile(dir.filePath("new/img1.png")));
        if (format == "YOLO")
            QCOMPARE(readFile(train + "/labels/img1.txt"), QByteArray("0 0.125 0.125 0.25 0.25\n"));
        else
            QVERIFY(readFile(train + "/img1.xml").contains("<width>20</width>"));
        QVERIFY(!filesBelow(out).join(' ').contains(".qmtmp"));
    }
}

void TestExportJob::unfinishedExportIsClearedByTheNext_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("pictures"); // where a split folder's pictures lie
    QTest::addColumn<QString>("blocker");  // a folder where the export writes late
    QTest::newRow("YOLOv8") << "YOLOv8" << "/images" << "classes.txt";
    QTest::newRow("Pascal VOC") << "Pascal VOC" << "" << "train/img5.xml";
    QTest::newRow("LabelMe") << "LabelMe" << "" << "train/img5.json";
    QTest::newRow("COCO") << "COCO" << "" << "train/annotations.json";
}

// An export that ends before it is complete (here it fails late; a kill is
// the same) put pictures and annotation files into folders the next export,
// split otherwise, does not write: they go, with the temporaries and the
// cut-off picture a kill leaves, and every file of the user's stays.
void TestExportJob::unfinishedExportIsClearedByTheNext()
{
    QFETCH(QString, format);
    QFETCH(QString, pictures);
    QFETCH(QString, blocker);
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const Dataset dataset = petDataset(dir.filePath("src"), 6);
    const QString train = out + "/train" + pictures;
    writeImage(train + "/mine.png", 4, 4, Qt::green);
    QVERIFY(writeFile(out + "/train/notes.txt", "the user's"));
    QVERIFY(writeFile(out + "/train/img7.xml", "the user's"));
    QVERIFY(QDir().mkpath(out + "/" + blocker));
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    ExportConfig c = config(format, out, true);
    c.trainPct = 100;
    c.validPct = 0;
    QVERIFY(!run(handler, c, dataset).ok);
    QVERIFY(QFileInfo::exists(out + "/" + ExportJournal::fileName()));
    // What a kill during the copies leaves: a cut-off picture, a temporary.
    QVERIFY(QFile::resize(train + "/img3.png", 20));
    QVERIFY(writeFile(train + "/img4.png" + ".qmtmp", "cut"));
    // A journal is read as hostile: nothing outside the folder is touched.
    QVERIFY(QFile::link(dir.filePath("src"), out + "/link"));
    QFile journal(out + "/" + ExportJournal::fileName());
    QVERIFY(journal.open(QIODevice::Append));
    journal.write("../src/img0.png\nlink/img1.png\n" + dir.filePath("src/img2.png").toUtf8() + "\nlink\n");
    journal.close();
    QVERIFY(QDir().rmdir(out + "/" + blocker));

    c.trainPct = 50;
    c.validPct = 50;
    const Outcome second = run(handler, c, dataset);
    QVERIFY2(second.ok, qPrintable(second.error));
    const QStringList files = filesBelow(out);
    for (const QString &file : files) {
        QVERIFY2(!file.startsWith("train/") || !QRegularExpression("img[345]\\.").match(file).hasMatch(),
                 qPrintable(file + " of the unfinished export stayed"));
        QVERIFY2(!file.endsWith(".qmtmp"), qPrintable(file));
    }
    QVERIFY(!QFileInfo::exists(out + "/" + ExportJournal::fileName()));
    for (int i = 0; i < 6; ++i) {
        const QString folder = out + (i < 3 ? "/train" : "/valid") + pictures;
        QCOMPARE(readFile(QStringLiteral("%1/img%2.png").arg(folder).arg(i)),
                 readFile(dataset.images.at(i).filePath));
    }
    QVERIFY(QFileInfo::exists(train + "/mine.png"));
    QCOMPARE(readFile(out + "/train/notes.txt"), QByteArray("the user's"));
    QCOMPARE(readFile(out + "/train/img7.xml"), QByteArray("the user's"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(QFileInfo::exists(dataset.images.at(i).filePath));
    QVERIFY(QFileInfo(out + "/link").isSymLink());
}

void TestExportJob::sourceInsideTheOutputIsKept()
{
    // Exporting into the folder the pictures come from: the copy lands on the
    // picture itself (under its own name or another spelling of its path),
    // which must survive whole.
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    Dataset dataset;
    for (int i = 0; i < 2; ++i) {
        const QString path = QStringLiteral("%1/images/p%2.png").arg(out).arg(i);
        writeImage(path, 30, 20, i ? Qt::green : Qt::blue);
        dataset.addImage(image(path, 30, 20, {box("cat", 1, 1, 5, 5)}));
    }
    dataset.images[1].filePath = out + "/images/../images/p1.png";
    const QByteArray first = readFile(out + "/images/p0.png");
    const QByteArray second = readFile(out + "/images/p1.png");
    for (const QString &format : {QStringLiteral("YOLO"), QStringLiteral("COCO")}) {
        const Outcome o = run(FormatRegistry::instance().find(format), config(format, out, false), dataset);
        QVERIFY2(o.ok, qPrintable(o.error));
        QCOMPARE(readFile(out + "/images/p0.png"), first);
        QCOMPARE(readFile(out + "/images/p1.png"), second);
    }
    // An export that stops on the way leaves its journal; the pictures it
    // found in place are not among its files for the next export to clear.
    QVERIFY(QFile::remove(out + "/classes.txt") && QDir().mkpath(out + "/classes.txt"));
    QVERIFY(!run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, false), dataset).ok);
    QVERIFY(QFileInfo::exists(out + "/" + ExportJournal::fileName()));
    QVERIFY(QDir().rmdir(out + "/classes.txt"));
    QVERIFY(run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, false), dataset).ok);
    QCOMPARE(readFile(out + "/images/p0.png"), first);
    QCOMPARE(readFile(out + "/images/p1.png"), second);
}

void TestExportJob::unknownSizesAreMeasured()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("src/wide.png");
    QVERIFY(writeImage(path, 200, 100));
    Dataset dataset;
    dataset.addImage(image(path, 0, 0, {box("cat", 30, 40, 40, 20), polygon("cat", {{0, 0}, {200, 0}, {100, 100}})}));
    ImageEntry frame = image("frame_000001", 0, 0, {box("cat", 0, 0, 8, 4)});
    frame.image = QImage(16, 8, QImage::Format_RGB32);
    frame.image.fill(Qt::white);
    dataset.addImage(frame);
    const QString out = dir.filePath("out");
    QVERIFY(run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, false), dataset).ok);
    // The box beside a polygon is written as its four corners, and so is
    // every box of the dataset that holds it, normalised by the size measured.
    QCOMPARE(readFile(out + "/labels/wide.txt"),
             QByteArray("0 0.15 0.4 0.35 0.4 0.35 0.6 0.15 0.6\n0 0.0 0.0 1.0 0.0 0.5 1.0\n"));
    QCOMPARE(readFile(out + "/labels/frame_000001.txt"), QByteArray("0 0.0 0.0 0.5 0.0 0.5 0.5 0.0 0.5\n"));

    QVERIFY(run(FormatRegistry::instance().find("COCO"), config("COCO", dir.filePath("coco"), false), dataset).ok);
    const QJsonArray images =
        QJsonDocument::fromJson(readFile(dir.filePath("coco/annotations.json")))["images"].toArray();
    QCOMPARE(images.at(0)["width"].toInt(), 200);
    QCOMPARE(images.at(1)["height"].toInt(), 8);
    QCOMPARE(dataset.images.at(0).width, 0); // the caller's dataset is not changed
}

void TestExportJob::packageImagesAreExported()
{
    // A project opened from a package stored away from its images: the
    // pictures come out of the package as they were stored.
    QTemporaryDir dir;
    const Dataset source = petDataset(dir.filePath("src"), 3);
    const QString package = dir.filePath("elsewhere/set.qmpkg");
    QDir().mkpath(dir.filePath("elsewhere"));
    QVERIFY(QpkgHandler::writePackage(package, source, {}, {}));
    QDir(dir.filePath("src")).removeRecursively();
    Dataset opened;
    QVERIFY(QpkgHandler().importDataset(package, opened, {}));
    QVERIFY(opened.images.at(0).storedBytes);

    const QString out = dir.filePath("out");
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, true), opened);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(readFile(out + "/train/images/img0.png"), opened.images.at(0).encodedBytes());
    QCOMPARE(QImage(out + "/valid/images/img2.png").size(), QSize(10, 10));

    // The package gone: those images fail the export by name.
    QVERIFY(QFile::remove(package));
    const Outcome gone = run(FormatRegistry::instance().find("COCO"), config("COCO", dir.filePath("x"), false), opened);
    QVERIFY(!gone.ok);
    QVERIFY2(gone.error.contains("img0.png"), qPrintable(gone.error));
}

void TestExportJob::splitOneFileFormatsWriteInsideTheirFolders()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 10);
    const QString out = dir.filePath("out");
    QVERIFY(run(FormatRegistry::instance().find("COCO"), config("COCO", out, true), dataset).ok);
    for (const char *split : {"train", "valid", "test"}) {
        const QString file = QStringLiteral("%1/%2/annotations.json").arg(out, QLatin1String(split));
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
    }
    const QJsonObject valid = QJsonDocument::fromJson(readFile(out + "/valid/annotations.json")).object();
    QCOMPARE(valid["images"].toArray().size(), 2);
    QVERIFY(QFileInfo(out + "/valid/img7.png").isFile());
}

void TestExportJob::handlerWritingImagesGetsNoCopies()
{
    QTemporaryDir dir;
    RecordingHandler handler;
    const Dataset dataset = petDataset(dir.filePath("src"), 3);
    Outcome o = run(&handler, config("Recorder", dir.filePath("whole"), false), dataset, true);
    QVERIFY(o.ok);
    QCOMPARE(o.calls, sequence(1, 3, 3) + Calls({{3, 3}}));
    QVERIFY(!QFileInfo::exists(dir.filePath("whole/images")));
    ExportConfig c = config("Recorder", dir.filePath("split"), true);
    o = run(&handler, c, dataset, true);
    QVERIFY(o.ok);
    QCOMPARE(filesBelow(dir.filePath("split")), QStringList());
    // embedBase64 also means the images travel inside the files.
    c = config("Recorder", dir.filePath("embedded"), false);
    c.embedBase64 = true;
    o = run(&handler, c, dataset);
    QCOMPARE(o.calls.last(), (QPair<int, int>{3, 3}));
    QVERIFY(!QFileInfo::exists(dir.filePath("embedded/images")));
}

void TestExportJob::yoloSplitLayout()
{
    QTemporaryDir dir;
    Dataset dataset = petDataset(dir.filePath("src"), 10);
    const QString out = dir.filePath("out");
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, true), dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(o.result, QStringLiteral("Exported 10 images  (train 7 / valid 2 / test 1)  → %1").arg(out));
    QVERIFY(risesTo(o.calls, 10));
    QCOMPARE(readFile(out + "/classes.txt"), QByteArray("cat\ndog\n"));
    QCOMPARE(readFile(out + "/data.yaml"),
             QByteArray("# Dataset root: the folder of this file. The folders below are relative to it.\ntrain: train/images\nval: valid/images\ntest: test/images\n\n"
                        "nc: 2\nnames: ['cat', 'dog']\n"));
    QStringList expected{"classes.txt", "data.yaml"};
    for (int i = 0; i < 10; ++i) {
        const QString split = i < 7 ? "train" : i < 9 ? "valid" : "test";
        expected << QStringLiteral("%1/images/img%2.png").arg(split).arg(i)
                 << QStringLiteral("%1/labels/img%2.txt").arg(split).arg(i);
    }
    expected.sort();
    QCOMPARE(filesBelow(out), expected);
    QCOMPARE(readFile(out + "/valid/labels/img7.txt"), QByteArray("1 0.25 0.25 0.5 0.5\n"));

    ExportConfig noYaml = config("YOLO", dir.filePath("noyaml"), true);
    noYaml.generateYaml = false;
    noYaml.copyImages = false;
    QVERIFY(run(FormatRegistry::instance().find("YOLO"), noYaml, dataset).ok);
    QVERIFY(!QFileInfo::exists(dir.filePath("noyaml/data.yaml")));
    QVERIFY(!QFileInfo::exists(dir.filePath("noyaml/train/images")));
    QVERIFY(QFileInfo::exists(dir.filePath("noyaml/classes.txt")));
}

void TestExportJob::yoloSplitRoundTripsKeypointsAndPolygons()
{
    QTemporaryDir dir;
    Dataset dataset;
    const QList<QPointF> pose = {{10, 10}, {20, 20}, {30, 30}};
    // A second skeleton of five points in every other image: kpt_shape names
    // the larger set, and the smaller one must still come back as keypoints.
    const QList<QPointF> hand = {{60, 60}, {62, 64}, {66, 70}, {70, 72}, {75, 80}};
    for (int i = 0; i < 4; ++i) {
        const QString path = dir.filePath(QStringLiteral("src/p%1.png").arg(i));
        writeImage(path, 100, 100);
        QList<Annotation> labels = {keypoints("person", {5, 5, 40, 40}, pose, {2, 1, 0}),
                                    polygon("shape", ring(5, 50, 50, 20))};
        if (i % 2)
            labels.append(keypoints("hand", {60, 60, 15, 20}, hand, {2, 2, 1, 2, 0}));
        dataset.addImage(image(path, 100, 100, labels));
    }
    const QString out = dir.filePath("out");
    ExportConfig c = config("YOLO", out, true);
    c.trainPct = 100;   // keep dataset order in one subset
    QVERIFY(run(FormatRegistry::instance().find("YOLO"), c, dataset).ok);
    QVERIFY(readFile(out + "/data.yaml").contains("\nkpt_shape: [5, 3]\nflip_idx: [0, 1, 2, 3, 4]\nnc: 3\n"));
    Dataset back;
    QVERIFY(YoloHandler().importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const ImageEntry &e = back.images.at(i);
        QCOMPARE(e.labels.size(), i % 2 ? 3 : 2);
        QCOMPARE(e.labels.at(0).kind, int(Keypoint));
        QCOMPARE(e.labels.at(0).keypointVis, (QList<int>{2, 1, 0}));
        QVERIFY(pointsClose(e.labels.at(0).points, pose, 0.01));
        QCOMPARE(e.labels.at(1).kind, int(Polygon));
        QCOMPARE(e.labels.at(1).points.size(), 5);
        if (i % 2) {
            QCOMPARE(e.labels.at(2).kind, int(Keypoint));
            QCOMPARE(e.labels.at(2).keypointVis, (QList<int>{2, 2, 1, 2, 0}));
            QVERIFY(pointsClose(e.labels.at(2).points, hand, 0.01));
        }
    }
}

void TestExportJob::yoloSplitCollisionsAndInMemoryPixels()
{
    QTemporaryDir dir;
    Dataset dataset;
    writeImage(dir.filePath("cam1/0001.jpg"), 4, 4, Qt::red);
    writeImage(dir.filePath("cam2/0001.jpg"), 4, 4, Qt::blue);
    dataset.addImage(image(dir.filePath("cam1/0001.jpg"), 4, 4, {box("cat", 0, 0, 1, 1)}));
    dataset.addImage(image(dir.filePath("cam2/0001.jpg"), 4, 4, {box("cat", 1, 1, 1, 1)}));
    ImageEntry frame = image("clip_frame_000007.jpg", 8, 8, {box("cat", 2, 2, 2, 2)});
    frame.image = QImage(8, 8, QImage::Format_RGB32);
    frame.image.fill(Qt::white);
    dataset.addImage(frame);
    ExportConfig c = config("YOLO", dir.filePath("out"), true);
    c.trainPct = 100;
    c.validPct = 0;
    QVERIFY(run(FormatRegistry::instance().find("YOLO"), c, dataset).ok);
    const QString train = dir.filePath("out/train");
    QCOMPARE(filesBelow(train), (QStringList{"images/0001.jpg", "images/0001_2.jpg", "images/clip_frame_000007.jpg",
                                             "labels/0001.txt", "labels/0001_2.txt", "labels/clip_frame_000007.txt"}));
    QCOMPARE(readFile(train + "/images/0001_2.jpg"), readFile(dir.filePath("cam2/0001.jpg")));
    QCOMPARE(readFile(train + "/labels/0001_2.txt"), QByteArray("0 0.375 0.375 0.25 0.25\n"));
    QCOMPARE(QImage(train + "/images/clip_frame_000007.jpg").size(), QSize(8, 8));
}

void TestExportJob::emptyYoloSplit()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("cat", QColor());
    const QString out = dir.filePath("out");
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", out, true), dataset);
    QVERIFY(o.ok);
    QCOMPARE(o.result, QStringLiteral("Exported 0 images  (train 0 / valid 0 / test 0)  → %1").arg(out));
    QCOMPARE(filesBelow(out), (QStringList{"classes.txt", "data.yaml"}));
    QCOMPARE(o.calls, (Calls{{0, 0}}));
}

// A trainer stops at a folder data.yaml names that is not there: subsets the
// split left empty are not named, and an empty valid is validated on train.
void TestExportJob::yoloSplitYamlNamesOnlyWrittenFolders()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 3);
    const QString out = dir.filePath("out");
    ExportConfig c = config("YOLO", out, true);
    c.trainPct = 100;
    c.validPct = 0;
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), c, dataset);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(readFile(out + "/data.yaml"),
             QByteArray("# Dataset root: the folder of this file. The folders below are relative to it.\ntrain: train/images\nval: train/images\n\nnc: 2\nnames: ['cat', 'dog']\n"));
    QVERIFY(QFileInfo(out + "/train/images").isDir());
}

void TestExportJob::splitPartitions()
{
    QTemporaryDir dir;
    RecordingHandler handler;
    const Dataset dataset = petDataset(dir.filePath("src"), 5);
    const QString out = dir.filePath("out");
    ExportConfig c = config("Recorder", out, true);
    const Outcome o = run(&handler, c, dataset);
    QVERIFY(o.ok);
    QCOMPARE(o.result, QStringLiteral("Exported 5 images  (train 4 / valid 1 / test 0)  → %1").arg(out));
    QCOMPARE(handler.paths, (QStringList{out + "/train", out + "/valid"}));
    QCOMPARE(handler.imageLists,
             (QList<QStringList>{{"img0.png", "img1.png", "img2.png", "img3.png"}, {"img4.png"}}));
    // Each subset's pictures as they are copied, before the handler writes
    // the files that name them; every count once, then the end.
    QCOMPARE(o.calls, (Calls{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {5, 5}}));
}

void TestExportJob::shuffledSplitIsAPartition()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 30);
    QSet<QString> orders;
    for (int attempt = 0; attempt < 3; ++attempt) {
        RecordingHandler handler;
        ExportConfig c = config("Recorder", dir.filePath(QStringLiteral("out%1").arg(attempt)), true);
        c.shuffle = true;
        c.copyImages = false;
        QVERIFY(run(&handler, c, dataset).ok);
        QCOMPARE(handler.imageLists.size(), 3);
        QCOMPARE(handler.imageLists.at(0).size(), 21);
        QCOMPARE(handler.imageLists.at(1).size(), 6);
        QCOMPARE(handler.imageLists.at(2).size(), 3);
        const QStringList all = handler.imageLists.at(0) + handler.imageLists.at(1) + handler.imageLists.at(2);
        QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), 30);
        orders.insert(all.join(','));
    }
    QVERIFY2(orders.size() > 1, "every export draws a new order");
}

void TestExportJob::handlerSplitGivesEverySubsetTheClassList()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("cat", QColor());
    dataset.addClass("dog", QColor());
    for (int i = 0; i < 10; ++i)
        dataset.addImage(image(QStringLiteral("/x/%1.jpg").arg(i), 10, 10,
                               {box(i < 7 ? "cat" : "zebra", 0, 0, 1, 1)}));
    RecordingHandler handler;
    ExportConfig c = config("Recorder", dir.path(), true);
    c.copyImages = false;
    QVERIFY(run(&handler, c, dataset).ok);
    QCOMPARE(handler.classLists.size(), 3);
    for (const QStringList &names : handler.classLists)
        QCOMPARE(names, handler.classLists.first());
    QVERIFY(handler.classLists.first().contains("dog"));
    QVERIFY(handler.classLists.first().contains("zebra"));
}

void TestExportJob::handlerSplitCopiesImagesUnderUniqueNames()
{
    QTemporaryDir dir;
    Dataset dataset;
    writeImage(dir.filePath("a/x.png"), 4, 4, Qt::red);
    writeImage(dir.filePath("b/x.png"), 4, 4, Qt::blue);
    dataset.addImage(image(dir.filePath("a/x.png"), 4, 4, {box("cat", 0, 0, 1, 1)}));
    dataset.addImage(image(dir.filePath("b/x.png"), 4, 4, {box("cat", 0, 0, 2, 2)}));
    ExportConfig c = config("Pascal VOC", dir.filePath("out"), true);
    c.trainPct = 100;
    QVERIFY(run(FormatRegistry::instance().find("Pascal VOC"), c, dataset).ok);
    const QString train = dir.filePath("out/train");
    QCOMPARE(filesBelow(train), (QStringList{"x.png", "x.xml", "x_2.png", "x_2.xml"}));
    QCOMPARE(readFile(train + "/x_2.png"), readFile(dir.filePath("b/x.png")));
    QVERIFY(readFile(train + "/x_2.xml").contains("<filename>x_2.png</filename>"));
    QVERIFY(readFile(train + "/x_2.xml").contains("<xmax>2</xmax>"));
}

void TestExportJob::splitFailuresNameTheSubset()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 10);
    RecordingHandler handler;
    handler.failAfter = 2;
    Outcome o = run(&handler, config("Recorder", dir.filePath("a"), true), dataset);
    QVERIFY(!o.ok);
    QCOMPARE(o.error, QStringLiteral("Export failed for the valid subset."));
    QVERIFY(o.result.isEmpty());

    // A folder where a YOLO label file should go.
    QVERIFY(QDir().mkpath(dir.filePath("b/test/labels/img9.txt")));
    o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("b"), true), dataset);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.startsWith("Export failed for the test subset: could not write "), qPrintable(o.error));
    QVERIFY(o.error.contains("img9.txt"));

    // A folder where an image copy should go: the copies, made beside the
    // label files, stop the export at that image; no later subset is begun and
    // no temporary file stays behind.
    QVERIFY(QDir().mkpath(dir.filePath("e/train/images/img3.png/x")));
    o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("e"), true), dataset);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.startsWith("Export failed for the train subset: could not write "), qPrintable(o.error));
    QVERIFY2(o.error.endsWith("img3.png."), qPrintable(o.error));
    QVERIFY(!QFileInfo::exists(dir.filePath("e/valid")));
    for (const QString &file : filesBelow(dir.filePath("e")))
        QVERIFY2(!file.endsWith(".qmtmp"), qPrintable(file));

    // A file where a subset folder should go.
    QVERIFY(writeFile(dir.filePath("c/train"), "x"));
    o = run(FormatRegistry::instance().find("Pascal VOC"), config("Pascal VOC", dir.filePath("c"), true), dataset);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.startsWith("Export failed for the train subset"), qPrintable(o.error));

    // classes.txt cannot be written.
    QVERIFY(QDir().mkpath(dir.filePath("d/classes.txt")));
    o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("d"), true), dataset);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.contains("classes.txt"), qPrintable(o.error));
}

void TestExportJob::outputFolderCannotBeCreated()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    const Dataset dataset = petDataset(dir.filePath("src"), 2);
    for (bool split : {false, true}) {
        const Outcome o =
            run(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("file/out"), split), dataset);
        QVERIFY(!o.ok);
        QVERIFY2(o.error.startsWith("Export failed: could not create the folder"), qPrintable(o.error));
    }
    // No output path: nothing is written to the working folder or the root.
    for (const QString &format : {QStringLiteral("COCO"), QStringLiteral("YOLO")}) {
        for (bool split : {false, true}) {
            QString error;
            QString result;
            QVERIFY(!runExportJob(FormatRegistry::instance().find(format), config(format, "  ", split), dataset, 2,
                                  false, {}, &error, &result));
            QCOMPARE(error, QStringLiteral("No output path selected."));
            QVERIFY(result.isEmpty());
        }
    }
    // The images folder is blocked: the copies cannot be written.
    QVERIFY(writeFile(dir.filePath("out/images"), "x"));
    const Outcome o = run(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("out"), false), dataset);
    QVERIFY(!o.ok);
}

void TestExportJob::emptyProgressCallback()
{
    QTemporaryDir dir;
    const Dataset dataset = petDataset(dir.filePath("src"), 3);
    QString error;
    QString result;
    QVERIFY(runExportJob(FormatRegistry::instance().find("YOLO"), config("YOLO", dir.filePath("out"), true), dataset,
                         3, false, ProgressCallback(), &error, &result));
    QVERIFY(result.startsWith("Exported 3 images"));
    QVERIFY(!runExportJob(nullptr, config("YOLO", dir.filePath("x"), true), dataset, 3, false, {}, &error, &result));
}

// A picture is told from its head as it is copied. An entry whose file is
// none is left out whole, and the pictures named after it take the names
// they have without it: the annotations name exactly the files written.
void TestExportJob::noPictureFoundWhileCopying()
{
    QTemporaryDir dir;
    Dataset dataset;
    QVERIFY(writeFile(dir.filePath("a/shot.png"), "no picture at all"));
    QVERIFY(writeImage(dir.filePath("b/shot.png"), 7, 5, Qt::green));
    QVERIFY(writeImage(dir.filePath("c/shot.png"), 9, 5, Qt::blue));
    for (const char *folder : {"a", "b", "c"})
        dataset.addImage(image(dir.filePath(QStringLiteral("%1/shot.png").arg(folder)), 7, 5, {box("cat", 0, 0, 3, 3)}));
    for (const bool split : {false, true}) {
        const QString out = dir.filePath(split ? "split" : "whole");
        ExportConfig c = config(split ? "Pascal VOC" : "COCO", out, split);
        c.shuffle = false;
        c.trainPct = 100;
        c.validPct = 0;
        const Outcome o = run(FormatRegistry::instance().find(c.format), c, dataset);
        QVERIFY2(o.ok, qPrintable(o.error));
        QVERIFY2(o.result.contains("1 entry is no picture and was left out: " +
                                   QDir::toNativeSeparators(dir.filePath("a/shot.png"))),
                 qPrintable(o.result));
        const QString folder = split ? out + "/train" : out;
        QCOMPARE(readFile(folder + "/shot.png"), readFile(dir.filePath("b/shot.png")));
        QCOMPARE(readFile(folder + "/shot_2.png"), readFile(dir.filePath("c/shot.png")));
        QVERIFY(!QFileInfo::exists(folder + "/shot_3.png"));
        if (split) {
            QCOMPARE(o.result.section('\n', 0, 0),
                     QStringLiteral("Exported 2 images  (train 2 / valid 0 / test 0)  → %1").arg(out));
            QCOMPARE(filesBelow(folder), (QStringList{"shot.png", "shot.xml", "shot_2.png", "shot_2.xml"}));
            continue;
        }
        QCOMPARE(o.result.section('\n', 0, 0), QStringLiteral("Exported 2 images → %1").arg(out));
        QStringList named;
        for (const QJsonValue &entry : QJsonDocument::fromJson(readFile(out + "/annotations.json"))["images"].toArray())
            named.append(entry["file_name"].toString());
        QCOMPARE(named, (QStringList{"shot.png", "shot_2.png"}));
        QCOMPARE(filesBelow(out), (QStringList{"annotations.json", "shot.png", "shot_2.png"}));
    }
}

QM_TEST_MAIN(TestExportJob)
#include "tst_exportjob.moc"
