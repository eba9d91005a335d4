#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QString>

namespace Quillmark {

// One dataset format. Handlers are stateless singletons owned by FormatRegistry;
// they show no dialogs and report failure only through their results.
class IFormatHandler {
public:
    virtual ~IFormatHandler() = default;

    // Display name; also the key of FormatRegistry::find.
    virtual QString name() const = 0;
    // Main file extension, without the dot.
    virtual QString extension() const = 0;
    // Whether the folder or file at path holds a dataset of this format.
    virtual bool canImport(const QString &path) const = 0;
    // Appends what the dataset at path holds to `dataset` (a fresh one).
    virtual bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) = 0;
    // Writes the dataset at path (an output folder or a file path).
    virtual bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) = 0;
    virtual bool exportWithoutProgress(const QString &path, const Dataset &dataset)
    {
        return exportDataset(path, dataset, ProgressCallback());
    }
};

} // namespace Quillmark
