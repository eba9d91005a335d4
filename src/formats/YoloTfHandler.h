#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "YOLO TensorFlow": one CSV file with the header
// "filename,width,height,class,xmin,ymin,xmax,ymax" and a row per box, the
// sizes and corners in integer pixels. The path names the ".csv" file itself
// or a folder holding "_annotations.csv".
class YoloTfHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // The CSV's first line, lower-cased, starts with "filename" and holds "xmin".
    bool canImport(const QString &path) const override;
    // Rows are gathered per file name into entries in order of first
    // appearance, their classes added in that order. False when the file
    // cannot be read or no row is valid.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the CSV cannot be written. Images without a box give no row.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

} // namespace Quillmark
