#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "SignalLog.h"

#include <QSignalSpy>
#include <QUndoStack>

using namespace Quillmark;
using namespace CanvasTest;

namespace {

using PointList = QList<QPointF>;

Annotation person(double x)
{
    return keypoints({QPointF(x, 100), QPointF(x + 20, 140), QPointF(x + 40, 180)}, {2, 2, 2});
}

} // namespace

class TestCanvasAssist : public QObject {
    Q_OBJECT
private slots:
    void promptClicksReportBothLists();
    void escapeLeavesPromptModeSilently();
    void promptsIgnoreTheClassGateAndPanReturnsToPrompting();
    void committedResultIsOneStepAndPromptingGoesOn();
    void pendingResultsAreAcceptedInOneStep();
    void eachDetectionIsAStep();
    void previewsAndPendingAreDrawnUntilCleared();
    void anotherImageDropsAssistanceState();
};

void TestCanvasAssist::promptClicksReportBothLists()
{
    auto canvas = makeCanvas({box(QRectF(100, 100, 100, 100))});
    canvas->enterSamMode();
    QVERIFY(canvas->isInSamMode());
    QSignalSpy prompts(canvas.get(), &LabelCanvas::samPromptsChanged);
    SignalLog log(canvas.get());
    click(canvas.get(), QPointF(150, 150));
    click(canvas.get(), QPointF(300, 300), Qt::RightButton);
    click(canvas.get(), QPointF(400, 100));
    QCOMPARE(prompts.count(), 3);
    QCOMPARE(prompts.at(0).at(0).value<PointList>(), PointList{QPointF(150, 150)});
    QCOMPARE(prompts.at(0).at(1).value<PointList>(), PointList{});
    QCOMPARE(prompts.at(1).at(1).value<PointList>(), PointList{QPointF(300, 300)});
    QCOMPARE(prompts.at(2).at(0).value<PointList>(), (PointList{QPointF(150, 150), QPointF(400, 100)}));
    QCOMPARE(prompts.at(2).at(1).value<PointList>(), PointList{QPointF(300, 300)});
    // Nothing was selected or changed by the prompt clicks.
    QVERIFY(log.entries.isEmpty());
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    QCOMPARE(canvas->annotations().size(), 1);
}

void TestCanvasAssist::escapeLeavesPromptModeSilently()
{
    auto canvas = makeCanvas();
    canvas->enterSamMode();
    click(canvas.get(), QPointF(150, 150));
    QSignalSpy prompts(canvas.get(), &LabelCanvas::samPromptsChanged);
    SignalLog log(canvas.get());
    QTest::keyClick(canvas.get(), Qt::Key_Escape);
    QVERIFY(!canvas->isInSamMode());
    QCOMPARE(prompts.count(), 0);
    QVERIFY(log.entries.isEmpty());
    // The old prompt is gone: a new prompt session starts empty.
    canvas->enterSamMode();
    click(canvas.get(), QPointF(10, 10));
    QCOMPARE(prompts.last().at(0).value<PointList>(), PointList{QPointF(10, 10)});
}

void TestCanvasAssist::promptsIgnoreTheClassGateAndPanReturnsToPrompting()
{
    auto canvas = makeCanvas();
    canvas->setClassColors({});
    canvas->enterSamMode();
    QSignalSpy gate(canvas.get(), &LabelCanvas::classRequired);
    QSignalSpy prompts(canvas.get(), &LabelCanvas::samPromptsChanged);
    click(canvas.get(), QPointF(50, 50));
    QCOMPARE(gate.count(), 0);
    QCOMPARE(prompts.count(), 1);
    press(canvas.get(), QPointF(50, 50), Qt::MiddleButton);
    QVERIFY(canvas->isInSamMode());
    move(canvas.get(), QPointF(60, 50), Qt::MiddleButton);
    release(canvas.get(), QPointF(60, 50), Qt::MiddleButton);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::SamPrompt));
    canvas->setTool(int(Tool::BBox));
    QVERIFY(!canvas->isInSamMode());
}

void TestCanvasAssist::committedResultIsOneStepAndPromptingGoesOn()
{
    auto canvas = makeCanvas({box(QRectF(10, 10, 20, 20))});
    canvas->setCurrentClass(QStringLiteral("person"));
    canvas->enterSamMode();
    canvas->commitSamResult(); // no result yet
    QCOMPARE(canvas->undoStack()->count(), 0);

    click(canvas.get(), QPointF(150, 150));
    const QPolygonF traced{QPointF(100, 100), QPointF(200, 110), QPointF(180, 220)};
    canvas->setSamResultPolygon(traced);
    SignalLog log(canvas.get());
    canvas->commitSamResult();
    QCOMPARE(log.take(), (QStringList{QStringLiteral("changed"), QStringLiteral("selected 1"),
                                      QStringLiteral("added 1"), QStringLiteral("selected 1")}));
    const Annotation a = canvas->annotations().at(1);
    QCOMPARE(a.kind, int(Polygon));
    QCOMPARE(a.className, QStringLiteral("person"));
    QCOMPARE(a.points, QList<QPointF>(traced));
    QCOMPARE(a.bbox, QRectF(100, 100, 100, 120));
    QCOMPARE(canvas->selectedAnnotationIndex(), 1);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::SamPrompt));
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("SAM Segment"));

    QSignalSpy prompts(canvas.get(), &LabelCanvas::samPromptsChanged);
    click(canvas.get(), QPointF(400, 400));
    QCOMPARE(prompts.last().at(0).value<PointList>(), PointList{QPointF(400, 400)});

    // Undoing the segment keeps the canvas prompting.
    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().size(), 1);
    QVERIFY(canvas->isInSamMode());
}

