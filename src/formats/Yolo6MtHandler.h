#pragma once

#include "formats/IFormatHandler.h"
#include "formats/ISubsetExportHandler.h"

namespace Quillmark {

// "YOLOv6 MT": normalised YOLO box lines in the layout that puts the split
// below the kind of file: images/<split> and labels/<split>, with the class
// names in "data.yaml". The writer puts a whole dataset in "train", or each
// subset of a split export in its own split, and writes the images itself.
class Yolo6MtHandler : public IFormatHandler, public ISubsetExportHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A "data.yaml" beside both an "images" and a "labels" folder.
    bool canImport(const QString &path) const override;
    // The label files of labels/<split> ("train", "valid", "val", "test"),
    // each line read as the box of its first five fields. False when no label
    // file could be read.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when a folder or file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    bool exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int keypointCount,
                      ProgressCallback progress) override;
    QByteArray subsetDataYaml(const QStringList &written, const Dataset &dataset) const override;
};

} // namespace Quillmark
