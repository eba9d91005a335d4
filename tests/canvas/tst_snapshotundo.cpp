#include "QmTest.h"

#include "CanvasTestSupport.h"
#include "SignalLog.h"
#include "canvas/SnapshotCommand.h"

#include <QSignalSpy>
#include <QUndoStack>

using namespace Quillmark;
using namespace CanvasTest;

class TestSnapshotUndo : public QObject {
    Q_OBJECT
private slots:
    void fuzzyEquality_data();
    void fuzzyEquality();
    void annotationEqualityIgnoresConfidenceAndAttributes();
    void noStepWithoutARealChange();
    void pressWithoutMoveIsNoEdit_data();
    void pressWithoutMoveIsNoEdit();
    void editDuringADragFollowsItsOwnStep_data();
    void editDuringADragFollowsItsOwnStep();
    void undoClampsTheSelection();
    void deleteAndUndoRestoresWithoutSelection();
    void undoAndRedoKeysReplaySteps();
    void historyKeepsTheLatest200Steps();
    void historyBelongsToTheImageShown();
    void replacingTheListForgetsHistory();
};

void TestSnapshotUndo::fuzzyEquality_data()
{
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same") << 12.5 << 12.5 << true;
    QTest::newRow("relative 1e-13") << 1000.0 << 1000.0 * (1 + 1e-13) << true;
    QTest::newRow("relative 1e-9") << 1000.0 << 1000.0 * (1 + 1e-9) << false;
    QTest::newRow("zero and tiny") << 0.0 << 1e-13 << true;
    QTest::newRow("zero and small") << 0.0 << 1e-11 << false;
    QTest::newRow("opposite signs") << 1e-3 << -1e-3 << false;
}

void TestSnapshotUndo::fuzzyEquality()
{
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(bool, equal);
    QCOMPARE(SnapshotCommand::fuzzyEqual(a, b), equal);
    QCOMPARE(SnapshotCommand::fuzzyEqual(b, a), equal);
}

void TestSnapshotUndo::annotationEqualityIgnoresConfidenceAndAttributes()
{
    const Annotation base = keypoints({QPointF(1, 2), QPointF(3, 4)}, {2, 1});
    Annotation other = base;
    other.confidence = 0.3f;
    other.attributes.insert(QStringLiteral("occluded"), true);
    QVERIFY(SnapshotCommand::annotationsEqual(base, other));

    const QList<std::function<void(Annotation &)>> changes{
        [](Annotation &a) { a.id = 5; },
        [](Annotation &a) { a.className = QStringLiteral("Person"); },
        [](Annotation &a) { a.kind = Polygon; },
        [](Annotation &a) { a.bbox.setWidth(a.bbox.width() + 0.001); },
        [](Annotation &a) { a.points[1].ry() += 0.001; },
        [](Annotation &a) { a.points.append(QPointF(0, 0)); },
        [](Annotation &a) { a.keypointVis[1] = 0; },
    };
    for (const auto &change : changes) {
        Annotation changed = base;
        change(changed);
        QVERIFY(!SnapshotCommand::annotationsEqual(base, changed));
        QVERIFY(!SnapshotCommand::listsEqual({base}, {changed}));
    }
    const QList<Annotation> shared{base};
    QVERIFY(SnapshotCommand::listsEqual(shared, shared));
    QVERIFY(!SnapshotCommand::listsEqual(shared, {base, base}));

    // A change of confidence alone records no step.
    auto canvas = makeCanvas({base});
    canvas->pushSnapshot({other}, QStringLiteral("AI Detection"));
    QCOMPARE(canvas->undoStack()->count(), 0);
}

void TestSnapshotUndo::noStepWithoutARealChange()
{
    auto canvas = makeCanvas({box(QRectF(100, 100, 100, 100))});
    SignalLog log(canvas.get());
    click(canvas.get(), QPointF(150, 150));
    QCOMPARE(canvas->undoStack()->count(), 0);
    // Away and exactly back again.
    press(canvas.get(), QPointF(150, 150));
    move(canvas.get(), QPointF(250, 170), Qt::LeftButton);
    move(canvas.get(), QPointF(150, 150), Qt::LeftButton);
    release(canvas.get(), QPointF(150, 150));
    QCOMPARE(canvas->undoStack()->count(), 0);
    QVERIFY(!log.entries.contains(QStringLiteral("selected -1")));
}

