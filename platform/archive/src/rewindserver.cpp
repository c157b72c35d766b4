#include "rewindserver.h"

#include "archive/archivefaults.h"
#include "archive/archiveserver.h"
#include "archiveerrors.h"
#include "archivereader.h"
#include "archivestream.h"
#include "archivewriter.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace nyx::archive {
using faults::Operation;

namespace {
int startupMilliseconds()
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(kStartupVariable, &ok);
    return ok && value >= 0 ? value : 200;
}

// A handle for a created storage; it only keeps the archive open while held.
class StorageHandle : public nyx::com::ComObject<IUnknown>
{
public:
    explicit StorageHandle(std::shared_ptr<ArchiveEngine> engine) : m_engine(std::move(engine)) {}

private:
    std::shared_ptr<ArchiveEngine> m_engine;
};

template <class Row, class Fill>
HRESULT fillList(const std::vector<Row> &rows, DWORD capacity, DWORD *count, Fill fill)
{
    std::size_t available = rows.size();
    const int limit = faults::listLimit();
    if (limit >= 0 && available > static_cast<std::size_t>(limit))
        available = static_cast<std::size_t>(limit);
    const std::size_t n = std::min<std::size_t>(available, capacity);
    for (std::size_t i = 0; i < n; ++i)
        fill(rows[i], i);
    *count = static_cast<DWORD>(n);
    return n < available ? kMoreData : S_OK;
}
} // namespace

HRESULT nameFromField(const WCHAR *field, std::u16string *name)
{
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(kNameUnits) && field[n] != 0)
        ++n;
    if (n == 0 || n > static_cast<std::size_t>(kMaxNameUnits))
        return E_INVALIDARG;
    name->assign(field, field + n);
    return S_OK;
}

void nameToField(const std::u16string &name, WCHAR *field)
{
    std::memset(field, 0, kNameUnits * sizeof(WCHAR));
    const std::size_t n = std::min<std::size_t>(name.size(), kMaxNameUnits);
    std::memcpy(field, name.data(), n * sizeof(WCHAR));
}

HRESULT nameFromBstr(BSTR text, std::u16string *name)
{
    if (!text)
        return E_POINTER;
    const UINT n = SysStringLen(text);
    if (n == 0 || n > static_cast<UINT>(kMaxNameUnits))
        return E_INVALIDARG;
    for (UINT i = 0; i < n; ++i) {
        if (text[i] == 0)
            return E_INVALIDARG;
    }
    name->assign(text, text + n);
    return S_OK;
}

void fillHead(const StreamRow &row, const StorageRow &storage, ArchiveStreamHead *head)
{
    std::memset(head, 0, sizeof *head);
    head->storageId = storage.guid;
    nameToField(storage.name, head->storageName);
    head->streamId = row.guid;
    nameToField(row.name, head->name);
    head->streamType = row.type;
}

RewindServer::RewindServer(std::shared_ptr<ArchiveEngine> engine)
    : m_engine(std::move(engine)),
      m_readyAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(startupMilliseconds()))
{
}

HRESULT RewindServer::create(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    std::shared_ptr<ArchiveEngine> engine;
    const HRESULT hr = ArchiveEngine::forRoot(archiveRoot(), &engine);
    if (FAILED(hr))
        return hr;
    auto *server = new RewindServer(std::move(engine));
    const HRESULT q = server->QueryInterface(riid, object);
    server->Release();
    return q;
}

HRESULT RewindServer::IsReady()
{
    if (const HRESULT f = faults::check(Operation::IsReady))
        return f;
    return std::chrono::steady_clock::now() < m_readyAt ? E_PENDING : S_OK;
}

