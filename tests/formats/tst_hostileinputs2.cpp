#include "BoundedRun.h"
#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/CsvText.h"
#include "formats/ExportConfig.h"
#include "formats/ExportImageWriter.h"
#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/ImageProbe.h"
#include "formats/LabelMeHandler.h"
#include "formats/SafeRead.h"
#include "model/PictureLoader.h"

#include <QBuffer>
#include <QImageWriter>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace Quillmark;
using namespace FormatTest;

// Datasets made to hurt: lists naming system files as images, exported with
// their pictures; one endless line or cell in a file of gigabytes; a quote
// that never closes; XML that opens objects inside the elements of another;
// file names Qt would read as more than names; pictures whose header tells
// another size than their pixels.
class TestHostileInputs2 : public QObject {
    Q_OBJECT
private slots:
    void exportImageRefusesWhatIsNoPicture_data();
    void exportImageRefusesWhatIsNoPicture();
    void exportsCarryOnlyPictures_data();
    void exportsCarryOnlyPictures();
    void csvDamage_data();
    void csvDamage();
    void csvReadsInPiecesAsInMemory();
    void openQuoteRefusesTheFile_data();
    void openQuoteRefusesTheFile();
    void hugeLinesAndCells_data();
    void hugeLinesAndCells();
    void kerasDetection_data();
    void kerasDetection();
    void kerasNamesAndLinesAreBounded();
    void filesOfNulsAreNoDataset_data();
    void filesOfNulsAreNoDataset();
    void vocObjectsInsideOpenElements();
    void namesAreNames_data();
    void namesAreNames();
    void lineBreaksInNamesStayInOneLine_data();
    void lineBreaksInNamesStayInOneLine();
    void probedSizesAreDecodedSizes_data();
    void probedSizesAreDecodedSizes();
};

