#include "formats/QpkgConnection.h"

#include "formats/SqliteReadGuard.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include <atomic>

namespace Quillmark {

namespace {

std::atomic<qint64> g_valueBytes{QpkgConnection::ReadLimits().valueBytes};
std::atomic<qint64> g_stepMilliseconds{QpkgConnection::ReadLimits().stepTime.count()};

bool isEmptyFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() == 0;
}

bool hasLogContent(const QString &path)
{
    const QFileInfo wal(QpkgConnection::walPath(path));
    return wal.isFile() && wal.size() > 0;
}

// A read-only connection to a package whose log is empty opens the file as
// immutable: SQLite then reads the main file alone and creates no "-wal" or
// "-shm" beside it, so readers never race each other over side files and
// packages on read-only media open too. Our writers never change a package in
// place (they replace it whole), so nothing changes under such a reader.
QString immutableUri(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded)
        + QStringLiteral("?immutable=1");
}

} // namespace

QpkgConnection::ReadLimits QpkgConnection::readLimits()
{
    return {g_valueBytes.load(), std::chrono::milliseconds(g_stepMilliseconds.load())};
}

void QpkgConnection::setReadLimits(const ReadLimits &limits)
{
    g_valueBytes = limits.valueBytes;
    g_stepMilliseconds = limits.stepTime.count();
}

QpkgConnection::QpkgConnection(const QString &path, bool readOnly)
    : m_name(QStringLiteral("qmpkg_") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_path(path),
      m_readOnly(readOnly),
      m_shmExisted(QFileInfo::exists(shmPath(path)))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    bool opened = false;
    if (readOnly && !hasLogContent(path)) {
        m_db.setDatabaseName(immutableUri(path));
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        opened = m_db.open();
    }
    if (!opened) {
        // Plain opening: read-write, or read-only through a pending log, or a
        // path that SQLite does not take as a file URI (a network share).
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY") : QString());
        opened = m_db.open();
    }
    if (!opened) {
        m_openError = m_db.lastError().text();
        return;
    }
    if (!readOnly)
        return;
    const ReadLimits limits = readLimits();
    m_guard = SqliteReadGuard::attach(m_db, limits.valueBytes, limits.stepTime);
    if (!m_guard) {
        // Without its bounds a connection must not read a stranger's file.
        m_openError = QStringLiteral("the SQLite driver gives no connection handle");
        m_db.close();
    }
}

QpkgConnection::~QpkgConnection()
{
    close();
}

bool QpkgConnection::isOpen() const
{
    return !m_closed && m_db.isOpen();
}

QString QpkgConnection::lastErrorText() const
{
    if (!m_openError.isEmpty())
        return m_openError;
    return m_db.lastError().text();
}

bool QpkgConnection::close()
{
    if (m_closed)
        return true;
    m_closed = true;
    bool folded = true;
    if (m_guard)
        m_guard->detach();
    if (m_db.isOpen()) {
        if (!m_readOnly)
            folded = checkpoint();
        m_db.close();
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
    removeSideFiles();
    return folded;
}

bool QpkgConnection::hasPlainTable(const QString &name)
{
    if (!isOpen())
        return false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // Table names are compared ignoring case, as SQL itself does.
    query.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name=? COLLATE NOCASE"));
    query.bindValue(0, name);
    if (!query.exec() || !query.next())
        return false;
    if (query.value(0).toString().trimmed().startsWith(QLatin1String("CREATE VIRTUAL"), Qt::CaseInsensitive))
        return false;
    query.finish();
    // Column 6 of table_xinfo is "hidden": 2 and 3 mark generated columns,
    // 1 the hidden columns of virtual tables.
    QSqlQuery columns(m_db);
    columns.setForwardOnly(true);
    if (!columns.exec(QStringLiteral("PRAGMA table_xinfo(\"%1\")")
                          .arg(QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")))))
        return false;
    bool anyColumn = false;
    while (columns.next()) {
        anyColumn = true;
        if (columns.value(6).toInt() != 0)
            return false;
    }
    return anyColumn;
}

QpkgConnection::ValueAllowance::ValueAllowance(QpkgConnection &connection, qint64 bytes)
    : m_guard(connection.m_guard.get())
{
    if (m_guard && bytes > m_guard->valueLimit()) {
        m_previous = m_guard->valueLimit();
        m_guard->setValueLimit(bytes);
    } else {
        m_guard = nullptr;
    }
}

QpkgConnection::ValueAllowance::~ValueAllowance()
{
    if (m_guard)
        m_guard->setValueLimit(m_previous);
}

bool QpkgConnection::checkpoint()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")))
        return false;
    // The row is (busy, frames in the log, frames checkpointed); busy means
    // another connection kept the log from being folded in.
    if (query.next() && query.value(0).toInt() != 0)
        return false;
    return true;
}

void QpkgConnection::removeSideFiles() const
{
    const QString wal = walPath(m_path);
    if (isEmptyFile(wal))
        QFile::remove(wal);
    const QString shm = shmPath(m_path);
    if (QFileInfo::exists(shm) && (!m_shmExisted || isEmptyFile(shm)))
        QFile::remove(shm);
}

} // namespace Quillmark
