#pragma once

#include "formats/IFormatHandler.h"
#include "formats/ISubsetExportHandler.h"
#include "formats/YoloDataYaml.h"

#include <QList>
#include <QSize>
#include <QStringList>

namespace Quillmark {

// "YOLO Pose": keypoint sets as YOLO lines "c cx cy w h x y v x y v ...",
// one label file per image, with a "data.yaml" that declares the keypoint
// shape ("kpt_shape: [K, 3]") and names the classes. The writer writes the
// flat layout images/ + labels/ + data.yaml (a split export <split>/images +
// <split>/labels under one data.yaml), and the images itself.
class YoloPoseHandler : public IFormatHandler, public ISubsetExportHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A "data.yaml" mentioning "kpt_shape" in its first 4096 bytes, or a
    // label file whose first line is a box in 0..1 followed by triplets.
    bool canImport(const QString &path) const override;
    // One entry per readable label file (collectPoseLabelFiles). False when
    // the folder is missing or no label file could be read.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when a folder or file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    // An empty `subset` writes the flat layout.
    bool exportSubset(const QString &root, const QString &subset, const Dataset &dataset, int keypointCount,
                      ProgressCallback progress) override;
    QByteArray subsetDataYaml(const QStringList &written, const Dataset &dataset) const override;
};

// The label files of a pose folder: those below <root>/labels; else those
// below <split>/labels for "train", "valid", "val", "test"; else every
// "*.txt" below the root but "classes.txt", "data.txt" and "notes.txt".
QStringList collectPoseLabelFiles(const QString &root);

// Reads a label file. A line of 5 + 3k fields is a keypoint set of k
// (x, y, visibility) triplets; with a declared shape of two values per
// keypoint, a line of exactly 5 + 2K fields is a set of K points of
// visibility 2. Other lines of an odd count are polygons of the pairs after
// the box, which they keep; the rest are boxes. Coordinates are scaled when
// the image size is known. False when the file cannot be read.
bool readPoseLabelFile(const QString &path, const QStringList &classNames, QSize imageSize, const YoloDataYaml &shape,
                       QList<Annotation> *annotations);

} // namespace Quillmark
