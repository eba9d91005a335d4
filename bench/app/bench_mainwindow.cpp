// The main window on a project of 100,000 images with 10 annotations each: the
// write-back of one canvas edit (which also recounts the statistics), stepping
// to the next image, a full refresh after the project changed, and a class
// assigned to every image at once.
// Run headless: QT_QPA_PLATFORM=offscreen ./bench_mainwindow

#include "MainWindowTestAccess.h"
#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/Prompts.h"
#include "panels/ImageListPanel.h"

#include <QApplication>
#include <QListView>
#include <QListWidget>

#include <benchmark/benchmark.h>

using namespace Quillmark;

namespace {

void fillProject(MainWindow &window, int images)
{
    MainWindowTestAccess access(window);
    Dataset &dataset = access.project().dataset;
    dataset.images.reserve(images);
    const QStringList classes = {"car", "person", "bike", "bus", "truck"};
    for (int i = 0; i < images; ++i) {
        ImageEntry entry;
        entry.filePath = QStringLiteral("/data/images/batch_%1/image_%2.jpg").arg(i / 1000).arg(i);
        entry.width = 1920;
        entry.height = 1080;
        for (int a = 0; a < 10; ++a) {
            Annotation annotation;
            annotation.className = classes.at((i + a) % classes.size());
            annotation.bbox = QRectF(a * 10, a * 10, 50, 50);
            entry.labels.append(annotation);
        }
        // Pixels in memory, so that selecting an image needs no file.
        if (i < 4) {
            entry.image = QImage(64, 36, QImage::Format_RGB32);
            entry.image.fill(Qt::gray);
        }
        dataset.addImage(entry);
    }
    access.project().projectType = QStringLiteral("object_detection");
    access.refreshUi();
}

void BM_WriteBackOneEdit(benchmark::State &state)
{
    MainWindow window;
    fillProject(window, int(state.range(0)));
    LabelCanvas *canvas = window.labelCanvas();
    QList<Annotation> labels = canvas->annotations();
    for (auto _ : state) {
        labels.first().bbox.translate(1, 0);
        canvas->setAnnotations(labels); // reported as an edit: write-back and statistics
    }
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}
BENCHMARK(BM_WriteBackOneEdit)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_NextImage(benchmark::State &state)
{
    MainWindow window;
    fillProject(window, int(state.range(0)));
    MainWindowTestAccess access(window);
    for (auto _ : state) {
        access.selectImage(1);
        access.selectImage(2);
    }
}
BENCHMARK(BM_NextImage)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_RefreshUi(benchmark::State &state)
{
    MainWindow window;
    fillProject(window, int(state.range(0)));
    MainWindowTestAccess access(window);
    for (auto _ : state)
        access.refreshUi();
}
BENCHMARK(BM_RefreshUi)->Arg(100000)->Unit(benchmark::kMillisecond);

// Answers every question with Yes, as a user who confirms.
class ConfirmingPrompts : public Prompts {
public:
    QMessageBox::StandardButton question(QWidget *, const QString &, const QString &, QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton) override
    {
        return QMessageBox::Yes;
    }
};

void BM_BulkAssignAllImages(benchmark::State &state)
{
    MainWindow window;
    fillProject(window, int(state.range(0)));
    MainWindowTestAccess access(window);
    access.project().projectType = QStringLiteral("classification");
    window.imageList()->listView()->selectAll();
    ConfirmingPrompts prompts;
    Prompts::setOverride(&prompts);
    for (auto _ : state)
        access.onClassesSelected({QStringLiteral("car"), QStringLiteral("outdoor")});
    Prompts::setOverride(nullptr);
}
BENCHMARK(BM_BulkAssignAllImages)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QmBench::prepareWindowEnvironment();
    QApplication app(argc, argv);
    QmBench::runRegisteredBenchmarks(argc, argv);
    return 0;
}
