#include "model/RegularFile.h"

#include <QFile>
#include <QFileInfo>

namespace Quillmark {

bool openRegularFile(QFile &file, const QString &path)
{
    if (path.isEmpty())
        return false;
    // QFileInfo follows symbolic links; pipes, sockets and devices are no files.
    if (!QFileInfo(path).isFile())
        return false;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The file may have been replaced between the check and the open.
    if (file.isSequential()) {
        file.close();
        return false;
    }
    return true;
}

QByteArray readRegularFileHead(const QString &path, qint64 count)
{
    QFile file;
    if (!openRegularFile(file, path))
        return {};
    return file.read(count);
}

} // namespace Quillmark
