#include "FileSizeCap.h"
#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/ClassListFile.h"
#include "formats/DatasetImagePath.h"
#include "formats/ExportNames.h"
#include "formats/ExportSplit.h"
#include "formats/ImageExtensions.h"
#include "formats/ImageProbe.h"
#include "formats/NumberFormat.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/YoloDataYaml.h"
#include "model/RegularFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

class TestFormatToolkit : public QObject {
    Q_OBJECT
private slots:
    void general6_data();
    void general6();
    void general6IgnoresProcessLocale();
    void fixedAndRounding();
    void parseNumbers_data();
    void parseNumbers();
    void jsonValues();
    void lineRules();
    void readWholeFileBounds();
    void atomicWriteKeepsOldFileOnFailure();
    void writesThatRunOutOfRoomKeepOldFile();
    void copyIntoPlace_data();
    void copyIntoPlace();
    void copyAcrossFileSystems();
    void staleTemporaryIsReplacedNotFollowed();
    void xmlSafeTextDropsForbiddenCharacters();
    void exportStems_data();
    void exportStems();
    void exportStemsScaleLinearly();
    void exportFileNames();
    void datasetImagePaths_data();
    void datasetImagePaths();
    void imageExtensionsList();
    void probeImageSize();
    void classListFile();
    void dataYamlNames_data();
    void dataYamlNames();
    void dataYamlLargeClassList();
    void dataYamlKeypointShape();
    void findDataYaml();
    void yamlScalarQuoting_data();
    void yamlScalarQuoting();
    void yamlQuotedListReadsBack();
    void splitCounts_data();
    void splitCounts();
};

void TestFormatToolkit::general6_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("quarter") << 0.25 << QByteArray("0.25");
    QTest::newRow("integral") << 120.0 << QByteArray("120");
    QTest::newRow("six digits") << 0.123456789 << QByteArray("0.123457");
    QTest::newRow("float of 0.1") << double(0.1f) << QByteArray("0.1");
    QTest::newRow("small exponent") << 0.00001 << QByteArray("1e-05");
    QTest::newRow("large exponent") << 12345678.0 << QByteArray("1.23457e+07");
    QTest::newRow("negative") << -0.5 << QByteArray("-0.5");
    QTest::newRow("nan written as 0") << std::nan("") << QByteArray("0");
}

void TestFormatToolkit::general6()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(formatGeneral6(value), text);
}

void TestFormatToolkit::general6IgnoresProcessLocale()
{
    const char *old = setlocale(LC_NUMERIC, nullptr);
    const QByteArray saved = old ? QByteArray(old) : QByteArray("C");
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        QSKIP("no German locale installed");
    const QByteArray text = formatGeneral6(0.25);
    setlocale(LC_NUMERIC, saved.constData());
    QCOMPARE(text, QByteArray("0.25"));
}

void TestFormatToolkit::fixedAndRounding()
{
    QCOMPARE(formatFixed2(12.5), QStringLiteral("12.50"));
    QCOMPARE(formatFixed2(40.5), QStringLiteral("40.50"));
    QCOMPARE(roundHalfAwayFromZero(40.5), 41);
    QCOMPARE(roundHalfAwayFromZero(-0.5), -1);
    QCOMPARE(roundHalfAwayFromZero(60.4), 60);
    QCOMPARE(roundHalfAwayFromZero(std::nan("")), 0);
    QCOMPARE(roundHalfAwayFromZero(1e300), std::numeric_limits<qint64>::max());
    QCOMPARE(roundHalfAwayFromZero(-1e300), std::numeric_limits<qint64>::min());
}

