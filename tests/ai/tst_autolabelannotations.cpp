// Engine results as annotations: boxes for detections, polygons for instances
// except in box-only projects.

#include "QmTest.h"

#include "ai/AutoLabelAnnotations.h"

using namespace Quillmark;

class TestAutoLabelAnnotations : public QObject {
    Q_OBJECT

private slots:
    void boxOnlyProjectTypes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("boxOnly");
        QTest::newRow("no type yet") << QString() << true;
        QTest::newRow("object_detection") << "object_detection" << true;
        QTest::newRow("classification") << "classification" << true;
        QTest::newRow("segmentation") << "segmentation" << false;
        QTest::newRow("semantic_segmentation") << "semantic_segmentation" << false;
        QTest::newRow("pose") << "pose" << false;
        QTest::newRow("face") << "face" << false;
    }

    void boxOnlyProjectTypes()
    {
        QFETCH(QString, type);
        QFETCH(bool, boxOnly);
        QCOMPARE(isBoxOnlyProjectType(type), boxOnly);
    }

    void detectionBecomesABox()
    {
        Detection d;
        d.classId = 3;
        d.className = QStringLiteral("motorcycle");
        d.score = 0.625f;
        d.box = QRectF(10.5, 20, 30, 40.25);
        Annotation expected;
        expected.className = QStringLiteral("motorcycle");
        expected.kind = BoundingBox;
        expected.bbox = d.box;
        expected.confidence = 0.625f;
        QCOMPARE(detectionAnnotation(d), expected);
        QCOMPARE(detectionAnnotations({d, d}).size(), 2);
    }

    // An instance keeps the detection's box, not its outline's bounds; an empty
    // outline still gives a polygon; box-only projects drop the outline.
    void instanceBecomesAPolygonOrABox()
    {
        SegDetection s;
        s.className = QStringLiteral("blob");
        s.score = 0.9f;
        s.box = QRectF(0, 0, 100, 50);
        s.polygon = {{10, 10}, {60, 10}, {60, 40}};

        const Annotation polygon = segmentationAnnotation(s, false);
        QCOMPARE(polygon.kind, int(Polygon));
        QCOMPARE(polygon.bbox, QRectF(0, 0, 100, 50));
        QCOMPARE(polygon.points, s.polygon);
        QCOMPARE(polygon.confidence, 0.9f);
        QCOMPARE(polygon.className, QStringLiteral("blob"));
        QCOMPARE(polygon.id, -1);
        QVERIFY(polygon.keypointVis.isEmpty() && polygon.attributes.isEmpty());

        const Annotation box = segmentationAnnotation(s, true);
        QCOMPARE(box.kind, int(BoundingBox));
        QCOMPARE(box.bbox, QRectF(0, 0, 100, 50));
        QVERIFY(box.points.isEmpty());

        s.polygon.clear();
        const Annotation empty = segmentationAnnotation(s, false);
        QCOMPARE(empty.kind, int(Polygon));
        QVERIFY(empty.points.isEmpty());

        const QList<Annotation> list = segmentationAnnotations({s, s, s}, true);
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(2).kind, int(BoundingBox));
    }
};

QM_TEST_MAIN(TestAutoLabelAnnotations)
#include "tst_autolabelannotations.moc"
