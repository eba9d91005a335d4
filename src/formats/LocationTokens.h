#pragma once

#include "model/ImageEntry.h"

#include <QByteArray>
#include <QByteArrayView>
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

// Whether `head` holds the key "prefix" with a string value that begins with
// `valueStart`, as in {"prefix": "<OD>"}.
bool hasPrefixValue(QByteArrayView head, QByteArrayView valueStart);

} // namespace Quillmark
