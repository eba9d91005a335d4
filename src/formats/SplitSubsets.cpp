#include "formats/SplitSubsets.h"

#include "formats/PerImageFiles.h"

#include <QDir>
#include <QFileInfo>

namespace Quillmark {

QStringList splitSubsetFolders(const QString &root, const std::function<bool(const QString &folder)> &holds)
{
    QStringList folders;
    const QDir dir(root);
    for (const QString &split : labelSplitNames()) {
        const QString folder = dir.filePath(split);
        if (QFileInfo(folder).isDir() && holds(folder))
            folders.append(folder);
    }
    return folders;
}

bool importSplitSubsets(const QStringList &folders, Dataset &dataset, const ProgressCallback &progress,
                        const ImportFolder &importFolder)
{
    bool any = false;
    const int count = int(folders.size());
    for (int i = 0; i < count; ++i) {
        ProgressCallback share;
        if (progress) {
            share = [&progress, i, count](int current, int total) {
                const int scaled = total > 0 ? int(qint64(current) * 1000 / total) : 1000;
                progress(i * 1000 + scaled, count * 1000);
            };
        }
        any = importFolder(folders.at(i), dataset, share) || any;
    }
    return any;
}

bool holdsFolderOrSubsets(const QString &path, const HoldsFolder &holds)
{
    return holds(path) || !splitSubsetFolders(path, holds).isEmpty();
}

bool importFolderOrSubsets(const QString &path, Dataset &dataset, ProgressCallback progress, const HoldsFolder &holds,
                           const ImportFolder &importFolder)
{
    const QStringList subsets = holds(path) ? QStringList() : splitSubsetFolders(path, holds);
    if (subsets.isEmpty())
        return importFolder(path, dataset, std::move(progress));
    return importSplitSubsets(subsets, dataset, progress, importFolder);
}

} // namespace Quillmark
