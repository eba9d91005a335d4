#pragma once

#include "formats/IFormatHandler.h"
#include "formats/ISubsetExportHandler.h"

#include <QByteArray>
#include <QStringList>

namespace Quillmark {

// "YOLOv5 OBB": oriented boxes as four pixel corners, the class name and a
// difficulty flag ("x1 y1 x2 y2 x3 y3 x4 y4 name 0"), one file per image in
// "labelTxt" folders, with the class names in "data.yaml". The writer puts
// a whole dataset in the "train" split, or each subset of a split export in
// its own split folder, and writes the images itself. A class name holds no
// white space in the lines ("traffic_light"); "data.yaml" names the classes
// as the lines do, keeping the project's spelling in "display_names" when it
// differs.
class Yolo5ObbHandler : public IFormatHandler, public ISubsetExportHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A "data.yaml" with a "labelTxt" folder below a split folder or the root.
    bool canImport(const QString &path) const override;
    // The label files of <split>/labelTxt ("train", "valid", "val", "test"),
    // else of labelTxt. Adds the classes of the label lines and of
    // "data.yaml". False when no label file could be read.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when a folder or file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    bool exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int keypointCount,
                      ProgressCallback progress) override;
    QByteArray subsetDataYaml(const QStringList &written, const Dataset &dataset) const override;
};

// The "data.yaml" of the YOLOv5 OBB and YOLOv6 MT writers: the root comment,
// the "train", "val" and "test" folders of `imageFolders` (see
// subsetImageFolders; an empty one is left out), an empty line, "nc" and the
// names as a quoted flow list; then, when given, "display_names" in the same
// form.
QByteArray splitListDataYaml(const QStringList &imageFolders, const QStringList &classNames,
                             const QStringList &displayNames = {});

} // namespace Quillmark
