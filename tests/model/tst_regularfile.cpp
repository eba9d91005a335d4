// Opening media files: one open and one fstat decide, a pipe never blocks a
// read, a size probe or a thumbnail, the reason of a refusal reaches the user,
// and a picture whose name lies about its format is still read. And the
// background media check of an opened project.

#include "PipeRescue.h"
#include "QmTest.h"

#include "model/Dataset.h"
#include "model/LeftBehindThreads.h"
#include "model/MissingMediaCheck.h"
#include "model/PictureLoader.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Quillmark;

class TestRegularFile : public QObject {
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void suffixThatLies();
    void sizeFromTheHeadOrTheWholeFile_data();
    void sizeFromTheHeadOrTheWholeFile();
    void backgroundCheckFindsWhatTheScanFinds();
    void backgroundCheckCancelled();
    void backgroundCheckStuckHoldsNobody();
};

void TestRegularFile::refusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("refusal");
    QTest::addColumn<QString>("message");
    QTest::newRow("picture") << "photo.png" << int(FileRefusal::None) << QString();
    QTest::newRow("link to picture") << "link.png" << int(FileRefusal::None) << QString();
    QTest::newRow("missing") << "gone.png" << int(FileRefusal::Missing) << "the file does not exist";
    QTest::newRow("under a file") << "photo.png/inner.png" << int(FileRefusal::Missing) << "the file does not exist";
    QTest::newRow("folder") << "folder.png" << int(FileRefusal::Folder) << "it is a folder";
    QTest::newRow("pipe without writer") << "pipe.png" << int(FileRefusal::NotRegular) << "it is not a regular file";
    QTest::newRow("no name") << "" << int(FileRefusal::NoName) << "no file is named";
}

void TestRegularFile::refusals()
{
    QFETCH(QString, name);
    QFETCH(int, refusal);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(dir.filePath(QStringLiteral("photo.png"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("photo.png")), dir.filePath(QStringLiteral("link.png"))));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.png"))).constData(), 0600), 0);
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);

    // Every read of a pipe is refused at once, the full read too: waiting for
    // a writer could hold a run, or the program's exit, for good.
    QmTest::PipeRescue rescue(dir.filePath(QStringLiteral("pipe.png")), QmTest::patienceMs);
    QFile file;
    QCOMPARE(int(openRegularFileOrSay(file, path)), refusal);
    QCOMPARE(file.isOpen(), refusal == int(FileRefusal::None));
    const PictureLoader::Result read = PictureLoader::read(path);
    QCOMPARE(read.error, message);
    QCOMPARE(read.ok(), message.isEmpty());
    const bool regular = refusal == int(FileRefusal::None);
    QCOMPARE(PictureLoader::uprightSize(path), regular ? QSize(7, 5) : QSize());
    QCOMPARE(PictureLoader::readFitting(path, QSize(4, 4)).isNull(), !regular);
    rescue.done();
    QVERIFY2(!rescue.rescued, "a pipe held a read");
}

void TestRegularFile::suffixThatLies()
{
    // A PNG named .jpg, and one without a suffix: the content decides.
    QTemporaryDir dir;
    QImage picture(13, 9, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    for (const QString &name : {QStringLiteral("really_png.jpg"), QStringLiteral("nosuffix")}) {
        QVERIFY(picture.save(dir.filePath(name), "PNG"));
        QCOMPARE(PictureLoader::uprightSize(dir.filePath(name)), QSize(13, 9));
        QCOMPARE(PictureLoader::read(dir.filePath(name)).image.size(), QSize(13, 9));
        QCOMPARE(PictureLoader::readFitting(dir.filePath(name), QSize(4, 4)).size().width(), 4);
    }
}

namespace {

// A JPEG segment: marker, big-endian length (counting itself), data.
QByteArray jpegSegment(uchar marker, const QByteArray &data)
{
    const int length = int(data.size()) + 2;
    return QByteArray("\xff", 1) + char(marker) + char(length >> 8) + char(length & 0xff) + data;
}

// An EXIF block with one tag: orientation.
QByteArray exifOrientation(int orientation)
{
    QByteArray tiff("II\x2a\x00\x08\x00\x00\x00", 8);
    tiff += QByteArray("\x01\x00", 2);                                   // one entry
    tiff += QByteArray("\x12\x01\x03\x00\x01\x00\x00\x00", 8);      // orientation, SHORT, 1
    tiff += char(orientation) + QByteArray(3, '\0');
    tiff += QByteArray(4, '\0');                                         // no next IFD
    return QByteArray("Exif\0\0", 6) + tiff;
}

} // namespace

// A picture's size is read from the head of its file when its header lies
// there, and from the whole file when metadata pushes the header further
// (here 120 KB of it before the frame of a JPEG); either way upright, as the
// picture itself decodes.
void TestRegularFile::sizeFromTheHeadOrTheWholeFile_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("metadataBytes");
    QTest::addColumn<QSize>("upright");
    QTest::newRow("header in the head") << 1 << 0 << QSize(41, 23);
    QTest::newRow("header in the head, turned") << 6 << 0 << QSize(23, 41);
    QTest::newRow("header past the head") << 1 << 120000 << QSize(41, 23);
    QTest::newRow("header past the head, turned") << 8 << 120000 << QSize(23, 41);
}

