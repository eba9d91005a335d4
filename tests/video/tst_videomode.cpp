// Video mode through the real main window, offscreen, on videos made by ffmpeg:
// import, stepping and jumping with the tool bar's buttons, the slideshow,
// annotating a frame across save and reopen, the temporary file of a packaged
// video, a missing video located again, and the busy state of an import that
// the user interrupts or that never settles. What the canvas shows is read from
// its pixels, where the user looks.

#include "AppTestSupport.h"
#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"
#include "VideoFixtures.h"

#include "canvas/Tool.h"
#include "formats/VideoSignature.h"
#include "chrome/ToolBar.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"
#include "video/VideoDecoder.h"

#include <QAbstractItemView>
#include <QBuffer>
#include <QtEndian>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Quillmark;
using namespace AppTest;

namespace {

constexpr int clipFrames = 100;
constexpr int clipWidth = 240;
constexpr int clipHeight = 136;
constexpr int otherFrames = 40;
constexpr int otherWidth = 192;
constexpr int otherHeight = 108;

// The index shown by the frame on the canvas, read from the widget's pixels.
int shownCode(MainWindow &window, int width, int height)
{
    LabelCanvas *canvas = window.labelCanvas();
    const QImage shot = canvas->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    return VideoFixture::frameCode(
        shot, width, height, [canvas, ratio](const QPointF &p) { return (canvas->toScreen(p) * ratio).toPoint(); });
}

// True once frame `frame` of the current video is on the canvas and nothing is
// on its way.
bool waitForFrame(MainWindow &window, int frame, int timeoutMs = QmTest::patienceMs)
{
    MainWindowTestAccess access(window);
    return QTest::qWaitFor(
        [&] {
            const VideoDecoder &decoder = window.videoDecoderObject();
            return window.isVideoMode() && decoder.isOpen() && !decoder.isAwaitingFrame() &&
                   access.displayedFrame() == frame && access.currentFrame() == frame &&
                   window.labelCanvas()->displayedEntryId() == ~access.currentVideoId();
        },
        timeoutMs);
}

// A typed, saved project of two images on disk, with the class "cat".
void imageProject(MainWindowTestAccess &access, const QTemporaryDir &dir)
{
    for (const QString &name : {QStringLiteral("A.png"), QStringLiteral("B.png")})
        access.project().dataset.addImage(imageEntry(writeImage(QDir(dir.path()), name, 80, 60, Qt::gray), 80, 60));
    access.project().projectType = QStringLiteral("object_detection");
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.projectPath() = dir.filePath(QStringLiteral("project.qmk"));
    access.refreshUi();
    access.updateTitle();
}

// One window with that project, shown.
struct Session {
    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access{window};

    Session()
    {
        imageProject(access, dir);
        window.show();
    }
};

VideoEntry videoEntry(const QString &path, int frames, int width, int height)
{
    VideoEntry video;
    video.filePath = path;
    video.frameCount = frames;
    video.width = width;
    video.height = height;
    return video;
}

// Whether this process still holds a file descriptor on a removed temporary video.
bool holdsRemovedTemporaryVideo()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t length = ::readlink(QFile::encodeName(fds.filePath(name)).constData(), target, sizeof target);
        if (length <= 0)
            continue;
        const QString link = QString::fromLocal8Bit(target, int(length));
        if (link.contains(QLatin1String("quillmark_vid_")) && link.endsWith(QLatin1String("(deleted)")))
            return true;
    }
    return false;
}

QPushButton *toolButton(MainWindow &window, ToolBar::Button which)
{
    return window.toolBarWidget()->button(which);
}

} // namespace

class TestVideoMode : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void importShowsTheFirstFrame();
    void importRefusals();
    void stepsAndJumpsClampAtBothEnds();
    void slideshowRunsToTheEnd();
    void oneFrameVideo();
    void annotatedFrameSurvivesSaveAndReopen();
    void editsBeforeTheFirstFrameStayWithTheImage();
    void packageVideoTemporaryFile();
    void temporaryFilesAreUniquePerRun();
    void selectionsWaitForAPendingImport();
    void importThatNeverSettlesEndsTheBusyState();
    void missingVideoIsLocated();
    void videoWithoutFolderIsNotTakenFromTheWorkingFolder();
    void videoStoredWithoutLengthTakesTheDecoders();
    void videoShorterThanStoredEndsWhereTheFileEnds();
    void projectVideoThatCannotBeOpened();
    void soundLongerThanPictureCountsPictures();
    void failedFrameLeavesTheScrubberOnTheFrameShown();
    void failedImportReturnsToTheFrameShown();
    void videoOnlyProjectReopenedOpensTheClickedRow();
    void rotatedClipExportsUprightFrames();
    void bFrameVideosExportTheLabelledPictures_data();
    void bFrameVideosExportTheLabelledPictures();
    void everyKindOfFileTheDialogOffersOpens();

private:
    // Imports `path` through the command and waits for its frame 0.
    bool importAndWait(MainWindow &window, const QString &path);

    QmTest::ScriptedPrompts prompts;
    std::unique_ptr<Session> session;
    QTemporaryDir fixtures;
    QString clip;
    QString other;
    QString oneFrame;
    QString garbage;
    QString zeroed;
    QString longAudio;
    QString damagedTail;
    QString portrait;
    QString xvid;
    QString transport;
};

