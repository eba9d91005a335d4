// Point-prompt and concept segmentation outside the model runs: preparing a
// 12 MP photo for a point-prompt model, tracing a 4000 x 3000 logit mask,
// rasterising one concept query's mask at 12 MP (beside sampling every pixel on
// its own, the form it replaces; both give the same pixels), and loading a
// CLIP-sized tokenizer file (49,408 entries, 48,894 merges) and encoding a
// prompt with it.

#include "ai/BpeTokenizer.h"
#include "ai/ImagePreprocessing.h"
#include "ai/OutlineTracing.h"
#include "ai/Sam3Detection.h"
#include "ai/SamInferencer.h"

#include "ConceptMaskReference.h"
#include "PeakMemory.h"
#include "SyntheticPhoto.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace Quillmark;

namespace {

using QmBench::photo;

// The plain way: convert the whole photo, scale it, and normalise pixel by
// pixel through pixelColor.
std::vector<float> prepareNaively(const QImage &image)
{
    const float scale = 1024.0f / float(std::max(image.width(), image.height()));
    const int w = int(float(image.width()) * scale + 0.5f);
    const int h = int(float(image.height()) * scale + 0.5f);
    const QImage scaled = image.convertToFormat(QImage::Format_RGB888)
                              .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const float mean[3] = {123.675f, 116.28f, 103.53f};
    const float stdev[3] = {58.395f, 57.12f, 57.375f};
    std::vector<float> tensor(size_t(3) * 1024 * 1024, 0.0f);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QColor c = scaled.pixelColor(x, y);
            const int bytes[3] = {c.red(), c.green(), c.blue()};
            for (int ch = 0; ch < 3; ++ch)
                tensor[size_t(ch) * 1024 * 1024 + size_t(y) * 1024 + x] = (float(bytes[ch]) - mean[ch]) / stdev[ch];
        }
    }
    return tensor;
}

// Logits of a 4000 x 3000 mask holding a disc of radius 1400 (positive inside).
const std::vector<float> &discLogits()
{
    static const std::vector<float> logits = [] {
        std::vector<float> l(size_t(4000) * 3000);
        for (int y = 0; y < 3000; ++y)
            for (int x = 0; x < 4000; ++x)
                l[size_t(y) * 4000 + x] = float(1400 * 1400 - ((x - 2000) * (x - 2000) + (y - 1500) * (y - 1500))) / 1e5f;
        return l;
    }();
    return logits;
}

// One query's 288 x 288 mask logits: a few smooth blobs.
const std::vector<float> &queryLogits()
{
    static const std::vector<float> logits = [] {
        std::vector<float> l(size_t(288) * 288);
        for (int y = 0; y < 288; ++y)
            for (int x = 0; x < 288; ++x)
                l[size_t(y) * 288 + x] = 6.0f * std::sin(float(x) * 0.05f) * std::cos(float(y) * 0.04f) - 1.0f;
        return l;
    }();
    return logits;
}

// A CLIP-sized tokenizer file: the 256 byte symbols bare and with "</w>", then
// 48,894 merges of existing symbols, each adding its result to the vocabulary.
QString tokenizerFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        std::vector<std::string> symbols;
        std::set<std::string> known;
        std::string json = R"({"model": {"type": "BPE", "end_of_word_suffix": "</w>", "vocab": {)";
        int id = 0;
        const auto addVocab = [&](const std::string &text) {
            std::string escaped;
            for (char c : text)
                escaped += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
            json += id == 0 ? "\"" : ", \"";
            json += escaped + "\": " + std::to_string(id);
            ++id;
            known.insert(text);
        };
        for (int b = 0; b < 256; ++b) {
            std::string cp;
            const char32_t u = BpeTokenizer::byteToUnicode(uchar(b));
            if (u < 0x80) {
                cp += char(u);
            } else {
                cp += char(0xC0 | (u >> 6));
                cp += char(0x80 | (u & 0x3F));
            }
            symbols.push_back(cp);
            addVocab(cp);
            addVocab(cp + "</w>");
        }
        std::mt19937 rng(3);
        std::vector<std::string> merges;
        std::vector<std::string> words(symbols.begin() + 65, symbols.begin() + 91); // letters a..z and a few more
        while (merges.size() < 48894) {
            const std::string &left = words[rng() % words.size()];
            const std::string &right = words[rng() % words.size()];
            const bool end = rng() % 3 == 0;
            const std::string merged = left + right + (end ? "</w>" : "");
            if (known.count(merged) || merged.size() > 24)
                continue;
            merges.push_back(left + " " + right + (end ? "</w>" : ""));
            addVocab(merged);
            if (!end)
                words.push_back(left + right);
        }
        addVocab("<|startoftext|>");
        addVocab("<|endoftext|>");
        json += "}, \"merges\": [";
        for (size_t i = 0; i < merges.size(); ++i)
            json += (i ? ", \"" : "\"") + merges[i] + "\"";
        json += "]}}";
        const QString file = dir.filePath("tokenizer.json");
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(json.data(), qint64(json.size()));
        return file;
    }();
    return path;
}