namespace {

// A Keras list naming one picture and two files that are none: the password
// file by its absolute path and the host name by a path climbing out of the
// dataset's folder.
QString hostileKerasDataset(const QString &folder)
{
    writeImage(folder + "/good.png", 17, 9);
    writeFile(folder + "/_classes.txt", "cat\n");
    writeFile(folder + "/_annotations.txt", "good.png 1,1,5,5,0\n"
                                            "/etc/passwd 1,1,5,5,0\n"
                                            "../../../../../../../../etc/hostname 2,2,6,6,0\n");
    return folder;
}

ExportConfig exportConfig(const QString &format, const QString &output, bool split, bool embed)
{
    ExportConfig c;
    c.format = format;
    c.outputPath = output;
    c.split = split;
    c.trainPct = 50;
    c.validPct = 50;
    c.shuffle = false;
    c.copyImages = true;
    c.embedBase64 = embed;
    return c;
}

// Files below `folder` that hold any line of `secret`, or its base64 text.
QStringList filesHolding(const QString &folder, const QByteArray &secret)
{
    const QByteArray firstLine = secret.left(secret.indexOf('\n'));
    const QByteArray encoded = secret.toBase64().left(24);
    QStringList found;
    for (const QString &file : filesBelow(folder)) {
        const QByteArray bytes = readFile(folder + "/" + file);
        if (bytes.contains(firstLine) || bytes.contains(encoded))
            found.append(file);
    }
    return found;
}

// A file of `size` bytes that costs no disk: every byte reads as NUL, after
// `head` at its start.
bool makeSparseFile(const QString &path, qint64 size, const QByteArray &head = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const bool ok = (head.isEmpty() || ::write(fd, head.constData(), size_t(head.size())) == head.size()) &&
                    ::ftruncate(fd, off_t(size)) == 0;
    ::close(fd);
    return ok;
}

// The import path of a dataset of `format` written by writeNamedDataset.
QString namedDatasetPath(const QString &format, const QString &folder)
{
    return format == "COCO" ? folder + "/annotations.json" : folder;
}

// A dataset of `format` in `folder` with one picture, "<stem>.png" of 40 x 30
// pixels, and one box of class "cat" on it, laid out as the format's own
// tools lay it out.
bool writeNamedDataset(const QString &format, const QString &folder, const QString &stem)
{
    const QString picture = stem + ".png";
    const QByteArray name = picture.toUtf8();
    if (format == "YOLO") {
        return writeImage(folder + "/images/" + picture, 40, 30) && writeFile(folder + "/classes.txt", "cat\n") &&
               writeFile(folder + "/labels/" + stem + ".txt", "0 0.25 0.5 0.25 0.5\n");
    }
    if (!writeImage(folder + "/" + picture, 40, 30))
        return false;
    if (format == "Darknet") {
        return writeFile(folder + "/_darknet.labels", "cat\n") &&
               writeFile(folder + "/" + stem + ".txt", "0 0.25 0.5 0.25 0.5\n");
    }
    if (format == "Pascal VOC") {
        return writeFile(folder + "/" + stem + ".xml",
                         "<annotation><filename>" + name + "</filename><size><width>40</width><height>30</height>"
                         "<depth>3</depth></size><object><name>cat</name><bndbox><xmin>5</xmin><ymin>8</ymin>"
                         "<xmax>15</xmax><ymax>23</ymax></bndbox></object></annotation>\n");
    }
    if (format == "COCO") {
        return writeFile(folder + "/annotations.json",
                         "{\"images\": [{\"id\": 1, \"file_name\": \"" + name + "\", \"width\": 40, \"height\": 30}],"
                         " \"annotations\": [{\"id\": 1, \"image_id\": 1, \"category_id\": 1,"
                         " \"bbox\": [5, 8, 10, 15], \"area\": 150, \"iscrowd\": 0}],"
                         " \"categories\": [{\"id\": 1, \"name\": \"cat\"}]}\n");
    }
    if (format == "LabelMe") {
        return writeFile(folder + "/" + stem + ".json",
                         "{\"version\": \"5.0.1\", \"flags\": {}, \"shapes\": [{\"label\": \"cat\","
                         " \"points\": [[5, 8], [15, 23]], \"group_id\": null, \"shape_type\": \"rectangle\","
                         " \"flags\": {}}], \"imagePath\": \"" + name + "\", \"imageData\": null,"
                         " \"imageHeight\": 30, \"imageWidth\": 40}\n");
    }
    return false;
}

// Checks a dataset read from a named dataset: its one picture found under its
// own name in `folder` (or below it), with its size and its box.
QString checkNamedImport(const Dataset &dataset, const QString &folder, const QString &stem)
{
    if (dataset.images.size() != 1)
        return QStringLiteral("%1 images").arg(dataset.images.size());
    const ImageEntry &entry = dataset.images.first();
    const QFileInfo file(entry.filePath);
    if (!entry.filePath.startsWith(folder + "/") || file.fileName() != stem + ".png" || !file.isFile())
        return "the picture is " + entry.filePath;
    if (entry.width != 40 || entry.height != 30)
        return QStringLiteral("its size is %1 x %2").arg(entry.width).arg(entry.height);
    if (entry.labels.size() != 1 || entry.labels.first().className != "cat")
        return QStringLiteral("%1 labels").arg(entry.labels.size());
    const QRectF box = entry.labels.first().bbox;
    if (std::abs(box.x() - 5) > 0.51 || std::abs(box.y() - 8) > 0.51 || std::abs(box.width() - 10) > 1.01 ||
        std::abs(box.height() - 15) > 1.01)
        return QStringLiteral("its box is %1,%2 %3x%4").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height());
    return {};
}

// A GIF of a `screen` whose first (and only) frame `frame` does not have to
// fill it; every pixel of the frame has colour 0. The pixel codes are written
// with a clear code before each, so that the code width stays 3 bits.
QByteArray gifPicture(const QSize &screen, const QRect &frame)
{
    QByteArray bytes("GIF89a");
    const auto le16 = [&bytes](int value) {
        bytes += char(value & 0xff);
        bytes += char((value >> 8) & 0xff);
    };
    le16(screen.width());
    le16(screen.height());
    bytes += QByteArray("\x80\x00\x00", 3);                // a global table of two colours
    bytes += QByteArray("\xff\x00\x00\x00\x00\xff", 6);
    bytes += char(0x2c);
    le16(frame.x());
    le16(frame.y());
    le16(frame.width());
    le16(frame.height());
    bytes += char(0);
    bytes += char(2); // the smallest code size: clear is 4, end 5
    QByteArray codes;
    quint32 pending = 0;
    int bits = 0;
    const auto put = [&](quint32 code) {
        pending |= code << bits;
        bits += 3;
        while (bits >= 8) {
            codes += char(pending & 0xff);
            pending >>= 8;
            bits -= 8;
        }
    };
    for (qint64 i = 0; i < qint64(frame.width()) * frame.height(); ++i) {
        put(4);
        put(0);
    }
    put(5);
    if (bits > 0)
        codes += char(pending & 0xff);
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        bytes += char(block.size());
        bytes += block;
    }
    bytes += char(0);
    bytes += char(0x3b);
    return bytes;
}

