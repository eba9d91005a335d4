#include "model/RegularFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quillmark {

namespace {

// The descriptor of `path` opened for reading when it names a regular file,
// with its status; -1 with the reason otherwise.
int openRegularDescriptor(const QString &path, FileRefusal *refusal, struct stat *info)
{
    *refusal = FileRefusal::None;
    if (path.isEmpty()) {
        *refusal = FileRefusal::NoName;
        return -1;
    }
    // open() follows symbolic links; O_NONBLOCK keeps a named pipe without a
    // writer from holding the open, and fstat then tells pipes, sockets,
    // devices and folders from files on the descriptor itself.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            *refusal = FileRefusal::Missing;
            break;
        case EACCES:
        case EPERM:
            *refusal = FileRefusal::NoPermission;
            break;
        default:
            *refusal = FileRefusal::Unreadable;
        }
        return -1;
    }
    *info = {};
    const bool stated = ::fstat(fd, info) == 0;
    if (!stated || !S_ISREG(info->st_mode)) {
        *refusal = S_ISDIR(info->st_mode) ? FileRefusal::Folder : FileRefusal::NotRegular;
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never wait; the flag goes for good measure. It
    // was the only status flag the file was opened with, so none is kept.
    ::fcntl(fd, F_SETFL, 0);
    return fd;
}

// Reads up to `count` bytes at the descriptor's position; fewer only at the
// end of the file. False on an error.
bool readUpTo(int fd, char *out, qint64 count, qint64 *got)
{
    *got = 0;
    while (*got < count) {
        const ssize_t n = ::read(fd, out + *got, size_t(count - *got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        *got += n;
    }
    return true;
}

} // namespace

FileRefusal openRegularFileOrSay(QFile &file, const QString &path)
{
    FileRefusal refusal;
    struct stat info {};
    const int fd = openRegularDescriptor(path, &refusal, &info);
    if (fd < 0)
        return refusal;
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return FileRefusal::Unreadable;
    }
    return FileRefusal::None;
}

bool openRegularFile(QFile &file, const QString &path)
{
    return openRegularFileOrSay(file, path) == FileRefusal::None;
}

QByteArray readRegularFileHead(const QString &path, qint64 count, qint64 *fileSize)
{
    if (fileSize)
        *fileSize = -1;
    FileRefusal refusal;
    struct stat info {};
    const int fd = openRegularDescriptor(path, &refusal, &info);
    if (fd < 0)
        return {};
    if (fileSize)
        *fileSize = qint64(info.st_size);
    // Files of the kernel's own (under /proc) tell a size of 0 and have more.
    constexpr qint64 unknownSizeRead = 64 * 1024;
    const qint64 room = info.st_size > 0 ? qint64(info.st_size) : unknownSizeRead;
    QByteArray head(std::clamp<qint64>(count, 0, room), Qt::Uninitialized);
    qint64 got = 0;
    const bool ok = readUpTo(fd, head.data(), head.size(), &got);
    ::close(fd);
    if (!ok)
        return {};
    head.truncate(got);
    return head;
}

WholeFileRead readRegularFileWhole(const QString &path, qint64 maxBytes, QByteArray *out)
{
    out->clear();
    FileRefusal refusal;
    struct stat info {};
    const int fd = openRegularDescriptor(path, &refusal, &info);
    if (fd < 0)
        return WholeFileRead::CannotOpen;
    if (qint64(info.st_size) > maxBytes) {
        ::close(fd);
        return WholeFileRead::TooLarge;
    }
    // The file may grow while it is read: never take more than the bound
    // (one byte more tells that it was passed).
    const qint64 wanted = std::min(maxBytes, qint64(info.st_size)) + 1;
    QByteArray bytes(wanted, Qt::Uninitialized);
    qint64 got = 0;
    const bool ok = readUpTo(fd, bytes.data(), wanted, &got);
    ::close(fd);
    if (!ok)
        return WholeFileRead::ReadError;
    if (got > maxBytes)
        return WholeFileRead::TooLarge;
    bytes.truncate(got);
    *out = std::move(bytes);
    return WholeFileRead::Ok;
}

bool readFileAt(QFile &file, qint64 offset, char *out, qint64 length)
{
    const int fd = file.handle();
    if (fd < 0 || offset < 0 || length < 0)
        return false;
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

} // namespace Quillmark
