// Paint and hit-test cost of the annotation canvas on a large annotation set:
// 5,000 polygons of 20 points on a 4000 x 3000 image at fit zoom, beside a plain
// QPainter loop that draws the same polygons and a plain containment scan; and
// the time from a 45-megapixel JPEG file to the first paint of the canvas,
// beside plain Qt decoding and drawing the same file. The ratios are printed
// after the runs.

#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"
#include "model/Dataset.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

using namespace Quillmark;

namespace {

constexpr int ImageWidth = 4000;
constexpr int ImageHeight = 3000;
constexpr int PolygonCount = 5000;
constexpr int PointsPerPolygon = 20;
const QSize CanvasSize(1280, 800);

QList<Annotation> makePolygons()
{
    QRandomGenerator rng(20240611);
    QList<Annotation> labels;
    labels.reserve(PolygonCount);
    for (int i = 0; i < PolygonCount; ++i) {
        const QPointF centre(60 + rng.bounded(ImageWidth - 120.0), 60 + rng.bounded(ImageHeight - 120.0));
        const double radius = 15 + rng.bounded(40.0);
        Annotation a;
        a.kind = Polygon;
        a.className = QStringLiteral("class%1").arg(i % 10);
        for (int k = 0; k < PointsPerPolygon; ++k) {
            const double angle = 2 * M_PI * k / PointsPerPolygon;
            const double r = radius * (0.7 + 0.3 * rng.generateDouble());
            a.points.append(centre + QPointF(std::cos(angle) * r, std::sin(angle) * r));
        }
        a.bbox = QPolygonF(a.points).boundingRect();
        labels.append(a);
    }
    return labels;
}

QMap<QString, QColor> classColors()
{
    QMap<QString, QColor> colors;
    for (int i = 0; i < 10; ++i)
        colors.insert(QStringLiteral("class%1").arg(i), classPalette[i % 8]);
    return colors;
}

struct Scene {
    QList<Annotation> labels = makePolygons();
    QMap<QString, QColor> colors = classColors();
    QImage photo;
    std::unique_ptr<LabelCanvas> canvas;
    QList<QPointF> probes; // screen points for hit tests