void TestVideoMode::initTestCase()
{
    QVERIFY2(!VideoFixture::ffmpeg().isEmpty(), "Debian's ffmpeg is needed to make the test videos");
    const QDir root(fixtures.path());
    QString log;

    QVERIFY(root.mkpath(QStringLiteral("clip")));
    const QDir clipFramesDir(root.filePath(QStringLiteral("clip")));
    QVERIFY(VideoFixture::writeFrames(clipFramesDir, clipFrames, clipWidth, clipHeight));
    clip = root.filePath(QStringLiteral("clip.mp4"));
    QVERIFY2(VideoFixture::encode(clipFramesDir, QStringLiteral("25"), VideoFixture::h264Codec(25), clip, &log),
             qPrintable(log));

    QVERIFY(root.mkpath(QStringLiteral("other")));
    const QDir otherFramesDir(root.filePath(QStringLiteral("other")));
    QVERIFY(VideoFixture::writeFrames(otherFramesDir, otherFrames, otherWidth, otherHeight));
    other = root.filePath(QStringLiteral("other.avi"));
    QVERIFY2(VideoFixture::encode(otherFramesDir, QStringLiteral("25"), VideoFixture::mjpegCodec(), other, &log),
             qPrintable(log));

    oneFrame = root.filePath(QStringLiteral("one.mp4"));
    QVERIFY2(VideoFixture::encodeOneFrame(otherFramesDir.filePath(QStringLiteral("f00007.png")), oneFrame, &log),
             qPrintable(log));
    longAudio = root.filePath(QStringLiteral("longaudio.mp4"));
    QVERIFY2(VideoFixture::encodeWithLongerAudio(otherFramesDir, longAudio, &log), qPrintable(log));

    // A portrait clip stored sideways with a display matrix.
    const QString stored = root.filePath(QStringLiteral("stored.mp4"));
    QVERIFY2(VideoFixture::encode(otherFramesDir, QStringLiteral("25"), VideoFixture::h264Codec(12), stored, &log),
             qPrintable(log));
    portrait = root.filePath(QStringLiteral("portrait.mp4"));
    QVERIFY2(VideoFixture::runFfmpeg({QStringLiteral("-i"), stored, QStringLiteral("-c"), QStringLiteral("copy"),
                                      QStringLiteral("-metadata:s:v:0"), QStringLiteral("rotate=90"), portrait},
                                     &log),
             qPrintable(log));
    // The AVI of MJPEG pictures with the bytes of its last three pictures
    // zeroed, their chunks and the index kept: the file opens with all its
    // frames, and only those three fail to decode.
    {
        QByteArray bytes = VideoFixture::readAll(other);
        const qsizetype index = bytes.lastIndexOf("idx1");
        QVERIFY(index > 0);
        QList<qsizetype> chunks;
        for (qsizetype at = bytes.indexOf("00dc"); at >= 0 && at < index; at = bytes.indexOf("00dc", at + 4))
            chunks << at;
        QVERIFY(chunks.size() >= otherFrames);
        for (qsizetype i = chunks.size() - 3; i < chunks.size(); ++i) {
            const qsizetype at = chunks.at(i);
            const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
            QVERIFY(at + 8 + size <= bytes.size());
            std::fill(bytes.begin() + at + 8, bytes.begin() + at + 8 + size, '\0');
        }
        damagedTail = root.filePath(QStringLiteral("damagedtail.avi"));
        QVERIFY(VideoFixture::writeFile(damagedTail, bytes));
    }

    // MPEG-4 Part 2 with B-frames in AVI, as Xvid writes it: its packets carry
    // decode times only.
    xvid = root.filePath(QStringLiteral("xvid.avi"));
    QVERIFY2(VideoFixture::encode(otherFramesDir, QStringLiteral("25"),
                                  {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-bf"), QStringLiteral("2"),
                                   QStringLiteral("-vtag"), QStringLiteral("xvid"), QStringLiteral("-q:v"), QStringLiteral("3"),
                                   QStringLiteral("-g"), QStringLiteral("12")},
                                  xvid, &log),
             qPrintable(log));
    // H.264 with B-frames in a transport stream, as camcorders and TV
    // captures hold it: seeks by time land after the key packet.
    transport = root.filePath(QStringLiteral("transport.ts"));
    QVERIFY2(VideoFixture::encode(otherFramesDir, QStringLiteral("25"), VideoFixture::h264Codec(12), transport, &log),
             qPrintable(log));

    garbage = root.filePath(QStringLiteral("garbage.mp4"));
    QVERIFY(VideoFixture::writeFile(garbage, VideoFixture::noise(16 * 1024, 5)));
    // A sound container whose pictures are all zeros: it loads, yet no frame decodes.
    const QByteArray zeroedBytes = VideoFixture::withZeroedPictures(VideoFixture::readAll(clip));
    QVERIFY(!zeroedBytes.isEmpty());
    zeroed = root.filePath(QStringLiteral("zeroed.mp4"));
    QVERIFY(VideoFixture::writeFile(zeroed, zeroedBytes));
}

void TestVideoMode::init()
{
    prompts.calls.clear();
    prompts.answers.clear();
    Prompts::setOverride(&prompts);
    QSettings().clear();
    session = std::make_unique<Session>();
    QVERIFY(QTest::qWaitForWindowExposed(&session->window));
}

void TestVideoMode::cleanup()
{
    session.reset();
}

bool TestVideoMode::importAndWait(MainWindow &window, const QString &path)
{
    prompts.answers.enqueue(path);
    window.onImportVideo();
    return QTest::qWaitFor([&window] { return !window.isJobRunning(); }, QmTest::patienceMs) && waitForFrame(window, 0);
}

void TestVideoMode::importShowsTheFirstFrame()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    access.modified() = false;

    prompts.answers.enqueue(clip);
    window.onImportVideo();
    const QmTest::PromptCall ask = prompts.calls.constLast();
    QCOMPARE(ask.kind, QStringLiteral("open"));
    QCOMPARE(ask.title, QStringLiteral("Import Video"));
    QCOMPARE(ask.extra, QStringLiteral("Video Files (*.mp4 *.avi *.mov *.mkv *.webm *.wmv *.flv *.m4v *.3gp *.asf *.mpg "
                                       "*.mpeg *.vob *.m2v *.ts *.m2ts *.mts *.ogv *.ivf *.h264 *.264 *.hevc *.265 *.mjpeg)"));
    // Busy until the decoder answers.
    QVERIFY(window.isJobRunning());
    QVERIFY(!window.toolBarWidget()->isEnabled());
    QVERIFY(!window.imageList()->isEnabled());
    QVERIFY(window.progressBarWidget()->isVisible());
    QCOMPARE(statusText(window), QStringLiteral("Opening video…"));

    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Video imported: clip.mp4  (100 frames @ 25.0 fps)"),
                              QmTest::patienceMs);
    QVERIFY(!window.isJobRunning());
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisible());
    QCOMPARE(window.currentProject().dataset.videos.size(), 1);
    const VideoEntry video = window.currentProject().dataset.videos.constFirst();
    QCOMPARE(video.filePath, clip);
    QCOMPARE(video.frameCount, clipFrames);
    QCOMPARE(video.width, clipWidth);
    QCOMPARE(video.height, clipHeight);
    QCOMPARE(video.fps, 25.0f);
    QVERIFY(video.bytes.isEmpty());
    QVERIFY(video.frameLabels.isEmpty());
    QVERIFY(window.isModified());
    QCOMPARE(QSettings().value(QStringLiteral("lastVideoDir")).toString(), fixtures.path());

    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(window.labelCanvas()->displayedEntryId(), ~video.id);
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 0);
    QCOMPARE(window.mediaNameLabelWidget()->text(), QStringLiteral("clip.mp4  [frame 1/100]"));
    QCOMPARE(window.positionLabelWidget()->text(), QStringLiteral("Frame 1 / 100"));
    VideoScrubber *scrubber = window.videoScrubberWidget();
    QVERIFY(scrubber->isVisible());
    QVERIFY(scrubber->isEnabled());
    QCOMPARE(scrubber->maximum(), clipFrames - 1);
    QCOMPARE(scrubber->value(), 0);
    for (ToolBar::Button b : {ToolBar::Rewind, ToolBar::Play, ToolBar::FastForward})
        QVERIFY(toolButton(window, b)->isEnabled());
    QCOMPARE(window.imageList()->listView()->currentIndex().data(Qt::UserRole).toInt(), ~video.id);

    // Back to an image: video mode ends and the playback buttons go dark.
    const int imageId = window.currentProject().dataset.images.constFirst().id;
    window.onImageSelected(imageId);
    QVERIFY(!window.isVideoMode());
    QVERIFY(!window.videoDecoderObject().isOpen());
    for (ToolBar::Button b : {ToolBar::Rewind, ToolBar::Play, ToolBar::FastForward})
        QVERIFY(!toolButton(window, b)->isEnabled());
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), imageId);
    QVERIFY(!window.videoScrubberWidget()->isVisible());
}

