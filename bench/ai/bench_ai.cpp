// Pre- and post-processing of the detection engine, timed beside the OpenCV
// calls that do the same work on the same input (the same picture's bytes,
// the same mask). After the runs, each pair is printed as a ratio
// (our time / OpenCV's time; below 1 means ours is faster).

#include "ai/DetectionDecoding.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OutlineTracing.h"

#include "PeakMemory.h"
#include "SyntheticPhoto.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QSemaphore>
#include <QThreadPool>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef QM_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace Quillmark;

namespace {

constexpr int classes = 80;
constexpr int features = 4 + classes;
constexpr int candidates = 8400;
constexpr float confThreshold = 0.25f;
constexpr float iouThreshold = 0.45f;

using QmBench::photo;

// A [84, 8400] detector output: 40 objects, each found by ~30 overlapping
// candidates of one class with jittered boxes and scores from 0.3 to 0.95; the
// other candidates score below the threshold.
const std::vector<float> &detectorOutput()
{
    static const std::vector<float> output = [] {
        std::vector<float> out(size_t(features) * candidates, 0.0f);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        auto set = [&](int row, int j, float v) { out[size_t(row) * candidates + j] = v; };
        for (int j = 0; j < candidates; ++j) {
            set(0, j, 20 + unit(rng) * 600);
            set(1, j, 20 + unit(rng) * 600);
            set(2, j, 10 + unit(rng) * 200);
            set(3, j, 10 + unit(rng) * 200);
            for (int c = 0; c < classes; ++c)
                set(4 + c, j, unit(rng) * 0.2f);
        }
        for (int object = 0; object < 40; ++object) {
            const float cx = 40 + unit(rng) * 560, cy = 40 + unit(rng) * 560;
            const float w = 30 + unit(rng) * 200, h = 30 + unit(rng) * 200;
            const int cls = int(unit(rng) * classes) % classes;
            for (int k = 0; k < 30; ++k) {
                const int j = object * 200 + k * 3;
                set(0, j, cx + (unit(rng) - 0.5f) * 12);
                set(1, j, cy + (unit(rng) - 0.5f) * 12);
                set(2, j, w * (0.9f + unit(rng) * 0.2f));
                set(3, j, h * (0.9f + unit(rng) * 0.2f));
                set(4 + cls, j, 0.3f + unit(rng) * 0.65f);
            }
        }
        return out;
    }();
    return output;
}

const LetterboxMapping mapping{0.16f, 0, 80, 4000, 3000};

// 32 prototype planes of 160 x 160 and 100 instances (coefficients and boxes).
struct MaskInputs {
    std::vector<float> prototypes;
    std::vector<std::array<float, maskCoefficientCount>> coefficients;
    std::vector<QRectF> boxes;
};

const MaskInputs &maskInputs()
{
    static const MaskInputs inputs = [] {
        MaskInputs in;
        std::mt19937 rng(11);
        std::normal_distribution<float> normal(0.0f, 1.0f);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        in.prototypes.resize(size_t(prototypeValueCount));
        for (int k = 0; k < maskCoefficientCount; ++k)
            for (int r = 0; r < maskSize; ++r)
                for (int c = 0; c < maskSize; ++c)
                    in.prototypes[size_t((k * maskSize + r) * maskSize + c)] =
                        std::sin(0.05f * float(r * (k + 1)) + 0.07f * float(c)) + 0.1f * normal(rng);
        for (int i = 0; i < 100; ++i) {
            std::array<float, maskCoefficientCount> coefficients;
            for (float &v : coefficients)
                v = normal(rng);
            in.coefficients.push_back(coefficients);
            const float w = 40 + unit(rng) * 300, h = 40 + unit(rng) * 300;
            in.boxes.emplace_back(unit(rng) * (640 - w), unit(rng) * (640 - h), w, h);
        }
        return in;
    }();
    return inputs;
}

// A 4000 x 3000 mask holding one disc, or none.
QImage maskWithDisc(int centreX, int centreY, int radius)
{
    QImage m(4000, 3000, QImage::Format_Grayscale8);
    m.fill(0);
    for (int y = std::max(0, centreY - radius); y <= std::min(2999, centreY + radius); ++y) {
        uchar *row = m.scanLine(y);
        for (int x = std::max(0, centreX - radius); x <= std::min(3999, centreX + radius); ++x)
            row[x] = (x - centreX) * (x - centreX) + (y - centreY) * (y - centreY) <= radius * radius ? 255 : 0;
    }
    return m;
}

// One disc of radius 1400 filling the middle.
const QImage &discMask()
{
    static const QImage mask = maskWithDisc(2000, 1500, 1400);
    return mask;
}

// A small object near the bottom: everything above it is read first.
const QImage &bottomMask()
{
    static const QImage mask = maskWithDisc(2000, 2880, 100);
    return mask;
}

const QImage &emptyMask()
{
    static const QImage mask = maskWithDisc(0, 0, -1);
    return mask;
}

// The photo as both letterboxes take it: three bytes per pixel, the layout
// OpenCV works in, so neither side converts it first.
const QImage &photoRgb888()
{
    static const QImage rgb = photo().convertToFormat(QImage::Format_RGB888);
    return rgb;
}

// From the picture as a decoder hands it over (four bytes per pixel), and
// from the same picture in OpenCV's three-byte layout; OpenCV starts from the
// same bytes in each case.
void letterboxOurs(benchmark::State &state, const QImage &source)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(letterboxImage(source, 640, 640));
    state.counters["peak_MiB"] = QmBench::peakMemoryMiB();
}

