#include "formats/QpkgTemporaryFile.h"

#include "formats/QpkgConnection.h"
#include "model/PathInFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
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

// Whether `fd` is still the file named `path` (not a link to it, nor another
// file put under its name).
bool namesOpenFile(const QString &path, int fd)
{
    struct stat opened;
    struct stat named;
    return ::fstat(fd, &opened) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
        && S_ISREG(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void removeWithSideFiles(const QString &path)
{
    QFile::remove(path);
    QFile::remove(QpkgConnection::walPath(path));
    QFile::remove(QpkgConnection::shmPath(path));
    QFile::remove(path + QStringLiteral("-journal"));
}

// Removes the temporary at `path` when it is left over: a regular file
// (never a link, a pipe or a device) whose lock nobody holds (where the file
// system has no locks, one unchanged since `unlockedBefore`), empty or an
// SQLite file, as a write leaves it at any moment. The lock is held until the
// file is gone, so no writer can take the file meanwhile.
bool removeIfLeftOver(const QString &path, qint64 unlockedBefore)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const int fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    bool leftOver = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (leftOver) {
        switch (lockByte(fd, F_RDLCK)) {
        case Lock::Taken:
            break;
        case Lock::HeldElsewhere:
            leftOver = false;
            break;
        case Lock::Unsupported:
            leftOver = qint64(info.st_mtim.tv_sec) < unlockedBefore;
            break;
        }
    }
    if (leftOver) {
        char head[16] = {};
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        leftOver = (n == 0 || (n == ssize_t(sizeof head) && std::memcmp(head, "SQLite format 3", 16) == 0))
            && namesOpenFile(path, fd);
    }
    if (leftOver)
        removeWithSideFiles(path);
    ::close(fd);
    return leftOver;
}

} // namespace

QpkgTemporaryFile::QpkgTemporaryFile(const QString &target)
{
    for (int attempt = 0; attempt < 8 && m_fd < 0; ++attempt) {
        m_path = target + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(kIdDigits) + kSuffix;
        m_fd = openFile(m_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (m_fd < 0)
            continue;
        // Without locks on this file system the file is still written; only
        // its age then tells a later write that it is left over. Between its
        // creation and the lock, a write clearing leftovers may have taken
        // the new, empty file for one: it holds the lock while it removes it.
        const Lock lock = lockByte(m_fd, F_WRLCK);
        if (lock == Lock::HeldElsewhere || (lock == Lock::Taken && !namesOpenFile(m_path, m_fd))) {
            ::close(m_fd);
            m_fd = -1;
        }
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

int QpkgTemporaryFile::removeStale(const QString &target, int unlockedAgeSeconds)
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
    const qint64 unlockedBefore = QDateTime::currentSecsSinceEpoch() - unlockedAgeSeconds;
    int removed = 0;
    for (const QString &name : candidates) {
        if (isTemporaryName(name, targetName) && removeIfLeftOver(pathInFolder(folder, name), unlockedBefore))
            ++removed;
    }
    return removed;
}

} // namespace Quillmark