void TestCanvasAssist::pendingResultsAreAcceptedInOneStep()
{
    auto canvas = makeCanvas({box(QRectF(10, 10, 20, 20))});
    canvas->acceptPendingAnnotations(); // nothing pending
    QCOMPARE(canvas->undoStack()->count(), 0);

    canvas->setPendingAnnotations({person(100), person(300)});
    QCOMPARE(canvas->annotations().size(), 1); // pending ones are not part of the list
    QCOMPARE(canvas->annotationAt(QPointF(100, 100)), -1);
    SignalLog log(canvas.get());
    canvas->acceptPendingAnnotations();
    QCOMPARE(log.take(), (QStringList{QStringLiteral("changed"), QStringLiteral("selected 2"),
                                      QStringLiteral("changed")}));
    QCOMPARE(canvas->annotations().size(), 3);
    QCOMPARE(canvas->selectedAnnotationIndex(), 2);
    QVERIFY(canvas->pendingAnnotationList().isEmpty());
    QCOMPARE(canvas->undoStack()->count(), 1);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("Pose Annotation"));
    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().size(), 1);

    canvas->setPendingAnnotations({person(100)});
    canvas->clearPendingAnnotations();
    canvas->acceptPendingAnnotations();
    QCOMPARE(canvas->annotations().size(), 1);
}

void TestCanvasAssist::eachDetectionIsAStep()
{
    auto canvas = makeCanvas();
    canvas->selectAnnotation(-1);
    QSignalSpy added(canvas.get(), &LabelCanvas::annotationAdded);
    for (int i = 0; i < 5; ++i) {
        Annotation detection = box(QRectF(50 * i, 10, 40, 40), QStringLiteral("car"));
        detection.confidence = 0.5f + 0.1f * i;
        canvas->addDetection(detection);
    }
    QCOMPARE(added.count(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(added.at(i).at(0).toInt(), i);
    QCOMPARE(canvas->undoStack()->count(), 5);
    QCOMPARE(canvas->undoStack()->undoText(), QStringLiteral("AI Detection"));
    QCOMPARE(canvas->annotations().at(4).confidence, 0.9f);
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
}

void TestCanvasAssist::previewsAndPendingAreDrawnUntilCleared()
{
    auto canvas = makeCanvas();
    canvas->setShowLabels(false);
    canvas->setPreviewPolygons({QPolygonF{QPointF(100, 100), QPointF(300, 100), QPointF(200, 300)}});
    canvas->setPendingAnnotations({person(500)});
    QImage img = grabbed(canvas.get());
    const QRgb preview = img.pixel(200, 160);
    QVERIFY(qRed(preview) > 70 && qGreen(preview) > 70 && qBlue(preview) < 60); // yellow tint
    QVERIFY(img.pixel(500, 100) != ImageGrey.rgb()); // the pending person's first keypoint
    canvas->enterSamMode();
    canvas->setSamResultPolygon(QPolygonF{QPointF(400, 300), QPointF(700, 300), QPointF(550, 500)});
    img = grabbed(canvas.get());
    const QRgb result = img.pixel(550, 380); // cyan tint of the SAM result
    QVERIFY(qBlue(result) > qRed(result) + 30 && qGreen(result) > qRed(result) + 20);
    QVERIFY(qGray(img.pixel(700, 590)) < qGray(ImageGrey.rgb())); // help bar

    canvas->clearPreviewPolygons();
    canvas->clearPendingAnnotations();
    canvas->exitSamMode();
    img = grabbed(canvas.get());
    QCOMPARE(img.pixel(200, 160), ImageGrey.rgb());
    QCOMPARE(img.pixel(500, 100), ImageGrey.rgb());
    QCOMPARE(img.pixel(550, 380), ImageGrey.rgb());
}

void TestCanvasAssist::anotherImageDropsAssistanceState()
{
    auto canvas = makeCanvas();
    canvas->enterSamMode();
    click(canvas.get(), QPointF(10, 10));
    canvas->setSamResultPolygon(QPolygonF{QPointF(1, 1), QPointF(50, 1), QPointF(20, 40)});
    canvas->setPendingAnnotations({person(100)});
    canvas->setPreviewPolygons({QPolygonF{QPointF(1, 1), QPointF(50, 1), QPointF(20, 40)}});
    canvas->setImage(entryWith(2));
    QVERIFY(!canvas->isInSamMode());
    QVERIFY(canvas->pendingAnnotationList().isEmpty());
    QVERIFY(canvas->previewPolygonList().isEmpty());
    canvas->enterSamMode();
    canvas->commitSamResult();
    QVERIFY(canvas->annotations().isEmpty());
}

QM_TEST_MAIN(TestCanvasAssist)
#include "tst_canvasassist.moc"
