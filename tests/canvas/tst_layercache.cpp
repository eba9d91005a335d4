// The canvas's cached pictures of thousands of annotations: a selection change
// or an edit redraws only the annotations near what changed, and the result is
// the same picture a fresh cache draws from scratch.

#include "QmTest.h"

#include "canvas/AnnotationFootprint.h"
#include "canvas/AnnotationLayerCache.h"
#include "canvas/AnnotationPainter.h"
#include "canvas/ClassTagCache.h"
#include "model/Dataset.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRandomGenerator>

#include <cmath>

using namespace Quillmark;

namespace {

const QSize ViewSize(800, 600);

Annotation roundPolygon(const QPointF &centre, double radius, int cls)
{
    Annotation a;
    a.kind = Polygon;
    a.className = QStringLiteral("class%1").arg(cls);
    for (int k = 0; k < 12; ++k) {
        const double angle = 2 * M_PI * k / 12;
        a.points.append(centre + QPointF(std::cos(angle), std::sin(angle)) * radius);
    }
    a.bbox = QPolygonF(a.points).boundingRect();
    return a;
}

// Small shapes all over a 4000 x 3000 image, one of every kind the canvas draws.
QList<Annotation> denseScene(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    QList<Annotation> labels;
    for (int i = 0; i < count; ++i) {
        const QPointF c(60 + rng.bounded(3880.0), 60 + rng.bounded(2880.0));
        if (i % 7 == 3) {
            Annotation b;
            b.kind = BoundingBox;
            b.className = QStringLiteral("class%1").arg(i % 5);
            b.bbox = QRectF(c, QSizeF(40 + rng.bounded(60.0), 30 + rng.bounded(60.0)));
            labels.append(b);
        } else if (i % 11 == 5) {
            Annotation k;
            k.kind = Keypoint;
            k.className = QStringLiteral("person");
            k.points = {c, c + QPointF(20, 30), c + QPointF(-15, 40)};
            k.keypointVis = {2, 1, 0};
            k.bbox = QRectF(c - QPointF(30, 10), QSizeF(70, 70));
            labels.append(k);
        } else {
            labels.append(roundPolygon(c, 15 + rng.bounded(30.0), i % 5));
        }
    }
    return labels;
}

struct Renderer {
    ViewTransform view{0.2f, QPointF(0, 0)};
    QFont font = QGuiApplication::font();
    QMap<QString, QColor> colors;
    ClassTagCache tags;

    Renderer()
    {
        for (int i = 0; i < 5; ++i)
            colors.insert(QStringLiteral("class%1").arg(i), classPalette[i]);
    }

    AnnotationLayerCache::Key key() const
    {
        AnnotationLayerCache::Key k;
        k.size = ViewSize;
        k.view = view;
        k.font = font;
        k.classColors = colors;
        return k;
    }

    void drawOne(QPainter &painter, const Annotation &a, bool selected)
    {
        AnnotationPainter shapes(painter, view, font, true, &tags);
        shapes.setViewport(QRectF(QPointF(0, 0), QSizeF(ViewSize)));
        const QColor color = colors.value(a.className, QColor(200, 200, 0));
        if (a.kind == BoundingBox)
            shapes.drawBox(a, color, selected);
        else if (a.kind == Polygon)
            shapes.drawPolygon(a, color, selected, {});
        else
            shapes.drawKeypoints(a, color, selected, {});
    }

    QImage render(AnnotationLayerCache &cache, const QList<Annotation> &labels, int selected)
    {
        const AnnotationFootprint footprints(view, font, true, &tags);
        AnnotationLayerCache::Painting painting;
        painting.draw = [this](QPainter &p, const Annotation &a) { drawOne(p, a, false); };
        painting.footprint = [&footprints](const Annotation &a, bool s) { return footprints.of(a, s); };
        QImage target(ViewSize, QImage::Format_RGB32);
        target.fill(QColor(40, 40, 40));
        QPainter painter(&target);
        painter.setRenderHint(QPainter::Antialiasing);
        cache.update(key(), labels, selected, false, painting);
        cache.paint(painter, view.offset, [&](QPainter &p) { drawOne(p, labels.at(selected), true); });
        return target;
    }

    QImage fresh(const QList<Annotation> &labels, int selected)
    {
        AnnotationLayerCache cache;
        return render(cache, labels, selected);
    }
};

// Shapes clipped to a redrawn rectangle may blend a unit differently from
// shapes drawn whole; a stale or missing shape differs by tens of units.
constexpr int RoundingTolerance = 3;

// Pixels that differ by more than `tolerance` in some channel.
int differingPixels(const QImage &a, const QImage &b, int tolerance)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *p = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *q = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int d = std::max({std::abs(qRed(p[x]) - qRed(q[x])), std::abs(qGreen(p[x]) - qGreen(q[x])),
                                    std::abs(qBlue(p[x]) - qBlue(q[x]))});
            count += d > tolerance ? 1 : 0;
        }
    }
    return count;
}

} // namespace

