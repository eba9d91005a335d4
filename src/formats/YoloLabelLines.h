#pragma once

#include "formats/YoloDataYaml.h"
#include "model/Annotation.h"
#include "model/ImageEntry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace Quillmark {

// The label lines of the YOLO family, one text line per annotation:
//   box       class cx cy w h
//   keypoints class cx cy w h  x y v  x y v ...
//   polygon   class x y  x y  x y ...
// coordinates normalised to the image size when it is known, numbers in the
// form of printf's %g, fields separated by one space, each line ended by "\n".

// Class name -> class id (the first position of the name in the class list).
using YoloClassIndex = QHash<QString, int>;
YoloClassIndex yoloClassIndex(const QStringList &classNames);

// How the boxes of a set of label files are written. A YOLO trainer decides
// per dataset whether it learns masks: once one object of the set has an
// outline, every object must have one, or it drops the outlines of the whole
// set. A set that holds a polygon therefore writes its boxes as their four
// corners (top left, top right, bottom right, bottom left), a polygon that
// every reader takes for the same box; a set of boxes only keeps box lines.
enum class YoloBoxLines {
    Plain,   // box lines, except in a file that holds a polygon itself
    Corners, // every box as its four corners
};

// The form for a set of images that is read as one dataset: Corners when any
// of them holds a polygon line.
YoloBoxLines yoloBoxLinesOf(const QList<ImageEntry> &images);

// Writes the lines of every annotation of the image; polylines, points and
// polygons without vertices give no line. A class missing from the list is
// written as id 0. A file never mixes box lines with polygon lines: when the
// image holds a polygon, its boxes are written as 4-corner polygons whatever
// `boxes` says.
void writeYoloLabelLines(QTextStream &out, const ImageEntry &image, const QStringList &classNames,
                         YoloBoxLines boxes = YoloBoxLines::Plain);
void appendYoloLabelLines(QByteArray &out, const ImageEntry &image, const YoloClassIndex &classIndex,
                          YoloBoxLines boxes = YoloBoxLines::Plain);

// The outline a segment line gives a polygon object: for an object of several
// parts (AnnotationGeometry.h: objectParts), the parts joined into one
// outline as the common COCO-to-YOLO converter joins them: each part is tied
// to the next at their nearest points (the first nearest pair in point order)
// by a thin double line, the way out through the first part, along each
// middle part to its tie with the next and round the last, the way back along
// the rest of the middle parts; a middle part whose tie to the next comes
// before its tie to the previous is walked in reverse. For any other polygon
// its points.
QList<QPointF> joinedObjectOutline(const Annotation &a);

// How a reader tells keypoint lines from polygon lines, both being a class id
// followed by numbers.
struct YoloLineLayout {
    enum class Mode {
        // No data.yaml: a line of 5 + 3k parts (k >= 1) whose every third
        // field from the eighth on is a visibility 0, 1 or 2 is a keypoint set;
        // other lines of an odd part count are polygons.
        Guess,
        // A data.yaml without "kpt_shape": lines of an odd part count are
        // polygons, never keypoints.
        Polygons,
        // A data.yaml with "kpt_shape: [K, D]": a line of exactly 5 + D * K
        // parts is a keypoint set; with D = 3, a line of another length is
        // one when it passes the visibility test of Guess; other lines read
        // as without keypoints.
        Keypoints,
    };
    Mode mode = Mode::Guess;
    int keypointCount = 0;
    int keypointDims = 3;

    // The layout a folder's yaml file implies (Guess when there is none).
    static YoloLineLayout fromDataYaml(const YoloDataYaml &yaml);
};

// Reads a label file. Ids outside the class list read as "class_%1". With an
// image size of 0 (unknown) the coordinates stay normalised. A line of four
// corners in the order the writer gives a box (an axis-aligned rectangle from
// its top left corner clockwise) reads back as that box. Malformed lines
// (fewer than five fields) are skipped, fields that are no number read as 0,
// lines whose numbers overflow to infinite coordinates are skipped; an
// unreadable or oversized file gives an empty list.
QList<Annotation> readYoloLabelFile(const QString &path, const QStringList &classNames, int imageWidth,
                                    int imageHeight, const YoloLineLayout &layout = YoloLineLayout());

// The same on text held in memory.
QList<Annotation> parseYoloLabelText(QByteArrayView text, const QStringList &classNames, int imageWidth,
                                     int imageHeight, const YoloLineLayout &layout = YoloLineLayout());

} // namespace Quillmark
