#include "formats/ClassListFile.h"

#include "formats/SafeRead.h"

namespace Quillmark {

bool readClassListFile(const QString &path, QStringList *names)
{
    names->clear();
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return false;
    const QList<QByteArrayView> lines = splitLines(bytes);
    names->reserve(lines.size());
    for (QByteArrayView line : lines)
        names->append(QString::fromUtf8(line).trimmed());
    return true;
}

QStringList readNonEmptyClassNames(const QString &path)
{
    QStringList names;
    readClassListFile(path, &names);
    names.removeAll(QString());
    return names;
}

QByteArray classListFileBytes(const QStringList &names)
{
    QByteArray bytes;
    for (const QString &name : names) {
        bytes.append(name.toUtf8());
        bytes.append('\n');
    }
    return bytes;
}

} // namespace Quillmark
