#include "sqlitedb.h"

#include "archiveerrors.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>
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

HRESULT sqliteResult(int extendedCode, int systemErrno)
{
    switch (extendedCode & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return S_OK;
    case SQLITE_FULL:
        return kDiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return E_ACCESSDENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kSharingViolation;
    case SQLITE_NOMEM:
        return E_OUTOFMEMORY;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
        // The shared-memory index and the log grow by writes too: a full disk shows here as well.
        if (systemErrno == ENOSPC || systemErrno == EDQUOT)
            return kDiskFull;
        if (systemErrno == EROFS || systemErrno == EACCES || systemErrno == EPERM)
            return E_ACCESSDENIED;
        return (extendedCode & 0xFF) == SQLITE_CANTOPEN ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                                                        : kWriteFault;
    default:
        return kFileCorrupt;
    }
}

void SqliteDb::remember(int rc)
{
    m_failure = sqliteResult(rc, m_db ? sqlite3_system_errno(m_db) : errno);
    if (m_failure == S_OK)
        m_failure = kFileCorrupt;
}

HRESULT SqliteDb::failure() const
{
    if (m_db) {
        const int rc = sqlite3_extended_errcode(m_db);
        if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
            return sqliteResult(rc, sqlite3_system_errno(m_db));
    }
    return m_failure == S_OK ? kFileCorrupt : m_failure;
}

bool SqliteDb::openMode(const QByteArray &file, bool readOnly)
{
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(file.constData(), &m_db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 5000);
        // The log file stays when the last connection closes: its space is kept, so the database
        // can still be opened and written (a deletion, say) once the disk has filled up.
        int persist = 1;
        sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        // WAL: readers in other processes never block the writer and see each commit at once.
        // synchronous=FULL: each commit syncs the WAL, so a commit that returned survives a power
        // cut as well as a crash of the process (NORMAL would sync only at checkpoints).
        // Reading the schema here makes a damaged or foreign file fail now, not at first use.
        if (readOnly ? exec("SELECT count(*) FROM sqlite_master")
                     : exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=FULL") &&
                           exec("PRAGMA foreign_keys=OFF"))
            return true;
        return closeAfterFailure();
    }
    m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("cannot open");
    remember(rc);
    return closeAfterFailure();
}

bool SqliteDb::closeAfterFailure()
{
    m_cache.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    return false;
}

bool SqliteDb::cannotWrite(const QByteArray &file, const QByteArray &folder)
{
    return ::access(file.constData(), W_OK) != 0 || ::access(folder.constData(), W_OK) != 0;
}

bool SqliteDb::open(const QString &path)
{
    m_path = path;
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    // A database that cannot be written (read-only mount or folder) is opened for reading only:
    // SQLite reads a cleanly closed WAL database without making its -shm or -wal files.
    const bool exists = ::access(file.constData(), F_OK) == 0;
    m_readOnly = exists && cannotWrite(file, folder);
    if (!exists && ::access(folder.constData(), W_OK) != 0) {
        m_error =
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        m_failure = errno == ENOENT ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : E_ACCESSDENIED;
        return false;
    }
    if (openMode(file, m_readOnly))
        return true;
    // Permissions can allow what the file system then refuses: fall back to reading.
    if (!m_readOnly && m_failure == E_ACCESSDENIED && exists) {
        m_readOnly = true;
        return openMode(file, true);
    }
    return false;
}

bool SqliteDb::reopenWritable()
{
    if (m_db && !m_readOnly)
        return true;
    if (m_path.isEmpty())
        return false;
    const QByteArray file = QFile::encodeName(m_path);
    if (cannotWrite(file, QFile::encodeName(QFileInfo(m_path).absolutePath())))
        return false;
    m_cache.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    if (open(m_path) && !m_readOnly)
        return true;
    // Writable by its permissions, yet refused: it goes on being read.
    if (!m_db && ::access(file.constData(), F_OK) == 0) {
        m_readOnly = true;
        openMode(file, true);
    }
    return false;
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
        remember(sqlite3_extended_errcode(m_db));
        return false;
    }
    return true;
}

void SqliteDb::rollback()
{
    // A failed COMMIT or a failed statement may already have ended the transaction (SQLite rolls back
    // by itself on a full disk, say); the rollback's own error ("no transaction is active") must not
    // hide why the transaction failed.
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement SqliteDb::prepare(const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        if (m_db) {
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
            remember(sqlite3_extended_errcode(m_db));
        }
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
    if (!m_open)
        m_failure = m_db.failure();
}

Transaction::~Transaction()
{
    if (m_open)
        m_db.rollback();
}

bool Transaction::commit()
{
    if (!m_open)
        return false;
    if (!m_db.exec("COMMIT")) {
        // Keep why the commit failed: the rollback would overwrite the connection's error.
        m_failure = m_db.failure();
        m_db.rollback();
        m_open = false;
        return false;
    }
    m_open = false;
    return true;
}
} // namespace nyx::archive
