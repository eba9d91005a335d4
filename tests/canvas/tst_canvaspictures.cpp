// Pictures as cameras and drones make them: 45-megapixel photos that Qt's own
// allocation limit refuses, phone photos whose EXIF orientation says they are
// turned, and files that are not pictures at all. The canvas, the film strip,
// the importers' size probe and the export all see the same upright picture.

#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "MainWindowTestAccess.h"

#include "formats/ExportJob.h"
#include "formats/FormatRegistry.h"
#include "formats/ImageProbe.h"
#include "formats/YoloHandler.h"
#include "model/PictureLoader.h"
#include "panels/FilmStrip.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quillmark;
using namespace CanvasTest;

namespace {

constexpr qint64 MiB = 1024 * 1024;
const QSize LargePhoto(8256, 5504);

// The stored picture: red in its top-left quadrant, blue elsewhere.
QImage markedPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 255));
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    }
    return image;
}

QByteArray jpegBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(95);
    writer.write(image);
    return bytes;
}

// An EXIF segment (APP1, big-endian TIFF with one IFD entry: Orientation) put
// right after the JPEG's start-of-image marker, as cameras write it.
QByteArray withOrientation(const QByteArray &jpeg, int orientation)
{
    QByteArray tiff;
    auto u16 = [&tiff](int v) {
        tiff.append(char((v >> 8) & 0xff));
        tiff.append(char(v & 0xff));
    };
    auto u32 = [&tiff](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            tiff.append(char((v >> shift) & 0xff));
    };
    tiff.append("MM");
    u16(42);
    u32(8);           // offset of the first IFD
    u16(1);           // one entry
    u16(0x0112);      // Orientation
    u16(3);           // SHORT
    u32(1);           // one value
    u16(orientation); // the value, left-justified in the 4-byte field
    u16(0);
    u32(0); // no next IFD
    QByteArray payload("Exif\0\0", 6);
    payload += tiff;
    QByteArray segment;
    segment.append(char(0xff));
    segment.append(char(0xe1));
    const int length = int(payload.size()) + 2;
    segment.append(char(length >> 8));
    segment.append(char(length & 0xff));
    segment += payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Which quadrant of the picture is red: 0 top-left, 1 top-right, 2 bottom-right,
// 3 bottom-left; -1 when none clearly is.
int redQuadrant(const QImage &picture)
{
    const int w = picture.width();
    const int h = picture.height();
    const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {3 * w / 4, 3 * h / 4}, {w / 4, 3 * h / 4}};
    int found = -1;
    for (int q = 0; q < 4; ++q) {
        const QRgb px = picture.pixel(centres[q]);
        if (qRed(px) > 180 && qBlue(px) < 80) {
            if (found >= 0)
                return -1;
            found = q;
        }
    }
    return found;
}

int runPython(const QString &script, const QStringList &args, QByteArray *out)
{
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON), QStringList{QStringLiteral("-c"), script} + args);
    if (!python.waitForFinished(QmTest::patienceMs))
        return -1;
    *out = python.readAllStandardOutput().trimmed();
    if (python.exitCode() != 0)
        qWarning("%s", python.readAllStandardError().constData());
    return python.exitCode();
}

} // namespace

class TestCanvasPictures : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void orientationIsAppliedEverywhere_data();
    void orientationIsAppliedEverywhere();
    void exportedSizesAreThoseOfTheUprightPicture();

    void largePhotoNeedsTheRaisedLimit();
    void largePhotoOnTheCanvas();
    void thumbnailOfALargePhotoIsDecodedSmall();
    void unreadablePictureIsReportedInTheStatusBar();

    void allocationLimitFitsTheMachine_data();
    void allocationLimitFitsTheMachine();
    void hostileInputs_data();
    void hostileInputs();
    void pipesAreNotOpenedForProbesOrThumbnails();

private:
    QTemporaryDir dir;
    QString largePath;
    int defaultLimit = 0;
};

