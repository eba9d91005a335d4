#pragma once

#include <QString>

class QFile;

namespace Quillmark {

// Opens `path` for reading only when it names a regular file, after following
// symbolic links. Folders, pipes, sockets and devices are refused before they
// are opened: a named pipe would block the reader until some other program
// writes to it, and a device may never end.
bool openRegularFile(QFile &file, const QString &path);

} // namespace Quillmark