void TestFormatToolkit::parseNumbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isDouble");
    QTest::addColumn<double>("doubleValue");
    QTest::addColumn<bool>("isInt");
    QTest::addColumn<int>("intValue");
    QTest::newRow("int") << QByteArray("7") << true << 7.0 << true << 7;
    QTest::newRow("plus sign") << QByteArray("+0.5") << true << 0.5 << false << 0;
    QTest::newRow("leading point") << QByteArray(".5") << true << 0.5 << false << 0;
    QTest::newRow("exponent") << QByteArray("1e-3") << true << 0.001 << false << 0;
    QTest::newRow("integral real") << QByteArray("3.0") << true << 3.0 << true << 3;
    QTest::newRow("negative int") << QByteArray("-1") << true << -1.0 << true << -1;
    QTest::newRow("inf") << QByteArray("inf") << false << 0.0 << false << 0;
    QTest::newRow("nan") << QByteArray("nan") << false << 0.0 << false << 0;
    QTest::newRow("overflow") << QByteArray("1e999") << false << 0.0 << false << 0;
    QTest::newRow("long overflow") << QByteArray("1" + QByteArray(400, '0')) << false << 0.0 << false << 0;
    QTest::newRow("underflow") << QByteArray("-1e-999") << true << 0.0 << true << 0;
    QTest::newRow("long underflow") << QByteArray("0." + QByteArray(400, '0') + "1") << true << 0.0 << true << 0;
    QTest::newRow("int overflow") << QByteArray("99999999999") << true << 99999999999.0 << false << 0;
    QTest::newRow("trailing junk") << QByteArray("1.5x") << false << 0.0 << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0.0 << false << 0;
    QTest::newRow("comma decimal") << QByteArray("0,5") << false << 0.0 << false << 0;
}

void TestFormatToolkit::parseNumbers()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isDouble);
    QFETCH(double, doubleValue);
    QFETCH(bool, isInt);
    QFETCH(int, intValue);
    double d = -42;
    QCOMPARE(parseDouble(QByteArrayView(text), &d), isDouble);
    if (isDouble)
        QCOMPARE(d, doubleValue);
    int i = -42;
    QCOMPARE(parseInt(QByteArrayView(text), &i), isInt);
    if (isInt)
        QCOMPARE(i, intValue);
    // The QString forms agree with the byte forms.
    QCOMPARE(parseDouble(QStringView(QString::fromLatin1(text)), &d), isDouble);
    QCOMPARE(floatOr(QByteArrayView(text), -1.0f), isDouble ? float(doubleValue) : -1.0f);
}

void TestFormatToolkit::jsonValues()
{
    const QJsonObject o = QJsonDocument::fromJson(
        R"({"small": 5, "big": 5000000000, "real": 2.5, "text": "7", "huge": 1e300, "whole": 4.0})").object();
    QCOMPARE(jsonInt(o.value("small"), -1), 5);
    QCOMPARE(jsonInt(o.value("big"), -1), -1);
    QCOMPARE(jsonInt64(o.value("big"), -1), 5000000000LL);
    QCOMPARE(jsonInt(o.value("real"), -1), -1);
    QCOMPARE(jsonInt(o.value("whole"), -1), 4);
    QCOMPARE(jsonInt(o.value("text"), -1), -1);
    QCOMPARE(jsonInt64(o.value("huge"), -1), -1);
    QCOMPARE(jsonInt(o.value("missing"), -1), -1);
    QCOMPARE(jsonDouble(o.value("real"), 0), 2.5);
    QCOMPARE(jsonDouble(o.value("text"), 9), 9.0);
    QCOMPARE(jsonString(o.value("text")), QStringLiteral("7"));
    QCOMPARE(jsonString(o.value("small"), QStringLiteral("x")), QStringLiteral("x"));
}

void TestFormatToolkit::lineRules()
{
    auto lines = [](QByteArrayView text) {
        QList<QByteArray> out;
        forEachLine(text, [&out](QByteArrayView line) { out.append(line.toByteArray()); });
        return out;
    };
    QCOMPARE(lines("\xEF\xBB\xBF"
                   "a\r\n\nb\nc\n"),
             (QList<QByteArray>{"a", "", "b", "c"}));
    QCOMPARE(lines("x"), QList<QByteArray>{"x"});
    QCOMPARE(lines("\n"), QList<QByteArray>{""});
    QCOMPARE(lines(""), QList<QByteArray>{});
}

void TestFormatToolkit::readWholeFileBounds()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.txt");
    QVERIFY(writeFile(path, QByteArray(100, 'x')));
    QByteArray bytes;
    QVERIFY(readWholeFile(path, 100, &bytes));
    QCOMPARE(bytes.size(), 100);
    QVERIFY(!readWholeFile(path, 99, &bytes));
    QVERIFY(bytes.isEmpty());
    QVERIFY(!readWholeFile(dir.filePath("missing"), 100, &bytes));
    QCOMPARE(readRegularFileHead(path, 10).size(), 10);
}

