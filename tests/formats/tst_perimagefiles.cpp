#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/FormatRegistry.h"

#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

// The formats that keep one label file per image, read from the layouts their
// tools write.
class TestPerImageFiles : public QObject {
    Q_OBJECT
private slots:
    void backgroundImagesAreKept_data();
    void backgroundImagesAreKept();
};

// Ultralytics and the DOTA-style exports keep images without objects in the
// image folder with no label file beside them. Two splits, each with one
// labelled picture and one such background picture (one with an upper-case
// suffix); a text file among the pictures is no picture.
void TestPerImageFiles::backgroundImagesAreKept_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QString>("labels"); // %1 is the split
    QTest::addColumn<QString>("images");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("YOLOv6 MT") << "YOLOv6 MT" << QByteArray("names: ['ship']\n") << "labels/%1"
                               << "images/%1" << QByteArray("0 0.5 0.5 0.5 0.5\n");
    QTest::newRow("YOLOv8 OBB") << "YOLOv8 OBB" << QByteArray("names: ['ship']\n") << "%1/labels"
                                << "%1/images" << QByteArray("0 0.1 0.1 0.9 0.1 0.9 0.9 0.1 0.9\n");
    QTest::newRow("YOLOv5 OBB") << "YOLOv5 OBB" << QByteArray("names: ['ship']\n") << "%1/labelTxt"
                                << "%1/images" << QByteArray("4 4 60 4 60 44 4 44 ship 0\n");
    QTest::newRow("YOLO Pose") << "YOLO Pose" << QByteArray("kpt_shape: [1, 3]\nnames: ['ship']\n") << "labels/%1"
                               << "images/%1" << QByteArray("0 0.5 0.5 0.5 0.5 0.5 0.5 2\n");
}

void TestPerImageFiles::backgroundImagesAreKept()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, yaml);
    QFETCH(QString, labels);
    QFETCH(QString, images);
    QFETCH(QByteArray, line);
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(writeFile(root.filePath("data.yaml"), yaml));
    for (const QString split : {"train", "val"}) {
        QVERIFY(writeImage(root.filePath(images.arg(split) + "/boat.jpg"), 64, 48));
        QVERIFY(writeFile(root.filePath(labels.arg(split) + "/boat.txt"), line));
        QVERIFY(writeImage(root.filePath(images.arg(split) + "/sea.JPG"), 80, 30));
        QVERIFY(writeFile(root.filePath(images.arg(split) + "/notes.txt"), "not a picture"));
    }
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    QVERIFY(handler->canImport(dir.path()));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(handler->importDataset(dir.path(), dataset, [&](int done, int total) { calls.append({done, total}); }));

    QCOMPARE(dataset.images.size(), 4);
    QStringList found;
    for (const ImageEntry &entry : std::as_const(dataset.images)) {
        const QString relative = root.relativeFilePath(QDir::cleanPath(entry.filePath));
        found.append(relative);
        if (relative.endsWith("boat.jpg")) {
            QCOMPARE(entry.labels.size(), 1);
            QCOMPARE(entry.labels.first().className, QStringLiteral("ship"));
        } else {
            QVERIFY(entry.labels.isEmpty());
            QCOMPARE(QSize(entry.width, entry.height), QSize(80, 30));
        }
    }
    found.sort();
    QCOMPARE(found, (QStringList{images.arg("train") + "/boat.jpg", images.arg("train") + "/sea.JPG",
                                 images.arg("val") + "/boat.jpg", images.arg("val") + "/sea.JPG"}));
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls.last(), qMakePair(4, 4));
}

QM_TEST_MAIN(TestPerImageFiles)
#include "tst_perimagefiles.moc"