void TestRegularFile::sizeFromTheHeadOrTheWholeFile()
{
    QFETCH(int, orientation);
    QFETCH(int, metadataBytes);
    QFETCH(QSize, upright);
    QImage picture(41, 23, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray encoded;
    {
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(picture.save(&buffer, "JPEG"));
    }
    QByteArray inserted = jpegSegment(0xe1, exifOrientation(orientation));
    for (int left = metadataBytes; left > 0; left -= 60000)
        inserted += jpegSegment(0xef, QByteArray(std::min(left, 60000), 'm'));
    encoded.insert(2, inserted); // after the start-of-image marker
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(encoded) == encoded.size());
    file.close();

    QCOMPARE(PictureLoader::uprightSize(path), upright);
    QCOMPARE(PictureLoader::read(path).image.size(), upright);
    QCOMPARE(PictureLoader::uprightSize(encoded), upright);
}

void TestRegularFile::backgroundCheckFindsWhatTheScanFinds()
{
    QTemporaryDir dir;
    Dataset d;
    // 1,000 entries, every seventh missing, a video missing, one relative path
    // and one picture held in memory (never looked up).
    for (int i = 0; i < 1000; ++i) {
        ImageEntry image;
        image.filePath = dir.filePath(QStringLiteral("img_%1.png").arg(i));
        if (i % 7 != 0) {
            QFile f(image.filePath);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        d.addImage(image);
    }
    ImageEntry relative;
    relative.filePath = QStringLiteral("bare.png");
    d.addImage(relative);
    ImageEntry held;
    held.filePath = dir.filePath(QStringLiteral("held.png"));
    held.imageData = QByteArray("x");
    d.addImage(held);
    VideoEntry video;
    video.filePath = dir.filePath(QStringLiteral("clip.mp4"));
    d.addVideo(video);

    MissingMediaCheck check(d);
    QSignalSpy batches(&check, &MissingMediaCheck::missingFound);
    QSignalSpy finished(&check, &MissingMediaCheck::finished);
    check.start();
    QTRY_COMPARE(finished.count(), 1);
    QList<int> images;
    QList<int> videos;
    for (const QList<QVariant> &batch : batches) {
        images += batch.at(0).value<QList<int>>();
        videos += batch.at(1).value<QList<int>>();
    }
    const MissingMedia expected = findMissingMedia(d);
    const MissingMedia got = finished.at(0).at(0).value<MissingMedia>();
    QCOMPARE(got.count, expected.count);
    QCOMPARE(got.names, expected.names);
    QCOMPARE(images.size() + videos.size(), expected.count);
    QCOMPARE(images.size(), 143 + 1);  // every seventh of 1,000, and the bare name
    QCOMPARE(images.first(), 0);
    QVERIFY(!images.contains(d.images.constLast().id));
    QCOMPARE(videos, QList<int>{d.videos.at(0).id});
    QVERIFY(batches.count() >= 1);
}

void TestRegularFile::backgroundCheckCancelled()
{
    Dataset d;
    for (int i = 0; i < 20000; ++i) {
        ImageEntry image;
        image.filePath = QStringLiteral("/nowhere/img_%1.png").arg(i);
        d.addImage(image);
    }
    auto check = std::make_unique<MissingMediaCheck>(d);
    QSignalSpy finished(check.get(), &MissingMediaCheck::finished);
    check->start();
    check->cancel();
    check.reset();  // joins; nothing arrives afterwards
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);
}

namespace {
// Holds the check's worker as a look at a file on a share that went away would.
QSemaphore checkHeld;
QSemaphore checkLetGo;
void holdCheck()
{
    checkHeld.release();
    checkLetGo.tryAcquire(1, 30000);
}
} // namespace

// A check whose worker does not come back is taken away at once (a project
// replaced by another, the program's end), and says nothing afterwards.
void TestRegularFile::backgroundCheckStuckHoldsNobody()
{
    Dataset d;
    ImageEntry image;
    image.filePath = QStringLiteral("/nowhere/a.png");
    d.addImage(image);
    auto check = std::make_unique<MissingMediaCheck>(d);
    auto spy = std::make_unique<QSignalSpy>(check.get(), &MissingMediaCheck::finished);
    MissingMediaCheck::setBeforeFinishedHook(&holdCheck);
    check->start();
    QVERIFY(checkHeld.tryAcquire(1, QmTest::patienceMs));
    QElapsedTimer clock;
    clock.start();
    check.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(LeftBehindThreads::any());
    MissingMediaCheck::setBeforeFinishedHook(nullptr);
    checkLetGo.release();
    QTest::qWait(300); // the worker comes back and would answer here
    QCOMPARE(spy->count(), 0);
}

QM_TEST_MAIN(TestRegularFile)
#include "tst_regularfile.moc"