HRESULT RewindServer::GetMemoryStatus(CRewindMemoryStatus *status)
{
    if (const HRESULT f = faults::check(Operation::GetMemoryStatus))
        return f;
    if (!status)
        return E_POINTER;
    std::memset(status, 0, sizeof *status);
    struct sysinfo info
    {
    };
    if (::sysinfo(&info) != 0)
        return E_FAIL;
    const ULONGLONG unit = info.mem_unit ? info.mem_unit : 1;
    status->totalPhysMemory = info.totalram * unit;
    status->availPhysMemory = (info.freeram + info.bufferram) * unit;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:"))
                status->availPhysMemory = line.mid(13).trimmed().split(' ').value(0).toULongLong() * 1024;
        }
    }
    status->totalVirtualMemory = status->totalPhysMemory + info.totalswap * unit;
    status->availVirtualMemory = status->availPhysMemory + info.freeswap * unit;
    struct rlimit limit
    {
    };
    ULONGLONG space = 1ULL << 47;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        space = limit.rlim_cur;
    ULONGLONG used = 0;
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly))
        used = statm.readAll().split(' ').value(0).toULongLong() *
               static_cast<ULONGLONG>(::sysconf(_SC_PAGESIZE));
    status->totalProcessAddressSpace = space;
    status->availProcessAddressSpace = used < space ? space - used : 0;
    return S_OK;
}

HRESULT RewindServer::GetMinimumStorageSize(ArchiveMinimumSizeRecord *record)
{
    if (const HRESULT f = faults::check(Operation::GetMinimumStorageSize))
        return f;
    if (!record)
        return E_POINTER;
    std::memset(record, 0, sizeof *record);
    record->recordSize = sizeof *record;
    record->driveCount = static_cast<DWORD>(m_engine->drives().size());
    record->segmentSize = 256ULL * 1024 * 1024;
    record->allocationUnit = 1;
    record->minimumSize = m_engine->minimumStorageSize();
    return S_OK;
}

HRESULT RewindServer::GetDriveMask(ULONGLONG *mask)
{
    if (const HRESULT f = faults::check(Operation::GetDriveMask))
        return f;
    if (!mask)
        return E_POINTER;
    *mask = m_engine->driveMask();
    return S_OK;
}

HRESULT RewindServer::GetDriveInfo(int drive, LONGLONG *size, LONGLONG *freeSize, LONGLONG *usedSize,
                                   BSTR *name)
{
    if (const HRESULT f = faults::check(Operation::GetDriveInfo))
        return f;
    if (!size || !freeSize || !usedSize || !name)
        return E_POINTER;
    if (drive < 0 || drive >= static_cast<int>(m_engine->drives().size()))
        return E_INVALIDARG;
    const DriveConfig &config = m_engine->drives()[static_cast<std::size_t>(drive)];
    QDir().mkpath(config.path);
    struct statvfs fs
    {
    };
    const QByteArray path = QFile::encodeName(config.path);
    if (::statvfs(path.constData(), &fs) != 0)
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    *size = static_cast<LONGLONG>(fs.f_blocks) * static_cast<LONGLONG>(fs.f_frsize);
    *freeSize = static_cast<LONGLONG>(fs.f_bavail) * static_cast<LONGLONG>(fs.f_frsize);
    *usedSize = static_cast<LONGLONG>(fs.f_blocks - fs.f_bfree) * static_cast<LONGLONG>(fs.f_frsize);
    *name = nyx::com::toBstr(config.name);
    return S_OK;
}

HRESULT RewindServer::GetStoragePart(GUID storageId, int drive, LONGLONG *size, BSTR *driveName)
{
    if (const HRESULT f = faults::check(Operation::GetStoragePart))
        return f;
    if (!size || !driveName)
        return E_POINTER;
    if (drive < 0 || drive >= static_cast<int>(m_engine->drives().size()))
        return E_INVALIDARG;
    StorageRow row;
    const HRESULT hr = m_engine->findStorage(storageId, &row);
    if (FAILED(hr))
        return hr;
    *size = row.drive == drive ? row.size : 0;
    *driveName = nyx::com::toBstr(m_engine->drives()[static_cast<std::size_t>(drive)].name);
    return S_OK;
}

HRESULT RewindServer::GetStorageCount(DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::GetStorageCount))
        return f;
    if (!count)
        return E_POINTER;
    std::vector<StorageRow> rows;
    const HRESULT hr = m_engine->listStorages(&rows);
    if (FAILED(hr))
        return hr;
    *count = static_cast<DWORD>(rows.size());
    return S_OK;
}

