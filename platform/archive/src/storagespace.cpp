#include "storagespace.h"

#include "archiveerrors.h"

#include <QDirIterator>
#include <QFile>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcFrameStore)

namespace nyx::archive {
namespace {
constexpr std::int64_t kMinSegment = 1LL << 20;
constexpr std::int64_t kMaxSegment = 256LL << 20;
} // namespace

StorageSpace::StorageSpace(std::int64_t size)
    : m_size(size), m_segmentLimit(std::clamp(size / 8, kMinSegment, kMaxSegment))
{
}

std::uint64_t StorageSpace::usage(const QString &folder)
{
    std::uint64_t total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray path = QFile::encodeName(it.next());
        struct stat st
        {
        };
        if (::stat(path.constData(), &st) == 0)
            total += static_cast<std::uint64_t>(st.st_blocks) * 512u;
    }
    return total;
}

bool StorageSpace::release(std::int64_t stream, std::int64_t seg)
{
    const auto it = m_holds.find({stream, seg});
    if (it == m_holds.end() || --it->second > 0)
        return false;
    m_holds.erase(it);
    return true;
}

StorageSpace::FileHold StorageSpace::lockSegment(const QString &path, int *fd)
{
    *fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (*fd < 0)
        return errno == ENOENT ? FileHold::Gone : FileHold::Locked;
    // Never waited for here: the caller holds the store's lock, which a removal in this process needs.
    if (::flock(*fd, LOCK_SH | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return FileHold::Removing;
        return FileHold::Locked; // a file system without locks: the hold is this process's only
    }
    // Opened before a removal unlinked it and locked after the removal let go: only its rows decide.
    struct stat st
    {
    };
    if (::fstat(*fd, &st) == 0 && st.st_nlink == 0) {
        ::close(*fd);
        *fd = -1;
        return FileHold::Gone;
    }
    return FileHold::Locked;
}

void StorageSpace::awaitRemoval(int fd)
{
    while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    ::close(fd);
}

HRESULT StorageSpace::dropRows(SqliteDb &db, std::int64_t stream, std::int64_t seg,
                               const std::function<bool(std::int64_t)> &bumpChanges)
{
    Transaction tx(db);
    if (!tx.ok())
        return tx.failure();
    Statement &sum =
        db.cached("SELECT seq, COUNT(*), SUM(len) FROM frames WHERE stream=?1 AND seg=?2 GROUP BY seq");
    sum.bind(1, stream).bind(2, seg);
    std::vector<std::array<std::int64_t, 3>> figures;
    int rc;
    while ((rc = sum.step()) == SQLITE_ROW)
        figures.push_back({sum.int64(0), sum.int64(1), sum.int64(2)});
    sum.reset();
    if (rc != SQLITE_DONE)
        return db.failure();
    Statement &marks = db.cached("DELETE FROM marks WHERE stream=?1 AND EXISTS (SELECT 1 FROM frames f WHERE "
                                 "f.stream=?1 AND f.time=marks.time AND f.fno=marks.fno AND f.seg=?2)");
    marks.bind(1, stream).bind(2, seg);
    if (marks.step() != SQLITE_DONE)
        return db.failure();
    Statement &frames = db.cached("DELETE FROM frames WHERE stream=?1 AND seg=?2");
    frames.bind(1, stream).bind(2, seg);
    if (frames.step() != SQLITE_DONE)
        return db.failure();
    for (const auto &f : figures) {
        // The sequence keeps its remaining frames; its first one is the oldest left.
        Statement &u = db.cached(
            "UPDATE sequences SET frames=frames-?3, bytes=bytes-?4, first=(SELECT time FROM frames WHERE "
            "stream=?1 AND seq=?2 ORDER BY time LIMIT 1) WHERE stream=?1 AND seq=?2");
        u.bind(1, stream).bind(2, f[0]).bind(3, f[1]).bind(4, f[2]);
        if (u.step() != SQLITE_DONE)
            return db.failure();
    }
    Statement &drop = db.cached("DELETE FROM sequences WHERE stream=?1 AND frames<=0 AND open=0");
    drop.bind(1, stream);
    if (drop.step() != SQLITE_DONE || !bumpChanges(stream))
        return db.failure();
    return tx.commit() ? S_OK : tx.failure();
}

HRESULT StorageSpace::makeRoom(SqliteDb &db, const QString &folder, std::int64_t needed,
                               const SegmentPath &path, const CommittedSegment &committed,
                               std::function<bool(std::int64_t)> bumpChanges,
                               std::vector<std::pair<std::int64_t, std::int64_t>> *removed)
{
    auto used = static_cast<std::int64_t>(usage(folder));
    if (used + needed <= m_size)
        return S_OK;
    // The segments holding listed frames, oldest first; a stream's committed segment and later ones
    // are its writer's, and a segment a reader of any process holds stays.
    struct Candidate
    {
        std::int64_t stream, seg, oldest;
    };
    std::vector<Candidate> candidates;
    std::map<std::int64_t, std::int64_t> committedSegs;
    Statement &s = db.cached("SELECT stream, seg, MIN(time) FROM frames GROUP BY stream, seg");
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        candidates.push_back({s.int64(0), s.int64(1), s.int64(2)});
    s.reset();
    if (rc != SQLITE_DONE)
        return db.failure();
    std::vector<QByteArray> files;
    // The removed files stay open, locked exclusively, until they are unlinked: a reader of another
    // process that found a frame in one meanwhile waits for its lock and then finds again.
    std::vector<int> locks;
    const auto unlock = [&locks] {
        for (const int fd : locks)
            ::close(fd);
        locks.clear();
    };
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.oldest < b.oldest; });
    for (const Candidate &c : candidates) {
        if (used + needed <= m_size)
            break;
        auto known = committedSegs.find(c.stream);
        if (known == committedSegs.end())
            known = committedSegs.emplace(c.stream, committed(c.stream)).first;
        if (c.seg >= known->second || m_holds.count({c.stream, c.seg}))
            continue;
        const QString file = path(c.stream, c.seg);
        if (file.isEmpty())
            continue; // a stream this store has not seen: its folder is not known here
        const QByteArray name = QFile::encodeName(file);
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd); // a reader of another process is on it
            continue;
        }
        const HRESULT hr = dropRows(db, c.stream, c.seg, bumpChanges);
        if (FAILED(hr)) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        struct stat st
        {
        };
        const std::int64_t freed =
            fd >= 0 && ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_blocks) * 512 : 0;
        used -= freed;
        files.push_back(name);
        if (fd >= 0)
            locks.push_back(fd);
        removed->emplace_back(c.stream, c.seg);
    }
    if (!files.empty()) {
        // The index's log is synced only now and then: the rows' removal must be on the disk before
        // the files go, or a power cut could bring back rows that point at nothing.
        const int wal = ::open(QFile::encodeName(folder + QStringLiteral("/index.db-wal")).constData(),
                               O_RDONLY | O_CLOEXEC);
        const bool synced = wal < 0 || ::fdatasync(wal) == 0; // no log: the rows are in the database
        if (wal >= 0)
            ::close(wal);
        if (!synced) {
            unlock();
            removed->clear();
            return kWriteFault; // the files stay; their rows are gone from the index either way
        }
        for (const QByteArray &name : files)
            ::unlink(name.constData());
        unlock();
    }
    if (used >= m_size) {
        qCWarning(lcFrameStore) << "Storage" << folder << "is full:" << used << "of" << m_size
                                << "bytes held by segments that are being written or read";
        return kDiskFull;
    }
    return S_OK;
}
} // namespace nyx::archive