void TestFormatToolkit::atomicWriteKeepsOldFileOnFailure()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("labels.txt");
    QVERIFY(writeFileAtomically(path, "old\n"));
    QVERIFY(writeFileAtomically(path, "new\n"));
    QCOMPARE(readFile(path), QByteArray("new\n"));
    // A folder in the way of the temporary file makes the write fail; the
    // old content stays and nothing else is left behind.
    QVERIFY(QDir().mkpath(path + ".qmtmp"));
    QVERIFY(!writeFileAtomically(path, "newer\n"));
    QCOMPARE(readFile(path), QByteArray("new\n"));
    QVERIFY(!writeFileAtomically(dir.filePath("no/such/folder/x.txt"), "x"));
    QVERIFY(ensureFolder(dir.filePath("a/b/c")));
    QVERIFY(!ensureFolder(path));   // a file, not a folder
}

// A write that runs out of room fails and leaves the previous file as it was,
// for the per-image writer and the single-document writer alike.
void TestFormatToolkit::writesThatRunOutOfRoomKeepOldFile()
{
    QTemporaryDir dir;
    const QString labels = dir.filePath("labels.txt");
    const QString document = dir.filePath("annotations.json");
    QVERIFY(writeFileAtomically(labels, "old\n"));
    QVERIFY(writeDocumentFile(document, "old\n"));
    const QByteArray large(4096, 'x');
    {
        QmTest::FileSizeCap limit(1024);
        QVERIFY(limit.active);
        QVERIFY(!writeFileAtomically(labels, large));
        QVERIFY(!writeDocumentFile(document, large));
    }
    QCOMPARE(readFile(labels), QByteArray("old\n"));
    QCOMPARE(readFile(document), QByteArray("old\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

FileIdentity identityOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {info.st_dev, info.st_ino};
}

} // namespace

// Copies of every kind of source: a file is copied byte for byte over the old
// destination; what is no regular file is refused without opening a FIFO or a
// device; a source that yields other bytes than its size says (a /proc file,
// as a file that changes while it is copied) fails. Only a complete copy ever
// takes the destination's place, and no temporary stays behind.
void TestFormatToolkit::copyIntoPlace_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expected");
    QTest::newRow("small file") << "small" << int(FileCopyResult::Copied);
    QTest::newRow("several megabytes") << "large" << int(FileCopyResult::Copied);
    QTest::newRow("empty file") << "empty" << int(FileCopyResult::Copied);
    QTest::newRow("through a symbolic link") << "symlink" << int(FileCopyResult::Copied);
    QTest::newRow("missing") << "missing" << int(FileCopyResult::NoSource);
    QTest::newRow("folder") << "folder" << int(FileCopyResult::NoSource);
    QTest::newRow("FIFO") << "fifo" << int(FileCopyResult::NoSource);
    QTest::newRow("/dev/zero") << "/dev/zero" << int(FileCopyResult::NoSource);
    QTest::newRow("size says 0, yields bytes") << "/proc/self/status" << int(FileCopyResult::Failed);
    QTest::newRow("destination is the source") << "hardlink" << int(FileCopyResult::SameFile);
    QTest::newRow("destination folder missing") << "noFolder" << int(FileCopyResult::Failed);
    QTest::newRow("runs out of room") << "capped" << int(FileCopyResult::Failed);
}

