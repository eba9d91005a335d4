// Takes a screenshot of the real main window showing a frame of a video, for a
// person to look at. Run under an X server:
//
//   video_screenshot <output.png> <light|dark> <video file> [frame]
//
// The project holds two images and the video; the video is selected in the
// list as a user would, and the shot is taken once the frame is on the canvas.
#include "MainWindowTestAccess.h"

#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "panels/VideoScrubber.h"
#include "video/VideoDecoder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace Quillmark;

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmark"));
    QApplication::setOrganizationName(QStringLiteral("Brightwell"));
    if (argc < 4) {
        QTextStream(stderr) << "usage: video_screenshot <output.png> <light|dark> <video file> [frame]\n";
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const Theme::Mode mode = QString::fromLocal8Bit(argv[2]) == QLatin1String("dark") ? Theme::Dark : Theme::Light;
    const QString video = QString::fromLocal8Bit(argv[3]);
    const int frame = argc > 4 ? QString::fromLocal8Bit(argv[4]).toInt() : 0;

    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    Project &project = access.project();
    project.name = QStringLiteral("Clips");
    project.projectType = QStringLiteral("object_detection");
    project.dataset.addClass(QStringLiteral("car"), QColor());
    for (int i = 0; i < 2; ++i) {
        QImage image(640, 480, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 120, 60, 200));
        ImageEntry entry;
        entry.filePath = QDir(dir.path()).filePath(QStringLiteral("still_%1.png").arg(i));
        image.save(entry.filePath);
        entry.width = 640;
        entry.height = 480;
        project.dataset.addImage(entry);
    }
    VideoEntry entry;
    entry.filePath = video;
    project.dataset.addVideo(entry);
    access.projectPath() = dir.filePath(QStringLiteral("clips.qmk"));
    access.refreshUi();
    access.updateTitle();
    window.applyTheme(mode);
    // The usual size, or the screen's where it is smaller (QUILLMARK_SCREEN).
    window.setGeometry(QRect(QPoint(0, 0), QSize(1440, 860).boundedTo(window.screen()->availableGeometry().size())));
    window.show();

    int status = 1;
    QTimer::singleShot(500, &app, [&] {
        window.onImageSelected(~project.dataset.videos.constFirst().id);
        // Waits for events, woken now and then to look at the clock, rather
        // than spinning a core beside the decoder's thread.
        QElapsedTimer clock;
        clock.start();
        QTimer wake;
        wake.start(20);
        while (clock.elapsed() < 10000 && !window.videoDecoderObject().isOpen())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (frame > 0)
            emit window.videoScrubberWidget()->valueChanged(frame);
        QTimer::singleShot(1500, &app, [&] {
            const QPixmap shot = window.screen()->grabWindow(0, 0, 0, window.width(), window.height());
            status = shot.save(output) ? 0 : 1;
            QTextStream(stdout) << (status == 0 ? "wrote " : "could not write ") << output << '\n';
            // Nothing to save: the window closes without asking.
            access.modified() = false;
            window.close();
            app.quit();
        });
    });
    QApplication::exec();
    return status;
}