void BM_Letterbox12MP_ours(benchmark::State &state)
{
    letterboxOurs(state, photo());
}
void BM_Letterbox12MP_ours888(benchmark::State &state)
{
    letterboxOurs(state, photoRgb888());
}
void BM_LetterboxSubMP_ours(benchmark::State &state)
{
    letterboxOurs(state, QmBench::smallPhoto());
}

// Ours spreads a large picture over the idle threads of the global pool.
// Keeping the pool's only thread busy leaves none idle, so the letterbox runs
// on the calling thread alone, for the one-thread comparison.
class PoolHeld {
public:
    PoolHeld()
        : pool(QThreadPool::globalInstance())
        , threads(pool->maxThreadCount())
    {
        pool->setMaxThreadCount(1);
        pool->start([this] {
            started.release();
            finish.acquire();
        });
        started.acquire();
    }
    ~PoolHeld()
    {
        finish.release();
        pool->waitForDone();
        pool->setMaxThreadCount(threads);
    }
    PoolHeld(const PoolHeld &) = delete;
    PoolHeld &operator=(const PoolHeld &) = delete;

private:
    QThreadPool *pool;
    int threads;
    QSemaphore started;
    QSemaphore finish;
};

// The pictures are made before the pool is held: Qt converts large ones on
// the pool's threads.
void BM_Letterbox12MP_ours1T(benchmark::State &state)
{
    const QImage &source = photo();
    const PoolHeld held;
    letterboxOurs(state, source);
}
void BM_Letterbox12MP_ours888_1T(benchmark::State &state)
{
    const QImage &source = photoRgb888();
    const PoolHeld held;
    letterboxOurs(state, source);
}

void BM_TensorFill_ours(benchmark::State &state)
{
    const QImage input = letterboxImage(photo(), 640, 640).image;
    for (auto _ : state)
        benchmark::DoNotOptimize(imageToChwTensor(input));
}

void BM_DecodeNms_ours(benchmark::State &state)
{
    const std::vector<float> &output = detectorOutput();
    size_t kept = 0;
    for (auto _ : state) {
        const DecodedCandidates decoded =
            decodeCandidates(output, features, candidates, classes, mapping, confThreshold, {});
        kept = nmsSurvivors(decoded.detections, iouThreshold).size();
        benchmark::DoNotOptimize(kept);
    }
    state.counters["kept"] = double(kept);
}

