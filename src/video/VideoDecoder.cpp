#include "video/VideoDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMediaMetaData>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVideoSink>

#include <algorithm>
#include <cmath>
#include <limits>

// What Qt 6.4's FFmpeg back-end does, and what this decoder is built on:
// - setSource() reads the file's header on the calling thread and reports the
//   media states from inside the call; a missing or unreadable file is an error
//   followed by a loaded state with no duration, never InvalidMedia.
// - A paused player renders one frame after pause() and after each seek, as a
//   software frame that toImage() converts on the CPU. The frame's start time is
//   its presentation time stamp.
// - After a seek the back-end shows the first frame that starts at or after the
//   position: a position rounded up past a frame's start shows the next frame.
// - With H.264, once the decoder has reached the end of the stream a paused
//   setPosition() renders nothing more; play() followed by pause() does. Playing
//   on from a paused frame renders the next frames in order, sometimes one or two
//   beyond the pause.
// - The duration is that of the longest stream: a file whose audio outlasts its
//   video announces frames past the last picture, and a seek there reports the
//   end of the stream without a frame.
// - Matroska, WebM and FLV files report no duration, so they cannot be opened.
// - A file URL reaches FFmpeg percent-encoded: a path with characters beyond
//   ASCII (a folder named Masaüstü) names no file there.

