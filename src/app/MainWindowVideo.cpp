// Video mode: importing a video, entering and leaving video mode, showing the
// frames that the decoder delivers, frame steps, jumps and the slideshow, and
// finding the file of a video: relocating a missing one, or writing a video held
// in memory to a temporary file.

#include "app/MainWindow.h"

#include "canvas/LabelCanvas.h"
#include "chrome/ToolBar.h"
#include "dialogs/Prompts.h"
#include "model/MissingMedia.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace Quillmark {

namespace {

// Every kind of file the decoder reads (its list of containers).
const QString videoFilter = QStringLiteral("Video Files (*.mp4 *.avi *.mov *.mkv *.webm *.wmv *.flv *.m4v *.3gp *.asf "
                                           "*.mpg *.mpeg *.vob *.m2v *.ts *.m2ts *.mts *.ogv *.ivf *.h264 *.264 *.hevc "
                                           "*.265 *.mjpeg)");
const QString lastVideoDirKey = QStringLiteral("lastVideoDir");
constexpr int jumpFrames = 10;
constexpr int slideshowIntervalMs = 100;

QString lastVideoDir()
{
    return QSettings().value(lastVideoDirKey, QDir::homePath()).toString();
}

void rememberVideoDir(const QString &file)
{
    QSettings().setValue(lastVideoDirKey, QFileInfo(file).absolutePath());
}

QString temporarySuffix(const VideoEntry &video)
{
    return QFileInfo(video.filePath).suffix().toLower();
}

// True when the file holds exactly these bytes; read a piece at a time, so a
// large video is never held twice.
bool fileHolds(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 piece = qint64(1) << 20;
    for (qint64 offset = 0; offset < bytes.size(); offset += piece) {
        const qint64 length = std::min(piece, bytes.size() - offset);
        const QByteArray read = file.read(length);
        if (read.size() != length || std::memcmp(read.constData(), bytes.constData() + offset, size_t(length)) != 0)
            return false;
    }
    return true;
}

// A new file in the temporary folder with the video's bytes: named after the
// video with a part unique to this run, and with the video's suffix, which the
// media back-end goes by. Empty when it could not be written completely; nothing
// is left behind then.
QString writeTemporaryVideo(const VideoEntry &video)
{
    QString name = QStringLiteral("quillmark_vid_%1_XXXXXX").arg(video.id);
    const QString suffix = temporarySuffix(video);
    if (!suffix.isEmpty())
        name += QLatin1Char('.') + suffix;
    QTemporaryFile file(QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).filePath(name));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    const bool written = file.write(video.bytes) == video.bytes.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return {};
    }
    return file.fileName();
}

} // namespace

void MainWindow::connectVideoDecoder()
{
    connect(&videoDecoder, &VideoDecoder::opened, this, &MainWindow::onVideoOpened);
    connect(&videoDecoder, &VideoDecoder::frameReady, this, &MainWindow::onVideoFrameReady);
    connect(&videoDecoder, &VideoDecoder::frameFailed, this, &MainWindow::onVideoFrameFailed);
}

void MainWindow::setVideoMode(bool on)
{
    videoScrubber->setEnabled(on);
    videoScrubber->setVisible(on);
    scrubberSpacer->setVisible(!on);
    toolBar->setPlaybackEnabled(on);
    for (QShortcut *shortcut : std::as_const(videoShortcuts))
        shortcut->setEnabled(on);
}

void MainWindow::resetScrubber(int frameCount)
{
    {
        const QSignalBlocker blocker(videoScrubber);
        videoScrubber->setRange(0, std::max(frameCount - 1, 0));
        videoScrubber->setValue(0);
    }
    videoScrubber->setMarkers({});
}

void MainWindow::stopSlideshow()
{
    slideshowPlaying = false;
    slideshowTimer->stop();
}

void MainWindow::leaveVideoModeForImage()
{
    videoMode = false;
    stopSlideshow();
    videoDecoder.close();
    setVideoMode(false);
    resetScrubber(0);
}

void MainWindow::resetVideoState()
{
    // An import cannot be pending here (project commands wait for it), but if
    // it were, its busy state must not outlive it.
    if (videoImportPending)
        finishJob();
    leaveVideoModeForImage();
    currentVideoId = -1;
    currentFrame = 0;
    videoImportPending = false;
    removeTempVideo();
}

