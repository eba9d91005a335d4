#pragma once

#include <QSqlDatabase>
#include <QString>

#include <chrono>
#include <memory>

namespace Quillmark {

class SqliteReadGuard;

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
//
// Packages come from anywhere, so a read-only connection is bounded: no value
// (text or blob) longer than ReadLimits::valueBytes comes out of it unless a
// ValueAllowance lets a checked blob through, and a statement that runs longer
// than ReadLimits::stepTime without producing a row is interrupted (it then
// fails as any other failing query does).
class QpkgConnection {
public:
    struct ReadLimits {
        qint64 valueBytes = 64LL * 1024 * 1024;
        std::chrono::milliseconds stepTime{30000};
    };

    // The limits of read-only connections opened from now on. The defaults
    // suit every real package; tests shrink them to see them act.
    static ReadLimits readLimits();
    static void setReadLimits(const ReadLimits &limits);

    QpkgConnection(const QString &path, bool readOnly);
    ~QpkgConnection();

    QpkgConnection(const QpkgConnection &) = delete;
    QpkgConnection &operator=(const QpkgConnection &) = delete;

    bool isOpen() const;
    QSqlDatabase &database() { return m_db; }
    const QString &path() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }
    QString lastErrorText() const;

    // Whether the package holds `name` as a plain table: no view (whose query
    // could run forever), no virtual table, no generated column (whose
    // expression could make a value of any size). Only such tables are read.
    bool hasPlainTable(const QString &name);

    // Lets values of up to `bytes` out of a read-only connection while the
    // object lives: for a blob whose length was checked in SQL first.
    class ValueAllowance {
    public:
        ValueAllowance(QpkgConnection &connection, qint64 bytes);
        ~ValueAllowance();
        ValueAllowance(const ValueAllowance &) = delete;
        ValueAllowance &operator=(const ValueAllowance &) = delete;

    private:
        SqliteReadGuard *m_guard;
        qint64 m_previous = 0;
    };

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
    std::unique_ptr<SqliteReadGuard> m_guard;
};

} // namespace Quillmark
