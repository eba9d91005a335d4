#include "ai/FaceInferencer.h"

#include "FacePoseTestSupport.h"
#include "QmTest.h"

#include <QMetaType>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FacePoseTest;

namespace {

struct ExpectedFace {
    float score;
    QRectF box;
};

void compareFaces(const QList<FaceDetection> &found, const QList<ExpectedFace> &expected)
{
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        QCOMPARE(found[i].score, expected[i].score);
        QVERIFY2(near(found[i].box, expected[i].box), qPrintable(describe(found[i].box)));
    }
}

} // namespace

class TestFaceInferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(model("face_box.onnx")), "test models were not generated"); }

    void freshEngine()
    {
        FaceInferencer engine;
        QVERIFY(!engine.isReady());
        QCOMPARE(engine.inputWidth(), 640);
        QCOMPARE(engine.inputHeight(), 640);
        QVERIFY(engine.run(picture(64, 64), 0.35f, 0.45f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
        QVERIFY(QMetaType::fromName("QList<Quillmark::FaceDetection>").isValid());
    }

    // Models of another kind are refused with a reason; the engine is then not
    // ready, even though a good model was loaded before.
    void refusedModels_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::newRow("two outputs")
            << model("bad_face_two_outputs.onnx")
            << "Beklenmeyen çıkış sayısı: 2. Desteklenen: 1 (post-processed) veya 3 (DFL multi-scale).";
        QTest::newRow("rank 2") << model("bad_face_rank2.onnx")
                                << "Bilinmeyen model çıkışı — beklenen [1,nFeat,nBox] formatı.";
        QTest::newRow("nFeat 15")
            << model("bad_face_nfeat15.onnx")
            << "Not a face model — nFeat=15, expected 5 or 20. Please select a yolov8?-face.onnx file.";
        QTest::newRow("pose model")
            << model("pose_17.onnx")
            << "Not a face model — nFeat=56, expected 5 or 20. Please select a yolov8?-face.onnx file.";
        QTest::newRow("channels last")
            << model("bad_face_channels_last.onnx")
            << "the model's input [1,640,640,3] is not a planar RGB picture [1, 3, height, width] (channels last)";
    }

    void refusedModels()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_box.onnx")));
        QTest::failOnWarning(QRegularExpression(".*"));
        QVERIFY(!engine.loadModel(path));
        QVERIFY(!engine.isReady());
        QCOMPARE(engine.lastError(), message);
        QVERIFY(engine.run(picture(64, 64), 0.35f, 0.45f).isEmpty());
    }

    void unreadableFilesFailToLoad()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("garbage.onnx"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a model");
        file.close();
        FaceInferencer engine;
        for (const QString &path : {file.fileName(), dir.filePath("missing.onnx")}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FaceInferencer::loadModel: .+"));
            QVERIFY(!engine.loadModel(path));
            QVERIFY(!engine.isReady());
            QVERIFY(!engine.lastError().isEmpty());
        }
    }

    // One output [1, 5, 7] through the letterbox of a 1280 x 720 picture (scale
    // 0.5, 140 rows of border above): threshold, clamping, suppression.
    void boxOnlyFaces()
    {
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_box.onnx")));
        QCOMPARE(engine.layout(), 0);
        QVERIFY(!engine.hasLandmarks());
        const QList<FaceDetection> found = engine.run(picture(1280, 720), 0.35f, 0.5f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        compareFaces(found, {
                                {0.9f, QRectF(440, 260, 400, 200)}, // its shifted copy at 0.8 is suppressed
                                {0.6f, QRectF(940, 480, 120, 80)},  // this pair overlaps by exactly 0.5:
                                {0.55f, QRectF(980, 480, 120, 80)}, // both stay
                                {0.35f, QRectF(160, 80, 80, 80)},   // exactly at the threshold
                            });
        for (const FaceDetection &face : found)
            QVERIFY(!face.hasLandmarks);

        const Annotation annotation = faceToAnnotation(found[0], QStringLiteral("face"));
        QCOMPARE(annotation.kind, int(BoundingBox));
        QCOMPARE(annotation.className, QStringLiteral("face"));
        QCOMPARE(annotation.bbox, found[0].box);
        QCOMPARE(annotation.confidence, 0.9f);
        QVERIFY(annotation.points.isEmpty());
        QVERIFY(annotation.keypointVis.isEmpty());
    }

    void landmarkFaces()
    {
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_landmarks.onnx")));
        QVERIFY(engine.hasLandmarks());
        const QList<FaceDetection> found = engine.run(picture(1280, 720), 0.35f, 0.5f);
        QCOMPARE(found.size(), 4);
        const FaceDetection &face = found[0];
        QVERIFY(face.hasLandmarks);
        QVERIFY2(near(face.box, QRectF(440, 260, 400, 200)), qPrintable(describe(face.box)));
        // The last landmark lies right of and above the picture: clamped.
        const QList<QPointF> points{{600, 340}, {680, 340}, {640, 360}, {610, 390}, {1280, 0}};
        const QList<float> confs{0.9f, 0.8f, 0.1f, 0.05f, 2.0f};
        for (int k = 0; k < 5; ++k) {
            QCOMPARE(QPointF(face.landmarks[size_t(k)].x, face.landmarks[size_t(k)].y), points[k]);
            QCOMPARE(face.landmarks[size_t(k)].conf, confs[k]);
        }

        const Annotation annotation = faceToAnnotation(face, QStringLiteral("face"));
        QCOMPARE(annotation.kind, int(Keypoint));
        QCOMPARE(annotation.points, points);
        // A confidence of exactly 0.1 is not enough to be visible.
        QCOMPARE(annotation.keypointVis, (QList<int>{2, 2, 0, 0, 2}));
        QCOMPARE(annotation.bbox, face.box);
    }

    // The probe's scores are tensor values at (channel, row, column) (0, 1, 1),
    // (1, 4, 6) and (2, 5, 3) of an 8 x 6 input. A 16 x 8 picture is scaled by
    // 0.5 with one grey row above and below: they must be the top-left red, the
    // bottom-right green and the grey of the bottom border, each / 255.
    void modelSeesPlanarRgbThroughTheLetterbox()
    {
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_probe.onnx")));
        QCOMPARE(engine.inputWidth(), 8);
        QCOMPARE(engine.inputHeight(), 6);
        const QList<FaceDetection> found = engine.run(quadrantPicture(), 0.0f, 1.0f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        QCOMPARE(found.size(), 3);
        const float tolerance = 0.5f / 255.0f;
        QVERIFY(near(found[0].score, quadrantColours[0].red() / 255.0, tolerance));
        QVERIFY(near(found[1].score, 114 / 255.0, tolerance));
        QVERIFY(near(found[2].score, quadrantColours[3].green() / 255.0, tolerance));
        // Boxes (cx, cy, w, h) = (2, 2, 2, 2), (4, 3, 2, 2) and (6, 3, 2, 2) in
        // model pixels, mapped back through scale 0.5 and one row of border.
        QCOMPARE(found[0].box, QRectF(2, 0, 4, 4));
        QCOMPARE(found[1].box, QRectF(6, 2, 4, 4));
        QCOMPARE(found[2].box, QRectF(10, 2, 4, 4));
    }

    // A model that states no feature count loads; the run's own count decides.
    void dynamicOutputs()
    {
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_dynamic_20.onnx")));
        QVERIFY(!engine.hasLandmarks());
        const QList<FaceDetection> found = engine.run(picture(1280, 720), 0.35f, 0.5f);
        QCOMPARE(found.size(), 4);
        QVERIFY(found[0].hasLandmarks);
        QCOMPARE(found[0].landmarks[0].x, 600.0f);

        QVERIFY(engine.loadModel(model("face_dynamic_15.onnx")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FaceInferencer::run: Not a face model — nFeat=15"));
        QVERIFY(engine.run(picture(1280, 720), 0.35f, 0.5f).isEmpty());
        QVERIFY(engine.lastError().startsWith(QStringLiteral("Not a face model — nFeat=15")));
    }

    void inputSizeFollowsTheModel()
    {
        FaceInferencer engine;
        QVERIFY(engine.loadModel(model("face_dynamic_input.onnx")));
        QCOMPARE(engine.inputWidth(), 640);
        QVERIFY(engine.loadModel(model("face_320.onnx")));
        QCOMPARE(engine.inputWidth(), 320);
        QCOMPARE(engine.inputHeight(), 320);
        QVERIFY(engine.loadModel(model("face_dynamic_input.onnx")));
        QCOMPARE(engine.inputWidth(), 320);
        // The face (320, 60, 40, 40) at 0.95 of a 320 x 320 input on a 640 x 640
        // picture: twice as large, no border (with a 640 x 640 input it would lie
        // in the border and be dropped), clamped at the right edge.
        const QList<FaceDetection> found = engine.run(picture(640, 640), 0.35f, 0.5f);
        QVERIFY(!found.isEmpty());
        QCOMPARE(found[0].score, 0.95f);
        QVERIFY2(near(found[0].box, QRectF(600, 80, 40, 80)), qPrintable(describe(found[0].box)));
    }

    // Three scales of the multi-scale head on a 320 x 256 input, compared with
    // the decoding worked out by make_facepose_models.py. The finest scale is
    // 32 x 32 cells: 10 pixels a cell across, 8 down.
    void multiScaleHeadMatchesTheReference_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("finestScale");
        QTest::newRow("three scales") << model("face_dfl.onnx") << true;
        QTest::newRow("64-channel output skipped") << model("face_dfl_one_narrow.onnx") << false;
    }

    void multiScaleHeadMatchesTheReference()
    {
        QFETCH(QString, path);
        QFETCH(bool, finestScale);
        FaceInferencer engine;
        QVERIFY(engine.loadModel(path));
        QCOMPARE(engine.layout(), 1);
        QVERIFY(engine.hasLandmarks());
        QCOMPARE(engine.inputWidth(), 320);
        QCOMPARE(engine.inputHeight(), 256);

        const QJsonObject reference = FacePoseTest::reference("face_dfl");
        const float conf = float(reference.value("conf").toDouble());
        const QJsonArray pictures = reference.value("pictures").toArray();
        QCOMPARE(pictures.size(), 2);
        for (const QJsonValue &entry : pictures) {
            const QJsonObject pictureRef = entry.toObject();
            QList<QJsonObject> expected;
            for (const QJsonValue &face : pictureRef.value("faces").toArray()) {
                if (finestScale || face.toObject().value("scale").toInt() != 0)
                    expected.append(face.toObject());
            }
            QVERIFY(expected.size() >= 4);
            const QImage image = picture(pictureRef.value("width").toInt(), pictureRef.value("height").toInt());
            const QList<FaceDetection> found = engine.run(image, conf, 1.0f);
            QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
            QCOMPARE(found.size(), expected.size());
            for (qsizetype i = 0; i < found.size(); ++i) {
                const QJsonObject &face = expected[i];
                QVERIFY(near(found[i].score, face.value("score").toDouble(), 1e-5));
                QVERIFY2(near(found[i].box, rectOf(face.value("box")), 0.01), qPrintable(describe(found[i].box)));
                QVERIFY(found[i].hasLandmarks);
                const QJsonArray marks = face.value("landmarks").toArray();
                for (int k = 0; k < 5; ++k) {
                    const QJsonArray mark = marks.at(k).toArray();
                    const FaceLandmark &landmark = found[i].landmarks[size_t(k)];
                    QVERIFY2(near(landmark.x, mark.at(0).toDouble(), 0.01) &&
                                 near(landmark.y, mark.at(1).toDouble(), 0.01),
                             qPrintable(QStringLiteral("face %1 landmark %2: (%3, %4)")
                                            .arg(i)
                                            .arg(k)
                                            .arg(landmark.x)
                                            .arg(landmark.y)));
                    QVERIFY(near(landmark.conf, mark.at(2).toDouble(), 1e-5));
                }
            }
        }
    }

    // Outputs the decoders must not read: the run fails with a reason and a
    // warning, and a later good run clears the reason.
    void unusableOutputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fp16") << model("bad_face_fp16.onnx") << "float16";
        QTest::newRow("short") << model("bad_face_short.onnx") << "fewer than its layout needs";
        QTest::newRow("multi-scale fp16") << model("bad_face_dfl_fp16.onnx") << "float16";
        QTest::newRow("multi-scale short") << model("bad_face_dfl_short.onnx") << "fewer than its layout needs";
        QTest::newRow("no face scale") << model("face_dfl_all_narrow.onnx") << "multi-scale face layout";
    }

    void unusableOutputs()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        FaceInferencer engine;
        QVERIFY(engine.loadModel(path));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^FaceInferencer::run: .*" + reason));
        QVERIFY(engine.run(picture(1280, 720), 0.0f, 0.5f).isEmpty());
        QVERIFY2(engine.lastError().contains(reason), qPrintable(engine.lastError()));

        QVERIFY(engine.loadModel(model("face_box.onnx")));
        QVERIFY(engine.run(picture(64, 64), 0.99f, 0.5f).isEmpty());
        QVERIFY(engine.lastError().isEmpty());
    }
};

QM_TEST_MAIN(TestFaceInferencer)
#include "tst_faceinferencer.moc"
