#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Quillmark {

// A split export of a format that keeps its dataset in one folder writes that
// folder once per subset ("train", "valid", "test"). These let such a format
// import the export's root as one dataset.

// The subset folders below `root` ("train", "valid", "val", "test", in that
// order) that `holds` takes for a dataset of the format.
QStringList splitSubsetFolders(const QString &root, const std::function<bool(const QString &folder)> &holds);

// Imports every folder of `folders` in turn with `importFolder`, progress
// running over the folders. True when any of them imported.
using ImportFolder = std::function<bool(const QString &folder, Dataset &dataset, ProgressCallback progress)>;
bool importSplitSubsets(const QStringList &folders, Dataset &dataset, const ProgressCallback &progress,
                        const ImportFolder &importFolder);

// Whether `path` is a folder of the format (`holds`) or the root of a split
// export of it.
using HoldsFolder = std::function<bool(const QString &folder)>;
bool holdsFolderOrSubsets(const QString &path, const HoldsFolder &holds);

// Imports `path` as one folder of the format, or, at the root of a split
// export, every subset folder in turn.
bool importFolderOrSubsets(const QString &path, Dataset &dataset, ProgressCallback progress, const HoldsFolder &holds,
                           const ImportFolder &importFolder);

} // namespace Quillmark
