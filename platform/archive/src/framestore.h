#pragma once
// The frames of one storage: an SQLite index (frames, channel marks, sequences) beside append-only
// segment files per stream. A frame is appended to its segment first and then committed to the
// index in one transaction; the index never points past what was written, and an uncommitted tail
// is cut off when the stream is next recovered.

#include "archive/archiverecords.h"
#include "logging/logthrottle.h"
#include "segmentformat.h"
#include "sqlitedb.h"
#include "storagespace.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace nyx::archive {
struct FrameLocation
{
    std::int64_t time = 0;
    std::int64_t fno = 0;
    std::int64_t seq = 0;
    std::int64_t seg = 0;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

struct StreamStatus
{
    std::uint64_t changes = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::uint32_t sequences = 0;
    bool writing = false;
};

struct StorageTotals
{
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lockedBytes = 0;
};

// The index rows of one written frame, waiting for the committer.
struct PendingCommit
{
    std::int64_t stream = 0, seq = 0, fno = 0, time = 0, seg = 0, offset = 0, size = 0, subsequences = 0;
    std::uint64_t mask = 0;              // channels below 64 the frame holds records on
    std::vector<std::uint32_t> channels; // sparse channels, indexed for filtered searches
    QString folder;                      // of the stream: the segment is synced before the commit
    std::chrono::steady_clock::time_point queued;
    std::atomic<bool> done{false}; // set last, after result; read by its writer without the lock
    HRESULT result = S_OK;
};

// The bytes of a frame being written, its header first; grows without clearing what it adds.
class FrameBuffer
{
public:
    std::uint8_t *data() { return m_data.get(); }
    std::size_t size() const { return m_size; }
    void resize(std::size_t size)
    {
        if (size > m_capacity) {
            const std::size_t capacity = std::max(size, 2 * m_capacity);
            std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
            if (m_size)
                std::memcpy(grown.get(), m_data.get(), m_size);
            m_data = std::move(grown);
            m_capacity = capacity;
        }
        m_size = size;
    }

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// What a writer carries between its calls; owned by the writer, used under the store's lock.
struct WriterState
{
    std::int64_t stream = 0;
    QString folder;
    int fd = -1;
    std::int64_t seg = 0;
    std::int64_t segEnd = 0;
    std::int64_t nextFno = 1;
    std::int64_t seq = 0;
    std::int64_t lastTime = 0;
    std::int64_t subsequences = 0;
    bool hasFrames = false;
    // The frame being written: its records are copied to the buffer behind the header's place and
    // go to the segment with the header in one write. Records of a large frame go ahead of it, the
    // header then last.
    bool frameOpen = false;
    FrameBuffer frameBuffer;
    std::int64_t frameWritten = 0; // payload bytes already in the segment
    int frameFd = -1;
    std::int64_t frameSeg = 0;
    std::int64_t frameStart = 0;
    std::int64_t frameBytes = 0;
    std::uint32_t frameCrc = 0;
    std::uint32_t frameRecords = 0;
    // Frames handed to the committer and not yet known to be committed, oldest first.
    std::deque<std::unique_ptr<PendingCommit>> inFlight;
    std::int64_t inFlightBytes = 0;
    std::vector<std::unique_ptr<PendingCommit>> spare; // committed ones, to be used again
    // A frame could not be made durable: the writer's position is no longer the committed one,
    // and the next frame needs a new sequence.
    bool failed = false;
};

// The segment of the frame a reader holds: the ring does not remove it under the reader.
struct SegmentHold
{
    std::int64_t stream = 0;
    std::int64_t seg = 0;
    bool held = false;
};

// The flag of each channel of a stream (0: dense, else sparse), from the catalog.
using ChannelFlags = std::function<std::map<std::uint32_t, std::uint8_t>(std::int64_t stream)>;

class FrameStore
{
public:
    static constexpr std::size_t kFrameHeader = 32;
    static constexpr std::int64_t kSubsequenceGap = 10000000; // 1 s: a longer pause starts a subsequence
    // A writer runs ahead of the durable commits by at most this long, this many frames or bytes: its
    // writes go on while a commit syncs the segments, and a power cut takes at most the frames of
    // the last half second (plus the commit's own time).
    static constexpr std::size_t kMaxInFlight = 4096;
    static constexpr std::int64_t kMaxInFlightBytes = 256LL * 1024 * 1024;
    static constexpr std::chrono::milliseconds kMaxLag{500};

    ~FrameStore();
    // Opens the storage's index, creating it when missing. A missing or empty index is made anew
    // and each stream's frames are taken back from its segments at its recovery.
    // The storage is held to `size` bytes as a ring (see StorageSpace).
    static HRESULT open(const QString &folder, ChannelFlags flags, std::int64_t size,
                        std::shared_ptr<FrameStore> *store);

