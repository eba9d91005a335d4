#pragma once

// Reaches into the main window's state for tests: what a user could only set up
// through many dialogs (a project with images, a running job, video mode) is
// set directly, and the private steps are called by name.

#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"

namespace Quillmark {

class MainWindowTestAccess {
public:
    explicit MainWindowTestAccess(MainWindow &window) : w(window) {}

    Project &project() { return w.project; }
    QString &projectPath() { return w.projectPath; }
    bool &modified() { return w.modified; }
    std::function<bool(Project &, const QString &, QString *)> &projectFileReader() { return w.projectFileReader; }
    int &currentImageId() { return w.currentImageId; }
    bool &videoMode() { return w.videoMode; }
    int &currentVideoId() { return w.currentVideoId; }
    int &currentFrame() { return w.currentFrame; }
    int &displayedFrame() { return w.displayedFrame; }
    QTimer *busyTimer() { return w.busyTimer; }
    int resizeEdges() const { return w.resizeEdges; }
    bool resizing() const { return w.resizing; }

    void refreshUi() { w.refreshUi(); }
    void refreshStats() { w.refreshStats(); }
    void updateTitle() { w.updateTitle(); }
    void selectImage(int id) { w.selectImage(id); }
    quint64 startJob(std::function<void()> cancel = {}) { return w.startJob(std::move(cancel)); }
    void finishJob() { w.finishJob(); }
    bool runAiBatch(AiBatchRun::Task task) { return w.runAiBatch(std::move(task)); }
    void setVideoMode(bool on) { w.setVideoMode(on); }
    bool confirmUnsavedChanges(const QString &verb) { return w.confirmUnsavedChanges(verb); }
    void onClassesSelected(const QStringList &names) { w.onClassesSelected(names); }
    void bounceStep() { w.bounceStep(); }
    void applyKeypointTemplateOf(const QString &type) { w.applyKeypointTemplateOf(type); }

    // Shows a video frame on the canvas as the video player does.
    void showVideoFrame(int videoId, int frame, const QImage &pixels)
    {
        const VideoEntry *video = w.project.dataset.videoById(videoId);
        ImageEntry entry;
        entry.id = ~videoId;
        entry.filePath = video->filePath;
        entry.width = video->width;
        entry.height = video->height;
        entry.image = pixels;
        entry.labels = video->frameLabels.value(frame);
        w.currentVideoId = videoId;
        w.currentFrame = frame;
        w.displayedFrame = frame;
        w.videoMode = true;
        w.setVideoMode(true);
        w.canvas->setImage(entry);
    }

private:
    MainWindow &w;
};

} // namespace Quillmark
