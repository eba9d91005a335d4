#include "formats/SafeWrite.h"

#include "formats/ExportJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDateTime>
#endif

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

const QString &temporarySuffix()
{
    static const QString suffix = QStringLiteral(".qmtmp");
    return suffix;
}

} // namespace

QString temporaryFileSuffix()
{
    return temporarySuffix();
}

#ifdef Q_OS_LINUX

namespace {

// A file descriptor closed when it goes out of scope; close() reports the
// error a delayed write may only show there.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    bool close()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The temporary beside `path`, created afresh: a stale one of an interrupted
// run is removed first; anything else in the way (a folder) fails.
int createTemporary(const QByteArray &temporary)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        if (::unlink(temporary.constData()) != 0)
            return -1;
    }
    return -1;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Closes the written temporary and renames it over `path`; on any failure the
// temporary is removed and `path` is untouched.
bool commitTemporary(FileDescriptor &file, const QByteArray &temporary, const QByteArray &path, bool written)
{
    const bool closed = file.close();
    if (written && closed && ::rename(temporary.constData(), path.constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}

// Errors by which copy_file_range says it cannot serve these two files (other
// file systems, an old kernel, a file system without support), not that the
// copy failed: plain reads and writes take over.
bool kernelCopyUnavailable(int error)
{
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL || error == EBADF;
}

// Reads and writes `size` bytes from the current offsets on.
bool copyByReading(int from, int to, qint64 size)
{
    char buffer[64 * 1024];
    while (size > 0) {
        const ssize_t n = ::read(from, buffer, size_t(std::min<qint64>(size, qint64(sizeof buffer))));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // shorter than its size said
        if (!writeAll(to, buffer, n))
            return false;
        size -= n;
    }
    return true;
}

// Copies exactly `size` bytes of `from` into the empty file `to`, leaving the
// source's offset at the end of what was copied.
bool copyContents(int from, int to, qint64 size)
{
    qint64 copied = 0;
    while (copied < size) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, size_t(size - copied), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && copied == 0 && kernelCopyUnavailable(errno))
            return copyByReading(from, to, size);
        if (n <= 0)
            return false;
        copied += n;
    }
    return true;
}

