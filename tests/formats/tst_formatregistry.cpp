#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/FormatRegistry.h"

#include <QTemporaryDir>

#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

namespace {

// The fixed order of every format; the registry holds those built so far.
const QStringList kRegistryOrder = {
    "QuillPackage", "YOLO", "COCO", "Pascal VOC", "CVAT XML", "LabelMe", "CreateML", "Darknet",
    "Florence-2", "Multiclass", "CLIP", "PaliGemma", "RetinaNet", "YOLO TensorFlow", "YOLOv3 Keras",
    "YOLOv4 PyTorch", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv5 OBB", "YOLOv5 PyTorch", "YOLOv6 MT",
    "YOLOv7 PyTorch", "YOLOv8", "YOLOv8 OBB", "YOLOv9", "YOLOv11", "YOLOv12", "YOLO Pose",
};

const QStringList kRoboflowFamily = {"Roboflow YOLO", "YOLOv5 PyTorch", "YOLOv7 PyTorch", "YOLOv8",
                                     "YOLOv9",        "YOLOv11",        "YOLOv12"};

QStringList registeredNames()
{
    QStringList names;
    for (IFormatHandler *handler : FormatRegistry::instance().handlers())
        names.append(handler->name());
    return names;
}

} // namespace

class TestFormatRegistry : public QObject {
    Q_OBJECT
private slots:
    void orderFollowsTheFixedList();
    void findIsExact();
    void extensions();
    void roboflowAndScaledRules_data();
    void roboflowAndScaledRules();
    void unreadableDataYaml();
    void exportWithoutProgressMatchesExport();
};

void TestFormatRegistry::orderFollowsTheFixedList()
{
    QCOMPARE(registeredNames(), kRegistryOrder);
    QCOMPARE(FormatRegistry::instance().handlers(), FormatRegistry::instance().handlers());
}

void TestFormatRegistry::findIsExact()
{
    const FormatRegistry &registry = FormatRegistry::instance();
    QVERIFY(registry.find("yolo") == nullptr);
    QVERIFY(registry.find("") == nullptr);
    QVERIFY(registry.find("YOLO ") == nullptr);
    QCOMPARE(registry.find("YOLO")->name(), QStringLiteral("YOLO"));
    QCOMPARE(registry.find("YOLOv8")->name(), QStringLiteral("YOLOv8"));
    QCOMPARE(registry.find("YOLOv8 OBB")->name(), QStringLiteral("YOLOv8 OBB"));
    QCOMPARE(registry.find("YOLO Pose")->name(), QStringLiteral("YOLO Pose"));
    QVERIFY(registry.find("YOLOv4 PyTorch") != registry.find("YOLOv3 Keras"));
    QCOMPARE(registry.find("COCO")->name(), QStringLiteral("COCO"));
}

void TestFormatRegistry::extensions()
{
    const QMap<QString, QString> extensions = {
        {"QuillPackage", "qmpkg"}, {"YOLO", "txt"},          {"COCO", "json"},         {"Pascal VOC", "xml"},
        {"CVAT XML", "xml"},       {"LabelMe", "json"},      {"CreateML", "json"},     {"Darknet", "txt"},
        {"Florence-2", "jsonl"},   {"Multiclass", "csv"},    {"CLIP", "txt"},          {"PaliGemma", "jsonl"},
        {"RetinaNet", "csv"},      {"YOLO TensorFlow", "csv"}, {"YOLOv3 Keras", "txt"}, {"YOLOv4 PyTorch", "txt"},
        {"YOLOv4 Scaled", "txt"},  {"Roboflow YOLO", "txt"}, {"YOLOv5 OBB", "txt"},    {"YOLOv5 PyTorch", "txt"},
        {"YOLOv6 MT", "txt"},      {"YOLOv7 PyTorch", "txt"}, {"YOLOv8", "txt"},       {"YOLOv8 OBB", "txt"},
        {"YOLOv9", "txt"},         {"YOLOv11", "txt"},       {"YOLOv12", "txt"},       {"YOLO Pose", "txt"},
    };
    QCOMPARE(extensions.size(), kRegistryOrder.size());
    for (IFormatHandler *handler : FormatRegistry::instance().handlers())
        QCOMPARE(handler->extension(), extensions.value(handler->name()));
}