QByteArray encodedPicture(const QSize &size, const char *format,
                          QImageIOHandler::Transformations turned = QImageIOHandler::TransformationNone)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(turned);
    return writer.write(picture) ? bytes : QByteArray();
}

// A BMP stored top down: the sign of its height says so.
QByteArray topDownBmp(const QSize &size)
{
    QByteArray bytes = encodedPicture(size, "bmp");
    qint32 height = 0;
    std::memcpy(&height, bytes.constData() + 22, 4);
    height = -height;
    std::memcpy(bytes.data() + 22, &height, 4);
    return bytes;
}

} // namespace

void TestHostileInputs2::exportImageRefusesWhatIsNoPicture_data()
{
    QTest::addColumn<QString>("source"); // a file, or empty for bytes held in memory
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<int>("expected");
    QTest::newRow("password file") << "/etc/passwd" << QByteArray() << int(ExportImageResult::NotPicture);
    QTest::newRow("text held in memory") << "" << QByteArray("root:x:0:0:root:/root:/bin/sh\n")
                                         << int(ExportImageResult::NotPicture);
    QTest::newRow("picture file") << "picture" << QByteArray() << int(ExportImageResult::Written);
    QTest::newRow("picture held in memory") << "" << QByteArray("picture") << int(ExportImageResult::Written);
}

// The writer refuses before anything is written: an older file at the
// destination stays as it was.
void TestHostileInputs2::exportImageRefusesWhatIsNoPicture()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, held);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString picture = dir.filePath("picture.png");
    QVERIFY(writeImage(picture, 7, 5));
    ImageEntry entry;
    entry.filePath = source == "picture" ? picture : source;
    entry.imageData = held == "picture" ? readFile(picture) : held;
    const QString destination = dir.filePath("out/x.png");
    QVERIFY(writeFile(destination, "older"));
    QCOMPARE(int(writeExportImage(entry, destination)), expected);
    if (expected == int(ExportImageResult::NotPicture)) {
        QCOMPARE(readFile(destination), QByteArray("older"));
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files), QStringList{"x.png"});
    } else {
        QCOMPARE(readFile(destination), readFile(picture));
    }
}

void TestHostileInputs2::exportsCarryOnlyPictures_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("embed");
    for (const char *format : {"YOLOv8", "YOLOv8 OBB", "CLIP", "Multiclass", "COCO", "Pascal VOC", "YOLO Pose"})
        QTest::newRow(format) << format << false << false;
    QTest::newRow("YOLOv8, split") << "YOLOv8" << true << false;
    QTest::newRow("COCO, split") << "COCO" << true << false;
    QTest::newRow("LabelMe, embedded") << "LabelMe" << false << true;
}

// A list naming the password and host-name files as images, imported and
// exported with its pictures: the output holds the one picture and nothing of
// the two files, the result counts one image and names the two refused.
void TestHostileInputs2::exportsCarryOnlyPictures()
{
    QFETCH(QString, format);
    QFETCH(bool, split);
    QFETCH(bool, embed);
    QTemporaryDir dir;
    const QString source = hostileKerasDataset(dir.filePath("keras"));
    Dataset dataset;
    QVERIFY(FormatRegistry::instance().find("YOLOv3 Keras")->importDataset(source, dataset, {}));
    QCOMPARE(dataset.images.size(), 3);
    const QString hostname = dataset.images.at(2).filePath;
    QCOMPARE(QFileInfo(hostname).canonicalFilePath(), QFileInfo("/etc/hostname").canonicalFilePath());

    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    if (auto *labelMe = dynamic_cast<LabelMeHandler *>(handler))
        labelMe->useExternalImages = embed ? 0 : 1;
    const QString out = dir.filePath("out");
    QString error;
    QString result;
    QVERIFY2(runExportJob(handler, exportConfig(format, out, split, embed), dataset, 3,
                          formatWritesOwnImages(format), {}, &error, &result),
             qPrintable(error));

    QCOMPARE(filesHolding(out, readFile("/etc/passwd")), QStringList());
    int pictures = 0;
    for (const QString &file : filesBelow(out)) {
        const QString suffix = QFileInfo(file).suffix();
        QVERIFY2(!QFileInfo(file).completeBaseName().contains("passwd") &&
                     !QFileInfo(file).completeBaseName().contains("hostname"),
                 qPrintable(file));
        if (suffix == "png") {
            QCOMPARE(readFile(out + "/" + file), readFile(source + "/good.png"));
            ++pictures;
        }
    }
    QCOMPARE(pictures, embed ? 0 : 1);
    if (embed)
        QVERIFY(readFile(out + "/good.json").contains(readFile(source + "/good.png").toBase64().left(40)));
    const QStringList lines = result.split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith("Exported 1 images"), qPrintable(result));
    QCOMPARE(lines.at(1), "2 entries are no picture and were left out: /etc/passwd, " + hostname);
}

