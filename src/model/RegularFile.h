#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace Quillmark {

// Opens `path` for reading only when it names a regular file, after following
// symbolic links. Folders, pipes, sockets and devices are refused before they
// are opened: a named pipe would block the reader until some other program
// writes to it, and a device may never end.
bool openRegularFile(QFile &file, const QString &path);

// At most the first `count` bytes of a regular file; empty when it is none or
// cannot be read.
QByteArray readRegularFileHead(const QString &path, qint64 count);

} // namespace Quillmark