void TestFormatRegistry::roboflowAndScaledRules_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<bool>("roboflow");
    QTest::addColumn<bool>("scaled");
    QTest::newRow("roboflow yaml") << QByteArray("names: [a]\nroboflow:\n  workspace: w\n") << QStringList{}
                                   << true << false;
    QTest::newRow("plain yaml") << QByteArray("names: [a]\n") << QStringList{} << false << true;
    QTest::newRow("plain yaml, images and labels") << QByteArray("names: [a]\n") << QStringList{"images", "labels"}
                                                   << false << false;
    QTest::newRow("plain yaml, only images") << QByteArray("names: [a]\n") << QStringList{"images"} << false << true;
    QTest::newRow("plain yaml, only labels") << QByteArray("names: [a]\n") << QStringList{"labels"} << false << true;
    QTest::newRow("no yaml") << QByteArray() << QStringList{} << false << false;
    QTest::newRow("Roboflow in other case") << QByteArray("Roboflow: x\n") << QStringList{} << false << true;
}

void TestFormatRegistry::roboflowAndScaledRules()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QStringList, folders);
    QFETCH(bool, roboflow);
    QFETCH(bool, scaled);
    QTemporaryDir dir;
    if (!yaml.isEmpty())
        QVERIFY(writeFile(dir.filePath("data.yaml"), yaml));
    for (const QString &folder : folders)
        QVERIFY(QDir().mkpath(dir.filePath(folder)));
    const FormatRegistry &registry = FormatRegistry::instance();
    for (const QString &name : kRoboflowFamily)
        QCOMPARE(registry.find(name)->canImport(dir.path()), roboflow);
    QCOMPARE(registry.find("YOLOv4 Scaled")->canImport(dir.path()), scaled);
    QCOMPARE(registry.find("YOLO")->canImport(dir.path()), !yaml.isEmpty() || folders.contains("labels"));
}

void TestFormatRegistry::unreadableDataYaml()
{
    const FormatRegistry &registry = FormatRegistry::instance();
    // A folder named data.yaml exists but cannot be read, for root as well.
    QTemporaryDir folder;
    QVERIFY(QDir().mkpath(folder.filePath("data.yaml")));
    QVERIFY(!registry.find("Roboflow YOLO")->canImport(folder.path()));
    QVERIFY(!registry.find("YOLOv4 Scaled")->canImport(folder.path()));
    if (geteuid() == 0)
        QSKIP("file permissions do not bind root");
    QTemporaryDir dir;
    const QString path = dir.filePath("data.yaml");
    QVERIFY(writeFile(path, "roboflow: x\n"));
    QFile::setPermissions(path, QFileDevice::Permissions());
    QVERIFY(!registry.find("Roboflow YOLO")->canImport(dir.path()));
    QVERIFY(!registry.find("YOLOv4 Scaled")->canImport(dir.path()));
}

namespace {

// The files an export left at `path` (a folder, or one file for the formats
// that take a file path), by their path relative to it.
QMap<QString, QByteArray> exportedFiles(const QString &path)
{
    QMap<QString, QByteArray> files;
    if (QFileInfo(path).isFile()) {
        files.insert(QString(), readFile(path));
        return files;
    }
    for (const QString &file : filesBelow(path))
        files.insert(file, readFile(path + "/" + file));
    return files;
}

} // namespace

// Both exports go to the same place in turn, since some formats name the
// folder they were written to (the "path" of a data.yaml).
void TestFormatRegistry::exportWithoutProgressMatchesExport()
{
    QTemporaryDir source;
    const QString picture = source.filePath("a.png");
    QVERIFY(writeImage(picture, 100, 100));
    Dataset dataset;
    dataset.addImage(image(picture, 100, 100,
                           {box("cat", 10, 10, 20, 20), polygon("dog", ring(4, 50, 50, 10)),
                            keypoints("cat", {20, 20, 30, 30}, {{25, 25}, {40, 40}}, {2, 1})}));
    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (handler->name() == QLatin1String("QuillPackage"))
            continue;
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        int calls = 0;
        QVERIFY2(handler->exportDataset(out, dataset, [&calls](int, int) { ++calls; }), qPrintable(handler->name()));
        QVERIFY2(calls > 0, qPrintable(handler->name()));
        const QMap<QString, QByteArray> withProgress = exportedFiles(out);
        QVERIFY2(!withProgress.isEmpty(), qPrintable(handler->name()));
        QVERIFY(QFile::remove(out) || QDir(out).removeRecursively());
        QVERIFY2(handler->exportWithoutProgress(out, dataset), qPrintable(handler->name()));
        QVERIFY2(exportedFiles(out) == withProgress, qPrintable(handler->name()));
    }
}

QM_TEST_MAIN(TestFormatRegistry)
#include "tst_formatregistry.moc"