void TestHostileInputs2::csvDamage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("records"); // read before the damage shows
    QTest::addColumn<int>("damage");
    const QByteArray bigField(kMaxFieldBytes, 'x');
    QTest::newRow("quote left open") << QByteArray("a,b\n\"c,d\ne,f\ng,h\n") << 1 << int(CsvReader::Damage::OpenQuote);
    QTest::newRow("quote left open at the very end") << QByteArray("a,\"") << 0 << int(CsvReader::Damage::OpenQuote);
    QTest::newRow("field at the bound") << "a," + bigField + "\nb\n" << 2 << int(CsvReader::Damage::None);
    QTest::newRow("quoted field at the bound")
        << "a,\"" + bigField + "\"\nb\n" << 2 << int(CsvReader::Damage::None);
    QTest::newRow("field past the bound") << "a\nb," + bigField + "x\nc\n" << 1 << int(CsvReader::Damage::FieldTooLong);
    QTest::newRow("quoted field past the bound")
        << "\"" + bigField + "x\"\n" << 0 << int(CsvReader::Damage::FieldTooLong);
    QTest::newRow("too many fields") << QByteArray(CsvReader::kMaxRecordFields, ',') << 0
                                     << int(CsvReader::Damage::RecordTooLong);
    QTest::newRow("record past the bound")
        << (bigField + ',').repeated(kMaxRecordBytes / kMaxFieldBytes + 1) << 0 << int(CsvReader::Damage::RecordTooLong);
    QTest::newRow("blanks without an end") << QByteArray(kMaxFieldBytes + 1, ' ') << 0
                                           << int(CsvReader::Damage::FieldTooLong);
    QTest::newRow("NULs without an end") << QByteArray(kMaxFieldBytes + 1, '\0') << 0
                                         << int(CsvReader::Damage::FieldTooLong);
}

void TestHostileInputs2::csvDamage()
{
    QFETCH(QByteArray, text);
    QFETCH(int, records);
    QFETCH(int, damage);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("t.csv"), text));
    QFile file(dir.filePath("t.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    CsvReader inMemory(text);
    CsvReader inPieces(&file);
    for (CsvReader *reader : {&inMemory, &inPieces}) {
        QStringList fields;
        int read = 0;
        while (reader->next(&fields))
            ++read;
        QCOMPARE(read, records);
        QCOMPARE(int(reader->damage()), damage);
        QVERIFY(!reader->next(&fields)); // a damaged text stays at its end
    }
}

// Records that straddle the pieces a file is read in (quotes, doubled quotes,
// "\r\n", a byte-order mark) read as the same text held whole.
void TestHostileInputs2::csvReadsInPiecesAsInMemory()
{
    QByteArray text("\xEF\xBB\xBF");
    for (int i = 0; text.size() < 3 * 256 * 1024 + 17; ++i) {
        text += QByteArray::number(i) + ",\"a \"\"q\"\"\r\nline\" ,  plain  \r\n";
        if (i % 7 == 0)
            text += "\n";
    }
    text += "last,\"x\"";
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("t.csv"), text));
    QFile file(dir.filePath("t.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    CsvReader inMemory(text);
    CsvReader inPieces(&file);
    QStringList a;
    QStringList b;
    int records = 0;
    while (inMemory.next(&a)) {
        QVERIFY(inPieces.next(&b));
        QCOMPARE(b, a);
        QCOMPARE(inPieces.linesRead(), inMemory.linesRead());
        ++records;
    }
    QVERIFY(!inPieces.next(&b));
    QVERIFY(!inMemory.isDamaged() && !inPieces.isDamaged());
    QCOMPARE(a, QStringList());
    QCOMPARE(inMemory.linesRead(), CsvReader::countLines(text));
    QVERIFY(records > 10000);
}

void TestHostileInputs2::openQuoteRefusesTheFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("RetinaNet") << "RetinaNet" << "_annotations.csv"
                               << QByteArray("a.jpg,1,2,3,4,cat\n\"b.jpg,1,2,3,4,cat\nc.jpg,1,2,3,4,cat\n"
                                             "d.jpg,1,2,3,4,cat\n");
    QTest::newRow("YOLO TensorFlow") << "YOLO TensorFlow" << "_annotations.csv"
                                     << QByteArray("filename,width,height,class,xmin,ymin,xmax,ymax\n"
                                                   "a.jpg,9,9,cat,1,2,3,4\nb.jpg,9,9,\"cat,1,2,3,4\n"
                                                   "c.jpg,9,9,cat,1,2,3,4\n");
    QTest::newRow("Multiclass") << "Multiclass" << "_classes.csv"
                                << QByteArray("filename,cat,dog\na.jpg,1,0\n\"b.jpg,0,1\nc.jpg,1,1\n");
}

