#include "formats/ExportNames.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace Quillmark {

QString naturalExportStem(const QString &filePath)
{
    const QString stem = QFileInfo(filePath).completeBaseName();
    return stem.isEmpty() ? QStringLiteral("image") : stem;
}

namespace {

// Stems of files that writers put beside the per-image files: the YOLO
// family's "classes.txt" lies among its label files, so an image of that
// name would have its labels replace the class list.
const QStringList &reservedExportStems()
{
    static const QStringList reserved = {QStringLiteral("classes")};
    return reserved;
}

} // namespace

QStringList uniqueExportStems(const QList<ImageEntry> &images)
{
    QStringList natural;
    natural.reserve(images.size());
    QSet<QString> naturalKeys;
    naturalKeys.reserve(images.size());
    for (const ImageEntry &image : images) {
        natural.append(naturalExportStem(image.filePath));
        naturalKeys.insert(natural.constLast().toCaseFolded());
    }

    QStringList stems;
    stems.reserve(images.size());
    QSet<QString> taken;
    taken.reserve(images.size() + reservedExportStems().size());
    for (const QString &stem : reservedExportStems())
        taken.insert(stem.toCaseFolded());
    // Next suffix to try per natural stem, so that many images of one name
    // cost linear time rather than quadratic.
    QHash<QString, int> nextSuffix;
    for (const QString &stem : natural) {
        const QString key = stem.toCaseFolded();
        if (!taken.contains(key)) {
            taken.insert(key);
            stems.append(stem);
            continue;
        }
        int &n = nextSuffix[key];
        if (n < 2)
            n = 2;
        for (;; ++n) {
            const QString candidate = stem + QLatin1Char('_') + QString::number(n);
            const QString candidateKey = candidate.toCaseFolded();
            if (taken.contains(candidateKey) || naturalKeys.contains(candidateKey))
                continue;
            taken.insert(candidateKey);
            stems.append(candidate);
            ++n;
            break;
        }
    }
    return stems;
}

QString exportFileName(const QString &stem, const QString &filePath)
{
    const QString suffix = QFileInfo(filePath).suffix();
    return stem + QLatin1Char('.') + (suffix.isEmpty() ? QStringLiteral("png") : suffix);
}

} // namespace Quillmark
