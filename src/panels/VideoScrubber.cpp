#include "panels/VideoScrubber.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace Quillmark {

namespace {

constexpr int trackInset = 8;  // the track runs from x = 8 to width - 8
constexpr int snapDistance = 6;

} // namespace

VideoScrubber::VideoScrubber(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_MouseTracking);
    setCursor(Qt::PointingHandCursor);
}

QSize VideoScrubber::sizeHint() const
{
    return {200, 22};
}

QSize VideoScrubber::minimumSizeHint() const
{
    return {60, 22};
}

int VideoScrubber::trackWidth() const
{
    return qMax(1, width() - 2 * trackInset);
}

int VideoScrubber::xForValue(int v) const
{
    if (min == max)
        return trackInset;
    // A marker may lie outside the range (a frame past the end of a shorter
    // video): it sits at the nearer end of the track, never off the int range.
    const double t = (double(std::clamp(v, min, max)) - min) / (double(max) - min);
    return int(t * trackWidth()) + trackInset;
}

int VideoScrubber::valueAt(int x) const
{
    if (min == max)
        return min;
    const qint64 span = qint64(max) - min;
    const double t = span * (double(x - trackInset) / trackWidth()) + 0.5;
    // Clamp in floating point first so a far-off x cannot overflow the int cast.
    const double clamped = std::clamp(t, 0.0, double(span));
    return int(min + qint64(clamped));
}

void VideoScrubber::setRange(int minimum, int maximum)
{
    min = minimum;
    max = qMax(minimum, maximum);
    current = std::clamp(current, min, max);
    update();
}

void VideoScrubber::setValue(int v)
{
    v = std::clamp(v, min, max);
    if (v == current)
        return;
    current = v;
    update();
}

void VideoScrubber::setMarkers(const QSet<int> &markers)
{
    markerSet = markers;
    update();
}

void VideoScrubber::moveTo(int v)
{
    current = v;
    update();
    emit valueChanged(v);
}

bool VideoScrubber::jumpToNextMarker()
{
    int target = std::numeric_limits<int>::max();
    bool found = false;
    for (int m : markerSet) {
        if (m > current && m <= max && m < target) {
            target = m;
            found = true;
        }
    }
    if (!found)
        return false;
    moveTo(target);
    return true;
}

bool VideoScrubber::jumpToPreviousMarker()
{
    int target = -1;
    for (int m : markerSet) {
        if (m >= 0 && m < current && m > target)
            target = m;
    }
    if (target < 0)
        return false;
    moveTo(target);
    return true;
}

void VideoScrubber::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    dragging = true;
    const int x = event->position().toPoint().x();
    // Ticks snap within 6 pixels; a tick of a marker outside the range stands
    // at the range's end, and snapping to it moves there.
    int target = valueAt(x);
    int bestDistance = snapDistance + 1;
    for (int m : markerSet) {
        const int distance = std::abs(xForValue(m) - x);
        if (distance <= snapDistance && distance < bestDistance) {
            target = std::clamp(m, min, max);
            bestDistance = distance;
        }
    }
    if (target != current)
        moveTo(target);
    event->accept();
}

void VideoScrubber::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging) {
        event->ignore();
        return;
    }
    const int target = valueAt(event->position().toPoint().x());
    if (target != current)
        moveTo(target);
    event->accept();
}

void VideoScrubber::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    update();
    event->accept();
}

void VideoScrubber::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const QRectF track(trackInset, height() / 2 + 2, trackWidth(), 4);
    const double cy = track.center().y();
    const int handleX = xForValue(current);
    const bool hasRange = min < max;

    if (hasRange && !markerSet.isEmpty()) {
        painter.setBrush(QColor(16, 185, 129, 220));
        // A long video can carry far more annotated frames than the track has
        // pixels: each tick position is drawn once, and ticks off the widget not
        // at all, so painting stays cheap whatever the number of markers. A
        // marker outside the range stands at the nearer end, where it snaps.
        std::vector<bool> drawn(size_t(qMax(0, width())) + 3, false);
        for (int m : markerSet) {
            const double t = (double(std::clamp(m, min, max)) - min) / (double(max) - min);
            const double tickX = std::trunc(t * trackWidth()) + trackInset - 1;
            if (tickX < -2 || tickX > width())
                continue;
            const int x = int(tickX);
            if (drawn[size_t(x + 2)])
                continue;
            drawn[size_t(x + 2)] = true;
            painter.drawRoundedRect(QRectF(x, cy - 11, 2, 7), 1.0, 1.0);
        }
    }

    painter.setBrush(QColor(200, 200, 210, 80));
    painter.drawRoundedRect(track, 2, 2);

    if (hasRange && min < current) {
        QRectF filled = track;
        filled.setRight(handleX);
        painter.setBrush(QColor(99, 102, 241, 200));
        painter.drawRoundedRect(filled, 2, 2);
    }

    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QPointF(handleX, cy + 1), 6, 6);
    painter.setBrush(dragging ? QColor(129, 132, 255) : QColor(99, 102, 241));
    painter.drawEllipse(QPointF(handleX, cy), 6, 6);
    painter.setBrush(QColor(255, 255, 255, 80));
    painter.drawEllipse(QPointF(handleX - 1, cy - 1), 3, 3);
}

} // namespace Quillmark