// The rows after an open quote vanish into one field: the file is damaged
// and the import fails, rather than bring in the rows before it as if that
// were all.
void TestHostileInputs2::openQuoteRefusesTheFile()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(file), text));
    Dataset dataset;
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(!handler->importDataset(dir.path(), dataset, {}));

    // Closed, the same file reads whole.
    text.replace("\"", "");
    QVERIFY(writeFile(dir.filePath(file), text));
    Dataset whole;
    QVERIFY(handler->importDataset(dir.path(), whole, {}));
    QCOMPARE(whole.images.size(), format == "RetinaNet" ? 4 : 3);
}

void TestHostileInputs2::hugeLinesAndCells_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("head");
    QTest::newRow("RetinaNet, NULs") << "RetinaNet" << "_annotations.csv" << QByteArray("a.jpg,1,2,3,4,cat\n");
    QTest::newRow("RetinaNet, open quote") << "RetinaNet" << "_annotations.csv" << QByteArray("a.jpg,1,2,3,4,\"");
    QTest::newRow("YOLO TensorFlow, NULs")
        << "YOLO TensorFlow" << "_annotations.csv" << QByteArray("filename,width,height,class,xmin,ymin,xmax,ymax\n");
    QTest::newRow("Multiclass, NULs") << "Multiclass" << "_classes.csv" << QByteArray("filename,cat\na.jpg,1\n");
    QTest::newRow("Multiclass, one endless header") << "Multiclass" << "_classes.csv" << QByteArray("filename,");
    QTest::newRow("YOLOv3 Keras, NULs") << "YOLOv3 Keras" << "_annotations.txt" << QByteArray();
    QTest::newRow("YOLOv3 Keras, endless line")
        << "YOLOv3 Keras" << "_annotations.txt" << QByteArray("a.jpg 1,2,3,4,0\nb.jpg ");
}

// A 2 GiB file whose lines or cells never end is refused in memory of the
// order of the bounds, far below the file's size.
void TestHostileInputs2::hugeLinesAndCells()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QByteArray, head);
    QTemporaryDir dir;
    constexpr qint64 fileSize = 2LL << 30;
    QVERIFY(makeSparseFile(dir.filePath(file), fileSize, head));
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    const QString folder = dir.path();
    const QmTest::BoundedResult result = QmTest::runBounded({60000, 96LL << 20}, [&]() -> QString {
        Dataset dataset;
        if (FormatRegistry::instance().find(format)->importDataset(folder, dataset, {}))
            return QStringLiteral("imported %1 images").arg(dataset.images.size());
        return {};
    });
    qInfo("%s: peak %lld MiB above the start for a %lld MiB file, %lld ms", qPrintable(format),
          result.peakGrowthBytes >> 20, fileSize >> 20, result.elapsedMs);
    QVERIFY2(result.ok(), qPrintable(result.describe()));
    QVERIFY2(result.peakGrowthBytes < 64LL << 20, qPrintable(result.describe()));
}

