#pragma once

#include <QByteArrayView>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <functional>

namespace Quillmark {

// The space-separated label lines of the YOLO family's text formats
// (Darknet, the oriented-box formats, YOLOv6 MT, YOLO Pose).

using LabelFields = QVarLengthArray<QByteArrayView, 64>;

// Detection rules that judge a folder by the first lines of its label files
// stop after this many files with a non-blank first line: a dataset's files
// are alike, and a large folder of another format must not keep the window
// waiting while every one of its files is opened.
inline constexpr int kMaxProbedLabelFiles = 64;

// What separates the fields of a line. The lines of the YOLO folder formats
// (readYoloLabelFile) take tabs too; the other formats of the family do not.
enum class FieldSeparators { Spaces, SpacesAndTabs };

// Splits a line at its separators; a run of them counts as one, so no field is
// empty.
void splitLabelFields(QByteArrayView line, LabelFields &fields, FieldSeparators separators = FieldSeparators::Spaces);

// Calls onLine with the fields of every line of the file that is not blank
// (each line trimmed first), in file order. False, without a call, when the
// file cannot be read or is larger than a label file may be.
bool forEachLabelLine(const QString &path, const std::function<void(const LabelFields &)> &onLine);

// The first line of a file, trimmed and split; false when the file cannot be
// opened or the line is blank.
bool firstLabelLine(const QString &path, LabelFields &fields, QByteArray *storage);

// The class name of an id: names[id] when the id is in range, else "class_<id>".
QString classNameForId(qint64 id, const QStringList &names);

// A box given by its centre and size, in single precision: scaled to pixels
// when the image size is known (both sides at least 1), else left in the
// normalised units of the line.
QRectF boxFromCentre(float cx, float cy, float w, float h, QSize imageSize);

// Whether a field is a number in 0..1, both ends included.
bool isUnitNumber(QByteArrayView field);

} // namespace Quillmark