void TestSnapshotUndo::pressWithoutMoveIsNoEdit_data()
{
    // A first click selects the shape; the second press grabs the part named
    // and comes up where it went down.
    QTest::addColumn<Annotation>("shape");
    QTest::addColumn<QPointF>("selectAt");
    QTest::addColumn<QPointF>("grab");
    const Annotation square = box(QRectF(100, 100, 100, 100));
    const Annotation triangle = polygon({QPointF(100, 100), QPointF(300, 100), QPointF(200, 250)});
    QTest::newRow("body of a box") << square << QPointF(150, 150) << QPointF(150, 150);
    QTest::newRow("corner handle of a box") << square << QPointF(150, 150) << QPointF(200, 200);
    QTest::newRow("body of a polygon") << triangle << QPointF(200, 150) << QPointF(200, 150);
    QTest::newRow("vertex of a polygon") << triangle << QPointF(200, 150) << QPointF(300, 100);
    QTest::newRow("keypoint of a set") << keypoints({QPointF(120, 120), QPointF(220, 180), QPointF(160, 260)})
                                       << QPointF(170, 190) << QPointF(220, 180);
}

void TestSnapshotUndo::pressWithoutMoveIsNoEdit()
{
    QFETCH(Annotation, shape);
    QFETCH(QPointF, selectAt);
    QFETCH(QPointF, grab);
    auto canvas = makeCanvas({shape});
    canvas->setKeypointSchema(schemaOf(3));
    click(canvas.get(), selectAt);
    QCOMPARE(canvas->selectedAnnotationIndex(), 0);
    SignalLog log(canvas.get());
    click(canvas.get(), grab);
    // The owner marks the project modified on "changed": a click is no edit.
    QVERIFY2(!log.entries.contains(QStringLiteral("changed")), qPrintable(log.entries.join(u',')));
    QCOMPARE(canvas->undoStack()->count(), 0);
    QCOMPARE(canvas->annotations(), QList<Annotation>{shape});
    QCOMPARE(canvas->selectedAnnotationIndex(), 0);
}

void TestSnapshotUndo::editDuringADragFollowsItsOwnStep_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("stepsAfter");
    QTest::addColumn<int>("boxesAfter");
    QTest::newRow("Delete key") << "delete key" << 2 << 0;
    QTest::newRow("Backspace key") << "backspace key" << 2 << 0;
    QTest::newRow("delete from the list") << "delete index" << 2 << 0;
    QTest::newRow("undo key") << "undo key" << 1 << 1;
    QTest::newRow("AI detection arriving") << "detection" << 2 << 2;
}

void TestSnapshotUndo::editDuringADragFollowsItsOwnStep()
{
    // The box is dragged from (100,100) to (200,200) and, with the button still
    // down, another edit comes: the drag is recorded first, so each step can
    // be taken back on its own and the starting place is never lost.
    QFETCH(QString, action);
    QFETCH(int, stepsAfter);
    QFETCH(int, boxesAfter);
    const Annotation start = box(QRectF(100, 100, 100, 100));
    const Annotation moved = box(QRectF(200, 200, 100, 100));
    auto canvas = makeCanvas({start});
    press(canvas.get(), QPointF(150, 150));
    move(canvas.get(), QPointF(200, 200), Qt::LeftButton);
    move(canvas.get(), QPointF(250, 250), Qt::LeftButton);
    QCOMPARE(canvas->annotations(), QList<Annotation>{moved});

    if (action == QLatin1String("delete key"))
        QTest::keyClick(canvas.get(), Qt::Key_Delete);
    else if (action == QLatin1String("backspace key"))
        QTest::keyClick(canvas.get(), Qt::Key_Backspace);
    else if (action == QLatin1String("delete index"))
        canvas->deleteAnnotation(0);
    else if (action == QLatin1String("undo key"))
        undoKey(canvas.get());
    else
        canvas->addDetection(box(QRectF(10, 10, 30, 30)));
    QCOMPARE(canvas->annotations().size(), boxesAfter);
    // The button comes up afterwards: nothing more is recorded.
    move(canvas.get(), QPointF(300, 300), Qt::LeftButton);
    release(canvas.get(), QPointF(300, 300));
    QCOMPARE(canvas->undoStack()->count(), stepsAfter);
    QCOMPARE(canvas->annotations().size(), boxesAfter);

    if (action == QLatin1String("undo key")) {
        QCOMPARE(canvas->annotations(), QList<Annotation>{start});
        canvas->redo();
        QCOMPARE(canvas->annotations(), QList<Annotation>{moved});
        return;
    }
    canvas->undo();
    QCOMPARE(canvas->annotations(), QList<Annotation>{moved});
    canvas->undo();
    QCOMPARE(canvas->annotations(), QList<Annotation>{start});
}

