#include "formats/CocoHandler.h"

#include "formats/CocoDocumentReader.h"
#include "formats/CocoFileDetection.h"
#include "formats/CocoJsonWriter.h"
#include "formats/ExportJournal.h"
#include "formats/ImportFailure.h"
#include "formats/SafeRead.h"
#include "formats/SafeWrite.h"
#include "formats/SplitSubsets.h"
#include "model/JsonText.h"

#include <QFileInfo>
#include <QSaveFile>

namespace Quillmark {

QString CocoHandler::name() const { return QStringLiteral("COCO"); }
QString CocoHandler::extension() const { return QStringLiteral("json"); }

bool CocoHandler::canImport(const QString &path) const
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return isCocoJsonFile(path);
    return !cocoFileInFolder(path).isEmpty() || !cocoSubsetFiles(path).isEmpty();
}

namespace {

enum class FileIds { Kept, New };

// Reads one COCO file into the dataset.
bool importCocoFile(const QString &path, Dataset &dataset, const ProgressCallback &progress, FileIds ids)
{
    JsonText text;
    if (!text.load(path, kMaxDocumentFileBytes, JsonText::Mapping::IfLarge)) {
        ImportFailure::noteCannotLoad(path, kMaxDocumentFileBytes);
        return false;
    }
    CocoDocumentReader reader(path);
    const bool read = reader.read(text);
    // A large file is read where it lies on the disk: another program may
    // have cut it short or rewritten it meanwhile.
    if (text.changedSinceLoad()) {
        ImportFailure::note(path, QStringLiteral("the file changed while it was read."));
        return false;
    }
    if (!read) {
        ImportFailure::noteDamagedJson(path);
        return false;
    }
    text = JsonText();
    if (!reader.holdsImages()) {
        ImportFailure::note(path, QStringLiteral("the file lists no images."));
        return false;
    }
    if (ids == FileIds::Kept) {
        reader.appendTo(dataset, progress);
        return true;
    }
    // Each subset numbers its images from its own start: they join the
    // dataset as new entries.
    Dataset subset;
    reader.appendTo(subset, progress);
    for (auto it = subset.classColors.cbegin(); it != subset.classColors.cend(); ++it)
        dataset.addClass(it.key(), QColor());
    if (subset.keypointSchema.isInUse() && !dataset.keypointSchema.isInUse())
        dataset.setKeypointSchema(subset.keypointSchema);
    dataset.images.reserve(dataset.images.size() + subset.images.size());
    for (ImageEntry &entry : subset.images) {
        entry.id = -1;
        dataset.addImage(entry);
    }
    return true;
}

} // namespace

bool CocoHandler::importDataset(const QString &path, Dataset &dataset, ProgressCallback progress)
{
    if (!QFileInfo(path).isDir())
        return importCocoFile(path, dataset, progress, FileIds::Kept);
    if (const QString file = cocoFileInFolder(path); !file.isEmpty())
        return importCocoFile(file, dataset, progress, FileIds::Kept);
    const QStringList subsets = cocoSubsetFiles(path);
    if (subsets.isEmpty()) {
        ImportFailure::note(path, QStringLiteral("no COCO annotation file (.json) was found."));
        return false;
    }
    return importSplitSubsets(subsets, dataset, progress,
                              [](const QString &file, Dataset &into, const ProgressCallback &share) {
                                  return importCocoFile(file, into, share, FileIds::New);
                              });
}

bool CocoHandler::exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    // Streamed into place: the file replaces an older one only once it is
    // whole and on disk.
    ExportJournal::noteWrite(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!writeCocoJson(file, dataset, progress) || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace Quillmark
