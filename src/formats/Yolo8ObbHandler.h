#pragma once

#include "formats/IFormatHandler.h"
#include "formats/ISubsetExportHandler.h"

#include <QString>

namespace Quillmark {

// "YOLOv8 OBB": oriented boxes as a class id and four corners normalised to
// the image ("c x1 y1 x2 y2 x3 y3 x4 y4"), one file per image in
// <split>/labels, with the class names in "data.yaml" as an index map. The
// writer puts a whole dataset in "train", or each subset of a split export in
// its own split folder, and writes the images itself.
class Yolo8ObbHandler : public IFormatHandler, public ISubsetExportHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A "data.yaml" without "roboflow:" and label files in <split>/labels
    // whose every line is a class id and eight numbers in 0..1 (of the first
    // files with a line, up to kMaxProbedLabelFiles).
    bool canImport(const QString &path) const override;
    // The label files of <split>/labels ("train", "valid", "val", "test").
    // False when no label file could be read.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when a folder or file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    bool exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int keypointCount,
                      ProgressCallback progress) override;
    QByteArray subsetDataYaml(const QStringList &written, const Dataset &dataset) const override;
};

// Whether a folder says it holds oriented boxes: its name or its data.yaml
// names "OBB" or "DOTA" (as a word or the start of one, in any letter case).
// Lines of a class and four corners are the same text as the YOLO outline of
// a quadrilateral; only such a folder is taken for oriented boxes first.
bool declaresOrientedBoxes(const QString &folder);

} // namespace Quillmark
