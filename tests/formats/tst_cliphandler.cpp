#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/FormatRegistry.h"

#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

class TestClipHandler : public QObject {
    Q_OBJECT
private slots:
    void exportLayout();
    void folderNames_data();
    void folderNames();
    void sameFileNamesStayApart();
    void exportFailures();
    void importLayout();
    void roundTrip();
};

namespace {

IFormatHandler &handler()
{
    return *FormatRegistry::instance().find("CLIP");
}

Annotation multiple(Annotation a)
{
    a.attributes.insert("multiple", true);
    return a;
}

QStringList subfolders(const QString &folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

void TestClipHandler::exportLayout()
{
    QTemporaryDir dir;
    Dataset dataset;
    const QStringList names = {"one.png", "two.jpg", "three.png", "four.png", "five.png"};
    for (const QString &name : names)
        QVERIFY(writeImage(dir.filePath("src/" + name), 8, 6));
    dataset.addImage(image(dir.filePath("src/one.png"), 8, 6,
                           {box("dog", 0, 0, 8, 6), box("cat", 1, 1, 2, 2), multiple(box("cat", 3, 3, 2, 2))}));
    dataset.addImage(
        image(dir.filePath("src/two.jpg"), 8, 6, {box("dog", 0, 0, 8, 6), polygon("cat", ring(3, 4, 3, 1))}));
    dataset.addImage(image(dir.filePath("src/three.png"), 8, 6));
    dataset.addImage(image(dir.filePath("src/four.png"), 8, 6, {box("cat", 0, 0, 8, 6), box("dog", 0, 0, 8, 6)}));
    dataset.addImage(image(dir.filePath("src/five.png"), 8, 6, {box("Zebra", 0, 0, 8, 6)}));
    const QString out = dir.filePath("out");
    QList<QPair<int, int>> calls;
    QVERIFY(handler().exportDataset(out, dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
    QCOMPARE(filesBelow(out), (QStringList{"Zebra/five.png", "_tokenization.txt", "cat dog/four.png", "cat dog/two.jpg",
                                           "cat_multiple dog/one.png", "unlabeled/three.png"}));
    // One caption per folder, in folder-name order (capitals first).
    QCOMPARE(readFile(out + "/_tokenization.txt"), QByteArray("An image depicting Zebra\n"
                                                              "An image depicting cat, dog\n"
                                                              "An image depicting cat, dog\n"
                                                              "An image with no labels\n"));
    QCOMPARE(readFile(out + "/cat dog/two.jpg"), readFile(dir.filePath("src/two.jpg")));
    QVERIFY(handler().canImport(out));
}

// Folder names are made from class names; they must be names every common
// file system takes, while the captions keep the real names.
void TestClipHandler::folderNames_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("folder");
    QTest::newRow("slash") << "cars/trucks"
                           << "cars_trucks";
    QTest::newRow("backslash") << "a\\b"
                               << "a_b";
    QTest::newRow("dot dot") << ".."
                             << "__";
    QTest::newRow("dot") << "."
                         << "_";
    QTest::newRow("Windows characters") << "what? <yes>: \"no\" | *"
                                        << "what___yes____no_____";
    QTest::newRow("trailing dot") << "etc."
                                  << "etc_";
    QTest::newRow("device name") << "CON"
                                 << "CON_";
    QTest::newRow("device name with suffix") << "lpt1.x"
                                             << "lpt1_.x";
    QTest::newRow("blank inside a name") << "traffic light"
                                         << "traffic_light";
    QTest::newRow("the name of no labels") << "unlabeled"
                                           << "unlabeled_";
    QTest::newRow("plain") << QString::fromUtf8("çiçek") << QString::fromUtf8("çiçek");
}

void TestClipHandler::folderNames()
{
    QFETCH(QString, className);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("src/a.png"), 4, 4));
    Dataset dataset;
    dataset.addImage(image(dir.filePath("src/a.png"), 4, 4, {box(className, 0, 0, 4, 4)}));
    const QString out = dir.filePath("out");
    QVERIFY(handler().exportDataset(out, dataset, {}));
    QCOMPARE(subfolders(out), QStringList{folder});
    QVERIFY(QFileInfo::exists(out + "/" + folder + "/a.png"));
    QCOMPARE(QString::fromUtf8(readFile(out + "/_tokenization.txt")), "An image depicting " + className + "\n");
}

// Two images of one name in one folder are two files, each with its pixels.
void TestClipHandler::sameFileNamesStayApart()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a/frame.png"), 4, 4, Qt::red));
    QVERIFY(writeImage(dir.filePath("b/frame.png"), 4, 4, Qt::blue));
    Dataset dataset;
    dataset.addImage(image(dir.filePath("a/frame.png"), 4, 4, {box("cat", 0, 0, 4, 4)}));
    dataset.addImage(image(dir.filePath("b/frame.png"), 4, 4, {box("cat", 0, 0, 4, 4)}));
    const QString out = dir.filePath("out");
    QVERIFY(handler().exportDataset(out, dataset, {}));
    QCOMPARE(filesBelow(out), (QStringList{"_tokenization.txt", "cat/frame.png", "cat/frame_2.png"}));
    QCOMPARE(readFile(out + "/cat/frame.png"), readFile(dir.filePath("a/frame.png")));
    QCOMPARE(readFile(out + "/cat/frame_2.png"), readFile(dir.filePath("b/frame.png")));
    Dataset read;
    QVERIFY(handler().importDataset(out, read, {}));
    QCOMPARE(read.images.size(), 2);
}