    const QString &folder() const { return m_folder; }
    bool readOnly() const { return m_readOnly; }
    // A store opened read-only (a read-only mount) is opened again for writing once its folder and
    // index can be written: S_OK when it can be written now, else E_ACCESSDENIED. Its readers go on
    // reading; they wait for the moment the index is swapped.
    HRESULT makeWritable();

    // Writer side. beginSequence cuts the stream's segment back to its committed end first.
    HRESULT beginSequence(WriterState &state, std::uint64_t startTime);
    // Writes one record of the open frame (opening it) behind the committed end of the segment.
    HRESULT appendRecord(WriterState &state, std::uint32_t channel, std::uint8_t kind,
                         const std::uint8_t *bytes, std::uint32_t length);
    // Writes the frame's header and hands its index rows to the committer, which commits whatever
    // is queued in one transaction, at once. A writer may run ahead of the committer by at most
    // kMaxInFlight frames: beyond that this waits. S_OK means the frame is whole in its segment
    // (recovery takes such frames into the index should their commit not happen) and no commit
    // has failed; after a failed commit state.failed is set and nothing more is answered S_OK.
    // Channels created with flag 0 are dense (a record in about every frame, like a video channel):
    // filtered searches on them scan the frames. The others get an index of the frames holding them.
    HRESULT commitFrame(WriterState &state, std::int64_t time,
                        const std::vector<std::uint32_t> &sparseChannels, std::uint64_t mask,
                        std::uint32_t *frameBytes);
    // Takes in the results of the writer's commits done so far, without waiting: a failed one sets
    // state.failed.
    void checkCommits(WriterState &state) { settle(state, state.inFlight.size()); }
    // Forgets the open frame; its bytes are overwritten by the next one.
    void abandonFrame(WriterState &state);
    HRESULT endSequence(WriterState &state);
    // Closes sequences left open by a writer that is gone, takes the whole frames it wrote after its
    // last commit into the index and cuts what is left behind them (a torn frame). A stream the index does
    // not know (a new or lost index) is rebuilt from its segments instead; nothing is cut then.
    HRESULT recoverStream(std::int64_t stream, const QString &folder);

    // Reader side. A frame found moves `hold` (when given) to its segment, in the same step, so that
    // no removal comes between; `folder` is the stream's, where its segment files are. A frame whose
    // segment the ring of another process removed meanwhile is not answered: the find is done again.
    HRESULT find(std::int64_t stream, const QString &folder, std::int64_t time, std::uint32_t mode,
                 std::uint32_t channel, bool dense, FrameLocation *location, SegmentHold *hold = nullptr);
    HRESULT findInRange(std::int64_t stream, const QString &folder, std::int64_t from, std::int64_t to,
                        std::uint32_t mode, std::uint32_t channel, bool dense, FrameLocation *location,
                        SegmentHold *hold = nullptr);
    void releaseHold(SegmentHold &hold);
    HRESULT readFrame(std::int64_t stream, const QString &folder, const FrameLocation &location,
                      std::vector<std::uint8_t> *payload);

    HRESULT status(std::int64_t stream, StreamStatus *status);
    HRESULT sequences(std::int64_t stream, std::vector<ArchiveSequenceRecord> *list);
    HRESULT rangeSize(std::int64_t stream, std::uint64_t from, std::uint64_t to, std::int64_t *size);
    HRESULT totals(StorageTotals *totals);
    HRESULT deleteStream(std::int64_t stream);
    // Drops cached file handles (before the storage folder goes away).
    void closeFiles();

    static QString segmentPath(const QString &folder, std::int64_t seg);
    HRESULT openFrame(WriterState &state, std::size_t firstRecord);
    std::int64_t segmentLimit() const { return m_space->segmentLimit(); }
    // A frame's records are buffered up to this many bytes; beyond, they go to the segment ahead of it.
    static constexpr std::size_t kFrameBufferBytes = 4u * 1024 * 1024;

private:
    FrameStore() = default;
    // Sets the writable index up for commits and starts the committer and the checkpoints.
    void startWriting();
    void enqueue(PendingCommit *pending, std::size_t inFlight);
    // Reports the writer's committed frames; waits while more than `keep` are in flight, and for
    // all of them once a commit has failed. The first failure among them.
    HRESULT settle(WriterState &state, std::size_t keep);
    void commitLoop();
    // Commits everything queued in one transaction; entered with m_commitMutex held (by `lock`) and
    // no commit running, by the committer thread or by a writer that would otherwise wait.
    void commitQueued(std::unique_lock<std::mutex> &lock);
    HRESULT writeBatch(const std::vector<PendingCommit *> &batch);
    // Makes the segment bytes of the batch's frames durable: one fdatasync per file, before the
    // index rows that list them are committed.
    HRESULT syncSegments(const std::vector<PendingCommit *> &batch);
    friend class StreamRecovery;
    bool bumpChanges(std::int64_t stream);
    HRESULT flushRecords(WriterState &state);
    // Removes the storage's oldest segments (StorageSpace) until a new segment fits.
    HRESULT makeRoom(std::int64_t stream, const QString &folder);
    // Finds with `locate` (under the lock) and moves the hold to the frame's segment, finding again
    // while the segment turns out removed by another process.
    HRESULT findHeld(std::int64_t stream, const QString &folder, SegmentHold *hold, FrameLocation *location,
                     const std::function<HRESULT()> &locate);
    // Gone: the segment's file is gone (its rows too). Waited: a removal was in progress, and was
    // waited for without the lock (`lock` is let go and taken again). Either way the hold has not
    // moved and the find is to be done again, unless `last`, which holds the segment as it is (a
    // listed segment whose file is missing: its read reports that).
    enum class HoldMove
    {
        Held,
        Gone,
        Waited,
    };
    HoldMove moveHold(std::unique_lock<std::mutex> &lock, SegmentHold *hold, std::int64_t stream,
                      const QString &folder, std::int64_t seg, bool last);
    void releaseLocked(SegmentHold &hold);
    void position(std::int64_t stream, std::int64_t *seg, std::int64_t *segEnd, std::int64_t *nextFno);
    HRESULT findLocked(std::int64_t stream, std::int64_t from, std::int64_t to, bool descending,
                       std::uint32_t channel, bool dense, FrameLocation *location);

