#include "ai/Detection.h"
#include "ai/DetectionDecoding.h"

#include "QmTest.h"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

using namespace Quillmark;

namespace {

Detection det(int classId, float score, QRectF box)
{
    Detection d;
    d.classId = classId;
    d.className = QString::number(classId);
    d.score = score;
    d.box = box;
    return d;
}

// Channel-major [nFeat, n] block from per-candidate rows.
std::vector<float> channelMajor(const QList<QList<float>> &candidates)
{
    const qsizetype n = candidates.size();
    const qsizetype nFeat = n ? candidates.first().size() : 0;
    std::vector<float> out(size_t(n * nFeat));
    for (qsizetype j = 0; j < n; ++j)
        for (qsizetype r = 0; r < nFeat; ++r)
            out[size_t(r * n + j)] = candidates[j][r];
    return out;
}

} // namespace

class TestDetection : public QObject {
    Q_OBJECT

private slots:
    void iou_data()
    {
        QTest::addColumn<QRectF>("a");
        QTest::addColumn<QRectF>("b");
        QTest::addColumn<float>("expected");
        QTest::newRow("identical") << QRectF(0, 0, 10, 10) << QRectF(0, 0, 10, 10) << 1.0f;
        QTest::newRow("half width") << QRectF(0, 0, 10, 10) << QRectF(0, 0, 10, 5) << 0.5f;
        QTest::newRow("shifted") << QRectF(0, 0, 10, 10) << QRectF(5, 0, 10, 10) << 50.0f / 150.0f;
        QTest::newRow("contained") << QRectF(0, 0, 10, 10) << QRectF(2, 2, 5, 5) << 0.25f;
        QTest::newRow("touching") << QRectF(0, 0, 10, 10) << QRectF(10, 0, 10, 10) << 0.0f;
        QTest::newRow("apart") << QRectF(0, 0, 10, 10) << QRectF(50, 50, 10, 10) << 0.0f;
        QTest::newRow("empty") << QRectF(0, 0, 0, 0) << QRectF(0, 0, 0, 0) << 0.0f;
    }

    void iou()
    {
        QFETCH(QRectF, a);
        QFETCH(QRectF, b);
        QFETCH(float, expected);
        QCOMPARE(boxIoU(a, b), expected);
        QCOMPARE(boxIoU(b, a), expected);
    }

    void suppression_data()
    {
        QTest::addColumn<QList<Detection>>("input");
        QTest::addColumn<float>("iou");
        QTest::addColumn<QList<float>>("survivingScores");

        const QRectF box(0, 0, 10, 10);
        const QRectF halfBox(0, 0, 10, 5); // IoU 0.5 with box
        QTest::newRow("IoU equal to threshold: both stay")
            << QList<Detection>{det(0, 0.9f, box), det(0, 0.8f, halfBox)} << 0.5f << QList<float>{0.9f, 0.8f};
        QTest::newRow("IoU above threshold: weaker goes")
            << QList<Detection>{det(0, 0.8f, halfBox), det(0, 0.9f, box)} << 0.49f << QList<float>{0.9f};
        QTest::newRow("other classes never suppress")
            << QList<Detection>{det(0, 0.9f, box), det(1, 0.8f, box), det(2, 0.95f, box)} << 0.1f
            << QList<float>{0.95f, 0.9f, 0.8f};
        // B overlaps A and C too much, but A and C hardly overlap: once A removes B,
        // C stays.
        QTest::newRow("suppressed boxes suppress nothing")
            << QList<Detection>{det(0, 0.7f, QRectF(6, 0, 10, 10)), det(0, 0.8f, QRectF(3, 0, 10, 10)),
                                det(0, 0.9f, QRectF(0, 0, 10, 10))}
            << 0.5f << QList<float>{0.9f, 0.7f};
        QTest::newRow("empty") << QList<Detection>{} << 0.5f << QList<float>{};
    }

    void suppression()
    {
        QFETCH(QList<Detection>, input);
        QFETCH(float, iou);
        QFETCH(QList<float>, survivingScores);
        QList<float> scores;
        for (const Detection &d : nmsPerClass(input, iou))
            scores.append(d.score);
        QCOMPARE(scores, survivingScores);
    }