void TestClipHandler::exportFailures()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("src/a.png"), 4, 4));
    Dataset dataset;
    dataset.addImage(image(dir.filePath("src/a.png"), 4, 4, {box("cat", 0, 0, 4, 4)}));
    // Nothing to export.
    QVERIFY(!handler().exportDataset(dir.filePath("none"), Dataset(), {}));
    // A label folder that cannot be made.
    QVERIFY(writeFile(dir.filePath("blocked/cat"), "a file in the way"));
    QVERIFY(!handler().exportDataset(dir.filePath("blocked"), dataset, {}));
    // A caption file that cannot be written.
    QVERIFY(QDir().mkpath(dir.filePath("captions/_tokenization.txt")));
    QVERIFY(!handler().exportDataset(dir.filePath("captions"), dataset, {}));
    // An image whose file is gone is left out; the rest is written.
    Dataset gone = dataset;
    gone.addImage(image(dir.filePath("src/gone.png"), 4, 4, {box("cat", 0, 0, 4, 4)}));
    QVERIFY(handler().exportDataset(dir.filePath("gone"), gone, {}));
    QCOMPARE(filesBelow(dir.filePath("gone")), (QStringList{"_tokenization.txt", "cat/a.png"}));
    // A file of an earlier export is replaced: no stale pixels.
    QVERIFY(writeFile(dir.filePath("kept/cat/a.png"), "older"));
    QVERIFY(handler().exportDataset(dir.filePath("kept"), dataset, {}));
    QCOMPARE(readFile(dir.filePath("kept/cat/a.png")), readFile(dir.filePath("src/a.png")));
}

