#include "canvas/StatsOverlay.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace Quillmark {

StatsOverlay::StatsOverlay(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFixedWidth(FixedWidth);
    hide();
}

void StatsOverlay::setStats(int images, int labeled, int annotations, const QMap<QString, int> &classCounts,
                            const QMap<QString, QColor> &colors, int videos, int frames, int allFrames)
{
    imageCount = images;
    labeledCount = labeled;
    annotationCount = annotations;
    videoCount = videos;
    annotatedFrames = frames;
    totalFrames = allFrames;
    classColors = colors;

    topClasses.clear();
    for (auto it = classCounts.constBegin(); it != classCounts.constEnd(); ++it)
        topClasses.append({it.key(), it.value()});
    // Stable, so classes of equal count stay in name order.
    std::stable_sort(topClasses.begin(), topClasses.end(),
                     [](const auto &a, const auto &b) { return a.second > b.second; });
    if (topClasses.size() > MaxClassRows)
        topClasses.resize(MaxClassRows);

    const int body = topClasses.isEmpty() ? 65 : int(topClasses.size()) * 18 + 77;
    setFixedHeight(11 + body - (videoCount <= 0 ? 15 : 0));
    fitWidth();
    setVisible(imageCount > 0 || videoCount > 0);
    update();
}

QFont StatsOverlay::summaryFont() const
{
    QFont summary = font();
    summary.setPointSizeF(8.5);
    summary.setWeight(QFont::DemiBold);
    return summary;
}

QFont StatsOverlay::rowFont() const
{
    QFont rows = font();
    rows.setPointSizeF(8.5);
    return rows;
}

namespace {

// The class rows: swatch and name up to x 104, then the bar track, a gap, the
// count column and the right margin.
constexpr int TrackLeft = 104;
constexpr int CountGap = 4;
constexpr int RightMargin = 12;
constexpr int MinCountWidth = 28;
constexpr int MinTrack = 60;

} // namespace

int StatsOverlay::countWidth() const
{
    const QFontMetrics metrics(rowFont());
    int widest = MinCountWidth;
    for (const auto &row : topClasses)
        widest = std::max(widest, metrics.horizontalAdvance(QString::number(row.second)) + 1);
    return widest;
}

int StatsOverlay::trackLength() const
{
    return width() - TrackLeft - CountGap - countWidth() - RightMargin;
}

QRectF StatsOverlay::countColumn(int rowTop) const
{
    const int columnWidth = countWidth();
    return QRectF(width() - RightMargin - columnWidth, rowTop, columnWidth, 15);
}

void StatsOverlay::fitWidth()
{
    const QFontMetrics metrics(summaryFont());
    const int text = std::max(metrics.horizontalAdvance(summaryText()), metrics.horizontalAdvance(videoText()));
    // 12 pixels of margin on either side, as the lines are drawn from x 12.
    const int rows = TrackLeft + MinTrack + CountGap + countWidth() + RightMargin;
    setFixedWidth(std::max({int(FixedWidth), text + 24, rows}));
    reposition();
}

void StatsOverlay::changeEvent(QEvent *event)
{
    // The window's style sheet sets the font when the box is first polished.
    if (event->type() == QEvent::FontChange)
        fitWidth();
    QWidget::changeEvent(event);
}

void StatsOverlay::reposition()
{
    if (QWidget *p = parentWidget())
        move(p->width() - width() - 10, 10);
}

int StatsOverlay::labeledPercent() const
{
    if (imageCount <= 0)
        return 0;
    return int(qint64(labeledCount) * 100 / imageCount);
}

QString StatsOverlay::summaryText() const
{
    if (imageCount > 0)
        return QStringLiteral("%1 images  ·  %2% labeled  ·  %3 ann")
            .arg(imageCount)
            .arg(labeledPercent())
            .arg(annotationCount);
    return QStringLiteral("%1 ann").arg(annotationCount);
}

QString StatsOverlay::videoText() const
{
    if (videoCount <= 0)
        return {};
    return QStringLiteral("%1 video%2  ·  %3 / %4 frames")
        .arg(videoCount)
        .arg(videoCount > 1 ? QStringLiteral("s") : QString())
        .arg(annotatedFrames)
        .arg(totalFrames);
}

void StatsOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();

    painter.setPen(QPen(QColor(255, 255, 255, 22), 1));
    painter.setBrush(QColor(14, 14, 28, 210));
    painter.drawRoundedRect(QRectF(0, 0, w - 1, height() - 1), 10, 10);

    QFont title = font();
    title.setPointSizeF(7);
    title.setWeight(QFont::Medium);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    painter.setFont(title);
    painter.setPen(QColor(155, 155, 185));
    painter.drawText(QPointF(12, QFontMetrics(title).ascent() + 11), QStringLiteral("DATASET"));

    const int p = labeledPercent();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 22));
    painter.drawRoundedRect(QRectF(12, 28, w - 24, 5), 2.5, 2.5);
    if (p > 0) {
        painter.setBrush(QColor(16, 185, 129));
        painter.drawRoundedRect(QRectF(12, 28, std::max(5, (w - 24) * p / 100), 5), 2.5, 2.5);
    }

    const QFont summary = summaryFont();
    painter.setFont(summary);
    painter.setPen(QColor(228, 228, 242));
    const int ascent = QFontMetrics(summary).ascent();
    painter.drawText(QPointF(12, ascent + 38), summaryText());

    int y = 50;
    if (videoCount > 0) {
        painter.drawText(QPointF(12, ascent + 53), videoText());
        y = 65;
    }
    if (!topClasses.isEmpty())
        paintClassRows(painter, y);
}

void StatsOverlay::paintClassRows(QPainter &painter, int y)
{
    const int w = width();
    painter.setPen(QPen(QColor(255, 255, 255, 28), 1));
    painter.drawLine(QPointF(12, y + 8), QPointF(w - 12, y + 8));

    const QFont rows = rowFont();
    painter.setFont(rows);
    const QFontMetrics metrics(rows);
    const int largest = topClasses.first().second;
    const int track = trackLength();
    int r = y + 15;
    for (const auto &[name, count] : topClasses) {
        const QColor c = classColors.value(name, QColor(150, 150, 160));
        painter.setPen(Qt::NoPen);
        painter.setBrush(c);
        painter.drawRoundedRect(QRectF(12, r + 3, 8, 8), 2, 2);

        painter.setPen(QColor(218, 218, 235));
        painter.drawText(QPointF(25, r + metrics.ascent()), metrics.elidedText(name, Qt::ElideRight, 74));

        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 18));
        painter.drawRoundedRect(QRectF(TrackLeft, r + 5, track, 4), 2, 2);
        if (largest > 0) {
            QColor bar = c;
            bar.setAlpha(200);
            painter.setBrush(bar);
            const int barWidth = std::max(4, int(qint64(count) * track / largest));
            painter.drawRoundedRect(QRectF(TrackLeft, r + 5, barWidth, 4), 2, 2);
        }

        painter.setPen(QColor(175, 175, 200));
        painter.drawText(countColumn(r), Qt::AlignRight | Qt::AlignVCenter, QString::number(count));
        r += 18;
    }
}

} // namespace Quillmark