void BM_Masks100_ours(benchmark::State &state)
{
    const MaskInputs &in = maskInputs();
    for (auto _ : state) {
        for (size_t i = 0; i < in.boxes.size(); ++i)
            benchmark::DoNotOptimize(instanceMask(in.prototypes, in.coefficients[i], maskCropForBox(in.boxes[i])));
    }
}

void BM_Masks100WithOutlines_ours(benchmark::State &state)
{
    const MaskInputs &in = maskInputs();
    for (auto _ : state) {
        for (size_t i = 0; i < in.boxes.size(); ++i)
            benchmark::DoNotOptimize(instanceOutline(in.prototypes, in.coefficients[i], in.boxes[i], mapping));
    }
}

void outlineOurs(benchmark::State &state, const QImage &mask)
{
    qsizetype points = 0;
    for (auto _ : state) {
        points = maskToPolygon(mask, 2.0).size();
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = double(points);
}

void BM_DiscOutline_ours(benchmark::State &state)
{
    outlineOurs(state, discMask());
}
void BM_BottomOutline_ours(benchmark::State &state)
{
    outlineOurs(state, bottomMask());
}
void BM_EmptyOutline_ours(benchmark::State &state)
{
    outlineOurs(state, emptyMask());
}

BENCHMARK(BM_Letterbox12MP_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_ours888)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LetterboxSubMP_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_ours1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_ours888_1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TensorFill_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeNms_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Masks100_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Masks100WithOutlines_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscOutline_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BottomOutline_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EmptyOutline_ours)->Unit(benchmark::kMicrosecond);

#ifdef QM_HAVE_OPENCV

// A picture's own pixels as a matrix, not a copy.
cv::Mat matOf(const QImage &image, int type)
{
    return cv::Mat(image.height(), image.width(), type, const_cast<uchar *>(image.constBits()),
                   size_t(image.bytesPerLine()));
}

// Resize, pad with grey and, from four bytes per pixel, drop to three, as
// ours delivers the picture.
void letterboxCv(benchmark::State &state, const QImage &image, int interpolation)
{
    const bool fourBytes = image.depth() == 32;
    const cv::Mat source = matOf(image, fourBytes ? CV_8UC4 : CV_8UC3);
    const float scale = std::min(640.0f / float(source.cols), 640.0f / float(source.rows));
    const int newW = int(scale * float(source.cols) + 0.5f);
    const int newH = int(scale * float(source.rows) + 0.5f);
    const int padX = (640 - newW) / 2, padY = (640 - newH) / 2;
    for (auto _ : state) {
        cv::Mat resized, boxed;
        cv::resize(source, resized, cv::Size(newW, newH), 0, 0, interpolation);
        if (fourBytes)
            cv::cvtColor(resized, resized, cv::COLOR_BGRA2BGR);
        cv::copyMakeBorder(resized, boxed, padY, 640 - newH - padY, padX, 640 - newW - padX,
                           cv::BORDER_CONSTANT, cv::Scalar(114, 114, 114));
        benchmark::DoNotOptimize(boxed.data);
    }
}

// OpenCV spreads a resize over all cores, as ours does; these run it on one
// thread, to compare with ours on one.
void letterboxCvOneThread(benchmark::State &state, const QImage &image, int interpolation)
{
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    letterboxCv(state, image, interpolation);
    cv::setNumThreads(threads);
}

void BM_Letterbox12MP_opencvArea1T(benchmark::State &state)
{
    letterboxCvOneThread(state, photo(), cv::INTER_AREA);
}
void BM_Letterbox12MP_opencvLinear1T(benchmark::State &state)
{
    letterboxCvOneThread(state, photo(), cv::INTER_LINEAR);
}
void BM_Letterbox12MP_opencvArea888_1T(benchmark::State &state)
{
    letterboxCvOneThread(state, photoRgb888(), cv::INTER_AREA);
}
void BM_Letterbox12MP_opencvLinear888_1T(benchmark::State &state)
{
    letterboxCvOneThread(state, photoRgb888(), cv::INTER_LINEAR);
}

