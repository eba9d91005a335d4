#include "formats/AnnotatedFrameExtractor.h"

#include "model/MissingMedia.h"
#include "video/VideoDecoder.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

namespace Quillmark {

namespace {

// Grace on top of the decoder's own time limits, which answer first when the
// decoder works; the watchdog only catches a decoder that never answers.
constexpr int watchdogGraceMs = 1000;
constexpr int maxFailuresInRow = 3;

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
    for (const VideoEntry &video : videos)
        total += int(video.frameLabels.size());
    watchdog = new QTimer(this);
    watchdog->setSingleShot(true);
    connect(watchdog, &QTimer::timeout, this, &AnnotatedFrameExtractor::onWatchdog);
}

AnnotatedFrameExtractor::~AnnotatedFrameExtractor()
{
    delete decoder.data();
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
    if (running)
        return;
    running = true;
    // finished() never comes from inside start(), not even with nothing to do.
    QMetaObject::invokeMethod(this, &AnnotatedFrameExtractor::nextVideo, Qt::QueuedConnection);
}

void AnnotatedFrameExtractor::nextVideo()
{
    ++videoIndex;
    while (videoIndex < videos.size() && videos.at(videoIndex).frameLabels.isEmpty())
        ++videoIndex;
    if (videoIndex >= videos.size()) {
        running = false;
        emit finished();
        return;
    }
    const VideoEntry &video = videos.at(videoIndex);
    frameOrder = video.frameLabels.keys(); // ascending
    framePos = 0;
    requested = -1;
    failuresInRow = 0;
    videoLostFrames = false;
    if (openSource(video))
        return;
    // Missing or unwritable source: the video contributes no frames.
    skipFrames(int(frameOrder.size()));
    endVideo();
}

bool AnnotatedFrameExtractor::openSource(const VideoEntry &video)
{
    QString source = video.filePath;
    if (!video.bytes.isEmpty()) {
        const QString suffix = QFileInfo(video.filePath).suffix();
        tempVideo = std::make_unique<QTemporaryFile>(
            QDir::temp().filePath(QStringLiteral("qmkexport_vid%1_XXXXXX.%2")
                                      .arg(video.id)
                                      .arg(suffix.isEmpty() ? QStringLiteral("mp4") : suffix)));
        if (!tempVideo->open() || tempVideo->write(video.bytes) != video.bytes.size() || !tempVideo->flush())
            return false;
        source = tempVideo->fileName();
        tempVideo->close();
    }
    if (!mediaFileIsThere(source))
        return false;

    decoder = new VideoDecoder(this);
    decoder->setOpenTimeout(openTimeoutMs);
    decoder->setFrameTimeout(frameTimeoutMs);
    connect(decoder, &VideoDecoder::opened, this, [this](bool ok) { onOpened(ok); });
    connect(decoder, &VideoDecoder::frameReady, this, &AnnotatedFrameExtractor::onFrameReady);
    connect(decoder, &VideoDecoder::frameFailed, this, &AnnotatedFrameExtractor::onFrameFailed);
    awaitingOpen = true;
    armWatchdog(openTimeoutMs);
    decoder->open(source);
    return true;
}

void AnnotatedFrameExtractor::onOpened(bool ok)
{
    if (!awaitingOpen)
        return;
    awaitingOpen = false;
    watchdog->stop();
    if (!ok) {
        skipFrames(int(frameOrder.size()));
        endVideo();
        return;
    }
    requestNext();
}

void AnnotatedFrameExtractor::requestNext()
{
    // Frames past the video's end cannot be decoded: the decoder would answer
    // with its last frame instead.
    while (framePos < frameOrder.size() && frameOrder.at(framePos) >= decoder->frameCount()) {
        skipFrames(1);
        ++framePos;
    }
    if (framePos >= frameOrder.size()) {
        endVideo();
        return;
    }
    requested = frameOrder.at(framePos);
    armWatchdog(frameTimeoutMs);
    decoder->seekToFrame(requested);
}

void AnnotatedFrameExtractor::onFrameReady(int frameIdx, const QImage &image)
{
    if (requested < 0 || frameIdx != requested)
        return;
    watchdog->stop();
    failuresInRow = 0;
    takeFrame(frameIdx, image);
    ++framePos;
    requestNext();
}

void AnnotatedFrameExtractor::onFrameFailed(int frameIdx)
{
    if (requested < 0 || frameIdx != requested)
        return;
    watchdog->stop();
    skipFrames(1);
    ++framePos;
    // A video that fails several frames in a row will fail the rest too; each
    // failure costs the whole frame timeout, so its remaining frames are left.
    if (++failuresInRow >= maxFailuresInRow) {
        abandonVideo();
        return;
    }
    requestNext();
}

void AnnotatedFrameExtractor::onWatchdog()
{
    if (awaitingOpen) {
        // The open never answered.
        awaitingOpen = false;
        skipFrames(int(frameOrder.size()));
        endVideo();
        return;
    }
    // A decoder that does not even report a failure is given up on.
    abandonVideo();
}

void AnnotatedFrameExtractor::abandonVideo()
{
    skipFrames(int(frameOrder.size()) - framePos);
    endVideo();
}

void AnnotatedFrameExtractor::takeFrame(int frameIdx, const QImage &image)
{
    if (image.isNull()) {
        skipFrames(1);
        return;
    }
    const VideoEntry &video = videos.at(videoIndex);
    const QString name = frameFileName(bases.at(videoIndex), frameIdx);
    ImageEntry entry;
    entry.width = image.width();
    entry.height = image.height();
    entry.labels = video.frameLabels.value(frameIdx);
    if (folder.isEmpty()) {
        entry.imageData = jpegBytes(image);
        entry.filePath = name;
        if (entry.imageData.isEmpty()) {
            skipFrames(1);
            return;
        }
    } else {
        entry.filePath = QDir(folder).filePath(name);
        if (!image.save(entry.filePath, "JPEG", 95)) {
            skipFrames(1);
            return;
        }
    }
    extracted.append(entry);
    frameHandled();
}

void AnnotatedFrameExtractor::skipFrames(int count)
{
    if (count <= 0)
        return;
    skipped += count;
    if (!videoLostFrames) {
        videoLostFrames = true;
        lossyVideos.append(QFileInfo(videos.at(videoIndex).filePath).fileName());
    }
    for (int i = 0; i < count; ++i)
        frameHandled();
}

void AnnotatedFrameExtractor::frameHandled()
{
    ++done;
    emit progressed(done, total);
}

void AnnotatedFrameExtractor::endVideo()
{
    watchdog->stop();
    requested = -1;
    awaitingOpen = false;
    if (decoder)
        decoder->disconnect(this);
    // The decoder is closed from the event loop, never from inside one of its
    // own signals.
    QMetaObject::invokeMethod(this, &AnnotatedFrameExtractor::closeVideo, Qt::QueuedConnection);
}

void AnnotatedFrameExtractor::closeVideo()
{
    if (decoder) {
        decoder->close();
        decoder->deleteLater();
        decoder = nullptr;
    }
    // Only once the decoder has let go of it.
    tempVideo.reset();
    nextVideo();
}

void AnnotatedFrameExtractor::armWatchdog(int ms)
{
    watchdog->start(ms + watchdogGraceMs);
}

} // namespace Quillmark
