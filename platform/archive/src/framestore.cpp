#include "framestore.h"

#include "archive/archivefaults.h"
#include "archiveerrors.h"
#include "crc32c.h"
#include "segmentformat.h"
#include "streamrecovery.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcFrameStore, "nyx.archive")

namespace nyx::archive {
namespace {
constexpr std::size_t kMaxFrame = segment::kMaxFrame;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
// A find is done again each time the segment of the frame it found turns out removed by another
// process meanwhile; bounded, should that process remove segments faster than this one finds.
constexpr int kFindPasses = 64;

const char *const kSchema = R"(
CREATE TABLE IF NOT EXISTS frames(stream INTEGER NOT NULL, time INTEGER NOT NULL, fno INTEGER NOT NULL,
  seq INTEGER NOT NULL, seg INTEGER NOT NULL, off INTEGER NOT NULL, len INTEGER NOT NULL, mask INTEGER NOT NULL,
  PRIMARY KEY(stream, time, fno)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS marks(stream INTEGER NOT NULL, channel INTEGER NOT NULL, time INTEGER NOT NULL,
  fno INTEGER NOT NULL, PRIMARY KEY(stream, channel, time, fno)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sequences(stream INTEGER NOT NULL, seq INTEGER NOT NULL, start INTEGER NOT NULL,
  first INTEGER, last INTEGER, frames INTEGER NOT NULL DEFAULT 0, bytes INTEGER NOT NULL DEFAULT 0,
  subseq INTEGER NOT NULL DEFAULT 0, open INTEGER NOT NULL DEFAULT 1, seg INTEGER NOT NULL DEFAULT 1,
  segend INTEGER NOT NULL DEFAULT 0, nextfno INTEGER NOT NULL DEFAULT 1, PRIMARY KEY(stream, seq));
CREATE TABLE IF NOT EXISTS streamstate(stream INTEGER PRIMARY KEY, changes INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS rebuilt(stream INTEGER PRIMARY KEY, seg INTEGER NOT NULL, segend INTEGER NOT NULL,
  nextfno INTEGER NOT NULL);
)";

template <class T> void put(std::uint8_t *p, T v)
{
    std::memcpy(p, &v, sizeof v);
}
template <class T> T get(const std::uint8_t *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void readLocation(Statement &s, FrameLocation *location)
{
    location->time = s.int64(0);
    location->fno = s.int64(1);
    location->seq = s.int64(2);
    location->seg = s.int64(3);
    location->offset = s.int64(4);
    location->length = s.int64(5);
}

bool writeAll(int fd, const std::uint8_t *data, std::size_t size, std::int64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}
// Writes the parts back to back at offset, whatever short writes happen on the way.
bool writeAllv(int fd, iovec *parts, int count, std::int64_t offset)
{
    int index = 0;
    while (index < count) {
        const ssize_t n = ::pwritev(fd, parts + index, count - index, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        offset += n;
        auto done = static_cast<std::size_t>(n);
        while (index < count && done >= parts[index].iov_len) {
            done -= parts[index].iov_len;
            ++index;
        }
        if (index < count) {
            parts[index].iov_base = static_cast<std::uint8_t *>(parts[index].iov_base) + done;
            parts[index].iov_len -= done;
        }
    }
    return true;
}

// A file created in the folder is found after a power cut only once the folder itself is synced.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Opens a segment for writing; a segment made here is synced into its folder at once, so that the
// frames a commit makes durable are not left in a file the folder does not list.
int openSegment(const QString &folder, std::int64_t seg, int flags)
{
    const QByteArray path = QFile::encodeName(FrameStore::segmentPath(folder, seg));
    const bool existed = ::access(path.constData(), F_OK) == 0;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd >= 0 && !existed)
        syncFolder(folder);
    return fd;
}
} // namespace

FrameStore::~FrameStore()
{
    {
        std::lock_guard<std::mutex> lock(m_commitMutex);
        m_commitStop = true;
    }
    m_commitWake.notify_all();
    if (m_committer.joinable())
        m_committer.join();
    {
        std::lock_guard<std::mutex> lock(m_checkpointMutex);
        m_stopping = true;
    }
    m_checkpointWake.notify_all();
    if (m_checkpointer.joinable())
        m_checkpointer.join();
    closeFiles();
    for (auto &entry : m_syncFiles)
        ::close(entry.second.fd);
}

int FrameStore::walHook(void *self, sqlite3 *db, const char *, int pages)
{
    auto *store = static_cast<FrameStore *>(self);
    {
        std::lock_guard<std::mutex> lock(store->m_checkpointMutex);
        store->m_walDirty = true;
    }
    if (pages >= store->m_walHardPages) {
        // The background checkpoints could not keep up (an unpaced writer, a slow disk): this commit
        // waits for a full one, which empties the log, so that it never grows past its bound.
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        return SQLITE_OK;
    }
    if (pages >= store->m_walCheckpointPages) {
        std::lock_guard<std::mutex> lock(store->m_checkpointMutex);
        store->m_checkpointDue = true;
    }
    return SQLITE_OK;
}

void FrameStore::checkpointLoop()
{
    SqliteDb db;
    if (!db.open(m_folder + QStringLiteral("/index.db")))
        return;
    const QByteArray walPath = QFile::encodeName(m_folder + QStringLiteral("/index.db-wal"));
    int wal = -1;
    // The log is synced here, a few times a second when commits came, rather than by each commit:
    // a commit lists only frames whose segment bytes are synced already, and frames the lost end of
    // the log listed are taken back from their segments by the next recovery.
    // A passive checkpoint copies the log into the database without holding up commits, but with a
    // writer committing all the time it rarely catches up with the log's end, and only a log copied
    // to its end starts over. A log still long after one is emptied with a truncating checkpoint,
    // which waits for the commit running and holds the next ones for its time.
    auto lastCheckpoint = std::chrono::steady_clock::time_point();
    std::unique_lock<std::mutex> lock(m_checkpointMutex);
    for (bool last = false; !last;) {
        m_checkpointWake.wait_for(lock, kWalSyncPeriod, [this] { return m_stopping; });
        last = m_stopping;
        const bool dirty = m_walDirty;
        m_walDirty = false;
        const auto now = std::chrono::steady_clock::now();
        const bool due = m_checkpointDue && now - lastCheckpoint >= kCheckpointPause;
        if (due)
            m_checkpointDue = false;
        lock.unlock();
        if (dirty) {
            if (wal < 0)
                wal = ::open(walPath.constData(), O_RDONLY | O_CLOEXEC);
            if (wal >= 0 && ::fdatasync(wal) != 0)
                qCWarning(lcFrameStore)
                    << "Syncing the index log of" << m_folder << "failed:" << std::strerror(errno);
        }
        if (due && !last) {
            int logPages = 0, copied = 0;
            sqlite3_wal_checkpoint_v2(db.handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logPages, &copied);
            if (logPages >= m_walTruncatePages)
                sqlite3_wal_checkpoint_v2(db.handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
            lastCheckpoint = now;
        }
        lock.lock();
    }
    if (wal >= 0)
        ::close(wal);
}

HRESULT FrameStore::open(const QString &folder, ChannelFlags flags, std::int64_t size,
                         std::shared_ptr<FrameStore> *store)
{
    std::shared_ptr<FrameStore> s(new FrameStore());
    s->m_folder = folder;
    s->m_space = std::make_unique<StorageSpace>(size);
    s->m_channelFlags = std::move(flags);
    if (!QDir(folder).exists() && !QDir().mkpath(folder))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const QString index = folder + QStringLiteral("/index.db");
    const QFileInfo info(index);
    if ((!info.exists() || info.size() == 0) && QFileInfo(folder).isWritable()) {
        // A log or shared-memory file left beside a missing or empty index belongs to the lost one.
        for (const char *suffix : {"-wal", "-shm"}) {
            if (QFile::exists(index + QLatin1String(suffix))) {
                qCWarning(lcFrameStore)
                    << "Removing" << (index + QLatin1String(suffix)) << "of a missing or empty frame index";
                QFile::remove(index + QLatin1String(suffix));
            }
        }
        if (info.exists())
            QFile::remove(index);
    }
    if (!s->m_db.open(index) || (!s->m_db.readOnly() && !s->m_db.exec(kSchema))) {
        qCWarning(lcFrameStore) << "Frame index" << folder << "cannot be used:" << s->m_db.error();
        return s->m_db.failure();
    }
    // Nothing is written to a read-only storage: no committer, no checkpoints, until it can be
    // written (makeWritable).
    s->m_readOnly = s->m_db.readOnly();
    if (!s->m_readOnly)
        s->startWriting();
    *store = std::move(s);
    return S_OK;
}

void FrameStore::startWriting()
{
    sqlite3_wal_autocheckpoint(m_db.handle(), 0);
    // Commits are made durable by the log syncs of the checkpoint thread (see there), so that a commit
    // waits for one sync only: its segments'.
    m_db.exec("PRAGMA synchronous=NORMAL");
    // A log that starts over is cut back to this size, so that one burst does not keep its space
    // (the log counts in the storage's size, so a small storage keeps a small one).
    const std::int64_t size = m_space->size();
    const std::int64_t logLimit = std::clamp<std::int64_t>(size / 16, 1LL << 20, 16LL << 20);
    m_walCheckpointPages = static_cast<int>(std::clamp<std::int64_t>(size / 64 / 4096, 64, 1024));
    m_walTruncatePages = 4 * m_walCheckpointPages;
    m_walHardPages = 12 * m_walCheckpointPages;
    m_db.exec(QStringLiteral("PRAGMA journal_size_limit=%1").arg(logLimit).toUtf8().constData());
    sqlite3_wal_hook(m_db.handle(), &FrameStore::walHook, this);
    m_checkpointer = std::thread([this] { checkpointLoop(); });
    m_committer = std::thread([this] { commitLoop(); });
}

HRESULT FrameStore::makeWritable()
{
    if (!m_readOnly)
        return S_OK;
    // Every use of the index is under m_mutex, so none is running while the connection is swapped;
    // a read-only store has no other connection to it (no checkpoints).
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_readOnly)
        return S_OK;
    if (!m_db.reopenWritable())
        return E_ACCESSDENIED;
    if (!m_db.exec(kSchema)) {
        qCWarning(lcFrameStore) << "Frame index" << m_folder << "cannot be written:" << m_db.error();
        return m_db.failure();
    }
    startWriting();
    m_readOnly = false;
    qCInfo(lcFrameStore) << "Frame index" << m_folder << "can be written again";
    return S_OK;
}

QString FrameStore::segmentPath(const QString &folder, std::int64_t seg)
{
    return folder + QStringLiteral("/seg-%1.dat").arg(seg, 8, 10, QLatin1Char('0'));
}

FrameStore::SegmentFile::~SegmentFile()
{
    if (fd >= 0)
        ::close(fd);
}

void FrameStore::closeFiles()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_heldFiles.clear(); // a read in progress keeps its file until it is done
}

HRESULT FrameStore::recoverStream(std::int64_t stream, const QString &folder)
{
    if (readOnly())
        return S_OK; // nothing can be repaired here, and readers do not need it
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamFolders[stream] = folder;
    return StreamRecovery(*this).recover(stream, folder);
}

HRESULT FrameStore::beginSequence(WriterState &state, std::uint64_t startTime)
{
    if (const HRESULT writable = makeWritable(); FAILED(writable))
        return writable;
    const HRESULT recovered = recoverStream(state.stream, state.folder);
    if (FAILED(recovered))
        return recovered;
    const HRESULT room = makeRoom(state.stream, state.folder);
    if (FAILED(room))
        return room;
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction tx(m_db);
    if (!tx.ok())
        return tx.failure();
    position(state.stream, &state.seg, &state.segEnd, &state.nextFno);
    Statement &last = m_db.cached("SELECT COALESCE(MAX(seq), 0) FROM sequences WHERE stream=?1");
    last.bind(1, state.stream);
    if (last.step() != SQLITE_ROW)
        return m_db.failure();
    state.seq = last.int64(0) + 1;
    last.reset();
    Statement &insert = m_db.cached(
        "INSERT INTO sequences(stream, seq, start, seg, segend, nextfno) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, state.stream).bind(2, state.seq).bind(3, static_cast<std::int64_t>(startTime));
    insert.bind(4, state.seg).bind(5, state.segEnd).bind(6, state.nextFno);
    if (insert.step() != SQLITE_DONE || !bumpChanges(state.stream))
        return m_db.failure();
    if (!tx.commit())
        return tx.failure();
    if (!QDir(state.folder).exists()) {
        QDir().mkpath(state.folder);
        syncFolder(m_folder);
    }
    state.fd = openSegment(state.folder, state.seg, 0);
    if (state.fd < 0)
        return errno == ENOSPC ? kDiskFull : errno == EROFS || errno == EACCES ? E_ACCESSDENIED : kWriteFault;
    state.failed = false;
    state.hasFrames = false;
    state.subsequences = 0;
    return S_OK;
}

HRESULT FrameStore::openFrame(WriterState &state, std::size_t firstRecord)
{
    state.frameFd = state.fd;
    state.frameSeg = state.seg;
    state.frameStart = state.segEnd;
    if (state.segEnd > 0 &&
        state.segEnd + static_cast<std::int64_t>(kFrameHeader + firstRecord) > m_space->segmentLimit()) {
        // A new segment: the storage makes room for it first, or is full. The writer's frames are
        // committed first, so that the ring may take every segment before this one.
        const HRESULT settled = settle(state, 0);
        if (FAILED(settled))
            return settled;
        const HRESULT room = makeRoom(state.stream, state.folder);
        if (FAILED(room))
            return room;
        const int fd = openSegment(state.folder, state.seg + 1, O_TRUNC);
        if (fd < 0)
            return errno == ENOSPC ? kDiskFull : kWriteFault;
        state.frameFd = fd;
        state.frameSeg = state.seg + 1;
        state.frameStart = 0;
    }
    state.frameOpen = true;
    state.frameBuffer.resize(kFrameHeader);
    state.frameWritten = 0;
    state.frameBytes = 0;
    state.frameCrc = 0;
    state.frameRecords = 0;
    return S_OK;
}

void FrameStore::abandonFrame(WriterState &state)
{
    if (state.frameOpen && state.frameFd != state.fd && state.frameFd >= 0)
        ::close(state.frameFd);
    state.frameOpen = false;
    state.frameFd = -1;
}

HRESULT FrameStore::appendRecord(WriterState &state, std::uint32_t channel, std::uint8_t kind,
                                 const std::uint8_t *bytes, std::uint32_t length)
{
    if (!state.frameOpen) {
        const HRESULT hr = openFrame(state, 12 + std::size_t(length));
        if (FAILED(hr))
            return hr;
    }
    if (kFrameHeader + static_cast<std::size_t>(state.frameBytes) + 12 + length > kMaxFrame)
        return E_INVALIDARG;
    const std::size_t record = 12 + std::size_t(length);
    if (state.frameBuffer.size() - kFrameHeader + record > kFrameBufferBytes) {
        const HRESULT hr = flushRecords(state);
        if (FAILED(hr))
            return hr;
    }
    std::uint8_t head[12];
    put<std::uint32_t>(head, channel);
    head[4] = kind;
    head[5] = head[6] = head[7] = 0;
    put<std::uint32_t>(head + 8, length);
    if (record > kFrameBufferBytes) {
        // Too large to hold: written at its place at once (the caller may reuse its bytes after this).
        iovec parts[2] = {{head, sizeof head}, {const_cast<std::uint8_t *>(bytes), length}};
        const std::int64_t offset =
            state.frameStart + static_cast<std::int64_t>(kFrameHeader) + state.frameWritten;
        if (!writeAllv(state.frameFd, parts, 2, offset))
            return errno == ENOSPC ? kDiskFull : kWriteFault;
        state.frameCrc = crc32c(head, sizeof head, state.frameCrc);
        state.frameCrc = crc32c(bytes, length, state.frameCrc);
        state.frameWritten += static_cast<std::int64_t>(record);
    } else {
        // Copied, the caller may reuse its bytes after this; the CRC is taken in the same pass.
        const std::size_t at = state.frameBuffer.size();
        state.frameBuffer.resize(at + record);
        std::uint8_t *out = state.frameBuffer.data() + at;
        state.frameCrc = crc32cCopy(out, head, sizeof head, state.frameCrc);
        if (length)
            state.frameCrc = crc32cCopy(out + sizeof head, bytes, length, state.frameCrc);
    }
    state.frameBytes += static_cast<std::int64_t>(record);
    ++state.frameRecords;
    return S_OK;
}

HRESULT FrameStore::flushRecords(WriterState &state)
{
    // The buffered records go to their place behind the frame's header, which is written last.
    const std::size_t buffered = state.frameBuffer.size() - kFrameHeader;
    if (!buffered)
        return S_OK;
    if (!writeAll(state.frameFd, state.frameBuffer.data() + kFrameHeader, buffered,
                  state.frameStart + static_cast<std::int64_t>(kFrameHeader) + state.frameWritten))
        return errno == ENOSPC ? kDiskFull : kWriteFault;
    state.frameWritten += static_cast<std::int64_t>(buffered);
    state.frameBuffer.resize(kFrameHeader);
    return S_OK;
}

HRESULT FrameStore::commitFrame(WriterState &state, std::int64_t time,
                                const std::vector<std::uint32_t> &sparseChannels, std::uint64_t mask,
                                std::uint32_t *frameBytes)
{
    if (!state.frameOpen) {
        const HRESULT hr = openFrame(state, 0);
        if (FAILED(hr))
            return hr;
    }
    segment::FrameHeader head;
    head.length = static_cast<std::uint32_t>(state.frameBytes);
    head.time = time;
    head.fno = state.nextFno;
    head.crc = state.frameCrc;
    head.records = state.frameRecords;
    std::uint8_t *header = state.frameBuffer.data();
    segment::writeHeader(head, header);
    // The frame is whole in the segment before the index row that points at it is queued. A frame
    // held in the buffer goes in one write, header first: should the process die within it, the
    // header's CRC does not match the payload and no recovery takes the frame. Records written
    // ahead go first, then the header.
    const HRESULT injected = faults::check(faults::Operation::SegmentWrite);
    bool written;
    if (FAILED(injected)) {
        written = false;
    } else if (state.frameWritten == 0) {
        written = writeAll(state.frameFd, header, state.frameBuffer.size(), state.frameStart);
    } else {
        written =
            flushRecords(state) == S_OK && writeAll(state.frameFd, header, kFrameHeader, state.frameStart);
    }
    if (!written) {
        const HRESULT hr = FAILED(injected) ? injected : errno == ENOSPC ? kDiskFull : kWriteFault;
        // Part of the write may have reached the segment: the magic is undone, so that no recovery
        // takes the frame over what an earlier attempt left behind it.
        const std::uint32_t none = 0;
        writeAll(state.frameFd, reinterpret_cast<const std::uint8_t *>(&none), sizeof none, state.frameStart);
        abandonFrame(state);
        return hr;
    }
    const std::int64_t size = static_cast<std::int64_t>(kFrameHeader) + state.frameBytes;
    std::int64_t subsequences = state.subsequences;
    if (!state.hasFrames || time - state.lastTime > kSubsequenceGap)
        ++subsequences;
    std::unique_ptr<PendingCommit> pending;
    if (state.spare.empty()) {
        pending = std::make_unique<PendingCommit>();
    } else {
        pending = std::move(state.spare.back());
        state.spare.pop_back();
        pending->done.store(false, std::memory_order_relaxed);
        pending->result = S_OK;
    }
    pending->stream = state.stream;
    pending->seq = state.seq;
    pending->fno = state.nextFno;
    pending->time = time;
    pending->seg = state.frameSeg;
    pending->offset = state.frameStart;
    pending->size = size;
    pending->subsequences = subsequences;
    pending->channels = sparseChannels;
    pending->mask = mask;
    pending->folder = state.folder;
    state.inFlightBytes += size;
    pending->queued = std::chrono::steady_clock::now();
    // The committer takes frames in queue order, so each stream's rows land in order.
    enqueue(pending.get(), state.inFlight.size() + 1);
    state.inFlight.push_back(std::move(pending));
    HRESULT committed = settle(state, kMaxInFlight);
    if (FAILED(committed)) {
        // The index cannot take frames now. The frames answered S_OK before are whole in the segment
        // and are taken into the index when the writer resumes (a new sequence) or by the next
        // recovery; this one is answered with the failure, so its header is undone: no recovery
        // takes it, and a caller that writes it again does not find it twice.
        settle(state, 0);
        const std::uint32_t none = 0;
        writeAll(state.frameFd, reinterpret_cast<const std::uint8_t *>(&none), sizeof none, state.frameStart);
        abandonFrame(state);
        return committed;
    }
    if (state.frameFd != state.fd) {
        ::close(state.fd);
        state.fd = state.frameFd;
        state.seg = state.frameSeg;
    }
    state.frameOpen = false;
    state.frameFd = -1;
    state.segEnd = state.frameStart + size;
    ++state.nextFno;
    state.subsequences = subsequences;
    state.lastTime = state.hasFrames ? std::max(state.lastTime, time) : time;
    state.hasFrames = true;
    if (frameBytes)
        *frameBytes = static_cast<std::uint32_t>(size);
    return S_OK;
}

void FrameStore::enqueue(PendingCommit *pending, std::size_t inFlight)
{
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_commitMutex);
        m_pending.push_back(pending);
        // The committer starts a batch once a writer is half-way to its limit or many frames wait;
        // the first frame of a batch only starts its clock.
        if (inFlight >= kStartAhead || m_pending.size() >= kBatchFrames)
            m_commitNow = true;
        wake = m_commitNow || m_pending.size() == 1;
    }
    if (wake)
        m_commitWake.notify_one();
}

HRESULT FrameStore::settle(WriterState &state, std::size_t keep)
{
    HRESULT result = S_OK;
    // The lock is taken only to wait: a frame's result is written before it is marked done.
    std::unique_lock<std::mutex> lock(m_commitMutex, std::defer_lock);
    while (!state.inFlight.empty()) {
        PendingCommit &oldest = *state.inFlight.front();
        if (!oldest.done.load(std::memory_order_acquire)) {
            // Once a commit has failed, every frame is waited for: its own result is its answer.
            if (state.inFlight.size() <= keep && state.inFlightBytes <= kMaxInFlightBytes && !state.failed &&
                std::chrono::steady_clock::now() - oldest.queued < kMaxLag)
                break;
            if (!lock.owns_lock())
                lock.lock();
            while (!oldest.done.load(std::memory_order_acquire)) {
                // A writer that has to wait commits the queue itself when no commit is running:
                // on a busy machine the committer thread may take long to be scheduled.
                if (!m_committing && !m_pending.empty())
                    commitQueued(lock);
                else
                    m_commitDone.wait(lock);
            }
        }
        if (FAILED(oldest.result)) {
            if (SUCCEEDED(result))
                result = oldest.result;
            state.failed = true;
        }
        state.inFlightBytes -= oldest.size;
        state.spare.push_back(std::move(state.inFlight.front()));
        state.inFlight.pop_front();
    }
    return result;
}

void FrameStore::commitLoop()
{
    std::unique_lock<std::mutex> lock(m_commitMutex);
    for (;;) {
        m_commitWake.wait(lock, [this] { return !m_committing && (m_commitStop || !m_pending.empty()); });
        if (m_pending.empty())
            return;
        // A few frames of every writer go into one transaction: a commit costs about as much as
        // the rows of several frames.
        m_commitWake.wait_for(lock, kBatchDelay,
                              [this] { return m_commitStop || m_commitNow || m_committing; });
        if (m_committing || m_pending.empty())
            continue;
        commitQueued(lock);
    }
}

void FrameStore::commitQueued(std::unique_lock<std::mutex> &lock)
{
    m_committing = true;
    m_commitNow = false;
    m_commitError.clear();
    m_batch.clear();
    m_refused.clear();
    for (PendingCommit *p : m_pending) {
        // Nothing of a sequence is committed after one of its frames failed: the index must not
        // skip a frame that recovery would then never take back from the segment.
        const auto failed = m_failedSequences.find({p->stream, p->seq});
        if (failed != m_failedSequences.end()) {
            p->result = failed->second;
            m_refused.push_back(p);
        } else {
            m_batch.push_back(p);
        }
    }
    m_pending.clear();
    lock.unlock();
    // The segments first: no index row may reach the disk before the frame it lists.
    HRESULT result = m_batch.empty() ? S_OK : syncSegments(m_batch);
    if (SUCCEEDED(result) && !m_batch.empty())
        result = writeBatch(m_batch);
    if (FAILED(result) && m_commitLog.failed())
        qCWarning(lcFrameStore).noquote()
            << "Committing" << m_batch.size() << "frames to the index of" << m_folder << "failed: 0x"
            << QString::number(static_cast<unsigned>(result), 16) << m_commitError << "-"
            << m_commitLog.covered() << "failed commit(s) since the last report";
    lock.lock();
    for (PendingCommit *p : m_batch) {
        p->result = result;
        p->done.store(true, std::memory_order_release);
        if (FAILED(result))
            m_failedSequences.emplace(std::make_pair(p->stream, p->seq), result);
    }
    for (PendingCommit *p : m_refused)
        p->done.store(true, std::memory_order_release);
    m_committing = false;
    m_commitDone.notify_all();
    if (!m_pending.empty() || m_commitStop)
        m_commitWake.notify_one();
}

HRESULT FrameStore::makeRoom(std::int64_t stream, const QString &folder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamFolders[stream] = folder;
    std::vector<std::pair<std::int64_t, std::int64_t>> removed;
    const HRESULT hr = m_space->makeRoom(
        m_db, m_folder, m_space->segmentLimit(),
        [this](std::int64_t s, std::int64_t seg) {
            const auto it = m_streamFolders.find(s);
            return it == m_streamFolders.end() ? QString() : segmentPath(it->second, seg);
        },
        [this](std::int64_t s) {
            std::int64_t seg = 1, segEnd = 0, nextFno = 1;
            position(s, &seg, &segEnd, &nextFno);
            return seg;
        },
        [this](std::int64_t s) { return bumpChanges(s); }, &removed);
    if (!removed.empty())
        qCInfo(lcFrameStore) << "Removed" << removed.size() << "oldest segment(s) of" << m_folder
                             << "to keep it within" << m_space->size() << "bytes";
    return hr;
}

HRESULT FrameStore::findHeld(std::int64_t stream, const QString &folder, SegmentHold *hold,
                             FrameLocation *location, const std::function<HRESULT()> &locate)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The rows of a removed segment go before its file: a segment found gone twice is missing, not
    // removed meanwhile, and is held as it is (its read reports the missing file).
    std::int64_t gone = -1;
    for (int pass = 1;; ++pass) {
        const HRESULT hr = locate();
        if (hr != S_OK || !hold)
            return hr;
        const bool last = location->seg == gone || pass >= kFindPasses;
        const HoldMove moved = moveHold(lock, hold, stream, folder, location->seg, last);
        if (moved == HoldMove::Held)
            return S_OK;
        if (moved == HoldMove::Gone)
            gone = location->seg;
    }
}

FrameStore::HoldMove FrameStore::moveHold(std::unique_lock<std::mutex> &lock, SegmentHold *hold,
                                          std::int64_t stream, const QString &folder, std::int64_t seg,
                                          bool last)
{
    if (hold->held && hold->stream == stream && hold->seg == seg)
        return HoldMove::Held;
    if (!m_space->held(stream, seg)) {
        // The first hold here locks the file, so that the rings of other processes leave it too.
        int fd = -1;
        const StorageSpace::FileHold file = StorageSpace::lockSegment(segmentPath(folder, seg), &fd);
        if (file == StorageSpace::FileHold::Removing) {
            if (!last) {
                // The removal waits for nothing of this process; this store's writers and readers do
                // not wait for it.
                lock.unlock();
                StorageSpace::awaitRemoval(fd);
                lock.lock();
                return HoldMove::Waited;
            }
            ::close(fd);
            fd = -1;
        } else if (file == StorageSpace::FileHold::Gone && !last) {
            return HoldMove::Gone;
        }
        if (fd >= 0)
            m_heldFiles[{stream, seg}] = std::make_shared<SegmentFile>(fd);
    }
    m_space->hold(stream, seg);
    releaseLocked(*hold);
    *hold = SegmentHold{stream, seg, true};
    return HoldMove::Held;
}

void FrameStore::releaseHold(SegmentHold &hold)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    releaseLocked(hold);
}

