#include "ai/PoseDecoding.h"
#include "ai/PoseInferencer.h"

#include "FacePoseTestSupport.h"
#include "QmTest.h"

#include <QMetaType>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FacePoseTest;

class TestPoseInferencer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(model("pose_17.onnx")), "test models were not generated"); }

    void freshEngine()
    {
        PoseInferencer engine;
        QVERIFY(!engine.isReady());
        QCOMPARE(engine.keypointCount(), 17);
        QCOMPARE(engine.kind(), YoloPoseModel);
        QVERIFY(engine.run(picture(64, 64), 0.25f, 0.45f, 0.3f).isEmpty());
        QVERIFY(!engine.lastError().isEmpty());
        QVERIFY(QMetaType::fromName("QList<Quillmark::PosePerson>").isValid());
    }

    void keypointCountFromTheOutput_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("keypoints");
        QTest::newRow("17 keypoints") << model("pose_17.onnx") << 17;
        QTest::newRow("21 keypoints") << model("pose_21.onnx") << 21;
        QTest::newRow("second output without 18 columns") << model("pose_two_outputs.onnx") << 17;
    }

    void keypointCountFromTheOutput()
    {
        QFETCH(QString, path);
        QFETCH(int, keypoints);
        PoseInferencer engine;
        QVERIFY2(engine.loadModel(path), qPrintable(engine.lastError()));
        QCOMPARE(engine.kind(), YoloPoseModel);
        QCOMPARE(engine.keypointCount(), keypoints);
    }

    void refusedModels_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        const QString notPose = QStringLiteral("Not a supported pose model — nFeat=%1 (expected 5 + K×3 YOLO-pose, or "
                                               "a MediaPipe palm detector with coords+scores outputs).");
        QTest::newRow("nFeat 7") << model("pose_nfeat_7.onnx") << notPose.arg(7);
        QTest::newRow("nFeat 5") << model("pose_nfeat_5.onnx") << notPose.arg(5);
        QTest::newRow("rank 2") << model("pose_rank2.onnx") << notPose.arg(-1);
        QTest::newRow("80-class segmentation model")
            << model("seg_as_pose.onnx")
            << "Not a supported pose model — the model names 80 classes; a pose model finds one (a person or a hand).";
        QTest::newRow("2016 anchors") << model("palm_2016.onnx")
                                      << "MediaPipe model anchor mismatch — model expects 2016, generated 1656.";
    }

    // A refused model leaves the engine not ready, whatever was loaded before;
    // the keypoint count still describes the last model that loaded.
    void refusedModels()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        PoseInferencer engine;
        QVERIFY(engine.loadModel(model("pose_21.onnx")));
        QTest::failOnWarning(QRegularExpression(".*"));
        QVERIFY(!engine.loadModel(path));
        QVERIFY(!engine.isReady());
        QCOMPARE(engine.lastError(), message);
        QCOMPARE(engine.kind(), YoloPoseModel);
        QCOMPARE(engine.keypointCount(), 21);
        QVERIFY(engine.run(picture(64, 64), 0.25f, 0.45f, 0.3f).isEmpty());
    }

    void unreadableFilesFailToLoad()
    {
        QTemporaryDir dir;
        PoseInferencer engine;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PoseInferencer::loadModel: .+"));
        QVERIFY(!engine.loadModel(dir.filePath("missing.onnx")));
        QVERIFY(!engine.lastError().isEmpty());
    }

    // A 17-keypoint output through the letterbox of a 1280 x 720 picture (scale
    // 0.5, 140 rows of border above); the first person's keypoint scores sit on
    // the visibility thresholds of a keypoint threshold of 0.3.
    void yoloPosePersons()
    {
        PoseInferencer engine;
        QVERIFY(engine.loadModel(model("pose_17.onnx")));
        const QList<PosePerson> found = engine.run(picture(1280, 720), 0.25f, 0.45f, 0.3f);
        QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
        // The second person overlaps the first and is suppressed; the third
        // scores 0.2, below the threshold.
        QCOMPARE(found.size(), 1);
        const PosePerson &person = found[0];
        QCOMPARE(person.score, 0.9f);
        QVERIFY2(near(person.box, QRectF(440, 60, 400, 600)), qPrintable(describe(person.box)));
        QCOMPARE(person.keypoints.size(), 17);
        for (int k = 0; k < 16; ++k) {
            QCOMPARE(person.keypoints[k].x, float(250 + 5 * k) * 2.0f);
            QCOMPARE(person.keypoints[k].y, float(200 + 10 * k - 140) * 2.0f);
        }
        QCOMPARE(person.keypoints[16].x, 1280.0f); // beyond the right edge: clamped
        QCOMPARE(person.keypoints[0].score, 0.3f);

        QList<int> visibility;
        for (const PoseKeypoint &keypoint : person.keypoints)
            visibility.append(keypoint.visibility);
        // At the threshold: occluded; at the threshold + 0.4: visible; just below
        // the threshold: unlabelled.
        QCOMPARE(visibility.mid(0, 5), (QList<int>{1, 2, 0, 2, 1}));

        const Annotation annotation = posePersonToAnnotation(person, QStringLiteral("person"));
        QCOMPARE(annotation.kind, int(Keypoint));
        QCOMPARE(annotation.className, QStringLiteral("person"));
        QCOMPARE(annotation.bbox, person.box);
        QCOMPARE(annotation.confidence, 0.9f);
        QCOMPARE(annotation.points.size(), 17);
        QCOMPARE(annotation.points[3], QPointF(person.keypoints[3].x, person.keypoints[3].y));
        QCOMPARE(annotation.keypointVis, visibility);

        // A stricter suppression keeps the overlapping person too.
        QCOMPARE(engine.run(picture(1280, 720), 0.25f, 0.99f, 0.3f).size(), 2);
    }

    // The probe's person score and keypoint score are tensor values at
    // (channel, row, column) (0, 1, 1) and (2, 5, 3) of an 8 x 6 input: the
    // top-left red of a 16 x 8 picture and the grey of the bottom border row.
    void modelSeesPlanarRgbThroughTheLetterbox()
    {
        PoseInferencer engine;
        QVERIFY(engine.loadModel(model("pose_probe.onnx")));
        QCOMPARE(engine.keypointCount(), 1);
        QCOMPARE(engine.inputWidth(), 8);
        QCOMPARE(engine.inputHeight(), 6);
        const QList<PosePerson> found = engine.run(quadrantPicture(), 0.0f, 1.0f, 0.3f);
        QCOMPARE(found.size(), 2);
        const float tolerance = 0.5f / 255.0f;
        QVERIFY(near(found[0].score, quadrantColours[0].red() / 255.0, tolerance));
        QVERIFY(near(found[0].keypoints[0].score, 114 / 255.0, tolerance));
        QVERIFY(near(found[1].score, quadrantColours[3].green() / 255.0, tolerance));
        QVERIFY(near(found[1].keypoints[0].score, quadrantColours[0].red() / 255.0, tolerance));
        QCOMPARE(found[0].box, QRectF(4, 2, 8, 4));
        QCOMPARE(QPointF(found[0].keypoints[0].x, found[0].keypoints[0].y), QPointF(10, 4));
    }

    void palmAnchorScheme()
    {
        const std::vector<QPointF> anchors = palmAnchors(192);
        QCOMPARE(anchors.size(), size_t(1656));
        // Stride 8: a 24 x 24 grid, two anchors a cell, rows outer.
        QCOMPARE(anchors[0], QPointF(0.5f / 24, 0.5f / 24));
        QCOMPARE(anchors[1], anchors[0]);
        QCOMPARE(anchors[2], QPointF(1.5f / 24, 0.5f / 24));
        QCOMPARE(anchors[48], QPointF(0.5f / 24, 1.5f / 24));
        // Stride 32: a 6 x 6 grid of six anchors a cell, after 1152 + 288.
        QCOMPARE(anchors[1440], QPointF(0.5f / 6, 0.5f / 6));
        QCOMPARE(anchors[1655], QPointF(5.5f / 6, 5.5f / 6));
        QCOMPARE(palmAnchors(256).size(), size_t(2944));
    }

    // The palm detector against the decoding worked out by
    // make_facepose_models.py, for a wide and a tall picture.
    void palmDetectorMatchesTheReference()
    {
        PoseInferencer engine;
        QVERIFY(engine.loadModel(model("palm_192.onnx")));
        QCOMPARE(engine.kind(), PalmDetectorModel);
        QCOMPARE(engine.keypointCount(), 7);
        QCOMPARE(engine.inputWidth(), 192);

        const QJsonObject reference = FacePoseTest::reference("palm");
        const float conf = float(reference.value("conf").toDouble());
        const QJsonArray pictures = reference.value("pictures").toArray();
        QCOMPARE(pictures.size(), 2);
        for (const QJsonValue &entry : pictures) {
            const QJsonObject pictureRef = entry.toObject();
            const QJsonArray expected = pictureRef.value("hands").toArray();
            QCOMPARE(expected.size(), 3);
            const QImage image = picture(pictureRef.value("width").toInt(), pictureRef.value("height").toInt());
            const QList<PosePerson> found = engine.run(image, conf, 1.0f, 0.3f);
            QVERIFY2(engine.lastError().isEmpty(), qPrintable(engine.lastError()));
            QCOMPARE(found.size(), expected.size());
            for (qsizetype i = 0; i < found.size(); ++i) {
                const QJsonObject hand = expected.at(i).toObject();
                QVERIFY(near(found[i].score, hand.value("score").toDouble(), 1e-6));
                QVERIFY2(near(found[i].box, rectOf(hand.value("box")), 0.01), qPrintable(describe(found[i].box)));
                const QJsonArray points = hand.value("keypoints").toArray();
                QCOMPARE(found[i].keypoints.size(), 7);
                for (int k = 0; k < 7; ++k) {
                    const PoseKeypoint &keypoint = found[i].keypoints[k];
                    QVERIFY(near(keypoint.x, points.at(k).toArray().at(0).toDouble(), 0.01));
                    QVERIFY(near(keypoint.y, points.at(k).toArray().at(1).toDouble(), 0.01));
                    QCOMPARE(keypoint.visibility, 2);
                    QCOMPARE(keypoint.score, found[i].score);
                }
            }
            // The logit of 1000 counts as 50: a score just under 1.
            QCOMPARE(found[0].score, 1.0f / (1.0f + std::exp(-50.0f)));
        }
    }

    void unusableOutputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fp16") << model("bad_pose_fp16.onnx") << "float16";
        QTest::newRow("other feature count") << model("bad_pose_features.onnx") << "expected \\[1,56,candidates\\]";
        QTest::newRow("short") << model("bad_pose_short.onnx") << "fewer than its layout needs";
        QTest::newRow("palm regression short")
            << model("bad_palm_short_regression.onnx") << "regression output: .*fewer";
        QTest::newRow("palm scores short") << model("bad_palm_short_scores.onnx") << "score output: .*fewer";
        QTest::newRow("palm scores fp16") << model("bad_palm_fp16.onnx") << "score output: .*float16";
    }

    void unusableOutputs()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        PoseInferencer engine;
        QVERIFY2(engine.loadModel(path), qPrintable(engine.lastError()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PoseInferencer::run: .*" + reason));
        QVERIFY(engine.run(picture(640, 480), 0.0f, 0.5f, 0.3f).isEmpty());
        QVERIFY2(QRegularExpression(reason).match(engine.lastError()).hasMatch(), qPrintable(engine.lastError()));

        QVERIFY(engine.loadModel(model("pose_17.onnx")));
        QVERIFY(engine.run(picture(64, 64), 0.99f, 0.45f, 0.3f).isEmpty());
        QVERIFY(engine.lastError().isEmpty());
    }
};

QM_TEST_MAIN(TestPoseInferencer)
#include "tst_poseinferencer.moc"
