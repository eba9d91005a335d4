// Takes a screenshot of the real main window, with a small generated project
// open, for a person to look at. Run under an X server (scripts/
// screenshot-mainwindow.sh starts one with xvfb-run):
//
//   mainwindow_screenshot <output.png> <light|dark> [job | pose | face | concept | empty | gate]
//
// With "job" a background job that can be cancelled is running: the status bar
// shows its progress and Cancel. With "pose", "face" or "concept" that AI tool
// window is open over the window; with "empty" no project is open; with "gate" the box
// and hint of drawing before the project is saved are shown.

#include "MainWindowTestAccess.h"
#include "ScriptedPrompts.h"

#include "app/MainWindow.h"
#include "ai/ui/AiSam3Dialog.h"
#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"
#include "chrome/SideToolBar.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace Quillmark;

namespace {

QString writeSampleImage(const QDir &dir, int index)
{
    QImage image(960, 640, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((index * 47) % 360, 60, 200));
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((index * 47 + 180) % 360, 120, 150));
    painter.drawEllipse(QRect(200 + index * 10, 160, 320, 260));
    painter.end();
    const QString path = dir.filePath(QStringLiteral("sample_%1.png").arg(index, 2, 10, QLatin1Char('0')));
    image.save(path);
    return path;
}

Annotation box(const QString &cls, const QRectF &r)
{
    Annotation a;
    a.className = cls;
    a.kind = BoundingBox;
    a.bbox = r;
    return a;
}

} // namespace

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmark"));
    QApplication::setOrganizationName(QStringLiteral("Brightwell"));
    if (argc < 3) {
        QTextStream(stderr) << "usage: mainwindow_screenshot <output.png> <light|dark> [job | pose | face | concept | open <project>]\n";
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const Theme::Mode mode = QString::fromLocal8Bit(argv[2]) == QLatin1String("dark") ? Theme::Dark : Theme::Light;

    QTemporaryDir dir;
    MainWindow window;
    MainWindowTestAccess access(window);
    // "empty": the window as a new user first sees it, with no project.
    const bool empty = argc > 3 && QString::fromLocal8Bit(argv[3]) == QLatin1String("empty");
    Project &project = access.project();
    project.name = QStringLiteral("Street scenes");
    project.projectType = QStringLiteral("object_detection");
    project.dataset.addClass(QStringLiteral("car"), QColor());
    project.dataset.addClass(QStringLiteral("person"), QColor());
    for (int i = 0; i < 12; ++i) {
        ImageEntry entry;
        entry.filePath = writeSampleImage(QDir(dir.path()), i);
        entry.width = 960;
        entry.height = 640;
        if (i % 3 != 2)
            entry.labels = {box(QStringLiteral("car"), QRectF(200 + i * 10, 160, 320, 260)),
                            box(QStringLiteral("person"), QRectF(620, 120, 120, 300))};
        project.dataset.addImage(entry);
    }
    access.projectPath() = dir.filePath(QStringLiteral("street.qmk"));
    access.refreshUi();
    if (empty) {
        project = Project();
        access.projectPath().clear();
        access.refreshUi();
    }
    access.updateTitle();
    window.applyTheme(mode);
    // The window takes the size it opens at on this screen.
    window.show();
    // "pose", "face" or "concept": that AI tool window is open in the shot.
    const QString tool = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (tool == QLatin1String("pose") || tool == QLatin1String("face") || tool == QLatin1String("concept")) {
        QTimer::singleShot(300, &window, [&window, tool] {
            if (tool == QLatin1String("pose"))
                emit window.sideToolBarWidget()->toolChanged(Tool::Pose);
            else if (tool == QLatin1String("face"))
                emit window.sideToolBarWidget()->toolChanged(Tool::Face);
            else
                window.conceptDialog()->show();
        });
    }
    // "gate": drawing before the project is saved, with the box and the hint
    // under the save button.
    if (tool == QLatin1String("gate")) {
        QTimer::singleShot(300, &window, [&window, &access] {
            access.projectPath().clear();
            access.updateTitle();
            emit window.labelCanvas()->classRequired();
        });
    }
    if (argc > 3 && QString::fromLocal8Bit(argv[3]) == QLatin1String("job")) {
        access.startJob([] {});
        window.beginProgress(40);
        window.applyProgress(MainWindow::ProgressKind::DatasetImport, 13, 40);
    }

    // A project file opened through the window's own open command instead of
    // the sample: the shot is taken once it is shown.
    QmTest::ScriptedPrompts prompts;
    const bool opens = argc > 4 && QString::fromLocal8Bit(argv[3]) == QLatin1String("open");
    if (opens) {
        Prompts::setOverride(&prompts);
        prompts.answers.enqueue(QString::fromLocal8Bit(argv[4]));
        QTimer::singleShot(200, &window, [&window] { window.onOpenProject(); });
    }

    int status = 1;
    const auto shoot = [&] {
        // The whole screen: whatever lies beyond its edge could not be reached.
        const QPixmap shot = window.screen()->grabWindow(0);
        status = shot.save(output) ? 0 : 1;
        QTextStream(stdout) << (status == 0 ? "wrote " : "could not write ") << output << '\n';
        access.finishJob();
        window.close();
        app.quit();
    };
    if (!opens) {
        QTimer::singleShot(1500, &app, shoot);
    } else {
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&, poll] {
            if (window.isJobRunning() || !window.windowTitle().contains(QFileInfo(QString::fromLocal8Bit(argv[4])).fileName()))
                return;
            poll->stop();
            QTimer::singleShot(1500, &app, shoot); // the missing files marked, the picture drawn
        });
        poll->start(100);
    }
    QApplication::exec();
    Prompts::setOverride(nullptr);
    return status;
}