void TestVideoMode::importRefusals()
{
    MainWindow &window = session->window;
    QVERIFY(importAndWait(window, clip));
    emit window.videoScrubberWidget()->valueChanged(3);
    QVERIFY(waitForFrame(window, 3));

    // The same file again.
    prompts.answers.enqueue(clip);
    window.onImportVideo();
    QCOMPARE(statusText(window), QStringLiteral("Video already imported."));
    QVERIFY(!window.isJobRunning());
    QCOMPARE(window.currentProject().dataset.videos.size(), 1);
    QVERIFY(window.videoDecoderObject().isOpen());

    // A cancelled dialog does nothing.
    prompts.answers.enqueue(QString());
    window.onImportVideo();
    QVERIFY(!window.isJobRunning());

    // A file that is no video: a warning, nothing added, and the video shown
    // before comes back, its frames reachable.
    prompts.answers.enqueue(garbage);
    window.onImportVideo();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Import Video"));
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("Failed to open video:\nInvalid media / unsupported format"));
    QCOMPARE(window.currentProject().dataset.videos.size(), 1);
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisible());
    QVERIFY(waitForFrame(window, 3));
    toolButton(window, ToolBar::Next)->click();
    QVERIFY(waitForFrame(window, 4));
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 4);
}

void TestVideoMode::stepsAndJumpsClampAtBothEnds()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    QVERIFY(importAndWait(window, clip));

    const auto press = [&window](ToolBar::Button which) {
        QPushButton *button = toolButton(window, which);
        if (!button->isEnabled())
            return false;
        button->click();
        return true;
    };
    const auto scrub = [&window](int value) {
        emit window.videoScrubberWidget()->valueChanged(value);
        return true;
    };
    struct Step {
        const char *what;
        std::function<bool()> act;
        int frame;
        bool asksNothing = false;
    };
    const QList<Step> steps = {
        {"previous at the first frame", [&] { return press(ToolBar::Prev); }, 0, true},
        {"jump back at the first frame", [&] { return press(ToolBar::Rewind); }, 0},
        {"next", [&] { return press(ToolBar::Next); }, 1},
        {"jump forward", [&] { return press(ToolBar::FastForward); }, 11},
        {"last frame", [&] { return press(ToolBar::SkipNext); }, 99},
        {"next at the last frame", [&] { return press(ToolBar::Next); }, 99, true},
        {"jump forward at the last frame", [&] { return press(ToolBar::FastForward); }, 99},
        {"previous", [&] { return press(ToolBar::Prev); }, 98},
        {"jump back", [&] { return press(ToolBar::Rewind); }, 88},
        {"scrubber", [&] { return scrub(95); }, 95},
        {"jump forward near the end", [&] { return press(ToolBar::FastForward); }, 99},
        {"scrubber near the start", [&] { return scrub(4); }, 4},
        {"jump back near the start", [&] { return press(ToolBar::Rewind); }, 0},
        {"scrubber to the middle", [&] { return scrub(50); }, 50},
        {"first frame", [&] { return press(ToolBar::SkipPrevious); }, 0},
    };
    for (const Step &step : steps) {
        QVERIFY2(step.act(), step.what);
        // A step that cannot move asks the decoder for nothing.
        if (step.asksNothing)
            QVERIFY2(!window.videoDecoderObject().isAwaitingFrame(), step.what);
        QVERIFY2(waitForFrame(window, step.frame), step.what);
        QCOMPARE(window.videoScrubberWidget()->value(), step.frame);
        QCOMPARE(window.positionLabelWidget()->text(), QStringLiteral("Frame %1 / 100").arg(step.frame + 1));
        QCOMPARE(window.mediaNameLabelWidget()->text(), QStringLiteral("clip.mp4  [frame %1/100]").arg(step.frame + 1));
        QVERIFY2(shownCode(window, clipWidth, clipHeight) == step.frame, step.what);
    }
    // Showing frames changes nothing that needs saving.
    access.modified() = false;
    press(ToolBar::Next);
    QVERIFY(waitForFrame(window, 1));
    QVERIFY(!window.isModified());
}

void TestVideoMode::slideshowRunsToTheEnd()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    QVERIFY(importAndWait(window, clip));
    emit window.videoScrubberWidget()->valueChanged(95);
    QVERIFY(waitForFrame(window, 95));

    QSignalSpy frames(&window.videoDecoderObject(), &VideoDecoder::frameReady);
    toolButton(window, ToolBar::Play)->click();
    QVERIFY(window.isSlideshowPlaying());
    QCOMPARE(statusText(window), QStringLiteral("Slideshow: playing…  (click Play again to pause)"));
    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Slideshow: reached end."),
                              QmTest::patienceMs);
    QVERIFY(!window.isSlideshowPlaying());
    QCOMPARE(access.currentFrame(), 99);
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 99);
    QList<int> shown;
    for (const QList<QVariant> &frame : std::as_const(frames)) {
        shown.append(frame.at(0).toInt());
        QCOMPARE(VideoFixture::frameCode(frame.at(1).value<QImage>()), shown.constLast());
    }
    QCOMPARE(shown, (QList<int>{96, 97, 98, 99}));

    // Play again pauses it, and the frames stop.
    emit window.videoScrubberWidget()->valueChanged(10);
    QVERIFY(waitForFrame(window, 10));
    toolButton(window, ToolBar::Play)->click();
    QTRY_VERIFY_WITH_TIMEOUT(access.currentFrame() >= 13, QmTest::patienceMs);
    toolButton(window, ToolBar::Play)->click();
    QCOMPARE(statusText(window), QStringLiteral("Slideshow: paused."));
    QVERIFY(!window.isSlideshowPlaying());
    QTRY_VERIFY(!window.videoDecoderObject().isAwaitingFrame());
    const int pausedAt = access.currentFrame();
    QTest::qWait(400);
    QCOMPARE(access.currentFrame(), pausedAt);
    QCOMPARE(shownCode(window, clipWidth, clipHeight), pausedAt);
}

