#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace Quillmark {

// Opens `path` for reading only when it names a regular file, after following
// symbolic links. Folders, pipes, sockets and devices are refused before they
// are opened: a named pipe would block the reader until some other program
// writes to it, and a device may never end.
// One open and one fstat: the file is opened without waiting (a pipe cannot
// block the open), its kind checked on the open descriptor (no race with a
// swap of the file in between), and only then handed to `file`.
bool openRegularFile(QFile &file, const QString &path);

// Why openRegularFile refused a path.
enum class FileRefusal { None, NoName, Missing, Folder, NotRegular, NoPermission, Unreadable };
FileRefusal openRegularFileOrSay(QFile &file, const QString &path);

// At most the first `count` bytes of a regular file; empty when it is none or
// cannot be read. `fileSize` gets its size when it is opened, else -1.
// Open, fstat, read and close: nothing else touches the disk.
QByteArray readRegularFileHead(const QString &path, qint64 count, qint64 *fileSize = nullptr);

// A regular file read whole in as few system calls as that takes, when it
// holds at most `maxBytes` (also when it grows while it is read).
enum class WholeFileRead { Ok, CannotOpen, TooLarge, ReadError };
WholeFileRead readRegularFileWhole(const QString &path, qint64 maxBytes, QByteArray *out);

// Reads exactly `length` bytes at `offset` of the open `file` without moving
// its position; false on an error or when the file ends before.
bool readFileAt(QFile &file, qint64 offset, char *out, qint64 length);

} // namespace Quillmark
