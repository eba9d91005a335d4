// The concept segmentation engine on small generated models run by the real
// ONNX Runtime. The decoder's boxes are probes: query 0 carries the first token
// ids and the attention-mask sum, query 1 the pixel values and the side of the
// tensor the encoder was fed, so the tests see what reached the models.

#include "ai/Sam3Inferencer.h"

#include "ConceptMaskReference.h"
#include "QmTest.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <random>

using namespace Quillmark;

namespace {

QString modelDir(const char *folder)
{
    return QStringLiteral(QM_SAM_MODELS_DIR "/") + QLatin1String(folder);
}

bool loadFolder(Sam3Inferencer &engine, const char *folder, const char *decoder = "sam3_decoder.onnx")
{
    const QString dir = modelDir(folder);
    return engine.loadModels(dir + "/sam3_vision_encoder.onnx", modelDir("sam3") + "/" + decoder,
                             dir + "/sam3_tokenizer.json");
}

QImage picture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 51));
    return image;
}

float sigmoid(float x)
{
    return 1.0f / (std::exp(-x) + 1.0f);
}

// The corners of a box, for comparison.
struct Corners {
    double left, top, right, bottom;
};

void compareBox(const QRectF &box, Corners expected)
{
    const double got[4] = {box.left(), box.top(), box.right(), box.bottom()};
    const double want[4] = {expected.left, expected.top, expected.right, expected.bottom};
    for (int i = 0; i < 4; ++i)
        QVERIFY2(std::abs(got[i] - want[i]) < 1e-3,
                 qPrintable(QStringLiteral("corner %1: %2, expected %3").arg(i).arg(got[i]).arg(want[i])));
}

QList<QPoint> inside(const QImage &mask)
{
    QList<QPoint> points;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            if (mask.constScanLine(y)[x] == 255)
                points << QPoint(x, y);
    return points;
}

} // namespace

