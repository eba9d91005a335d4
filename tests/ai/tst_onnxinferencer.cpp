#include "ai/CocoClassNames.h"
#include "ai/FaceInferencer.h"
#include "ai/OnnxInferencer.h"
#include "ai/PoseInferencer.h"
#include "ai/Sam3Inferencer.h"
#include "ai/SamInferencer.h"

#include "AddressSpaceCap.h"
#include "BoundedRun.h"
#include "QmTest.h"

#include <QRegularExpression>
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>

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

struct Expected {
    const char *name;
    float score;
    QRectF box;
};

bool near(const QRectF &a, const QRectF &b)
{
    return std::abs(a.x() - b.x()) < 1e-3 && std::abs(a.y() - b.y()) < 1e-3 && std::abs(a.width() - b.width()) < 1e-3 &&
           std::abs(a.height() - b.height()) < 1e-3;
}

QString describe(const QRectF &r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class TestOnnxInferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(model("det_names.onnx")), "test models were not generated"); }

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

    // Every engine opens its model through the same runtime, which takes only
    // regular files: a named pipe called "*.onnx" would block the loading
    // thread for good, a link to /dev/zero would be read without end. Each is
    // refused at once, in a child process under a time and memory bound.
    void specialFilesAreNoModels_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("folder") << "folder";
    }

    void specialFilesAreNoModels()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("model.onnx");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", path));
        else
            QVERIFY(QDir(dir.path()).mkdir("model.onnx"));
        const QString tokenizer = dir.filePath("tokenizer.json");
        QFile tokenizerFile(tokenizer);
        QVERIFY(tokenizerFile.open(QIODevice::WriteOnly));
        tokenizerFile.write(R"({"model": {"type": "BPE", "vocab": {}, "merges": []}})");
        tokenizerFile.close();
        const QmTest::BoundedResult result = QmTest::runBounded({5000, 64LL << 20}, [&]() -> QString {
            QStringList loaded;
            if (OnnxInferencer engine; engine.loadModel(path) || engine.lastError().isEmpty())
                loaded << "detector";
            if (FaceInferencer engine; engine.loadModel(path) || engine.lastError().isEmpty())
                loaded << "face";
            if (PoseInferencer engine; engine.loadModel(path) || engine.lastError().isEmpty())
                loaded << "pose";
            if (SamInferencer engine; engine.loadEncoder(path) || engine.lastError().isEmpty())
                loaded << "point prompts";
            if (Sam3Inferencer engine; engine.loadModels(path, path, tokenizer)
                                       || engine.lastError().isEmpty())
                loaded << "concepts";
            return loaded.isEmpty() ? QString() : "taken as a model by: " + loaded.join(", ");
        });
        QVERIFY2(result.ok(), qPrintable(result.describe()));
        QVERIFY(result.bytesRead < 1024 * 1024);
    }

    // One output [1, 6, 7] read channel-major, through the letterbox of a
    // landscape picture (scale 0.5, 140 rows of border above) and of a portrait
    // one (140 columns of border on the left).
    void detectionsMappedToThePicture_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<Expected>>("expected");
        QTest::newRow("border above and below")
            << QSize(1280, 720)
            << QList<Expected>{
                   {"cat", 0.9f, QRectF(440, 260, 400, 200)}, // the shifted copy at 0.8 is suppressed
                   {"dog", 0.7f, QRectF(440, 260, 400, 200)}, // same box, other class
                   {"cat", 0.5f, QRectF(0, 0, 140, 60)},      // class tie, clamped
                   {"cat", 0.25f, QRectF(980, 700, 40, 20)},  // exactly at the threshold, clamped
               };
        QTest::newRow("border left and right")
            << QSize(720, 1280)
            << QList<Expected>{
                   {"cat", 0.95f, QRectF(320, 60, 80, 80)}, // in the border of the other picture
                   {"cat", 0.9f, QRectF(160, 540, 400, 200)},
                   {"dog", 0.7f, QRectF(160, 540, 400, 200)},
                   {"cat", 0.25f, QRectF(700, 980, 20, 40)}, // clamped at the right edge
               };
    }

    void detectionsMappedToThePicture()
    {
        QFETCH(QSize, size);
        QFETCH(QList<Expected>, expected);
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx")));
        QVERIFY(!engine.isSegmentation());
        QCOMPARE(engine.classNames(), (QStringList{"cat", "dog"}));
        QCOMPARE(engine.modelPath(), model("det_names.onnx"));

        const QList<Detection> found = engine.run(picture(size.width(), size.height()), 0.25f, 0.5f);
        QVERIFY(engine.lastError().isEmpty());
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

    // The probe model's scores are values of the tensor it is fed, at (channel,
    // row, column) (0, 0, 0), (1, 1, 2), (2, 5, 5), (0, 3, 7) and (0, 2, 4); its
    // boxes are fixed in model pixels. A 16 x 24 picture of 4 x 4 blocks is
    // scaled by 0.25 into the 8 x 6 input with two grey columns on each side:
    // the scores show the planes are R, G, B, row-major, over 255, with the
    // picture between the borders; the boxes show the border is taken off.
    void modelSeesTheLetterboxedPicture()
    {
        const auto blockColor = [](int bx, int by) {
            return QColor(20 + 50 * bx + 5 * by, 200 - 30 * by - 7 * bx, 30 + 20 * by + 11 * bx);
        };
        QImage image(16, 24, QImage::Format_RGB32);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 16; ++x)
                image.setPixelColor(x, y, blockColor(x / 4, y / 4));

        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("probe_8x6.onnx")));
        QCOMPARE(engine.inputWidth(), 8);
        QCOMPARE(engine.inputHeight(), 6);
        const QList<Detection> found = engine.run(image, 0.0f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));

        const float grey = 114.0f / 255.0f;
        const QList<QPair<QRectF, float>> expected{
            {QRectF(0, 0, 8, 8), grey},                              // R of the left border
            {QRectF(8, 8, 8, 8), blockColor(0, 1).green() / 255.0f}, // G of the first picture column
            {QRectF(0, 16, 8, 8), blockColor(3, 5).blue() / 255.0f}, // B of the last column and row
            {QRectF(6, 10, 4, 4), grey},                             // R of the right border
            {QRectF(8, 0, 8, 8), blockColor(2, 2).red() / 255.0f},   // R inside
        };
        QCOMPARE(found.size(), expected.size());
        for (const auto &[box, score] : expected) {
            const auto match =
                std::find_if(found.cbegin(), found.cend(), [&box](const Detection &d) { return near(d.box, box); });
            QVERIFY2(match != found.cend(), qPrintable(describe(box)));
            QVERIFY2(std::abs(match->score - score) <= 1.0f / 255.0f + 1e-6f,
                     qPrintable(QStringLiteral("%1: %2, expected %3").arg(describe(box)).arg(match->score).arg(score)));
        }
    }

    // The other common export puts one candidate per row, [1, N, 4 + classes]:
    // refused with a reason, never read as columns.
    void candidatesInRowsAreRefused()
    {
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_rows.onnx")));
        QVERIFY(engine.run(picture(1280, 720), 0.25f, 0.5f).isEmpty());
        QVERIFY2(engine.lastError().contains("[1,50,6]") && engine.lastError().contains("per row"),
                 qPrintable(engine.lastError()));
    }

    // A channels-last input would be read as a picture 3 pixels high.
    void channelsLastInputIsRefusedAtLoad()
    {
        OnnxInferencer engine;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: .*channels last"));
        QVERIFY(!engine.loadModel(model("bad_channels_last.onnx")));
        QVERIFY(!engine.isLoaded());
        QVERIFY(engine.lastError().contains("[1,640,640,3]"));
        QCOMPARE(engine.inputWidth(), 640);
        QCOMPARE(engine.inputHeight(), 640);
    }

    // A picture that cannot be converted for the model (out of memory) is a
    // failed run, not a run on an empty grey input.
    void pictureOutOfMemoryIsAFailure()
    {
#ifdef QUILLMARK_ORT_NO_ARENA
        QSKIP("the address sanitizer reserves the address space this test caps");
#else
        // Its RGB32 copy (256 MB) is far more than the cap and than what the
        // allocator keeps of freed memory.
        QImage big(8000, 8000, QImage::Format_Grayscale8);
        big.fill(40);
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(model("det_names.onnx")));
        QList<Detection> found;
        {
            QmTest::AddressSpaceCap cap(24 * 1024 * 1024);
            QVERIFY(cap.active);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QImage: out of memory"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::run: .*out of memory"));
            found = engine.run(big, 0.0f, 0.5f);
        }
        QVERIFY(found.isEmpty());
        QVERIFY2(engine.lastError().contains("out of memory"), qPrintable(engine.lastError()));
        // The same picture with room to spare runs.
        engine.run(big, 0.25f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
#endif
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

    // Other prototype sizes: a model exported at 320 (80 x 80 planes) and one
    // with a non-square input (640 x 384, planes 160 x 96) on a portrait picture
    // with borders left and right. The second instance of the 320 model reaches
    // above the picture: its crop comes from its box in model pixels, and its
    // outline is clamped to the picture.
    void segmentationAtOtherSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QRectF>>("boxes");
        QTest::addColumn<QList<Points>>("outlines");
        QTest::newRow("exported at 320") << model("seg_320.onnx") << QSize(1280, 720)
                                         << QList<QRectF>{QRectF(280, 160, 560, 240), QRectF(960, 0, 160, 200)}
                                         << QList<Points>{{{320, 208}, {320, 352}, {800, 352}, {800, 208}},
                                                          {{992, 0}, {992, 112}, {1088, 112}, {1088, 0}}};
        const double x0 = (256 - 212) / 0.3, x1 = (384 - 212) / 0.3, y0 = 82 / 0.3, y1 = 238 / 0.3;
        QTest::newRow("non-square input")
            << model("seg_640x384.onnx") << QSize(720, 1280) << QList<QRectF>{QRectF(28 / 0.3, 240, 160 / 0.3, 800)}
            << QList<Points>{{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}}};
    }

    void segmentationAtOtherSizes()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(QList<QRectF>, boxes);
        QFETCH(QList<Points>, outlines);
        OnnxInferencer engine;
        QVERIFY(engine.loadModel(path));
        const QList<SegDetection> found = engine.runSeg(picture(size.width(), size.height()), 0.5f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        QCOMPARE(found.size(), boxes.size());
        for (qsizetype i = 0; i < found.size(); ++i) {
            QVERIFY2(near(found[i].box, boxes[i]), qPrintable(describe(found[i].box)));
            QCOMPARE(found[i].polygon.size(), outlines[i].size());
            for (qsizetype k = 0; k < outlines[i].size(); ++k) {
                const QPointF d = found[i].polygon[k] - outlines[i][k];
                QVERIFY2(std::abs(d.x()) < 1e-3 && std::abs(d.y()) < 1e-3,
                         qPrintable(QStringLiteral("point %1: (%2, %3)")
                                        .arg(k)
                                        .arg(found[i].polygon[k].x())
                                        .arg(found[i].polygon[k].y())));
            }
        }
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
        QTest::newRow("31 prototype planes") << model("bad_seg_proto_31.onnx") << true
                                             << "OnnxInferencer::runSeg: mask prototypes: .*\\[1,31,160,160\\]";
        QTest::newRow("prototypes fp16") << model("bad_seg_proto_fp16.onnx") << true
                                         << "OnnxInferencer::runSeg: mask prototypes: .*float16";
        QTest::newRow("prototypes zero batch") << model("bad_seg_proto_empty.onnx") << true
                                               << "OnnxInferencer::runSeg: mask prototypes: .*\\[0,32,160,160\\]";
        QTest::newRow("no class rows") << model("bad_seg_no_classes.onnx") << true << QString();
        QTest::newRow("segmentation zero batch")
            << model("bad_seg_empty_batch.onnx") << true << "OnnxInferencer::runSeg: .*fewer";
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

    // A pose model offered as a detector names one class of its own but has 52
    // rows where the class scores would be: refused when it loads, or, with its
    // output shape left open, when it runs; never boxes of made-up classes.
    void modelOfAnotherKindIsRefused()
    {
        const QString why = QStringLiteral("the model names 1 class(es) but its output holds 52 class score rows");
        OnnxInferencer engine;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: " + QRegularExpression::escape(why)));
        QVERIFY(!engine.loadModel(model("det_pose_like.onnx")));
        QVERIFY(engine.lastError().startsWith(why));
        QVERIFY(!engine.isLoaded());

        QVERIFY(engine.loadModel(model("det_pose_like_dynamic.onnx")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::run: " + QRegularExpression::escape(why)));
        QVERIFY(engine.run(picture(640, 640), 0.25f, 0.45f).isEmpty());
        QVERIFY(engine.lastError().startsWith(why));

        // Names given by the caller are the caller's to match.
        QVERIFY(engine.loadModel(model("det_pose_like.onnx"), {QStringLiteral("a")}));
        QVERIFY(!engine.run(picture(640, 640), 0.25f, 0.45f).isEmpty());
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