void TestFormatToolkit::copyIntoPlace()
{
    QFETCH(QString, kind);
    QFETCH(int, expected);
    QTemporaryDir dir;
    QString source = dir.filePath("source.png");
    QString destination = dir.filePath("out/copy.png");
    QVERIFY(QDir().mkpath(dir.filePath("out")));
    QVERIFY(writeFileAtomically(destination, "old\n"));
    QByteArray content = randomBytes(kind == "large" ? 5 * 1024 * 1024 + 17 : kind == "empty" ? 0 : 3000);
    QVERIFY(writeFileAtomically(source, content));

    if (kind == "symlink") {
        QVERIFY(QFile::link(source, dir.filePath("link.png")));
        source = dir.filePath("link.png");
    } else if (kind == "missing") {
        source = dir.filePath("missing.png");
    } else if (kind == "folder") {
        source = dir.filePath("out");
    } else if (kind == "fifo") {
        source = dir.filePath("pipe.png");
        QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    } else if (kind.startsWith('/')) {
        source = kind;
    } else if (kind == "hardlink") {
        QVERIFY(QFile::remove(destination));
        QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(destination).constData()), 0);
    } else if (kind == "noFolder") {
        destination = dir.filePath("none/copy.png");
    }
    const FileIdentity before = identityOf(destination);

    FileCopyResult result;
    bool copiedAgain;
    {
        std::optional<QmTest::FileSizeCap> limit;
        if (kind == "capped")
            QVERIFY(limit.emplace(1024).active);
        result = copyRegularFileAtomically(source, destination);
        copiedAgain = copyFileAtomically(source, destination);
    }
    QCOMPARE(int(result), expected);
    QCOMPARE(copiedAgain, result == FileCopyResult::Copied || result == FileCopyResult::SameFile);

    if (result == FileCopyResult::Copied) {
        QCOMPARE(readFile(destination), content);
        QVERIFY(identityOf(destination) != identityOf(source));
    } else if (result == FileCopyResult::SameFile) {
        QCOMPARE(identityOf(destination), before);
        QCOMPARE(readFile(source), content);
    } else if (kind != "noFolder") {
        QCOMPARE(readFile(destination), QByteArray("old\n"));
        QCOMPARE(identityOf(destination), before);
    }
    QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"copy.png"});
}

// A copy between two file systems, where the kernel refuses its in-kernel
// copy (EXDEV), still arrives whole by reading and writing.
void TestFormatToolkit::copyAcrossFileSystems()
{
    QTemporaryDir memory(QStringLiteral("/dev/shm/qmcopy-XXXXXX"));
    QTemporaryDir disk;
    if (!memory.isValid() || !disk.isValid())
        QSKIP("no /dev/shm here");
    const QString source = memory.filePath("source.png");
    const QString destination = disk.filePath("copy.png");
    const QByteArray content = randomBytes(200 * 1024 + 3);
    QVERIFY(writeFileAtomically(source, content));
    if (identityOf(memory.path()).device == identityOf(disk.path()).device)
        QSKIP("/dev/shm and the temporary folder share a file system here");
    QCOMPARE(int(copyRegularFileAtomically(source, destination)), int(FileCopyResult::Copied));
    QCOMPARE(readFile(destination), content);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"copy.png"});
}