void TestHostileInputs2::kerasDetection_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("detected");
    QTest::newRow("a list") << QByteArray("\n\na.jpg 1,2,3,4,0\n") << true;
    QTest::newRow("a name with spaces") << QByteArray("my photo.jpg 1,2,3,4,0\n") << true;
    QTest::newRow("NULs") << QByteArray(4096, '\0') << false;
    QTest::newRow("a NUL in the name") << QByteArray("a\0.jpg 1,2,3,4,0\n", 17) << false;
    QTest::newRow("blank lines only") << QByteArray("\n \n\t\n") << false;
    QTest::newRow("a name past the bound") << QByteArray(kMaxFieldBytes + 1, 'a') + " 1,2,3,4,0\n" << false;
}

void TestHostileInputs2::kerasDetection()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, detected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    QVERIFY(writeFile(dir.filePath("_annotations.txt"), text));
    QCOMPARE(FormatRegistry::instance().find("YOLOv3 Keras")->canImport(dir.path()), detected);
}

// A list with one line that is past a bound, or holds a NUL byte, is damaged
// as a whole; the same list without it reads.
void TestHostileInputs2::kerasNamesAndLinesAreBounded()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    IFormatHandler *keras = FormatRegistry::instance().find("YOLOv3 Keras");
    const QByteArray good("a.jpg 1,2,3,4,0\n");
    const QByteArray longestName(kMaxFieldBytes, 'n');
    const QList<QPair<QByteArray, bool>> cases = {
        {good + longestName + " 1,2,3,4,0\n", true},
        {good + longestName + "n 1,2,3,4,0\n", false},
        {good + QByteArray("b\0.jpg\n", 7), false},
        {good + "b.jpg" + QByteArray(" 1,2,3,4,0").repeated(kMaxRecordBytes / 10 + 1) + "\n", false},
        {good + "b.jpg" + QByteArray(" 1,2,3,4,0").repeated(1000) + "\n", true},
    };
    for (const auto &[text, readable] : cases) {
        QVERIFY(writeFile(dir.filePath("_annotations.txt"), text));
        Dataset dataset;
        QCOMPARE(keras->importDataset(dir.path(), dataset, {}), readable);
        if (readable)
            QCOMPARE(dataset.images.size(), 2);
    }
}

void TestHostileInputs2::filesOfNulsAreNoDataset_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::newRow("YOLOv3 Keras") << "YOLOv3 Keras" << "_annotations.txt";
    QTest::newRow("RetinaNet") << "RetinaNet" << "_annotations.csv";
    QTest::newRow("YOLO TensorFlow") << "YOLO TensorFlow" << "_annotations.csv";
    QTest::newRow("Multiclass") << "Multiclass" << "_classes.csv";
}

// A list of NULs where a dataset's list is expected is no dataset: detection
// says no after its first bytes, and an import asked all the same refuses it.
void TestHostileInputs2::filesOfNulsAreNoDataset()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QTemporaryDir dir;
    QVERIFY(makeSparseFile(dir.filePath(file), 64LL << 20));
    QVERIFY(writeFile(dir.filePath("_classes.txt"), "cat\n"));
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(!handler->canImport(dir.path()));
    Dataset dataset;
    QVERIFY(!handler->importDataset(dir.path(), dataset, {}));
    QVERIFY(dataset.images.isEmpty());
}