    Scene()
    {
        photo = QImage(ImageWidth, ImageHeight, QImage::Format_RGB32);
        photo.fill(QColor(60, 70, 80));
        canvas = std::make_unique<LabelCanvas>();
        canvas->resize(CanvasSize);
        canvas->setClassColors(colors);
        ImageEntry entry;
        entry.id = 1;
        entry.width = ImageWidth;
        entry.height = ImageHeight;
        entry.labels = labels;
        entry.image = photo;
        canvas->setImage(entry);
        canvas->fitToWindow();
        canvas->setTool(int(Tool::Select));
        QRandomGenerator rng(7);
        for (int i = 0; i < 256; ++i)
            probes.append(QPointF(rng.bounded(double(CanvasSize.width())), rng.bounded(double(CanvasSize.height()))));
    }
};

Scene &scene()
{
    static Scene s;
    return s;
}

QImage target()
{
    QImage img(CanvasSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    return img;
}

// A full paint: every annotation is drawn, as on the first paint of an image, a
// zoom step or a change of colours (here: two colour maps in turn).
void BM_CanvasPaint(benchmark::State &state)
{
    Scene &s = scene();
    s.canvas->setShowLabels(state.range(0) != 0);
    QMap<QString, QColor> other = s.colors;
    other.insert(QStringLiteral("class0"), QColor(1, 2, 3));
    QImage img = target();
    int round = 0;
    for (auto _ : state) {
        s.canvas->setClassColors(++round % 2 ? other : s.colors);
        s.canvas->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    s.canvas->setClassColors(s.colors);
    s.canvas->setShowLabels(true);
    s.canvas->selectAnnotation(-1);
}
BENCHMARK(BM_CanvasPaint)->Arg(1)->Arg(0)->ArgName("labels")->Unit(benchmark::kMillisecond);

// What a click on another annotation costs: the selection moves between
// annotations far apart in the list and on the image, and the canvas repaints.
void BM_CanvasSelectionChange(benchmark::State &state)
{
    Scene &s = scene();
    QImage img = target();
    s.canvas->selectAnnotation(0);
    s.canvas->render(&img);
    const int picks[] = {10, 2500, 4000, 1200, 3333, 77, 4990, 1800};
    int round = 0;
    for (auto _ : state) {
        s.canvas->selectAnnotation(picks[round++ % 8]);
        s.canvas->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    s.canvas->selectAnnotation(-1);
}
BENCHMARK(BM_CanvasSelectionChange)->Unit(benchmark::kMillisecond);

// A full paint zoomed in about four times on the middle of the image, where
// most annotations lie outside the view.
void BM_CanvasPaintZoomed(benchmark::State &state)
{
    Scene &s = scene();
    for (int i = 0; i < 6; ++i)
        s.canvas->zoomIn();
    QImage img = target();
    int round = 0;
    for (auto _ : state) {
        s.canvas->selectAnnotation(++round % 2 ? 10 : 20);
        s.canvas->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    s.canvas->fitToWindow();
    s.canvas->selectAnnotation(-1);
}
BENCHMARK(BM_CanvasPaintZoomed)->Unit(benchmark::kMillisecond);

// The same picture with nothing but QPainter: background, scaled image, and every
// polygon filled and outlined in its class colour.
void BM_PlainPainterLoop(benchmark::State &state)
{
    Scene &s = scene();
    const QPixmap pixmap = QPixmap::fromImage(s.photo);
    const double scale = s.canvas->viewScale();
    const QPointF offset = s.canvas->viewOffset();
    QImage img = target();
    for (auto _ : state) {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(img.rect(), QColor("#d7dde5"));
        p.drawPixmap(QRectF(offset.x(), offset.y(), ImageWidth * scale, ImageHeight * scale), pixmap,
                     QRectF(pixmap.rect()));
        for (const Annotation &a : s.labels) {
            QPolygonF screen;
            screen.reserve(a.points.size());
            for (const QPointF &pt : a.points)
                screen.append(pt * scale + offset);
            QColor fill = s.colors.value(a.className);
            const QColor line = fill;
            fill.setAlpha(90);
            p.setBrush(fill);
            p.setPen(QPen(line, 2));
            p.drawPolygon(screen, Qt::OddEvenFill);
        }
        p.end();
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_PlainPainterLoop)->Unit(benchmark::kMillisecond);

void BM_CanvasHitTest(benchmark::State &state)
{
    Scene &s = scene();
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.canvas->annotationAt(s.probes.at(i)));
        i = (i + 1) % s.probes.size();
    }
}
BENCHMARK(BM_CanvasHitTest)->Unit(benchmark::kMicrosecond);

// What the user feels while moving the mouse over the image: every move redraws
// the crosshair and hover state over the same annotations.
void BM_CanvasRepaintOnHover(benchmark::State &state)
{
    Scene &s = scene();
    QImage img = target();
    s.canvas->render(&img);
    qsizetype i = 0;
    for (auto _ : state) {
        const QPointF pos = s.probes.at(i);
        QMouseEvent move(QEvent::MouseMove, pos, s.canvas->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(s.canvas.get(), &move);
        s.canvas->render(&img);
        benchmark::DoNotOptimize(img.constBits());
        i = (i + 1) % s.probes.size();
    }
}
BENCHMARK(BM_CanvasRepaintOnHover)->Unit(benchmark::kMillisecond);

// The naive scan: map every polygon to the screen and test containment there.
void BM_PlainHitTest(benchmark::State &state)
{
    Scene &s = scene();
    const double scale = s.canvas->viewScale();
    const QPointF offset = s.canvas->viewOffset();
    qsizetype i = 0;
    for (auto _ : state) {
        int hit = -1;
        const QPointF probe = s.probes.at(i);
        for (qsizetype k = s.labels.size() - 1; k >= 0 && hit < 0; --k) {
            QPolygonF screen;
            screen.reserve(s.labels.at(k).points.size());
            for (const QPointF &pt : s.labels.at(k).points)
                screen.append(pt * scale + offset);
            if (screen.containsPoint(probe, Qt::OddEvenFill))
                hit = int(k);
        }
        benchmark::DoNotOptimize(hit);
        i = (i + 1) % s.probes.size();
    }
}
BENCHMARK(BM_PlainHitTest)->Unit(benchmark::kMicrosecond);

// A 45-megapixel drone photo (8256 x 5504) written once as a JPEG.
struct LargePhoto {
    QTemporaryDir dir;
    QString path;

    LargePhoto()
    {
        path = dir.filePath(QStringLiteral("DJI_0001.JPG"));
        QImage photo(8256, 5504, QImage::Format_RGB32);
        QRandomGenerator rng(3);
        for (int y = 0; y < photo.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x)
                line[x] = qRgb((x / 16) & 255, (y / 16) & 255, int(rng.bounded(64)) + 96);
        }
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        writer.write(photo);
    }
};

LargePhoto &largePhoto()
{
    static LargePhoto photo;
    return photo;
}

// From the file to the first picture on the canvas: decode (upright, through
// the program's picture loader), hand the pixels to the canvas, fit and paint.
void BM_FirstPaint45MP(benchmark::State &state)
{
    const QString path = largePhoto().path;
    LabelCanvas canvas;
    canvas.resize(CanvasSize);
    QImage img = target();
    ImageEntry entry;
    entry.id = 1;
    entry.filePath = path;
    for (auto _ : state) {
        canvas.setImage(entry);
        canvas.render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_FirstPaint45MP)->Unit(benchmark::kMillisecond)->Iterations(8);

// The same with nothing but Qt: read the file, make it a pixmap and draw it
// fitted into the same window.
void BM_PlainFirstPaint45MP(benchmark::State &state)
{
    const QString path = largePhoto().path;
    QImage img = target();
    for (auto _ : state) {
        QImageReader reader(path);
        const QPixmap pixmap = QPixmap::fromImage(reader.read());
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        const QSizeF fitted = QSizeF(pixmap.size()).scaled(QSizeF(CanvasSize) * 0.92, Qt::KeepAspectRatio);
        p.drawPixmap(QRectF(QPointF((CanvasSize.width() - fitted.width()) / 2,
                                    (CanvasSize.height() - fitted.height()) / 2),
                            fitted),
                     pixmap, QRectF(pixmap.rect()));
        p.end();
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_PlainFirstPaint45MP)->Unit(benchmark::kMillisecond)->Iterations(8);

// Prints the runs as usual and keeps their times for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;

    // Keeps the median when the runs are repeated, else the single run.
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const double time = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median")
                    seconds[run.run_name.str()] = time;
            } else if (run.repetitions <= 1) {
                seconds[run.benchmark_name()] = time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio(const char *label, const std::string &ours, const std::string &plain) const
    {
        const auto a = seconds.find(ours);
        const auto b = seconds.find(plain);
        if (a == seconds.end() || b == seconds.end() || b->second <= 0)
            return;
        std::printf("%-44s %9.3f ms vs %9.3f ms  ratio %.2f\n", label, a->second * 1e3, b->second * 1e3,
                    a->second / b->second);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program does at start-up: a 45-megapixel photo needs more than
    // Qt's own 128 MB a picture.
    QImageReader::setAllocationLimit(4096);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n5,000 polygons x 20 points, 4000 x 3000 image at fit zoom, %d x %d canvas\n",
                CanvasSize.width(), CanvasSize.height());
    reporter.printRatio("full paint, class tags on / plain loop", "BM_CanvasPaint/labels:1", "BM_PlainPainterLoop");
    reporter.printRatio("full paint, class tags off / plain loop", "BM_CanvasPaint/labels:0", "BM_PlainPainterLoop");
    reporter.printRatio("selection change / plain loop", "BM_CanvasSelectionChange", "BM_PlainPainterLoop");
    reporter.printRatio("repaint on hover / plain loop", "BM_CanvasRepaintOnHover", "BM_PlainPainterLoop");
    reporter.printRatio("45 MP JPEG to first paint / plain Qt", "BM_FirstPaint45MP/iterations:8",
                        "BM_PlainFirstPaint45MP/iterations:8");
    reporter.printRatio("hit test / plain mapped scan", "BM_CanvasHitTest", "BM_PlainHitTest");
    benchmark::Shutdown();
    return 0;
}