class TestSam3Inferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(modelDir("sam3") + "/sam3_decoder.onnx"), "test models were not generated");
    }

    // Pixel (x, y) samples the grid at x / width * gridWidth with no half-pixel
    // offset; the far column repeats. A 2 x 2 grid whose top-left cell alone is
    // certain, on a 4 x 4 image: p is 1, 0.5, 0.25 at (0, 0), (1, 0), (1, 1).
    void maskSampling()
    {
        const std::vector<float> topLeft{30, -30, -30, -30};
        QCOMPARE(inside(rasteriseConceptMask(topLeft.data(), 2, 2, 4, 4, 0.5f)),
                 (QList<QPoint>{{0, 0}, {1, 0}, {0, 1}}));
        QCOMPARE(inside(rasteriseConceptMask(topLeft.data(), 2, 2, 4, 4, 0.25f)),
                 (QList<QPoint>{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
        // Columns 2 and 3 both sample the right cells only (sx 1.0 and 1.5).
        const std::vector<float> topRight{-30, 30, -30, -30};
        QCOMPARE(inside(rasteriseConceptMask(topRight.data(), 2, 2, 4, 4, 0.9f)), (QList<QPoint>{{2, 0}, {3, 0}}));
        QCOMPARE(inside(rasteriseConceptMask(topRight.data(), 2, 2, 4, 4, 0.5f)),
                 (QList<QPoint>{{1, 0}, {2, 0}, {3, 0}, {2, 1}, {3, 1}}));
        QVERIFY(rasteriseConceptMask(topLeft.data(), 2, 2, 0, 4, 0.5f).isNull());
    }

    // The row-reusing rasteriser gives the pixels of sampling every pixel on its
    // own, up- and downscaling, on odd sizes.
    void maskRasterMatchesPerPixelSampling_data()
    {
        QTest::addColumn<QSize>("grid");
        QTest::addColumn<QSize>("image");
        QTest::addColumn<float>("threshold");
        QTest::newRow("up, non-square") << QSize(3, 2) << QSize(37, 23) << 0.5f;
        QTest::newRow("up, large") << QSize(16, 9) << QSize(641, 479) << 0.35f;
        QTest::newRow("down") << QSize(29, 31) << QSize(7, 5) << 0.6f;
        QTest::newRow("one cell") << QSize(1, 1) << QSize(5, 3) << 0.5f;
        QTest::newRow("one row") << QSize(11, 1) << QSize(13, 17) << 0.5f;
    }

    void maskRasterMatchesPerPixelSampling()
    {
        QFETCH(QSize, grid);
        QFETCH(QSize, image);
        QFETCH(float, threshold);
        std::mt19937 rng(5);
        std::normal_distribution<float> normal(0.0f, 3.0f);
        std::vector<float> logits(size_t(grid.width()) * grid.height());
        for (float &l : logits)
            l = normal(rng);
        const QImage fast = rasteriseConceptMask(logits.data(), grid.width(), grid.height(), image.width(),
                                                 image.height(), threshold);
        QCOMPARE(fast.format(), QImage::Format_Grayscale8);
        QCOMPARE(fast, QmTest::conceptMaskPerPixel(logits.data(), grid.width(), grid.height(), image.width(), image.height(), threshold));
    }

    void loadFailures()
    {
        Sam3Inferencer engine;
        const QString dir = modelDir("sam3");
        QVERIFY(!engine.loadModels(dir + "/sam3_vision_encoder.onnx", dir + "/sam3_decoder.onnx", dir + "/none.json"));
        QCOMPARE(engine.lastError(), "Tokenizer: Cannot open: " + dir + "/none.json");

        QTemporaryDir temp;
        QFile garbage(temp.filePath("encoder.onnx"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a model");
        garbage.close();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\\[SAM3\\] Ort::Exception loading .+"));
        QVERIFY(!engine.loadModels(garbage.fileName(), dir + "/sam3_decoder.onnx", dir + "/sam3_tokenizer.json"));
        QVERIFY(engine.lastError().startsWith("ORT load failed (" + garbage.fileName() + "): "));

        struct Case { const char *decoder; const char *error; };
        const Case cases[] = {{"decoder_one_input.onnx", "The decoder takes 1 input(s)"},
                              {"decoder_no_boxes.onnx", "The decoder has no output 'pred_boxes'"}};
        for (const Case &c : cases) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\\[SAM3\\] .+"));
            QVERIFY(!loadFolder(engine, "sam3", c.decoder));
            QVERIFY2(engine.lastError().startsWith(c.error), qPrintable(engine.lastError()));
            QVERIFY(!engine.modelsLoaded());
        }
        QVERIFY(loadFolder(engine, "sam3"));
        QVERIFY(engine.modelsLoaded());
        QVERIFY(engine.lastError().isEmpty());
        QCOMPARE(engine.loadedPaths().size(), 3);
    }

    // The normalisation file beside the encoder: what it gives, what it cannot
    // spoil, and that an encoder of fixed size keeps its size.
    void normalisationFile_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<float>>("mean");
        QTest::addColumn<QList<float>>("stdev");
        const QList<float> defaultMean{0.48145467f, 0.4578275f, 0.40821072f};
        const QList<float> defaultStd{0.26862955f, 0.2613026f, 0.2757771f};
        QTest::newRow("none") << "sam3_plain" << 1008 << defaultMean << defaultStd;
        QTest::newRow("full") << "sam3" << 4 << QList<float>{0.5f, 0.25f, 0.2f} << QList<float>{0.5f, 0.25f, 0.1f};
        QTest::newRow("red mean only, size 0") << "sam3_partial" << 1008
                                               << QList<float>{0.9f, 0.4578275f, 0.40821072f} << defaultStd;
        QTest::newRow("hostile") << "sam3_hostile" << 1008 << QList<float>{0.0f, 0.0f, 0.3f}
                                 << QList<float>{0.26862955f, 0.2613026f, 0.5f};
        QTest::newRow("not JSON") << "sam3_broken" << 1008 << defaultMean << defaultStd;
        QTest::newRow("fixed encoder") << "sam3_fixed8" << 8 << defaultMean << defaultStd;
    }

    void normalisationFile()
    {
        QFETCH(QString, folder);
        QFETCH(int, size);
        QFETCH(QList<float>, mean);
        QFETCH(QList<float>, stdev);
        Sam3Inferencer engine;
        if (folder == "sam3_hostile") {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ignoring the standard deviation 0 of channel 0"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ignoring the standard deviation -1 of channel 1"));
        }
        if (folder == "sam3_fixed8")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("takes 8 x 8 pixels"));
        QVERIFY(loadFolder(engine, folder.toUtf8().constData()));
        QCOMPARE(engine.inputSize(), size);
        const std::array<float, 3> gotMean = engine.mean();
        const std::array<float, 3> gotStd = engine.standardDeviation();
        QCOMPARE(QList<float>(gotMean.begin(), gotMean.end()), mean);
        QCOMPARE(QList<float>(gotStd.begin(), gotStd.end()), stdev);
        QVERIFY2(engine.encodeImage(picture(30, 20)), qPrintable(engine.lastError()));
    }

    void earlierNormalisationStays()
    {
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3"));
        QVERIFY(loadFolder(engine, "sam3_plain"));
        QCOMPARE(engine.inputSize(), 4);
        QCOMPARE(engine.mean()[0], 0.5f);
    }

    // Sorted by score; query 1's box shows the normalised pixel (255, 0, 51)
    // with mean (0.5, 0.25, 0.2) and std (0.5, 0.25, 0.1) and the side 4 from
    // the normalisation file; query 0's shows the int64 ids [start, "cat", end]
    // and a mask of three. Boxes map x by the width and y by the height.
    void detectionsCarryWhatTheModelsWereFed_data()
    {
        QTest::addColumn<QString>("decoder");
        QTest::newRow("declared shapes") << "sam3_decoder.onnx";
        QTest::newRow("dynamic shapes, two logits per query") << "decoder_dynamic.onnx";
    }

    void detectionsCarryWhatTheModelsWereFed()
    {
        QFETCH(QString, decoder);
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3", decoder.toUtf8().constData()));
        QVERIFY(engine.encodeImage(picture(1000, 500)));
        QVERIFY(engine.imageEncoded());

        const QList<Sam3Detection> found = engine.detect("cat", 0.5f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].score, sigmoid(3.0f));
        compareBox(found[0].box, {1000, -500, 0, 2000});
        QCOMPARE(found[1].score, sigmoid(1.0f));
        compareBox(found[1].box, {494.06, 1.6, 494.07, 15});

        for (const Sam3Detection &d : found) {
            QCOMPARE(d.mask.size(), QSize(1000, 500));
            QCOMPARE(d.mask.format(), QImage::Format_Grayscale8);
        }
        // Query 1: the right column and the bottom-right; query 0: the top-left.
        const auto value = [](const QImage &mask, int x, int y) { return int(mask.constScanLine(y)[x]); };
        QCOMPARE(value(found[0].mask, 999, 0), 255);
        QCOMPARE(value(found[0].mask, 0, 0), 0);
        QCOMPARE(value(found[1].mask, 0, 0), 255);
        QCOMPARE(value(found[1].mask, 999, 499), 0);

        // Two words, the comma kept in the first: [start, cat, car, end].
        const QList<Sam3Detection> words = engine.detect("Cat, car", 0.5f, 0.5f);
        QCOMPARE(words.size(), 2);
        compareBox(words[1].box, {494.06, 1.6, 3.21, 20});

        // A score equal to the threshold passes; above all scores nothing is
        // found, which is no failure.
        QCOMPARE(engine.detect("cat", sigmoid(3.0f), 0.5f).size(), 1);
        QVERIFY(engine.detect("cat", 0.99f, 0.5f).isEmpty());
        QVERIFY(engine.lastError().isEmpty());
    }

    // A query whose score or box is not a finite number is dropped, however
    // the threshold compares with it; the others keep their order. Infinite
    // logits give the finite scores 1 and 0.
    void nonFiniteScoresAndBoxesAreDropped_data()
    {
        QTest::addColumn<QString>("decoder");
        QTest::addColumn<QList<float>>("scores");
        QTest::newRow("NaN scores") << "decoder_nan_scores.onnx" << QList<float>{sigmoid(3.0f)};
        QTest::newRow("infinite scores") << "decoder_infinite_scores.onnx" << QList<float>{1.0f, sigmoid(3.0f)};
        QTest::newRow("NaN boxes") << "decoder_nan_boxes.onnx" << QList<float>{sigmoid(2.0f)};
        QTest::newRow("infinite boxes") << "decoder_infinite_boxes.onnx" << QList<float>{sigmoid(3.0f)};
    }

    void nonFiniteScoresAndBoxesAreDropped()
    {
        QFETCH(QString, decoder);
        QFETCH(QList<float>, scores);
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3", decoder.toUtf8().constData()));
        QVERIFY(engine.encodeImage(picture(40, 30)));
        for (const float threshold : {0.01f, 0.5f}) {
            const QList<Sam3Detection> found = engine.detect("cat", threshold, 0.5f);
            QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
            QList<float> got;
            for (const Sam3Detection &d : found) {
                got << d.score;
                QVERIFY(std::isfinite(d.box.left()) && std::isfinite(d.box.top()));
                QVERIFY(std::isfinite(d.box.right()) && std::isfinite(d.box.bottom()));
            }
            QCOMPARE(got, scores);
        }
    }

    // Normalisation that turns every pixel into an infinite value is a failed
    // encoding that says so, not detections with boxes of NaN.
    void infiniteInputIsAFailure()
    {
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3_infinite"));
        QVERIFY(!engine.encodeImage(picture(40, 30)));
        QVERIFY(!engine.imageEncoded());
        QVERIFY2(engine.lastError().contains("not finite"), qPrintable(engine.lastError()));
        QVERIFY(engine.detect("cat", 0.0f, 0.5f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
    }

    // Above the memory budget the detections keep their logits; the masks made
    // from them later are the same.
    void lowResolutionMasksGiveTheSamePixels()
    {
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3"));
        QVERIFY(engine.encodeImage(picture(301, 157)));
        const QList<Sam3Detection> eager = engine.detect("cat", 0.5f, 0.4f);
        engine.setMaskMemoryBudget(301 * 157); // room for one of the two
        const QList<Sam3Detection> lazy = engine.detect("cat", 0.5f, 0.4f);
        QCOMPARE(lazy.size(), 2);
        for (qsizetype i = 0; i < lazy.size(); ++i) {
            QVERIFY(lazy[i].mask.isNull());
            QVERIFY(lazy[i].lowResolution);
            QVERIFY(!eager[i].mask.isNull());
            QCOMPARE(lazy[i].fullMask(), eager[i].fullMask());
        }
    }

    void operationsInTheWrongOrder()
    {
        Sam3Inferencer engine;
        QVERIFY(!engine.encodeImage(picture(10, 10)));
        QCOMPARE(engine.lastError(), QStringLiteral("Models not loaded."));
        QVERIFY(engine.detect("cat", 0.5f, 0.5f).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Encode image first."));

        QVERIFY(loadFolder(engine, "sam3"));
        QVERIFY(engine.detect("cat", 0.5f, 0.5f).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Encode image first."));
        QVERIFY(!engine.encodeImage(QImage()));
        QCOMPARE(engine.lastError(), QStringLiteral("Null image."));
        QVERIFY(engine.encodeImage(picture(10, 10)));
        QCOMPARE(engine.detect("cat", 0.5f, 0.5f).size(), 2);

        // A failed load leaves nothing usable.
        QVERIFY(!loadFolder(engine, "no_such_folder"));
        QVERIFY(!engine.imageEncoded());
        QVERIFY(engine.detect("cat", 0.5f, 0.5f).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Encode image first."));
    }

    // Decoders whose outputs or inputs cannot be used: no detections, and a
    // reason the user is shown instead of "no detections".
    void unusableDecoders_data()
    {
        QTest::addColumn<QString>("decoder");
        QTest::addColumn<QString>("error");
        QTest::newRow("bool masks") << "decoder_bool_masks.onnx" << "Decoder output 'pred_masks': .*bool.*";
        QTest::newRow("short logits") << "decoder_short_logits.onnx" << "Decoder output 'pred_logits': .+";
        QTest::newRow("short boxes") << "decoder_short_boxes.onnx" << "Decoder output 'pred_boxes': .+";
        QTest::newRow("unknown feature")
            << "decoder_other_feature.onnx" << "Decoder input 'vision_features' not found in vision encoder outputs\\.";
        QTest::newRow("int64 feature") << "decoder_int_feature.onnx" << "Decoder input 'image_sizes': .*int64.*";
    }

    void unusableDecoders()
    {
        QFETCH(QString, decoder);
        QFETCH(QString, error);
        Sam3Inferencer engine;
        QVERIFY(loadFolder(engine, "sam3", decoder.toUtf8().constData()));
        QVERIFY(engine.encodeImage(picture(40, 30)));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^\\[SAM3\\] .+"));
        QVERIFY(engine.detect("cat", 0.0f, 0.5f).isEmpty());
        QVERIFY2(QRegularExpression("^" + error + "$").match(engine.lastError()).hasMatch(),
                 qPrintable(engine.lastError()));
    }
};

QM_TEST_MAIN(TestSam3Inferencer)
#include "tst_sam3inferencer.moc"
