#include "ai/ImagePreprocessing.h"
#include "ai/SamInferencer.h"

#include "QmTest.h"

#include <QColor>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

using namespace Quillmark;

namespace {

constexpr int grey = 114;

QImage filled(int w, int h, QImage::Format format, QColor colour)
{
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

bool isPixel(const QImage &rgb888, int x, int y, int r, int g, int b)
{
    const uchar *p = rgb888.constScanLine(y) + x * 3;
    return p[0] == r && p[1] == g && p[2] == b;
}

// Colours that change at random from pixel to pixel, the hardest case for a
// scaler (any weight or sampling point off shows), alpha varying for formats
// that have one.
QImage pattern(QSize size, QImage::Format format)
{
    std::mt19937 random(uint32_t(size.width() * 7919 + size.height()));
    QImage picture(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = random() | 0x80000000u;
    }
    return picture.convertToFormat(format);
}

// What the engines' inputs must look like: Qt's smooth scaling of the
// picture's RGB888 conversion.
QImage qtSmooth(const QImage &picture, QSize size)
{
    return picture.convertToFormat(QImage::Format_RGB888).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Grey levels a scaled picture may differ from Qt's.
constexpr int smoothTolerance = 2;

int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *p = a.constScanLine(y);
        const uchar *q = b.constScanLine(y);
        for (int i = 0; i < a.width() * 3; ++i)
            largest = std::max(largest, std::abs(int(p[i]) - int(q[i])));
    }
    return largest;
}

} // namespace

class TestImagePreprocessing : public QObject {
    Q_OBJECT

private slots:
    void letterboxGeometry_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QRect>("content");

