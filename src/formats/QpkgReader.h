#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QHash>
#include <QMap>
#include <QSize>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace Quillmark {

// Reads the rows of an open package into a dataset. Images found as files
// beside the package are referred to by path; all others keep a reference to
// their stored bytes (the package and the row), which are read only when the
// pixels are needed, so a package of any size opens in bounded memory.
// Missing tables yield nothing; a table that exists but cannot be read (a
// damaged file) fails the whole read.
class QpkgReader {
public:
    QpkgReader(QSqlDatabase &db, const QString &packagePath, ProgressCallback progress);

    bool read(Dataset &dataset);

private:
    struct ImageRow {
        int id = 0;
        QString fileName;   // QpkgHandler::mediaFileName of the stored name
        QString storedName; // as stored
        int width = 0;
        int height = 0;
        qint64 storedLength = -1;   // -1: the bytes are NULL
    };

    bool tableExists(const QString &table);
    bool hasColumn(const QString &table, const QString &column);
    bool readClasses(Dataset &dataset);
    bool readKeypointSchema(Dataset &dataset);
    bool readImageAnnotations();
    bool readImageRows(QList<ImageRow> &rows);
    bool readImages(Dataset &dataset);
    void referToStoredImage(const ImageRow &row, ImageEntry &entry) const;
    QSize storedImageSize(const ImageRow &row) const;
    bool readVideoAnnotations(QHash<int, QMap<int, QList<Annotation>>> &byVideo);
    bool readVideos(Dataset &dataset);

    QSqlDatabase &m_db;
    QString m_packagePath;
    QString m_folder;
    ProgressCallback m_progress;
    QHash<int, QString> m_classTitles;
    QHash<int, QList<Annotation>> m_imageLabels;
};

} // namespace Quillmark
