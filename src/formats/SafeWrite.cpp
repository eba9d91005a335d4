#include "formats/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace Quillmark {

bool ensureFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

std::filesystem::path toFileSystemPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

namespace {

bool renameOver(const QString &temporary, const QString &path)
{
    std::error_code error;
    std::filesystem::rename(toFileSystemPath(temporary), toFileSystemPath(path), error);
    if (error) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + QStringLiteral(".qmtmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(temporary);
        return false;
    }
    return renameOver(temporary, path);
}

bool copyFileAtomically(const QString &source, const QString &destination)
{
    const QString temporary = destination + QStringLiteral(".qmtmp");
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary)) {
        QFile::remove(temporary);
        return false;
    }
    return renameOver(temporary, destination);
}

bool isSameFile(const QString &a, const QString &b)
{
    std::error_code error;
    const bool same = std::filesystem::equivalent(toFileSystemPath(a), toFileSystemPath(b), error);
    return same && !error;
}

bool writeDocumentFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Flush before committing: commit() does not notice a failure of the last
    // buffered write and would put a cut-off file in place of the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

namespace {

bool isXmlChar(char32_t c)
{
    if (c == 0x9 || c == 0xA || c == 0xD)
        return true;
    if (c < 0x20)
        return false;
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    return c != 0xFFFE && c != 0xFFFF;
}

} // namespace

QString xmlSafeText(const QString &text)
{
    bool clean = true;
    for (QChar c : text) {
        if (c.unicode() < 0x20 && !isXmlChar(c.unicode())) {
            clean = false;
            break;
        }
        if (c.isSurrogate() || c.unicode() >= 0xFFFE) {  // pairs are checked below
            clean = false;
            break;
        }
    }
    if (clean)
        return text;
    QString out;
    out.reserve(text.size());
    const auto codePoints = text.toUcs4();
    for (char32_t c : codePoints) {
        if (isXmlChar(c))
            out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

} // namespace Quillmark