void TestVideoMode::oneFrameVideo()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    QVERIFY(importAndWait(window, oneFrame));
    QCOMPARE(window.videoScrubberWidget()->maximum(), 0);
    QCOMPARE(shownCode(window, otherWidth, otherHeight), 7);

    for (ToolBar::Button b : {ToolBar::Next, ToolBar::Prev, ToolBar::FastForward, ToolBar::Rewind, ToolBar::SkipNext})
        toolButton(window, b)->click();
    QVERIFY(waitForFrame(window, 0));
    toolButton(window, ToolBar::Play)->click();
    QTRY_COMPARE(statusText(window), QStringLiteral("Slideshow: reached end."));
    QVERIFY(!window.isSlideshowPlaying());
    QCOMPARE(access.currentFrame(), 0);
}

void TestVideoMode::annotatedFrameSurvivesSaveAndReopen()
{
    const QString projectFile = session->dir.filePath(QStringLiteral("project.qmk"));
    const QRectF drawn(40, 30, 90, 60);
    QString drawnClass;
    {
        MainWindow &window = session->window;
        QVERIFY(importAndWait(window, clip));
        emit window.videoScrubberWidget()->valueChanged(7);
        QVERIFY(waitForFrame(window, 7));

        window.labelCanvas()->setTool(int(Tool::BBox));
        drawBox(window.labelCanvas(), drawn.topLeft(), drawn.bottomRight());
        const VideoEntry video = window.currentProject().dataset.videos.constFirst();
        QCOMPARE(video.frameLabels.keys(), QList<int>{7});
        QCOMPARE(video.frameLabels.value(7).constFirst().bbox, drawn);
        drawnClass = video.frameLabels.value(7).constFirst().className;
        QCOMPARE(window.videoScrubberWidget()->markers(), QSet<int>{7});
        QVERIFY(window.isModified());

        // The next frame shows nothing of it.
        toolButton(window, ToolBar::Next)->click();
        QVERIFY(waitForFrame(window, 8));
        QVERIFY(window.labelCanvas()->annotations().isEmpty());
        QVERIFY(window.saveProjectTo(projectFile));
    }

    MainWindow window;
    MainWindowTestAccess access(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    prompts.answers.enqueue(projectFile);
    window.onOpenProject();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(window.currentProject().dataset.videos.size(), 1);
    const int videoId = window.currentProject().dataset.videos.constFirst().id;
    window.onImageSelected(~videoId);
    QVERIFY(waitForFrame(window, 0));
    QVERIFY(window.labelCanvas()->annotations().isEmpty());
    QCOMPARE(window.videoScrubberWidget()->markers(), QSet<int>{7});

    emit window.videoScrubberWidget()->valueChanged(7);
    QVERIFY(waitForFrame(window, 7));
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 7);
    const QList<Annotation> shown = window.labelCanvas()->annotations();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.constFirst().bbox, drawn);
    QCOMPARE(shown.constFirst().className, drawnClass);
}

void TestVideoMode::editsBeforeTheFirstFrameStayWithTheImage()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    access.project().dataset.addVideo(videoEntry(clip, clipFrames, clipWidth, clipHeight));
    access.refreshUi();
    const int imageId = window.currentProject().dataset.images.constFirst().id;
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), imageId);

    // Into video mode; the image stays on the canvas until frame 0 arrives, and
    // a box drawn on it belongs to the image.
    window.onImageSelected(~0);
    QVERIFY(window.isVideoMode());
    QCOMPARE(window.labelCanvas()->displayedEntryId(), imageId);
    window.labelCanvas()->setTool(int(Tool::BBox));
    drawBox(window.labelCanvas(), {10, 10}, {50, 40});
    QCOMPARE(window.currentProject().dataset.images.constFirst().labels.size(), 1);
    QVERIFY(window.currentProject().dataset.videos.constFirst().frameLabels.isEmpty());

    // A class assigned meanwhile does not reach frame 0 either.
    access.project().projectType = QStringLiteral("classification");
    access.onClassesSelected({QStringLiteral("cat")});
    QVERIFY(window.currentProject().dataset.videos.constFirst().frameLabels.isEmpty());

    QVERIFY(waitForFrame(window, 0));
    QVERIFY(window.labelCanvas()->annotations().isEmpty());
    QVERIFY(window.currentProject().dataset.videos.constFirst().frameLabels.isEmpty());
    QCOMPARE(window.currentProject().dataset.images.constFirst().labels.size(), 1);
}

