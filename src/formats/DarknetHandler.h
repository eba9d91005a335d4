#pragma once

#include "formats/IFormatHandler.h"
#include "formats/YoloLabelLines.h"

#include <QList>
#include <QSize>
#include <QStringList>

namespace Quillmark {

// "Darknet": a flat folder with the class list "_darknet.labels" and, beside
// the images, one label file of YOLO box lines per image. A box-only format:
// the writer gives polygons and keypoint sets their bounding-rectangle box
// line, and the reader takes the box of every line.
class DarknetHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A folder holding a file named "_darknet.labels".
    bool canImport(const QString &path) const override;
    // One entry per "*.txt" file directly in the folder that lies beside an
    // image or holds a box line; false when there is none.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the folder or a file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;

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

} // namespace Quillmark
