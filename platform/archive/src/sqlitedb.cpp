#include "sqlitedb.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace nyx::archive {
Statement::Statement(Statement &&other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement &Statement::bind(int index, std::int64_t value)
{
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement &Statement::bind(int index, const void *bytes, int size)
{
    sqlite3_bind_blob(m_stmt, index, bytes, size, SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
    return *this;
}

int Statement::step()
{
    return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE;
}

void Statement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

std::int64_t Statement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QString Statement::text(int column) const
{
    const unsigned char *text = sqlite3_column_text(m_stmt, column);
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

std::vector<unsigned char> Statement::blob(int column) const
{
    int size = 0;
    const void *data = blobData(column, &size);
    const auto *bytes = static_cast<const unsigned char *>(data);
    return bytes ? std::vector<unsigned char>(bytes, bytes + size) : std::vector<unsigned char>();
}

const void *Statement::blobData(int column, int *size) const
{
    const void *data = sqlite3_column_blob(m_stmt, column);
    *size = sqlite3_column_bytes(m_stmt, column);
    return data;
}

SqliteDb::~SqliteDb()
{
    m_cache.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
}

bool SqliteDb::open(const QString &path)
{
    const QByteArray file = path.toUtf8();
    const int rc = sqlite3_open_v2(file.constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("cannot open");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL: readers in other processes never block the writer and see each commit at once.
    // synchronous=NORMAL: a commit is durable against a crash of the process (the WAL is in the
    // page cache); the WAL is synced at checkpoints, so a power cut can lose the last commits.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA foreign_keys=OFF")) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    return true;
}

bool SqliteDb::exec(const char *sql)
{
    if (!m_db)
        return false;
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        m_error = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        return false;
    }
    return true;
}

Statement SqliteDb::prepare(const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        if (m_db)
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return Statement();
    }
    return Statement(stmt);
}

Statement &SqliteDb::cached(const char *sql)
{
    for (auto &entry : m_cache) {
        if (entry.first == sql) {
            entry.second->reset();
            return *entry.second;
        }
    }
    m_cache.emplace_back(sql, std::make_unique<Statement>(prepare(sql)));
    return *m_cache.back().second;
}

std::int64_t SqliteDb::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteDb::changes() const
{
    return sqlite3_changes(m_db);
}

QString SqliteDb::error() const
{
    return m_error;
}

Transaction::Transaction(SqliteDb &db) : m_db(db)
{
    m_open = m_db.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (m_open)
        m_db.exec("ROLLBACK");
}

bool Transaction::commit()
{
    if (!m_open)
        return false;
    if (!m_db.exec("COMMIT")) {
        m_db.exec("ROLLBACK");
        m_open = false;
        return false;
    }
    m_open = false;
    return true;
}
} // namespace nyx::archive
