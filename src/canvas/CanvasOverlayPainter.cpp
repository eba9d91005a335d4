#include "canvas/CanvasOverlayPainter.h"

#include "canvas/KeypointStyle.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

QPen dashedPen(const QColor &color, double width)
{
    QPen pen(color, width);
    pen.setStyle(Qt::DashLine);
    return pen;
}

void drawCircle(QPainter &p, const QPointF &centre, double radius)
{
    p.drawEllipse(centre, radius, radius);
}

double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

CanvasOverlayPainter::CanvasOverlayPainter(QPainter &painter, const ViewTransform &view, const QSize &widgetSize,
                                           const QFont &baseFont)
    : painter(painter), view(view), size(widgetSize), baseFont(baseFont)
{
}

QFont CanvasOverlayPainter::sizedFont(double points, bool bold) const
{
    QFont f = baseFont;
    f.setPointSizeF(points);
    if (bold)
        f.setWeight(QFont::Bold);
    return f;
}

void CanvasOverlayPainter::drawPlaceholder(bool dark)
{
    painter.fillRect(QRect(QPoint(0, 0), size), QColor(dark ? "#1e1f28" : "#d7dde5"));
    // Body text on the page: it must read (as the unreadable picture's text does).
    painter.setPen(QColor(dark ? "#8a8ca0" : "#4f5d6c"));
    painter.setFont(sizedFont(11, false));
    // Wrapped within the canvas: at 1280 x 720 the canvas is narrower than
    // the longest line.
    painter.drawText(QRect(QPoint(0, 0), size).adjusted(16, 0, -16, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     placeholderText());
}

void CanvasOverlayPainter::drawUnreadablePicture(bool dark, const QString &fileName)
{
    painter.fillRect(QRect(QPoint(0, 0), size), QColor(dark ? "#1e1f28" : "#d7dde5"));
    painter.setPen(QColor(dark ? "#8a8ca0" : "#4f5d6c"));
    painter.setFont(sizedFont(11, false));
    painter.drawText(QRect(QPoint(0, 0), size).adjusted(16, 0, -16, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     unreadablePictureText(fileName));
}

QString CanvasOverlayPainter::unreadablePictureText(const QString &fileName)
{
    const QString name = fileName.isEmpty() ? QStringLiteral("This picture") : fileName;
    return QStringLiteral("%1 cannot be shown\n\n"
                          "The file is missing, cannot be read or is not a picture.\n"
                          "Nothing can be drawn on it.")
        .arg(name);
}

QString CanvasOverlayPainter::placeholderText()
{
    // What each input does, tool by tool, as the canvas handles it; lines
    // short enough for the canvas of a window on a 1280 x 720 screen.
    return QStringLiteral(
        "Open an image to start annotating\n\n"
        "B = BBox     P = Polygon     K = Keypoints     V = Select     Del = Delete\n\n"
        "BBox:  drag → draw a box\n"
        "Polygon:  click → add point   Ctrl+Z → remove last point   Esc → drop\n"
        "Enter / dbl-click / RClick / click on first point → close\n"
        "Keypoints:  click → place next point   Enter / dbl-click → finish\n"
        "RClick on a point of the selected set → cycle visibility\n"
        "Select:  click → select   drag → move   drag a handle → resize");
}

void CanvasOverlayPainter::drawRubberBand(const QRectF &imageRect, const QColor &color)
{
    painter.setPen(dashedPen(color, 1.5));
    painter.setBrush(withAlpha(color, 25));
    painter.drawRect(view.toScreen(imageRect));
}

int CanvasOverlayPainter::checklistFirstRow(int nameCount, int placedCount)
{
    const int rows = std::min(nameCount, ChecklistMaxRows);
    return std::max(0, std::min(std::max(placedCount - rows / 2, 0), nameCount - rows));
}

void CanvasOverlayPainter::drawKeypointChecklist(const QStringList &names, int placedCount, const QColor &classColor)
{
    const int v = names.size();
    const int u = placedCount;
    const int m = std::min(v, ChecklistMaxRows);
    const int first = checklistFirstRow(v, u);
    const QFont normal = sizedFont(8.5, false);
    const QFont bold = sizedFont(8.5, true);
    const QFontMetrics normalMetrics(normal);
    const QFontMetrics boldMetrics(bold);
    const int h = boldMetrics.height() + 5;

    int w = boldMetrics.horizontalAdvance(QStringLiteral("→  Right Shoulder")) + 4;
    for (int i = first; i < first + m; ++i)
        w = std::max(w, normalMetrics.horizontalAdvance(QStringLiteral("✓  ") + names.at(i)) + 4);

    const int x = size.width() - w - 42;
    const int y = size.height() / 2 - (m * h + 34) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(15, 15, 15, 170));
    painter.drawRoundedRect(QRectF(x, y, w + 34, m * h + 34), 8, 8);

    painter.setFont(sizedFont(7.5, true));
    painter.setPen(QColor(180, 180, 180));
    painter.drawText(QRectF(x + 10, y + 3, w + 14, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Keypoints  %1 / %2").arg(u).arg(v));

    for (int i = first; i < first + m; ++i) {
        const int rowTop = y + 24 + (i - first) * h;
        if (i == u) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 28));
            painter.drawRoundedRect(QRectF(x + 4, rowTop - 1, w + 26, boldMetrics.height() + 3), 4, 4);
        }
        QColor dotColor;
        if (v == KeypointStyle::BodyPointCount)
            dotColor = withAlpha(KeypointStyle::bodySideColor(i), i > u ? 80 : 255);
        else if (i < u)
            dotColor = QColor("#55c772");
        else if (i == u)
            dotColor = classColor;
        else
            dotColor = QColor(100, 100, 100, 80);
        painter.setPen(Qt::NoPen);
        painter.setBrush(dotColor);
        drawCircle(painter, QPointF(x + 14, rowTop + h / 2.0 - 3), 4);

        const QRectF textBox(x + 22, rowTop, w + 2, h);
        if (i < u) {
            painter.setFont(normal);
            painter.setPen(QColor(140, 220, 140));
            painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("✓  ") + names.at(i));
        } else if (i == u) {
            painter.setFont(bold);
            painter.setPen(Qt::white);
            painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("→  ") + names.at(i));
        } else {
            painter.setFont(normal);
            painter.setPen(QColor(120, 120, 120));
            painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("     ") + names.at(i));
        }
    }
}

