#include "formats/QpkgImageBytes.h"

#include "formats/QpkgConnection.h"
#include "formats/QpkgHandler.h"

#include <QFileInfo>
#include <QSqlQuery>

namespace Quillmark {

QpkgImageBytes::QpkgImageBytes(const QString &packagePath, qint64 rowId, const QString &fileName, qint64 length)
    : m_packagePath(QFileInfo(packagePath).absoluteFilePath()), m_rowId(rowId), m_fileName(fileName), m_length(length)
{
}

QByteArray QpkgImageBytes::read() const
{
    if (!QFileInfo(m_packagePath).isFile())
        return {};
    QpkgConnection connection(m_packagePath, true);
    if (!connection.isOpen() || !connection.hasPlainTable(QStringLiteral("images")))
        return {};
    // The row must still hold as many bytes as when it was read; only then
    // may a value of that size come out of the connection.
    const QpkgConnection::ValueAllowance allowance(connection, m_length);
    QSqlQuery select(connection.database());
    select.setForwardOnly(true);
    if (!select.prepare(QStringLiteral("SELECT filename, bytes FROM images WHERE rowid=? AND length(bytes)=?")))
        return {};
    select.bindValue(0, m_rowId);
    select.bindValue(1, m_length);
    if (!select.exec() || !select.next())
        return {};
    if (QpkgHandler::mediaFileName(select.value(0).toString(), "image", m_rowId) != m_fileName)
        return {};
    return select.value(1).toByteArray();
}

} // namespace Quillmark