void TestCanvasPictures::initTestCase()
{
    QVERIFY(dir.isValid());
    defaultLimit = QImageReader::allocationLimit();
    // A 45-megapixel drone photo, written once for every test here.
    largePath = dir.filePath(QStringLiteral("DJI_0042.JPG"));
    QImage photo(LargePhoto, QImage::Format_RGB32);
    photo.fill(QColor(30, 160, 90));
    QImageWriter writer(largePath, "jpeg");
    writer.setQuality(60);
    QVERIFY(writer.write(photo));
}

void TestCanvasPictures::cleanup()
{
    QImageReader::setAllocationLimit(defaultLimit);
}

// --- EXIF orientation ---------------------------------------------------------------

void TestCanvasPictures::orientationIsAppliedEverywhere_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("upright");
    QTest::addColumn<int>("redAt"); // quadrant of the stored top-left corner once upright
    QTest::newRow("1: as stored") << 1 << QSize(120, 80) << 0;
    QTest::newRow("3: upside down") << 3 << QSize(120, 80) << 2;
    QTest::newRow("6: phone held upright") << 6 << QSize(80, 120) << 1;
    QTest::newRow("8: turned the other way") << 8 << QSize(80, 120) << 3;
}

void TestCanvasPictures::orientationIsAppliedEverywhere()
{
    QFETCH(int, orientation);
    QFETCH(QSize, upright);
    QFETCH(int, redAt);

    // A YOLO folder with the photo and one label, as exported by common tools.
    QTemporaryDir yolo;
    QVERIFY(QDir(yolo.path()).mkpath(QStringLiteral("images")));
    QVERIFY(QDir(yolo.path()).mkpath(QStringLiteral("labels")));
    const QString path = yolo.filePath(QStringLiteral("images/IMG_0001.jpg"));
    const QByteArray bytes = withOrientation(jpegBytes(markedPicture(120, 80)), orientation);
    QVERIFY(writeFile(path, bytes));
    QVERIFY(writeFile(yolo.filePath(QStringLiteral("labels/IMG_0001.txt")), "0 0.5 0.5 0.25 0.5\n"));
    QVERIFY(writeFile(yolo.filePath(QStringLiteral("classes.txt")), "dog\n"));

    // The header probes, from the file and from bytes held in memory.
    QCOMPARE(PictureLoader::uprightSize(path), upright);
    QCOMPARE(PictureLoader::uprightSize(bytes), upright);
    QCOMPARE(probeImageSize(path), upright);

    // The YOLO importer: the size it stores and the box it computes from it.
    Dataset imported;
    QVERIFY(YoloHandler().importDataset(yolo.path(), imported, {}));
    QCOMPARE(imported.images.size(), 1);
    const ImageEntry &entry = imported.images.first();
    QCOMPARE(QSize(entry.width, entry.height), upright);
    const QRectF expectedBox(upright.width() * 0.375, upright.height() * 0.25, upright.width() * 0.25,
                             upright.height() * 0.5);
    QCOMPARE(entry.labels.first().bbox, expectedBox);

    // The pixels: full reads from the file and from bytes.
    const PictureLoader::Result read = PictureLoader::read(path);
    QVERIFY(read.ok());
    QCOMPARE(read.image.size(), upright);
    QCOMPARE(redQuadrant(read.image), redAt);
    ImageEntry inMemory;
    inMemory.imageData = bytes;
    QCOMPARE(inMemory.loadPixels().size(), upright);

    // The canvas shows the picture upright, at its upright size.
    auto canvas = makeCanvas();
    ImageEntry shown = entry;
    shown.id = 3;
    canvas->setImage(shown);
    QCOMPARE(canvas->pictureRect(), QRectF(QPointF(0, 0), QSizeF(upright)));
    canvas->zoomActualSize();
    const QImage screen = grabbed(canvas.get());
    const QPoint topLeft = canvas->toScreen(QPointF(0, 0)).toPoint();
    QCOMPARE(redQuadrant(screen.copy(QRect(topLeft, upright))), redAt);

    // The film strip's thumbnail has the upright shape and orientation.
    FilmStrip strip;
    strip.resize(600, 86);
    strip.setCurrent(shown.id);
    strip.setDataset({shown});
    QTRY_COMPARE_WITH_TIMEOUT(strip.thumbnailsLoading(), 0, 30000);
    const QPixmap thumbnail = strip.thumbnailLabel(shown.id)->pixmap();
    QVERIFY(!thumbnail.isNull());
    QCOMPARE(thumbnail.width() > thumbnail.height(), upright.width() > upright.height());
    QVERIFY(thumbnail.width() <= FilmStrip::thumbWidth && thumbnail.height() <= FilmStrip::thumbHeight);
    QCOMPARE(redQuadrant(thumbnail.toImage()), redAt);
}