void FrameStore::releaseLocked(SegmentHold &hold)
{
    // The last hold of a segment here closes its file (once a read in progress is done with it).
    if (hold.held && m_space->release(hold.stream, hold.seg))
        m_heldFiles.erase({hold.stream, hold.seg});
    hold.held = false;
}

bool FrameStore::bumpChanges(std::int64_t stream)
{
    Statement &ensure = m_db.cached("INSERT OR IGNORE INTO streamstate(stream) VALUES(?1)");
    ensure.bind(1, stream);
    if (ensure.step() != SQLITE_DONE)
        return false;
    Statement &bump = m_db.cached("UPDATE streamstate SET changes=changes+1 WHERE stream=?1");
    bump.bind(1, stream);
    return bump.step() == SQLITE_DONE;
}

void FrameStore::position(std::int64_t stream, std::int64_t *seg, std::int64_t *segEnd, std::int64_t *nextFno)
{
    // The last sequence with frames holds the committed end; a stream rebuilt without any keeps the
    // position its rebuild found.
    Statement &s =
        m_db.cached("SELECT seg, segend, nextfno FROM (SELECT seg, segend, nextfno, 1 AS k, seq FROM "
                    "sequences WHERE stream=?1 AND frames>0 UNION ALL SELECT seg, segend, nextfno, 0, 0 "
                    "FROM rebuilt WHERE stream=?1) ORDER BY k DESC, seq DESC LIMIT 1");
    s.bind(1, stream);
    if (s.step() == SQLITE_ROW) {
        *seg = s.int64(0);
        *segEnd = s.int64(1);
        *nextFno = s.int64(2);
    } else {
        *seg = 1;
        *segEnd = 0;
        *nextFno = 1;
    }
    s.reset();
}

