// Decoding of the face and pose engines' outputs (the model run is not ours):
// the post-processed face output, the three-scale face head, YOLO-pose and the
// palm detector, each with its suppression. After the runs the same inputs are
// handed to facepose_numpy_reference.py, which decodes them with vectorised
// numpy in a warm interpreter; the result counts must agree, and each pair is
// printed as a ratio (our time / numpy's; below 1 means ours is faster).

#include "ai/Detection.h"
#include "ai/FaceDecoding.h"
#include "ai/PoseDecoding.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace Quillmark;

namespace {

constexpr float confThreshold = 0.35f;
constexpr float iouThreshold = 0.45f;
constexpr float keypointThreshold = 0.3f;
constexpr int candidates = 8400;

// A 1920 x 1080 picture letterboxed into 640 x 640.
LetterboxMapping mapping()
{
    LetterboxMapping m;
    m.scale = 1.0f / 3.0f;
    m.padX = 0;
    m.padY = 140;
    m.imageWidth = 1920;
    m.imageHeight = 1080;
    return m;
}

// A channel-major [rows, 8400] output: `objects` objects, each found by
// `perObject` jittered candidates scoring 0.4 to 0.95; the rest score below the
// threshold. Rows after the score hold (x, y, score) triplets near the box.
std::vector<float> rowsOutput(int rows, int objects, int perObject, unsigned seed)
{
    std::vector<float> out(size_t(rows) * candidates, 0.0f);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto set = [&](int row, int j, float v) { out[size_t(row) * candidates + size_t(j)] = v; };
    for (int j = 0; j < candidates; ++j) {
        set(0, j, 20 + unit(rng) * 600);
        set(1, j, 20 + unit(rng) * 600);
        set(2, j, 10 + unit(rng) * 100);
        set(3, j, 10 + unit(rng) * 100);
        set(4, j, unit(rng) * 0.3f);
    }
    for (int object = 0; object < objects; ++object) {
        const float cx = 60 + unit(rng) * 520, cy = 160 + unit(rng) * 320;
        const float w = 30 + unit(rng) * 120, h = 30 + unit(rng) * 160;
        for (int k = 0; k < perObject; ++k) {
            const int j = object * (candidates / objects) + k;
            set(0, j, cx + (unit(rng) - 0.5f) * 8);
            set(1, j, cy + (unit(rng) - 0.5f) * 8);
            set(2, j, w * (0.9f + unit(rng) * 0.2f));
            set(3, j, h * (0.9f + unit(rng) * 0.2f));
            set(4, j, 0.4f + unit(rng) * 0.55f);
            for (int r = 5; r + 2 < rows; r += 3) {
                set(r, j, cx + (unit(rng) - 0.5f) * w);
                set(r + 1, j, cy + (unit(rng) - 0.5f) * h);
                set(r + 2, j, unit(rng));
            }
        }
    }
    return out;
}

struct Grid {
    int height;
    int width;
    std::vector<float> values; // [80, height, width]
};

// The three scales of a 640 x 640 face head: noise bins with a peak, a logit
// of -6 except around 25 faces (a 3 x 3 patch of cells above the threshold at
// the finest scale, one cell at the others), landmarks near the cell.
std::vector<Grid> faceHead()
{
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<Grid> grids;
    for (int size : {80, 40, 20}) {
        Grid grid{size, size, std::vector<float>(size_t(80) * size * size)};
        const size_t plane = size_t(size) * size;
        for (size_t i = 0; i < 64 * plane; ++i)
            grid.values[i] = noise(rng);
        for (size_t cell = 0; cell < plane; ++cell) {
            for (int side = 0; side < 4; ++side)
                grid.values[(size_t(side) * 16 + size_t(unit(rng) * 5)) * plane + cell] += 5.0f;
            grid.values[64 * plane + cell] = -6.0f;
            for (int c = 65; c < 80; ++c)
                grid.values[size_t(c) * plane + cell] = (c - 65) % 3 == 2 ? noise(rng) * 3 : unit(rng) * 2 - 1;
        }
        for (int face = 0; face < 25; ++face) {
            const int r = 1 + int(unit(rng) * float(size - 2)), c = 1 + int(unit(rng) * float(size - 2));
            const int reach = size == 80 ? 1 : 0;
            for (int dr = -reach; dr <= reach; ++dr)
                for (int dc = -reach; dc <= reach; ++dc)
                    grid.values[64 * plane + size_t(r + dr) * size + size_t(c + dc)] = 0.5f + unit(rng) * 3;
        }
        grids.push_back(std::move(grid));
    }
    return grids;
}

struct Palm {
    std::vector<QPointF> anchors;
    std::vector<float> regression; // [anchors, 18]
    std::vector<float> scores;     // [anchors]
};

Palm palmOutput()
{
    Palm palm;
    palm.anchors = palmAnchors(192);
    const size_t count = palm.anchors.size();
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    palm.regression.resize(count * 18);
    palm.scores.resize(count);
    for (size_t a = 0; a < count; ++a) {
        palm.scores[a] = -4.0f - unit(rng) * 4;
        for (int k = 0; k < 18; ++k)
            palm.regression[a * 18 + size_t(k)] = k < 2   ? (unit(rng) - 0.5f) * 10
                                                  : k < 4 ? 20 + unit(rng) * 40
                                                          : (unit(rng) - 0.5f) * 40;
    }
    for (int hand = 0; hand < 8; ++hand) {
        const size_t first = size_t(unit(rng) * float(count - 8));
        for (size_t a = first; a < first + 6; ++a)
            palm.scores[a] = unit(rng) * 4;
    }
    return palm;
}

const std::vector<float> &faceRows()
{
    static const std::vector<float> out = rowsOutput(20, 30, 20, 3);
    return out;
}

const std::vector<float> &poseRows()
{
    static const std::vector<float> out = rowsOutput(56, 40, 15, 4);
    return out;
}

const std::vector<Grid> &faceGrids()
{
    static const std::vector<Grid> grids = faceHead();
    return grids;
}

const Palm &palm()
{
    static const Palm p = palmOutput();
    return p;
}

// Result counts after suppression, to be matched by the numpy decoding.
std::map<std::string, qsizetype> counts;

QList<FaceDetection> runFaceRows()
{
    return suppressOverlaps(decodeFaceRows(faceRows(), 20, candidates, mapping(), confThreshold), iouThreshold);
}

QList<FaceDetection> runFaceGrid()
{
    QList<FaceDetection> faces;
    for (const Grid &grid : faceGrids()) {
        decodeFaceGrid(grid.values, 80, grid.height, grid.width, 640.0f / float(grid.width),
                       640.0f / float(grid.height), mapping(), confThreshold, faces);
    }
    return suppressOverlaps(faces, iouThreshold);
}

QList<PosePerson> runPoseRows()
{
    return suppressOverlaps(decodePoseRows(poseRows(), 17, candidates, mapping(), confThreshold, keypointThreshold),
                            iouThreshold);
}

QList<PosePerson> runPalms()
{
    LetterboxMapping m = mapping();
    m.scale = 0.1f; // 1920 x 1080 into 192 x 192
    m.padY = 42;
    return suppressOverlaps(decodePalms(palm().regression, palm().scores, palm().anchors, 192, 192, m, 0.5f),
                            iouThreshold);
}

void BM_FaceRows(benchmark::State &state)
{
    qsizetype found = 0;
    for (auto _ : state) {
        found = runFaceRows().size();
        benchmark::DoNotOptimize(found);
    }
    counts["face_rows"] = found;
}
BENCHMARK(BM_FaceRows)->Unit(benchmark::kMicrosecond);

void BM_FaceGrid(benchmark::State &state)
{
    qsizetype found = 0;
    for (auto _ : state) {
        found = runFaceGrid().size();
        benchmark::DoNotOptimize(found);
    }
    counts["face_grid"] = found;
}
BENCHMARK(BM_FaceGrid)->Unit(benchmark::kMicrosecond);

void BM_PoseRows(benchmark::State &state)
{
    qsizetype found = 0;
    for (auto _ : state) {
        found = runPoseRows().size();
        benchmark::DoNotOptimize(found);
    }
    counts["pose_rows"] = found;
}
BENCHMARK(BM_PoseRows)->Unit(benchmark::kMicrosecond);

void BM_Palms(benchmark::State &state)
{
    qsizetype found = 0;
    for (auto _ : state) {
        found = runPalms().size();
        benchmark::DoNotOptimize(found);
    }
    counts["palms"] = found;
}
BENCHMARK(BM_Palms)->Unit(benchmark::kMicrosecond);

// Keeps the mean time per iteration of every benchmark, in seconds.
class TimeKeeper : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e6; // microseconds
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

bool writeFloats(const QString &path, const std::vector<float> &values)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(values.data()), qint64(values.size() * sizeof(float))) ==
               qint64(values.size() * sizeof(float));
}