// An "object" opened inside an open element of another object grows the
// list of objects while the outer element still gathers its text: the text
// lands in the outer object's own name, however far the list grew.
void TestHostileInputs2::vocObjectsInsideOpenElements()
{
    QByteArray inner;
    QByteArray innerText;
    for (int i = 0; i < 200; ++i) {
        inner += "<object><name>n" + QByteArray::number(i) + "</name><bndbox><xmin>1</xmin><ymin>1</ymin>"
                 "<xmax>3</xmax><ymax>3</ymax></bndbox></object>";
        innerText += "n" + QByteArray::number(i) + "1133";
    }
    const QByteArray xml = "<annotation><filename>a.jpg</filename><size><width>9</width><height>9</height></size>"
                           "<object><name>cat" + inner + "</name><bndbox><xmin>1" + inner +
                           "</xmin><ymin>2</ymin><xmax>5</xmax><ymax>6</ymax></bndbox></object></annotation>";
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.xml"), xml));
    Dataset dataset;
    QVERIFY(FormatRegistry::instance().find("Pascal VOC")->importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    const QList<Annotation> &labels = dataset.images.first().labels;
    QCOMPARE(labels.size(), 401);
    QCOMPARE(labels.first().className, QString::fromLatin1("cat" + innerText));
    // The outer corner gathered the inner corners' text too: no number, so 0.
    QCOMPARE(labels.first().bbox, QRectF(QPointF(0, 2), QPointF(5, 6)));
    QCOMPARE(labels.at(1).className, QStringLiteral("n0"));
    QCOMPARE(labels.at(400).className, QStringLiteral("n199"));
}

void TestHostileInputs2::namesAreNames_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("stem");
    for (const char *format : {"YOLO", "Darknet", "Pascal VOC", "COCO", "LabelMe"}) {
        QTest::newRow(QByteArray(format) + ", leading colon") << format << ":cat";
        QTest::newRow(QByteArray(format) + ", wildcards") << format << "[cat] *?";
        QTest::newRow(QByteArray(format) + ", url and resource marks") << format << "qrc:cat #1 %41 :";
        // darknet reads an image list's lines as they are: no comments, no trimming.
        QTest::newRow(QByteArray(format) + ", leading hash") << format << "#cat";
        QTest::newRow(QByteArray(format) + ", leading and trailing blank") << format << " cat ";
    }
}

// A picture's name is only a name: one that begins with ':' (which Qt's path
// functions take for one of the program's resources), or that holds what
// wildcards and URLs give meaning to, is found with its labels, exported
// under its name into the output folder (nothing lands in the working
// folder) and read back from there.
void TestHostileInputs2::namesAreNames()
{
    QFETCH(QString, format);
    QFETCH(QString, stem);
    QTemporaryDir dir;
    const QString source = dir.filePath("source");
    QVERIFY(writeNamedDataset(format, source, stem));
    const QString workingFolder = QDir::currentPath();
    QVERIFY(QDir().mkpath(dir.filePath("cwd")));
    QVERIFY(QDir::setCurrent(dir.filePath("cwd")));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(workingFolder); });

    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    QVERIFY(handler->canImport(source));
    Dataset imported;
    QVERIFY(handler->importDataset(namedDatasetPath(format, source), imported, {}));
    const QString read = checkNamedImport(imported, source, stem);
    QVERIFY2(read.isEmpty(), qPrintable(read));

    if (auto *labelMe = dynamic_cast<LabelMeHandler *>(handler))
        labelMe->useExternalImages = 1;
    const QString out = dir.filePath("out");
    QString error;
    QString result;
    QVERIFY2(runExportJob(handler, exportConfig(format, out, false, false), imported, 1,
                          formatWritesOwnImages(format), {}, &error, &result),
             qPrintable(error));
    QCOMPARE(filesBelow(dir.filePath("cwd")), QStringList());
    QVERIFY2(filesBelow(out).contains(stem + ".png") || filesBelow(out).contains("images/" + stem + ".png"),
             qPrintable(filesBelow(out).join(", ")));

    Dataset back;
    QVERIFY(handler->importDataset(namedDatasetPath(format, out), back, {}));
    const QString readBack = checkNamedImport(back, out, stem);
    QVERIFY2(readBack.isEmpty(), qPrintable(readBack));
}

void TestHostileInputs2::lineBreaksInNamesStayInOneLine_data()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"Darknet", "YOLOv3 Keras", "YOLOv4 PyTorch", "YOLO TensorFlow", "YOLOv8"})
        QTest::newRow(format) << format;
}

