#include "model/PictureLoader.h"

#include "model/RegularFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <limits>

#if defined(Q_OS_WIN)
#include <windows.h>
#elif defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace Quillmark {

namespace {

constexpr qint64 MiB = 1024 * 1024;
// Qt's own limit, which refuses a 45-megapixel photo.
constexpr int QtDefaultLimitMb = 128;
// Used when the machine does not tell its memory.
constexpr int UnknownMemoryLimitMb = 1024;
// Decoded pictures are held at four bytes a pixel.
constexpr qint64 BytesPerPixel = 4;

bool turnedSideways(const QImageReader &reader)
{
    return reader.transformation() & QImageIOHandler::TransformationRotate90;
}

// The reason a picture whose header was read could not be decoded.
QString decodeProblem(const QImageReader &reader, const QSize &upright)
{
    const int limitMb = QImageReader::allocationLimit();
    if (upright.isValid() && limitMb > 0 &&
        qint64(upright.width()) * upright.height() * BytesPerPixel > qint64(limitMb) * MiB) {
        return QStringLiteral("the picture is %1 × %2 pixels, more than the %3 MB one picture may take on "
                              "this computer")
            .arg(upright.width())
            .arg(upright.height())
            .arg(limitMb);
    }
    switch (reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("it is not a picture in a format this program reads");
    case QImageReader::FileNotFoundError:
        return QStringLiteral("the file does not exist");
    case QImageReader::DeviceError:
        return QStringLiteral("the file cannot be read");
    case QImageReader::InvalidDataError:
        return QStringLiteral("the picture data is damaged or incomplete");
    default:
        break;
    }
    const QString text = reader.errorString();
    return text.isEmpty() ? QStringLiteral("the picture cannot be decoded") : text;
}

// Runs `use` with a reader on encoded bytes held in memory.
template <typename Use> auto withReaderOn(const QByteArray &encoded, Use use)
{
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return use(reader);
}

} // namespace

QString PictureLoader::refusalText(FileRefusal refusal)
{
    switch (refusal) {
    case FileRefusal::None:
        return {};
    case FileRefusal::NoName:
        return QStringLiteral("no file is named");
    case FileRefusal::Missing:
        return QStringLiteral("the file does not exist");
    case FileRefusal::Folder:
        return QStringLiteral("it is a folder");
    case FileRefusal::NotRegular:
        // A pipe or a device could block or read forever.
        return QStringLiteral("it is not a regular file");
    case FileRefusal::NoPermission:
        return QStringLiteral("the file cannot be read (no permission)");
    case FileRefusal::Unreadable:
        break;
    }
    return QStringLiteral("the file cannot be opened");
}

void PictureLoader::aimReaderAt(QImageReader &reader, QFile &file)
{
    // The name's suffix is the first guess of the format, as when the reader
    // opens the file itself; the content decides when the guess is wrong.
    reader.setDevice(&file);
    reader.setFormat(QFileInfo(file.fileName()).suffix().toLower().toLatin1());
    reader.setAutoDetectImageFormat(true);
}

PictureLoader::HeaderSize PictureLoader::headerSizeWith(QImageReader &reader)
{
    // The format by the content (the reader names the format it was told,
    // which a file's suffix may get wrong), and the logical screen of a GIF,
    // from the first ten bytes, read before the reader moves on.
    const QByteArray head = reader.device() ? reader.device()->peek(10) : QByteArray();
    QSize stored = reader.size();
    if (head.startsWith("BM") && stored.height() < 0) {
        // A picture stored top down has a negative height in its header.
        stored.setHeight(-stored.height());
    }
    HeaderSize header;
    if (head.startsWith("GIF8")) {
        // The reader guesses a GIF's size from its logical screen and first
        // frame by a rule of its own, which its decoder does not follow (a
        // screen ten times taller than the first frame is taken for the
        // frame's height, while the decoder paints the frame into the whole
        // screen). Only where the guess is the screen is the size sure.
        const QSize screen = head.size() == 10
            ? QSize(uchar(head[6]) | uchar(head[7]) << 8, uchar(head[8]) | uchar(head[9]) << 8)
            : QSize();
        header.sure = !stored.isEmpty() && stored == screen;
    }
    if (stored.isValid() && !stored.isEmpty())
        header.upright = turnedSideways(reader) ? stored.transposed() : stored;
    return header;
}

QSize PictureLoader::uprightSizeWith(QImageReader &reader)
{
    const HeaderSize header = headerSizeWith(reader);
    if (header.sure)
        return header.upright;
    // What the decoder makes of the picture is its size.
    reader.setAutoTransform(true);
    const QImage decoded = reader.read();
    return decoded.isNull() ? QSize() : decoded.size();
}