void TestCanvasPictures::exportedSizesAreThoseOfTheUprightPicture()
{
    // A phone photo (orientation 6) with a box around the upright picture's top
    // half, exported as YOLO with the file copied as it is; an independent
    // reader that applies the orientation, as training loaders do, must find
    // the box where it was drawn.
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("phone.jpg"));
    QVERIFY(writeFile(path, withOrientation(jpegBytes(markedPicture(120, 80)), 6)));
    Dataset dataset;
    ImageEntry entry;
    entry.filePath = path;
    const QSize size = probeImageSize(path);
    entry.width = size.width();
    entry.height = size.height();
    Annotation half;
    half.className = QStringLiteral("red");
    half.bbox = QRectF(0, 0, 80, 60);
    entry.labels = {half};
    dataset.addImage(entry);
    dataset.addClass(QStringLiteral("red"), QColor());

    ExportConfig config;
    config.format = QStringLiteral("YOLO");
    config.outputPath = work.filePath(QStringLiteral("out"));
    QString error;
    QString result;
    IFormatHandler *yolo = FormatRegistry::instance().find(QStringLiteral("YOLO"));
    QVERIFY(yolo);
    QVERIFY2(runExportJob(yolo, config, dataset, 1, false, {}, &error, &result), qPrintable(error));

    const QString script = QStringLiteral(R"(
import glob, os, sys
from PIL import Image, ImageOps
out = sys.argv[1]
image = glob.glob(os.path.join(out, '**', 'phone.jpg'), recursive=True)[0]
label = glob.glob(os.path.join(out, '**', 'phone.txt'), recursive=True)[0]
with Image.open(image) as im:
    orientation = im.getexif().get(0x0112)
    w, h = ImageOps.exif_transpose(im).size
c, x, y, bw, bh = open(label).read().split()
print(orientation, w, h, round(float(x) * w), round(float(y) * h), round(float(bw) * w), round(float(bh) * h))
)");
    QByteArray out;
    QCOMPARE(runPython(script, {config.outputPath}, &out), 0);
    // Orientation 6, upright 80 x 120, box centred at (40, 30), 80 x 60.
    QCOMPARE(out, QByteArray("6 80 120 40 30 80 60"));
}

// --- Large photos -------------------------------------------------------------------

void TestCanvasPictures::largePhotoNeedsTheRaisedLimit()
{
    // Qt's own limit of 128 MB refuses it, with a reason a person can act on.
    QImageReader::setAllocationLimit(128);
    const PictureLoader::Result refused = PictureLoader::read(largePath);
    QVERIFY(!refused.ok());
    QVERIFY2(refused.error.contains(QStringLiteral("8256 × 5504")), qPrintable(refused.error));
    QVERIFY2(refused.error.contains(QStringLiteral("128 MB")), qPrintable(refused.error));

    PictureLoader::raiseAllocationLimit();
    QVERIFY(QImageReader::allocationLimit() >= 2048 || PictureLoader::physicalMemory() < 4 * 1024 * MiB);
    const PictureLoader::Result read = PictureLoader::read(largePath);
    QVERIFY2(read.ok(), qPrintable(read.error));
    QCOMPARE(read.image.size(), LargePhoto);
    QCOMPARE(PictureLoader::uprightSize(largePath), LargePhoto);
}

