#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "RetinaNet": one headerless CSV file of rows "image,x1,y1,x2,y2,class" with
// integer pixel corners. An image without boxes is the row "image,,,,,". The
// path names the ".csv" file itself or a folder holding "_annotations.csv".
class RetinaNetHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // The CSV's first row has at least six cells, the second to fifth being
    // integers (or all four empty, an image without boxes).
    bool canImport(const QString &path) const override;
    // Rows are grouped by image name in order of first appearance; classes
    // are added in the order they first occur. False when the file cannot be
    // read or no row is valid.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // A row per box of every bounding box, polygon and keypoint set; an image
    // without one gets the empty row. Beside it "classes.csv", the class
    // mapping the trainer needs: rows "name,id", ids from 0 in class order.
    // False when either file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

} // namespace Quillmark
