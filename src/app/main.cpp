#include "app/MainWindow.h"
#include "app/Splash.h"
#include "model/HeapSettings.h"
#include "model/LeftBehindThreads.h"
#include "model/PictureLoader.h"
#include "model/Version.h"

#include <QApplication>
#include <QIcon>
#include <QSplashScreen>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>

namespace {

// How long the end of the program waits for workers still running.
constexpr int exitGraceMs = 3000;

} // namespace

int main(int argc, char *argv[])
{
    Quillmark::configureHeap();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmark"));
    QApplication::setOrganizationName(QStringLiteral("Brightwell"));
    // Photos of ordinary cameras and drones need more than Qt's 128 MB a picture.
    Quillmark::PictureLoader::raiseAllocationLimit();
    // The icons and images are compiled into the widgets library and register
    // themselves when the program starts.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/logo.svg")));

    const QPixmap picture = Quillmark::Splash::makeSplashPixmap(QPixmap(QStringLiteral(":/images/splash.png")),
                                                                QLatin1String(Quillmark::appVersion));
    auto *splash = new QSplashScreen(picture, Qt::WindowStaysOnTopHint);
    splash->show();
    QCoreApplication::processEvents(QEventLoop::AllEvents);

    auto *window = new Quillmark::MainWindow;
    Quillmark::Splash::handOver(splash, window);

    const int code = QApplication::exec();
    delete window;
    // The application's end waits for every pooled worker. A model still
    // opening from a file that stopped answering (a network share gone) would
    // hold it for good: after a grace the process ends without waiting, as it
    // does when a worker stuck in such a read was left behind.
    if (!QThreadPool::globalInstance()->waitForDone(exitGraceMs) || Quillmark::LeftBehindThreads::any()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