PictureLoader::Result PictureLoader::readWith(QImageReader &reader)
{
    reader.setAutoTransform(true);
    const QSize upright = headerSizeWith(reader).upright;
    Result result;
    result.image = reader.read();
    if (result.image.isNull())
        result.error = decodeProblem(reader, upright);
    return result;
}

QImage PictureLoader::readFittingWith(QImageReader &reader, const QSize &bound)
{
    reader.setAutoTransform(true);
    // A size the header is not sure of would scale the picture out of shape:
    // it is decoded whole and scaled afterwards.
    const HeaderSize header = headerSizeWith(reader);
    const QSize upright = header.upright;
    if (header.sure && upright.isValid()
        && (upright.width() > bound.width() || upright.height() > bound.height())) {
        // The reader scales before it turns the picture, so the size it is given
        // is in the file's own orientation.
        QSize target = upright.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        if (turnedSideways(reader))
            target.transpose();
        reader.setScaledSize(target);
    }
    const QImage image = reader.read();
    if (image.isNull() || (image.width() <= bound.width() && image.height() <= bound.height()))
        return image;
    return image.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

PictureLoader::Result PictureLoader::read(const QString &path)
{
    QFile file;
    const FileRefusal refusal = openRegularFileOrSay(file, path);
    if (refusal != FileRefusal::None)
        return {QImage(), refusalText(refusal)};
    QImageReader reader;
    aimReaderAt(reader, file);
    return readWith(reader);
}

PictureLoader::Result PictureLoader::read(const QByteArray &encoded)
{
    if (encoded.isEmpty())
        return {QImage(), QStringLiteral("the picture data is empty")};
    return withReaderOn(encoded, [](QImageReader &reader) { return readWith(reader); });
}

QImage PictureLoader::readFitting(const QString &path, const QSize &bound)
{
    QFile file;
    if (!openRegularFile(file, path))
        return {};
    QImageReader reader;
    aimReaderAt(reader, file);
    return readFittingWith(reader, bound);
}

QImage PictureLoader::readFitting(const QByteArray &encoded, const QSize &bound)
{
    if (encoded.isEmpty())
        return {};
    return withReaderOn(encoded, [&bound](QImageReader &reader) { return readFittingWith(reader, bound); });
}

QSize PictureLoader::uprightSize(const QString &path)
{
    // The size is in the header: the head of the file read at once answers
    // for almost every picture, with four system calls where the reader on
    // the file makes a dozen (a dataset's import asks this of every picture).
    // A header that runs past the head (a large block of metadata before a
    // JPEG's frame) is read from the file.
    constexpr qint64 headBytes = 64 * 1024;
    qint64 fileSize = -1;
    const QByteArray head = readRegularFileHead(path, headBytes, &fileSize);
    if (fileSize < 0)
        return {};
    // The suffix is the first guess of the format (some formats cannot be
    // told by their content); the content decides when the guess is wrong.
    QSize fromHead = withReaderOn(head, [&path](QImageReader &reader) {
        reader.setFormat(QFileInfo(path).suffix().toLower().toLatin1());
        return uprightSizeWith(reader);
    });
    if (!fromHead.isValid())
        fromHead = withReaderOn(head, [](QImageReader &reader) { return uprightSizeWith(reader); });
    if (fromHead.isValid() || head.size() >= fileSize)
        return fromHead;
    QFile file;
    if (!openRegularFile(file, path))
        return {};
    QImageReader reader;
    aimReaderAt(reader, file);
    return uprightSizeWith(reader);
}

QSize PictureLoader::uprightSize(const QByteArray &encoded)
{
    if (encoded.isEmpty())
        return {};
    return withReaderOn(encoded, [](QImageReader &reader) { return uprightSizeWith(reader); });
}

int PictureLoader::allocationLimitFor(qint64 physicalBytes)
{
    if (physicalBytes <= 0)
        return UnknownMemoryLimitMb;
    const qint64 halfMb = physicalBytes / 2 / MiB;
    return int(std::clamp<qint64>(halfMb, QtDefaultLimitMb, std::numeric_limits<int>::max()));
}

void PictureLoader::raiseAllocationLimit()
{
    QImageReader::setAllocationLimit(allocationLimitFor(physicalMemory()));
}

qint64 PictureLoader::physicalMemory()
{
#if defined(Q_OS_WIN)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    return qint64(status.ullTotalPhys);
#elif defined(Q_OS_UNIX)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return qint64(pages) * qint64(pageSize);
#else
    return 0;
#endif
}

} // namespace Quillmark