        QTest::newRow("landscape") << QSize(1280, 720) << QSize(640, 640) << 0.5f << QRect(0, 140, 640, 360);
        QTest::newRow("portrait") << QSize(720, 1280) << QSize(640, 640) << 0.5f << QRect(140, 0, 360, 640);
        QTest::newRow("same size") << QSize(640, 640) << QSize(640, 640) << 1.0f << QRect(0, 0, 640, 640);
        // 3 x 1 into 4 x 4: one row of picture, 3 rows of border; the extra one at the bottom.
        QTest::newRow("odd rows") << QSize(3, 1) << QSize(4, 4) << 4.0f / 3.0f << QRect(0, 1, 4, 1);
        QTest::newRow("odd columns") << QSize(1, 3) << QSize(4, 4) << 4.0f / 3.0f << QRect(1, 0, 1, 4);
        QTest::newRow("non-square target") << QSize(100, 100) << QSize(320, 256) << 2.56f << QRect(32, 0, 256, 256);
        // A flat colour stays exactly that colour, however it is scaled.
        QTest::newRow("12 MP photo") << QSize(4000, 3000) << QSize(640, 640) << 0.16f << QRect(0, 80, 640, 480);
        QTest::newRow("megapixel, 1.25x") << QSize(1280, 1024) << QSize(1024, 1024) << 0.8f << QRect(0, 102, 1024, 819);
        QTest::newRow("1.5x") << QSize(960, 720) << QSize(640, 640) << 2.0f / 3.0f << QRect(0, 80, 640, 480);
    }

    void letterboxGeometry()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, target);
        QFETCH(float, scale);
        QFETCH(QRect, content);

        const QImage picture = filled(source.width(), source.height(), QImage::Format_RGB32, QColor(10, 200, 30));
        const LetterboxResult result = letterboxImage(picture, target.width(), target.height());

        QCOMPARE(result.image.size(), target);
        QCOMPARE(result.image.format(), QImage::Format_RGB888);
        QCOMPARE(result.scale, scale);
        QCOMPARE(result.padX, content.x());
        QCOMPARE(result.padY, content.y());
        int wrong = 0;
        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                const bool inside = content.contains(x, y);
                const bool ok = inside ? isPixel(result.image, x, y, 10, 200, 30)
                                       : isPixel(result.image, x, y, grey, grey, grey);
                wrong += ok ? 0 : 1;
            }
        }
        QCOMPARE(wrong, 0);
    }

    // Whatever the size and format, the picture inside the letterbox is Qt's
    // smooth scaling of its RGB888 conversion, to within two grey levels:
    // bilinear for pictures under a megapixel that shrink by up to half or
    // grow, area averaging for larger ones or larger factors; the border stays
    // grey. The factors are along the longer side.
    void letterboxScalesAsQtDoes_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<int>("target");
        QTest::newRow("just under 2x") << QSize(1279, 719) << QImage::Format_RGB32 << 640;
        QTest::newRow("1.5x") << QSize(960, 721) << QImage::Format_RGB32 << 640;
        QTest::newRow("1.01x") << QSize(647, 485) << QImage::Format_RGB32 << 640;
        QTest::newRow("exactly 2x") << QSize(1280, 720) << QImage::Format_RGB32 << 640;
        QTest::newRow("just over 2x") << QSize(1281, 721) << QImage::Format_RGB32 << 640;
        QTest::newRow("just under 2^20 pixels") << QSize(1023, 1024) << QImage::Format_RGB32 << 640;
        QTest::newRow("2^20 pixels") << QSize(1024, 1024) << QImage::Format_RGB32 << 640;
        QTest::newRow("megapixel, 1.25x") << QSize(1280, 1024) << QImage::Format_RGB32 << 1024;
        QTest::newRow("2.7 MP, 1.02x") << QSize(1322, 2032) << QImage::Format_RGB32 << 1994;
        QTest::newRow("large factor") << QSize(2001, 1501) << QImage::Format_RGB32 << 160;
        QTest::newRow("large factor, RGB888") << QSize(2001, 1501) << QImage::Format_RGB888 << 97;
        QTest::newRow("enlarged") << QSize(300, 200) << QImage::Format_RGB32 << 640;
        QTest::newRow("enlarged RGB888") << QSize(301, 199) << QImage::Format_RGB888 << 640;
        QTest::newRow("premultiplied alpha") << QSize(333, 211) << QImage::Format_ARGB32_Premultiplied << 320;
        QTest::newRow("alpha dropped") << QSize(333, 211) << QImage::Format_ARGB32 << 320;
        QTest::newRow("1080p frame") << QSize(1920, 1080) << QImage::Format_RGB32 << 640;
        QTest::newRow("shrunk more than twofold") << QSize(1500, 600) << QImage::Format_RGB32 << 640;
        QTest::newRow("odd RGB888, tall") << QSize(997, 1531) << QImage::Format_RGB888 << 640;
        QTest::newRow("odd RGBX8888, 1.5x") << QSize(623, 417) << QImage::Format_RGBX8888 << 416;
        QTest::newRow("odd RGBX8888, large") << QSize(1201, 877) << QImage::Format_RGBX8888 << 416;
        QTest::newRow("RGBA8888") << QSize(800, 600) << QImage::Format_RGBA8888 << 640;
        QTest::newRow("grey, mild shrink") << QSize(701, 499) << QImage::Format_Grayscale8 << 640;
        QTest::newRow("three pixels wide") << QSize(3, 2000) << QImage::Format_RGB888 << 640;
    }

    void letterboxScalesAsQtDoes()
    {
        QFETCH(QSize, source);
        QFETCH(QImage::Format, format);
        QFETCH(int, target);

        const QImage picture = pattern(source, format);
        const LetterboxResult result = letterboxImage(picture, target, target);
        const QSize scaledSize(int(result.scale * float(source.width()) + 0.5f),
                               int(result.scale * float(source.height()) + 0.5f));
        const QRect content(QPoint(result.padX, result.padY), scaledSize);
        const int difference = maxDifference(result.image.copy(content), qtSmooth(picture, scaledSize));
        QVERIFY2(difference <= smoothTolerance, qPrintable(QStringLiteral("%1 grey levels off").arg(difference)));
        int wrongBorder = 0;
        for (int y = 0; y < target; ++y) {
            for (int x = 0; x < target; ++x)
                wrongBorder += !content.contains(x, y) && !isPixel(result.image, x, y, grey, grey, grey);
        }
        QCOMPARE(wrongBorder, 0);
    }

    // The engines that fill a square input without a letterbox (the
    // point-prompt and concept encoders) take the same scaling, the aspect
    // ratio not kept: one side may shrink while the other grows.
    void smoothScaledAsQtDoes_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("photo into a square") << QSize(1999, 1001) << QImage::Format_RGB888 << QSize(1024, 1024);
        QTest::newRow("shrunk both ways") << QSize(1999, 1001) << QImage::Format_RGB32 << QSize(1008, 555);
        QTest::newRow("720p frame, 1.25x") << QSize(1280, 720) << QImage::Format_RGB32 << QSize(1024, 576);
        QTest::newRow("720p frame into a square") << QSize(1280, 720) << QImage::Format_RGB32 << QSize(1008, 1008);
        QTest::newRow("just under 2x, odd") << QSize(2047, 301) << QImage::Format_RGB888 << QSize(1024, 151);
        QTest::newRow("1.01x, odd") << QSize(1013, 1011) << QImage::Format_RGB32 << QSize(1003, 1001);
        QTest::newRow("exactly 2x") << QSize(1000, 1000) << QImage::Format_RGB32 << QSize(500, 500);
        QTest::newRow("grown") << QSize(33, 21) << QImage::Format_RGB32 << QSize(64, 64);
        QTest::newRow("large factor") << QSize(2999, 1999) << QImage::Format_RGB32 << QSize(50, 41);
        QTest::newRow("shrunk 600-fold") << QSize(61, 3001) << QImage::Format_RGB32 << QSize(31, 5);
        // Every source row weighs in whole, or every column does.
        QTest::newRow("narrowed only") << QSize(1999, 1001) << QImage::Format_RGB888 << QSize(1001, 1001);
        QTest::newRow("made shorter only") << QSize(1001, 1999) << QImage::Format_RGBX8888 << QSize(1001, 777);
        QTest::newRow("narrowed only, small") << QSize(801, 600) << QImage::Format_RGB32 << QSize(533, 600);
    }

    void smoothScaledAsQtDoes()
    {
        QFETCH(QSize, source);
        QFETCH(QImage::Format, format);
        QFETCH(QSize, size);
        const QImage picture = pattern(source, format);
        const QImage scaled = smoothScaledRgb888(picture, size.width(), size.height());
        const int difference = maxDifference(scaled, qtSmooth(picture, size));
        QVERIFY2(difference <= smoothTolerance, qPrintable(QStringLiteral("%1 grey levels off").arg(difference)));
    }

    // The point-prompt encoder's input goes the same way: the normalised
    // planes, read back as bytes, are Qt's smooth scaling of the picture.
    void pointPromptInputAsQtDoes_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::newRow("720p frame, 1.25x") << QSize(1280, 720);
        QTest::newRow("just under 2x") << QSize(2047, 1023);
        QTest::newRow("enlarged") << QSize(701, 333);
    }

    void pointPromptInputAsQtDoes()
    {
        QFETCH(QSize, source);
        const QImage picture = pattern(source, QImage::Format_RGB32);
        const SamPreparedImage prepared = prepareSamImage(picture);
        const QImage expected = qtSmooth(picture, QSize(prepared.width, prepared.height));
        const float mean[3] = {123.675f, 116.28f, 103.53f};
        const float deviation[3] = {58.395f, 57.12f, 57.375f};
        constexpr size_t side = 1024;
        double largest = 0;
        for (int y = 0; y < expected.height(); ++y) {
            const uchar *line = expected.constScanLine(y);
            for (int x = 0; x < expected.width(); ++x) {
                for (size_t c = 0; c < 3; ++c) {
                    const float value = prepared.tensor[c * side * side + size_t(y) * side + size_t(x)];
                    largest = std::max(largest, std::abs(double(value * deviation[c] + mean[c]) - line[x * 3 + c]));
                }
            }
        }
        QVERIFY2(largest <= smoothTolerance + 0.01, qPrintable(QStringLiteral("%1 grey levels off").arg(largest)));
    }

    // The resampler keeps its buffers between pictures of different sizes: a
    // small picture after a large one (and the other way) is scaled as if first.
    void letterboxAfterOtherSizes()
    {
        const QImage large = pattern(QSize(2001, 1499), QImage::Format_RGB32);
        const QImage small = pattern(QSize(641, 479), QImage::Format_RGB888);
        const QImage first = letterboxImage(small, 320, 320).image;
        letterboxImage(large, 640, 640);
        QCOMPARE(letterboxImage(small, 320, 320).image, first);
    }

    // Large pictures are shrunk in bands on the pool's idle threads; runs on
    // several threads at once share that pool and must not disturb each other.
    void letterboxesInParallelMatchOneAtATime()
    {
        const QImage pictures[] = {pattern(QSize(2001, 1499), QImage::Format_RGB888),
                                   pattern(QSize(1999, 1333), QImage::Format_RGB32)};
        const QImage expected[] = {letterboxImage(pictures[0], 640, 640).image,
                                   letterboxImage(pictures[1], 416, 416).image};
        constexpr int runs = 6;
        std::vector<std::array<QImage, 2>> results(runs);
        std::vector<std::thread> threads;
        for (int i = 0; i < runs; ++i) {
            threads.emplace_back([&, i] {
                for (int repeat = 0; repeat < 3; ++repeat) {
                    results[size_t(i)][0] = letterboxImage(pictures[0], 640, 640).image;
                    results[size_t(i)][1] = letterboxImage(pictures[1], 416, 416).image;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        for (const auto &result : results) {
            QCOMPARE(result[0], expected[0]);
            QCOMPARE(result[1], expected[1]);
        }
    }

    void letterboxAtSameSizeKeepsPixels()
    {
        QImage picture(64, 48, QImage::Format_RGB888);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixelColor(x, y, QColor(x * 4, y * 5, (x * y) % 256));
        const LetterboxResult result = letterboxImage(picture, 64, 48);
        QCOMPARE(result.image, picture);
    }

    // Other formats are converted as a conversion to RGB888 does it: alpha dropped,
    // grey replicated into the three channels.
    void letterboxConvertsFormats_data()
    {
        QTest::addColumn<QImage>("picture");
        QImage argb(2, 2, QImage::Format_ARGB32);
        argb.fill(qRgba(200, 100, 50, 128));
        argb.setPixel(1, 1, qRgba(1, 2, 3, 0));
        QTest::newRow("ARGB32") << argb;
        QTest::newRow("ARGB32 premultiplied") << argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("RGBA8888") << argb.convertToFormat(QImage::Format_RGBA8888);
        QImage grey8(2, 2, QImage::Format_Grayscale8);
        grey8.fill(77);
        grey8.setPixel(0, 1, 200);
        QTest::newRow("Grayscale8") << grey8;
        QTest::newRow("Mono") << QImage(2, 2, QImage::Format_Mono);
    }

    void letterboxConvertsFormats()
    {
        QFETCH(QImage, picture);
        const LetterboxResult result = letterboxImage(picture, picture.width(), picture.height());
        QCOMPARE(result.image, picture.convertToFormat(QImage::Format_RGB888));
    }

    void letterboxOfNullPictureIsBlank()
    {
        const LetterboxResult result = letterboxImage(QImage(), 64, 32);
        QCOMPARE(result.image.size(), QSize(64, 32));
        QCOMPARE(result.scale, 1.0f);
        QCOMPARE(result.padX, 0);
        QCOMPARE(result.padY, 0);
        QCOMPARE(result.image, filled(64, 32, QImage::Format_RGB888, QColor(grey, grey, grey)));
    }

    void tensorIsPlanarRgbOverScale()
    {
        QImage picture(2, 1, QImage::Format_RGB888);
        picture.setPixelColor(0, 0, QColor(255, 0, 0));
        picture.setPixelColor(1, 0, QColor(0, 0, 255));
        QCOMPARE(imageToChwTensor(picture), (std::vector<float>{1, 0, 0, 0, 0, 1}));
    }

    // A 3-pixel-wide RGB888 line is 9 bytes padded to 12: the tensor must follow
    // the scan lines, not the raw bytes.
    void tensorFollowsScanLines()
    {
        QImage picture(3, 2, QImage::Format_RGB888);
        QVERIFY(picture.bytesPerLine() > 9);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                picture.setPixelColor(x, y, QColor(10 * x + y, 100 + 10 * x + y, 200 + 10 * x + y));

        const std::vector<float> tensor = imageToChwTensor(picture);
        QCOMPARE(tensor.size(), size_t(18));
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    QCOMPARE(tensor[size_t(c * 6 + y * 3 + x)], float(100 * c + 10 * x + y) / 255.0f);
    }

    void tensorOfOtherFormatsAndNull()
    {
        QImage grey8(3, 1, QImage::Format_Grayscale8);
        grey8.fill(51);
        QCOMPARE(imageToChwTensor(grey8), std::vector<float>(9, 51.0f / 255.0f));
        QVERIFY(imageToChwTensor(QImage()).empty());
    }
};

QM_TEST_MAIN(TestImagePreprocessing)
#include "tst_imagepreprocessing.moc"