// A stale temporary of an interrupted run is replaced; one that is a link is
// removed, never written through to the file it points at.
void TestFormatToolkit::staleTemporaryIsReplacedNotFollowed()
{
    QTemporaryDir dir;
    const QString outside = dir.filePath("outside.txt");
    const QString labels = dir.filePath("labels.txt");
    const QString image = dir.filePath("image.png");
    const QString source = dir.filePath("source.png");
    QVERIFY(writeFileAtomically(outside, "keep\n"));
    QVERIFY(writeFileAtomically(source, "pixels"));
    QVERIFY(writeFileAtomically(labels + ".qmtmp", "stale"));
    QVERIFY(QFile::link(outside, image + ".qmtmp"));
    // An earlier export's picture: it is replaced through the temporary (a
    // picture not there yet is written in place).
    QVERIFY(writeFileAtomically(image, "older"));

    QVERIFY(writeFileAtomically(labels, "0 0.5 0.5 1 1\n"));
    QCOMPARE(int(copyRegularFileAtomically(source, image)), int(FileCopyResult::Copied));
    QCOMPARE(readFile(labels), QByteArray("0 0.5 0.5 1 1\n"));
    QCOMPARE(readFile(image), QByteArray("pixels"));
    QCOMPARE(readFile(outside), QByteArray("keep\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{"image.png", "labels.txt", "outside.txt", "source.png"}));
}

void TestFormatToolkit::xmlSafeTextDropsForbiddenCharacters()
{
    QCOMPARE(xmlSafeText(QStringLiteral("cat")), QStringLiteral("cat"));
    QCOMPARE(xmlSafeText(QString::fromUtf8("a\x01" "b\tc")), QStringLiteral("ab\tc"));
    QCOMPARE(xmlSafeText(QString::fromUtf8("çiçek 🐱")), QString::fromUtf8("çiçek 🐱"));
    QString lone = QStringLiteral("x");
    lone.append(QChar(0xD800));
    // A lone surrogate cannot be written; it becomes the replacement character.
    QCOMPARE(xmlSafeText(lone), QStringLiteral("x") + QChar(0xFFFD));
}

void TestFormatToolkit::exportStems_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("stems");
    QTest::newRow("no collision") << QStringList{"/a/x.jpg", "/a/y.png", "/b/photo.final.jpg"}
                                  << QStringList{"x", "y", "photo.final"};
    QTest::newRow("same name, two folders") << QStringList{"/cam1/0001.jpg", "/cam2/0001.jpg", "/cam3/0001.jpg"}
                                            << QStringList{"0001", "0001_2", "0001_3"};
    QTest::newRow("same stem, other suffix") << QStringList{"/a/a.jpg", "/a/a.png"} << QStringList{"a", "a_2"};
    QTest::newRow("generated name avoids a natural one")
        << QStringList{"/a/a.jpg", "/b/a.jpg", "/c/a_2.jpg"} << QStringList{"a", "a_3", "a_2"};
    QTest::newRow("letter case collides") << QStringList{"/a/Cat.jpg", "/b/cat.jpg"} << QStringList{"Cat", "cat_2"};
    QTest::newRow("empty path") << QStringList{"", ""} << QStringList{"image", "image_2"};
    QTest::newRow("the class list's name is taken")
        << QStringList{"/a/Classes.jpg", "/b/classes_2.png"} << QStringList{"Classes_3", "classes_2"};
}

void TestFormatToolkit::exportStems()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, stems);
    QList<ImageEntry> images;
    for (const QString &path : paths)
        images.append(image(path, 10, 10));
    QCOMPARE(uniqueExportStems(images), stems);
}

void TestFormatToolkit::exportStemsScaleLinearly()
{
    QList<ImageEntry> images(50000, image("/same/name.jpg", 1, 1));
    QElapsedTimer timer;
    timer.start();
    const QStringList stems = uniqueExportStems(images);
    QCOMPARE(stems.size(), 50000);
    QCOMPARE(stems.last(), QStringLiteral("name_50000"));
    QCOMPARE(QSet<QString>(stems.cbegin(), stems.cend()).size(), 50000);
    QVERIFY2(timer.elapsed() < 5000, "unique stems must not be quadratic");
}

void TestFormatToolkit::exportFileNames()
{
    QCOMPARE(exportFileName("a_2", "/x/a.png"), QStringLiteral("a_2.png"));
    QCOMPARE(exportFileName("frame", "frame"), QStringLiteral("frame.png"));
    QCOMPARE(naturalExportStem("/x/photo.final.jpg"), QStringLiteral("photo.final"));
}

void TestFormatToolkit::datasetImagePaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("keepBeside");  // MissingImage::BesideDatasetFile
    QTest::addColumn<QString>("expected"); // below the dataset folder; empty for none
    QTest::newRow("beside the file") << "beside.jpg" << false << "beside.jpg";
    QTest::newRow("moved into images, written on Windows") << "shots\\moved.jpg" << false << "images/moved.jpg";
    QTest::newRow("moved into images, subfolder") << "shots/moved.jpg" << true << "images/moved.jpg";
    // LabelMe on Windows names the picture relative to the file with "\\".
    QTest::newRow("sibling folder, written on Windows") << "..\\photos\\up.jpg" << true << "../photos/up.jpg";
    QTest::newRow("subfolder, written on Windows") << "shots\\deep\\in.jpg" << false << "shots/deep/in.jpg";
    // CVAT keeps a task's folders below images/.
    QTest::newRow("folders kept below images") << "day/cam1/0001.jpg" << true << "images/day/cam1/0001.jpg";
    QTest::newRow("no way out of images") << "../beside.jpg" << false << "images/beside.jpg";
    // A folder of the image's name is no image: the real file in images/ wins.
    QTest::newRow("folder named as the image") << "folder.jpg" << false << "images/folder.jpg";
    QTest::newRow("folder named as the image, kept beside") << "folder.jpg" << true << "images/folder.jpg";
    QTest::newRow("missing, to images") << "missing.jpg" << false << "images/missing.jpg";
    QTest::newRow("missing, kept beside") << "sub/missing.jpg" << true << "sub/missing.jpg";
    QTest::newRow("no name") << "" << true << "";
}