void TestClipHandler::importLayout()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_tokenization.txt"), "An image depicting cat, dog\nAn image with no labels\n"));
    QVERIFY(writeImage(dir.filePath("cat_multiple dog/a.jpg"), 8, 6));
    QVERIFY(writeImage(dir.filePath("cat_multiple dog/B.JPG"), 10, 5));
    QVERIFY(writeFile(dir.filePath("cat_multiple dog/broken.png"), "not an image"));
    QVERIFY(writeFile(dir.filePath("cat_multiple dog/c.gif"), QByteArray("GIF89a\x08\x00\x06\x00", 10)));
    QVERIFY(writeFile(dir.filePath("cat_multiple dog/notes.txt"), "x"));
    QVERIFY(writeImage(dir.filePath("unlabeled/u.png"), 4, 4));
    QVERIFY(writeImage(dir.filePath("Images/i.png"), 4, 4));
    QVERIFY(writeImage(dir.filePath("labels/l.png"), 4, 4));
    QVERIFY(writeImage(dir.filePath("cat_multiple dog/deeper/d.png"), 4, 4));
    QVERIFY(handler().canImport(dir.path()));

    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(handler().importDataset(dir.path(), dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    QCOMPARE(dataset.classColors.keys(), (QStringList{"cat", "dog"}));
    QCOMPARE(dataset.images.size(), 4);
    QStringList files;
    for (const ImageEntry &entry : dataset.images)
        files.append(QDir(dir.path()).relativeFilePath(entry.filePath));
    QCOMPARE(files, (QStringList{"cat_multiple dog/B.JPG", "cat_multiple dog/a.jpg", "cat_multiple dog/broken.png",
                                 "unlabeled/u.png"}));
    const ImageEntry &b = dataset.images.at(0);
    QCOMPARE(b.id, 0);
    QCOMPARE(QSize(b.width, b.height), QSize(10, 5));
    QCOMPARE(b.labels.size(), 2);
    QCOMPARE(b.labels.at(0).className, QStringLiteral("cat"));
    QCOMPARE(b.labels.at(0).attributes.value("multiple"), QVariant(true));
    QCOMPARE(b.labels.at(1).className, QStringLiteral("dog"));
    QVERIFY(!b.labels.at(1).attributes.contains("multiple"));
    for (const Annotation &a : b.labels) {
        QCOMPARE(a.kind, int(BoundingBox));
        QCOMPARE(a.bbox, QRectF(0, 0, 10, 5));
    }
    // An image of unknown size is covered by the unit box.
    QCOMPARE(dataset.images.at(2).labels.at(0).bbox, QRectF(0, 0, 1, 1));
    // "unlabeled" means no labels, not a class of that name.
    QVERIFY(dataset.images.at(3).labels.isEmpty());
    QCOMPARE(dataset.images.at(3).id, 3);

    QTemporaryDir bare;
    QVERIFY(writeFile(bare.filePath("_tokenization.txt"), "\n"));
    QVERIFY(!handler().importDataset(bare.path(), dataset, {}));
    QVERIFY(!handler().importDataset(bare.filePath("missing"), dataset, {}));
}

void TestClipHandler::roundTrip()
{
    QTemporaryDir dir;
    Dataset dataset;
    for (const char *name : {"a.png", "b.png", "c.png"})
        QVERIFY(writeImage(dir.filePath(QStringLiteral("src/") + name), 6, 4));
    dataset.addImage(
        image(dir.filePath("src/a.png"), 6, 4, {multiple(box("cat", 0, 0, 6, 4)), box("dog", 0, 0, 6, 4)}));
    dataset.addImage(image(dir.filePath("src/b.png"), 6, 4));
    dataset.addImage(image(dir.filePath("src/c.png"), 6, 4, {box("unlabeled", 0, 0, 6, 4)}));
    QVERIFY(handler().exportDataset(dir.filePath("out"), dataset, {}));
    Dataset read;
    QVERIFY(handler().importDataset(dir.filePath("out"), read, {}));
    QCOMPARE(read.images.size(), 3);
    QHash<QString, QStringList> labels;
    for (const ImageEntry &entry : read.images) {
        QStringList tokens;
        for (const Annotation &a : entry.labels)
            tokens.append(a.className + (a.attributes.value("multiple").toBool() ? "*" : ""));
        labels.insert(QFileInfo(entry.filePath).fileName(), tokens);
    }
    QCOMPARE(labels.value("a.png"), (QStringList{"cat*", "dog"}));
    QCOMPARE(labels.value("b.png"), QStringList());
    // The real name, as the caption file tells it, not its folder's.
    QCOMPARE(labels.value("c.png"), QStringList{"unlabeled"});
}

QM_TEST_MAIN(TestClipHandler)
#include "tst_cliphandler.moc"
