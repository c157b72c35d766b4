#include "streamrecovery.h"

#include "archiveerrors.h"
#include "segmentformat.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcFrameStore)

namespace nyx::archive {
bool StreamRecovery::indexFrame(std::int64_t stream, std::int64_t seq, std::int64_t seg, std::int64_t offset,
                                const segment::FrameHeader &h, const std::vector<std::uint8_t> &frame,
                                const std::map<std::uint32_t, std::uint8_t> &flags)
{
    std::uint64_t mask = 0;
    std::vector<std::uint32_t> sparse;
    segment::forEachRecord(frame.data() + FrameStore::kFrameHeader, h.length,
                           [&](std::uint32_t c, std::uint8_t) {
                               if (c < 64)
                                   mask |= 1ULL << c;
                               const auto flag = flags.find(c);
                               if ((c >= 64 || (flag != flags.end() && flag->second != 0)) &&
                                   std::find(sparse.begin(), sparse.end(), c) == sparse.end())
                                   sparse.push_back(c);
                           });
    Statement &f = m_store.m_db.cached("INSERT OR IGNORE INTO frames VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    f.bind(1, stream).bind(2, h.time).bind(3, h.fno).bind(4, seq).bind(5, seg).bind(6, offset);
    f.bind(7, static_cast<std::int64_t>(frame.size())).bind(8, static_cast<std::int64_t>(mask));
    if (f.step() != SQLITE_DONE)
        return false;
    for (std::uint32_t c : sparse) {
        Statement &m = m_store.m_db.cached("INSERT OR IGNORE INTO marks VALUES(?1, ?2, ?3, ?4)");
        m.bind(1, stream).bind(2, c).bind(3, h.time).bind(4, h.fno);
        if (m.step() != SQLITE_DONE)
            return false;
    }
    return true;
}

HRESULT StreamRecovery::takeTail(std::int64_t stream, const QString &folder, std::int64_t *taken)
{
    // Frames written whole after the last commit of a writer that is gone (or whose commits failed)
    // continue its last sequence: they follow its committed end, frame number by frame number,
    // possibly into the next segment.
    Statement &q =
        m_store.m_db.cached("SELECT seq, seg, segend, nextfno, frames, first, last, subseq FROM sequences "
                            "WHERE stream=?1 ORDER BY seq DESC LIMIT 1");
    q.bind(1, stream);
    if (q.step() != SQLITE_ROW) {
        q.reset();
        return S_OK;
    }
    const std::int64_t seq = q.int64(0);
    std::int64_t seg = q.int64(1), end = q.int64(2), next = q.int64(3), frames = q.int64(4);
    std::int64_t first = q.int64(5), last = q.int64(6), subsequences = q.int64(7);
    q.reset();
    *taken = 0;
    std::int64_t bytes = 0;
    std::map<std::uint32_t, std::uint8_t> flags;
    bool flagsRead = false;
    std::vector<std::uint8_t> frame;
    for (std::int64_t n = seg, offset = end;; ++n, offset = 0) {
        const QByteArray path = QFile::encodeName(FrameStore::segmentPath(folder, n));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        bool any = false;
        for (;;) {
            segment::FrameHeader h;
            if (segment::readFrame(fd, offset, &h, &frame) != S_OK || h.fno != next)
                break;
            if (!flagsRead && m_store.m_channelFlags) {
                flags = m_store.m_channelFlags(stream);
                flagsRead = true;
            }
            if (!indexFrame(stream, seq, n, offset, h, frame, flags)) {
                ::close(fd);
                return m_store.m_db.failure();
            }
            if (!frames || h.time - last > FrameStore::kSubsequenceGap)
                ++subsequences;
            first = frames ? std::min(first, h.time) : h.time;
            last = frames ? std::max(last, h.time) : h.time;
            ++frames;
            ++*taken;
            ++next;
            any = true;
            bytes += static_cast<std::int64_t>(frame.size());
            offset += static_cast<std::int64_t>(frame.size());
            seg = n;
            end = offset;
        }
        // The frames taken may be in the page cache only (their writer was killed before its commit):
        // they are made durable before the index lists them.
        const int synced = any ? ::fdatasync(fd) : 0;
        const int error = errno;
        ::close(fd);
        if (synced != 0)
            return fileFailure(error);
        if (!any && n != seg)
            break;
    }
    if (!*taken)
        return S_OK;
    Statement &u =
        m_store.m_db.cached("UPDATE sequences SET first=?3, last=?4, frames=?5, bytes=bytes+?6, subseq=?7, "
                            "seg=?8, segend=?9, nextfno=?10 WHERE stream=?1 AND seq=?2");
    u.bind(1, stream).bind(2, seq).bind(3, first).bind(4, last).bind(5, frames).bind(6, bytes);
    u.bind(7, subsequences).bind(8, seg).bind(9, end).bind(10, next);
    if (u.step() != SQLITE_DONE)
        return m_store.m_db.failure();
    return S_OK;
}

bool StreamRecovery::knowsStream(std::int64_t stream)
{
    Statement &s = m_store.m_db.cached("SELECT 1 FROM streamstate WHERE stream=?1 UNION ALL "
                                       "SELECT 1 FROM sequences WHERE stream=?1 LIMIT 1");
    s.bind(1, stream);
    const bool known = s.step() == SQLITE_ROW;
    s.reset();
    return known;
}

HRESULT StreamRecovery::rebuildStream(std::int64_t stream, const QString &folder)
{
    // Every intact frame of every segment, in order, goes back into the index as one closed sequence;
    // the walk of a segment stops at its first damaged frame and leaves the file as it is.
    const std::map<std::uint32_t, std::uint8_t> flags =
        m_store.m_channelFlags ? m_store.m_channelFlags(stream) : std::map<std::uint32_t, std::uint8_t>();
    Transaction tx(m_store.m_db);
    if (!tx.ok())
        return tx.failure();
    std::int64_t frames = 0, bytes = 0, first = 0, last = 0, lastTime = 0, subsequences = 0, lastFno = 0;
    std::int64_t seg = 1, segEnd = 0, damagedFrames = 0;
    HRESULT failure = S_OK;
    // A ring storage has removed its oldest segments: the walk starts at the first one left.
    std::int64_t firstSeg = 0;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("seg-*.dat")}, QDir::Files)) {
        bool ok = false;
        const std::int64_t n = name.mid(4, name.size() - 8).toLongLong(&ok);
        if (ok && n > 0 && (!firstSeg || n < firstSeg))
            firstSeg = n;
    }
    for (std::int64_t n = std::max<std::int64_t>(firstSeg, 1);; ++n) {
        const QByteArray path = QFile::encodeName(FrameStore::segmentPath(folder, n));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        const segment::ScanResult scanned =
            segment::scan(fd, [&](const segment::FrameHeader &h, std::int64_t offset,
                                  const std::vector<std::uint8_t> &frame) {
                if (h.fno <= lastFno)
                    return false; // not this stream's order: stale bytes
                if (!indexFrame(stream, 1, n, offset, h, frame, flags)) {
                    failure = m_store.m_db.failure();
                    return false;
                }
                if (!frames || h.time - lastTime > FrameStore::kSubsequenceGap)
                    ++subsequences;
                first = frames ? std::min(first, h.time) : h.time;
                last = frames ? std::max(last, h.time) : h.time;
                lastTime = h.time;
                lastFno = h.fno;
                ++frames;
                bytes += static_cast<std::int64_t>(frame.size());
                return true;
            });
        // Frames read back may still be in the page cache only: durable before the index lists them.
        const int synced = scanned.end > 0 ? ::fdatasync(fd) : 0;
        const int error = errno;
        ::close(fd);
        if (synced != 0 && SUCCEEDED(failure))
            failure = fileFailure(error);
        if (FAILED(failure))
            return failure;
        if (FAILED(scanned.error))
            return scanned.error;
        seg = n;
        segEnd = scanned.end;
        if (scanned.end < scanned.size) {
            ++damagedFrames;
            qCWarning(lcFrameStore) << "Rebuilding the index of" << folder << "stopped at damaged bytes at"
                                    << scanned.end << "of" << path << "(" << (scanned.size - scanned.end)
                                    << "bytes kept as they are)";
        }
    }
    if (segEnd > 0 || damagedFrames) {
        // New frames go to a fresh segment when the last one ends in bytes that are not a frame.
        if (damagedFrames && segEnd < QFileInfo(FrameStore::segmentPath(folder, seg)).size()) {
            ++seg;
            segEnd = 0;
        }
    }
    if (frames) {
        Statement &q = m_store.m_db.cached(
            "INSERT INTO sequences(stream, seq, start, first, last, frames, bytes, subseq, "
            "open, seg, segend, nextfno) VALUES(?1, 1, ?2, ?2, ?3, ?4, ?5, ?6, 0, ?7, ?8, ?9)");
        q.bind(1, stream).bind(2, first).bind(3, last).bind(4, frames).bind(5, bytes).bind(6, subsequences);
        q.bind(7, seg).bind(8, segEnd).bind(9, lastFno + 1);
        if (q.step() != SQLITE_DONE)
            return m_store.m_db.failure();
    }
    Statement &r = m_store.m_db.cached("INSERT OR REPLACE INTO rebuilt VALUES(?1, ?2, ?3, ?4)");
    r.bind(1, stream).bind(2, seg).bind(3, segEnd).bind(4, lastFno + 1);
    if (r.step() != SQLITE_DONE || !m_store.bumpChanges(stream))
        return m_store.m_db.failure();
    if (!tx.commit())
        return tx.failure();
    if (frames || damagedFrames)
        qCWarning(lcFrameStore) << "Rebuilt the index of" << folder << "from its segments:" << frames
                                << "frames";
    return S_OK;
}

