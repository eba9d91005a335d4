#include "formats/AnnotatedFrameExtractor.h"

#include "model/MissingMedia.h"
#include "model/PathInFolder.h"
#include "video/VideoSource.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QSet>
#include <QTemporaryFile>
#include <QThreadPool>

#include <memory>

namespace Quillmark {

namespace {

QByteArray jpegBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 95))
        return {};
    return bytes;
}

} // namespace

AnnotatedFrameExtractor::AnnotatedFrameExtractor(const QList<VideoEntry> &videos, const QString &frameFolder,
                                                 QObject *parent)
    : QObject(parent), videos(videos), bases(uniqueFrameBases(videos)), folder(frameFolder)
{
    for (int v = 0; v < videos.size(); ++v) {
        for (auto it = videos.at(v).frameLabels.cbegin(); it != videos.at(v).frameLabels.cend(); ++it) // ascending
            work.push_back({v, it.key(), false, false, {}});
    }
    total = int(work.size());
    encoders = new QThreadPool(this);
}

AnnotatedFrameExtractor::~AnnotatedFrameExtractor()
{
    cancel = true;
    if (worker.joinable())
        worker.join();
    encoders->waitForDone();
}

QString AnnotatedFrameExtractor::frameFileName(const QString &base, int frameIndex)
{
    return QStringLiteral("%1_frame_%2.jpg").arg(base).arg(frameIndex, 6, 10, QLatin1Char('0'));
}

QStringList AnnotatedFrameExtractor::uniqueFrameBases(const QList<VideoEntry> &videos)
{
    QStringList result;
    result.reserve(videos.size());
    QSet<QString> taken;
    for (const VideoEntry &video : videos) {
        QString base = QFileInfo(video.filePath).completeBaseName();
        if (base.isEmpty())
            base = QStringLiteral("video");
        if (taken.contains(base.toCaseFolded())) {
            const QString withId = base + QLatin1Char('_') + QString::number(video.id);
            base = withId;
            for (int n = 2; taken.contains(base.toCaseFolded()); ++n)
                base = withId + QLatin1Char('_') + QString::number(n);
        }
        taken.insert(base.toCaseFolded());
        result.append(base);
    }
    return result;
}

void AnnotatedFrameExtractor::start()
{
    if (running || worker.joinable())
        return;
    running = true;
    // finished() never comes from inside start(): it is posted by the worker.
    worker = std::thread([this] { run(); });
}

void AnnotatedFrameExtractor::run()
{
    size_t first = 0;
    while (first < work.size() && !cancel) {
        size_t end = first;
        while (end < work.size() && work[end].video == work[first].video)
            ++end;
        extractVideo(work[first].video, first, end);
        first = end;
    }
    encoders->waitForDone();
    QMetaObject::invokeMethod(this, &AnnotatedFrameExtractor::collect, Qt::QueuedConnection);
}

void AnnotatedFrameExtractor::extractVideo(int video, size_t firstSlot, size_t endSlot)
{
    const VideoEntry &entry = videos.at(video);
    QString source = entry.filePath;
    std::unique_ptr<QTemporaryFile> copy;
    if (!entry.bytes.isEmpty()) {
        const QString suffix = QFileInfo(entry.filePath).suffix();
        copy = std::make_unique<QTemporaryFile>(QDir::temp().filePath(
            QStringLiteral("qmkexport_vid%1_XXXXXX.%2").arg(entry.id).arg(suffix.isEmpty() ? QStringLiteral("mp4") : suffix)));
        if (!copy->open() || copy->write(entry.bytes) != entry.bytes.size() || !copy->flush())
            source.clear();
        else
            source = copy->fileName();
    }
    VideoSource decoder;
    decoder.setCancelFlag(&cancel);
    if (!source.isEmpty() && mediaFileIsThere(source) && decoder.open(source))
        extractFrames(decoder, firstSlot, endSlot);
    // Frames not taken count as handled (skipped) at once; taken ones when encoded.
    for (size_t i = firstSlot; i < endSlot; ++i) {
        if (!work[i].decoded)
            frameHandled();
    }
}

void AnnotatedFrameExtractor::extractFrames(VideoSource &source, size_t firstSlot, size_t endSlot)
{
    // A few pictures wait for an encoder at most, so memory stays bounded
    // however far the decoding runs ahead.
    const int inFlight = std::max(2, encoders->maxThreadCount() * 2);
    auto room = std::make_shared<QSemaphore>(inFlight);
    for (size_t i = firstSlot; i < endSlot && !cancel; ++i) {
        Slot &slot = work[i];
        if (slot.frame >= source.frameCount())
            continue;
        const QImage image = source.picture(slot.frame);
        if (image.isNull())
            continue;
        slot.decoded = true;
        room->acquire();
        encoders->start([this, &slot, image, room] {
            encode(slot, image);
            room->release();
            frameHandled();
        });
    }
}

void AnnotatedFrameExtractor::encode(Slot &slot, const QImage &image)
{
    const QString name = frameFileName(bases.at(slot.video), slot.frame);
    ImageEntry entry;
    entry.width = image.width();
    entry.height = image.height();
    entry.labels = videos.at(slot.video).frameLabels.value(slot.frame);
    if (folder.isEmpty()) {
        entry.imageData = jpegBytes(image);
        entry.filePath = name;
        slot.taken = !entry.imageData.isEmpty();
    } else {
        entry.filePath = pathInFolder(folder, name);
        slot.taken = image.save(entry.filePath, "JPEG", 95);
    }
    if (slot.taken)
        slot.entry = entry;
}

void AnnotatedFrameExtractor::frameHandled()
{
    const int done = ++handled;
    QMetaObject::invokeMethod(this, [this, done] { emit progressed(done, total); }, Qt::QueuedConnection);
}

void AnnotatedFrameExtractor::collect()
{
    if (worker.joinable())
        worker.join();
    QSet<int> lossy;
    for (const Slot &slot : work) {
        if (slot.taken) {
            extracted.append(slot.entry);
            continue;
        }
        ++skipped;
        lossy.insert(slot.video);
    }
    for (int v = 0; v < videos.size(); ++v) {
        if (lossy.contains(v))
            lossyVideos.append(QFileInfo(videos.at(v).filePath).fileName());
    }
    running = false;
    emit finished();
}

} // namespace Quillmark
