#pragma once

#include <QSet>
#include <QWidget>

namespace Quillmark {

// The frame slider of video mode: a painted track with a round handle, the part
// up to the handle filled, and green ticks at annotated frames. Only changes made
// by the user (mouse, marker jumps) emit valueChanged.
class VideoScrubber : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue)
public:
    explicit VideoScrubber(QWidget *parent = nullptr);

    int minimum() const { return min; }
    int maximum() const { return max; }
    int value() const { return current; }
    const QSet<int> &markers() const { return markerSet; }
    bool isDragging() const { return dragging; }

    void setRange(int minimum, int maximum);
    void setValue(int value);
    void setMarkers(const QSet<int> &markers);

    // Move to the nearest marker after (before) the value; false when there is none.
    bool jumpToNextMarker();
    bool jumpToPreviousMarker();

    // Track geometry: the x of a value and the value at an x.
    int xForValue(int value) const;
    int valueAt(int x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valueChanged(int value);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Usable track width; at least 1 so narrow widgets never divide by zero.
    int trackWidth() const;
    void moveTo(int value);

    int min = 0;
    int max = 0;
    int current = 0;
    bool dragging = false;
    QSet<int> markerSet;
};

} // namespace Quillmark
