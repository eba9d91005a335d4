#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QPair>
#include <QRectF>
#include <QString>
#include <QWidget>

class QPainter;

namespace Quillmark {

// A translucent box in the top-right corner of the canvas that sums up the
// project: images and how many are labelled, annotations, videos with their
// annotated frames, and bars for the five most used classes. It never takes the
// mouse; the owner feeds it with setStats and calls reposition on resizes.
class StatsOverlay : public QWidget {
    Q_OBJECT

public:
    // The box is this wide unless its summary lines need more in the font it
    // draws them in; then it widens so no text is cut.
    static constexpr int FixedWidth = 234;
    static constexpr int MaxClassRows = 5;

    explicit StatsOverlay(QWidget *parent = nullptr);

    // Stores the figures, keeps the five classes with the most annotations, sizes
    // and places the box, and shows it exactly when there are images or videos.
    void setStats(int images, int labeled, int annotations, const QMap<QString, int> &classCounts,
                  const QMap<QString, QColor> &classColors, int videos, int annotatedFrames, int totalFrames);
    // Moves the box to the top-right corner of its parent.
    void reposition();

    // What the box shows.
    int labeledPercent() const;
    QString summaryText() const;
    QString videoText() const; // empty without videos
    QList<QPair<QString, int>> shownClasses() const { return topClasses; }
    // Where a class row's count is written, in the box's coordinates: as wide
    // as the widest count shown, right-aligned at the inner margin.
    QRectF countColumn(int rowTop) const;
    // The font of the class rows.
    QFont rowFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void paintClassRows(QPainter &painter, int top);
    // The font of the summary and video lines.
    QFont summaryFont() const;
    // Width of FixedWidth, or wider when a summary line or the class rows
    // need it.
    void fitWidth();
    // Width of the widest count of the class rows (at least the narrowest
    // column the box has ever had).
    int countWidth() const;
    // Length of the bar track of the class rows.
    int trackLength() const;

    int imageCount = 0;
    int labeledCount = 0;
    int annotationCount = 0;
    int videoCount = 0;
    int annotatedFrames = 0;
    int totalFrames = 0;
    QList<QPair<QString, int>> topClasses;
    QMap<QString, QColor> classColors;
};

} // namespace Quillmark
