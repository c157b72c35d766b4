#pragma once
// The space policy of one storage: a storage is recorded as a ring within the size it was created
// with. Before a new segment would take it past that size, the oldest segments that no writer or
// reader holds are removed, their index rows first (no listed frame ever points at a removed file);
// a storage whose size is taken by segments that cannot be removed refuses new ones (disk full).

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

    // A reader's frame keeps its segment; counted, as several readers may hold one.
    void hold(std::int64_t stream, std::int64_t seg) { ++m_holds[{stream, seg}]; }
    void release(std::int64_t stream, std::int64_t seg);

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
