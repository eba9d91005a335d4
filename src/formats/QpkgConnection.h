#pragma once

#include <QSqlDatabase>
#include <QString>

namespace Quillmark {

// One SQLite connection to a package, alive for one call. Each object registers
// its own uniquely named QtSql connection ("qmpkg_" + a fresh UUID), so any
// number of threads may open packages at once without sharing a connection.
// It must be used and destroyed on the thread that created it.
//
// A read-only connection to a package without a pending log reads the file as
// immutable and creates no side files at all; with a pending log it reads
// through the log. Closing a read-write connection first folds the write-ahead log back into the
// file (checkpoint with TRUNCATE). Side files are cleaned up carefully: a "-wal"
// is removed only when it is empty (a non-empty one holds committed data of a
// crashed writer), a "-shm" only when this connection created it or it is empty.
class QpkgConnection {
public:
    QpkgConnection(const QString &path, bool readOnly);
    ~QpkgConnection();

    QpkgConnection(const QpkgConnection &) = delete;
    QpkgConnection &operator=(const QpkgConnection &) = delete;

    bool isOpen() const;
    QSqlDatabase &database() { return m_db; }
    const QString &path() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }
    QString lastErrorText() const;

    // Checkpoints (read-write only), closes, removes the QtSql connection and
    // the side files as described above. True when the checkpoint, if one was
    // due, folded the whole log into the file. Safe to call more than once.
    bool close();

    static QString walPath(const QString &path) { return path + QStringLiteral("-wal"); }
    static QString shmPath(const QString &path) { return path + QStringLiteral("-shm"); }

private:
    bool checkpoint();
    void removeSideFiles() const;

    QSqlDatabase m_db;
    QString m_name;
    QString m_path;
    bool m_readOnly = true;
    bool m_shmExisted = false;
    bool m_closed = false;
    QString m_openError;
};

} // namespace Quillmark