void BM_Letterbox12MP_opencvLinear(benchmark::State &state)
{
    letterboxCv(state, photo(), cv::INTER_LINEAR);
}
void BM_Letterbox12MP_opencvArea(benchmark::State &state)
{
    letterboxCv(state, photo(), cv::INTER_AREA);
}
void BM_Letterbox12MP_opencvLinear888(benchmark::State &state)
{
    letterboxCv(state, photoRgb888(), cv::INTER_LINEAR);
}
void BM_Letterbox12MP_opencvArea888(benchmark::State &state)
{
    letterboxCv(state, photoRgb888(), cv::INTER_AREA);
}

void BM_TensorFill_opencv(benchmark::State &state)
{
    const QImage input = letterboxImage(photo(), 640, 640).image;
    const cv::Mat mat(input.height(), input.width(), CV_8UC3, const_cast<uchar *>(input.constBits()),
                      size_t(input.bytesPerLine()));
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::dnn::blobFromImage(mat, 1.0 / 255.0));
}

// The same with core calls: scale to float, then split into the planes.
void BM_TensorFill_opencvSplit(benchmark::State &state)
{
    const QImage input = letterboxImage(photo(), 640, 640).image;
    const cv::Mat mat(input.height(), input.width(), CV_8UC3, const_cast<uchar *>(input.constBits()),
                      size_t(input.bytesPerLine()));
    for (auto _ : state) {
        std::vector<float> tensor(size_t(3) * mat.rows * mat.cols);
        std::vector<cv::Mat> planes;
        for (int c = 0; c < 3; ++c)
            planes.emplace_back(mat.rows, mat.cols, CV_32F, tensor.data() + size_t(c) * mat.rows * mat.cols);
        cv::Mat scaled;
        mat.convertTo(scaled, CV_32F, 1.0 / 255.0);
        cv::split(scaled, planes);
        benchmark::DoNotOptimize(tensor.data());
    }
}

// The usual OpenCV pipeline: transpose to one row per candidate, best class
// with minMaxLoc, then NMSBoxes with boxes shifted apart per class.
void BM_DecodeNms_opencv(benchmark::State &state)
{
    const cv::Mat output(features, candidates, CV_32F, const_cast<float *>(detectorOutput().data()));
    size_t kept = 0;
    for (auto _ : state) {
        cv::Mat rows = output.t();
        std::vector<cv::Rect2d> boxes;
        std::vector<float> scores;
        std::vector<int> ids;
        for (int j = 0; j < candidates; ++j) {
            const float *row = rows.ptr<float>(j);
            const cv::Mat classScores(1, classes, CV_32F, const_cast<float *>(row + 4));
            double best = 0;
            cv::Point where;
            cv::minMaxLoc(classScores, nullptr, &best, nullptr, &where);
            if (best < confThreshold)
                continue;
            const double offset = where.x * 8192.0;
            const double x1 = (row[0] - row[2] / 2 - mapping.padX) / mapping.scale;
            const double y1 = (row[1] - row[3] / 2 - mapping.padY) / mapping.scale;
            boxes.emplace_back(x1 + offset, y1, row[2] / mapping.scale, row[3] / mapping.scale);
            scores.push_back(float(best));
            ids.push_back(where.x);
        }
        std::vector<int> indices;
        cv::dnn::NMSBoxes(boxes, scores, confThreshold, iouThreshold, indices);
        kept = indices.size();
        benchmark::DoNotOptimize(kept);
    }
    state.counters["kept"] = double(kept);
}

// All 100 masks at once: one matrix product over the full 160 x 160 planes and
// a sigmoid.
void BM_Masks100_opencv(benchmark::State &state)
{
    const MaskInputs &in = maskInputs();
    const cv::Mat protos(maskCoefficientCount, maskSize * maskSize, CV_32F, const_cast<float *>(in.prototypes.data()));
    cv::Mat coefficients(int(in.coefficients.size()), maskCoefficientCount, CV_32F);
    for (int i = 0; i < coefficients.rows; ++i)
        std::memcpy(coefficients.ptr<float>(i), in.coefficients[size_t(i)].data(), sizeof(float) * maskCoefficientCount);
    for (auto _ : state) {
        cv::Mat masks;
        cv::gemm(coefficients, protos, 1.0, cv::noArray(), 0.0, masks);
        cv::exp(-masks, masks);
        masks = 1.0 / (1.0 + masks);
        benchmark::DoNotOptimize(masks.data);
    }
}

