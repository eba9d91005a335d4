// Which image is current, loading its pixels in the background, stepping
// through the images, and keeping bars, panels and statistics in step with the
// project.

#include "app/MainWindow.h"

#include "app/DefaultTool.h"
#include "app/PictureDecodeQueue.h"
#include "model/ClassTally.h"
#include "canvas/LabelCanvas.h"
#include "canvas/StatsOverlay.h"
#include "chrome/SideToolBar.h"
#include "chrome/ToolBar.h"
#include "chrome/TopBar.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

#include <cmath>
#include <memory>

namespace Quillmark {

int MainWindow::imagePosition(int imageId) const
{
    const QList<ImageEntry> &images = project.dataset.images;
    for (qsizetype i = 0; i < images.size(); ++i) {
        if (images.at(i).id == imageId)
            return int(i);
    }
    return 0;
}

void MainWindow::showImagePosition(int imageId)
{
    const QString position =
        QStringLiteral("%1 / %2").arg(imagePosition(imageId) + 1).arg(project.dataset.images.size());
    topBar->setInfoText(position);
    positionLabel->setText(position);
}

void MainWindow::updateZoomLabel()
{
    // Without a picture the canvas has no zoom of its own to show.
    const long percent = canvas->hasPicture() ? std::lround(double(canvas->viewScale()) * 100.0) : 100;
    if (zoomLabel)
        zoomLabel->setText(QStringLiteral("%1%").arg(percent));
}

void MainWindow::selectImage(int imageId)
{
    currentImageId = imageId;
    const ImageEntry *entry = project.dataset.imageById(imageId);
    if (!entry)
        return;

    filmStrip->setCurrent(imageId);
    showImagePosition(imageId);
    mediaNameLabel->setText(QFileInfo(entry->filePath).fileName());

    if (!entry->image.isNull()) {
        displayedFrame = -1;
        canvas->setImage(*entry);
        annotationPanel->setAnnotations(*entry);
        updateZoomLabel();
        return;
    }

    // Decoded on a worker, a few at a time, the latest selection first; the
    // canvas keeps showing the previous entry, and its edits keep going to
    // that entry, until the pixels arrive.
    if (!pictureDecodes)
        pictureDecodes = new PictureDecodeQueue(this);
    const ImageEntry copy = *entry;
    const QString name = QFileInfo(entry->filePath).fileName();
    // Shown again (a refresh): its problem was told when it was selected.
    const bool reshown = canvas->displayedEntryId() == imageId;
    const quint64 generation = projectGeneration;
    pictureDecodes->request(copy, generation,
                            [this, copy, generation, name, reshown](const PictureDecodeQueue::Result &result) {
                                onImageLoaded(copy, generation, result.pixels);
                                // The placeholder alone would leave the user guessing.
                                if (result.pixels.isNull() && !reshown && generation == projectGeneration
                                    && copy.id == currentImageId && !videoMode)
                                    statusBar()->showMessage(
                                        QStringLiteral("Cannot open %1: %2").arg(name, result.problem), 6000);
                            });
}

void MainWindow::showListedImage(int imageId)
{
    selectImage(imageId);
    imageListPanel->followShown(imageId);
}

int MainWindow::listedImageAfter(int step) const
{
    const QList<ImageEntry> &images = project.dataset.images;
    const qsizetype n = images.size();
    const qsizetype from = imagePosition(currentImageId);
    // Without a filter the first candidate is listed: one look.
    for (qsizetype k = 1; k <= n; ++k) {
        const qsizetype i = ((from + step * k) % n + n) % n;
        if (imageListPanel->showsValue(images.at(i).id))
            return images.at(i).id;
    }
    return -1;
}

int MainWindow::firstListedImage(bool last) const
{
    const QList<ImageEntry> &images = project.dataset.images;
    const qsizetype n = images.size();
    for (qsizetype k = 0; k < n; ++k) {
        const ImageEntry &image = images.at(last ? n - 1 - k : k);
        if (imageListPanel->showsValue(image.id))
            return image.id;
    }
    return -1;
}

void MainWindow::syncListWithCanvas()
{
    if (videoMode)
        imageListPanel->followShown(~currentVideoId);
    else if (project.dataset.imageById(currentImageId))
        imageListPanel->followShown(currentImageId);
    else
        imageListPanel->followShown(std::nullopt);
}

void MainWindow::refreshFilmStrip()
{
    if (!imageListPanel->isFiltered()) {
        filmStrip->setDataset(project.dataset.images);
        return;
    }
    QList<ImageEntry> listed;
    for (const ImageEntry &image : std::as_const(project.dataset.images)) {
        if (imageListPanel->showsValue(image.id))
            listed.append(image);
    }
    filmStrip->setDataset(listed);
}

void MainWindow::onListFilterChanged()
{
    refreshFilmStrip();
    // The list has made its first row current and shown it; with no row left,
    // the canvas shows nothing either.
    if (imageListPanel->currentValue())
        return;
    if (videoMode)
        resetVideoState();
    showNoImage();
}

void MainWindow::onImageLoaded(const ImageEntry &loaded, quint64 generation, const QImage &image)
{
    // A later selection, or a switch to a video, wins over a slow load; so does
    // another project, even when one of its images has the same id.
    if (generation != projectGeneration || loaded.id != currentImageId || videoMode)
        return;
    // The dataset's entry, not the worker's copy: its annotations may have
    // changed while the pixels were decoded. Its file must still be the one read.
    const ImageEntry *entry = project.dataset.imageById(loaded.id);
    if (!entry || entry->filePath != loaded.filePath)
        return;
    displayedFrame = -1;
    canvas->setImageFromPixmap(*entry, QPixmap::fromImage(image));
    annotationPanel->setAnnotations(*entry);
    updateZoomLabel();
}

void MainWindow::onImageSelected(int imageId)
{
    // A video import waits for the decoder, which leaving video mode would close.
    if (videoImportPending)
        return;
    if (imageId < 0) {
        onVideoItemSelected(~imageId);
        return;
    }
    if (videoMode)
        leaveVideoModeForImage();
    selectImage(imageId);
}

void MainWindow::onNext()
{
    if (videoMode) {
        const VideoEntry *video = project.dataset.videoById(currentVideoId);
        if (video && currentFrame < video->frameCount - 1)
            seekVideoFrame(currentFrame + 1);
        return;
    }
    stepListedImage(1);
}

void MainWindow::onPrev()
{
    if (videoMode) {
        if (project.dataset.videoById(currentVideoId) && currentFrame > 0)
            seekVideoFrame(currentFrame - 1);
        return;
    }
    stepListedImage(-1);
}

void MainWindow::stepListedImage(int step)
{
    if (project.dataset.images.isEmpty())
        return;
    // Steps go through the images the Files list shows, so that the list
    // always highlights the image on the canvas.
    const int id = listedImageAfter(step);
    if (id < 0) {
        statusBar()->showMessage(QStringLiteral("The Files list shows no image: check \"Labeled\" or "
                                                "\"Unlabeled\"."),
                                 3000);
        return;
    }
    showListedImage(id);
}

void MainWindow::onApprove()
{
    statusBar()->showMessage(QStringLiteral("Done."), 2000);
    onNext();
}

void MainWindow::onDiscard()
{
    statusBar()->showMessage(QStringLiteral("Discarded."), 2000);
    onNext();
}

void MainWindow::refreshUi(ClassSync classes)
{
    toolBar->setProjectOpen(projectIsOpen());
    // Without a project nothing can be added to one: the panels' add buttons
    // wait as the tool bar's import buttons do.
    imageListPanel->addButton()->setEnabled(projectIsOpen());
    annotationPanel->addButton()->setEnabled(projectIsOpen());
    annotationPanel->setProjectOpen(projectIsOpen());
    toolBar->setPlaybackEnabled(projectIsOpen() && videoMode);
    // A pass over every annotation: skipped where the caller has just made it.
    if (classes == ClassSync::Needed)
        project.dataset.syncClassesFromAnnotations();
    imageListPanel->setStatusText(project.name);
    imageListPanel->setDataset(project.dataset);
    refreshFilmStrip();
    pushClassColors();
    canvas->setKeypointSchema(project.dataset.keypointSchema);
    canvas->setDrawingNeedsType(project.projectType.isEmpty());
    refreshStats();

    if (project.dataset.images.isEmpty()) {
        currentImageId = -1;
        if (!videoMode) {
            clearCanvas();
            annotationPanel->clear();
        }
        topBar->setInfoText(QString());
        return;
    }
    if (!project.dataset.imageById(currentImageId))
        currentImageId = firstListedImage();
    if (videoMode) {
        // Edits still go to the frame on the canvas: keep showing it.
        reshowCurrentFrame();
        return;
    }
    if (currentImageId < 0) {
        // The list shows none of the images.
        showNoImage();
        syncListWithCanvas();
        return;
    }
    // An image the list does not show stays on the canvas (its state changed
    // under a filter); the list then highlights nothing.
    syncListWithCanvas();
    selectImage(currentImageId);
}

void MainWindow::refreshStats()
{
    int labelledImages = 0;
    int annotationCount = 0;
    ClassTally perClassTally;
    for (const ImageEntry &image : std::as_const(project.dataset.images)) {
        if (!image.labels.isEmpty())
            ++labelledImages;
        annotationCount += int(image.labels.size());
        for (const Annotation &annotation : image.labels)
            perClassTally.add(annotation.className);
    }
    int annotatedFrames = 0;
    int totalFrames = 0;
    for (const VideoEntry &video : std::as_const(project.dataset.videos)) {
        totalFrames += video.frameCount;
        for (const QList<Annotation> &frame : video.frameLabels) {
            if (!frame.isEmpty())
                ++annotatedFrames;
            annotationCount += int(frame.size());
            for (const Annotation &annotation : frame)
                perClassTally.add(annotation.className);
        }
    }
    const QMap<QString, int> perClass = perClassTally.counts();

    const int images = int(project.dataset.images.size());
    const int videos = int(project.dataset.videos.size());
    annotationPanel->updateStats(images, labelledImages, annotationCount, perClass, videos, annotatedFrames,
                                 totalFrames);
    if (!statsOverlay)
        return;
    statsOverlay->setStats(images, labelledImages, annotationCount, perClass, project.dataset.classColors, videos,
                           annotatedFrames, totalFrames);
    if (statsButton && !statsButton->isChecked())
        statsOverlay->hide();
}

void MainWindow::refreshVideoFrameAnnotations()
{
    const VideoEntry *video = project.dataset.videoById(currentVideoId);
    if (!video)
        return;
    const QList<Annotation> labels = video->frameLabels.value(currentFrame);
    // Replace the canvas's list only when it shows this very frame; a frame
    // still on its way brings its own list.
    if (displayedFrame >= 0 && canvas->displayedEntryId() == ~currentVideoId && displayedFrame == currentFrame)
        canvas->setAnnotations(labels);
    video = project.dataset.videoById(currentVideoId);
    if (!video)
        return;
    annotationPanel->setAnnotations(videoFrameEntry(currentVideoId, video->frameLabels.value(currentFrame)));
    imageListPanel->setVideoLabeled(currentVideoId, !video->frameLabels.isEmpty());
    updateVideoMarkers(currentVideoId);
}

void MainWindow::inferProjectType()
{
    if (!project.projectType.isEmpty() || project.dataset.images.isEmpty())
        return;
    int boxes = 0;
    int polygons = 0;
    int keypoints = 0;
    for (const ImageEntry &image : std::as_const(project.dataset.images)) {
        for (const Annotation &annotation : image.labels) {
            switch (annotation.kind) {
            case AnnotationKind::BoundingBox:
            case AnnotationKind::Point:
                ++boxes;
                break;
            case AnnotationKind::Polygon:
            case AnnotationKind::Polyline:
                ++polygons;
                break;
            case AnnotationKind::Keypoint:
                ++keypoints;
                break;
            }
        }
    }
    if (boxes == 0 && polygons == 0 && keypoints == 0)
        return;
    project.projectType = keypoints > 0   ? QStringLiteral("pose")
                          : polygons > 0 ? QStringLiteral("segmentation")
                                         : QStringLiteral("object_detection");
    updateTitle();
    applyDefaultTool();
}

void MainWindow::applyDefaultTool()
{
    const int tool = int(defaultToolForProjectType(project.projectType));
    sideToolBar->setTool(tool);
    canvas->setTool(tool);
}

} // namespace Quillmark
