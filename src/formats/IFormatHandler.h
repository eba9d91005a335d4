#pragma once

#include "formats/ImportFailure.h"
#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QDir>
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
    // importDataset, telling why it failed: on failure *whyFailed holds what
    // the reader found wrong ("<file>: <what>"), or, where it noted nothing,
    // that nothing of this format could be read at path.
    bool importExplained(const QString &path, Dataset &dataset, ProgressCallback progress, QString *whyFailed)
    {
        const ImportFailure failure;
        if (importDataset(path, dataset, std::move(progress)))
            return true;
        if (whyFailed)
            *whyFailed = failure.hasReason() ? failure.reason() : nothingReadableAt(path);
        return false;
    }
    // Writes the dataset at path (an output folder or a file path).
    virtual bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) = 0;
    virtual bool exportWithoutProgress(const QString &path, const Dataset &dataset)
    {
        return exportDataset(path, dataset, ProgressCallback());
    }

private:
    QString nothingReadableAt(const QString &path) const
    {
        return QDir::toNativeSeparators(path) +
               QStringLiteral(": no %1 dataset could be read there (no annotation file found, or none that "
                              "holds an annotated image).")
                   .arg(name());
    }
};

} // namespace Quillmark