namespace Quillmark {

namespace {

const QString invalidMediaText = QStringLiteral("Invalid media / unsupported format");
const QString noMetadataText = QStringLiteral("Could not read video metadata");
const QString openTimedOutText = QStringLiteral("Timed out opening the video");
const QString noFrameText = QStringLiteral("No video frame could be decoded");

constexpr float defaultFps = 25.0f;
constexpr double highestFps = 1000.0;
constexpr int largestFrameCount = std::numeric_limits<int>::max() / 2;
// A frame without a time stamp: it can only be taken for the frame asked for.
constexpr int unknownIndex = std::numeric_limits<int>::min();
// How long a request may still wait once the back-end has reported the end of
// the stream.
constexpr int endOfStreamGraceMs = 500;
// When the first frame of an open is late, the player is asked again.
constexpr int firstFrameNudgeMs = 1000;
// How often one request seeks again: after the player ran past its frame, or
// when the frame is late (a busy machine can leave a seek without a frame, or
// without the report of the end of the stream).
constexpr int maxReseeks = 3;
constexpr int lateFrameNudgeMs = 1000;

// A frame rate that can be trusted, or 0.
float usableFrameRate(const QVariant &value)
{
    bool ok = false;
    const double rate = value.toDouble(&ok);
    if (!value.isValid() || !ok || !std::isfinite(rate) || rate <= 0.0 || rate > highestFps)
        return 0.0f;
    return float(rate);
}

bool isPlainAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

// A link with a plain name in the temporary folder to `file`, for the
// back-end to open instead; empty when none could be made.
QString plainLinkTo(const QFileInfo &file)
{
#ifdef Q_OS_UNIX
    const QString folder = QDir::tempPath();
    if (!isPlainAscii(folder))
        return {};
    const QString suffix = file.suffix();
    for (int attempt = 0; attempt < 8; ++attempt) {
        QString name = QStringLiteral("quillmark_src_%1_%2")
                           .arg(QCoreApplication::applicationPid())
                           .arg(QString::number(QRandomGenerator::global()->generate64(), 36));
        if (!suffix.isEmpty() && isPlainAscii(suffix))
            name += QLatin1Char('.') + suffix;
        const QString link = QDir(folder).filePath(name);
        if (QFile::link(file.absoluteFilePath(), link))
            return link;
    }
#else
    Q_UNUSED(file);
#endif
    return {};
}

QSize usableSize(const QVariant &value)
{
    const QSize size = value.toSize();
    return size.isValid() && !size.isEmpty() ? size : QSize();
}

} // namespace

VideoDecoder::VideoDecoder(QObject *parent) : QObject(parent)
{
    // Debian's GStreamer media back-end lacks the common decoders (and crashes
    // where its plugins are missing); use FFmpeg unless the user chose a
    // back-end. Read when the first player is made, whoever makes it.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    player = new QMediaPlayer(this);
    sink = new QVideoSink(this);
    player->setVideoSink(sink);

    openTimer = new QTimer(this);
    openTimer->setSingleShot(true);
    connect(openTimer, &QTimer::timeout, this, &VideoDecoder::onOpenTimeout);
    frameTimer = new QTimer(this);
    frameTimer->setSingleShot(true);
    connect(frameTimer, &QTimer::timeout, this, &VideoDecoder::onFrameTimeout);
}

VideoDecoder::~VideoDecoder()
{
    // The player's threads stop before the sink they render into goes away.
    reset();
    delete player;
    player = nullptr;
}

void VideoDecoder::reset()
{
    ++generation;
    for (const QMetaObject::Connection &connection : std::as_const(backendConnections))
        disconnect(connection);
    backendConnections.clear();
    openTimer->stop();
    frameTimer->stop();
    player->stop();
    player->setSource(QUrl());
    // The back-end has let go of the file: its link goes too.
    if (!sourceLink.isEmpty()) {
        QFile::remove(sourceLink);
        sourceLink.clear();
    }

    ready = false;
    sourcePath.clear();
    frames = 0;
    frameWidth = 0;
    frameHeight = 0;
    frameRate = defaultFps;
    deliveredFrame = 0;
    requestedFrame = -1;
    opening = false;
    metadataRead = false;
    originUs = 0;
    awaiting = false;
    reseeks = 0;
    playingForward = false;
    commanding = false;
    lastRendered = QVideoFrame();
    lastRenderedIndex = -1;
}

void VideoDecoder::connectBackend()
{
    const quint64 current = generation;
    backendConnections.append(
        connect(player, &QMediaPlayer::mediaStatusChanged, this, [this, current](QMediaPlayer::MediaStatus status) {
            if (current == generation)
                onMediaStatusChanged(status);
        }));
    backendConnections.append(
        connect(player, &QMediaPlayer::errorOccurred, this, [this, current](QMediaPlayer::Error error) {
            if (current == generation && opening && error != QMediaPlayer::NoError)
                failOpen(invalidMediaText);
        }));
    // Frames come from the back-end's render thread, queued: a frame rendered for
    // an earlier file still carries that file's generation when it arrives.
    backendConnections.append(
        connect(sink, &QVideoSink::videoFrameChanged, this, [this, current](const QVideoFrame &frame) {
            if (current == generation)
                onVideoFrameChanged(frame);
        }));
}

void VideoDecoder::open(const QString &path)
{
    reset();
    sourcePath = path;
    opening = true;
    connectBackend();
    openTimer->start(openTimeoutMs);

    // The back-end reads the header on this thread: a pipe or a device would
    // block the window for good.
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        failOpen(invalidMediaText);
        return;
    }
    QString source = info.absoluteFilePath();
    if (!isPlainAscii(source)) {
        sourceLink = plainLinkTo(info);
        if (!sourceLink.isEmpty())
            source = sourceLink;
    }
    commanding = true;
    player->setSource(QUrl::fromLocalFile(source));
    if (opening)
        player->pause();
    commanding = false;
}

void VideoDecoder::close()
{
    reset();
}

void VideoDecoder::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (!opening) {
        // A request past the last picture ends in the end of the stream and no
        // frame. Reports made inside our own calls describe the state before them.
        const bool cutShort = ready && awaiting && !commanding && status == QMediaPlayer::EndOfMedia;
        if (cutShort && frameTimer->remainingTime() > endOfStreamGraceMs)
            frameTimer->start(endOfStreamGraceMs);
        return;
    }
    switch (status) {
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferedMedia:
    case QMediaPlayer::EndOfMedia:
        if (metadataRead)
            return;
        if (!readMetadata()) {
            failOpen(noMetadataText);
            return;
        }
        metadataRead = true;
        // A first frame that came before the media states completes the open now.
        if (lastRendered.isValid()) {
            completeOpen(lastRendered);
            return;
        }
        nudgeForFirstFrame(firstFrameNudgeMs);
        nudgeForFirstFrame(3 * firstFrameNudgeMs);
        return;
    case QMediaPlayer::InvalidMedia:
        failOpen(invalidMediaText);
        return;
    default:
        return;
    }
}

