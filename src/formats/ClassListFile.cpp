#include "formats/ClassListFile.h"

#include "formats/SafeRead.h"

#include <algorithm>

namespace Quillmark {

bool readClassListFile(const QString &path, QStringList *names)
{
    names->clear();
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return false;
    // Blank lines are counted, and stored only once a name follows them.
    qsizetype blanks = 0;
    forEachLine(bytes, [&](QByteArrayView line) {
        if (names->size() >= kMaxClassNames)
            return;
        line = line.trimmed();
        if (line.isEmpty()) {
            ++blanks;
            return;
        }
        blanks = std::min<qsizetype>(blanks, kMaxClassNames - names->size());
        for (; blanks > 0; --blanks)
            names->append(QString(""));
        if (names->size() < kMaxClassNames)
            names->append(QString::fromUtf8(line).trimmed());
    });
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