// Pictures whose names hold a line break or a tab are exported under names
// without them, so that an image list or an annotation line naming them is
// still one line per picture, and they come back with their labels.
void TestHostileInputs2::lineBreaksInNamesStayInOneLine()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("cat", Qt::red);
    for (const QString &name : {QStringLiteral("two\nlines.png"), QStringLiteral("tab\there.png"),
                                QStringLiteral("plain.png")}) {
        ImageEntry entry;
        entry.filePath = dir.filePath(name);
        QVERIFY(writeImage(entry.filePath, 40, 30));
        entry.width = 40;
        entry.height = 30;
        entry.labels = {box("cat", 5, 8, 10, 15)};
        dataset.addImage(entry);
    }
    IFormatHandler *handler = FormatRegistry::instance().find(format);
    QVERIFY(handler);
    const QString out = dir.filePath("out");
    QString error;
    QString result;
    QVERIFY2(runExportJob(handler, exportConfig(format, out, false, false), dataset, 3,
                          formatWritesOwnImages(format), {}, &error, &result),
             qPrintable(error));
    for (const QString &file : filesBelow(out))
        QVERIFY2(!file.contains('\n') && !file.contains('\t'), qPrintable(file));

    Dataset back;
    QVERIFY(handler->importDataset(out, back, {}));
    QCOMPARE(back.images.size(), 3);
    for (const ImageEntry &entry : std::as_const(back.images)) {
        QVERIFY2(QFileInfo(entry.filePath).isFile(), qPrintable(entry.filePath));
        QCOMPARE(entry.labels.size(), 1);
    }
}

void TestHostileInputs2::probedSizesAreDecodedSizes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("decoded");
    // A first frame ten times lower than the screen: Qt's reader reports the
    // frame's height, its decoder paints the frame into the whole screen.
    QTest::newRow("gif, first frame a strip of the screen")
        << gifPicture(QSize(64, 2400), QRect(0, 0, 64, 40)) << QSize(64, 2400);
    // The same past the head of the file that a probe reads first.
    QTest::newRow("gif of 75 KB, first frame a strip") << gifPicture(QSize(2000, 3000), QRect(0, 0, 2000, 50))
                                                       << QSize(2000, 3000);
    QTest::newRow("gif, frame inside the screen") << gifPicture(QSize(300, 200), QRect(10, 20, 30, 40))
                                                  << QSize(300, 200);
    QTest::newRow("gif, no screen size") << gifPicture(QSize(0, 0), QRect(0, 0, 30, 40)) << QSize(30, 40);
    QTest::newRow("gif, frame filling the screen") << gifPicture(QSize(31, 17), QRect(0, 0, 31, 17))
                                                   << QSize(31, 17);
    QTest::newRow("bmp stored top down") << topDownBmp(QSize(37, 21)) << QSize(37, 21);
    QTest::newRow("bmp stored bottom up") << encodedPicture(QSize(37, 21), "bmp") << QSize(37, 21);
    QTest::newRow("tiff turned") << encodedPicture(QSize(37, 21), "tiff", QImageIOHandler::TransformationRotate90)
                                 << QSize(21, 37);
    QTest::newRow("png") << encodedPicture(QSize(37, 21), "png") << QSize(37, 21);
    QTest::newRow("webp") << encodedPicture(QSize(37, 21), "webp") << QSize(37, 21);
    QTest::newRow("jpeg") << encodedPicture(QSize(37, 21), "jpeg") << QSize(37, 21);
}

// The size a picture is probed at, by its header, is the size its pixels
// decode to, whatever the format, and it is the size an import stores (here
// YOLO's, with the picture named .jpg, as pictures of the web often are);
// its thumbnail keeps its shape.
void TestHostileInputs2::probedSizesAreDecodedSizes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, decoded);
    QVERIFY(!bytes.isEmpty());
    QTemporaryDir dir;
    const QString picture = dir.filePath("images/pic.jpg");
    QVERIFY(writeFile(picture, bytes));
    QCOMPARE(PictureLoader::read(picture).image.size(), decoded);
    QCOMPARE(probeImageSize(picture), decoded);
    QCOMPARE(probeImageData(bytes), decoded);

    const QSize bound(64, 64);
    const bool fits = decoded.width() <= bound.width() && decoded.height() <= bound.height();
    QCOMPARE(PictureLoader::readFitting(picture, bound).size(),
             fits ? decoded : decoded.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));

    QVERIFY(writeFile(dir.filePath("labels/pic.txt"), "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(writeFile(dir.filePath("classes.txt"), "cat\n"));
    Dataset dataset;
    QVERIFY(FormatRegistry::instance().find("YOLO")->importDataset(dir.path(), dataset, {}));
    QCOMPARE(dataset.images.size(), 1);
    QCOMPARE(QSize(dataset.images.first().width, dataset.images.first().height), decoded);
}

QM_TEST_MAIN(TestHostileInputs2)
#include "tst_hostileinputs2.moc"