bool VideoDecoder::readMetadata()
{
    const QList<QMediaMetaData> tracks = player->videoTracks();
    if (!player->hasVideo() && tracks.isEmpty())
        return false;
    QMediaMetaData track;
    if (!tracks.isEmpty()) {
        const int active = player->activeVideoTrack();
        track = tracks.at(active >= 0 && active < tracks.size() ? active : 0);
    }
    const QMediaMetaData media = player->metaData();

    float rate = usableFrameRate(media.value(QMediaMetaData::VideoFrameRate));
    if (rate <= 0.0f)
        rate = usableFrameRate(track.value(QMediaMetaData::VideoFrameRate));
    frameRate = rate > 0.0f ? rate : defaultFps;

    QSize size = usableSize(media.value(QMediaMetaData::Resolution));
    if (size.isEmpty())
        size = usableSize(track.value(QMediaMetaData::Resolution));
    frameWidth = size.width() > 0 ? size.width() : 0;
    frameHeight = size.height() > 0 ? size.height() : 0;

    const qint64 duration = player->duration();
    if (duration <= 0)
        return false;
    const double count = std::round(double(duration) * double(frameRate) / 1000.0);
    frames = int(std::clamp(count, 0.0, double(largestFrameCount)));
    return frames > 0;
}

void VideoDecoder::onVideoFrameChanged(const QVideoFrame &frame)
{
    if (!frame.isValid())
        return;
    if (opening) {
        if (metadataRead)
            completeOpen(frame);
        else
            lastRendered = frame;
        return;
    }
    if (!ready)
        return;
    const int index = frameIndexOf(frame);
    lastRendered = frame;
    lastRenderedIndex = index;
    if (!awaiting)
        return;
    // A frame from before the request, or one played past it.
    if (index != unknownIndex && index != requestedFrame) {
        // Past the frame asked for, the player renders nothing more for this
        // request: it ran on between the seek and the pause, or skipped the
        // frame while playing on, both when a busy machine holds this thread
        // up. It seeks to the frame again, a few times at most.
        if (index > requestedFrame && reseeks < maxReseeks) {
            ++reseeks;
            seekBackend(requestedFrame);
        }
        return;
    }
    if (playingForward) {
        playingForward = false;
        commanding = true;
        player->pause();
        commanding = false;
    }
    deliver(frame);
}

void VideoDecoder::completeOpen(const QVideoFrame &first)
{
    // A picture that cannot be converted would fail every request.
    const QImage image = first.toImage();
    if (image.isNull()) {
        failOpen(noFrameText);
        return;
    }
    opening = false;
    openTimer->stop();
    originUs = std::max<qint64>(first.startTime(), 0);
    if (frameWidth <= 0 || frameHeight <= 0) {
        frameWidth = image.width();
        frameHeight = image.height();
    }
    ready = true;
    lastRendered = first;
    lastRenderedIndex = 0;
    announceOpen(true, QString());
}

void VideoDecoder::failOpen(const QString &error)
{
    if (!opening)
        return;
    opening = false;
    openTimer->stop();
    announceOpen(false, error);
}

void VideoDecoder::announceOpen(bool ok, const QString &error)
{
    // Never from inside open() or the player's own calls: a caller that starts a
    // wait after open() must still see the answer.
    const quint64 current = generation;
    QMetaObject::invokeMethod(
        this,
        [this, current, ok, error] {
            if (current != generation)
                return;
            if (!ok) {
                // The file is released; its path stays for the caller's message.
                const QString failedPath = sourcePath;
                reset();
                sourcePath = failedPath;
                emit opened(false, error);
                return;
            }
            emit opened(true, QString());
            // Frame 0 follows unless the handler asked for a frame (or closed).
            if (current == generation && ready && requestedFrame < 0)
                seekToFrame(0);
        },
        Qt::QueuedConnection);
}

