#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"

using namespace Quillmark;
using namespace FormatTest;

// The formats whose handlers write the image files themselves, through the
// export job: the job copies none, and every image lands once, beside its
// labels, under its unique export name.
class TestOwnImageWriters : public QObject {
    Q_OBJECT
private slots:
    void writersAreNamed();
    void wholeExport_data();
    void wholeExport();
    void splitExport();
};

namespace {

const QStringList kOwnImageWriters = {"CLIP", "Multiclass", "YOLOv5 OBB", "YOLOv6 MT", "YOLOv8 OBB", "YOLO Pose"};

// Two images named frame.png in different folders, with a box and a keypoint set each.
Dataset sameNamedImages(const QString &folder)
{
    Dataset dataset;
    for (const char *sub : {"a", "b"}) {
        const QString path = QStringLiteral("%1/%2/frame.png").arg(folder, QLatin1String(sub));
        writeImage(path, 40, 30, sub == QLatin1String("a") ? Qt::red : Qt::blue);
        dataset.addImage(image(
            path, 40, 30, {box("cat", 0, 0, 10, 10), keypoints("cat", {5, 5, 20, 20}, {{6, 6}, {20, 20}}, {2, 2})}));
    }
    return dataset;
}

ExportConfig config(const QString &format, const QString &output, bool split)
{
    ExportConfig c;
    c.format = format;
    c.outputPath = output;
    c.split = split;
    c.trainPct = 50;
    c.validPct = 50;
    c.shuffle = false;
    return c;
}

} // namespace

void TestOwnImageWriters::writersAreNamed()
{
    for (IFormatHandler *handler : FormatRegistry::instance().handlers())
        QCOMPARE(formatWritesOwnImages(handler->name()), kOwnImageWriters.contains(handler->name()));
    QVERIFY(formatWritesOwnImages("CLIP"));
    QVERIFY(!formatWritesOwnImages("clip"));
}

void TestOwnImageWriters::wholeExport_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("images"); // the image files written, relative to the output folder
    QTest::newRow("Multiclass") << "Multiclass" << QStringList{"frame.png", "frame_2.png"};
    QTest::newRow("YOLOv5 OBB") << "YOLOv5 OBB" << QStringList{"train/images/frame.png", "train/images/frame_2.png"};
    QTest::newRow("YOLOv6 MT") << "YOLOv6 MT" << QStringList{"images/train/frame.png", "images/train/frame_2.png"};
    QTest::newRow("YOLOv8 OBB") << "YOLOv8 OBB" << QStringList{"train/images/frame.png", "train/images/frame_2.png"};
    QTest::newRow("YOLO Pose") << "YOLO Pose" << QStringList{"images/frame.png", "images/frame_2.png"};
}

void TestOwnImageWriters::wholeExport()
{
    QFETCH(QString, format);
    QFETCH(QStringList, images);
    QTemporaryDir dir;
    const Dataset dataset = sameNamedImages(dir.filePath("src"));
    const QString out = dir.filePath("out");
    QString error;
    QString result;
    int lastTotal = 0;
    QVERIFY2(runExportJob(
                 FormatRegistry::instance().find(format), config(format, out, false), dataset, 2,
                 formatWritesOwnImages(format), [&](int, int total) { lastTotal = total; }, &error, &result),
             qPrintable(error));
    QCOMPARE(lastTotal, 2); // no copying pass of the job's own
    QStringList written;
    for (const QString &file : filesBelow(out)) {
        if (file.endsWith(".png"))
            written.append(file);
    }
    QCOMPARE(written, images);
    QCOMPARE(readFile(out + "/" + images.at(1)), readFile(dataset.images.at(1).filePath));
}

void TestOwnImageWriters::splitExport()
{
    QTemporaryDir dir;
    const Dataset dataset = sameNamedImages(dir.filePath("src"));
    const QString out = dir.filePath("out");
    QString error;
    QString result;
    QVERIFY2(runExportJob(FormatRegistry::instance().find("YOLOv8 OBB"), config("YOLOv8 OBB", out, true), dataset, 2,
                          true, {}, &error, &result),
             qPrintable(error));
    // One dataset: the subsets side by side under one data.yaml.
    QCOMPARE(filesBelow(out), (QStringList{"data.yaml", "train/images/frame.png", "train/labels/frame.txt",
                                           "valid/images/frame.png", "valid/labels/frame.txt"}));
    QCOMPARE(readFile(out + "/valid/images/frame.png"), readFile(dataset.images.at(1).filePath));
}

QM_TEST_MAIN(TestOwnImageWriters)
#include "tst_ownimagewriters.moc"
