// Opening a large project (10 annotations per image, 1.3 GB at 100,000
// images) in the main window, timed from the open command until the user can
// see it: the Files list has painted its rows and the canvas has painted the
// first picture. Beside it, on the same file: the project parse alone, a plain
// simdjson On-Demand walk that touches every value, and Python's json.load.
// Every reading runs in a fresh process with the file in the page cache (each
// round reads it once before timing); the medians are printed with the ratio to
// the walk, per size, so that growth shows.
//
//   bench_openproject [--sizes 10000,30000,100000] [--rounds R] [--fixtures DIR]
//   bench_openproject --open|--load|--walk <file>   (one fresh run, used by the above)
// The fixtures (project files and one real picture hard-linked under every
// image name) are made once in DIR and reused. Run headless:
// QT_QPA_PLATFORM=offscreen ./bench_openproject, or under xvfb-run with
// QT_QPA_PLATFORM=xcb for the real window.

#include "Arguments.h"
#include "FreshProcess.h"
#include "LargeProject.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/Prompts.h"
#include "model/ProjectFile.h"
#include "panels/ImageListPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QListView>
#include <QProcess>

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace Quillmark;

namespace {

// Answers the open dialog with the project file, and every other question
// with its default, so that no message box waits for a click.
class OpeningPrompts : public Prompts {
public:
    explicit OpeningPrompts(const QString &path) : path(path) {}
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override { return path; }

private:
    QString path;
};

// Lets a widget paint, then notes the time when the condition holds: the
// moment the user sees the painted pixels, not the moment a paint is asked.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget *widget, std::function<bool()> ready, const QElapsedTimer &clock)
        : ready(std::move(ready)), clock(clock)
    {
        widget->installEventFilter(this);
    }
    double seconds = -1;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || seconds >= 0)
            return false;
        // Paint first (QObject::event is public and dispatches to the widget).
        static_cast<QObject *>(watched)->event(event);
        if (ready())
            seconds = clock.nsecsElapsed() / 1e9;
        return true;
    }

private:
    std::function<bool()> ready;
    const QElapsedTimer &clock;
};

struct OpenTimes {
    double listPainted = -1;
    double canvasPainted = -1;
    double shown() const { return std::max(listPainted, canvasPainted); }
};

OpenTimes openInWindow(const QString &path)
{
    MainWindow window;
    window.resize(1400, 900);
    window.show();
    QCoreApplication::processEvents();
    OpeningPrompts prompts(path);
    Prompts::setOverride(&prompts);

    QElapsedTimer clock;
    QListView *list = window.imageList()->listView();
    LabelCanvas *canvas = window.labelCanvas();
    const QString name = QFileInfo(path).fileName();
    PaintWatch listWatch(list->viewport(), [&] {
        return window.windowTitle().contains(name) && list->model()->rowCount() > 0;
    }, clock);
    PaintWatch canvasWatch(canvas, [&] {
        return window.windowTitle().contains(name) && canvas->displayedEntryId().has_value();
    }, clock);
    clock.start();
    window.onOpenProject();
    QmBench::waitUntil([&] { return listWatch.seconds >= 0 && canvasWatch.seconds >= 0; }, 600000);
    Prompts::setOverride(nullptr);
    return OpenTimes{listWatch.seconds, canvasWatch.seconds};
}

// Every value of the document visited once, numbers read as doubles and
// strings unescaped: what any reader of the file must do at the least.
void walk(simdjson::ondemand::value value, size_t &count)
{
    ++count;
    switch (value.type().value()) {
    case simdjson::ondemand::json_type::array:
        for (auto element : value.get_array())
            walk(element.value(), count);
        break;
    case simdjson::ondemand::json_type::object:
        for (auto field : value.get_object()) {
            (void)field.unescaped_key().value();
            walk(field.value().value(), count);
        }
        break;
    case simdjson::ondemand::json_type::number:
        (void)value.get_double().value();
        break;
    case simdjson::ondemand::json_type::string:
        (void)value.get_string().value();
        break;
    case simdjson::ondemand::json_type::boolean:
        (void)value.get_bool().value();
        break;
    default:
        break;
    }
}

double walkFile(const QString &path, size_t &count)
{
    QElapsedTimer timer;
    timer.start();
    simdjson::padded_string json;
    if (simdjson::padded_string::load(path.toStdString()).get(json))
        return -1;
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document doc = parser.iterate(json);
    walk(doc.get_value().value(), count);
    return timer.nsecsElapsed() / 1e9;
}

int runOnce(const char *mode, const QString &path)
{
    if (std::strcmp(mode, "--load") == 0) {
        QElapsedTimer timer;
        timer.start();
        Project p;
        const bool ok = loadProjectFile(p, path);
        std::printf("seconds %.6f\npeakMiB %.1f\n", timer.nsecsElapsed() / 1e9, QmBench::peakMemoryMiB());
        std::fflush(stdout);
        std::_Exit(ok ? 0 : 1);
    }
    if (std::strcmp(mode, "--walk") == 0) {
        size_t count = 0;
        const double seconds = walkFile(path, count);
        std::printf("seconds %.6f\nvalues %zu\npeakMiB %.1f\n", seconds, count, QmBench::peakMemoryMiB());
        std::fflush(stdout);
        std::_Exit(seconds > 0 ? 0 : 1);
    }
    const OpenTimes times = openInWindow(path);
    std::printf("list %.6f\ncanvas %.6f\nshown %.6f\npeakMiB %.1f\n", times.listPainted, times.canvasPainted,
                times.shown(), QmBench::peakMemoryMiB());
    std::fflush(stdout);
    std::_Exit(times.listPainted > 0 && times.canvasPainted > 0 ? 0 : 1);
}