    void equalScoresKeepInputOrder()
    {
        const QList<Detection> input{det(3, 0.5f, QRectF(0, 0, 1, 1)), det(1, 0.5f, QRectF(5, 5, 1, 1)),
                                     det(2, 0.5f, QRectF(9, 9, 1, 1))};
        const std::vector<int> kept = nmsSurvivors(input, 0.5f);
        QCOMPARE(kept, (std::vector<int>{0, 1, 2}));
    }

    // Picture 1280 x 720 letterboxed into 640 x 640: scale 0.5, 140 rows above.
    // Three classes, of which the engine knows two names.
    void decoding_data()
    {
        QTest::addColumn<QList<QList<float>>>("candidates");
        QTest::addColumn<float>("conf");
        QTest::addColumn<QList<Detection>>("expected");

        auto expect = [](int id, float score, QRectF box) {
            Detection d = det(id, score, box);
            d.className = QStringList{"cat", "dog", "cls_2"}.at(id);
            return d;
        };
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("mapped back through the letterbox")
            << QList<QList<float>>{{320, 320, 200, 100, 0.9f, 0.1f, 0}} << 0.25f
            << QList<Detection>{expect(0, 0.9f, QRectF(440, 260, 400, 200))};
        QTest::newRow("score equal to threshold passes, below does not")
            << QList<QList<float>>{{320, 320, 20, 20, 0.25f, 0, 0}, {320, 320, 20, 20, 0.2499f, 0, 0}} << 0.25f
            << QList<Detection>{expect(0, 0.25f, QRectF(620, 340, 40, 40))};
        QTest::newRow("class tie keeps the lower id")
            << QList<QList<float>>{{320, 320, 20, 20, 0.1f, 0.6f, 0.6f}} << 0.5f
            << QList<Detection>{expect(1, 0.6f, QRectF(620, 340, 40, 40))};
        QTest::newRow("no score above zero is class 0 at 0")
            << QList<QList<float>>{{320, 320, 20, 20, 0, -1, nan}} << 0.0f
            << QList<Detection>{expect(0, 0.0f, QRectF(620, 340, 40, 40))};
        QTest::newRow("class beyond the names") << QList<QList<float>>{{320, 320, 20, 20, 0.1f, 0.2f, 0.7f}} << 0.5f
                                                << QList<Detection>{expect(2, 0.7f, QRectF(620, 340, 40, 40))};
        QTest::newRow("clamped to the picture")
            << QList<QList<float>>{{20, 150, 100, 40, 0.5f, 0, 0}, {620, 460, 100, 100, 0.4f, 0, 0}} << 0.25f
            << QList<Detection>{expect(0, 0.5f, QRectF(0, 0, 140, 60)), expect(0, 0.4f, QRectF(1140, 540, 140, 180))};
        QTest::newRow("wholly in the border: dropped")
            << QList<QList<float>>{{320, 50, 40, 40, 0.9f, 0, 0}, {320, 620, 40, 40, 0.9f, 0, 0}} << 0.25f
            << QList<Detection>{};
        QTest::newRow("non-finite box values: dropped")
            << QList<QList<float>>{{nan, 320, 20, 20, 0.9f, 0, 0}, {320, 320, inf, 20, 0.9f, 0, 0}} << 0.25f
            << QList<Detection>{};
    }

    void decoding()
    {
        QFETCH(QList<QList<float>>, candidates);
        QFETCH(float, conf);
        QFETCH(QList<Detection>, expected);

        const std::vector<float> output = channelMajor(candidates);
        const LetterboxMapping mapping{0.5f, 0, 140, 1280, 720};
        const DecodedCandidates decoded =
            decodeCandidates(output, 7, candidates.size(), 3, mapping, conf, {"cat", "dog"});
        QCOMPARE(decoded.detections.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const Detection &d = decoded.detections[i];
            QCOMPARE(d.classId, expected[i].classId);
            QCOMPARE(d.className, expected[i].className);
            QCOMPARE(d.score, expected[i].score);
            QCOMPARE(d.box, expected[i].box);
        }
    }

    void decodingRefusesLayoutsThatDoNotFit()
    {
        const std::vector<float> output = channelMajor({{320, 320, 20, 20, 0.9f, 0}, {320, 320, 20, 20, 0.9f, 0}});
        const LetterboxMapping mapping{1.0f, 0, 0, 640, 640};
        QCOMPARE(decodeCandidates(output, 6, 2, 2, mapping, 0.25f, {}).detections.size(), 2);
        QVERIFY(decodeCandidates(output, 6, 3, 2, mapping, 0.25f, {}).detections.isEmpty()); // more columns than data
        QVERIFY(decodeCandidates(output, 6, 2, 3, mapping, 0.25f, {}).detections.isEmpty()); // class rows beyond nFeat
        QVERIFY(decodeCandidates({}, 6, 2, 2, mapping, 0.25f, {}).detections.isEmpty());
    }

