#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace Quillmark {

// Writes a dataset as a package. The package is built in a temporary file in
// the target's folder; only after every row was inserted, the transaction
// committed and the log folded into the file is it renamed over the target.
// Any failure removes the temporary file and leaves the target as it was.
class QpkgWriter {
public:
    QpkgWriter(const Dataset &dataset, ProgressCallback progress, const QString &projectType);

    bool write(const QString &path);

    // The media written without their bytes because they are no picture or
    // video (their paths, or "image N" / "video N"), in dataset order.
    const QStringList &refusedMedia() const { return m_refused; }

private:
    bool writeDatabase(const QString &file);
    bool createSchema(QSqlDatabase &db);
    bool insertMetadata(QSqlDatabase &db);
    bool insertClasses(QSqlDatabase &db);
    bool insertImages(QSqlDatabase &db);
    bool insertVideos(QSqlDatabase &db);
    QStringList metadataRows() const;
    QStringList classTitles() const;

    const Dataset &m_dataset;
    ProgressCallback m_progress;
    QString m_projectType;
    QStringList m_classTitles;
    QHash<QString, int> m_classIds;
    QStringList m_refused;
};

} // namespace Quillmark
