// The JSON reading layer (simdjson On-Demand) on a COCO-shaped document and a
// JSON Lines file, each read whole in a fresh process by three readers: our
// layer walking every value as a reader would, Qt's QJsonDocument building
// its tree, and Python's json module. Each round runs the three back to back;
// the median of the rounds is printed with the ratios.
//
//   bench_jsonreader [--images N] [--rounds R] [benchmark flags]
//   bench_jsonreader --read ours|qt <file>     (one fresh reading, used by the above)

#include "Arguments.h"
#include "FreshProcess.h"
#include "PeakMemory.h"

#include "model/JsonLineReader.h"
#include "model/JsonParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Quillmark;

namespace {

int imageCount = 20000;
int rounds = 3;
QString folder;

// Reads every value, as a reader of the format would, and counts them.
qint64 walk(JsonValue &value)
{
    switch (value.type()) {
    case JsonValue::Type::Array: {
        qint64 n = 1;
        value.forEachElement([&](JsonValue &element) { n += walk(element); });
        return n;
    }
    case JsonValue::Type::Object: {
        qint64 n = 1;
        value.forEachMember([&](std::string_view, JsonValue &member) { n += walk(member); });
        return n;
    }
    case JsonValue::Type::String:
        value.toString();
        return 1;
    case JsonValue::Type::Number:
        value.toDouble(0.0);
        return 1;
    default:
        value.skip();
        return 1;
    }
}

qint64 readOurs(const QString &path)
{
    JsonParser parser;
    qint64 values = 0;
    if (path.endsWith(QLatin1String(".jsonl"))) {
        JsonLineReader lines;
        if (!lines.open(path))
            return -1;
        QByteArrayView line;
        while (lines.next(&line)) {
            auto visit = [&](JsonValue &root) { values += walk(root); };
            if (!line.trimmed().isEmpty() && !parser.parse(line, JsonText::padding, visit))
                return -1;
        }
        return values;
    }
    JsonText text;
    if (!text.load(path, qint64(1) << 32, JsonText::Mapping::IfLarge))
        return -1;
    return parser.parse(text, [&](JsonValue &root) { values += walk(root); }) ? values : -1;
}

qint64 readQt(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 documents = 0;
    if (path.endsWith(QLatin1String(".jsonl"))) {
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (!line.isEmpty() && !QJsonDocument::fromJson(line).isNull())
                ++documents;
        }
        return documents;
    }
    return QJsonDocument::fromJson(file.readAll()).isNull() ? -1 : 1;
}

// One reading in a fresh process; its own timing, from open to done.
double freshSeconds(const QString &reader, const QString &path)
{
    if (reader == QLatin1String("python"))
        return QmBench::freshSeconds(QStringLiteral(QM_PYTHON),
                                     {QStringLiteral(QM_BENCH_DIR "/model/json_fixture.py"), QStringLiteral("load"), path});
    return QmBench::freshSeconds(QCoreApplication::applicationFilePath(), {QStringLiteral("--read"), reader, path});
}

void compareFresh(const QString &name)
{
    const QString path = folder + QLatin1Char('/') + name;
    QList<double> ours, qt, python;
    for (int r = 0; r < rounds; ++r) {
        ours.append(freshSeconds(QStringLiteral("ours"), path));
        qt.append(freshSeconds(QStringLiteral("qt"), path));
        python.append(freshSeconds(QStringLiteral("python"), path));
    }
    const double o = QmBench::median(ours), q = QmBench::median(qt), p = QmBench::median(python);
    std::printf("%-13s %7.1f MiB  ours %.3f s  Qt %.3f s  Python %.3f s  ours/Qt %.2f  ours/Python %.2f\n",
                qPrintable(name), double(QFileInfo(path).size()) / (1024.0 * 1024.0), o, q, p, o / q, o / p);
}

void BM_WalkDocument(benchmark::State &state)
{
    const QString path = folder + QStringLiteral("/coco.json");
    for (auto _ : state) {
        if (readOurs(path) < 0)
            state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
    state.counters["peakMiB"] = QmBench::peakMemoryMiB();
}

void BM_WalkLines(benchmark::State &state)
{
    const QString path = folder + QStringLiteral("/records.jsonl");
    for (auto _ : state) {
        if (readOurs(path) < 0)
            state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}

} // namespace

BENCHMARK(BM_WalkDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkLines)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--read") == 0) {
        const QString path = QString::fromLocal8Bit(argv[3]);
        QElapsedTimer timer;
        timer.start();
        const qint64 n = std::strcmp(argv[2], "qt") == 0 ? readQt(path) : readOurs(path);
        std::printf("seconds %.6f\n", timer.nsecsElapsed() / 1e9);
        return n < 0 ? 1 : 0;
    }
    imageCount = QmBench::intArgument(argc, argv, "--images", imageCount);
    rounds = std::max(1, QmBench::intArgument(argc, argv, "--rounds", rounds));
    QTemporaryDir dir;
    folder = dir.path();
    QProcess writer;
    writer.start(QStringLiteral(QM_PYTHON), {QStringLiteral(QM_BENCH_DIR "/model/json_fixture.py"),
                                             QStringLiteral("write"), folder, QString::number(imageCount)});
    if (!writer.waitForFinished(-1) || writer.exitCode() != 0) {
        std::fprintf(stderr, "could not write the inputs: %s\n", writer.readAllStandardError().constData());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nWhole readings in fresh processes, median of %d rounds:\n", rounds);
    compareFresh(QStringLiteral("coco.json"));
    compareFresh(QStringLiteral("records.jsonl"));
    return 0;
}