void MainWindow::updateVideoMarkers(int videoId)
{
    const VideoEntry *video = project.dataset.videoById(videoId);
    if (!video || !videoScrubber)
        return;
    QSet<int> markers;
    for (auto it = video->frameLabels.cbegin(); it != video->frameLabels.cend(); ++it) {
        if (!it.value().isEmpty())
            markers.insert(it.key());
    }
    videoScrubber->setMarkers(markers);
}

void MainWindow::reshowCurrentFrame()
{
    const VideoEntry *video = project.dataset.videoById(currentVideoId);
    if (!video)
        return;
    annotationPanel->setAnnotations(videoFrameEntry(currentVideoId, video->frameLabels.value(currentFrame)));
    imageListPanel->followShown(~currentVideoId);
    imageListPanel->setVideoLabeled(currentVideoId, !video->frameLabels.isEmpty());
    updateVideoMarkers(currentVideoId);
}

void MainWindow::showFrameLabels(const VideoEntry &video, int frame)
{
    const QString name = QFileInfo(video.filePath).fileName();
    if (frame < 0) {
        mediaNameLabel->setText(name);
        positionLabel->setText(QStringLiteral("Frame 1 / %1").arg(video.frameCount));
        return;
    }
    mediaNameLabel->setText(name + QStringLiteral("  [frame %1/%2]").arg(frame + 1).arg(video.frameCount));
    positionLabel->setText(QStringLiteral("Frame %1 / %2").arg(frame + 1).arg(video.frameCount));
}

int MainWindow::lastVideoFrame() const
{
    const VideoEntry *video = project.dataset.videoById(currentVideoId);
    return video ? std::max(video->frameCount - 1, 0) : 0;
}

void MainWindow::seekVideoFrame(int frame)
{
    // The frame already on the canvas, with nothing else on its way, is not
    // shown again: that would drop the canvas's selection and undo history.
    const bool shown = displayedFrame == frame && canvas->displayedEntryId() == ~currentVideoId;
    if (shown && !videoDecoder.isAwaitingFrame() && videoDecoder.isOpen())
        return;
    videoDecoder.seekToFrame(frame);
}

void MainWindow::onImportVideo()
{
    if (refuseWhileJobRuns())
        return;
    const QString path =
        Prompts::current().getOpenFileName(this, QStringLiteral("Import Video"), lastVideoDir(), videoFilter);
    if (path.isEmpty())
        return;
    rememberVideoDir(path);
    for (const VideoEntry &video : std::as_const(project.dataset.videos)) {
        if (video.filePath == path) {
            statusBar()->showMessage(QStringLiteral("Video already imported."), 3000);
            return;
        }
    }

    // The decoder turns to the new file: the slideshow of the video shown ends.
    stopSlideshow();
    videoImportPending = true;
    startJob();
    beginProgress(0);
    statusBar()->showMessage(QStringLiteral("Opening video…"));
    videoDecoder.open(path);
}

void MainWindow::finishVideoImport(bool ok, const QString &error)
{
    videoImportPending = false;
    finishJob();
    const int frames = videoDecoder.frameCount();
    if (ok && frames > 0) {
        VideoEntry entry;
        entry.filePath = videoDecoder.path();
        entry.width = videoDecoder.width();
        entry.height = videoDecoder.height();
        entry.frameCount = frames;
        entry.fps = videoDecoder.fps();
        project.dataset.addVideo(entry);
        modified = true;
        currentVideoId = project.dataset.videos.constLast().id;
        currentFrame = 0;
        videoMode = true;
        setVideoMode(true);
        resetScrubber(frames);
        imageListPanel->setDataset(project.dataset);
        imageListPanel->followShown(~currentVideoId);
        filmStrip->setCurrent(-1);
        showFrameLabels(project.dataset.videos.constLast(), -1);
        refreshStats();
        updateTitle();
        statusBar()->showMessage(QStringLiteral("Video imported: %1  (%2 frames @ %3 fps)")
                                     .arg(QFileInfo(entry.filePath).fileName())
                                     .arg(frames)
                                     .arg(double(entry.fps), 0, 'f', 1),
                                 4000);
        return;
    }

    statusBar()->clearMessage();
    if (ok) {
        Prompts::current().warning(this, QStringLiteral("Import Video"),
                                   QStringLiteral("Video has no readable frames:\n%1").arg(videoDecoder.path()));
    } else {
        Prompts::current().warning(this, QStringLiteral("Import Video"),
                                   QStringLiteral("Failed to open video:\n%1").arg(error));
    }
    // The decoder left the video shown for the file that failed: back to it,
    // at the frame that was shown.
    if (videoMode && project.dataset.videoById(currentVideoId))
        reopenVideoAt(currentVideoId, currentFrame);
}