void TestVideoMode::packageVideoTemporaryFile()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    const QString imagePath = window.currentProject().dataset.images.constFirst().filePath;
    const auto fillProject = [&] {
        Project project;
        project.dataset.addImage(imageEntry(imagePath, 80, 60));
        // Videos read from a package: a bare name and the bytes.
        VideoEntry first = videoEntry(QStringLiteral("clip.MP4"), clipFrames, clipWidth, clipHeight);
        first.bytes = VideoFixture::readAll(clip);
        project.dataset.addVideo(first);
        VideoEntry second = videoEntry(QStringLiteral("other.avi"), otherFrames, otherWidth, otherHeight);
        second.bytes = VideoFixture::readAll(other);
        project.dataset.addVideo(second);
        access.project() = project;
        access.refreshUi();
    };
    fillProject();
    const QString tempFolder = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).absolutePath();
    const QByteArray clipBytes = VideoFixture::readAll(clip);
    const int imageId = window.currentProject().dataset.images.constFirst().id;

    window.onImageSelected(~0);
    const QString first = window.temporaryVideoPath();
    QCOMPARE(QFileInfo(first).absolutePath(), tempFolder);
    QVERIFY2(QRegularExpression(QStringLiteral("^quillmark_vid_0_\\w+\\.mp4$"))
                 .match(QFileInfo(first).fileName())
                 .hasMatch(),
             qPrintable(first));
    QCOMPARE(VideoFixture::readAll(first), clipBytes);
    QCOMPARE(window.videoDecoderObject().path(), first);
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 0);
    // The entry itself is untouched.
    QCOMPARE(window.currentProject().dataset.videos.constFirst().filePath, QStringLiteral("clip.MP4"));
    QCOMPARE(window.currentProject().dataset.videos.constFirst().bytes, clipBytes);

    // An image in between, then the same video: the file is used again.
    window.onImageSelected(imageId);
    QVERIFY(!window.videoDecoderObject().isOpen());
    QVERIFY(QFileInfo::exists(first));
    window.onImageSelected(~0);
    QCOMPARE(window.temporaryVideoPath(), first);
    QVERIFY(waitForFrame(window, 0));

    // A file that no longer holds these bytes is not trusted.
    window.onImageSelected(imageId);
    {
        QFile changed(first);
        QVERIFY(changed.open(QIODevice::ReadWrite));
        changed.seek(clipBytes.size() / 2);
        changed.write("changed");
    }
    window.onImageSelected(~0);
    const QString rewritten = window.temporaryVideoPath();
    QVERIFY(rewritten != first);
    QVERIFY(!QFileInfo::exists(first));
    QCOMPARE(VideoFixture::readAll(rewritten), clipBytes);
    QVERIFY(waitForFrame(window, 0));

    // Another video: the first file goes, once the decoder has let go of it.
    window.onImageSelected(~1);
    const QString second = window.temporaryVideoPath();
    QVERIFY(!QFileInfo::exists(rewritten));
    QVERIFY(!holdsRemovedTemporaryVideo());
    QVERIFY2(QRegularExpression(QStringLiteral("^quillmark_vid_1_\\w+\\.avi$"))
                 .match(QFileInfo(second).fileName())
                 .hasMatch(),
             qPrintable(second));
    QVERIFY(waitForFrame(window, 0));
    toolButton(window, ToolBar::FastForward)->click();
    QVERIFY(waitForFrame(window, 10));
    QCOMPARE(shownCode(window, otherWidth, otherHeight), 10);

    // Closing the project removes it.
    access.modified() = false;
    window.onCloseProject();
    QVERIFY(!QFileInfo::exists(second));
    QVERIFY(window.temporaryVideoPath().isEmpty());
    QVERIFY(!holdsRemovedTemporaryVideo());

    // So does removing the video shown.
    fillProject();
    window.onImageSelected(~1);
    const QString removed = window.temporaryVideoPath();
    QVERIFY(QFileInfo::exists(removed));
    prompts.answers.enqueue(int(QMessageBox::Yes));
    window.onDeleteVideos({1});
    QVERIFY(!QFileInfo::exists(removed));
    QVERIFY(!holdsRemovedTemporaryVideo());

    // And closing the window.
    window.onImageSelected(~0);
    const QString last = window.temporaryVideoPath();
    QVERIFY(QFileInfo::exists(last));
    access.modified() = false;
    QVERIFY(window.close());
    QVERIFY(!QFileInfo::exists(last));
    QVERIFY(!holdsRemovedTemporaryVideo());
}

void TestVideoMode::temporaryFilesAreUniquePerRun()
{
    // Two windows, as two runs of the program, show video 0 of their packages.
    QList<std::shared_ptr<MainWindow>> windows;
    QStringList paths;
    for (int i = 0; i < 2; ++i) {
        auto window = std::make_shared<MainWindow>();
        MainWindowTestAccess access(*window);
        VideoEntry video = videoEntry(QStringLiteral("clip.mp4"), clipFrames, clipWidth, clipHeight);
        video.bytes = VideoFixture::readAll(clip);
        access.project().dataset.addVideo(video);
        access.refreshUi();
        window->onImageSelected(~0);
        paths.append(window->temporaryVideoPath());
        windows.append(window);
    }
    QVERIFY(paths.at(0) != paths.at(1));
    QVERIFY(waitForFrame(*windows.at(1), 0));

    // One run ending leaves the other's file alone.
    MainWindowTestAccess(*windows.at(0)).modified() = false;
    QVERIFY(windows.at(0)->close());
    QVERIFY(!QFileInfo::exists(paths.at(0)));
    QVERIFY(QFileInfo::exists(paths.at(1)));
    windows.at(1)->onJumpForward();
    QVERIFY(waitForFrame(*windows.at(1), 10));
    // A window destroyed without being closed takes its file along too.
    windows[1].reset();
    QVERIFY(!QFileInfo::exists(paths.at(1)));
}

void TestVideoMode::selectionsWaitForAPendingImport()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    VideoEntry shown = videoEntry(other, otherFrames, otherWidth, otherHeight);
    shown.frameLabels.insert(5, {box({10, 10, 20, 20})});
    access.project().dataset.addVideo(shown);
    access.refreshUi();
    const int second = window.currentProject().dataset.images.at(1).id;
    // Import while another video, with an annotated frame, is shown.
    window.onImageSelected(~0);
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(window.videoScrubberWidget()->markers(), QSet<int>{5});

    prompts.answers.enqueue(clip);
    window.onImportVideo();
    QVERIFY(window.isJobRunning());
    // The list is disabled, but the film strip and the keys still reach these.
    window.onImageSelected(second);
    window.onImageSelected(~0);
    window.onNext();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisible());
    QCOMPARE(window.currentProject().dataset.videos.size(), 2);
    const VideoEntry imported = window.currentProject().dataset.videos.constLast();
    QCOMPARE(imported.filePath, clip);
    QCOMPARE(imported.frameCount, clipFrames);
    QCOMPARE(access.currentVideoId(), imported.id);
    // No tick of the other video stays on the scrubber.
    QVERIFY(window.videoScrubberWidget()->markers().isEmpty());
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(window.videoDecoderObject().path(), clip);
    QCOMPARE(window.videoDecoderObject().width(), clipWidth);
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 0);

    // Settled: selections work again.
    window.onImageSelected(~0);
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(window.videoDecoderObject().path(), other);
    window.onImageSelected(second);
    QVERIFY(!window.isVideoMode());
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), second);
}