void TestFormatToolkit::datasetImagePaths()
{
    QFETCH(QString, name);
    QFETCH(bool, keepBeside);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QDir base(dir.filePath("set"));
    QVERIFY(writeImage(base.filePath("beside.jpg"), 4, 4));
    QVERIFY(writeImage(dir.filePath("photos/up.jpg"), 4, 4));
    QVERIFY(writeImage(base.filePath("shots/deep/in.jpg"), 4, 4));
    QVERIFY(writeImage(base.filePath("images/day/cam1/0001.jpg"), 4, 4));
    QVERIFY(base.mkpath("images") && base.mkpath("folder.jpg"));
    QVERIFY(writeImage(base.filePath("images/moved.jpg"), 4, 4));
    QVERIFY(writeImage(base.filePath("images/folder.jpg"), 4, 4));
    const MissingImage missing = keepBeside ? MissingImage::BesideDatasetFile : MissingImage::InImagesFolder;
    QCOMPARE(resolveDatasetImagePath(base, name, missing),
             expected.isEmpty() ? QString() : QDir::cleanPath(base.filePath(expected)));
    // An absolute name stands as written, found or not.
    const QString absolute = base.filePath("elsewhere/missing.jpg");
    QCOMPARE(resolveDatasetImagePath(base, absolute, missing), absolute);
}

void TestFormatToolkit::imageExtensionsList()
{
    QCOMPARE(imageExtensions, (QStringList{"jpg", "jpeg", "png", "bmp", "tiff", "tif", "webp"}));
    QVERIFY(hasImageExtension("/a/B.JPG"));
    QVERIFY(!hasImageExtension("/a/b.txt"));
}

void TestFormatToolkit::probeImageSize()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.png"), 37, 21));
    QCOMPARE(Quillmark::probeImageSize(dir.filePath("a.png")), QSize(37, 21));
    QVERIFY(writeFile(dir.filePath("broken.jpg"), "not an image"));
    QCOMPARE(Quillmark::probeImageSize(dir.filePath("broken.jpg")), QSize(0, 0));
    QCOMPARE(Quillmark::probeImageSize(dir.filePath("missing.png")), QSize(0, 0));
    QCOMPARE(Quillmark::probeImageSize(QString()), QSize(0, 0));
}

void TestFormatToolkit::classListFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("classes.txt");
    QVERIFY(writeFile(path, " cat \r\n\ndog\n"));
    QStringList names;
    QVERIFY(readClassListFile(path, &names));
    QCOMPARE(names, (QStringList{"cat", "", "dog"}));
    QVERIFY(!readClassListFile(dir.filePath("missing.txt"), &names));
    QVERIFY(names.isEmpty());
    QCOMPARE(classListFileBytes({"cat", "dog"}), QByteArray("cat\ndog\n"));
}

void TestFormatToolkit::dataYamlNames_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("inline list") << QByteArray("nc: 3\nnames: ['person', \"car\", bike]\n")
                                 << QStringList{"person", "car", "bike"};
    QTest::newRow("dash list") << QByteArray("names:\n  - person\n  - car\n")
                               << QStringList{"person", "car"};
    QTest::newRow("dash list stops at the next key")
        << QByteArray("names:\n- person\n- car\nextra:\n- not a class\n") << QStringList{"person", "car"};
    QTest::newRow("index map") << QByteArray("names:\n  0: person\n  1: car\n") << QStringList{"person", "car"};
    QTest::newRow("index map keeps indices") << QByteArray("names:\n  2: car\n  0: person\n")
                                             << QStringList{"person", "class_1", "car"};
    QTest::newRow("escaped quote") << QByteArray("names: ['driver''s seat', 'no', '1.5']\n")
                                   << QStringList{"driver's seat", "no", "1.5"};
    QTest::newRow("colon and hash") << QByteArray("names: ['a: b', 'c #d']\n") << QStringList{"a: b", "c #d"};
    QTest::newRow("roboflow layout")
        << QByteArray("train: ../train/images\nval: ../valid/images\n\nnc: 2\nnames: ['cat', 'dog']\n\n"
                      "roboflow:\n  workspace: w\n  project: p\n")
        << QStringList{"cat", "dog"};
    QTest::newRow("no names") << QByteArray("nc: 2\n") << QStringList{};
    QTest::newRow("huge index ignored") << QByteArray("names:\n  0: a\n  1000000000: b\n") << QStringList{"a"};
    QTest::newRow("invalid yaml, inline list")
        << QByteArray("path: [unclosed\nnames: [a, b]\n") << QStringList{"a", "b"};
    QTest::newRow("invalid yaml, dash list")
        << QByteArray("bad: : :\n  - x\n names\nnames:\n- a\n- b\n") << QStringList{"a", "b"};
    QTest::newRow("empty file") << QByteArray("") << QStringList{};
    QTest::newRow("scalar names") << QByteArray("names: person\n") << QStringList{};
}

