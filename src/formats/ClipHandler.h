#pragma once

#include "formats/IFormatHandler.h"

#include <QString>

namespace Quillmark {

// "CLIP": image-caption classification. The images lie in one folder per
// combination of classes, named by the sorted class names joined by blanks
// (a class marked "multiple" as name + "_multiple", an image without classes
// in "unlabeled"), and "_tokenization.txt" holds one caption per folder.
// Classes travel as whole-image boxes; the handler writes the image files
// itself.
class ClipHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // True when the folder holds "_tokenization.txt".
    bool canImport(const QString &path) const override;
    // True when at least one image was read.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False for a dataset without images, or when a folder, an image or the
    // caption file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
};

} // namespace Quillmark
