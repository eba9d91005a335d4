#pragma once

#include "model/FunctionRef.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

namespace Quillmark {

// Helpers for reading dataset files, which are treated as hostile: every size
// is bounded, every number checked, and wrong types fall back to defaults.

// Upper bounds on what a reader loads into memory at once.
inline constexpr qint64 kMaxTextFileBytes = 64LL * 1024 * 1024;        // label files, yaml, XML per image
inline constexpr qint64 kMaxDocumentFileBytes = 4LL * 1024 * 1024 * 1024; // one-file datasets (COCO JSON)
// What a detection rule may read of one file: a format shows itself in the
// first few MiB of its files or not at all, and detection must not keep a
// window waiting on a large file of another kind.
inline constexpr qint64 kMaxDetectionBytes = 4LL * 1024 * 1024;
// What one field of a line-based dataset file (a name, a path, a number) may
// hold: far beyond any real one (paths end at 4096 bytes), small enough that a
// damaged file is refused before it costs memory.
inline constexpr qsizetype kMaxFieldBytes = 64 * 1024;
// What one line or record of such a file may hold: a name and the boxes of
// one image, or a header of 100,000 class names.
inline constexpr qsizetype kMaxRecordBytes = 16 * 1024 * 1024;

// Every reader opens files only through these (and openRegularFile): only
// regular files, after following symbolic links, are read; a pipe, a socket
// or a device counts as a file that cannot be opened.

// Reads the whole file into `out`. False when it cannot be opened, is larger
// than maxBytes, or a read fails; `out` is then empty.
bool readWholeFile(const QString &path, qint64 maxBytes, QByteArray *out);

// The first line of the file without its line end, reading at most maxBytes.
// False when the file cannot be opened.
bool readFirstLine(const QString &path, qint64 maxBytes, QByteArray *line);

// Calls onLine with every line of the text, split at "\n" (a "\r" before it
// is dropped), without building a list of them. A final line end does not
// start another line. A leading UTF-8 byte-order mark is skipped.
void forEachLine(QByteArrayView text, FunctionRef<void(QByteArrayView)> onLine);

// Decimal numbers as the readers accept them: optional sign, digits, fraction,
// exponent, with nothing around them. "inf" and "nan" are no numbers; a number
// too small for a double reads as 0, one too large is out of range.
enum class NumberText { Valid, Invalid, OutOfRange };
NumberText readDecimal(QByteArrayView text, double *value);

// readDecimal, true only for a valid number: a hostile field never turns into
// a non-finite coordinate.
bool parseDouble(QByteArrayView text, double *value);
bool parseDouble(QStringView text, double *value);
// An integer; an integral real such as "3.0" is accepted too.
bool parseInt(QByteArrayView text, int *value);
bool parseInt(QStringView text, int *value);
bool parseInt64(QByteArrayView text, qint64 *value);

// A number field of a coordinate (label lines, XML boxes): `value` is 0 when
// the field is no number (the formats' rule); false when it is a number that
// single precision cannot hold (FiniteNumber.h), so that the caller drops the
// shape rather than keep it with a wrong value.
bool floatField(QByteArrayView text, float *value);
bool floatField(QStringView text, float *value);

// floatField as one value: infinity for a number that does not fit, so that
// the shape fails geometryFitsFloat and is dropped.
float coordinateField(QByteArrayView text);
float coordinateField(QStringView text);

// Parse or give `fallback` (the "0 when not a number" rule of the formats).
float floatOr(QByteArrayView text, float fallback = 0.0f);
float floatOr(QStringView text, float fallback = 0.0f);
int intOr(QByteArrayView text, int fallback = 0);
int intOr(QStringView text, int fallback = 0);

// JSON values of an untrusted document.
// An integral number within the 64-bit range, else `fallback` (ok = false).
qint64 jsonInt64(const QJsonValue &value, qint64 fallback, bool *ok = nullptr);
// An integral number within the int range, else `fallback`.
int jsonInt(const QJsonValue &value, int fallback);
// A finite number, else `fallback`.
double jsonDouble(const QJsonValue &value, double fallback);
// A string, else `fallback`.
QString jsonString(const QJsonValue &value, const QString &fallback = QString());
// The edges of a keypoint skeleton from an array of [from, to] pairs whose
// joints are numbered from `firstIndex` (0 or 1), as 0-based pairs; pairs that
// do not join two of the `count` keypoints are left out.
QList<QPair<int, int>> jsonKeypointEdges(const QJsonArray &pairs, int firstIndex, qsizetype count);

} // namespace Quillmark
