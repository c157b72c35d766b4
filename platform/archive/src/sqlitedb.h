#pragma once
// A thin owner of one SQLite connection and its prepared statements.

#include "win32/winerror.h"

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

    // Opens (creating) the database in WAL mode with synchronous=FULL; false on failure (see error()
    // and failure()). A database on a read-only file system or folder opens read-only: it is read in
    // place, nothing is created, and every write answers E_ACCESSDENIED.
    bool open(const QString &path);
    bool isOpen() const { return m_db != nullptr; }
    bool readOnly() const { return m_readOnly; }
    // A database opened read-only is opened again for writing once its file and folder can be
    // written (a read-only mount made writable). The connection is closed first: SQLite shares one
    // shared-memory index per file among the connections of a process, and the read-only one would
    // keep every later connection read-only. The caller makes sure that no statement of this
    // connection runs meanwhile and that the process holds no other connection to the file. True
    // when the database can be written afterwards; on failure it is read as before.
    bool reopenWritable();
    bool exec(const char *sql);
    // Ends an open transaction without touching error() and failure(), which keep why it failed.
    void rollback();
    Statement prepare(const char *sql);
    // A statement prepared once and kept; reset before it is handed out.
    Statement &cached(const char *sql);
    std::int64_t lastInsertId() const;
    int changes() const;
    QString error() const;
    // The HRESULT of the connection's last failure: ERROR_DISK_FULL when the disk is full,
    // E_ACCESSDENIED for a read-only database, ERROR_FILE_CORRUPT for damaged data.
    HRESULT failure() const;
    sqlite3 *handle() const { return m_db; }

private:
    bool openMode(const QByteArray &file, bool readOnly);
    // The file or its folder cannot be written (a read-only mount, file or folder).
    static bool cannotWrite(const QByteArray &file, const QByteArray &folder);
    bool closeAfterFailure();
    void remember(int rc);

    sqlite3 *m_db = nullptr;
    QString m_path;
    bool m_readOnly = false;
    HRESULT m_failure = S_OK;
    std::vector<std::pair<const char *, std::unique_ptr<Statement>>> m_cache;
    QString m_error;
};

// The HRESULT for an SQLite result code and the errno of the call that failed.
HRESULT sqliteResult(int extendedCode, int systemErrno);

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(SqliteDb &db);
    ~Transaction();
    bool ok() const { return m_open; }
    bool commit();
    // Why BEGIN or COMMIT failed.
    HRESULT failure() const { return m_failure != S_OK ? m_failure : m_db.failure(); }

private:
    SqliteDb &m_db;
    bool m_open = false;
    HRESULT m_failure = S_OK;
};
} // namespace nyx::archive