void TestVideoMode::importThatNeverSettlesEndsTheBusyState()
{
    MainWindow &window = session->window;
    prompts.answers.enqueue(zeroed);
    window.onImportVideo();
    QVERIFY(window.isJobRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QVERIFY2(prompts.calls.constLast().text.startsWith(QStringLiteral("Failed to open video:\n")),
             qPrintable(prompts.calls.constLast().text));
    QVERIFY(window.toolBarWidget()->isEnabled());
    QVERIFY(window.imageList()->isEnabled());
    QVERIFY(!window.progressBarWidget()->isVisible());
    QVERIFY(window.currentProject().dataset.videos.isEmpty());
}

void TestVideoMode::missingVideoIsLocated()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    const QString moved = session->dir.filePath(QStringLiteral("moved/clip.mp4"));
    access.project().dataset.addVideo(videoEntry(moved, clipFrames, clipWidth, clipHeight));
    access.refreshUi();
    access.modified() = false;
    const int imageId = window.currentProject().dataset.images.constFirst().id;
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), imageId);

    // Cancel, and Locate… with the file dialog cancelled: nothing changes.
    prompts.answers.enqueue(int(QMessageBox::Cancel));
    window.onImageSelected(~0);
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("messageBox"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Video not found"));
    QCOMPARE(prompts.calls.constLast().text,
             QStringLiteral("The video file could not be found:\n<b>%1</b>").arg(moved));
    prompts.answers.enqueue(QStringLiteral("Locate…"));
    prompts.answers.enqueue(QString());
    window.onImageSelected(~0);
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("open"));
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Locate Video"));
    QVERIFY(!window.isVideoMode());
    QCOMPARE(window.labelCanvas()->displayedEntryId(), imageId);
    QCOMPARE(window.currentProject().dataset.videos.constFirst().filePath, moved);
    QVERIFY(!window.isModified());

    prompts.answers.enqueue(QStringLiteral("Locate…"));
    prompts.answers.enqueue(clip);
    window.onImageSelected(~0);
    QCOMPARE(window.currentProject().dataset.videos.constFirst().filePath, clip);
    QVERIFY(window.isModified());
    QCOMPARE(QSettings().value(QStringLiteral("lastVideoDir")).toString(), fixtures.path());
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 0);
}

// A package that did not carry a video's bytes names it by its bare file name.
// A file of that name in the folder the program runs in is some other video:
// the user is asked to locate it instead.
void TestVideoMode::videoWithoutFolderIsNotTakenFromTheWorkingFolder()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    const QString startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(fixtures.path()));
    access.project().dataset.addVideo(videoEntry(QStringLiteral("clip.mp4"), clipFrames, clipWidth, clipHeight));
    access.refreshUi();
    const int imageId = window.currentProject().dataset.images.constFirst().id;
    QTRY_COMPARE(window.labelCanvas()->displayedEntryId(), imageId);

    prompts.answers.enqueue(int(QMessageBox::Cancel));
    window.onImageSelected(~0);
    QVERIFY(QDir::setCurrent(startFolder));
    QVERIFY(!prompts.calls.isEmpty());
    QCOMPARE(prompts.calls.constLast().title, QStringLiteral("Video not found"));
    QVERIFY(!window.isVideoMode());
    QVERIFY(!window.videoDecoderObject().isOpening());
    QVERIFY(!window.videoDecoderObject().isOpen());
}

void TestVideoMode::videoStoredWithoutLengthTakesTheDecoders()
{
    // A video entry that came in without a frame count or size (nothing to
    // step through) takes them from the file.
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    access.project().dataset.addVideo(videoEntry(other, 0, 0, 0));
    access.refreshUi();
    window.onImageSelected(~0);
    QVERIFY(waitForFrame(window, 0));
    const VideoEntry video = window.currentProject().dataset.videos.constFirst();
    QCOMPARE(video.frameCount, otherFrames);
    QCOMPARE(video.width, otherWidth);
    QCOMPARE(video.height, otherHeight);
    QCOMPARE(window.videoScrubberWidget()->maximum(), otherFrames - 1);
    toolButton(window, ToolBar::SkipNext)->click();
    QVERIFY(waitForFrame(window, otherFrames - 1));
    QCOMPARE(shownCode(window, otherWidth, otherHeight), otherFrames - 1);
}

// The stored frame count belongs to the file the project had; a file located
// since (re-encoded, trimmed) may hold fewer frames. Navigation and the
// slideshow end at the file's last frame, and the annotations past it stay.
void TestVideoMode::videoShorterThanStoredEndsWhereTheFileEnds()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    VideoEntry stored = videoEntry(other, 70, otherWidth, otherHeight);
    stored.frameLabels.insert(60, {box({1, 1, 10, 10}, QStringLiteral("cat"))});
    access.project().dataset.addVideo(stored);
    access.refreshUi();
    window.onImageSelected(~0);
    QVERIFY(waitForFrame(window, 0));
    QCOMPARE(window.videoScrubberWidget()->maximum(), otherFrames - 1);
    QCOMPARE(window.positionLabelWidget()->text(), QStringLiteral("Frame 1 / %1").arg(otherFrames));

    emit window.videoScrubberWidget()->valueChanged(otherFrames - 3);
    QVERIFY(waitForFrame(window, otherFrames - 3));
    toolButton(window, ToolBar::Play)->click();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Slideshow: reached end."), QmTest::patienceMs);
    QCOMPARE(access.currentFrame(), otherFrames - 1);
    QCOMPARE(shownCode(window, otherWidth, otherHeight), otherFrames - 1);
    QCOMPARE(window.currentProject().dataset.videos.constFirst().frameLabels.keys(), QList<int>{60});
}

void TestVideoMode::projectVideoThatCannotBeOpened()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    access.project().dataset.addVideo(videoEntry(garbage, clipFrames, clipWidth, clipHeight));
    // A picture still on its way when the video is chosen (a slow share) must
    // not land on the canvas once the video has failed: the list shows the
    // video's row.
    const auto slow = std::make_shared<LatePicture>();
    access.project().dataset.addImage(lateImage(QStringLiteral("slow.png"), slow, 80, 60));
    const int slowId = access.project().dataset.images.constLast().id;
    access.refreshUi();
    QTRY_VERIFY(window.labelCanvas()->displayedEntryId() >= 0);
    access.selectImage(slowId);

    window.onImageSelected(~0);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Video açılamadı: Invalid media / unsupported format"),
                              QmTest::patienceMs);
    QImage pixels(80, 60, QImage::Format_RGB32);
    pixels.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && pixels.save(&buffer, "PNG"));
    slow->deliver(png);
    QTest::qWait(300);
    QVERIFY(!window.isVideoMode());
    QVERIFY(!window.videoScrubberWidget()->isVisible());
    QVERIFY(!toolButton(window, ToolBar::Play)->isEnabled());
    QVERIFY(!window.labelCanvas()->displayedEntryId().has_value()); // not a frame of video 0
    QVERIFY(window.labelCanvas()->annotations().isEmpty());
    QCOMPARE(access.displayedFrame(), -1);
}

