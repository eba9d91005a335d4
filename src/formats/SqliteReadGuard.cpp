#include "formats/SqliteReadGuard.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace Quillmark {

namespace {

// SQLite calls the progress handler after this many virtual machine steps.
constexpr int kStepsBetweenChecks = 1000;

sqlite3 *handleOf(QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

} // namespace

std::unique_ptr<SqliteReadGuard> SqliteReadGuard::attach(QSqlDatabase &db, qint64 valueBytes,
                                                         std::chrono::milliseconds stepTime)
{
    sqlite3 *handle = handleOf(db);
    if (!handle)
        return nullptr;
    std::unique_ptr<SqliteReadGuard> guard(new SqliteReadGuard(handle, stepTime));
    guard->setValueLimit(valueBytes);
    sqlite3_progress_handler(handle, kStepsBetweenChecks, &SqliteReadGuard::onProgress, guard.get());
    sqlite3_trace_v2(handle, SQLITE_TRACE_STMT | SQLITE_TRACE_ROW, &SqliteReadGuard::onTrace, guard.get());
    return guard;
}

SqliteReadGuard::SqliteReadGuard(sqlite3 *handle, std::chrono::milliseconds stepTime)
    : m_handle(handle), m_stepTime(stepTime), m_deadline(std::chrono::steady_clock::now() + stepTime)
{
}

SqliteReadGuard::~SqliteReadGuard()
{
    detach();
}

void SqliteReadGuard::setValueLimit(qint64 bytes)
{
    if (!m_handle)
        return;
    // SQLite caps the limit at its own largest value length.
    const int limit = int(std::clamp<qint64>(bytes, 1, std::numeric_limits<int>::max()));
    sqlite3_limit(m_handle, SQLITE_LIMIT_LENGTH, limit);
    m_valueLimit = sqlite3_limit(m_handle, SQLITE_LIMIT_LENGTH, -1);
}

void SqliteReadGuard::detach()
{
    if (!m_handle)
        return;
    sqlite3_progress_handler(m_handle, 0, nullptr, nullptr);
    sqlite3_trace_v2(m_handle, 0, nullptr, nullptr);
    m_handle = nullptr;
}

int SqliteReadGuard::onProgress(void *guard)
{
    const auto *self = static_cast<SqliteReadGuard *>(guard);
    return std::chrono::steady_clock::now() > self->m_deadline ? 1 : 0;
}

int SqliteReadGuard::onTrace(unsigned, void *guard, void *, void *)
{
    auto *self = static_cast<SqliteReadGuard *>(guard);
    self->m_deadline = std::chrono::steady_clock::now() + self->m_stepTime;
    return 0;
}

} // namespace Quillmark