void MainWindow::reopenVideoAt(int videoId, int frame)
{
    onVideoItemSelected(videoId);
    if (frame <= 0 || !videoMode || currentVideoId != videoId)
        return;
    connect(
        &videoDecoder, &VideoDecoder::opened, this,
        [this, videoId, frame](bool ok) {
            if (ok && videoMode && currentVideoId == videoId)
                videoDecoder.seekToFrame(frame);
        },
        Qt::SingleShotConnection);
}

void MainWindow::onVideoOpened(bool ok, const QString &error)
{
    if (videoImportPending) {
        finishVideoImport(ok, error);
        return;
    }
    if (ok) {
        // A video stored without a frame count (or size) takes the decoder's, so
        // that its frames can be reached at all; so does one whose file holds
        // another number of frames than was stored (a file located since), so
        // that steps and the slideshow end at its last frame. Annotations past
        // the end stay where they are.
        VideoEntry *video = project.dataset.videoById(currentVideoId);
        const int decoded = videoDecoder.frameCount();
        if (videoMode && video && decoded > 0 && video->frameCount != decoded)
            takeFileFrameCount(*video, decoded);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Video açılamadı: ") + error, 4000);
    stopSlideshow();
    videoMode = false;
    setVideoMode(false);
    resetScrubber(0);
    // The list shows the video's row: no image is current, so the pixels of
    // one chosen before, still on their way, do not land on the canvas.
    currentImageId = -1;
    clearCanvas();
    annotationPanel->clear();
    mediaNameLabel->clear();
    positionLabel->clear();
}

void MainWindow::takeFileFrameCount(VideoEntry &video, int decoded)
{
    const int stored = video.frameCount;
    video.frameCount = decoded;
    if (video.width <= 0 || video.height <= 0) {
        video.width = videoDecoder.width();
        video.height = videoDecoder.height();
    }
    modified = true;
    updateTitle();
    refreshStats();
    resetScrubber(video.frameCount);
    updateVideoMarkers(currentVideoId);
    showFrameLabels(video, -1);
    if (stored <= 0)
        return;
    // Said, not done silently; labelled frames past the file's end are kept.
    const auto past = std::count_if(video.frameLabels.keyBegin(), video.frameLabels.keyEnd(),
                                    [decoded](int frame) { return frame >= decoded; });
    QString text = QStringLiteral("%1 has %2 frames, not %3 as stored; using the file's count.")
                       .arg(QFileInfo(video.filePath).fileName())
                       .arg(decoded)
                       .arg(stored);
    if (past > 0)
        text += QStringLiteral(" %1 labelled frame(s) past its end are kept.").arg(past);
    statusBar()->showMessage(text, 8000);
}

void MainWindow::onVideoItemSelected(int videoId)
{
    // The decoder is busy with an import's file; its answer comes first.
    if (videoImportPending)
        return;
    stopSlideshow();
    VideoEntry *video = project.dataset.videoById(videoId);
    if (!video)
        return;

    QString path;
    if (!video->bytes.isEmpty()) {
        path = temporaryVideoFor(*video);
    } else {
        if (!mediaFileIsThere(video->filePath) && !locateVideo(*video))
            return;
        path = video->filePath;
        // The temporary file of another video is not needed any more.
        removeTempVideo();
    }

    currentVideoId = videoId;
    currentFrame = 0;
    videoMode = true;
    setVideoMode(true);
    resetScrubber(video->frameCount);
    updateVideoMarkers(videoId);
    showFrameLabels(*video, -1);
    imageListPanel->followShown(~videoId);
    filmStrip->setCurrent(-1);
    // The canvas keeps what it shows, and takes its edits, until the first
    // frame arrives.
    videoDecoder.open(path);
}

bool MainWindow::locateVideo(VideoEntry &video)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Video not found"),
                    QStringLiteral("The video file could not be found:\n<b>%1</b>").arg(video.filePath.toHtmlEscaped()),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::RichText);
    QPushButton *locate = box.addButton(QStringLiteral("Locate…"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    if (Prompts::current().execMessageBox(box) != locate)
        return false;
    const QString chosen =
        Prompts::current().getOpenFileName(this, QStringLiteral("Locate Video"), lastVideoDir(), videoFilter);
    if (chosen.isEmpty())
        return false;
    video.filePath = chosen;
    modified = true;
    rememberVideoDir(chosen);
    // The list names the video by its file.
    imageListPanel->setDataset(project.dataset);
    imageListPanel->followShown(~video.id);
    return true;
}

QString MainWindow::temporaryVideoFor(const VideoEntry &video)
{
    const bool reusable = !tempVideoPath.isEmpty() && QFileInfo(tempVideoPath).suffix() == temporarySuffix(video) &&
                          fileHolds(tempVideoPath, video.bytes);
    if (reusable)
        return tempVideoPath;
    // Closes the decoder first when it reads the old file.
    removeTempVideo();
    tempVideoPath = writeTemporaryVideo(video);
    return tempVideoPath;
}

void MainWindow::onVideoFrameReady(int frameIdx, const QImage &image)
{
    if (!videoMode)
        return;
    const VideoEntry *video = project.dataset.videoById(currentVideoId);
    if (!video)
        return;
    currentFrame = frameIdx;
    {
        const QSignalBlocker blocker(videoScrubber);
        videoScrubber->setValue(frameIdx);
    }
    ImageEntry entry = videoFrameEntry(currentVideoId, video->frameLabels.value(frameIdx));
    entry.image = image;
    displayedFrame = frameIdx;
    canvas->setImage(entry);
    updateZoomLabel();
    annotationPanel->setAnnotations(entry);
    showFrameLabels(*video, frameIdx);
}

void MainWindow::onVideoFrameFailed(int frame)
{
    if (!videoMode)
        return;
    stopSlideshow();
    // The scrubber shows the frame on the canvas, not the one that failed.
    {
        const QSignalBlocker blocker(videoScrubber);
        videoScrubber->setValue(currentFrame);
    }
    statusBar()->showMessage(QStringLiteral("Frame %1 could not be decoded.").arg(frame + 1), 4000);
}

void MainWindow::onJumpBack()
{
    if (videoMode)
        seekVideoFrame(std::max(std::min(currentFrame - jumpFrames, lastVideoFrame()), 0));
}

void MainWindow::onJumpForward()
{
    if (videoMode)
        seekVideoFrame(std::max(std::min(currentFrame + jumpFrames, lastVideoFrame()), 0));
}

void MainWindow::onPlaySlideshow()
{
    if (!videoMode)
        return;
    slideshowPlaying = !slideshowPlaying;
    if (!slideshowPlaying) {
        slideshowTimer->stop();
        statusBar()->showMessage(QStringLiteral("Slideshow: paused."), 2000);
        return;
    }
    slideshowTimer->start(slideshowIntervalMs);
    statusBar()->showMessage(QStringLiteral("Slideshow: playing…  (click Play again to pause)"), 4000);
}

void MainWindow::onSlideshowTick()
{
    const VideoEntry *video = project.dataset.videoById(currentVideoId);
    if (!video || currentFrame >= video->frameCount - 1) {
        stopSlideshow();
        statusBar()->showMessage(QStringLiteral("Slideshow: reached end."), 3000);
        return;
    }
    // A slow frame is waited for: asking again would start its decoding over.
    const int next = currentFrame + 1;
    if (videoDecoder.isAwaitingFrame() && videoDecoder.pendingFrame() == next)
        return;
    seekVideoFrame(next);
}

} // namespace Quillmark