void TestVideoMode::soundLongerThanPictureCountsPictures()
{
    // The sound outlasts the 40 pictures: the video has 40 frames, and the
    // slideshow ends on the last picture.
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    QVERIFY(importAndWait(window, longAudio));
    QCOMPARE(window.currentProject().dataset.videos.constFirst().frameCount, otherFrames);
    QCOMPARE(window.videoScrubberWidget()->maximum(), otherFrames - 1);

    emit window.videoScrubberWidget()->valueChanged(37);
    QVERIFY(waitForFrame(window, 37));
    toolButton(window, ToolBar::Play)->click();
    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Slideshow: reached end."), QmTest::patienceMs);
    QVERIFY(!window.isSlideshowPlaying());
    QCOMPARE(access.currentFrame(), otherFrames - 1);
    QCOMPARE(shownCode(window, otherWidth, otherHeight), otherFrames - 1);
    toolButton(window, ToolBar::Rewind)->click();
    QVERIFY(waitForFrame(window, 29));
    QCOMPARE(shownCode(window, otherWidth, otherHeight), 29);
}

void TestVideoMode::failedFrameLeavesTheScrubberOnTheFrameShown()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    access.project().dataset.addVideo(videoEntry(damagedTail, otherFrames, otherWidth, otherHeight));
    access.refreshUi();
    const auto highlighted = [&window] {
        int count = 0;
        for (QLabel *thumb : window.filmStripWidget()->findChildren<QLabel *>())
            count += thumb->property("active").toBool() ? 1 : 0;
        return count;
    };
    QTRY_COMPARE(highlighted(), 1);
    window.onImageSelected(~0);
    QVERIFY(waitForFrame(window, 0));
    // The film strip highlights no image while a video is shown.
    QCOMPARE(highlighted(), 0);
    emit window.videoScrubberWidget()->valueChanged(5);
    QVERIFY(waitForFrame(window, 5));

    emit window.videoScrubberWidget()->valueChanged(otherFrames - 1);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QStringLiteral("Frame %1 could not be decoded.").arg(otherFrames),
                              QmTest::patienceMs);
    QCOMPARE(access.currentFrame(), 5);
    QCOMPARE(window.videoScrubberWidget()->value(), 5);
    QCOMPARE(shownCode(window, otherWidth, otherHeight), 5);
}

void TestVideoMode::failedImportReturnsToTheFrameShown()
{
    MainWindow &window = session->window;
    QVERIFY(importAndWait(window, clip));
    emit window.videoScrubberWidget()->valueChanged(37);
    QVERIFY(waitForFrame(window, 37));

    prompts.answers.enqueue(garbage);
    window.onImportVideo();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(prompts.calls.constLast().kind, QStringLiteral("warning"));
    QVERIFY(waitForFrame(window, 37));
    QCOMPARE(shownCode(window, clipWidth, clipHeight), 37);
    QCOMPARE(window.videoScrubberWidget()->value(), 37);
    QCOMPARE(window.currentProject().dataset.videos.size(), 1);
}