HRESULT StreamRecovery::recover(std::int64_t stream, const QString &folder)
{
    if (!knowsStream(stream)) {
        const HRESULT rebuilt = rebuildStream(stream, folder);
        if (FAILED(rebuilt)) {
            qCWarning(lcFrameStore) << "The index of" << folder
                                    << "cannot be rebuilt now; its segments are kept";
            return rebuilt;
        }
    }
    Transaction tx(m_store.m_db);
    if (!tx.ok())
        return tx.failure();
    std::int64_t taken = 0;
    const HRESULT tail = takeTail(stream, folder, &taken);
    if (FAILED(tail))
        return tail;
    Statement &close = m_store.m_db.cached("UPDATE sequences SET open=0 WHERE stream=?1 AND open=1");
    close.bind(1, stream);
    if (close.step() != SQLITE_DONE)
        return m_store.m_db.failure();
    Statement &drop = m_store.m_db.cached("DELETE FROM sequences WHERE stream=?1 AND frames=0");
    drop.bind(1, stream);
    if (drop.step() != SQLITE_DONE)
        return m_store.m_db.failure();
    const bool changed = m_store.m_db.changes() > 0;
    std::int64_t seg = 1, segEnd = 0, nextFno = 1;
    m_store.position(stream, &seg, &segEnd, &nextFno);
    if ((changed || taken) && !m_store.bumpChanges(stream))
        return m_store.m_db.failure();
    if (!tx.commit())
        return tx.failure();
    if (taken)
        qCWarning(lcFrameStore) << "Took" << taken << "frames written after the last commit into the index of"
                                << folder;
    // Cut what was appended but never committed: the tail of the current segment and later segments.
    const QByteArray current = QFile::encodeName(FrameStore::segmentPath(folder, seg));
    struct stat st
    {
    };
    if (::stat(current.constData(), &st) == 0 && st.st_size > segEnd) {
        qCWarning(lcFrameStore) << "Cutting" << (st.st_size - segEnd) << "uncommitted bytes from" << current;
        if (::truncate(current.constData(), segEnd) != 0)
            return kWriteFault;
    }
    for (std::int64_t next = seg + 1;; ++next) {
        const QString path = FrameStore::segmentPath(folder, next);
        if (!QFile::exists(path))
            break;
        QFile::remove(path);
    }
    return S_OK;
}
} // namespace nyx::archive