void FrameStore::closeSyncFile(std::int64_t stream)
{
    std::lock_guard<std::mutex> lock(m_syncMutex);
    const auto it = m_syncFiles.find(stream);
    if (it != m_syncFiles.end()) {
        ::close(it->second.fd);
        m_syncFiles.erase(it);
    }
}

HRESULT FrameStore::syncSegments(const std::vector<PendingCommit *> &batch)
{
    std::lock_guard<std::mutex> lock(m_syncMutex);
    // One sync per segment file, whatever number of frames the batch holds in it. A stream's frames
    // come in order, so its descriptor moves on to its newest segment and stays open for the next batch.
    std::vector<const PendingCommit *> files;
    for (const PendingCommit *p : batch) {
        if (std::none_of(files.begin(), files.end(),
                         [p](const PendingCommit *f) { return f->stream == p->stream && f->seg == p->seg; }))
            files.push_back(p);
    }
    for (const PendingCommit *f : files) {
        SyncFile &file = m_syncFiles[f->stream];
        if (file.fd >= 0 && file.seg != f->seg) {
            ::close(file.fd);
            file.fd = -1;
        }
        if (file.fd < 0) {
            file.fd =
                ::open(QFile::encodeName(segmentPath(f->folder, f->seg)).constData(), O_RDONLY | O_CLOEXEC);
            file.seg = f->seg;
        }
        if (file.fd < 0 || ::fdatasync(file.fd) != 0) {
            const int error = errno;
            m_commitError =
                QStringLiteral("syncing %1: %2")
                    .arg(segmentPath(f->folder, f->seg), QString::fromLocal8Bit(std::strerror(error)));
            return fileFailure(error);
        }
    }
    return S_OK;
}

