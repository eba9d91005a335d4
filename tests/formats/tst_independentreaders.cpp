#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

// Our exports read by programs we did not write: Python's json, yaml and
// xml.etree modules, through small checks under tests/formats/readers.
class TestIndependentReaders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void yoloSplitExport();
    void yoloFamilyExports_data();
    void yoloFamilyExports();
    void cocoExport();
    void vocExport();
    void cvatExport();

private:
    void runCheck(const QString &script, const QStringList &arguments);
    Dataset sample(const QString &folder) const;

    QStringList m_classNames;
};

void TestIndependentReaders::initTestCase()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    // Names that YAML, JSON and XML each need care with.
    m_classNames = {"1.5", "a: b", "cat", "driver's seat", "no", "x #y", QString::fromUtf8("çiçek & <dal>")};
}

void TestIndependentReaders::runCheck(const QString &script, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QM_PYTHON), QStringList{QStringLiteral(QM_TESTS_DIR "/formats/readers/") + script}
                                                 + arguments);
    QVERIFY(process.waitForFinished(QmTest::patienceMs));
    const QByteArray output = process.readAll();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, output.constData());
    QVERIFY2(output.startsWith("ok"), output.constData());
}

// The classes as an export numbers them: the class list with every class an
// annotation uses in it (the sample's classes are used only).
static QStringList exportedClassNames(Dataset dataset)
{
    dataset.syncClassesFromAnnotations();
    return dataset.classNames();
}

// Images of the class names above, with two images sharing one file name, a
// keypoint set, polygons and every box inside its image.
Dataset TestIndependentReaders::sample(const QString &folder) const
{
    Dataset dataset;
    dataset.keypointSchema.keypointNames = {"head", "tail"};
    dataset.keypointSchema.edges = {{0, 1}};
    for (int i = 0; i < 12; ++i) {
        const QString path = QStringLiteral("%1/%2/frame.png").arg(folder).arg(i % 3 == 0 ? "b" : QString::number(i));
        writeImage(path, 64, 48);
        const QString cls = m_classNames.at(i % m_classNames.size());
        dataset.addImage(image(path, 64, 48,
                               {box(cls, 1.5, 2, 20, 10.25), polygon(cls, ring(5, 32, 24, 10)),
                                keypoints("cat", {10, 10, 20, 20}, {{12, 12}, {25, 22}}, {2, 0}),
                                polygon(cls, {{0, 0}, {64, 0}, {64, 48}, {32, 48}, {0, 24}}),
                                polyline("cat", {{0, 47}, {63, 1}, {10, 10}}), point("cat", 4, 5)}));
    }
    return dataset;
}

void TestIndependentReaders::yoloSplitExport()
{
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    ExportConfig c;
    c.format = "YOLO";
    c.outputPath = dir.filePath("out");
    c.split = true;
    QString error;
    QString result;
    QVERIFY2(runExportJob(FormatRegistry::instance().find("YOLO"), c, dataset, 12, false, {}, &error, &result),
             qPrintable(error));
    const QByteArray names = QJsonDocument(QJsonArray::fromStringList(exportedClassNames(dataset))).toJson();
    runCheck("check_yolo.py", {c.outputPath, QString::fromUtf8(names)});
}

// Every name of the family, whole and split: the layout YOLO loaders read,
// with the data.yaml each name's detection looks for.
void TestIndependentReaders::yoloFamilyExports_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    for (const char *name : {"YOLO", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv8", "YOLOv12"}) {
        QTest::addRow("%s whole", name) << QString::fromLatin1(name) << false;
        QTest::addRow("%s split", name) << QString::fromLatin1(name) << true;
    }
}

void TestIndependentReaders::yoloFamilyExports()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    ExportConfig c;
    c.format = format;
    c.outputPath = dir.filePath("out");
    c.split = split;
    QString error;
    QString result;
    QVERIFY2(runExportJob(FormatRegistry::instance().find(format), c, dataset, 12, false, {}, &error, &result),
             qPrintable(error));
    const QByteArray names = QJsonDocument(QJsonArray::fromStringList(exportedClassNames(dataset))).toJson();
    const bool roboflow = format != "YOLO" && format != "YOLOv4 Scaled";
    runCheck("check_yolo.py", {c.outputPath, QString::fromUtf8(names), roboflow ? "roboflow" : ""});
}

void TestIndependentReaders::cocoExport()
{
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    const QString path = dir.filePath("out/annotations.json");
    QVERIFY(FormatRegistry::instance().find("COCO")->exportDataset(path, dataset, {}));
    runCheck("check_coco.py", {path, "12", "72"});
}

void TestIndependentReaders::vocExport()
{
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    QVERIFY(FormatRegistry::instance().find("Pascal VOC")->exportDataset(dir.filePath("out"), dataset, {}));
    runCheck("check_xml.py", {"voc", dir.filePath("out"), "12"});
}

void TestIndependentReaders::cvatExport()
{
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    QVERIFY(FormatRegistry::instance().find("CVAT XML")->exportDataset(dir.filePath("out"), dataset, {}));
    runCheck("check_xml.py",
             {"cvat", dir.filePath("out/annotations.xml"), "12", "box=12,polygon=24,polyline=12,points=12"});
}

QM_TEST_MAIN(TestIndependentReaders)
#include "tst_independentreaders.moc"