    std::mutex m_mutex;
    SqliteDb m_db;
    // Whether m_db is read-only; turns false once, under m_mutex, when the store becomes writable.
    std::atomic<bool> m_readOnly{false};
    // Frames are committed by one thread per store, in batches of whatever the writers queued.
    std::mutex m_commitMutex;
    std::condition_variable m_commitWake;
    std::condition_variable m_commitDone;
    std::vector<PendingCommit *> m_pending;
    bool m_commitStop = false;
    bool m_committing = false; // a batch is being written; only one at a time, in queue order
    bool m_commitNow = false;  // enough is queued to start a batch without waiting for more
    static constexpr std::size_t kBatchFrames = 16;
    static constexpr std::size_t kStartAhead = 4; // a writer this far ahead starts a commit at once
    static constexpr std::chrono::microseconds kBatchDelay{1000};
    std::vector<PendingCommit *> m_batch, m_refused; // of the running commit
    struct SequenceUpdate
    {
        std::int64_t stream, seq, first, last, frames, bytes;
        const PendingCommit *latest;
    };
    std::vector<SequenceUpdate> m_sequenceUpdates; // of the running commit, under m_mutex
    QString m_commitError;                         // why the running commit failed
    nyx::logging::LogThrottle m_commitLog;         // of the running commit
    // The segment each stream's commits sync, kept open: a write-back error after the open is
    // reported to this descriptor, not lost to a fresh one. Used by the running commit only.
    struct SyncFile
    {
        std::int64_t seg = 0;
        int fd = -1;
    };
    std::map<std::int64_t, SyncFile> m_syncFiles;
    std::mutex m_syncMutex;
    void closeSyncFile(std::int64_t stream);
    std::thread m_committer;
    std::map<std::pair<std::int64_t, std::int64_t>, HRESULT> m_failedSequences;
    // Checkpoints run on their own thread and connection, so no commit waits for their syncs.
    void checkpointLoop();
    static int walHook(void *self, sqlite3 *db, const char *name, int pages);
    // The log (4 KiB pages) is checkpointed in the background from 4 MiB on, at most every 250 ms;
    // emptied from 16 MiB on; and emptied by the commit itself at 48 MiB, its bound. The log counts
    // in the storage's size: a small storage keeps it smaller (from 1/64 of its size on).
    int m_walCheckpointPages = 1024;
    int m_walTruncatePages = 4096;
    int m_walHardPages = 12288;
    static constexpr std::chrono::milliseconds kCheckpointPause{250};
    std::thread m_checkpointer;
    std::mutex m_checkpointMutex;
    std::condition_variable m_checkpointWake;
    bool m_checkpointDue = false;
    bool m_walDirty = false; // commits since the log's last sync
    static constexpr std::chrono::milliseconds kWalSyncPeriod{250};
    bool m_stopping = false;
    QString m_folder;
    ChannelFlags m_channelFlags;
    // A segment file open for reading: shared by the hold and the reads in progress, closed by the last.
    struct SegmentFile
    {
        explicit SegmentFile(int descriptor) : fd(descriptor) {}
        SegmentFile(const SegmentFile &) = delete;
        SegmentFile &operator=(const SegmentFile &) = delete;
        ~SegmentFile();
        const int fd;
    };
    // The files of the segments held in this process, locked shared (see StorageSpace); a segment
    // nobody here holds keeps no descriptor, so one the ring removed gives its space back at once.
    std::map<std::pair<std::int64_t, std::int64_t>, std::shared_ptr<SegmentFile>> m_heldFiles;
    std::unique_ptr<StorageSpace> m_space;           // under m_mutex
    std::map<std::int64_t, QString> m_streamFolders; // the streams seen, under m_mutex
};
} // namespace nyx::archive
