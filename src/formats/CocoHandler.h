#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "COCO": one JSON document with "images", "annotations" and "categories"
// (CocoJsonWriter.h, CocoDocumentReader.h). Boxes, polygons and keypoint sets
// travel both ways; polylines and points are written as boxes. Export takes
// the JSON file's own path; import takes the file, or a folder holding one
// (CocoFileDetection.h) or a subset folder with one each.
class CocoHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A path ending in ".json" (any case) is tested as a file; any other path
    // as a folder holding a COCO file, or the root of a dataset split into
    // subset folders that each hold one.
    bool canImport(const QString &path) const override;
    // True when at least one image was added. Images enter in file order; the
    // images of one file keep their ids where those fit an image id, those of
    // a dataset split into subset folders, every subset in turn, take new ones.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the file or its folder cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

} // namespace Quillmark
