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
    const QStringList expected = {
        "QuillPackage",  "YOLO",    "COCO",    "Pascal VOC", "CVAT XML", "LabelMe",       "CreateML",
        "Florence-2",    "CLIP",    "PaliGemma", "YOLOv4 Scaled", "Roboflow YOLO", "YOLOv5 PyTorch",
        "YOLOv7 PyTorch", "YOLOv8", "YOLOv9",  "YOLOv11",    "YOLOv12",
    };
    QCOMPARE(registeredNames(), expected);
    // The list above keeps the fixed order of every format.
    int last = -1;
    for (const QString &name : expected) {
        const int position = int(kRegistryOrder.indexOf(name));
        QVERIFY2(position > last, qPrintable(name + " is out of order or unknown"));
        last = position;
    }
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
    QCOMPARE(registry.find("COCO")->name(), QStringLiteral("COCO"));
}

void TestFormatRegistry::extensions()
{
    const FormatRegistry &registry = FormatRegistry::instance();
    QCOMPARE(registry.find("COCO")->extension(), QStringLiteral("json"));
    QCOMPARE(registry.find("Pascal VOC")->extension(), QStringLiteral("xml"));
    QCOMPARE(registry.find("CVAT XML")->extension(), QStringLiteral("xml"));
    QCOMPARE(registry.find("LabelMe")->extension(), QStringLiteral("json"));
    QCOMPARE(registry.find("CreateML")->extension(), QStringLiteral("json"));
    QCOMPARE(registry.find("Florence-2")->extension(), QStringLiteral("jsonl"));
    QCOMPARE(registry.find("PaliGemma")->extension(), QStringLiteral("jsonl"));
    QCOMPARE(registry.find("CLIP")->extension(), QStringLiteral("txt"));
    for (const QString &name : kRoboflowFamily + QStringList{"YOLO", "YOLOv4 Scaled"})
        QCOMPARE(registry.find(name)->extension(), QStringLiteral("txt"));
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

void TestFormatRegistry::exportWithoutProgressMatchesExport()
{
    QTemporaryDir source;
    const QString picture = source.filePath("a.png");
    QVERIFY(writeImage(picture, 100, 100));
    Dataset dataset;
    dataset.addImage(image(picture, 100, 100, {box("cat", 10, 10, 20, 20), polygon("dog", ring(4, 50, 50, 10))}));
    for (IFormatHandler *handler : FormatRegistry::instance().handlers()) {
        if (handler->name() == QLatin1String("QuillPackage"))
            continue;
        QTemporaryDir withProgress;
        QTemporaryDir without;
        const QString a = withProgress.filePath("out");
        const QString b = without.filePath("out");
        QVERIFY2(handler->exportDataset(a, dataset, ProgressCallback()), qPrintable(handler->name()));
        QVERIFY2(handler->exportWithoutProgress(b, dataset), qPrintable(handler->name()));
        const QStringList files = filesBelow(a);
        QCOMPARE(filesBelow(b), files);
        for (const QString &file : files)
            QCOMPARE(readFile(b + "/" + file), readFile(a + "/" + file));
    }
}

QM_TEST_MAIN(TestFormatRegistry)
#include "tst_formatregistry.moc"