void TestFormatToolkit::dataYamlNames()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    const QString path = dir.filePath("data.yaml");
    QVERIFY(writeFile(path, yaml));
    QCOMPARE(parseYoloYamlNames(path), names);
}

void TestFormatToolkit::dataYamlLargeClassList()
{
    // A class list too large for the YAML parser's node tree is still read,
    // in every form, and an oversized file gives no names.
    QTemporaryDir dir;
    const QString path = dir.filePath("data.yaml");
    QByteArray dashes = "nc: 100000\nnames:\n";
    QByteArray map = "names:\n";
    for (int i = 0; i < 100000; ++i) {
        dashes += "  - 'class number " + QByteArray::number(i) + "'\n";
        map += "  " + QByteArray::number(i) + ": class number " + QByteArray::number(i) + "\n";
    }
    for (const QByteArray &text : {dashes, map}) {
        QVERIFY(text.size() > 2 * 1024 * 1024);
        QVERIFY(writeFile(path, text));
        const QStringList names = parseYoloYamlNames(path);
        QCOMPARE(names.size(), 100000);
        QCOMPARE(names.first(), QStringLiteral("class number 0"));
        QCOMPARE(names.last(), QStringLiteral("class number 99999"));
    }
    QVERIFY(writeFile(path, "names: [a]\n" + QByteArray(5 * 1024 * 1024, '#')));
    QVERIFY(parseYoloYamlNames(path).isEmpty());
}

void TestFormatToolkit::dataYamlKeypointShape()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.yaml");
    QVERIFY(writeFile(path, "kpt_shape: [17, 3]\nnames: ['person']\n"));
    YoloDataYaml yaml = readYoloDataYaml(path);
    QCOMPARE(yaml.keypointCount, 17);
    QCOMPARE(yaml.keypointDims, 3);
    QVERIFY(writeFile(path, "kpt_shape: [5, 4]\n"));   // no such layout
    QVERIFY(!readYoloDataYaml(path).hasKeypointShape());
    QVERIFY(writeFile(path, "kpt_shape: [-1, 3]\n"));
    QVERIFY(!readYoloDataYaml(path).hasKeypointShape());
    QVERIFY(writeFile(path, "names: [a\nkpt_shape: [4, 2]\n"));   // invalid YAML, lenient scan
    yaml = readYoloDataYaml(path);
    QCOMPARE(yaml.keypointCount, 4);
    QCOMPARE(yaml.keypointDims, 2);
    QVERIFY(readYoloDataYaml(dir.filePath("missing.yaml")).names.isEmpty());
}

void TestFormatToolkit::findDataYaml()
{
    QTemporaryDir dir;
    QCOMPARE(findYoloDataYaml(dir.path()), QString());
    QVERIFY(writeFile(dir.filePath("b.yml"), "nc: 2\n"));
    QCOMPARE(QFileInfo(findYoloDataYaml(dir.path())).fileName(), QStringLiteral("b.yml"));
    QVERIFY(writeFile(dir.filePath("c.yaml"), "names: [a]\n"));
    QVERIFY(writeFile(dir.filePath("Z.yaml"), "names: [b]\n"));   // after c.yaml, ignoring case
    QCOMPARE(QFileInfo(findYoloDataYaml(dir.path())).fileName(), QStringLiteral("c.yaml"));
    QVERIFY(writeFile(dir.filePath("data.yaml"), "x: 1\n"));
    QCOMPARE(QFileInfo(findYoloDataYaml(dir.path())).fileName(), QStringLiteral("data.yaml"));
}