// A project of videos only, saved and opened again: its first row is current
// without having been chosen, and a click on it opens the video.
void TestVideoMode::videoOnlyProjectReopenedOpensTheClickedRow()
{
    const QString saved = QDir(fixtures.path()).filePath(QStringLiteral("videos.qmk"));
    {
        MainWindow &window = session->window;
        MainWindowTestAccess &access = session->access;
        access.project().dataset.images.clear();
        access.refreshUi();
        QVERIFY(importAndWait(window, clip));
        QVERIFY(window.saveProjectTo(saved));
    }
    session.reset();

    MainWindow reopened;
    reopened.show();
    QVERIFY(QTest::qWaitForWindowExposed(&reopened));
    prompts.answers.enqueue(saved);
    reopened.onOpenProject();
    QTRY_VERIFY_WITH_TIMEOUT(!reopened.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(reopened.currentProject().dataset.videos.size(), 1);
    QVERIFY(reopened.currentProject().dataset.images.isEmpty());
    QVERIFY(!reopened.isVideoMode());

    QAbstractItemView *list = reopened.imageList()->findChild<QAbstractItemView *>();
    QVERIFY(list);
    const QModelIndex row = list->model()->index(0, 0);
    QVERIFY(row.isValid());
    const QRect rect = list->visualRect(row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QVERIFY(waitForFrame(reopened, 0));
    QCOMPARE(shownCode(reopened, clipWidth, clipHeight), 0);
}

// Starts a YOLO export to `out` through the export dialog, as a user does.
static void exportYoloThroughDialog(MainWindow &window, const QString &out)
{
    onNextModal([out](QWidget *modal) {
        for (QToolButton *card : modal->findChildren<QToolButton *>(QStringLiteral("exportFormatCard"))) {
            if (card->toolTip() == QLatin1String("YOLO"))
                card->click();
        }
        modal->findChild<QLineEdit *>(QStringLiteral("exportPath"))->setText(out);
        modal->findChild<QPushButton *>(QStringLiteral("exportBtn"))->click();
    });
    window.onExportDataset();
}

// Frames of a portrait clip stored sideways are exported upright, at the size
// the clip is shown.
void TestVideoMode::rotatedClipExportsUprightFrames()
{
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    VideoEntry video = videoEntry(portrait, otherFrames, otherHeight, otherWidth);
    video.frameLabels.insert(3, {box({1, 1, 10, 10}, QStringLiteral("cat"))});
    video.frameLabels.insert(17, {box({2, 2, 10, 10}, QStringLiteral("cat"))});
    access.project().dataset.addVideo(video);
    access.refreshUi();

    const QString out = session->dir.filePath(QStringLiteral("yolo"));
    exportYoloThroughDialog(window, out);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    for (const int frame : {3, 17}) {
        QString found;
        QDirIterator it(out, {QStringLiteral("portrait_frame_%1.jpg").arg(frame, 6, 10, QLatin1Char('0'))},
                        QDir::Files, QDirIterator::Subdirectories);
        if (it.hasNext())
            found = it.next();
        QVERIFY2(!found.isEmpty(), qPrintable(statusText(window)));
        const QImage picture(found);
        QCOMPARE(picture.size(), QSize(otherHeight, otherWidth));
        // Stored 192 x 108 and shown a quarter turn counter-clockwise: the code
        // row runs up the left edge.
        const int code = VideoFixture::frameCode(picture, otherWidth, otherHeight, [](const QPointF &p) {
            return QPoint(int(p.y()), int(otherWidth - 1 - p.x()));
        });
        QCOMPARE(code, frame);
    }
}

// Labelled frames of a video with B-frames (in AVI, whose packets carry no
// presentation times, and in a transport stream) are exported as exactly the
// pictures they were drawn on: frame i is the i-th picture FFmpeg's own
// decoding of the file gives out, whatever the packets' times say.
void TestVideoMode::bFrameVideosExportTheLabelledPictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("Xvid AVI") << xvid;
    QTest::newRow("H.264 transport stream") << transport;
}

void TestVideoMode::bFrameVideosExportTheLabelledPictures()
{
    QFETCH(QString, path);
    MainWindow &window = session->window;
    MainWindowTestAccess &access = session->access;
    const QList<int> labelled{0, 1, 2, 11, 12, 13, 16, 25, 38, 39};
    VideoEntry video = videoEntry(path, otherFrames, otherWidth, otherHeight);
    for (const int frame : labelled)
        video.frameLabels.insert(frame, {box({1.0 + frame, 1, 10, 10}, QStringLiteral("cat"))});
    access.project().dataset.addVideo(video);
    access.refreshUi();

    const QString out = session->dir.filePath(QStringLiteral("yolo"));
    exportYoloThroughDialog(window, out);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);

    const VideoFixture::SequentialDecode truth =
        VideoFixture::sequentialDecode(path, QStringLiteral("0:v:0"), QSize(otherWidth, otherHeight));
    QVERIFY(truth.ok);
    QCOMPARE(truth.codes.size(), qsizetype(otherFrames));
    const QString base = QFileInfo(path).completeBaseName();
    const QRegularExpression frameName(QRegularExpression::anchoredPattern(base + QStringLiteral("_frame_(\\d{6})\\.jpg")));
    QStringList written;
    QDirIterator frames(out, {base + QStringLiteral("_frame_*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (frames.hasNext()) {
        const QString file = frames.next();
        if (!written.contains(frames.fileName()))
            written << frames.fileName();
        const QRegularExpressionMatch named = frameName.match(frames.fileName());
        QVERIFY2(named.hasMatch(), qPrintable(file));
        const int frame = named.captured(1).toInt();
        QVERIFY2(labelled.contains(frame), qPrintable(file));
        QVERIFY2(VideoFixture::frameCode(QImage(file)) == truth.codes.at(frame), qPrintable(file));
        // The frame's own box went with it.
        QFile labels(QFileInfo(file).dir().filePath(QStringLiteral("../labels/%1.txt").arg(QFileInfo(file).completeBaseName())));
        QVERIFY2(labels.open(QIODevice::ReadOnly), qPrintable(labels.fileName()));
        const QList<QByteArray> fields = labels.readAll().simplified().split(' ');
        QCOMPARE(fields.size(), 5);
        QVERIFY(qAbs(fields.at(1).toDouble() * otherWidth - (6.0 + frame)) < 0.01);
    }
    QCOMPARE(written.size(), labelled.size());
}

// Each suffix the import dialog offers, written by ffmpeg as that kind of file
// (with a codec such files hold), opens with all its pictures, and a package
// stores it as a video: the dialog offers nothing the decoder refuses or a
// package leaves out.
void TestVideoMode::everyKindOfFileTheDialogOffersOpens()
{
    MainWindow &window = session->window;
    prompts.answers.enqueue(QString());
    window.onImportVideo();
    const QString filter = prompts.calls.constLast().extra;
    const QRegularExpression suffix(QStringLiteral("\\*\\.(\\w+)"));
    QStringList suffixes;
    for (auto it = suffix.globalMatch(filter); it.hasNext();)
        suffixes << it.next().captured(1);
    QVERIFY(suffixes.size() >= 8);

    const QHash<QString, QString> codecs{
        {QStringLiteral("webm"), QStringLiteral("libvpx")},      {QStringLiteral("ivf"), QStringLiteral("libvpx")},
        {QStringLiteral("ogv"), QStringLiteral("libtheora")},    {QStringLiteral("wmv"), QStringLiteral("wmv2")},
        {QStringLiteral("asf"), QStringLiteral("wmv2")},         {QStringLiteral("mpg"), QStringLiteral("mpeg2video")},
        {QStringLiteral("mpeg"), QStringLiteral("mpeg2video")},  {QStringLiteral("vob"), QStringLiteral("mpeg2video")},
        {QStringLiteral("m2v"), QStringLiteral("mpeg2video")},   {QStringLiteral("hevc"), QStringLiteral("libx265")},
        {QStringLiteral("265"), QStringLiteral("libx265")},      {QStringLiteral("mjpeg"), QStringLiteral("mjpeg")},
        {QStringLiteral("flv"), QStringLiteral("flv")},
    };
    const QDir framesDir(QDir(fixtures.path()).filePath(QStringLiteral("other")));
    const QDir out(session->dir.path());
    constexpr int pictures = 10;
    for (const QString &kind : std::as_const(suffixes)) {
        const QString path = out.filePath(QStringLiteral("kind.") + kind);
        const QString codec = codecs.value(kind, QStringLiteral("libx264"));
        QStringList arguments{QStringLiteral("-framerate"), QStringLiteral("25"), QStringLiteral("-i"),
                              framesDir.filePath(QStringLiteral("f%05d.png")), QStringLiteral("-frames:v"),
                              QString::number(pictures), QStringLiteral("-c:v"), codec};
        if (codec == QLatin1String("libx265"))
            arguments << QStringLiteral("-x265-params") << QStringLiteral("log-level=error");
        if (codec != QLatin1String("mjpeg"))
            arguments << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
        // Camcorders' transport streams: 192-byte packets with a time code each.
        if (kind == QLatin1String("m2ts") || kind == QLatin1String("mts"))
            arguments << QStringLiteral("-mpegts_m2ts_mode") << QStringLiteral("1");
        QString log;
        QVERIFY2(VideoFixture::runFfmpeg(arguments << path, &log), qPrintable(kind + QStringLiteral(": ") + log));

        VideoDecoder decoder;
        QSignalSpy opened(&decoder, &VideoDecoder::opened);
        QSignalSpy frames(&decoder, &VideoDecoder::frameReady);
        decoder.open(path);
        QVERIFY2(opened.wait(QmTest::patienceMs), qPrintable(kind));
        QVERIFY2(opened.at(0).at(0).toBool(), qPrintable(kind + QStringLiteral(": ") + opened.at(0).at(1).toString()));
        QVERIFY2(decoder.frameCount() == pictures, qPrintable(kind + QStringLiteral(": %1").arg(decoder.frameCount())));
        QVERIFY(!frames.isEmpty() || frames.wait(QmTest::patienceMs));
        QCOMPARE(VideoFixture::frameCode(frames.at(0).at(1).value<QImage>()), 0);
        // And a package carries it as the video it is.
        QVERIFY2(isVideoFile(path), qPrintable(kind));
    }
}

QM_TEST_MAIN(TestVideoMode)
#include "tst_videomode.moc"