void compareWithNumpy(const std::map<std::string, double> &ours)
{
    QTemporaryDir dir;
    bool written = writeFloats(dir.filePath("face_rows.f32"), faceRows()) &&
                   writeFloats(dir.filePath("pose_rows.f32"), poseRows()) &&
                   writeFloats(dir.filePath("palm_regression.f32"), palm().regression) &&
                   writeFloats(dir.filePath("palm_scores.f32"), palm().scores);
    for (size_t i = 0; i < faceGrids().size(); ++i)
        written = written && writeFloats(dir.filePath(QStringLiteral("face_grid%1.f32").arg(i)), faceGrids()[i].values);
    if (!written) {
        std::fprintf(stderr, "could not write the inputs for numpy\n");
        return;
    }
    QProcess python;
    python.start(QStringLiteral(QM_PYTHON),
                 {QStringLiteral(QM_BENCH_DIR "/ai/facepose_numpy_reference.py"), dir.path()});
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        std::fprintf(stderr, "numpy reference failed: %s\n", python.readAllStandardError().constData());
        return;
    }
    const std::map<std::string, std::string> names{{"face_rows", "BM_FaceRows"},
                                                   {"face_grid", "BM_FaceGrid"},
                                                   {"pose_rows", "BM_PoseRows"},
                                                   {"palms", "BM_Palms"}};
    std::printf("\n%-10s %10s %10s %8s %8s %12s\n", "decode", "ours us", "numpy us", "ours n", "numpy n", "ours/numpy");
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3)
            continue;
        const std::string name = parts[0].toStdString();
        const double theirs = parts[1].toDouble();
        const auto it = ours.find(names.at(name));
        if (it == ours.end())
            continue;
        std::printf("%-10s %10.1f %10.1f %8lld %8d %12.3f\n", name.c_str(), it->second * 1e6, theirs * 1e6,
                    static_cast<long long>(counts[name]), parts[2].toInt(), it->second / theirs);
    }
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    // The inputs are made before any timing.
    faceRows();
    poseRows();
    faceGrids();
    palm();
    TimeKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    compareWithNumpy(reporter.seconds);
    benchmark::Shutdown();
    return 0;
}
