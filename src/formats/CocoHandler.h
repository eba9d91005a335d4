#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "COCO": one JSON document with "images", "annotations" and "categories".
// Boxes, polygons and keypoint sets travel both ways; polylines and points are
// written as boxes. Import and export both take the JSON file's own path.
class CocoHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A path ending in ".json" (any case) is tested as a file; any other path
    // as a folder whose "*.json" files are tested in name order.
    bool canImport(const QString &path) const override;
    // True when at least one image was added. Images enter in file order and
    // keep their ids where those fit an image id.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the file or its folder cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// Whether the file, a JSON object, holds the quoted keys "annotations" and at
// least one of "categories" and "images" (or, in a file larger than the
// detection bound, "images" with image records). Only a regular file is read,
// in chunks, only as far as needed and never past kMaxDetectionBytes.
bool isCocoJsonFile(const QString &path);

// The serialised document the export writes.
QByteArray cocoJsonBytes(const Dataset &dataset, const ProgressCallback &progress = ProgressCallback());

} // namespace Quillmark
