#include "formats/ExportNames.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace Quillmark {

QString naturalExportStem(const QString &filePath)
{
    QString stem = QFileInfo(filePath).completeBaseName();
    // A line break or another control character in a name would cut the
    // lines of every image list and label line that names the picture.
    for (QChar &c : stem) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    }
    return stem.isEmpty() ? QStringLiteral("image") : stem;
}

namespace {

// Stems of files that writers put beside the per-image files: the YOLO
// family's "classes.txt" lies among its label files, and Darknet's image list
// "train.txt" beside its pictures' label files, so an image of that name
// would have its labels replace the class list or the image list.
const QStringList &reservedExportStems()
{
    static const QStringList reserved = {QStringLiteral("classes"), QStringLiteral("train")};
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

namespace {

bool isRefusedCharacter(QChar c)
{
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
        return true;
    return QStringView(u"<>:\"/\\|?*").contains(c);
}

bool isReservedDeviceName(QStringView base)
{
    static const QStringList plain = {QStringLiteral("con"), QStringLiteral("prn"), QStringLiteral("aux"),
                                      QStringLiteral("nul")};
    const QString lower = base.toString().toLower();
    if (plain.contains(lower))
        return true;
    return lower.size() == 4 && (lower.startsWith(QLatin1String("com")) || lower.startsWith(QLatin1String("lpt"))) &&
           lower.at(3) >= QLatin1Char('1') && lower.at(3) <= QLatin1Char('9');
}

} // namespace

QString portableFileName(const QString &name)
{
    QString safe = name;
    for (QChar &c : safe) {
        if (isRefusedCharacter(c))
            c = QLatin1Char('_');
    }
    for (qsizetype i = safe.size() - 1; i >= 0 && (safe.at(i) == QLatin1Char('.') || safe.at(i) == QLatin1Char(' '));
         --i)
        safe[i] = QLatin1Char('_');
    if (safe.isEmpty())
        return QStringLiteral("_");
    // Windows reads "con.txt" and "con " as the device too.
    const qsizetype dot = safe.indexOf(QLatin1Char('.'));
    const QStringView base = QStringView(safe).left(dot < 0 ? safe.size() : dot).trimmed();
    if (isReservedDeviceName(base))
        safe.insert(dot < 0 ? safe.size() : dot, QLatin1Char('_'));
    return safe;
}

bool forEachExportImage(const QList<ImageEntry> &images, const ProgressCallback &progress,
                        FunctionRef<bool(const ExportImage &image)> each)
{
    const QStringList stems = uniqueExportStems(images);
    const int total = int(images.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i + 1, total);
        const ImageEntry &image = images.at(i);
        if (!each(ExportImage{i, image, stems.at(i), exportFileName(stems.at(i), image.filePath)}))
            return false;
    }
    return true;
}

} // namespace Quillmark
