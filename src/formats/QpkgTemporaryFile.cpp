#include "formats/QpkgTemporaryFile.h"

#include "formats/QpkgConnection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace Quillmark {

namespace {

constexpr int kIdDigits = 12;
const QLatin1String kSuffix(".tmp");

// The locked byte: SQLite locks bytes from 1 GiB on; this one lies far past
// any file.
constexpr off_t kLockOffset = off_t(1) << 62;

enum class Lock { Taken, HeldElsewhere, Unsupported };

Lock lockByte(int fd, short type)
{
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockOffset;
    lock.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return Lock::Taken;
    return errno == EAGAIN || errno == EACCES ? Lock::HeldElsewhere : Lock::Unsupported;
}

int openFile(const QString &path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether the temporary at `path` is left over: nobody holds its lock (where
// the file system has no locks, its age alone tells), and it is empty or an
// SQLite file, as a write leaves it at any moment.
bool isLeftOver(const QString &path)
{
    const int fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    char head[16] = {};
    const bool free = lockByte(fd, F_RDLCK) != Lock::HeldElsewhere;
    const ssize_t n = free ? ::pread(fd, head, sizeof head, 0) : -1;
    ::close(fd);
    return n == 0 || (n == ssize_t(sizeof head) && std::memcmp(head, "SQLite format 3", 16) == 0);
}

void removeWithSideFiles(const QString &path)
{
    QFile::remove(path);
    QFile::remove(QpkgConnection::walPath(path));
    QFile::remove(QpkgConnection::shmPath(path));
    QFile::remove(path + QStringLiteral("-journal"));
}

} // namespace

QpkgTemporaryFile::QpkgTemporaryFile(const QString &target)
{
    for (int attempt = 0; attempt < 4 && m_fd < 0; ++attempt) {
        m_path = target + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(kIdDigits) + kSuffix;
        m_fd = openFile(m_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    }
    // Without locks on this file system the file is still written; only
    // its age then tells a later write that it is left over.
    if (m_fd >= 0 && lockByte(m_fd, F_WRLCK) == Lock::HeldElsewhere) {
        ::close(m_fd);
        m_fd = -1;
        QFile::remove(m_path);
    }
}

QpkgTemporaryFile::~QpkgTemporaryFile()
{
    if (m_fd < 0)
        return;
    // Once renamed into place there is nothing left under the name to remove.
    removeWithSideFiles(m_path);
    ::close(m_fd);
}

bool QpkgTemporaryFile::isTemporaryName(const QString &fileName, const QString &targetName)
{
    const qsizetype expected = targetName.size() + 1 + kIdDigits + kSuffix.size();
    if (fileName.size() != expected || !fileName.startsWith(targetName) || !fileName.endsWith(kSuffix)
        || fileName.at(targetName.size()) != QLatin1Char('.'))
        return false;
    for (qsizetype i = targetName.size() + 1; i < targetName.size() + 1 + kIdDigits; ++i) {
        const QChar c = fileName.at(i);
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

int QpkgTemporaryFile::removeStale(const QString &target, int minimumAgeSeconds)
{
    const QFileInfo targetInfo(target);
    const QString targetName = targetInfo.fileName();
    const QDir folder = targetInfo.absoluteDir();
    // Only names that begin with the target's: a folder of 100,000 pictures
    // is not listed whole.
    const QStringList candidates =
        folder.entryList({QDir::toNativeSeparators(targetName).replace(QLatin1Char('['), QStringLiteral("[[]"))
                              .replace(QLatin1Char('*'), QStringLiteral("[*]"))
                              .replace(QLatin1Char('?'), QStringLiteral("[?]"))
                          + QStringLiteral(".*") + kSuffix},
                         QDir::Files | QDir::Hidden | QDir::System);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minimumAgeSeconds);
    int removed = 0;
    for (const QString &name : candidates) {
        if (!isTemporaryName(name, targetName))
            continue;
        const QString path = folder.filePath(name);
        const QFileInfo info(path);
        if (info.isSymLink() || info.lastModified().toUTC() > before || !isLeftOver(path))
            continue;
        removeWithSideFiles(path);
        ++removed;
    }
    return removed;
}

} // namespace Quillmark
