#include "chrome/HintBubble.h"

#include <QGraphicsColorizeEffect>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace Quillmark {

namespace {

void fade(QWidget *bubble, QGraphicsOpacityEffect *effect, qreal from, qreal to, int ms,
          std::function<void()> done = {})
{
    auto *animation = new QPropertyAnimation(effect, "opacity", bubble);
    animation->setDuration(ms);
    animation->setStartValue(from);
    animation->setEndValue(to);
    if (done)
        QObject::connect(animation, &QPropertyAnimation::finished, bubble, done);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

HintBubble::HintBubble(QWidget *anchor, const QString &message, const QString &keyCap,
                       const QString &keyCapStyle)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 16, 14, 9);
    layout->setSpacing(9);
    auto *text = new QLabel(message, this);
    text->setStyleSheet(QStringLiteral("color:#ffffff; font-size:12px; font-weight:600;"));
    auto *cap = new QLabel(keyCap, this);
    cap->setStyleSheet(keyCapStyle);
    layout->addWidget(text);
    layout->addWidget(cap);
    adjustSize();

    if (anchor)
        placeUnder(anchor);

    auto *opacity = new QGraphicsOpacityEffect(this);
    opacity->setOpacity(0.0);
    setGraphicsEffect(opacity);
    show();
    fade(this, opacity, 0.0, 1.0, 200);

    QTimer::singleShot(3500, this, [this, opacity] {
        fade(this, opacity, 1.0, 0.0, 300, [this] { close(); });
    });
}

void HintBubble::placeUnder(QWidget *anchor)
{
    // Centred under the anchor, but never past the edge of the anchor's
    // screen: near an edge the bubble slides along it and its arrow still
    // points at the anchor.
    const QPoint tip = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height() + 3));
    QRect placed(QPoint(tip.x() - width() / 2, tip.y()), size());
    const QScreen *screen = QGuiApplication::screenAt(tip);
    if (!screen)
        screen = anchor->screen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        if (placed.right() > available.right())
            placed.moveRight(available.right());
        if (placed.left() < available.left())
            placed.moveLeft(available.left());
        if (placed.bottom() > available.bottom())
            placed.moveBottom(available.bottom());
    }
    move(placed.topLeft());
    // The arrow keeps clear of the rounded corners.
    const int lowest = arrowHalfWidth + 8;
    arrowX = std::clamp(tip.x() - placed.left(), lowest, std::max(lowest, width() - lowest - 1));
}

void HintBubble::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(65, 65, 95), 1));
    painter.setBrush(QColor(20, 20, 38, 238));
    const int w = width();
    const int h = height();
    const int a = arrowX < 0 ? w / 2 : arrowX;
    QPainterPath path;
    path.moveTo(a, 0);
    path.lineTo(a + arrowHalfWidth, 7);
    path.lineTo(a - arrowHalfWidth, 7);
    path.closeSubpath();
    path.addRoundedRect(QRectF(0, 7, w - 1, h - 8), 8, 8);
    painter.drawPath(path);
}

void pulseWidget(QWidget *target, QObject *owner)
{
    if (!target)
        return;
    target->setGraphicsEffect(nullptr);
    auto *effect = new QGraphicsColorizeEffect(target);
    effect->setColor(QColor(QStringLiteral("#F97316")));
    effect->setStrength(0.0);
    target->setGraphicsEffect(effect);

    auto *animation = new QPropertyAnimation(effect, "strength", owner);
    animation->setDuration(600);
    animation->setStartValue(0.0);
    animation->setKeyValueAt(0.5, 1.0);
    animation->setEndValue(0.0);
    animation->setLoopCount(4);
    QPointer<QWidget> guardedTarget(target);
    QPointer<QGraphicsColorizeEffect> guardedEffect(effect);
    QObject::connect(animation, &QPropertyAnimation::finished, owner, [guardedTarget, guardedEffect] {
        // Only remove our own effect: a later pulse may have replaced it.
        if (guardedTarget && guardedEffect && guardedTarget->graphicsEffect() == guardedEffect)
            guardedTarget->setGraphicsEffect(nullptr);
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace Quillmark
