// Panels on projects of 100,000 images: the image list's rebuild and per-row
// updates, the film strip's reset and window rebuild, the statistics HTML, and
// the video scrubber's repaint with many annotated frames, and how long the
// window stalls while the film strip fills with thumbnails of large pictures.
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_panels

#include "PeakMemory.h"

#include "model/Dataset.h"
#include "panels/AnnotationPanel.h"
#include "panels/FilmStrip.h"
#include "panels/ImageListPanel.h"
#include "panels/VideoScrubber.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QListView>
#include <QListWidget>

#include <benchmark/benchmark.h>

#include <unistd.h>

using namespace Quillmark;

namespace {

Dataset makeDataset(int images)
{
    Dataset d;
    d.images.reserve(images);
    for (int i = 0; i < images; ++i) {
        ImageEntry e;
        e.filePath = QStringLiteral("/data/project/images/batch_%1/image_%2.jpg").arg(i / 1000).arg(i);
        if (i % 3 == 0)
            e.labels.append(Annotation{});
        d.addImage(e);
    }
    return d;
}

void BM_ImageListSetDataset(benchmark::State &state)
{
    const Dataset dataset = makeDataset(int(state.range(0)));
    ImageListPanel panel;
    panel.resize(270, 800);
    panel.show();
    for (auto _ : state) {
        panel.setDataset(dataset);
        QCoreApplication::processEvents();  // first layout batch: the window answers again
    }
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}
BENCHMARK(BM_ImageListSetDataset)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// What the user waits for: from handing over the dataset until the rows in
// view are painted, and until the end of the list can be scrolled to and
// painted (every row laid out). Runs the event loop as the window would.
void BM_ImageListRowsPainted(benchmark::State &state)
{
    const Dataset dataset = makeDataset(int(state.range(0)));
    ImageListPanel panel;
    panel.resize(270, 800);
    panel.show();
    QListView *list = panel.findChild<QListView *>();
    for (auto _ : state) {
        panel.setDataset(dataset);
        QCoreApplication::processEvents();
        list->viewport()->grab();
        const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
        // Laid out to the end: the last row has its place below the first.
        while (list->visualRect(last).bottom() <= list->visualRect(list->model()->index(0, 0)).bottom())
            QCoreApplication::processEvents();
        list->scrollToBottom();
        QCoreApplication::processEvents();
        list->viewport()->grab();
        benchmark::DoNotOptimize(list->indexAt(QPoint(4, list->viewport()->height() - 4)));
        list->scrollToTop();
    }
}
BENCHMARK(BM_ImageListRowsPainted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// An edit on a crowded picture as the window hands it to the panel: the list
// of a picture with N annotations given again after one shape moved (twice,
// as the canvas and the undo stack each report it), then after a deletion in
// the middle, then after its undo; painted each time. Three edits a round.
void BM_AnnotationPanelEdits(benchmark::State &state)
{
    AnnotationPanel panel;
    panel.resize(260, 800);
    panel.show();
    panel.setClasses({{"cat", QColor("#00ff00")}, {"dog", QColor("#0000ff")}});
    ImageEntry entry;
    for (int i = 0; i < state.range(0); ++i) {
        Annotation a;
        a.className = i % 2 ? QStringLiteral("cat") : QStringLiteral("dog");
        a.bbox = QRectF(i % 500, i % 300, 20, 20);
        entry.labels.append(a);
    }
    panel.setAnnotations(entry);
    QCoreApplication::processEvents();
    QListWidget *list = panel.annotationListWidget();
    for (auto _ : state) {
        entry.labels[state.range(0) / 2].bbox.translate(1, 1);
        panel.setAnnotations(entry);
        panel.setAnnotations(entry);
        list->viewport()->grab();
        const Annotation taken = entry.labels.takeAt(state.range(0) / 3);
        panel.setAnnotations(entry);
        list->viewport()->grab();
        entry.labels.insert(state.range(0) / 3, taken);
        panel.setAnnotations(entry);
        list->viewport()->grab();
    }
}
BENCHMARK(BM_AnnotationPanelEdits)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_ImageListLabelEveryImage(benchmark::State &state)
{
    // What a class removal does: one labelled-state update per image.
    const Dataset dataset = makeDataset(int(state.range(0)));
    ImageListPanel panel;
    panel.setDataset(dataset);
    bool labeled = false;
    for (auto _ : state) {
        labeled = !labeled;
        for (const ImageEntry &e : dataset.images)
            panel.setImageLabeled(e.id, labeled);
    }
}
BENCHMARK(BM_ImageListLabelEveryImage)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FilmStripSetDataset(benchmark::State &state)
{
    const Dataset dataset = makeDataset(int(state.range(0)));
    FilmStrip strip;
    strip.resize(1000, 86);
    strip.setCurrent(int(state.range(0)) / 2);
    for (auto _ : state) {
        strip.setDataset(dataset.images);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
BENCHMARK(BM_FilmStripSetDataset)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FilmStripJump(benchmark::State &state)
{
    const Dataset dataset = makeDataset(100000);
    FilmStrip strip;
    strip.resize(1000, 86);
    strip.setDataset(dataset.images);
    int id = 0;
    for (auto _ : state) {
        id = (id + 5000) % 100000;  // always outside the window: a rebuild
        strip.setCurrent(id);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
BENCHMARK(BM_FilmStripJump)->Unit(benchmark::kMicrosecond);

void BM_StatsHtml(benchmark::State &state)
{
    QMap<QString, int> perClass;
    QMap<QString, QColor> colors;
    for (int i = 0; i < state.range(0); ++i) {
        perClass.insert(QStringLiteral("class_%1").arg(i), (i * 7919) % 1000);
        colors.insert(QStringLiteral("class_%1").arg(i), QColor::fromHsv(i % 360, 200, 220));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(AnnotationPanel::statsHtml(100000, 60000, 500000, perClass, 3, 40, 9000, colors));
}
BENCHMARK(BM_StatsHtml)->Arg(80)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_ScrubberPaint(benchmark::State &state)
{
    // One repaint per frame during playback, with every second frame annotated.
    VideoScrubber scrubber;
    scrubber.resize(1200, 22);
    const int frames = int(state.range(0));
    scrubber.setRange(0, frames - 1);
    QSet<int> markers;
    for (int frame = 0; frame < frames; frame += 2)
        markers.insert(frame);
    scrubber.setMarkers(markers);
    QImage image(scrubber.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        scrubber.render(&image);
}
BENCHMARK(BM_ScrubberPaint)->Arg(2000)->Arg(200000)->Unit(benchmark::kMicrosecond);

// Fifty 6000x4000 PNGs of noise (one file, linked under fifty names): from
// handing the strip its dataset until every thumbnail is shown, the longest
// the window's event loop went without answering, as a 10 ms timer sees it.
void BM_FilmStripFillStall(benchmark::State &state)
{
    QTemporaryDir dir;
    QImage noise(6000, 4000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    const QString first = dir.filePath(QStringLiteral("noise_0.png"));
    noise.save(first);
    noise = QImage();
    QList<ImageEntry> images;
    for (int i = 0; i < 50; ++i) {
        ImageEntry e;
        e.id = i;
        e.filePath = dir.filePath(QStringLiteral("noise_%1.png").arg(i));
        if (i > 0 && ::link(first.toLocal8Bit().constData(), e.filePath.toLocal8Bit().constData()) != 0)
            QFile::copy(first, e.filePath);
        images.append(e);
    }

    double longestStallMs = 0;
    double fillMs = 0;
    for (auto _ : state) {
        FilmStrip strip;
        strip.resize(1200, 86);
        strip.show();
        QElapsedTimer sinceTick;
        qint64 worst = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, sinceTick.nsecsElapsed() - 10'000'000);
            sinceTick.restart();
        });
        const auto allShown = [&strip] {
            const QList<int> ids = strip.shownIds();
            return std::all_of(ids.cbegin(), ids.cend(),
                               [&strip](int id) { return !strip.thumbnailLabel(id)->pixmap().isNull(); });
        };
        QElapsedTimer fill;
        fill.start();
        sinceTick.start();
        tick.start(10);
        strip.setDataset(images);
        while (!allShown())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        fillMs = double(fill.nsecsElapsed()) / 1e6;
        longestStallMs = std::max(longestStallMs, double(worst) / 1e6);
        tick.stop();
    }
    state.counters["longestStallMs"] = longestStallMs;
    state.counters["fillMs"] = fillMs;
}
BENCHMARK(BM_FilmStripFillStall)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