void BM_PointPromptPrepare12MP(benchmark::State &state)
{
    const QImage &source = photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(prepareSamImage(source));
    state.counters["peak_MiB"] = QmBench::peakMemoryMiB();
}

void BM_PointPromptPrepare720p(benchmark::State &state)
{
    const QImage &source = QmBench::framePhoto();
    for (auto _ : state)
        benchmark::DoNotOptimize(prepareSamImage(source));
}

// The concept encoder's square input, the aspect ratio not kept.
void BM_ConceptInputScale12MP(benchmark::State &state)
{
    const QImage &source = photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(smoothScaledRgb888(source, 1008, 1008));
}

void BM_PointPromptPrepare12MP_naive(benchmark::State &state)
{
    const QImage &source = photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(prepareNaively(source));
}

void BM_LogitsToPolygon4000x3000(benchmark::State &state)
{
    const std::vector<float> &logits = discLogits();
    qsizetype points = 0;
    for (auto _ : state) {
        points = samLogitsToPolygon(logits.data(), 4000, 3000).size();
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = double(points);
}

void BM_ConceptMask12MP(benchmark::State &state)
{
    const std::vector<float> &logits = queryLogits();
    for (auto _ : state)
        benchmark::DoNotOptimize(rasteriseConceptMask(logits.data(), 288, 288, 4000, 3000, 0.5f));
}

void BM_ConceptMask12MP_perPixel(benchmark::State &state)
{
    const std::vector<float> &logits = queryLogits();
    for (auto _ : state)
        benchmark::DoNotOptimize(QmTest::conceptMaskPerPixel(logits.data(), 288, 288, 4000, 3000, 0.5f));
}

void BM_TokenizerLoad49k(benchmark::State &state)
{
    const QString path = tokenizerFile();
    for (auto _ : state) {
        BpeTokenizer tokenizer;
        if (!tokenizer.load(path))
            state.SkipWithError("tokenizer did not load");
        benchmark::DoNotOptimize(tokenizer.vocabularySize());
    }
}

// Only parsing the same file with Qt's own JSON reader, for comparison: the
// tokenizer parses with simdjson and builds its maps in less time than this.
void BM_TokenizerFileQtJsonParseOnly(benchmark::State &state)
{
    QFile file(tokenizerFile());
    if (!file.open(QIODevice::ReadOnly))
        state.SkipWithError("no tokenizer file");
    const QByteArray bytes = file.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(bytes).object().size());
}

void BM_TokenizerEncodePrompt(benchmark::State &state)
{
    BpeTokenizer tokenizer;
    if (!tokenizer.load(tokenizerFile()))
        state.SkipWithError("tokenizer did not load");
    const QString prompt = QStringLiteral("yellow school bus, red car");
    for (auto _ : state)
        benchmark::DoNotOptimize(tokenizer.encode(prompt, 32));
}

// Wall time: Qt scales large pictures on several threads.
BENCHMARK(BM_PointPromptPrepare12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PointPromptPrepare720p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConceptInputScale12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PointPromptPrepare12MP_naive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LogitsToPolygon4000x3000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConceptMask12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConceptMask12MP_perPixel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TokenizerLoad49k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TokenizerFileQtJsonParseOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TokenizerEncodePrompt)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Largest difference between two prepared tensors, in grey levels.
double greyLevelsApart(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size())
        return 256;
    constexpr float narrowestStd = 57.12f; // of the three channels' (G)
    double largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, double(std::abs(a[i] - b[i])) * narrowestStd);
    return largest;
}

// The compared forms must give the same output, or the comparison means
// nothing. The prepared tensor is Qt's smooth scaling to within a grey level,
// not bit for bit: its large-picture path averages from the photo's own bytes.
bool sameOutputs()
{
    const std::vector<float> &logits = queryLogits();
    const bool masks = rasteriseConceptMask(logits.data(), 288, 288, 4000, 3000, 0.5f)
        == QmTest::conceptMaskPerPixel(logits.data(), 288, 288, 4000, 3000, 0.5f);
    const double apart = greyLevelsApart(prepareSamImage(photo()).tensor, prepareNaively(photo()));
    const bool tensors = apart <= 2.01;
    std::printf("same concept mask as per-pixel sampling: %s\n"
                "prepared tensor as the plain way's: %s (%.2f grey levels apart at most)\n",
                masks ? "yes" : "NO", tensors ? "yes" : "NO", apart);
    return masks && tensors;
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!sameOutputs())
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
