#pragma once

#include "formats/IFormatHandler.h"

#include <QString>

namespace Quillmark {

// "CreateML": one JSON array with an object per image, {"image": name,
// "annotations": [{"label": class, "coordinates": {"x", "y", "width",
// "height"}}]}, boxes by their centre and size in pixels. Every annotation is
// exported as its box; import makes bounding boxes and adds no classes.
class CreateMLHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A ".json" path (any case) is sniffed as a file; a folder by the "*.json"
    // files directly in it.
    bool canImport(const QString &path) const override;
    // Reads the JSON file at `path`. Images take their position in the array
    // as id. True when the array holds at least one image.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // Writes the JSON file at `path`; false when it cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

// Whether the head of a file looks like a CreateML annotation file.
bool isCreateMLJsonFile(const QString &path);

} // namespace Quillmark
