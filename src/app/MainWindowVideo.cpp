// Video mode: entering and leaving it, and the frame display state that the
// other command groups rely on.

#include "app/MainWindow.h"

#include "canvas/LabelCanvas.h"
#include "chrome/ToolBar.h"
#include "panels/AnnotationPanel.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

namespace Quillmark {

void MainWindow::setVideoMode(bool on)
{
    videoScrubber->setEnabled(on);
    videoScrubber->setVisible(on);
    scrubberSpacer->setVisible(!on);
    toolBar->setPlaybackEnabled(on);
    for (QShortcut *shortcut : std::as_const(videoShortcuts))
        shortcut->setEnabled(on);
}

void MainWindow::leaveVideoModeForImage()
{
    videoMode = false;
    slideshowPlaying = false;
    slideshowTimer->stop();
    setVideoMode(false);
    {
        const QSignalBlocker blocker(videoScrubber);
        videoScrubber->setRange(0, 0);
        videoScrubber->setValue(0);
    }
    videoScrubber->setMarkers({});
}

void MainWindow::resetVideoState()
{
    leaveVideoModeForImage();
    currentVideoId = -1;
    currentFrame = 0;
    videoImportPending = false;
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
    imageListPanel->selectVideo(currentVideoId);
    imageListPanel->setVideoLabeled(currentVideoId, !video->frameLabels.isEmpty());
    updateVideoMarkers(currentVideoId);
}

void MainWindow::seekVideoFrame(int /*frame*/) {}

void MainWindow::onImportVideo()
{
    if (refuseWhileJobRuns())
        return;
}

void MainWindow::onVideoItemSelected(int /*videoId*/) {}

void MainWindow::onVideoOpened(bool /*ok*/, const QString & /*error*/) {}

void MainWindow::onVideoFrameReady(int /*frameIdx*/, const QImage & /*image*/) {}

void MainWindow::onJumpBack() {}

void MainWindow::onJumpForward() {}

void MainWindow::onPlaySlideshow() {}

void MainWindow::onSlideshowTick() {}

} // namespace Quillmark