void TestCanvasPictures::largePhotoOnTheCanvas()
{
    PictureLoader::raiseAllocationLimit();
    auto canvas = makeCanvas();
    ImageEntry entry;
    entry.id = 4;
    entry.filePath = largePath;
    entry.width = LargePhoto.width();
    entry.height = LargePhoto.height();
    canvas->setImage(entry);
    QCOMPARE(canvas->pictureRect(), QRectF(QPointF(0, 0), QSizeF(LargePhoto)));
    // Fitted into the window and drawn, not the placeholder.
    QVERIFY(canvas->viewScale() < 0.1f);
    const QRgb centre = grabbed(canvas.get()).pixel(400, 300);
    QVERIFY(qGreen(centre) > 130 && qRed(centre) < 60);
}

void TestCanvasPictures::thumbnailOfALargePhotoIsDecodedSmall()
{
    // Even under Qt's own limit: the JPEG decoder scales while decoding.
    QImageReader::setAllocationLimit(128);
    const QImage small = PictureLoader::readFitting(largePath, QSize(72, 54));
    QVERIFY(!small.isNull());
    QVERIFY(small.width() <= 72 && small.height() <= 54);
    QVERIFY(small.width() >= 70);
}

void TestCanvasPictures::unreadablePictureIsReportedInTheStatusBar()
{
    MainWindow window;
    MainWindowTestAccess access(window);
    ImageEntry small;
    small.filePath = dir.filePath(QStringLiteral("small.png"));
    QVERIFY(QImage(QSize(40, 30), QImage::Format_RGB32).save(small.filePath));
    small.width = 40;
    small.height = 30;
    ImageEntry large;
    large.filePath = largePath;
    large.width = LargePhoto.width();
    large.height = LargePhoto.height();
    access.project().dataset.addImage(small);
    access.project().dataset.addImage(large);
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.project().projectType = QStringLiteral("object_detection");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    access.refreshUi();
    LabelCanvas *canvas = window.labelCanvas();
    QTRY_COMPARE(canvas->displayedEntryId(), 0);

    // A machine whose limit still refuses the photo says which file and why.
    QImageReader::setAllocationLimit(100);
    window.onImageSelected(1);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);
    QTRY_VERIFY(!window.statusBar()->currentMessage().isEmpty());
    const QString message = window.statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("Cannot open DJI_0042.JPG: ")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("8256 × 5504 pixels")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("100 MB")), qPrintable(message));
    // The canvas itself says that this picture cannot be shown, long after the
    // message is gone: not the empty canvas's invitation to open an image.
    const QImage unreadable = canvas->grab().toImage();
    canvas->clear();
    QVERIFY(canvas->grab().toImage() != unreadable);
    window.onImageSelected(1);
    QTRY_COMPARE(canvas->displayedEntryId(), 1);

    // A refresh that shows it again does not repeat the report over newer ones.
    window.statusBar()->showMessage(QStringLiteral("Imported 3 images."));
    access.refreshUi();
    QTest::qWait(300);
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Imported 3 images."));

    // With the limit raised as the program does at start-up, it opens.
    PictureLoader::raiseAllocationLimit();
    window.onImageSelected(0);
    QTRY_COMPARE(canvas->displayedEntryId(), 0);
    window.statusBar()->clearMessage();
    window.onImageSelected(1);
    QTRY_COMPARE(canvas->pictureRect(), QRectF(QPointF(0, 0), QSizeF(LargePhoto)));
    QVERIFY(!window.statusBar()->currentMessage().startsWith(QStringLiteral("Cannot open")));
}

// --- Limits and hostile input -------------------------------------------------------

