#pragma once

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

// Reads the whole file into `out`. False when it cannot be opened, is larger
// than maxBytes, or a read fails; `out` is then empty.
bool readWholeFile(const QString &path, qint64 maxBytes, QByteArray *out);

// At most the first `count` bytes of the file; empty when it cannot be opened.
QByteArray readFileHead(const QString &path, qint64 count);

// The first line of the file without its line end, reading at most maxBytes.
// False when the file cannot be opened.
bool readFirstLine(const QString &path, qint64 maxBytes, QByteArray *line);

// Splits text into lines at "\n" (a "\r" before it is dropped). A final line
// end does not start another line. A leading UTF-8 byte-order mark is skipped.
QList<QByteArrayView> splitLines(QByteArrayView text);

// Decimal numbers as the readers accept them: optional sign, digits, fraction,
// exponent, with nothing around them. Infinity, NaN and out-of-range values are
// rejected, so a hostile field can never turn into a non-finite coordinate.
bool parseDouble(QByteArrayView text, double *value);
bool parseDouble(QStringView text, double *value);
// An integer; an integral real such as "3.0" is accepted too.
bool parseInt(QByteArrayView text, int *value);
bool parseInt(QStringView text, int *value);

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
