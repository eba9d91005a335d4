#include "model/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quillmark {

FileRefusal openRegularFileOrSay(QFile &file, const QString &path)
{
    if (path.isEmpty())
        return FileRefusal::NoName;
    // open() follows symbolic links; O_NONBLOCK keeps a named pipe without a
    // writer from holding the open, and fstat then tells pipes, sockets,
    // devices and folders from files on the descriptor itself.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            return FileRefusal::Missing;
        case EACCES:
        case EPERM:
            return FileRefusal::NoPermission;
        default:
            return FileRefusal::Unreadable;
        }
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        return folder ? FileRefusal::Folder : FileRefusal::NotRegular;
    }
    // Reads of a regular file never wait; the flag goes for good measure.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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

QByteArray readRegularFileHead(const QString &path, qint64 count)
{
    QFile file;
    if (!openRegularFile(file, path))
        return {};
    return file.read(count);
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
