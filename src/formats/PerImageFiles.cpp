#include "formats/PerImageFiles.h"

#include "formats/ExportNames.h"
#include "formats/SafeWrite.h"

#include <QDir>

namespace Quillmark {

bool writePerImageFiles(const QString &folder, const Dataset &dataset, const QString &suffix,
                        FunctionRef<QByteArray(const ImageEntry &, const QString &)> contents,
                        const ProgressCallback &progress)
{
    if (!ensureFolder(folder))
        return false;
    const QDir out(folder);
    const QStringList stems = uniqueExportStems(dataset.images);
    const int total = int(dataset.images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = dataset.images.at(i);
        const QByteArray bytes = contents(image, exportFileName(stems.at(i), image.filePath));
        if (!writeFileAtomically(out.filePath(stems.at(i) + suffix), bytes))
            return false;
    }
    return true;
}

} // namespace Quillmark
