#include "formats/ExportImageWriter.h"

#include "formats/ImageProbe.h"
#include "formats/SafeWrite.h"
#include "model/JobQueue.h"
#include "model/PathInFolder.h"
#include "model/RegularFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>

namespace Quillmark {

namespace {

QByteArray encodedPixels(const QImage &image, const QString &destination)
{
    QByteArray format = QFileInfo(destination).suffix().toLower().toLatin1();
    static const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
    if (!writable.contains(format))
        format = "png";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format.constData()))
        return {};
    return bytes;
}

// Whether the entry names a file of its own: a bare name is never looked up in
// the working folder.
bool hasAbsolutePath(const ImageEntry &image)
{
    return isAbsoluteFilePath(image.filePath);
}

// Whether the encoded bytes an entry holds instead of a file are refused.
bool holdsNoPictureBytes(const ImageEntry &image)
{
    if (image.imageData.isEmpty() && !image.storedBytes)
        return false; // decoded pixels, or nothing at all
    const QByteArray bytes = image.encodedBytes();
    return !bytes.isEmpty() && !isPictureData(bytes);
}

// The pixels an entry holds itself, written to the destination.
ExportImageResult writeHeldPixels(const ImageEntry &image, const QString &destination)
{
    // Encoded bytes go out as they are; decoded pixels are encoded by suffix.
    QByteArray bytes = image.encodedBytes();
    if (!bytes.isEmpty() && !isPictureData(bytes))
        return ExportImageResult::NotPicture;
    if (bytes.isEmpty() && !image.image.isNull()) {
        bytes = encodedPixels(image.image, destination);
        if (bytes.isEmpty())
            return ExportImageResult::Failed;
    }
    if (bytes.isEmpty())
        return ExportImageResult::NoPixels;
    return writeFileAtomically(destination, bytes) ? ExportImageResult::Written : ExportImageResult::Failed;
}

// The images written by one thread of writeExportImages at a time.
constexpr int kImagesPerJob = 16;

} // namespace

ExportImageResult writeExportImage(const ImageEntry &image, const QString &destination)
{
    if (hasAbsolutePath(image)) {
        switch (copyRegularFileAtomically(image.filePath, destination, isPictureData)) {
        case FileCopyResult::Copied:
            return ExportImageResult::Written;
        case FileCopyResult::SameFile:
            return ExportImageResult::IsSource;
        case FileCopyResult::Refused:
            return ExportImageResult::NotPicture;
        case FileCopyResult::Failed:
            return ExportImageResult::Failed;
        case FileCopyResult::NoSource:
            break; // the pixels the entry holds, if any
        }
    }
    return writeHeldPixels(image, destination);
}

ExportImagesOutcome writeExportImages(const QList<ImageEntry> &images, const QStringList &destinations,
                                      std::atomic<int> &done, std::atomic<bool> &stop)
{
    const int count = int(std::min(images.size(), destinations.size()));
    // Each thread writes the slots of its own images only.
    std::vector<ExportImageResult> results(size_t(count), ExportImageResult::Failed);
    std::vector<char> attempted(size_t(count), 0);
    const auto writeRange = [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            if (stop.load(std::memory_order_relaxed))
                return;
            const ExportImageResult result = writeExportImage(images.at(i), destinations.at(i));
            results[size_t(i)] = result;
            attempted[size_t(i)] = 1;
            if (result == ExportImageResult::Failed)
                stop.store(true);
            done.fetch_add(1, std::memory_order_relaxed);
        }
    };
    // Copies are mostly waits on the file system: several run at once even
    // on a machine of one core.
    const int threads = std::clamp(QThread::idealThreadCount(), 2, 8);
    if (count <= kImagesPerJob) {
        writeRange(0, count);
    } else {
        JobQueue queue(threads, 2 * threads);
        for (int first = 0; first < count && !stop.load(); first += kImagesPerJob) {
            const int end = std::min(count, first + kImagesPerJob);
            queue.submit([&writeRange, first, end](int) { writeRange(first, end); });
        }
        queue.finish();
    }

    ExportImagesOutcome outcome;
    outcome.written.resize(count);
    for (int i = 0; i < count; ++i) {
        if (!attempted[size_t(i)])
            continue;
        const ExportImageResult result = results[size_t(i)];
        outcome.written[i] = result == ExportImageResult::Written;
        if (result == ExportImageResult::NotPicture)
            outcome.notPictures.append(i);
        else if (result == ExportImageResult::NoPixels)
            outcome.missing.append(i);
        else if (result == ExportImageResult::Failed && outcome.failedIndex < 0)
            outcome.failedIndex = i;
    }
    return outcome;
}

bool writeExportImagesReporting(const QList<ImageEntry> &images, const QStringList &destinations,
                                const ProgressCallback &progress)
{
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    ExportImagesOutcome outcome;
    const int total = int(images.size());
    if (!progress) {
        outcome = writeExportImages(images, destinations, done, stop);
    } else {
        std::thread writer([&] { outcome = writeExportImages(images, destinations, done, stop); });
        int told = 0;
        const auto tell = [&] {
            for (const int now = done.load(); told < now;)
                progress(++told, total);
        };
        while (done.load() < total && !stop.load()) {
            tell();
            QThread::msleep(20);
        }
        writer.join();
        tell();
    }
    return outcome.failedIndex < 0 && outcome.notPictures.isEmpty();
}

ExportSource examineExportSource(const ImageEntry &image, bool readHead)
{
    if (hasAbsolutePath(image)) {
        if (!readHead) {
            if (QFileInfo(image.filePath).isFile())
                return ExportSource::Picture;
        } else {
            qint64 size = -1;
            const QByteArray head = readRegularFileHead(image.filePath, kCopyHeadBytes, &size);
            if (size >= 0)
                return isPictureData(head) ? ExportSource::Picture : ExportSource::NotPicture;
        }
    }
    if (!image.hasInMemoryImage())
        return ExportSource::Missing;
    return holdsNoPictureBytes(image) ? ExportSource::NotPicture : ExportSource::Picture;
}

QString refusedEntriesNote(int count, const QStringList &names)
{
    if (count <= 0)
        return QString();
    QStringList shown = names.mid(0, 5);
    if (count > shown.size())
        shown.append(QStringLiteral("…"));
    return QStringLiteral("%1 %2 no picture and %3 left out: %4")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("entry is") : QStringLiteral("entries are"))
        .arg(count == 1 ? QStringLiteral("was") : QStringLiteral("were"))
        .arg(shown.join(QStringLiteral(", ")));
}

} // namespace Quillmark
