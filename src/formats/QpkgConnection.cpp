#include "formats/QpkgConnection.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

namespace Quillmark {

namespace {

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

QpkgConnection::QpkgConnection(const QString &path, bool readOnly)
    : m_name(QStringLiteral("qmpkg_") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_path(path),
      m_readOnly(readOnly),
      m_shmExisted(QFileInfo::exists(shmPath(path)))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    if (readOnly && !hasLogContent(path)) {
        m_db.setDatabaseName(immutableUri(path));
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        if (m_db.open())
            return;
    }
    // Plain opening: read-write, or read-only through a pending log, or a path
    // that SQLite does not take as a file URI (a network share, for one).
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY") : QString());
    if (!m_db.open())
        m_openError = m_db.lastError().text();
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
