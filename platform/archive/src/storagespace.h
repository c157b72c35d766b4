#pragma once
// The space policy of one storage: a storage is recorded as a ring within the size it was created
// with. Before a new segment would take it past that size, the oldest segments that no writer or
// reader holds are removed, their index rows first (no listed frame ever points at a removed file);
// a storage whose size is taken by segments that cannot be removed refuses new ones (disk full).
// Readers and writers of a storage live in several processes (the server records while the client
// replays): a reader's hold is a shared lock (flock) on the segment file, which a removal must take
// exclusively first, so the ring of every process sees it.

#include "sqlitedb.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace nyx::archive {
class StorageSpace
{
public:
    explicit StorageSpace(std::int64_t size);

    std::int64_t size() const { return m_size; }
    // Segments are a fraction of the storage, so that the ring keeps most of it recorded; from 1 MiB
    // (a storage of the smallest size) to 256 MiB.
    std::int64_t segmentLimit() const { return m_segmentLimit; }

    // Bytes the files below the folder take on the disk.
    static std::uint64_t usage(const QString &folder);

    // A reader's frame keeps its segment; counted, as several readers may hold one. hold is true for
    // the segment's first hold in this process, release for its last.
    bool hold(std::int64_t stream, std::int64_t seg) { return ++m_holds[{stream, seg}] == 1; }
    bool release(std::int64_t stream, std::int64_t seg);
    bool held(std::int64_t stream, std::int64_t seg) const { return m_holds.count({stream, seg}) != 0; }

    // The first hold of a segment in a process opens its file and locks it shared (the lock belongs to
    // that open file, and lives as long as it stays open).
    enum class FileHold
    {
        Locked,   // *fd is the file, locked; -1 when it cannot be opened for another reason than its removal
        Gone,     // removed since its frame was found: so are the frame's rows
        Removing, // a ring is removing it now: *fd is open, for awaitRemoval
    };
    static FileHold lockSegment(const QString &path, int *fd);
    // Waits, without any lock of the store held, until the removal that made lockSegment answer
    // Removing is over (its rows are gone or, should it have failed, kept), and closes the file.
    static void awaitRemoval(int fd);

    // The segment file of a stream, for streams this store has seen (empty: unknown).
    using SegmentPath = std::function<QString(std::int64_t stream, std::int64_t seg)>;
    // The committed segment of a stream: it and later ones are a writer's, never removed.
    using CommittedSegment = std::function<std::int64_t(std::int64_t stream)>;
    // Makes room for `needed` more bytes in the storage below `folder`; called with the index's lock
    // held. S_OK when the storage has room below its size (or the removals left it below its size,
    // then the new segment may take it past by at most one segment), kDiskFull when nothing more
    // can be removed and the storage is full. `removed` gets the (stream, segment) of each removed file.
    HRESULT makeRoom(SqliteDb &db, const QString &folder, std::int64_t needed, const SegmentPath &path,
                     const CommittedSegment &committed, std::function<bool(std::int64_t)> bumpChanges,
                     std::vector<std::pair<std::int64_t, std::int64_t>> *removed);

private:
    // Drops the index rows of one segment (frames, marks, the sequence figures) in one transaction.
    HRESULT dropRows(SqliteDb &db, std::int64_t stream, std::int64_t seg,
                     const std::function<bool(std::int64_t)> &bumpChanges);

    std::int64_t m_size;
    std::int64_t m_segmentLimit;
    std::map<std::pair<std::int64_t, std::int64_t>, int> m_holds;
};
} // namespace nyx::archive
