#include "ai/CocoClassNames.h"
#include "ai/OnnxInferencer.h"

#include "QmTest.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Quillmark;

using Points = QList<QPointF>;

namespace {

QString model(const char *name)
{
    return QStringLiteral(QM_AI_MODELS_DIR "/") + QLatin1String(name);
}

QImage picture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(90, 120, 150));
    return image;
}

bool near(const QRectF &a, const QRectF &b)
{
    return std::abs(a.x() - b.x()) < 1e-3 && std::abs(a.y() - b.y()) < 1e-3
        && std::abs(a.width() - b.width()) < 1e-3 && std::abs(a.height() - b.height()) < 1e-3;
}

QString describe(const QRectF &r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class TestOnnxInferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(model("det_names.onnx")), "test models were not generated");
    }

    void freshEngine()
    {
        OnnxInferencer engine;
        QVERIFY(!engine.isLoaded());
        QCOMPARE(engine.inputWidth(), 640);
        QCOMPARE(engine.inputHeight(), 640);
        QVERIFY(engine.run(picture(64, 64), 0.25f, 0.5f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
        QVERIFY(engine.runSeg(picture(64, 64), 0.25f, 0.5f).isEmpty());
    }

    void unreadableModelsFailToLoad()
    {
        QTemporaryDir dir;
        const QString garbage = dir.filePath("garbage.onnx");
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not a model");
        file.close();

        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx")));
        for (const QString &path : {garbage, dir.filePath("missing.onnx")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: .+"));
            QVERIFY(!engine.loadModel(path));
            QVERIFY(!engine.isLoaded());
            QVERIFY(!engine.lastError().isEmpty());
            QVERIFY(engine.run(picture(64, 64), 0.25f, 0.5f).isEmpty());
        }
    }

    // One output [1, 6, 7] read channel-major, through the letterbox of a
    // 1280 x 720 picture (scale 0.5, 140 rows of border above).
    void detectionsMappedToThePicture()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx")));
        QVERIFY(!engine.isSegmentation());
        QCOMPARE(engine.classNames(), (QStringList{"cat", "dog"}));
        QCOMPARE(engine.modelPath(), model("det_names.onnx"));

        const QList<Detection> found = engine.run(picture(1280, 720), 0.25f, 0.5f);
        QVERIFY(engine.lastError().isEmpty());
        struct Expected { const char *name; float score; QRectF box; };
        const QList<Expected> expected{
            {"cat", 0.9f, QRectF(440, 260, 400, 200)},  // the shifted copy at 0.8 is suppressed
            {"dog", 0.7f, QRectF(440, 260, 400, 200)},  // same box, other class
            {"cat", 0.5f, QRectF(0, 0, 140, 60)},       // class tie, clamped
            {"cat", 0.25f, QRectF(980, 700, 40, 20)},   // exactly at the threshold, clamped
        };
        QCOMPARE(found.size(), expected.size());
        for (qsizetype i = 0; i < found.size(); ++i) {
            QCOMPARE(found[i].className, QString::fromLatin1(expected[i].name));
            QCOMPARE(found[i].score, expected[i].score);
            QVERIFY2(near(found[i].box, expected[i].box), qPrintable(describe(found[i].box)));
        }
    }

    void classNamesFromArgumentMetadataOrCoco()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx"), {"red", "green"}));
        QCOMPARE(engine.classNames(), (QStringList{"red", "green"}));
        QCOMPARE(engine.run(picture(1280, 720), 0.25f, 0.5f).first().className, QStringLiteral("red"));

        // "names" without quoted names: the COCO names; class 80 lies beyond them.
        QVERIFY(engine.loadModel(model("det_coco_320.onnx")));
        QCOMPARE(engine.classNames(), cocoClassNames);
        const QList<Detection> found = engine.run(picture(640, 640), 0.25f, 0.5f);
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].className, QStringLiteral("cls_80"));
        QCOMPARE(found[0].classId, 80);
        QCOMPARE(found[1].className, QStringLiteral("motorcycle"));
    }

    // The input size follows a stated input shape and survives a dynamic one.
    void inputSizeFollowsTheModel()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_dynamic.onnx")));
        QCOMPARE(engine.inputWidth(), 640);
        QCOMPARE(engine.classNames(), cocoClassNames);
        QList<Detection> found = engine.run(picture(640, 640), 0.25f, 0.5f);
        QCOMPARE(found.size(), 1);
        QVERIFY2(near(found[0].box, QRectF(144, 144, 32, 32)), qPrintable(describe(found[0].box)));

        QVERIFY(engine.loadModel(model("det_coco_320.onnx")));
        QCOMPARE(engine.inputWidth(), 320);
        QCOMPARE(engine.inputHeight(), 320);
        QVERIFY(engine.loadModel(model("det_dynamic.onnx")));
        QCOMPARE(engine.inputWidth(), 320);
        found = engine.run(picture(640, 640), 0.25f, 0.5f);
        QCOMPARE(found.size(), 1);
        QVERIFY2(near(found[0].box, QRectF(288, 288, 64, 64)), qPrintable(describe(found[0].box)));
    }

    // The probe model's scores are input values at (channel, row, column)
    // (0, 0, 3), (1, 2, 1) and (2, 3, 0) of the tensor it is fed: they prove the
    // planes are R, G, B in that order, row-major, scaled by 1/255.
    void modelSeesPlanarRgbScaled()
    {
        QImage image(4, 4, QImage::Format_RGB888);
        image.fill(Qt::black);
        image.setPixelColor(3, 0, QColor(200, 1, 2));
        image.setPixelColor(1, 2, QColor(3, 100, 4));
        image.setPixelColor(0, 3, QColor(5, 6, 50));

        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("probe_4x4.onnx")));
        QCOMPARE(engine.inputWidth(), 4);
        const QList<Detection> found = engine.run(image, 0.0f, 0.5f);
        QCOMPARE(found.size(), 3);
        QCOMPARE(found[0].score, 200.0f / 255.0f);
        QCOMPARE(found[0].box, QRectF(0, 0, 1, 1));
        QCOMPARE(found[1].score, 100.0f / 255.0f);
        QCOMPARE(found[1].box, QRectF(2, 0, 1, 1));
        QCOMPARE(found[2].score, 50.0f / 255.0f);
        QCOMPARE(found[2].box, QRectF(0, 2, 1, 1));
    }

    // Prototype plane 0 is positive on mask rows 60-79, columns 40-99; the first
    // instance takes it with coefficient 1, the second has no mask above 0.5, and
    // a weaker copy of the first is suppressed.
    void segmentationOutlines_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("two outputs") << model("seg.onnx");
        QTest::newRow("third output ignored") << model("seg_three_outputs.onnx");
    }

    void segmentationOutlines()
    {
        QFETCH(QString, path);
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(path));
        QVERIFY(engine.isSegmentation());

        const QList<SegDetection> found = engine.runSeg(picture(1280, 720), 0.5f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].className, QStringLiteral("blob"));
        QCOMPARE(found[0].score, 0.9f);
        QVERIFY2(near(found[0].box, QRectF(280, 160, 560, 240)), qPrintable(describe(found[0].box)));
        QCOMPARE(found[0].polygon, (Points{{320, 204}, {320, 356}, {800, 356}, {800, 204}}));
        QCOMPARE(found[1].score, 0.6f);
        QVERIFY2(near(found[1].box, QRectF(960, 680, 80, 40)), qPrintable(describe(found[1].box)));
        QVERIFY(found[1].polygon.isEmpty());
    }

    void segmentationNeedsASegmentationModel()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx")));
        QVERIFY(engine.runSeg(picture(1280, 720), 0.25f, 0.5f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
    }

    // Outputs the decoders must not read: no results, a reason in lastError(), and
    // a warning for the malformed ones (the plain layout mismatches stay quiet).
    void unusableOutputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("segmentation");
        QTest::addColumn<QString>("warning");

        QTest::newRow("fp16 output") << model("bad_det_fp16.onnx") << false << "OnnxInferencer::run: .*float16";
        QTest::newRow("zero batch") << model("bad_det_empty_batch.onnx") << false << "OnnxInferencer::run: .*fewer";
        QTest::newRow("rank 2") << model("bad_det_rank2.onnx") << false << QString();
        QTest::newRow("4 rows") << model("bad_det_4rows.onnx") << false << QString();
        QTest::newRow("prototypes 80x80") << model("bad_seg_proto_80.onnx") << true
                                          << "OnnxInferencer::runSeg: mask prototypes: .*\\[1,32,80,80\\]";
        QTest::newRow("prototypes fp16") << model("bad_seg_proto_fp16.onnx") << true
                                         << "OnnxInferencer::runSeg: mask prototypes: .*float16";
        QTest::newRow("prototypes zero batch") << model("bad_seg_proto_empty.onnx") << true
                                               << "OnnxInferencer::runSeg: mask prototypes: .*\\[0,32,160,160\\]";
        QTest::newRow("no class rows") << model("bad_seg_no_classes.onnx") << true << QString();
        QTest::newRow("segmentation zero batch") << model("bad_seg_empty_batch.onnx") << true
                                                 << "OnnxInferencer::runSeg: .*fewer";
    }

    void unusableOutputs()
    {
        QFETCH(QString, path);
        QFETCH(bool, segmentation);
        QFETCH(QString, warning);

        OnnxInferencer engine;
        QVERIFY(engine.loadModel(path));
        QCOMPARE(engine.isSegmentation(), segmentation);
        if (warning.isEmpty())
            QTest::failOnWarning(QRegularExpression(".*"));
        else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        const qsizetype count = segmentation ? engine.runSeg(picture(1280, 720), 0.0f, 0.5f).size()
                                             : engine.run(picture(1280, 720), 0.0f, 0.5f).size();
        QCOMPARE(count, 0);
        QVERIFY(!engine.lastError().isEmpty());
    }

    // A run the runtime refuses (here: an fp16 input) is a failure the caller can
    // see, not a run that found nothing; the next good run clears it.
    void failedRunIsReported()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("bad_fp16_input.onnx")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::run: .+"));
        QVERIFY(engine.run(picture(64, 64), 0.25f, 0.5f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());

        QVERIFY(engine.loadModel(model("det_names.onnx")));
        QVERIFY(engine.run(picture(64, 64), 0.99f, 0.5f).isEmpty());
        QVERIFY(engine.lastError().isEmpty());
        QVERIFY(engine.run(QImage(), 0.25f, 0.5f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
    }
};

QM_TEST_MAIN(TestOnnxInferencer)
#include "tst_onnxinferencer.moc"
