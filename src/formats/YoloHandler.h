#pragma once

#include "formats/IFormatHandler.h"
#include "formats/YoloDataYaml.h"

#include <QStringList>

namespace Quillmark {

// "YOLO": one label file per image with the class names in a data.yaml (or
// another yaml file) or "classes.txt". Reads the flat layout, a "labels"
// folder with or without split subfolders, split folders holding "labels" and
// "images", or label files anywhere below the folder; images of those layouts
// without a label file are read as background images (no annotations), and
// image suffixes match in any letter case. Writes the flat layout; the export
// job builds the layout loaders read around it.
class YoloHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    bool canImport(const QString &path) const override;
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// Image extensions the reader tries beside a label file, in order:
// "jpg", "jpeg", "png", "bmp", "tiff", "webp".
const QStringList &yoloImageExtensions();

// The first existing file in `folder` named baseName + "." + an extension of
// yoloImageExtensions; empty when none exists.
QString findYoloImageInDir(const QString &baseName, const QString &folder);

// The image of a label file: looked for in <dir>/images, <dir>/../images,
// <dir>/../../images/<dir name> and <dir> itself; empty when none exists.
QString findYoloImageForLabel(const QString &labelPath);

// The label files of a YOLO folder in reading order (see importDataset).
QStringList collectYoloLabelFiles(const QString &folder);

// Class names of a YOLO folder: the yaml names when there are any, else the
// lines of <folder>/classes.txt or, without it, of <folder>/labels/classes.txt,
// else none.
QStringList readYoloClassNames(const QString &folder, const YoloDataYaml &yaml);

// Whether a trimmed first line looks like a YOLO box line: at least five
// fields separated by single spaces, an integer class id, a centre in 0..1 and
// a size in (0, 1].
bool isYoloDetectionLine(const QByteArray &line);

} // namespace Quillmark