HRESULT FrameStore::writeBatch(const std::vector<PendingCommit *> &batch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction tx(m_db);
    if (!tx.ok()) {
        m_commitError = m_db.error();
        return tx.failure();
    }
    // The frames of a sequence arrive in order; its row is updated once per batch with their sum.
    // SQLite's message of a failed statement is gone once the transaction is rolled back.
    const auto failed = [this] {
        m_commitError = QString::fromUtf8(sqlite3_errmsg(m_db.handle()));
        return m_db.failure();
    };
    m_sequenceUpdates.clear();
    for (const PendingCommit *p : batch) {
        Statement &f = m_db.cached("INSERT INTO frames VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        f.bind(1, p->stream).bind(2, p->time).bind(3, p->fno).bind(4, p->seq).bind(5, p->seg);
        f.bind(6, p->offset).bind(7, p->size).bind(8, static_cast<std::int64_t>(p->mask));
        if (f.step() != SQLITE_DONE)
            return failed();
        for (std::uint32_t channel : p->channels) {
            Statement &m = m_db.cached("INSERT OR IGNORE INTO marks VALUES(?1, ?2, ?3, ?4)");
            m.bind(1, p->stream).bind(2, channel).bind(3, p->time).bind(4, p->fno);
            if (m.step() != SQLITE_DONE)
                return failed();
        }
        auto u =
            std::find_if(m_sequenceUpdates.begin(), m_sequenceUpdates.end(),
                         [p](const SequenceUpdate &x) { return x.stream == p->stream && x.seq == p->seq; });
        if (u == m_sequenceUpdates.end()) {
            m_sequenceUpdates.push_back({p->stream, p->seq, p->time, p->time, 0, 0, p});
            u = m_sequenceUpdates.end() - 1;
        }
        u->first = std::min(u->first, p->time);
        u->last = std::max(u->last, p->time);
        ++u->frames;
        u->bytes += p->size;
        u->latest = p;
    }
    for (const SequenceUpdate &u : m_sequenceUpdates) {
        const PendingCommit *p = u.latest;
        Statement &s = m_db.cached(
            "UPDATE sequences SET first=COALESCE(MIN(first, ?3), ?3), last=COALESCE(MAX(last, ?9), ?9), "
            "frames=frames+?10, bytes=bytes+?4, subseq=?5, seg=?6, segend=?7, nextfno=?8 WHERE stream=?1 AND "
            "seq=?2");
        s.bind(1, u.stream).bind(2, u.seq).bind(3, u.first).bind(4, u.bytes).bind(5, p->subsequences);
        s.bind(6, p->seg).bind(7, p->offset + p->size).bind(8, p->fno + 1).bind(9, u.last).bind(10, u.frames);
        if (s.step() != SQLITE_DONE)
            return failed();
    }
    if (tx.commit())
        return S_OK;
    m_commitError = m_db.error();
    return tx.failure();
}

HRESULT FrameStore::endSequence(WriterState &state)
{
    abandonFrame(state);
    const HRESULT last = settle(state, 0);
    if (state.fd >= 0) {
        ::close(state.fd);
        state.fd = -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction tx(m_db);
    if (!tx.ok())
        return tx.failure();
    Statement &close = m_db.cached("UPDATE sequences SET open=0 WHERE stream=?1 AND seq=?2");
    close.bind(1, state.stream).bind(2, state.seq);
    bool ok = close.step() == SQLITE_DONE;
    Statement &drop = m_db.cached("DELETE FROM sequences WHERE stream=?1 AND seq=?2 AND frames=0");
    drop.bind(1, state.stream).bind(2, state.seq);
    ok = ok && drop.step() == SQLITE_DONE;
    ok = ok && bumpChanges(state.stream);
    if (!ok)
        return m_db.failure();
    if (!tx.commit())
        return tx.failure();
    return last;
}

HRESULT FrameStore::findLocked(std::int64_t stream, std::int64_t from, std::int64_t to, bool descending,
                               std::uint32_t channel, bool dense, FrameLocation *location)
{
    if (channel && dense && channel < 64) {
        static const char *const kScans[2] = {
            "SELECT time, fno, seq, seg, off, len FROM frames WHERE stream=?1 AND time>=?2 AND time<=?3 "
            "AND (mask & ?4) != 0 ORDER BY time, fno LIMIT 1",
            "SELECT time, fno, seq, seg, off, len FROM frames WHERE stream=?1 AND time>=?2 AND time<=?3 "
            "AND (mask & ?4) != 0 ORDER BY time DESC, fno DESC LIMIT 1",
        };
        Statement &s = m_db.cached(kScans[descending ? 1 : 0]);
        if (!s.valid())
            return m_db.failure();
        s.bind(1, stream).bind(2, from).bind(3, to).bind(4, static_cast<std::int64_t>(1ULL << channel));
        const int rc = s.step();
        if (rc == SQLITE_ROW)
            readLocation(s, location);
        s.reset();
        return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_db.failure();
    }
    static const char *const kQueries[4] = {
        "SELECT time, fno, seq, seg, off, len FROM frames WHERE stream=?1 AND time>=?2 AND time<=?3 "
        "ORDER BY time, fno LIMIT 1",
        "SELECT time, fno, seq, seg, off, len FROM frames WHERE stream=?1 AND time>=?2 AND time<=?3 "
        "ORDER BY time DESC, fno DESC LIMIT 1",
        "SELECT f.time, f.fno, f.seq, f.seg, f.off, f.len FROM marks m JOIN frames f ON f.stream=m.stream "
        "AND f.time=m.time AND f.fno=m.fno WHERE m.stream=?1 AND m.channel=?4 AND m.time>=?2 AND m.time<=?3 "
        "ORDER BY m.time, m.fno LIMIT 1",
        "SELECT f.time, f.fno, f.seq, f.seg, f.off, f.len FROM marks m JOIN frames f ON f.stream=m.stream "
        "AND f.time=m.time AND f.fno=m.fno WHERE m.stream=?1 AND m.channel=?4 AND m.time>=?2 AND m.time<=?3 "
        "ORDER BY m.time DESC, m.fno DESC LIMIT 1",
    };
    Statement &s = m_db.cached(kQueries[(channel ? 2 : 0) + (descending ? 1 : 0)]);
    if (!s.valid())
        return m_db.failure();
    s.bind(1, stream).bind(2, from).bind(3, to);
    if (channel)
        s.bind(4, static_cast<std::int64_t>(channel));
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
        readLocation(s, location);
        s.reset();
        return S_OK;
    }
    s.reset();
    return rc == SQLITE_DONE ? kNotFound : m_db.failure();
}

HRESULT FrameStore::find(std::int64_t stream, const QString &folder, std::int64_t time, std::uint32_t mode,
                         std::uint32_t channel, bool dense, FrameLocation *location, SegmentHold *hold)
{
    if (mode < 1 || mode > 3)
        return E_INVALIDARG;
    return findHeld(stream, folder, hold, location, [&]() {
        if (mode == 1)
            return findLocked(stream, time, kMax, false, channel, dense, location);
        const HRESULT hr = findLocked(stream, kMin, time, true, channel, dense, location);
        if (mode == 3 && hr == kNotFound)
            return findLocked(stream, time, kMax, false, channel, dense, location);
        return hr;
    });
}

HRESULT FrameStore::findInRange(std::int64_t stream, const QString &folder, std::int64_t from,
                                std::int64_t to, std::uint32_t mode, std::uint32_t channel, bool dense,
                                FrameLocation *location, SegmentHold *hold)
{
    if (mode < 1 || mode > 3)
        return E_INVALIDARG;
    if (from > to)
        return kNotFound;
    return findHeld(stream, folder, hold, location,
                    [&] { return findLocked(stream, from, to, mode == 2, channel, dense, location); });
}

HRESULT FrameStore::readFrame(std::int64_t stream, const QString &folder, const FrameLocation &location,
                              std::vector<std::uint8_t> *frame)
{
    if (location.length < static_cast<std::int64_t>(kFrameHeader) ||
        location.length > static_cast<std::int64_t>(kMaxFrame))
        return kFileCorrupt;
    // The read goes on outside the lock: its own reference keeps the file open should the hold go
    // meanwhile.
    std::shared_ptr<SegmentFile> file;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_heldFiles.find({stream, location.seg});
        if (it != m_heldFiles.end())
            file = it->second;
    }
    if (!file) {
        // Nobody here holds the segment: it is opened for this read only.
        const int fd =
            ::open(QFile::encodeName(segmentPath(folder, location.seg)).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return kReadFault;
        file = std::make_shared<SegmentFile>(fd);
    }
    segment::FrameHeader header;
    const HRESULT hr = segment::readFrame(file->fd, location.offset, &header, frame);
    if (hr == kReadFault)
        return hr;
    if (FAILED(hr) || static_cast<std::int64_t>(frame->size()) != location.length ||
        header.time != location.time || header.fno != location.fno) {
        qCWarning(lcFrameStore) << "Damaged frame" << location.fno << "at" << location.offset << "in segment"
                                << segmentPath(folder, location.seg);
        frame->clear();
        return kFileCorrupt;
    }
    return S_OK;
}

HRESULT FrameStore::status(std::int64_t stream, StreamStatus *status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *status = StreamStatus();
    // Every frame and every start, stop or repair moves the counter.
    Statement &c = m_db.cached("SELECT COALESCE((SELECT changes FROM streamstate WHERE stream=?1), 0) + "
                               "COALESCE((SELECT SUM(frames) FROM sequences WHERE stream=?1), 0)");
    c.bind(1, stream);
    int rc = c.step();
    if (rc == SQLITE_ROW)
        status->changes = static_cast<std::uint64_t>(c.int64(0));
    else if (rc != SQLITE_DONE)
        return m_db.failure();
    c.reset();
    FrameLocation first, last;
    HRESULT hr = findLocked(stream, kMin, kMax, false, 0, false, &first);
    if (hr == S_OK) {
        hr = findLocked(stream, kMin, kMax, true, 0, false, &last);
        if (FAILED(hr))
            return hr;
        status->start = static_cast<std::uint64_t>(first.time);
        status->end = static_cast<std::uint64_t>(last.time);
    } else if (hr != kNotFound) {
        return hr;
    }
    Statement &s =
        m_db.cached("SELECT COALESCE(SUM(frames>0), 0), COALESCE(SUM(frames), 0), "
                    "COALESCE(SUM(bytes), 0), COALESCE(MAX(open), 0) FROM sequences WHERE stream=?1");
    s.bind(1, stream);
    if (s.step() != SQLITE_ROW)
        return m_db.failure();
    status->sequences = static_cast<std::uint32_t>(s.int64(0));
    status->frames = static_cast<std::uint64_t>(s.int64(1));
    status->bytes = static_cast<std::uint64_t>(s.int64(2));
    status->writing = s.int64(3) != 0;
    s.reset();
    return S_OK;
}

HRESULT FrameStore::sequences(std::int64_t stream, std::vector<ArchiveSequenceRecord> *list)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    list->clear();
    Statement &s = m_db.cached("SELECT start, subseq, first, frames, last FROM sequences "
                               "WHERE stream=?1 AND frames>0 ORDER BY seq");
    s.bind(1, stream);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        ArchiveSequenceRecord r{};
        r.startTime = static_cast<std::uint64_t>(s.int64(0));
        r.subsequenceCount = static_cast<std::uint64_t>(s.int64(1));
        r.beginTime = static_cast<std::uint64_t>(s.int64(2));
        r.frameCount = static_cast<std::uint64_t>(s.int64(3));
        r.firstFrameTime = r.beginTime;
        r.lastFrameTime = static_cast<std::uint64_t>(s.int64(4));
        list->push_back(r);
    }
    s.reset();
    return rc == SQLITE_DONE ? S_OK : m_db.failure();
}

