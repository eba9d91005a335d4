#pragma once

#include <QSqlDatabase>
#include <QtGlobal>

#include <chrono>
#include <memory>

struct sqlite3;

namespace Quillmark {

// Bounds one open SQLite connection that reads an untrusted file: the longest
// value SQLite may hand out (longer ones make the statement fail with "string
// or blob too big" before they are built), and the time a statement may run
// without producing a row (it is then interrupted). The clock starts again at
// every statement and every row, so a long result read row by row is never cut
// short; only a single step that does not end is.
class SqliteReadGuard {
public:
    // Null when the connection is not an open SQLite connection.
    static std::unique_ptr<SqliteReadGuard> attach(QSqlDatabase &db, qint64 valueBytes,
                                                   std::chrono::milliseconds stepTime);
    ~SqliteReadGuard();

    SqliteReadGuard(const SqliteReadGuard &) = delete;
    SqliteReadGuard &operator=(const SqliteReadGuard &) = delete;

    qint64 valueLimit() const { return m_valueLimit; }
    void setValueLimit(qint64 bytes);

    // Removes the hooks; the connection may then be closed.
    void detach();

private:
    SqliteReadGuard(sqlite3 *handle, std::chrono::milliseconds stepTime);
    static int onProgress(void *guard);
    static int onTrace(unsigned event, void *guard, void *, void *);

    sqlite3 *m_handle;
    std::chrono::milliseconds m_stepTime;
    std::chrono::steady_clock::time_point m_deadline;
    qint64 m_valueLimit = 0;
};

} // namespace Quillmark