HRESULT RewindServer::GetStorages(ArchiveStorageRecord *storages, DWORD capacity, DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::GetStorages))
        return f;
    if (!count || (!storages && capacity))
        return E_POINTER;
    *count = 0;
    std::vector<StorageRow> rows;
    const HRESULT hr = m_engine->listStorages(&rows);
    if (FAILED(hr))
        return hr;
    return fillList(rows, capacity, count, [&](const StorageRow &row, std::size_t i) {
        std::memset(&storages[i], 0, sizeof storages[i]);
        storages[i].storageId = row.guid;
        nameToField(row.name, storages[i].name);
    });
}

HRESULT RewindServer::CreateStorage(CreateStorageBlock *block, IUnknown **created)
{
    if (const HRESULT f = faults::check(Operation::CreateStorage))
        return f;
    if (!block)
        return E_POINTER;
    if (created)
        *created = nullptr;
    std::u16string name;
    HRESULT hr = nameFromField(block->name, &name);
    if (FAILED(hr))
        return hr;
    if (block->version != 1 || block->driveIndex >= m_engine->drives().size() ||
        !(m_engine->driveMask() & (1ULL << block->driveIndex)) ||
        block->size < m_engine->minimumStorageSize())
        return E_INVALIDARG;
    GUID id{};
    hr = m_engine->createStorage(name, static_cast<int>(block->driveIndex), block->size, block->attributes,
                                 &id);
    if (FAILED(hr))
        return hr;
    block->storageId = id;
    if (created)
        *created = new StorageHandle(m_engine);
    return S_OK;
}

HRESULT RewindServer::DeleteStorage(GUID storageId)
{
    if (const HRESULT f = faults::check(Operation::DeleteStorage))
        return f;
    return m_engine->deleteStorage(storageId);
}

HRESULT RewindServer::GetStorageStats(GUID storageId, CRewindStorageStats *stats)
{
    if (const HRESULT f = faults::check(Operation::GetStorageStats))
        return f;
    if (!stats)
        return E_POINTER;
    StorageRow row;
    HRESULT hr = m_engine->findStorage(storageId, &row);
    if (FAILED(hr))
        return hr;
    std::shared_ptr<FrameStore> store;
    hr = m_engine->frameStore(row.id, &store);
    if (FAILED(hr))
        return hr;
    StorageTotals totals;
    hr = store->totals(&totals);
    if (FAILED(hr))
        return hr;
    StorageCounters &c = m_engine->counters(row.id);
    std::memset(stats, 0, sizeof *stats);
    stats->dataSizeOnDisk = m_engine->diskUsage(row);
    stats->lockedDataSizeOnDisk = totals.lockedBytes;
    stats->totalFramesWritten = totals.frames;
    stats->totalBytesWritten = totals.bytes;
    stats->totalFramesReaded = c.framesRead.load();
    stats->totalBytesReaded = c.bytesRead.load();
    stats->totalFATPagesWritten = c.commits.load();
    // Rates over the time since the previous call for this storage (any server object of the process).
    const std::uint64_t now[5] = {stats->totalFramesWritten, stats->totalBytesWritten,
                                  stats->totalFramesReaded, stats->totalBytesReaded,
                                  stats->totalFATPagesWritten};
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        const auto t = std::chrono::steady_clock::now();
        if (c.hasLast) {
            const double seconds = std::chrono::duration<double>(t - c.lastTime).count();
            if (seconds >= 0.05) {
                for (int i = 0; i < 5; ++i)
                    c.rates[i] = now[i] >= c.last[i] ? double(now[i] - c.last[i]) / seconds : 0.0;
                std::copy(now, now + 5, c.last);
                c.lastTime = t;
            }
        } else {
            std::copy(now, now + 5, c.last);
            c.lastTime = t;
            c.hasLast = true;
        }
        stats->currWriteFramesRate = c.rates[0];
        stats->currWriteBytesRate = c.rates[1];
        stats->currReadFramesRate = c.rates[2];
        stats->currReadBytesRate = c.rates[3];
        stats->currWriteFATPagesRate = c.rates[4];
    }
    return S_OK;
}

HRESULT RewindServer::GetStreamCount(GUID storageId, DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::GetStreamCount))
        return f;
    if (!count)
        return E_POINTER;
    StorageRow row;
    HRESULT hr = m_engine->findStorage(storageId, &row);
    if (FAILED(hr))
        return hr;
    std::vector<StreamRow> rows;
    hr = m_engine->listStreams(row.id, &rows);
    if (FAILED(hr))
        return hr;
    *count = static_cast<DWORD>(rows.size());
    return S_OK;
}

