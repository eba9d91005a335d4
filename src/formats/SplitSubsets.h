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

} // namespace Quillmark
