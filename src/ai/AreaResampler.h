#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

#include <cstdint>
#include <vector>

namespace Quillmark {

// Shrinks pictures by area averaging as Qt's smooth scaler of 32-bit pictures
// does: every output pixel is the mean of the source pixels its span covers,
// with Qt's spans and weights (2^14ths of the whole along each axis) and the
// mean truncated, so a pixel is Qt's own or within one grey level of it. The
// source is read in its own layout (RGB32, ARGB32, RGBX8888, RGBA8888, RGB888,
// alpha dropped as a conversion to RGB888 drops it), each byte once; other
// formats are converted first.
//
// An object keeps its buffers between calls: shrinking the frames of one
// video or the pictures of one run allocates nothing after the first. Large
// pictures are shrunk in bands of output rows on the idle threads of the
// global thread pool, never waiting for a busy one: several runs in parallel
// each fall back to their own thread rather than oversubscribing the cores.
class AreaResampler {
public:
    // Whether `from` can be shrunk to `to` by area averaging: neither side grows.
    static bool shrinks(QSize from, QSize to);

    // Writes `source` shrunk to `size` into the RGB888 `target`, its top-left
    // pixel at `at`. False, with nothing written, when the sizes do not shrink,
    // the region does not fit the target or memory runs out.
    bool shrinkInto(const QImage &source, QSize size, QImage &target, QPoint at);

private:
    // One output pixel's span along an axis: `count` source positions from
    // `first`, with their weights at `weights[weightStart]` (summing to 2^14).
    struct Span {
        int first = 0;
        int count = 0;
        int weightStart = 0;
    };
    struct Axis {
        std::vector<Span> spans;
        std::vector<uint16_t> weights;
    };
    // The column spans again, each padded to the widest one's pairs of
    // columns, a pair's two weights packed in one word (the first in the low
    // half), for the horizontal pass that takes two pixels at a time.
    struct ColumnTaps {
        int pairsPerPixel = 0;
        std::vector<int> firstColumns;
        std::vector<int32_t> factors;
    };

    // What one band of output rows needs to know.
    struct Job {
        const QImage *source = nullptr;
        uchar *targetRows = nullptr; // the first output row's first pixel
        qsizetype targetStride = 0;
        qsizetype rowBytes = 0;
        int bytesPerPixel = 0;
        int offsets[3] = {0, 1, 2};
    };

    static void buildAxis(Axis &axis, int sourceLength, int targetLength);
    void buildColumnTaps();
    bool prepareBuffers(int workers, qsizetype rowBytes, int bytesPerPixel);
    void shrinkRows(const Job &job, int firstRow, int endRow, std::vector<int16_t> &rowSums) const;
    void accumulateRows(const QImage &source, const Span &span, qsizetype rowBytes,
                        std::vector<int16_t> &rowSums) const;
    void writeRow(uchar *out, const Job &job, const std::vector<int16_t> &rowSums) const;
    void runBands(const Job &job, int rowCount);

    Axis columns;
    Axis rows;
    ColumnTaps columnTaps;
    // One output row's vertically weighted bytes for each thread at work.
    std::vector<std::vector<int16_t>> rowSums;
};

} // namespace Quillmark