bool sameStamp(const struct stat &a, const struct stat &b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Whether the source still is what it was when the copy began: nothing more
// to read after its size, and neither size nor modification time changed.
bool sourceUnchanged(int from, const struct stat &before)
{
    char byte;
    ssize_t n;
    do {
        n = ::read(from, &byte, 1);
    } while (n < 0 && errno == EINTR);
    struct stat after;
    return n == 0 && ::fstat(from, &after) == 0 && sameStamp(before, after);
}

// Copies the whole of the open source `from`, whose status was `before`, into
// the empty file `to`; false when that fails or the source changed meanwhile.
bool copyOpenFile(int from, int to, const struct stat &before)
{
    bool copied = false;
    // A reflink shares the blocks on file systems that can (Btrfs, XFS).
    if (before.st_size > 0 && ::ioctl(to, FICLONE, from) == 0) {
        struct stat clone;
        copied = ::fstat(to, &clone) == 0 && clone.st_size == before.st_size &&
                 ::lseek(from, before.st_size, SEEK_SET) == before.st_size;
    } else {
        copied = copyContents(from, to, before.st_size);
    }
    return copied && sourceUnchanged(from, before);
}

// The first bytes of the open file, read without moving its position.
bool readHead(int fd, qint64 size, QByteArray *head)
{
    head->resize(qsizetype(std::min(size, kCopyHeadBytes)));
    qint64 got = 0;
    while (got < head->size()) {
        const ssize_t n = ::pread(fd, head->data() + got, size_t(head->size() - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    ExportJournal::noteWrite(path);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = QFile::encodeName(path + temporarySuffix());
    FileDescriptor file(createTemporary(temporary));
    if (!file.isOpen())
        return false;
    return commitTemporary(file, temporary, target, writeAll(file.get(), bytes.constData(), bytes.size()));
}

FileCopyResult copyRegularFileAtomically(const QString &source, const QString &destination,
                                         const FileHeadTest &acceptsHead)
{
    if (source.isEmpty() || destination.isEmpty())
        return FileCopyResult::NoSource;
    // Opened without blocking and without a controlling terminal, so that a
    // FIFO or a terminal put at the path cannot hold or take anything; the
    // kind is told on the descriptor, and only a regular file is read.
    const QByteArray sourcePath = QFile::encodeName(source);
    FileDescriptor from(::open(sourcePath.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!from.isOpen())
        return errno == ENOENT || errno == ENOTDIR ? FileCopyResult::NoSource : FileCopyResult::Failed;
    struct stat before;
    if (::fstat(from.get(), &before) != 0)
        return FileCopyResult::Failed;
    if (!S_ISREG(before.st_mode))
        return FileCopyResult::NoSource;
    if (acceptsHead) {
        QByteArray head;
        if (!readHead(from.get(), before.st_size, &head))
            return FileCopyResult::Failed;
        if (!acceptsHead(head))
            return FileCopyResult::Refused;
    }
    const QByteArray target = QFile::encodeName(destination);
    // A destination that is not there yet is made and filled in place: there
    // is no file to keep, and a copy that fails removes it again. That costs
    // the folder one new name where a temporary costs three changes, which is
    // most of a small picture's copy. (A link at the path counts as there.)
    // It is noted before it is made, and only when nothing is at the path: a
    // file already there may be the source itself, which no export may ever
    // take for its own.
    bool noted = false;
    if (ExportJournal::isWatching(destination)) {
        struct stat present;
        noted = ::lstat(target.constData(), &present) != 0 && errno == ENOENT;
        if (noted)
            ExportJournal::noteWrite(destination);
    }
    FileDescriptor fresh(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fresh.isOpen()) {
        if (!noted)
            ExportJournal::noteWrite(destination);
        const bool copied = copyOpenFile(from.get(), fresh.get(), before);
        if (fresh.close() && copied)
            return FileCopyResult::Copied;
        ::unlink(target.constData());
        return FileCopyResult::Failed;
    }
    if (errno != EEXIST)
        return FileCopyResult::Failed;
    struct stat existing;
    if (::stat(target.constData(), &existing) == 0 && existing.st_dev == before.st_dev &&
        existing.st_ino == before.st_ino)
        return FileCopyResult::SameFile;

    ExportJournal::noteWrite(destination);
    const QByteArray temporary = QFile::encodeName(destination + temporarySuffix());
    FileDescriptor to(createTemporary(temporary));
    if (!to.isOpen())
        return FileCopyResult::Failed;
    const bool copied = copyOpenFile(from.get(), to.get(), before);
    return commitTemporary(to, temporary, target, copied) ? FileCopyResult::Copied : FileCopyResult::Failed;
}

#else

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
    ExportJournal::noteWrite(path);
    const QString temporary = path + temporarySuffix();
    QFile::remove(temporary);
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(temporary);
        return false;
    }
    return renameOver(temporary, path);
}

FileCopyResult copyRegularFileAtomically(const QString &source, const QString &destination,
                                         const FileHeadTest &acceptsHead)
{
    const QFileInfo info(source);
    if (source.isEmpty() || destination.isEmpty() || !info.isFile())
        return FileCopyResult::NoSource;
    if (acceptsHead) {
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly))
            return FileCopyResult::Failed;
        if (!acceptsHead(file.read(kCopyHeadBytes)))
            return FileCopyResult::Refused;
    }
    if (isSameFile(source, destination))
        return FileCopyResult::SameFile;
    ExportJournal::noteWrite(destination);
    const qint64 size = info.size();
    const QDateTime modified = info.lastModified();
    const QString temporary = destination + temporarySuffix();
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary)) {
        QFile::remove(temporary);
        return FileCopyResult::Failed;
    }
    const QFileInfo after(source);
    if (QFileInfo(temporary).size() != size || after.size() != size || after.lastModified() != modified) {
        QFile::remove(temporary);
        return FileCopyResult::Failed;
    }
    return renameOver(temporary, destination) ? FileCopyResult::Copied : FileCopyResult::Failed;
}

#endif

bool copyFileAtomically(const QString &source, const QString &destination)
{
    const FileCopyResult result = copyRegularFileAtomically(source, destination);
    return result == FileCopyResult::Copied || result == FileCopyResult::SameFile;
}

bool isSameFile(const QString &a, const QString &b)
{
    std::error_code error;
    const bool same = std::filesystem::equivalent(toFileSystemPath(a), toFileSystemPath(b), error);
    return same && !error;
}

bool writeDocumentFile(const QString &path, const QByteArray &bytes)
{
    ExportJournal::noteWrite(path);
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