void TestCanvasPictures::allocationLimitFitsTheMachine_data()
{
    QTest::addColumn<qint64>("physical");
    QTest::addColumn<int>("limitMb");
    QTest::newRow("unknown memory") << qint64(0) << 1024;
    QTest::newRow("small machine keeps Qt's floor") << qint64(200) * MiB << 128;
    QTest::newRow("4 GB") << qint64(4096) * MiB << 2048;
    QTest::newRow("16 GB") << qint64(16384) * MiB << 8192;
    QTest::newRow("odd size") << qint64(3000) * MiB + 12345 << 1500;
}

void TestCanvasPictures::allocationLimitFitsTheMachine()
{
    QFETCH(qint64, physical);
    QFETCH(int, limitMb);
    QCOMPARE(PictureLoader::allocationLimitFor(physical), limitMb);
    // From 4 GB on, a 20,000 x 20,000 panorama fits.
    if (physical >= qint64(4096) * MiB)
        QVERIFY(qint64(20000) * 20000 * 4 <= qint64(limitMb) * MiB);
    QVERIFY(PictureLoader::physicalMemory() > 0);
}

void TestCanvasPictures::hostileInputs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // written to the file; null: no file
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QStringLiteral("gone.jpg") << QByteArray() << QStringLiteral("does not exist");
    QTest::newRow("folder") << QStringLiteral("folder.jpg") << QByteArray() << QStringLiteral("folder");
    QTest::newRow("empty file") << QStringLiteral("empty.jpg") << QByteArray("") << QStringLiteral("format");
    QTest::newRow("text named .jpg") << QStringLiteral("notes.jpg") << QByteArray("just some text\n")
                                     << QStringLiteral("format");
    QTest::newRow("JPEG cut after its header")
        << QStringLiteral("cut.jpg") << jpegBytes(markedPicture(64, 64)).left(200) << QString();
}

void TestCanvasPictures::hostileInputs()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QTemporaryDir work;
    const QString path = work.filePath(name);
    if (name.startsWith(QLatin1String("folder")))
        QVERIFY(QDir(work.path()).mkpath(name));
    else if (!bytes.isNull())
        QVERIFY(writeFile(path, bytes));

    const PictureLoader::Result result = PictureLoader::read(path);
    if (result.ok()) {
        // A cut JPEG may decode in part; then it has its full size.
        QVERIFY(reason.isEmpty());
        QCOMPARE(result.image.size(), QSize(64, 64));
        return;
    }
    QVERIFY(!result.error.isEmpty());
    if (!reason.isEmpty())
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
    QVERIFY(PictureLoader::readFitting(path, QSize(72, 54)).isNull() || reason.isEmpty());
    if (!bytes.isNull() && !reason.isEmpty()) {
        QVERIFY(!PictureLoader::read(bytes).ok());
        QVERIFY(!PictureLoader::uprightSize(bytes).isValid());
    }
    if (!reason.isEmpty())
        QCOMPARE(probeImageSize(path), QSize(0, 0));
}

void TestCanvasPictures::pipesAreNotOpenedForProbesOrThumbnails()
{
    QTemporaryDir work;
    const QString fifo = work.filePath(QStringLiteral("stuck.jpg"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A watchdog plays the writer: it can open the pipe only while a reader has
    // it open, and doing so frees a reader that would otherwise wait for good.
    // The verdict counts opens, not milliseconds.
    std::atomic<bool> done{false};
    std::atomic<int> readers{0};
    std::thread watchdog([&] {
        const QByteArray path = QFile::encodeName(fifo);
        while (!done) {
            const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ++readers;
                ::close(fd);
            }
            QThread::msleep(2);
        }
    });
    QVERIFY(!PictureLoader::uprightSize(fifo).isValid());
    QVERIFY(PictureLoader::readFitting(fifo, QSize(72, 54)).isNull());
    QCOMPARE(probeImageSize(fifo), QSize(0, 0));
    done = true;
    watchdog.join();
    QCOMPARE(readers.load(), 0);
}

QM_TEST_MAIN(TestCanvasPictures)
#include "tst_canvaspictures.moc"
