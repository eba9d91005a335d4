#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

namespace Quillmark {

class JsonParser;

// What the JSON Lines formats that spell boxes as location tokens (Florence-2,
// PaliGemma) share: which annotations become boxes, how coordinates become
// tokens, and the record of one image, {"image", "prefix", "suffix"}.

// The box an annotation is written as: a bounding box as stored, a polygon or
// keypoint set as the bounds of its points, normalised either way. None for
// polylines, points, polygons without points and boxes without area.
std::optional<QRectF> locationBox(const Annotation &annotation);

// A coordinate already scaled to token units, rounded half away from zero and
// clamped to 0..maxToken.
int quantizeLocation(double value, int maxToken);

// The factors that take x and y coordinates to token units, for `steps`
// tokens across an image of width x height; with a size unknown (a side
// below 1), coordinates are taken as normalised already.
QPointF tokenScale(int width, int height, double steps);

// The corners of one box as its tokens give them, in token units.
struct TokenCorners {
    double x1;
    double y1;
    double x2;
    double y2;
};

// The bounding box those tokens stand for on an image of width x height, for
// `steps` tokens across (normalised; along a side of unknown size, below 1,
// in fractions of 1 rather than squashed into the image's corner).
Annotation tokenBoxAnnotation(const QString &label, const TokenCorners &corners, double steps, int width, int height);

// The annotations of an image that can be written as tokens, and the size to
// scale them by. The size is found out from the pixels when the entry does not
// know it; when it cannot be, the coordinates can only be normalised ones
// already, so only boxes within the unit square are kept (rather than pixel
// boxes written as clamped nonsense) and the size stays 0 x 0.
struct TokenAnnotations {
    QList<Annotation> annotations;
    QSize size;
};
TokenAnnotations tokenAnnotations(const ImageEntry &entry);

// Appends one record as compact JSON and a line end.
void appendLocationRecord(QByteArray &out, const QString &image, const QString &prefix, const QString &suffix);

// One record as read: "image", "prefix" and "suffix" as strings (empty when
// missing or of another type).
struct LocationRecord {
    QString image;
    QString prefix;
    QString suffix;
};

// Reads the record of one line (a line of JsonLineReader, so that it can be
// parsed in place). False when the line, trimmed, is blank or is not a JSON
// object with at least one member.
bool readLocationRecord(JsonParser &parser, QByteArrayView line, LocationRecord *record);

// How a format spells the boxes of one image, and reads them back, for an
// image of width x height (a size below 1 being unknown).
using SuffixBuilder = QString (*)(const QList<Annotation> &annotations, int width, int height);
using SuffixParser = QList<Annotation> (*)(const QString &suffix, int width, int height);

// Writes one record per image at `path` (folders made as needed), after
// progress(i + 1, n) for each: the image's export file name, the prefix, and
// the suffix of its token annotations. False when the file cannot be written;
// a file written earlier stays as it was.
bool writeLocationRecords(const QString &path, const Dataset &dataset, const QString &prefix, SuffixBuilder build,
                          const ProgressCallback &progress);

// The image entry of a record read from a file in `base`: its image found as
// resolveDatasetImagePath finds it, its size from the image file (0 x 0 when
// it is missing), and the boxes of its suffix.
ImageEntry locationRecordImage(const QDir &base, const LocationRecord &record, int id, SuffixParser parse);

// Whether `head` holds the key "prefix" with a string value that begins with
// `valueStart`, as in {"prefix": "<OD>"}.
bool hasPrefixValue(QByteArrayView head, QByteArrayView valueStart);

} // namespace Quillmark