class TestLayerCache : public QObject {
    Q_OBJECT
private slots:
    void footprintsHoldEverythingDrawn();
    void selectionChangeRedrawsLittle();
    void everyChangeMatchesAFreshPicture();
};

void TestLayerCache::footprintsHoldEverythingDrawn()
{
    const QList<Annotation> labels = denseScene(400, 3);
    Renderer renderer;
    const AnnotationFootprint footprints(renderer.view, renderer.font, true, &renderer.tags);
    for (const bool selected : {false, true}) {
        for (const Annotation &a : labels) {
            QImage layer(ViewSize, QImage::Format_ARGB32_Premultiplied);
            layer.fill(Qt::transparent);
            {
                QPainter painter(&layer);
                painter.setRenderHint(QPainter::Antialiasing);
                renderer.drawOne(painter, a, selected);
            }
            QRect drawn;
            for (int y = 0; y < layer.height(); ++y) {
                const QRgb *line = reinterpret_cast<const QRgb *>(layer.constScanLine(y));
                for (int x = 0; x < layer.width(); ++x) {
                    if (qAlpha(line[x]))
                        drawn |= QRect(x, y, 1, 1);
                }
            }
            const QRect fp = footprints.of(a, selected).toAlignedRect();
            QVERIFY2(fp.contains(drawn) || drawn.isEmpty(),
                     qPrintable(QStringLiteral("kind %1 drawn %2,%3 %4x%5 footprint %6,%7 %8x%9")
                                    .arg(a.kind)
                                    .arg(drawn.x())
                                    .arg(drawn.y())
                                    .arg(drawn.width())
                                    .arg(drawn.height())
                                    .arg(fp.x())
                                    .arg(fp.y())
                                    .arg(fp.width())
                                    .arg(fp.height())));
        }
    }
}

void TestLayerCache::selectionChangeRedrawsLittle()
{
    const int n = 5000;
    const QList<Annotation> labels = denseScene(n, 11);
    Renderer renderer;
    AnnotationLayerCache cache;
    renderer.render(cache, labels, 10);
    const qint64 first = cache.drawnCount();
    QVERIFY(first >= n - 10); // everything, once

    // Clicking through annotations far apart: each click redraws only the
    // neighbourhoods of the old and the new selection.
    int worst = 0;
    for (const int selected : {2500, 4000, 77, 3333, 1200}) {
        const qint64 before = cache.drawnCount();
        const QImage shown = renderer.render(cache, labels, selected);
        worst = std::max(worst, int(cache.drawnCount() - before));
        QCOMPARE(differingPixels(shown, renderer.fresh(labels, selected), RoundingTolerance), 0);
    }
    QVERIFY2(worst < n / 20, qPrintable(QString::number(worst)));

    // A hover repaint with nothing changed draws nothing.
    const qint64 before = cache.drawnCount();
    renderer.render(cache, labels, 1200);
    QCOMPARE(cache.drawnCount(), before);
}

void TestLayerCache::everyChangeMatchesAFreshPicture()
{
    QList<Annotation> labels = denseScene(800, 5);
    Renderer renderer;
    AnnotationLayerCache cache;
    QRandomGenerator rng(99);
    int selected = 0;
    renderer.render(cache, labels, selected);
    const qint64 full = cache.drawnCount();
    for (int step = 0; step < 40; ++step) {
        const int op = int(rng.bounded(5));
        if (op == 0) {
            selected = int(rng.bounded(int(labels.size())));
        } else if (op == 1) {
            // The selected annotation dragged a little, as the canvas does.
            Annotation &a = labels[selected];
            const QPointF d(rng.bounded(200.0) - 100, rng.bounded(200.0) - 100);
            for (QPointF &p : a.points)
                p += d;
            a.bbox.translate(d);
        } else if (op == 2) {
            // An edit elsewhere (undo or redo of an older step).
            const int other = int(rng.bounded(int(labels.size())));
            labels[other].className = QStringLiteral("class%1").arg(rng.bounded(5));
        } else if (op == 3) {
            const int gone = int(rng.bounded(int(labels.size())));
            labels.removeAt(gone);
            selected = std::min(selected, int(labels.size()) - 1);
        } else {
            labels.append(roundPolygon(QPointF(rng.bounded(4000.0), rng.bounded(3000.0)), 40, 1));
            selected = int(labels.size()) - 1;
        }
        const QImage shown = renderer.render(cache, labels, selected);
        const QImage reference = renderer.fresh(labels, selected);
        QVERIFY2(differingPixels(shown, reference, RoundingTolerance) == 0,
                 qPrintable(QStringLiteral("step %1, operation %2").arg(step).arg(op)));
    }
    // Forty changes cost far less than forty full redraws.
    QVERIFY(cache.drawnCount() - full < 10 * full);
}

QM_TEST_MAIN(TestLayerCache)
#include "tst_layercache.moc"
