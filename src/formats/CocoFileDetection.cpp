#include "formats/CocoFileDetection.h"

#include "formats/FolderListing.h"
#include "formats/PerImageFiles.h"
#include "formats/SafeRead.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Quillmark {

namespace {

// A folder of many large JSON files is judged by its first few.
constexpr int kMaxProbedCocoFiles = 16;

const QString kSubsetFileName = QStringLiteral("_annotations.coco.json");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the first character of the text after blanks (and a byte-order
// mark) is known yet, and whether it opens an object.
enum class Start { Unknown, Object, Other };

Start startOf(QByteArrayView chunk, bool first)
{
    if (first && chunk.startsWith("\xEF\xBB\xBF"))
        chunk = chunk.sliced(3);
    for (const char c : chunk) {
        if (!isBlank(c))
            return c == '{' ? Start::Object : Start::Other;
    }
    return Start::Unknown;
}

// The first COCO file among the folders' "*.json" files, probing at most
// kMaxProbedCocoFiles of them in all (`probed` counts them); the subset file
// name comes first in each folder.
QString firstCocoFile(const QStringList &folders, int &probed)
{
    for (const QString &folder : folders) {
        const QString subsetFile = QDir(folder).filePath(kSubsetFileName);
        if (QFileInfo(subsetFile).isFile()) {
            ++probed;
            if (isCocoJsonFile(subsetFile))
                return subsetFile;
        }
        for (const QString &candidate : listFiles(folder, {QStringLiteral("*.json")})) {
            if (candidate == subsetFile)
                continue;
            if (isCocoJsonFile(candidate))
                return candidate;
            if (++probed >= kMaxProbedCocoFiles)
                return {};
        }
    }
    return {};
}

} // namespace

// The keys of a COCO file, looked for in the first kMaxDetectionBytes of it.
// A large file of the release layout lists its images before its annotations:
// once the bound is reached, an object whose "images" hold image records
// ("file_name") counts too. Nothing else is read.
bool isCocoJsonFile(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return false;
    static const QByteArray keys[4] = {"\"annotations\"", "\"categories\"", "\"images\"", "\"file_name\""};
    bool found[4] = {false, false, false, false};
    // Keep the tail of the previous chunk so that a key split across two
    // chunks is still seen.
    constexpr qint64 chunkSize = 8192;
    const qsizetype overlap = keys[0].size() - 1;
    QByteArray window;
    Start start = Start::Unknown;
    for (qint64 read = 0; read < kMaxDetectionBytes; read += chunkSize) {
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty())
            return false;
        if (start == Start::Unknown)
            start = startOf(chunk, read == 0);
        if (start == Start::Other)
            return false;
        window = window.right(overlap) + chunk;
        for (int k = 0; k < 4; ++k)
            found[k] = found[k] || window.contains(keys[k]);
        if (found[0] && (found[1] || found[2]))
            return true;
    }
    return start == Start::Object && found[2] && found[3];
}

QString cocoFileInFolder(const QString &folder)
{
    int probed = 0;
    return firstCocoFile({folder, QDir(folder).filePath(QStringLiteral("annotations"))}, probed);
}

QStringList cocoSubsetFiles(const QString &root)
{
    QStringList files;
    const QDir dir(root);
    int probed = 0; // one bound for all the subsets
    for (const QString &subset : labelSplitNames()) {
        const QString folder = dir.filePath(subset);
        if (!QFileInfo(folder).isDir())
            continue;
        if (const QString file = firstCocoFile({folder}, probed); !file.isEmpty())
            files.append(file);
    }
    return files;
}

} // namespace Quillmark