void TestFormatToolkit::yamlScalarQuoting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("ordinary") << "person" << "person";
    QTest::newRow("spaces inside") << "traffic light" << "traffic light";
    QTest::newRow("posix path") << "/data/out set" << "/data/out set";
    QTest::newRow("windows path") << "C:\\Users\\me\\out" << "C:\\Users\\me\\out";
    QTest::newRow("non-ascii") << QString::fromUtf8("çiçek") << QString::fromUtf8("çiçek");
    QTest::newRow("apostrophe") << "driver's seat" << "driver's seat";
    QTest::newRow("boolean word") << "no" << "'no'";
    QTest::newRow("capital boolean") << "Yes" << "'Yes'";
    QTest::newRow("null") << "null" << "'null'";
    QTest::newRow("number") << "1.5" << "'1.5'";
    QTest::newRow("integer") << "42" << "'42'";
    QTest::newRow("colon space") << "a: b" << "'a: b'";
    QTest::newRow("hash comment") << "x #1" << "'x #1'";
    QTest::newRow("leading quote") << "'q'" << "'''q'''";
    QTest::newRow("flow characters") << "a, b" << "'a, b'";
    QTest::newRow("empty") << "" << "''";
    QTest::newRow("newline") << "a\nb" << "\"a\\nb\"";
}

void TestFormatToolkit::yamlScalarQuoting()
{
    QFETCH(QString, text);
    QFETCH(QString, written);
    QCOMPARE(yamlScalar(text), written);
}

void TestFormatToolkit::yamlQuotedListReadsBack()
{
    const QStringList names = {"cat", "driver's seat", "no", "1.5", "a: b", "x #y", "tab\there", "[x]"};
    QCOMPARE(yamlQuotedList({"cat", "dog"}), QStringLiteral("['cat', 'dog']"));
    QTemporaryDir dir;
    const QString path = dir.filePath("data.yaml");
    QVERIFY(writeFile(path, ("names: " + yamlQuotedList(names) + "\n").toUtf8()));
    QCOMPARE(parseYoloYamlNames(path), names);
}

void TestFormatToolkit::splitCounts_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("trainPct");
    QTest::addColumn<int>("validPct");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("10 at 70/20") << 10 << 70 << 20 << QList<int>{7, 2, 1};
    QTest::newRow("5 at 70/20") << 5 << 70 << 20 << QList<int>{4, 1, 0};
    QTest::newRow("3 at 50/50") << 3 << 50 << 50 << QList<int>{2, 1, 0};
    QTest::newRow("10 at 90/20") << 10 << 90 << 20 << QList<int>{9, 1, 0};
    QTest::newRow("empty") << 0 << 70 << 20 << QList<int>{0, 0, 0};
    QTest::newRow("all train") << 7 << 100 << 0 << QList<int>{7, 0, 0};
    QTest::newRow("out of range percentages") << 10 << 150 << -5 << QList<int>{10, 0, 0};
    QTest::newRow("2 at 70/20") << 2 << 70 << 20 << QList<int>{1, 1, 0};
    QTest::newRow("large n") << 100000 << 70 << 20 << QList<int>{70000, 20000, 10000};
}

void TestFormatToolkit::splitCounts()
{
    QFETCH(int, n);
    QFETCH(int, trainPct);
    QFETCH(int, validPct);
    QFETCH(QList<int>, counts);
    const QList<ExportSplit> splits = computeExportSplits(n, trainPct, validPct);
    QCOMPARE(splits.size(), 3);
    QCOMPARE(splits.at(0).name, QStringLiteral("train"));
    QCOMPARE(splits.at(1).name, QStringLiteral("valid"));
    QCOMPARE(splits.at(2).name, QStringLiteral("test"));
    QCOMPARE((QList<int>{splits.at(0).count, splits.at(1).count, splits.at(2).count}), counts);
    QCOMPARE(splits.at(1).start, counts.at(0));
    QCOMPARE(splits.at(2).start, counts.at(0) + counts.at(1));
}

QM_TEST_MAIN(TestFormatToolkit)
#include "tst_formattoolkit.moc"