HRESULT RewindServer::GetStreams(GUID storageId, ArchiveStreamHead *streams, DWORD capacity, DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::GetStreams))
        return f;
    if (!count || (!streams && capacity))
        return E_POINTER;
    *count = 0;
    StorageRow storage;
    HRESULT hr = m_engine->findStorage(storageId, &storage);
    if (FAILED(hr))
        return hr;
    std::vector<StreamRow> rows;
    hr = m_engine->listStreams(storage.id, &rows);
    if (FAILED(hr))
        return hr;
    return fillList(rows, capacity, count,
                    [&](const StreamRow &row, std::size_t i) { fillHead(row, storage, &streams[i]); });
}

HRESULT RewindServer::CreateStream(ArchiveStreamRecord *record, IUnknown **created)
{
    if (const HRESULT f = faults::check(Operation::CreateStream))
        return f;
    if (!record)
        return E_POINTER;
    if (created)
        *created = nullptr;
    std::u16string name;
    HRESULT hr = nameFromField(record->head.name, &name);
    if (FAILED(hr))
        return hr;
    if (record->head.streamType == 0)
        return E_INVALIDARG;
    GUID id{};
    hr = m_engine->createStream(record->head.storageId, name, record->head.streamType, record->attributes,
                                &id);
    if (FAILED(hr))
        return hr;
    record->head.streamId = id;
    if (created) {
        StreamRow row;
        hr = m_engine->findStream(id, &row);
        if (FAILED(hr))
            return hr;
        *created = static_cast<IArchiveStream *>(new ArchiveStream(m_engine, row));
    }
    return S_OK;
}

HRESULT RewindServer::OpenStream(GUID streamId, IArchiveStream **stream)
{
    if (const HRESULT f = faults::check(Operation::OpenStream))
        return f;
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    StreamRow row;
    const HRESULT hr = m_engine->findStream(streamId, &row);
    if (FAILED(hr))
        return hr;
    *stream = new ArchiveStream(m_engine, row);
    return S_OK;
}

HRESULT RewindServer::DeleteStream(GUID streamId)
{
    if (const HRESULT f = faults::check(Operation::DeleteStream))
        return f;
    return m_engine->deleteStream(streamId);
}

HRESULT RewindServer::GetStreamInfo(GUID streamId, ArchiveStreamInfo *info)
{
    if (const HRESULT f = faults::check(Operation::GetStreamInfo))
        return f;
    if (!info)
        return E_POINTER;
    StreamRow row;
    std::shared_ptr<FrameStore> store;
    HRESULT hr = m_engine->findStreamStore(streamId, &row, &store);
    if (FAILED(hr))
        return hr;
    StreamStatus status;
    hr = store->status(row.id, &status);
    if (FAILED(hr))
        return hr;
    std::memset(info, 0, sizeof *info);
    info->streamId = row.guid;
    info->sequenceChangeCounter = status.changes;
    info->startTime = status.start;
    info->endTime = status.end;
    info->frameCount = status.frames;
    info->dataSize = status.bytes;
    info->storageId = row.storageGuid;
    info->sequenceCount = status.sequences;
    info->streamType = row.type;
    info->writing = status.writing ? 1 : 0;
    return S_OK;
}

HRESULT RewindServer::CreateWriter(GUID streamId, IArchiveWriter **writer)
{
    if (const HRESULT f = faults::check(Operation::CreateWriter))
        return f;
    if (!writer)
        return E_POINTER;
    *writer = nullptr;
    StreamRow row;
    const HRESULT hr = m_engine->findStream(streamId, &row);
    if (FAILED(hr))
        return hr;
    *writer = new ArchiveWriter(m_engine, row);
    return S_OK;
}

HRESULT RewindServer::CreateReader(IUnknown **reader)
{
    if (const HRESULT f = faults::check(Operation::CreateReader))
        return f;
    if (!reader)
        return E_POINTER;
    *reader = static_cast<IArchiveReader *>(new ArchiveReader(m_engine));
    return S_OK;
}
} // namespace nyx::archive