double pythonLoad(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral("import json, sys, time\n"
                                 "t = time.perf_counter()\n"
                                 "with open(sys.argv[1], 'rb') as f: json.load(f)\n"
                                 "print('seconds', time.perf_counter() - t)\n"),
                  path});
    if (!python.waitForFinished(-1) || python.exitCode() != 0)
        return -1;
    const QList<QByteArray> parts = python.readAllStandardOutput().trimmed().split(' ');
    return parts.size() == 2 ? parts[1].toDouble() : -1;
}

// Python's tree of a 100,000-image file takes many gigabytes: it is run only
// when the machine has them to spare.
bool memoryForPython(qint64 fileBytes)
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.simplified().split(' ').value(1).toLongLong() * 1024 > fileBytes * 10;
    }
    return false;
}

// One real picture, hard-linked under every image name of the project (a
// fresh copy every 60,000 names: a file system allows only so many links).
bool prepareMedia(const QString &folder, int images)
{
    QDir().mkpath(folder);
    const QString first = folder + QStringLiteral("/img_000000.jpg");
    if (!QFileInfo::exists(first)) {
        QImage picture(1920, 1080, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
        if (!picture.save(first, "JPG", 85))
            return false;
    }
    constexpr int linksPerCopy = 60000;
    for (int i = 1; i < images; ++i) {
        const QString name = folder + QStringLiteral("/img_%1.jpg").arg(i, 6, 10, QLatin1Char('0'));
        if (QFileInfo::exists(name))
            continue;
        const QString source = i < linksPerCopy ? first : folder + QStringLiteral("/copy_%1.jpg").arg(i / linksPerCopy);
        if (!QFileInfo::exists(source) && !QFile::copy(first, source))
            return false;
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(name).constData()) != 0)
            return false;
    }
    return true;
}

QString prepareFixture(const QString &dir, int images)
{
    const QString path = dir + QStringLiteral("/open_%1.qmk").arg(images);
    const QString media = dir + QStringLiteral("/media");
    if (!prepareMedia(media, images))
        return {};
    if (!QFileInfo::exists(path) && !QmBench::writeLargeProject(images, path, media))
        return {};
    return path;
}

void warmPageCache(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.read(1 << 24).isEmpty()) {
    }
}

void compareAt(const QString &path, int images, int rounds)
{
    const QString self = QCoreApplication::applicationFilePath();
    QList<double> walkS, loadS, pythonS, listS, canvasS, shownS, peak;
    const bool python = memoryForPython(QFileInfo(path).size());
    for (int r = 0; r < rounds; ++r) {
        warmPageCache(path);
        walkS.append(QmBench::runFresh(self, {QStringLiteral("--walk"), path}).value("seconds", -1));
        loadS.append(QmBench::runFresh(self, {QStringLiteral("--load"), path}).value("seconds", -1));
        const QMap<QByteArray, double> open = QmBench::runFresh(self, {QStringLiteral("--open"), path});
        listS.append(open.value("list", -1));
        canvasS.append(open.value("canvas", -1));
        shownS.append(open.value("shown", -1));
        peak.append(open.value("peakMiB", -1));
        if (python)
            pythonS.append(pythonLoad(path));
    }
    const double w = QmBench::median(walkS);
    const double shown = QmBench::median(shownS);
    const double load = QmBench::median(loadS);
    std::printf("%7d images %6.0f MiB | walk %.3f s | parse %.3f s (%.2fx) | python %s | "
                "list %.3f s, canvas %.3f s, shown %.3f s (%.2fx walk, %.1f us/image, peak %.0f MiB)\n",
                images, double(QFileInfo(path).size()) / (1024.0 * 1024.0), w, load, load / w,
                python ? qPrintable(QStringLiteral("%1 s").arg(QmBench::median(pythonS), 0, 'f', 3))
                       : "skipped (memory)",
                QmBench::median(listS), QmBench::median(canvasS), shown, shown / w, shown / images * 1e6,
                QmBench::median(peak));
    std::fflush(stdout);
}

QList<int> sizesArgument(int argc, char **argv)
{
    QList<int> sizes{10000, 30000, 100000};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--sizes") != 0)
            continue;
        sizes.clear();
        for (const QByteArray &part : QByteArray(argv[i + 1]).split(','))
            if (part.toInt() > 0)
                sizes.append(part.toInt());
    }
    return sizes;
}

QString stringArgument(int argc, char **argv, const char *name, const QString &fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    if (argc == 3 && (std::strcmp(argv[1], "--open") == 0 || std::strcmp(argv[1], "--load") == 0
                      || std::strcmp(argv[1], "--walk") == 0))
        return runOnce(argv[1], QString::fromLocal8Bit(argv[2]));
    const int rounds = std::max(1, QmBench::intArgument(argc, argv, "--rounds", 3));
    const QString fixtures = stringArgument(argc, argv, "--fixtures", QDir::tempPath() + QStringLiteral("/qm_openproject"));
    std::printf("Open command to list rows and picture painted, fresh process per reading, median of %d rounds\n",
                rounds);
    for (int images : sizesArgument(argc, argv)) {
        const QString path = prepareFixture(fixtures, images);
        if (path.isEmpty()) {
            std::fprintf(stderr, "could not prepare the fixture of %d images in %s\n", images, qPrintable(fixtures));
            return 1;
        }
        compareAt(path, images, rounds);
    }
    return 0;
}
