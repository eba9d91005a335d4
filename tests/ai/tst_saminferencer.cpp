// The point-prompt segmentation engine on small generated models run by the real
// ONNX Runtime: which files it accepts, the tensors it feeds (read back through
// probe outputs), the outline it returns, and the outputs it must refuse.

#include "ai/OutlineTracing.h"
#include "ai/SamInferencer.h"

#include "QmTest.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Quillmark;

using Points = QList<QPointF>;

namespace {

QString model(const char *name)
{
    return QStringLiteral(QM_SAM_MODELS_DIR "/") + QLatin1String(name);
}

QImage picture(int w, int h, QColor colour = QColor(200, 100, 50))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

float normalised(int byte, int channel)
{
    const float mean[3] = {123.675f, 116.28f, 103.53f};
    const float stdev[3] = {58.395f, 57.12f, 57.375f};
    return (float(byte) - mean[channel]) / stdev[channel];
}

QString describe(const Points &points)
{
    QStringList parts;
    for (const QPointF &p : points)
        parts << QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
    return parts.join(' ');
}

} // namespace

class TestSamInferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(model("sam_probe.onnx")), "test models were not generated");
    }

    // The longer side becomes 1024; the picture sits at the top-left of the
    // 1024 x 1024 planes, normalised per channel, with zeros beyond it.
    void preparedImage_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QSize>("scaled");
        QTest::newRow("wide") << QSize(2000, 1000) << 0.512f << QSize(1024, 512);
        QTest::newRow("tall") << QSize(500, 1000) << 1.024f << QSize(512, 1024);
        QTest::newRow("thin, enlarged") << QSize(1000, 3) << 1.024f << QSize(1024, 3);
        QTest::newRow("square") << QSize(1024, 1024) << 1.0f << QSize(1024, 1024);
    }

    void preparedImage()
    {
        QFETCH(QSize, source);
        QFETCH(float, scale);
        QFETCH(QSize, scaled);
        const SamPreparedImage prepared = prepareSamImage(picture(source.width(), source.height()));
        QCOMPARE(prepared.scale, scale);
        QCOMPARE(QSize(prepared.width, prepared.height), scaled);
        QCOMPARE(prepared.tensor.size(), size_t(3 * 1024 * 1024));

        const auto at = [&](int c, int y, int x) { return prepared.tensor[size_t(c) * 1024 * 1024 + size_t(y) * 1024 + x]; };
        const int lastX = scaled.width() - 1;
        const int lastY = scaled.height() - 1;
        for (int c = 0; c < 3; ++c) {
            const int byte = c == 0 ? 200 : c == 1 ? 100 : 50;
            QCOMPARE(at(c, 0, 0), normalised(byte, c));
            QCOMPARE(at(c, lastY, lastX), normalised(byte, c));
            if (scaled.width() < 1024)
                QCOMPARE(at(c, lastY, scaled.width()), 0.0f);
            if (scaled.height() < 1024)
                QCOMPARE(at(c, scaled.height(), lastX), 0.0f);
        }
    }

    void logitsToPolygon()
    {
        // Row 5, columns 10 to 12: the left edge of column 10 and the right edge
        // of column 12, at the row's middle.
        std::vector<float> logits(20 * 8, -1.0f);
        for (int x = 10; x <= 12; ++x)
            logits[5 * 20 + x] = 2.0f;
        QCOMPARE(samLogitsToPolygon(logits.data(), 20, 8), (Points{{10, 5.5}, {13, 5.5}}));

        // A block touching the right and bottom edges; 0 is not positive.
        std::fill(logits.begin(), logits.end(), 0.0f);
        for (int y = 3; y < 8; ++y)
            for (int x = 15; x < 20; ++x)
                logits[size_t(y) * 20 + x] = 0.5f;
        QCOMPARE(samLogitsToPolygon(logits.data(), 20, 8), (Points{{15, 3.5}, {15, 7.5}, {20, 7.5}, {20, 3.5}}));

        std::fill(logits.begin(), logits.end(), 0.0f);
        QVERIFY(samLogitsToPolygon(logits.data(), 20, 8).isEmpty());
        QVERIFY(samLogitsToPolygon(nullptr, 20, 8).isEmpty());
    }

    void modelKinds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("single file") << model("sam_probe.onnx") << true << int(SamModelKind::Combined) << QString();
        QTest::newRow("SAM1 encoder") << model("sam1_encoder.onnx") << true << int(SamModelKind::Sam1) << QString();
        QTest::newRow("SAM2 encoder") << model("sam2_encoder.onnx") << true << int(SamModelKind::Sam2) << QString();
        QTest::newRow("decoder only") << model("sam_decoder_only.onnx") << false << 0
                                      << "prompt decoder without an image input";
        QTest::newRow("unknown input") << model("bad_sam_unknown_input.onnx") << false << 0 << "input 'extra'";
        QTest::newRow("fp16 image") << model("bad_sam_image_fp16.onnx") << false << 0 << "float16";
        QTest::newRow("missing") << model("no_such_model.onnx") << false << 0 << ".+";
    }

    void modelKinds()
    {
        QFETCH(QString, path);
        QFETCH(bool, loads);
        QFETCH(int, kind);
        QFETCH(QString, error);

        SamInferencer engine;
        QCOMPARE(engine.kind(), SamModelKind::None);
        // A single-file model first: a failed or split load must not leave it usable.
        QVERIFY(engine.loadEncoder(model("sam_blocks.onnx")));
        QVERIFY(engine.encodeImage(picture(64, 32)));
        if (!loads)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SAM loadEncoder: .*" + error));
        QCOMPARE(engine.loadEncoder(path), loads);
        QCOMPARE(int(engine.kind()), kind);
        QCOMPARE(engine.encoderLoaded(), loads);
        QCOMPARE(engine.decoderReady(), kind == int(SamModelKind::Combined));
        QVERIFY(!engine.imageEncoded());
        QCOMPARE(engine.lastError().isEmpty(), loads);

        // Separate encoders encode but never decode.
        if (loads && kind != int(SamModelKind::Combined)) {
            QVERIFY2(engine.encodeImage(picture(64, 32)), qPrintable(engine.lastError()));
            QVERIFY(engine.imageEncoded());
        }
        if (kind != int(SamModelKind::Combined)) {
            QVERIFY(engine.decode({{10, 10}}, {}).isEmpty());
            QCOMPARE(engine.lastError(), QStringLiteral("Decoder not ready or no prompts"));
        }
    }

    // What the model is fed, read back from the probe mask: normalised pixels
    // at the top-left with zero padding, points scaled into the 1024 frame
    // (positives, negatives, then the padding point), labels 1, 1, 0, -1, the
    // image size height first, no mask input.
    void tensorsReachTheModel()
    {
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(model("sam_probe.onnx")));
        QVERIFY(engine.encodeImage(picture(2000, 1000)));
        QCOMPARE(engine.scale(), 0.512f);
        QCOMPARE(engine.origWidth(), 2000);
        QCOMPARE(engine.origHeight(), 1000);

        const std::optional<SamMask> mask = engine.decodeMask({{100, 50}, {1500, 900}}, {{10, 20}});
        QVERIFY2(mask, qPrintable(engine.lastError()));
        QCOMPARE(mask->index, 1); // scores 0.8, 0.9, 0.9: the first of the best
        QCOMPARE(mask->width, 16);
        QCOMPARE(mask->height, 8);
        const std::vector<float> &v = mask->logits;
        const std::vector<float> pixels{normalised(200, 0), normalised(100, 1), normalised(50, 2), normalised(200, 0), 0.0f};
        QCOMPARE(std::vector<float>(v.begin(), v.begin() + 5), pixels);
        const std::vector<float> coords{100 * 0.512f, 50 * 0.512f, 1500 * 0.512f, 900 * 0.512f, 10 * 0.512f,
                                        20 * 0.512f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        QCOMPARE(std::vector<float>(v.begin() + 5, v.begin() + 21), coords);
        const std::vector<float> labels{1, 1, 0, -1, -7, -7, -7, -7};
        QCOMPARE(std::vector<float>(v.begin() + 21, v.begin() + 29), labels);
        QCOMPARE(std::vector<float>(v.begin() + 29, v.begin() + 33), (std::vector<float>{1000, 2000, 0, 0}));
    }

    // The chosen mask's outline is mapped from the mask's cells to the image:
    // mask 1 of three (scores 0.8, 0.9, 0.9), rows 2-5 and columns 4-11 of 8 x 16.
    void outlineMappedToTheImage_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<Points>("outline");
        QTest::newRow("2000 x 1000") << QSize(2000, 1000)
                                     << Points{{500, 312.5}, {500, 687.5}, {1500, 687.5}, {1500, 312.5}};
        QTest::newRow("160 x 160") << QSize(160, 160) << Points{{40, 50}, {40, 110}, {120, 110}, {120, 50}};
        QTest::newRow("as large as the mask") << QSize(16, 8) << Points{{4, 2.5}, {4, 5.5}, {12, 5.5}, {12, 2.5}};
    }

    void outlineMappedToTheImage()
    {
        QFETCH(QSize, image);
        QFETCH(Points, outline);
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(model("sam_blocks.onnx")));
        QVERIFY(engine.encodeImage(picture(image.width(), image.height())));
        const Points found = engine.decode({{3, 3}}, {});
        QVERIFY2(found == outline, qPrintable(describe(found)));
        QVERIFY(engine.lastError().isEmpty());
        // Negative points alone still decode.
        QCOMPARE(engine.decode({}, {{1, 1}}), outline);
    }

    // A single output whose mask has the image's own size (the model builds it
    // from orig_im_size, height first): the outline comes back unscaled.
    void fullSizeMaskIsNotScaled()
    {
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(model("sam_fullsize.onnx")));
        QVERIFY(engine.encodeImage(picture(300, 200)));
        const Points found = engine.decode({{10, 10}}, {});
        QVERIFY2(found == (Points{{0, 0.5}, {0, 199.5}, {300, 199.5}, {300, 0.5}}), qPrintable(describe(found)));
    }

    // A square mask of a picture that is not square lies over the padded 1024
    // frame of the encoding: 64 frame pixels a cell of 16 x 16, the picture at
    // the top-left. Rows 2-5 and columns 4-11 of the mask, each cell 125 picture
    // pixels at scale 0.512; on the tall picture the right side is cut at its
    // edge. A square picture maps the same either way.
    void squareMaskOfAPictureThatIsNot_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<Points>("outline");
        QTest::newRow("wide") << QSize(2000, 1000) << Points{{500, 312.5}, {500, 687.5}, {1500, 687.5}, {1500, 312.5}};
        QTest::newRow("tall") << QSize(1000, 2000) << Points{{500, 312.5}, {500, 687.5}, {1000, 687.5}, {1000, 312.5}};
        QTest::newRow("square") << QSize(320, 320) << Points{{80, 50}, {80, 110}, {240, 110}, {240, 50}};
    }

    void squareMaskOfAPictureThatIsNot()
    {
        QFETCH(QSize, image);
        QFETCH(Points, outline);
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(model("sam_square_frame.onnx")));
        QVERIFY(engine.encodeImage(picture(image.width(), image.height())));
        const Points found = engine.decode({{30, 30}}, {});
        QVERIFY2(found == outline, qPrintable(describe(found)));
    }

    // A mask that lies only in the padding of the model's square lands on the
    // picture's bottom edge, enclosing nothing of the picture: no mask found
    // (an empty outline and no error), not a flat outline to accept. Where the
    // picture reaches into the masked rows there is an outline.
    void maskInThePaddingOnlyIsNoMask_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<bool>("found");
        QTest::newRow("wide picture, mask below it") << QSize(1000, 400) << false;
        QTest::newRow("odd wide picture") << QSize(2001, 777) << false;
        QTest::newRow("square picture") << QSize(500, 500) << true;
    }

    void maskInThePaddingOnlyIsNoMask()
    {
        QFETCH(QSize, image);
        QFETCH(bool, found);
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(model("sam_padding_only.onnx")));
        QVERIFY(engine.encodeImage(picture(image.width(), image.height())));
        const Points outline = engine.decode({{30, 30}}, {});
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        QCOMPARE(!outline.isEmpty(), found);
        if (found)
            QVERIFY(enclosedArea(outline) > 1000.0);
    }

    void decodeNeedsAnEncodingAndPoints()
    {
        SamInferencer engine;
        QVERIFY(engine.decode({{1, 1}}, {}).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Decoder not ready or no prompts"));
        QVERIFY(!engine.encodeImage(picture(10, 10)));
        QCOMPARE(engine.lastError(), QStringLiteral("Encoder not loaded"));

        QVERIFY(engine.loadEncoder(model("sam_blocks.onnx")));
        QVERIFY(engine.decode({{1, 1}}, {}).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Decoder not ready or no prompts"));
        QVERIFY(engine.encodeImage(picture(16, 8)));
        QVERIFY(engine.decode({}, {}).isEmpty());
        QCOMPARE(engine.lastError(), QStringLiteral("Decoder not ready or no prompts"));
        QVERIFY(!engine.decode({{1, 1}}, {}).isEmpty());
        QVERIFY(engine.lastError().isEmpty());

        // A failed encoding leaves no encoding behind: the earlier picture's is
        // not the current one any more.
        QVERIFY(!engine.encodeImage(QImage()));
        QVERIFY(!engine.imageEncoded());
        QVERIFY(engine.decode({{1, 1}}, {}).isEmpty());

        // No positive logit: nothing found, and no error.
        QVERIFY(engine.loadEncoder(model("sam_nothing.onnx")));
        QVERIFY(engine.encodeImage(picture(16, 8)));
        QVERIFY(engine.decode({{1, 1}}, {}).isEmpty());
        QVERIFY(engine.lastError().isEmpty());
    }

    // Outputs that must not be read as masks: no outline, a reason, a warning.
    void unusableDecoderOutputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("warning");
        QTest::newRow("bool masks") << model("bad_sam_bool_masks.onnx") << "mask output: .*bool";
        QTest::newRow("rank 3 masks") << model("bad_sam_rank3_masks.onnx") << "mask output: .*dimensions";
        QTest::newRow("short scores") << model("bad_sam_short_scores.onnx") << "score output: .*fewer";
        QTest::newRow("no masks") << model("bad_sam_no_masks.onnx") << "holds no mask";
    }

    void unusableDecoderOutputs()
    {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(path));
        QVERIFY(engine.encodeImage(picture(40, 20)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SAM1 decode: .*" + warning));
        QVERIFY(engine.decode({{5, 5}}, {}).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
    }

    void shortEncoderOutputsFailTheEncoding_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("SAM1") << model("bad_sam1_short_encoder.onnx");
        QTest::newRow("SAM2") << model("bad_sam2_short_encoder.onnx");
    }

    void shortEncoderOutputsFailTheEncoding()
    {
        QFETCH(QString, path);
        SamInferencer engine;
        QVERIFY(engine.loadEncoder(path));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SAM encodeImage: encoder output: .*expected"));
        QVERIFY(!engine.encodeImage(picture(40, 20)));
        QVERIFY(!engine.imageEncoded());
        QVERIFY(engine.lastError().contains("expected"));
    }

    void unreadableFileFailsToLoad()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("garbage.onnx"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a model at all");
        file.close();
        SamInferencer engine;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SAM loadEncoder: .+"));
        QVERIFY(!engine.loadEncoder(file.fileName()));
        QCOMPARE(engine.kind(), SamModelKind::None);
        QVERIFY(!engine.lastError().isEmpty());
    }
};

QM_TEST_MAIN(TestSamInferencer)
#include "tst_saminferencer.moc"
