#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/FormatRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Quillmark;
using namespace FormatTest;

// Our exports of the YOLO family's further formats and of the CSV formats,
// read by programs we did not write: Python's yaml and csv modules and plain
// line checks under tests/formats/readers.
class TestYoloFamilyReaders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void labelFolders_data();
    void labelFolders();
    void tensorFlowCsv();
    void retinaNetCsv();
    void multiclassCsv();

private:
    Dataset sample(const QString &folder) const;
    QString exportWith(const QString &format, const Dataset &dataset, const QString &folder) const;
};

namespace {

QString json(const QStringList &names)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact));
}

QString json(const QList<QStringList> &rows)
{
    QJsonArray array;
    for (const QStringList &row : rows)
        array.append(QJsonArray::fromStringList(row));
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

void TestYoloFamilyReaders::initTestCase()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
}

// Images of the awkward class names, two of every three sharing the file name
// "frame.png", each with a box touching the image border, a rotated
// four-point polygon, a pentagon and keypoint sets of two and three points.
Dataset TestYoloFamilyReaders::sample(const QString &folder) const
{
    const QStringList names = awkwardClassNames();
    Dataset dataset;
    for (int i = 0; i < 12; ++i) {
        const QString path = QStringLiteral("%1/%2/frame.png").arg(folder).arg(i % 3 == 0 ? "b" : QString::number(i));
        writeImage(path, 64, 48);
        const QString cls = names.at(i % names.size());
        dataset.addImage(image(path, 64, 48,
                               {box(cls, 0, 30, 20, 18), polygon(cls, {{30, 5}, {50, 15}, {45, 25}, {25, 15}}),
                                polygon(names.at((i + 1) % names.size()), ring(5, 32, 24, 10)),
                                keypoints(cls, {10, 10, 20, 20}, {{12, 12}, {25, 22}}, {2, 0}),
                                keypoints("cat", {5, 5, 40, 40}, {{6, 6}, {44, 44}, {64, 48}}, {1, 2, 2})}));
    }
    return dataset;
}

QString TestYoloFamilyReaders::exportWith(const QString &format, const Dataset &dataset, const QString &folder) const
{
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    if (!handler || !handler->exportDataset(folder, dataset, {}))
        return {};
    return folder;
}

void TestYoloFamilyReaders::labelFolders_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("check");
    QTest::newRow("Darknet") << "Darknet"
                             << "darknet";
    QTest::newRow("YOLOv3 Keras") << "YOLOv3 Keras"
                                  << "keras";
    QTest::newRow("YOLOv5 OBB") << "YOLOv5 OBB"
                                << "obb5";
    QTest::newRow("YOLOv6 MT") << "YOLOv6 MT"
                               << "mt";
    QTest::newRow("YOLOv8 OBB") << "YOLOv8 OBB"
                                << "obb8";
    QTest::newRow("YOLO Pose") << "YOLO Pose"
                               << "pose";
}

void TestYoloFamilyReaders::labelFolders()
{
    QFETCH(QString, format);
    QFETCH(QString, check);
    QTemporaryDir dir;
    const Dataset dataset = sample(dir.filePath("src"));
    const QString out = exportWith(format, dataset, dir.filePath("out"));
    QVERIFY(!out.isEmpty());
    runPythonCheck("check_yolofamily.py", {check, out, json(dataset.classNames()), "3"});
}

void TestYoloFamilyReaders::tensorFlowCsv()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/photos/my, photo.jpg", 640, 480,
                           {box("a, b", 10, 20, 30, 40), polygon("say \"hi\"", {{1, 2}, {30, 2}, {15, 40}})}));
    dataset.addImage(image("/other/my, photo.jpg", 640, 480, {box(QString::fromUtf8("çiçek"), 0, 0, 640, 480)}));
    QVERIFY(!exportWith("YOLO TensorFlow", dataset, dir.path()).isEmpty());
    runPythonCheck("check_csv.py",
                   {"read", dir.filePath("_annotations.csv"),
                    json(QList<QStringList>{
                        {"filename", "width", "height", "class", "xmin", "ymin", "xmax", "ymax"},
                        {"my, photo.jpg", "640", "480", "a, b", "10", "20", "40", "60"},
                        {"my, photo.jpg", "640", "480", "say \"hi\"", "1", "2", "30", "40"},
                        {"my, photo_2.jpg", "640", "480", QString::fromUtf8("çiçek"), "0", "0", "640", "480"},
                    })});
}

void TestYoloFamilyReaders::retinaNetCsv()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addImage(image("/photos/a.jpg", 640, 480, {box("a, b", 10, 20, 30, 40), box("traffic light", 1, 1, 2, 2)}));
    dataset.addImage(image("/photos/empty.jpg", 640, 480));
    QVERIFY(!exportWith("RetinaNet", dataset, dir.path()).isEmpty());
    runPythonCheck("check_csv.py", {"read", dir.filePath("_annotations.csv"),
                                    json(QList<QStringList>{
                                        {"a.jpg", "10", "20", "40", "60", "a, b"},
                                        {"a.jpg", "1", "1", "3", "3", "traffic light"},
                                        {"empty.jpg", "", "", "", "", ""},
                                    })});
}

void TestYoloFamilyReaders::multiclassCsv()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (const char *folder : {"one", "two"}) {
        const QString path = dir.filePath(QStringLiteral("src/%1/pic.png").arg(QLatin1String(folder)));
        QVERIFY(writeImage(path, 8, 8));
        dataset.addImage(image(path, 8, 8, {box(folder == QLatin1String("one") ? "a, b" : "say \"hi\"", 0, 0, 8, 8)}));
    }
    QVERIFY(!exportWith("Multiclass", dataset, dir.filePath("out")).isEmpty());
    runPythonCheck("check_csv.py", {"read", dir.filePath("out/_classes.csv"),
                                    json(QList<QStringList>{
                                        {"filename", "a, b", "say \"hi\""},
                                        {"pic.png", "1", "0"},
                                        {"pic_2.png", "0", "1"},
                                    })});
    QVERIFY(QFileInfo(dir.filePath("out/pic_2.png")).isFile());
}

QM_TEST_MAIN(TestYoloFamilyReaders)
#include "tst_yolofamilyreaders.moc"
