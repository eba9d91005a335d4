#pragma once

#include "formats/IExportIndexWriter.h"
#include "formats/IFormatHandler.h"
#include "formats/YoloLabelLines.h"

#include <QHash>
#include <QList>
#include <QSize>
#include <QStringList>

namespace Quillmark {

// "Darknet": a flat folder with the class list "_darknet.labels" (and
// darknet's own "obj.names") and, beside the images, one label file of YOLO
// box lines per image. A box-only format: the writer gives polygons and
// keypoint sets their bounding-rectangle box line, and the reader takes the
// box of every line.
//
// darknet itself is pointed at a data file, "obj.data", naming the class
// count, the class list and the lists of training and validation pictures,
// with every path relative to the folder darknet is started from. The export
// job has the handler write those at the export's root (IExportIndexWriter),
// so that darknet trains from the export folder:
//   classes = 2
//   train = train.txt     ("a.jpg", or "train/a.jpg" with a split)
//   valid = valid.txt     (train.txt without a validation subset)
//   names = obj.names
//   backup = backup/
// The reader takes such a layout too, darknet's own included (the data files
// in "data/", naming "data/train.txt" and "data/obj/a.jpg").
class DarknetHandler : public IFormatHandler, public IExportIndexWriter {
public:
    QString name() const override;
    QString extension() const override;
    // A folder holding "_darknet.labels" or a darknet data file ("obj.data",
    // or another "*.data" naming "names"), or the root of a split export of
    // such folders.
    bool canImport(const QString &path) const override;
    // With a data file whose image lists name pictures: one entry per picture
    // listed ("train", then "valid", then "test"; each once), its labels in
    // the ".txt" file beside it or where darknet looks for it. Otherwise one
    // entry per "*.txt" file directly in the folder that lies beside an image
    // or holds a box line. False when there is none.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // The label files, "_darknet.labels" and "obj.names". False when the
    // folder or a file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    // "obj.data", "obj.names", an image list per subset ("train.txt",
    // "valid.txt", "test.txt") and the "backup" folder darknet saves its
    // weights in.
    bool writeExportIndex(const QString &root, const QList<Subset> &subsets, const QStringList &classNames) override;

private:
    // One folder of the format (a subset folder of a split export included).
    bool canImportFolder(const QString &path) const;
    bool importFolder(const QString &path, Dataset &dataset, ProgressCallback progress);
};

// The boxes of a label file: the first five fields of every line whose class
// id and four numbers parse; further fields are ignored. Scaled to pixels
// when the image size is known.
QList<Annotation> readDarknetLabelFile(const QString &path, const QStringList &classNames, QSize imageSize);

// The label file text of the box-only YOLO formats (Darknet, YOLOv6 MT): a
// box line of every annotation that has a box with area, normalised by the
// image's size (measured when the entry does not know it).
QByteArray boxOnlyLabelLines(const ImageEntry &image, const YoloClassIndex &classIndex);

// A darknet data file ("obj.data"): its "key = value" lines, keys and values
// without blanks as darknet reads them; lines that are empty or start with
// "#" or ";" are passed over. Empty when the file cannot be read.
QHash<QString, QString> readDarknetDataFile(const QString &path);

// The data file of a darknet folder: "obj.data", else the first "*.data" file
// (by name, of the first kMaxProbedLabelFiles) that names "names"; empty when
// there is none.
QString findDarknetDataFile(const QString &folder);

// A path as a darknet data file or image list names it, relative to the
// folder darknet runs in: the data file's own folder (`dataFolder`), else the
// one above it (darknet's own layout keeps the data files in "data/" and
// names "data/train.txt"), else the path without its first folder (that
// "data" folder renamed). An absolute path stays as it is. The first that
// exists wins; when none does, the path beside the data file.
QString resolveDarknetPath(const QString &dataFolder, const QString &named);

// Where darknet looks for the label file of a picture: beside it, its suffix
// replaced by ".txt", or in the "labels" folder in place of its "images" or
// "JPEGImages" folder. The first that exists; the one beside it when neither
// does.
QString darknetLabelPath(const QString &imagePath);

} // namespace Quillmark
