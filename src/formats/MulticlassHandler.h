#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "Multiclass": multi-label classification as one CSV "_classes.csv" next to
// the images: a header "filename,<class>,..." and one one-hot row per image.
// A label is a whole-image bounding box of its class.
class MulticlassHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // The folder's "_classes.csv" begins, lower-cased, with "filename,".
    bool canImport(const QString &path) const override;
    // One entry per row; every "1" cell gives a whole-image box of its column's
    // class. False when the file cannot be read, names no class, or has no row.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // Writes the images (each under its unique export name) and the table.
    // False when the folder, an image or the table cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;

private:
    // One folder of the format (a subset folder of a split export included).
    bool canImportFolder(const QString &path) const;
    bool importFolder(const QString &path, Dataset &dataset, ProgressCallback progress);
};

} // namespace Quillmark
