#pragma once

// Shared fixture pieces for the canvas tests: a shown 800 x 600 canvas whose
// image is drawn at scale 1 with no offset (screen point == image point), and
// mouse, wheel and key helpers that deliver events straight to the widget.

#include "canvas/LabelCanvas.h"
#include "canvas/Tool.h"

#include <QApplication>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointingDevice>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace CanvasTest {

using namespace Quillmark;

inline const QColor ImageGrey(40, 40, 40);

inline QImage solidImage(int w, int h, const QColor &color = ImageGrey)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

inline ImageEntry entryWith(int id, const QList<Annotation> &labels = {}, int w = 800, int h = 600)
{
    ImageEntry e;
    e.id = id;
    e.filePath = QStringLiteral("memory.png");
    e.width = w;
    e.height = h;
    e.labels = labels;
    e.image = solidImage(w, h);
    return e;
}

inline Annotation box(const QRectF &r, const QString &cls = QStringLiteral("object"))
{
    Annotation a;
    a.className = cls;
    a.kind = BoundingBox;
    a.bbox = r;
    return a;
}

inline Annotation polygon(const QList<QPointF> &pts, const QString &cls = QStringLiteral("object"))
{
    Annotation a;
    a.className = cls;
    a.kind = Polygon;
    a.points = pts;
    a.bbox = QPolygonF(pts).boundingRect();
    return a;
}

inline Annotation keypoints(const QList<QPointF> &pts, const QList<int> &vis = {},
                            const QString &cls = QStringLiteral("person"))
{
    Annotation a;
    a.className = cls;
    a.kind = Keypoint;
    a.points = pts;
    a.keypointVis = vis;
    a.bbox = QPolygonF(pts).boundingRect();
    return a;
}

// A schema of `count` keypoints named kp0, kp1, ... on the class "person".
inline KeypointSchema schemaOf(int count)
{
    KeypointSchema schema;
    schema.objectClass = QStringLiteral("person");
    for (int i = 0; i < count; ++i)
        schema.keypointNames << QStringLiteral("kp%1").arg(i);
    return schema;
}

// A shown canvas at 800 x 600 with class colours set (so the class gate is open),
// displaying `labels` on an 800 x 600 grey image at scale 1, offset 0.
inline std::unique_ptr<LabelCanvas> makeCanvas(const QList<Annotation> &labels = {}, int tool = int(Tool::Select))
{
    auto canvas = std::make_unique<LabelCanvas>();
    canvas->resize(800, 600);
    canvas->show();
    if (!QTest::qWaitForWindowExposed(canvas.get()))
        qWarning("canvas not exposed");
    canvas->setClassColors({{QStringLiteral("object"), QColor(255, 0, 0)},
                            {QStringLiteral("person"), QColor(0, 0, 255)}});
    canvas->setImage(entryWith(1, labels));
    canvas->zoomActualSize();
    canvas->setTool(tool);
    return canvas;
}

inline void sendMouse(QWidget *w, QEvent::Type type, const QPointF &pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier,
                      QPointingDevice::primaryPointingDevice());
    QApplication::sendEvent(w, &event);
}

inline void press(QWidget *w, const QPointF &pos, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(w, QEvent::MouseButtonPress, pos, button, button);
}

inline void release(QWidget *w, const QPointF &pos, Qt::MouseButton button = Qt::LeftButton,
                    Qt::MouseButtons stillDown = Qt::NoButton)
{
    sendMouse(w, QEvent::MouseButtonRelease, pos, button, stillDown);
}

inline void move(QWidget *w, const QPointF &pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    sendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, buttons);
}

inline void click(QWidget *w, const QPointF &pos, Qt::MouseButton button = Qt::LeftButton)
{
    press(w, pos, button);
    release(w, pos, button);
}

// The events a widget receives for a double click: press, release, double
// click (in place of the second press), release.
inline void doubleClick(QWidget *w, const QPointF &pos)
{
    press(w, pos);
    release(w, pos);
    sendMouse(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
    release(w, pos);
}

inline void drag(QWidget *w, const QPointF &from, const QPointF &to, int steps = 4)
{
    press(w, from);
    for (int i = 1; i <= steps; ++i)
        move(w, from + (to - from) * (double(i) / steps), Qt::LeftButton);
    release(w, to);
}

inline bool wheel(QWidget *w, const QPointF &pos, const QPoint &angleDelta)
{
    QWheelEvent event(pos, w->mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
    return event.isAccepted();
}

inline void keyCombination(QWidget *w, QKeySequence::StandardKey standard)
{
    const QList<QKeySequence> bindings = QKeySequence::keyBindings(standard);
    QVERIFY(!bindings.isEmpty());
    const QKeyCombination combo = bindings.first()[0];
    QTest::keyClick(w, combo.key(), combo.keyboardModifiers());
}

inline void undoKey(QWidget *w) { keyCombination(w, QKeySequence::Undo); }
inline void redoKey(QWidget *w) { keyCombination(w, QKeySequence::Redo); }

inline QImage grabbed(QWidget *w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// True when the pixel has a clearly larger `channel` (0 red, 1 green, 2 blue)
// than the other two.
inline bool dominated(QRgb px, int channel, int margin = 40)
{
    const int c[3] = {qRed(px), qGreen(px), qBlue(px)};
    for (int i = 0; i < 3; ++i) {
        if (i != channel && c[channel] < c[i] + margin)
            return false;
    }
    return true;
}

} // namespace CanvasTest