HRESULT FrameStore::rangeSize(std::int64_t stream, std::uint64_t from, std::uint64_t to, std::int64_t *size)
{
    const auto clamp = [](std::uint64_t v) {
        return v > static_cast<std::uint64_t>(kMax) ? kMax : std::int64_t(v);
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement &s =
        m_db.cached("SELECT COALESCE(SUM(len), 0) FROM frames WHERE stream=?1 AND time>=?2 AND time<=?3");
    s.bind(1, stream).bind(2, clamp(from)).bind(3, clamp(to));
    if (s.step() != SQLITE_ROW)
        return m_db.failure();
    *size = s.int64(0);
    s.reset();
    return S_OK;
}

HRESULT FrameStore::totals(StorageTotals *totals)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement &s = m_db.cached("SELECT COALESCE(SUM(frames), 0), COALESCE(SUM(bytes), 0), "
                               "COALESCE(SUM(CASE WHEN open THEN bytes ELSE 0 END), 0) FROM sequences");
    if (s.step() != SQLITE_ROW)
        return m_db.failure();
    totals->frames = static_cast<std::uint64_t>(s.int64(0));
    totals->bytes = static_cast<std::uint64_t>(s.int64(1));
    totals->lockedBytes = static_cast<std::uint64_t>(s.int64(2));
    s.reset();
    return S_OK;
}

HRESULT FrameStore::deleteStream(std::int64_t stream)
{
    if (const HRESULT writable = makeWritable(); FAILED(writable))
        return writable;
    closeSyncFile(stream);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_heldFiles.begin(); it != m_heldFiles.end();)
        it = it->first.first == stream ? m_heldFiles.erase(it) : std::next(it);
    Transaction tx(m_db);
    if (!tx.ok())
        return tx.failure();
    static const char *const kDeletes[] = {
        "DELETE FROM frames WHERE stream=?1", "DELETE FROM marks WHERE stream=?1",
        "DELETE FROM sequences WHERE stream=?1", "DELETE FROM streamstate WHERE stream=?1"};
    for (const char *sql : kDeletes) {
        Statement &d = m_db.cached(sql);
        d.bind(1, stream);
        if (d.step() != SQLITE_DONE)
            return m_db.failure();
    }
    return tx.commit() ? S_OK : tx.failure();
}
} // namespace nyx::archive
