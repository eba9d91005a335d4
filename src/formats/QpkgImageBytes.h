#pragma once

#include "model/StoredImageBytes.h"

#include <QString>

namespace Quillmark {

// The bytes of one image row of a package, left in the package file: its
// absolute path and the row's SQLite row id (the image id in packages we
// write), file name (as QpkgHandler::mediaFileName gives it) and byte count.
// Each read opens a connection of its own, so it may run on any thread. A
// package that was replaced by another one (or damaged) since the row was read
// gives no bytes rather than another image's: the row must still carry the
// same file name and byte count. Saving the project over its own package keeps
// every row so.
class QpkgImageBytes : public StoredImageBytes {
public:
    QpkgImageBytes(const QString &packagePath, qint64 rowId, const QString &fileName, qint64 length);

    QByteArray read() const override;

    const QString &packagePath() const { return m_packagePath; }
    qint64 rowId() const { return m_rowId; }
    qint64 length() const { return m_length; }

private:
    QString m_packagePath;
    qint64 m_rowId;
    QString m_fileName;
    qint64 m_length;
};

} // namespace Quillmark
