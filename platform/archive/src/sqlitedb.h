#pragma once
// A thin owner of one SQLite connection and its prepared statements.

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace nyx::archive {
class Statement
{
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt *stmt) : m_stmt(stmt) {}
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement();

    bool valid() const { return m_stmt != nullptr; }
    Statement &bind(int index, std::int64_t value);
    Statement &bind(int index, const void *bytes, int size); // blob
    Statement &bindNull(int index);
    // SQLITE_ROW (100), SQLITE_DONE (101) or an error code.
    int step();
    void reset();
    std::int64_t int64(int column) const;
    bool isNull(int column) const;
    QString text(int column) const;
    std::vector<unsigned char> blob(int column) const;
    const void *blobData(int column, int *size) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
};

class SqliteDb
{
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb &) = delete;
    SqliteDb &operator=(const SqliteDb &) = delete;

    // Opens (creating) the database in WAL mode with synchronous=NORMAL; false on failure (see error()).
    bool open(const QString &path);
    bool isOpen() const { return m_db != nullptr; }
    bool exec(const char *sql);
    Statement prepare(const char *sql);
    // A statement prepared once and kept; reset before it is handed out.
    Statement &cached(const char *sql);
    std::int64_t lastInsertId() const;
    int changes() const;
    QString error() const;
    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    std::vector<std::pair<const char *, std::unique_ptr<Statement>>> m_cache;
    QString m_error;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(SqliteDb &db);
    ~Transaction();
    bool ok() const { return m_open; }
    bool commit();

private:
    SqliteDb &m_db;
    bool m_open = false;
};
} // namespace nyx::archive
