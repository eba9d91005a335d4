#pragma once

#include "model/ImageEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Quillmark {

// A format that is trained through index files at the export's root naming
// the pictures of each subset (Darknet's obj.data with its image lists). The
// export job calls it last, once the folder of every subset, pictures and
// label files, is written.
class IExportIndexWriter {
public:
    // One subset as the job wrote it: the folder below the root (empty when
    // the whole export lies in the root itself) and its images in the order
    // written, from which the names of their pictures follow (ExportNames.h).
    struct Subset {
        QString folder;
        QList<ImageEntry> images;
    };

    virtual ~IExportIndexWriter() = default;

    // Writes the root's index files for `subsets` ("train", "valid", "test"
    // in that order, or the one whole export). False when a file or folder
    // cannot be written.
    virtual bool writeExportIndex(const QString &root, const QList<Subset> &subsets,
                                  const QStringList &classNames) = 0;
};

} // namespace Quillmark
