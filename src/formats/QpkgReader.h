#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QHash>
#include <QMap>
#include <QSize>
#include <QSqlQuery>
#include <QString>

#include <optional>

namespace Quillmark {

class QpkgConnection;

// Reads the rows of an open package into a dataset. Images found as files
// beside the package are referred to by path; all others keep a reference to
// their stored bytes (the package and the row), which are read only when the
// pixels are needed, so a package of any size opens in bounded memory.
// Missing tables yield nothing; a table that exists but cannot be read (a
// damaged file, a value past the connection's bounds) fails the whole read.
//
// Every value is checked as it comes: ids are kept only when they are whole
// numbers in range and not taken (StoredIds), class ids are compared as the
// 64-bit numbers they are, numbers that do not fit single precision take their
// defaults or drop their shape, and blobs are fetched only after their length
// was looked at in SQL.
class QpkgReader {
public:
    QpkgReader(QpkgConnection &connection, ProgressCallback progress);

    bool read(Dataset &dataset);

private:
    struct ImageRow {
        qint64 rowId = 0;
        std::optional<qint64> storedId;
        QString fileName; // QpkgHandler::mediaFileName of the stored name
        int width = 0;
        int height = 0;
        qint64 storedLength = -1;   // -1: the bytes are NULL
    };

    bool run(QSqlQuery &query, const QString &sql);
    bool hasColumn(const QString &table, const QString &column);
    bool readClasses(Dataset &dataset);
    bool readKeypointSchema(Dataset &dataset);
    bool readImageAnnotations();
    bool readImageRows(QList<ImageRow> &rows);
    bool readImages(Dataset &dataset);
    void referToStoredImage(const ImageRow &row, ImageEntry &entry);
    QSize storedImageSize(const ImageRow &row);
    bool readVideoAnnotations(QHash<qint64, QMap<int, QList<Annotation>>> &byVideo);
    bool readVideos(Dataset &dataset);
    bool readVideoBytes(qint64 rowId, qint64 length, QByteArray *bytes);
    std::optional<Annotation> annotationFromQuery(const QSqlQuery &query, int first);

    QpkgConnection &m_connection;
    QString m_packagePath;
    QString m_folder;
    ProgressCallback m_progress;
    QHash<qint64, QString> m_classTitles;
    QHash<qint64, QList<Annotation>> m_imageLabels;
};

} // namespace Quillmark