void TestSnapshotUndo::undoClampsTheSelection()
{
    auto canvas = makeCanvas({box(QRectF(10, 10, 20, 20)), box(QRectF(40, 10, 20, 20)), box(QRectF(70, 10, 20, 20))},
                             int(Tool::BBox));
    drag(canvas.get(), QPointF(200, 200), QPointF(300, 300));
    QCOMPARE(canvas->annotations().size(), 4);
    SignalLog log(canvas.get());
    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().size(), 3);
    QCOMPARE(canvas->selectedAnnotationIndex(), 2);
    QCOMPARE(log.take(), (QStringList{QStringLiteral("changed"), QStringLiteral("selected 2")}));
    canvas->undoStack()->redo();
    QCOMPARE(canvas->annotations().size(), 4);
    QCOMPARE(canvas->selectedAnnotationIndex(), 3);
}

void TestSnapshotUndo::deleteAndUndoRestoresWithoutSelection()
{
    const QList<Annotation> labels{box(QRectF(10, 10, 20, 20)), box(QRectF(100, 100, 50, 50))};
    auto canvas = makeCanvas(labels);
    click(canvas.get(), QPointF(120, 120));
    QTest::keyClick(canvas.get(), Qt::Key_Delete);
    QCOMPARE(canvas->annotations().size(), 1);
    canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations(), labels);
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
}

void TestSnapshotUndo::undoAndRedoKeysReplaySteps()
{
    auto canvas = makeCanvas({box(QRectF(100, 100, 100, 100))});
    const QList<Annotation> original = canvas->annotations();
    drag(canvas.get(), QPointF(150, 150), QPointF(170, 150));
    drag(canvas.get(), QPointF(170, 150), QPointF(170, 190));
    const QList<Annotation> moved = canvas->annotations();
    QCOMPARE(canvas->undoStack()->count(), 2);

    undoKey(canvas.get());
    undoKey(canvas.get());
    QCOMPARE(canvas->annotations(), original);
    undoKey(canvas.get()); // nothing left: no change
    QCOMPARE(canvas->annotations(), original);
    redoKey(canvas.get());
    redoKey(canvas.get());
    QCOMPARE(canvas->annotations(), moved);
    QCOMPARE(canvas->currentMode(), int(LabelCanvas::Idle));

    // A new edit after an undo drops the redo branch.
    undoKey(canvas.get());
    canvas->deleteAnnotation(0);
    QVERIFY(!canvas->undoStack()->canRedo());
    QCOMPARE(canvas->undoStack()->count(), 2);
}

void TestSnapshotUndo::historyKeepsTheLatest200Steps()
{
    auto canvas = makeCanvas();
    for (int i = 0; i < 201; ++i)
        canvas->addDetection(box(QRectF(i, i, 10, 10)));
    QCOMPARE(canvas->undoStack()->count(), 200);
    for (int i = 0; i < 201; ++i)
        canvas->undoStack()->undo();
    QCOMPARE(canvas->annotations().size(), 1);
    QCOMPARE(canvas->annotations().first().bbox, QRectF(0, 0, 10, 10));
}

void TestSnapshotUndo::historyBelongsToTheImageShown()
{
    auto canvas = makeCanvas({box(QRectF(100, 100, 100, 100))});
    canvas->deleteAnnotation(0);
    QVERIFY(canvas->undoStack()->canUndo());
    canvas->setImage(entryWith(2));
    QVERIFY(!canvas->undoStack()->canUndo());
    canvas->setImage(entryWith(1, {box(QRectF(5, 5, 10, 10))}));
    QVERIFY(!canvas->undoStack()->canUndo());
    canvas->addDetection(box(QRectF(50, 50, 10, 10)));
    canvas->clear();
    QVERIFY(!canvas->undoStack()->canUndo());
}

void TestSnapshotUndo::replacingTheListForgetsHistory()
{
    auto canvas = makeCanvas({box(QRectF(100, 100, 100, 100))});
    canvas->addDetection(box(QRectF(300, 300, 10, 10)));
    canvas->selectAnnotation(0);
    SignalLog log(canvas.get());
    const QList<Annotation> replaced{box(QRectF(0, 0, 800, 600), QStringLiteral("cat"))};
    canvas->setAnnotations(replaced);
    QCOMPARE(log.take(), QStringList{QStringLiteral("changed")});
    QCOMPARE(canvas->selectedAnnotationIndex(), -1);
    undoKey(canvas.get());
    QCOMPARE(canvas->annotations(), replaced);

    // A polygon begun before the replacement is recorded against the new list.
    auto drawing = makeCanvas({box(QRectF(10, 10, 20, 20))}, int(Tool::Polygon));
    click(drawing.get(), QPointF(100, 300));
    click(drawing.get(), QPointF(200, 300));
    drawing->setAnnotations(replaced);
    click(drawing.get(), QPointF(200, 400));
    QTest::keyClick(drawing.get(), Qt::Key_Return);
    QCOMPARE(drawing->annotations().size(), 2);
    drawing->undoStack()->undo();
    QCOMPARE(drawing->annotations(), replaced);
}

QM_TEST_MAIN(TestSnapshotUndo)
#include "tst_snapshotundo.moc"
