#pragma once

#include <QImage>
#include <QList>
#include <QPointF>

#include <span>

namespace Quillmark {

// Outer boundary of the first foreground region (bytes above 128, regions found
// in row-major order) of an 8-bit mask, traced clockwise pixel by pixel from its
// top-left pixel and thinned with simplifyClosedPolygon. Points are the pixels'
// integer coordinates. Holes and further regions are ignored; a region of fewer
// than 3 boundary pixels gives an empty list. Masks of other depths are
// converted to Grayscale8 first.
QList<QPointF> maskToPolygon(const QImage &mask, double epsilon);

// The area enclosed by a closed outline (shoelace formula), in square units of
// its points; 0 for fewer than three points or an outline along one line.
double enclosedArea(const QList<QPointF> &points);

// Ramer-Douglas-Peucker thinning of a traced chain: the first and last points
// stay, and a point is kept when it lies at least epsilon from its chord.
QList<QPointF> simplifyClosedPolygon(const QList<QPointF> &points, double epsilon);

// Coarse outline of a detector's mask: the ends of each row's run of cells above
// 0.5 within columns x0..x1-1 and rows y0..y1-1, the left ends top to bottom then
// the right ends bottom to top, each mapped from mask cells (cellWidth x
// cellHeight model pixels, 4 x 4 in YOLO-style models) back through the letterbox
// (scale, padX, padY), clamped to the picture and thinned by simplifyPolygon with
// tolerance 2. Cell (r, c) is mask[r * stride + c]; cells beyond the end of
// `mask` are never read.
QList<QPointF> maskRowsToPolygon(std::span<const float> mask, int stride, int x0, int y0, int x1, int y1, float scale,
                                 int padX, int padY, int imageWidth, int imageHeight, float cellWidth = 4.0f,
                                 float cellHeight = 4.0f);

// Ramer-Douglas-Peucker thinning of an open point list: the first and last points
// stay, and a point is kept when it lies strictly more than epsilon from its
// chord.
QList<QPointF> simplifyPolygon(const QList<QPointF> &points, double epsilon);

} // namespace Quillmark
