#pragma once

#include "model/StoredImageBytes.h"

#include <QString>

namespace Quillmark {

// The bytes of one image row of a package, left in the package file: its
// absolute path and the row's id, file name (as QpkgHandler::mediaFileName
// gives it) and byte count. Each read opens a connection of its own, so it may
// run on any thread. A package that was replaced by another one (or damaged)
// since the row was read gives no bytes rather than another image's: the row
// must still carry the same file name and byte count. Saving the project over
// its own package keeps every row so.
class QpkgImageBytes : public StoredImageBytes {
public:
    QpkgImageBytes(const QString &packagePath, int imageId, const QString &fileName, qint64 length);

    QByteArray read() const override;

    const QString &packagePath() const { return m_packagePath; }
    int imageId() const { return m_imageId; }
    qint64 length() const { return m_length; }

private:
    QString m_packagePath;
    int m_imageId;
    QString m_fileName;
    qint64 m_length;
};

} // namespace Quillmark