void VideoDecoder::nudgeForFirstFrame(int delayMs)
{
    // Should the paused player not render its first frame, a seek to the start
    // asks for it once more.
    QTimer::singleShot(delayMs, this, [this, current = generation] {
        if (current != generation || !opening || !metadataRead)
            return;
        commanding = true;
        player->setPosition(positionOfFrame(0));
        player->play();
        player->pause();
        commanding = false;
    });
}

void VideoDecoder::onOpenTimeout()
{
    if (opening)
        failOpen(metadataRead ? noFrameText : openTimedOutText);
}

int VideoDecoder::frameIndexOf(const QVideoFrame &frame) const
{
    const qint64 start = frame.startTime();
    if (start < 0)
        return unknownIndex;
    const double index = std::round(double(start - originUs) * double(frameRate) / 1e6);
    return int(std::clamp(index, -1.0, double(largestFrameCount)));
}

qint64 VideoDecoder::positionOfFrame(int frame) const
{
    // Half a frame before the frame's start, so that neither a rounded frame rate
    // nor millisecond steps can land past the start and show the next frame.
    const double originMs = double(originUs) / 1000.0;
    if (frame <= 0)
        return qint64(std::floor(originMs));
    return qint64(std::floor(originMs + (double(frame) - 0.5) * 1000.0 / double(frameRate)));
}

void VideoDecoder::seekToFrame(int frame)
{
    if (!ready)
        return;
    const int target = std::clamp(frame, 0, std::max(frames - 1, 0));
    // The player rests on the frame it rendered last only when the previous
    // request has been answered.
    const bool settled = !awaiting || playingForward;
    requestedFrame = target;
    awaiting = true;
    reseeks = 0;
    ++requestSerial;
    frameTimer->start(frameTimeoutMs);
    nudgeLateFrame(lateFrameNudgeMs);

    if (lastRendered.isValid() && lastRenderedIndex == target) {
        if (playingForward) {
            playingForward = false;
            commanding = true;
            player->pause();
            commanding = false;
        }
        deliverLastRenderedLater();
        return;
    }
    const bool canPlayOn = playingForward || player->playbackState() == QMediaPlayer::PausedState;
    if (settled && canPlayOn && lastRenderedIndex >= 0 && target == lastRenderedIndex + 1) {
        if (!playingForward) {
            playingForward = true;
            commanding = true;
            player->play();
            commanding = false;
        }
        return;
    }
    seekBackend(target);
}

void VideoDecoder::nudgeLateFrame(int delayMs)
{
    QTimer::singleShot(delayMs, this, [this, current = generation, serial = requestSerial, delayMs] {
        if (current != generation || serial != requestSerial || !awaiting || reseeks >= maxReseeks)
            return;
        ++reseeks;
        seekBackend(requestedFrame);
        nudgeLateFrame(2 * delayMs);
    });
}

void VideoDecoder::seekBackend(int frame)
{
    playingForward = false;
    commanding = true;
    player->setPosition(positionOfFrame(frame));
    player->play();
    player->pause();
    commanding = false;
}

void VideoDecoder::deliverLastRenderedLater()
{
    const quint64 current = generation;
    const int target = requestedFrame;
    QMetaObject::invokeMethod(
        this,
        [this, current, target] {
            if (current != generation || !awaiting || requestedFrame != target)
                return;
            if (!lastRendered.isValid() || lastRenderedIndex != target) {
                seekBackend(target);
                return;
            }
            deliver(lastRendered);
        },
        Qt::QueuedConnection);
}

void VideoDecoder::deliver(const QVideoFrame &frame)
{
    const QImage image = frame.toImage();
    // A frame that cannot be converted is skipped; the request waits on.
    if (image.isNull())
        return;
    awaiting = false;
    frameTimer->stop();
    deliveredFrame = requestedFrame;
    emit frameReady(requestedFrame, image);
}

void VideoDecoder::onFrameTimeout()
{
    if (!awaiting)
        return;
    awaiting = false;
    if (playingForward) {
        playingForward = false;
        commanding = true;
        player->pause();
        commanding = false;
    }
    // Where the player rests is unknown now: the next request seeks.
    lastRendered = QVideoFrame();
    lastRenderedIndex = -1;
    emit frameFailed(requestedFrame);
}

} // namespace Quillmark