    void maskCrop_data()
    {
        QTest::addColumn<QRectF>("letterboxBox");
        QTest::addColumn<QSize>("grid");  // prototype planes (cells) of a model
        QTest::addColumn<QSize>("input"); // its input, pixels
        QTest::addColumn<QRect>("cells"); // x0, y0 and x1 - x0, y1 - y0
        const QSize p640(160, 160), i640(640, 640);
        QTest::newRow("inside") << QRectF(140, 220, 280, 120) << p640 << i640 << QRect(35, 55, 70, 30);
        QTest::newRow("rounding") << QRectF(3.9, 3.9, 1.0, 1.0) << p640 << i640 << QRect(0, 0, 1, 1);
        QTest::newRow("negative start") << QRectF(-50, -3, 100, 10) << p640 << i640 << QRect(0, 0, 13, 2);
        QTest::newRow("beyond the mask") << QRectF(700, 1e30, 100, 1e30) << p640 << i640 << QRect(159, 159, 1, 1);
        QTest::newRow("not finite") << QRectF(qQNaN(), qQNaN(), qQNaN(), qQNaN()) << p640 << i640 << QRect(0, 0, 0, 0);
        QTest::newRow("exported at 320") << QRectF(300, 300, 100, 100) << QSize(80, 80) << QSize(320, 320)
                                         << QRect(75, 75, 5, 5);
        QTest::newRow("exported at 1280")
            << QRectF(1000, 40, 400, 40) << QSize(320, 320) << QSize(1280, 1280) << QRect(250, 10, 70, 10);
        QTest::newRow("non-square input")
            << QRectF(600, 360, 100, 100) << QSize(160, 96) << QSize(640, 384) << QRect(150, 90, 10, 6);
    }

    void maskCrop()
    {
        QFETCH(QRectF, letterboxBox);
        QFETCH(QSize, grid);
        QFETCH(QSize, input);
        QFETCH(QRect, cells);
        const PrototypeGrid planes = prototypeGridFor(grid.width(), grid.height(), input.width(), input.height());
        const MaskCrop crop = maskCropForBox(letterboxBox, planes);
        QCOMPARE(QRect(crop.x0, crop.y0, crop.x1 - crop.x0, crop.y1 - crop.y0), cells);
    }

    // Planes of 160 x 96 cells: the mask is read with the grid's own row length,
    // and an outline reaching into the border above the picture is clamped to it.
    void instanceOutlineOnANonSquareGrid()
    {
        const PrototypeGrid grid = prototypeGridFor(160, 96, 640, 384);
        QCOMPARE(grid.cellWidth, 4.0f);
        QCOMPARE(grid.cellHeight, 4.0f);
        std::vector<float> prototypes(grid.valueCount(), -10.0f);
        for (int r = 0; r < 12; ++r)
            for (int c = 140; c < 150; ++c)
                prototypes[size_t(r) * 160 + size_t(c)] = 10.0f; // plane 0
        std::array<float, maskCoefficientCount> coefficients{};
        coefficients[0] = 1.0f;
        // A 1280 x 600 picture in 640 x 384: scale 0.5, 42 rows of border above.
        const LetterboxMapping mapping{0.5f, 0, 42, 1280, 600};
        const QList<QPointF> outline =
            instanceOutline(prototypes, coefficients, QRectF(540, -20, 100, 80), mapping, grid);
        // Rows 0-11 centre at 2 ... 46 model pixels: (2 - 42) / 0.5 is clamped to 0.
        QCOMPARE(outline, (QList<QPointF>{{1120, 0}, {1120, 8}, {1200, 8}, {1200, 0}}));

        QVERIFY(instanceOutline(std::span<const float>(prototypes).first(grid.valueCount() - 1), coefficients,
                                QRectF(540, -20, 100, 80), mapping, grid)
                    .isEmpty());
    }
};

QM_TEST_MAIN(TestDetection)
#include "tst_detection.moc"