// The same mask's pixels, outer contours and their simplification.
void outlineCv(benchmark::State &state, const QImage &mask)
{
    const cv::Mat mat(mask.height(), mask.width(), CV_8UC1, const_cast<uchar *>(mask.constBits()),
                      size_t(mask.bytesPerLine()));
    size_t points = 0;
    for (auto _ : state) {
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mat, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        std::vector<cv::Point> approx;
        if (!contours.empty())
            cv::approxPolyDP(contours.front(), approx, 2.0, true);
        points = approx.size();
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = double(points);
}

void BM_DiscOutline_opencv(benchmark::State &state)
{
    outlineCv(state, discMask());
}
void BM_BottomOutline_opencv(benchmark::State &state)
{
    outlineCv(state, bottomMask());
}
void BM_EmptyOutline_opencv(benchmark::State &state)
{
    outlineCv(state, emptyMask());
}

BENCHMARK(BM_Letterbox12MP_opencvLinear)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvArea)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvLinear888)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvArea888)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvLinear1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvArea1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvLinear888_1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Letterbox12MP_opencvArea888_1T)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TensorFill_opencv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TensorFill_opencvSplit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeNms_opencv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Masks100_opencv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscOutline_opencv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BottomOutline_opencv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EmptyOutline_opencv)->Unit(benchmark::kMicrosecond);

#endif

// Console output as usual, and the mean time of every benchmark kept for the
// ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

#ifdef QM_HAVE_OPENCV
void printRatios(const std::map<std::string, double> &times)
{
    const struct {
        const char *ours;
        const char *opencv;
    } pairs[] = {
        {"BM_Letterbox12MP_ours", "BM_Letterbox12MP_opencvLinear"},
        {"BM_Letterbox12MP_ours", "BM_Letterbox12MP_opencvArea"},
        {"BM_Letterbox12MP_ours888", "BM_Letterbox12MP_opencvLinear888"},
        {"BM_Letterbox12MP_ours888", "BM_Letterbox12MP_opencvArea888"},
        {"BM_Letterbox12MP_ours1T", "BM_Letterbox12MP_opencvLinear1T"},
        {"BM_Letterbox12MP_ours1T", "BM_Letterbox12MP_opencvArea1T"},
        {"BM_Letterbox12MP_ours888_1T", "BM_Letterbox12MP_opencvLinear888_1T"},
        {"BM_Letterbox12MP_ours888_1T", "BM_Letterbox12MP_opencvArea888_1T"},
        {"BM_TensorFill_ours", "BM_TensorFill_opencv"},
        {"BM_TensorFill_ours", "BM_TensorFill_opencvSplit"},
        {"BM_DecodeNms_ours", "BM_DecodeNms_opencv"},
        {"BM_Masks100_ours", "BM_Masks100_opencv"},
        {"BM_Masks100WithOutlines_ours", "BM_Masks100_opencv"},
        {"BM_DiscOutline_ours", "BM_DiscOutline_opencv"},
        {"BM_BottomOutline_ours", "BM_BottomOutline_opencv"},
        {"BM_EmptyOutline_ours", "BM_EmptyOutline_opencv"},
    };
    std::printf("\nours / OpenCV (below 1: ours is faster)\n");
    for (const auto &pair : pairs) {
        const auto ours = times.find(pair.ours);
        const auto opencv = times.find(pair.opencv);
        if (ours == times.end() || opencv == times.end() || opencv->second <= 0)
            continue;
        std::printf("  %-30s vs %-32s %6.2f\n", pair.ours, pair.opencv, ours->second / opencv->second);
    }
}
#endif

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
#ifdef QM_HAVE_OPENCV
    printRatios(reporter.times);
#else
    std::printf("\nOpenCV is not installed: no comparison.\n");
#endif
    return 0;
}