void CanvasOverlayPainter::drawKeypointsInProgress(const KeypointsInProgress &set)
{
    const int u = set.placed.size();
    const int v = set.names.size();
    const QPolygonF screen = view.toScreen(set.placed);
    const QPointF cursor = view.toScreen(set.cursor);

    if (v == KeypointStyle::BodyPointCount) {
        for (const auto &[i, j] : KeypointStyle::bodyEdges()) {
            if (i >= u || j >= u)
                continue;
            painter.setPen(QPen(KeypointStyle::bodyEdgeColor(i, j), 1.8));
            painter.drawLine(screen.at(i), screen.at(j));
        }
    } else if (!set.edges.isEmpty()) {
        painter.setPen(QPen(set.classColor.lighter(160), 1.5));
        for (const auto &[i, j] : set.edges) {
            if (i >= 0 && j >= 0 && i < u && j < u)
                painter.drawLine(screen.at(i), screen.at(j));
        }
    } else {
        painter.setPen(QPen(set.classColor.lighter(150), 1.5));
        for (int i = 0; i + 1 < u; ++i)
            painter.drawLine(screen.at(i), screen.at(i + 1));
    }

    if (u > 0) {
        painter.setPen(dashedPen(set.classColor, 1.2));
        painter.drawLine(cursor, screen.last());
    }

    for (int i = 0; i < u; ++i) {
        painter.setPen(QPen(Qt::white, 1.2));
        painter.setBrush(v == KeypointStyle::BodyPointCount ? KeypointStyle::bodySideColor(i) : set.classColor);
        drawCircle(painter, screen.at(i), 5.5);
        const QString label = v > 0 ? (i < v ? set.names.at(i) : QString()) : QString::number(i + 1);
        drawPlacedKeypointLabel(screen.at(i), label);
    }

    const QColor cursorColor = v == KeypointStyle::BodyPointCount ? KeypointStyle::bodySideColor(u) : set.classColor;
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(withAlpha(cursorColor, 160));
    drawCircle(painter, cursor, 4.5);

    if (v > 0 && u < v)
        drawNextKeypointName(cursor, set.names.at(u));
}

void CanvasOverlayPainter::drawPlacedKeypointLabel(const QPointF &at, const QString &text)
{
    if (text.isEmpty())
        return;
    const QFont font = sizedFont(7.5, true);
    const QRectF textRect = QFontMetricsF(font).boundingRect(text);
    const double w = textRect.width() + 6;
    const double h = textRect.height() + 2;
    drawTextBox(QRectF(at.x() - w / 2, at.y() + 7, w, h), 150, font, text);
}

void CanvasOverlayPainter::drawNextKeypointName(const QPointF &cursor, const QString &name)
{
    const QFont font = sizedFont(7.5, true);
    const QFontMetricsF metrics(font);
    const double textWidth = metrics.horizontalAdvance(name);
    const double textHeight = metrics.height();
    drawTextBox(QRectF(cursor.x() + 10, cursor.y() - textHeight / 2 - 1, textWidth + 8, textHeight + 4), 160, font,
                name);
}

// White text centred in a rounded black box of the given opacity.
void CanvasOverlayPainter::drawTextBox(const QRectF &box, int alpha, const QFont &font, const QString &text)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, alpha));
    painter.drawRoundedRect(box, 3, 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void CanvasOverlayPainter::drawPolygonInProgress(const QList<QPointF> &placed, const QPointF &cursorImage,
                                                 const QColor &classColor)
{
    if (placed.isEmpty())
        return;
    const QPolygonF screen = view.toScreen(placed);
    const QPointF cursor = view.toScreen(cursorImage);

    QPolygonF outline = screen;
    outline.append(cursor);
    painter.setBrush(withAlpha(classColor, 30));
    painter.setPen(QPen(classColor, 1.5));
    painter.drawPolygon(outline, Qt::OddEvenFill);

    painter.setPen(dashedPen(classColor, 1.5));
    painter.drawLine(screen.last(), cursor);

    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(QColor("#4d9fff"));
    for (const QPointF &p : screen)
        painter.drawRect(QRectF(p.x() - 4, p.y() - 4, 8, 8));

    if (screen.size() > 2 && distance(cursor, screen.first()) < ClosingDistance) {
        painter.setPen(QPen(classColor, 2));
        painter.setBrush(Qt::white);
        drawCircle(painter, screen.first(), 7);
    }
}

void CanvasOverlayPainter::drawSamOverlay(const QPolygonF &result, const QList<QPointF> &positive,
                                          const QList<QPointF> &negative)
{
    if (!result.isEmpty()) {
        painter.setPen(QPen(QColor(0, 200, 255), 2));
        painter.setBrush(QColor(0, 200, 255, 45));
        painter.drawPolygon(view.toScreen(result), Qt::OddEvenFill);
    }
    const double arm = 3.5;
    for (const QPointF &p : negative) {
        const QPointF c = view.toScreen(p);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor("#ff4444"));
        drawCircle(painter, c, 7);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(c + QPointF(-arm, -arm), c + QPointF(arm, arm));
        painter.drawLine(c + QPointF(-arm, arm), c + QPointF(arm, -arm));
    }
    for (const QPointF &p : positive) {
        const QPointF c = view.toScreen(p);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor("#22cc44"));
        drawCircle(painter, c, 7);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(c + QPointF(-arm, 0), c + QPointF(arm, 0));
        painter.drawLine(c + QPointF(0, -arm), c + QPointF(0, arm));
    }
    const int w = size.width();
    const int h = size.height();
    painter.fillRect(QRect(0, h - 26, w, 26), QColor(0, 0, 0, 100));
    painter.setPen(QColor(255, 255, 255, 200));
    const QFont hintFont = sizedFont(8.5, false);
    painter.setFont(hintFont);
    const QString hint = QStringLiteral("SAM:  Left-click = positive   Right-click = negative   Esc = exit");
    painter.drawText(QRect(8, h - 24, w - 16, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(hintFont).elidedText(hint, Qt::ElideRight, std::max(0, w - 16)));
}

void CanvasOverlayPainter::drawPreviewPolygons(const QList<QPolygonF> &polygons)
{
    painter.setPen(QPen(QColor(255, 255, 80), 2));
    painter.setBrush(QColor(255, 255, 80, 55));
    for (const QPolygonF &polygon : polygons)
        painter.drawPolygon(view.toScreen(polygon), Qt::OddEvenFill);
}

void CanvasOverlayPainter::drawCrosshair(const QPointF &cursor, bool dark)
{
    QPen pen(QColor(255, 255, 255, dark ? 140 : 180), 1);
    pen.setDashPattern({6, 5});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QPointF(0, cursor.y()), QPointF(size.width(), cursor.y()));
    painter.drawLine(QPointF(cursor.x(), 0), QPointF(cursor.x(), size.height()));
}

} // namespace Quillmark
