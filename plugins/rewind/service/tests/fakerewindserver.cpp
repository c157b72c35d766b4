#include "fakerewindserver.h"

#include "archive/iattributestore.h"

#include <QMutexLocker>
#include <QThread>
#include <cstring>

namespace fake {
namespace {
void writeName(WCHAR *field, const QString &name)
{
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    const int n = qMin(name.size(), nyx::archive::kNameUnits);
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(n) * sizeof(WCHAR));
}

class ArchiveStream : public nyx::com::ComObject<IArchiveStream, IArchiveRangeInfo>
{
public:
    ArchiveStream(Server *server, const QUuid &id) : m_server(server), m_id(id) {}

    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        if (riid == IID_IArchiveRangeInfo && !m_server->rangeInfoOffered()) {
            if (object)
                *object = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, object);
    }
    HRESULT GetHeader(ArchiveStreamHead *) override { return E_NOTIMPL; }
    HRESULT ReadRecord(ArchiveStreamRecord *) override { return E_NOTIMPL; }
    HRESULT WriteRecord(const ArchiveStreamRecord *, DWORD) override { return E_NOTIMPL; }
    HRESULT GetSequenceCount(DWORD *count) override { return m_server->streamSequenceCount(m_id, count); }
    HRESULT GetSequences(ArchiveSequenceRecord *sequences, DWORD capacity, DWORD *count) override
    {
        return m_server->streamSequences(m_id, sequences, capacity, count);
    }
    HRESULT CreateChannel(BSTR name, BYTE flag, DWORD *channelId) override
    {
        return m_server->streamCreateChannel(m_id, nyx::com::fromBstr(name), flag, channelId);
    }
    HRESULT FindChannel(BSTR name, BYTE *flag, DWORD *channelId) override
    {
        return m_server->streamFindChannel(m_id, nyx::com::fromBstr(name), flag, channelId);
    }
    HRESULT GetRangeSize(ULONGLONG from, ULONGLONG to, LONGLONG *size) override
    {
        return m_server->streamRangeSize(m_id, from, to, size);
    }

private:
    CComPtr<Server> m_server;
    QUuid m_id;
};

class AttributeStore : public nyx::com::ComObject<IAttributeStore>
{
public:
    explicit AttributeStore(AttributeStoreRegistration *owner) : m_owner(owner) {}
    HRESULT Bind(BYTE *block, DWORD size, BOOL create) override
    {
        ++m_owner->binds;
        if (m_owner->failBind || size != 4096 || !create)
            return E_FAIL;
        std::memcpy(block, kAttributeMark, sizeof kAttributeMark);
        return S_OK;
    }
    HRESULT SetGUID(LPCWSTR, REFGUID) override { return E_NOTIMPL; }
    HRESULT GetDouble(LPCWSTR, double *) override { return E_NOTIMPL; }
    HRESULT GetGUID(LPCWSTR, GUID *) override { return E_NOTIMPL; }
    HRESULT GetBlobSize(LPCWSTR, UINT32 *) override { return E_NOTIMPL; }
    HRESULT GetBlob(LPCWSTR, BYTE *, UINT32, UINT32 *) override { return E_NOTIMPL; }
    HRESULT SetDouble(LPCWSTR, double) override { return E_NOTIMPL; }
    HRESULT SetBlob(LPCWSTR, const BYTE *, UINT32) override { return E_NOTIMPL; }
    HRESULT GetCount(UINT32 *) override { return E_NOTIMPL; }

private:
    AttributeStoreRegistration *m_owner;
};
} // namespace

CComPtr<Server> Server::create()
{
    CComPtr<Server> server;
    server.Attach(new Server);
    return server;
}

HRESULT Server::enter(Op op)
{
    ++m_calls[static_cast<int>(op)];
    m_log.append(op);
    if (const int delay = m_callDelayMs.load())
        QThread::msleep(static_cast<unsigned long>(delay));
    return m_failures.value(static_cast<int>(op), S_OK);
}

DWORD Server::listedCount(int real) const
{
    return m_countOverride >= 0 ? static_cast<DWORD>(m_countOverride) : static_cast<DWORD>(real);
}

Stream *Server::findStream(const QUuid &id)
{
    for (auto &s : m_streams)
        if (s.id == id)
            return &s;
    return nullptr;
}

void Server::fail(Op op, HRESULT hr)
{
    QMutexLocker lock(&m_mutex);
    if (hr == S_OK)
        m_failures.remove(static_cast<int>(op));
    else
        m_failures.insert(static_cast<int>(op), hr);
}
void Server::clearFailures()
{
    QMutexLocker lock(&m_mutex);
    m_failures.clear();
}
void Server::setShortLists(int limit)
{
    QMutexLocker lock(&m_mutex);
    m_shortLimit = limit;
}
void Server::setCountOverride(qint64 count)
{
    QMutexLocker lock(&m_mutex);
    m_countOverride = count;
}
void Server::setDriveMask(ULONGLONG mask)
{
    QMutexLocker lock(&m_mutex);
    m_driveMask = mask;
}
void Server::setDrive(int index, const DriveInfo &info)
{
    QMutexLocker lock(&m_mutex);
    m_drives[index] = info;
}
void Server::setMemoryStatus(const CRewindMemoryStatus &status)
{
    QMutexLocker lock(&m_mutex);
    m_memory = status;
}
QUuid Server::addStorage(const QString &name, const QUuid &id)
{
    QMutexLocker lock(&m_mutex);
    Storage s;
    s.id = id;
    s.name = name;
    m_storages.append(s);
    return id;
}
void Server::removeStorage(const QUuid &id)
{
    QMutexLocker lock(&m_mutex);
    m_storages.erase(
        std::remove_if(m_storages.begin(), m_storages.end(), [&](const Storage &s) { return s.id == id; }),
        m_storages.end());
}
void Server::renameStorage(const QUuid &id, const QString &name)
{
    QMutexLocker lock(&m_mutex);
    for (auto &s : m_storages)
        if (s.id == id)
            s.name = name;
}
void Server::setStoragePart(const QUuid &storage, int drive, const StoragePart &part)
{
    QMutexLocker lock(&m_mutex);
    for (auto &s : m_storages)
        if (s.id == storage)
            s.parts[drive] = part;
}
void Server::setStorageStats(const QUuid &storage, const CRewindStorageStats &stats)
{
    QMutexLocker lock(&m_mutex);
    for (auto &s : m_storages)
        if (s.id == storage)
            s.stats = stats;
}
QUuid Server::addStream(const QUuid &storage, const QString &name, const QUuid &id)
{
    QMutexLocker lock(&m_mutex);
    Stream s;
    s.id = id;
    s.storage = storage;
    s.name = name;
    s.info.streamId = nyx::com::fromQUuid(id);
    s.info.storageId = nyx::com::fromQUuid(storage);
    m_streams.append(s);
    return id;
}
void Server::removeStream(const QUuid &id)
{
    QMutexLocker lock(&m_mutex);
    m_streams.erase(
        std::remove_if(m_streams.begin(), m_streams.end(), [&](const Stream &s) { return s.id == id; }),
        m_streams.end());
}
void Server::renameStream(const QUuid &id, const QString &name)
{
    QMutexLocker lock(&m_mutex);
    if (Stream *s = findStream(id))
        s->name = name;
}
void Server::setStreamInfo(const QUuid &id, const ArchiveStreamInfo &info)
{
    QMutexLocker lock(&m_mutex);
    if (Stream *s = findStream(id))
        s->info = info;
}
ArchiveStreamInfo Server::streamInfo(const QUuid &id)
{
    QMutexLocker lock(&m_mutex);
    Stream *s = findStream(id);
    return s ? s->info : ArchiveStreamInfo{};
}
void Server::setSequences(const QUuid &id, const std::vector<ArchiveSequenceRecord> &sequences)
{
    QMutexLocker lock(&m_mutex);
    if (Stream *s = findStream(id))
        s->sequences = sequences;
}
void Server::setRangeSize(const QUuid &id, LONGLONG size)
{
    QMutexLocker lock(&m_mutex);
    if (Stream *s = findStream(id))
        s->rangeSize = size;
}
void Server::setChannel(const QUuid &id, const QString &name, BYTE flag, DWORD channelId)
{
    QMutexLocker lock(&m_mutex);
    if (Stream *s = findStream(id))
        s->channels[name] = Channel{flag, channelId};
}
void Server::setRangeInfoOffered(bool offered)
{
    QMutexLocker lock(&m_mutex);
    m_rangeInfoOffered = offered;
}
bool Server::rangeInfoOffered()
{
    QMutexLocker lock(&m_mutex);
    return m_rangeInfoOffered;
}
int Server::calls(Op op) const
{
    QMutexLocker lock(&m_mutex);
    return m_calls[static_cast<int>(op)];
}
void Server::resetCalls()
{
    QMutexLocker lock(&m_mutex);
    std::fill(std::begin(m_calls), std::end(m_calls), 0);
    m_log.clear();
}
QList<Op> Server::callLog() const
{
    QMutexLocker lock(&m_mutex);
    return m_log;
}
QByteArray Server::lastCreateStreamRecord()
{
    QMutexLocker lock(&m_mutex);
    return m_lastStreamRecord;
}
QByteArray Server::lastCreateStorageBlock()
{
    QMutexLocker lock(&m_mutex);
    return m_lastStorageBlock;
}
QList<QUuid> Server::deletedStreams()
{
    QMutexLocker lock(&m_mutex);
    return m_deletedStreams;
}
QList<QUuid> Server::deletedStorages()
{
    QMutexLocker lock(&m_mutex);
    return m_deletedStorages;
}
QList<RangeQuery> Server::rangeQueries()
{
    QMutexLocker lock(&m_mutex);
    return m_rangeQueries;
}
QVector<Channel> Server::createdChannels()
{
    QMutexLocker lock(&m_mutex);
    return m_createdChannels;
}

HRESULT Server::IsReady()
{
    return S_OK;
}

HRESULT Server::GetMemoryStatus(CRewindMemoryStatus *status)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::MemoryStatus); FAILED(hr))
        return hr;
    *status = m_memory;
    return S_OK;
}

HRESULT Server::GetMinimumStorageSize(ArchiveMinimumSizeRecord *)
{
    return E_NOTIMPL;
}

HRESULT Server::GetDriveMask(ULONGLONG *mask)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::DriveMask); FAILED(hr))
        return hr;
    *mask = m_driveMask;
    return S_OK;
}

HRESULT Server::GetDriveInfo(int drive, LONGLONG *size, LONGLONG *freeSize, LONGLONG *usedSize, BSTR *name)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::DriveInfo); FAILED(hr))
        return hr;
    if (!m_drives.contains(drive))
        return E_INVALIDARG;
    const DriveInfo &d = m_drives[drive];
    *size = d.size;
    *freeSize = d.freeSize;
    *usedSize = d.usedSize;
    *name = d.name.isNull() ? nullptr : nyx::com::toBstr(d.name);
    return S_OK;
}

HRESULT Server::GetStoragePart(GUID storageId, int drive, LONGLONG *size, BSTR *driveName)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::StoragePart); FAILED(hr))
        return hr;
    const QUuid id = nyx::com::toQUuid(storageId);
    for (const auto &s : qAsConst(m_storages)) {
        if (s.id != id)
            continue;
        const StoragePart part = s.parts.value(drive);
        *size = part.size;
        *driveName = nyx::com::toBstr(part.driveName);
        return S_OK;
    }
    return HRESULT_FROM_WIN32(1168);
}

HRESULT Server::GetStorageCount(DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::StorageCount); FAILED(hr))
        return hr;
    *count = listedCount(m_storages.size());
    return S_OK;
}

HRESULT Server::GetStorages(ArchiveStorageRecord *storages, DWORD capacity, DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::Storages); FAILED(hr))
        return hr;
    DWORD n = qMin<DWORD>(capacity, static_cast<DWORD>(m_storages.size()));
    if (m_shortLimit >= 0)
        n = qMin<DWORD>(n, static_cast<DWORD>(m_shortLimit));
    for (DWORD i = 0; i < n; ++i) {
        storages[i].storageId = nyx::com::fromQUuid(m_storages[static_cast<int>(i)].id);
        writeName(storages[i].name, m_storages[static_cast<int>(i)].name);
    }
    *count = n;
    return S_OK;
}

HRESULT Server::CreateStorage(CreateStorageBlock *block, IUnknown **created)
{
    QMutexLocker lock(&m_mutex);
    m_lastStorageBlock = QByteArray(reinterpret_cast<const char *>(block), sizeof *block);
    if (const HRESULT hr = enter(Op::CreateStorage); FAILED(hr))
        return hr;
    Storage s;
    s.id = QUuid::createUuid();
    int n = 0;
    while (n < nyx::archive::kNameUnits && block->name[n])
        ++n;
    s.name = QString::fromUtf16(block->name, n);
    m_storages.append(s);
    block->storageId = nyx::com::fromQUuid(s.id);
    if (created)
        *created = nullptr;
    return S_OK;
}

HRESULT Server::DeleteStorage(GUID storageId)
{
    QMutexLocker lock(&m_mutex);
    const QUuid id = nyx::com::toQUuid(storageId);
    m_deletedStorages.append(id);
    if (const HRESULT hr = enter(Op::DeleteStorage); FAILED(hr))
        return hr;
    // Like the archive server, an unknown storage is refused.
    if (std::none_of(m_storages.begin(), m_storages.end(), [&](const Storage &s) { return s.id == id; }))
        return E_INVALIDARG;
    m_storages.erase(
        std::remove_if(m_storages.begin(), m_storages.end(), [&](const Storage &s) { return s.id == id; }),
        m_storages.end());
    return S_OK;
}

HRESULT Server::GetStorageStats(GUID storageId, CRewindStorageStats *stats)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::StorageStats); FAILED(hr))
        return hr;
    const QUuid id = nyx::com::toQUuid(storageId);
    for (const auto &s : qAsConst(m_storages)) {
        if (s.id == id) {
            *stats = s.stats;
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(1168);
}

HRESULT Server::GetStreamCount(GUID storageId, DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::StreamCount); FAILED(hr))
        return hr;
    const QUuid id = nyx::com::toQUuid(storageId);
    int n = 0;
    for (const auto &s : qAsConst(m_streams))
        n += s.storage == id ? 1 : 0;
    *count = listedCount(n);
    return S_OK;
}

HRESULT Server::GetStreams(GUID storageId, ArchiveStreamHead *streams, DWORD capacity, DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::Streams); FAILED(hr))
        return hr;
    const QUuid id = nyx::com::toQUuid(storageId);
    DWORD limit = capacity;
    if (m_shortLimit >= 0)
        limit = qMin<DWORD>(limit, static_cast<DWORD>(m_shortLimit));
    DWORD n = 0;
    for (const auto &s : qAsConst(m_streams)) {
        if (s.storage != id || n >= limit)
            continue;
        ArchiveStreamHead &head = streams[n++];
        head.storageId = nyx::com::fromQUuid(s.storage);
        head.streamId = nyx::com::fromQUuid(s.id);
        writeName(head.name, s.name);
        head.streamType = 3;
    }
    *count = n;
    return S_OK;
}

HRESULT Server::CreateStream(ArchiveStreamRecord *record, IUnknown **created)
{
    QMutexLocker lock(&m_mutex);
    m_lastStreamRecord = QByteArray(reinterpret_cast<const char *>(record), sizeof *record);
    if (const HRESULT hr = enter(Op::CreateStream); FAILED(hr))
        return hr;
    Stream s;
    s.id = QUuid::createUuid();
    s.storage = nyx::com::toQUuid(record->head.storageId);
    int n = 0;
    while (n < nyx::archive::kNameUnits && record->head.name[n])
        ++n;
    s.name = QString::fromUtf16(record->head.name, n);
    s.info.streamId = nyx::com::fromQUuid(s.id);
    m_streams.append(s);
    record->head.streamId = nyx::com::fromQUuid(s.id);
    if (created)
        *created = nullptr;
    return S_OK;
}

HRESULT Server::OpenStream(GUID streamId, IArchiveStream **stream)
{
    QMutexLocker lock(&m_mutex);
    *stream = nullptr;
    if (const HRESULT hr = enter(Op::OpenStream); FAILED(hr))
        return hr;
    const QUuid id = nyx::com::toQUuid(streamId);
    if (!findStream(id))
        return HRESULT_FROM_WIN32(1168);
    *stream = new ArchiveStream(this, id);
    return S_OK;
}

HRESULT Server::DeleteStream(GUID streamId)
{
    QMutexLocker lock(&m_mutex);
    const QUuid id = nyx::com::toQUuid(streamId);
    m_deletedStreams.append(id);
    if (const HRESULT hr = enter(Op::DeleteStream); FAILED(hr))
        return hr;
    m_streams.erase(
        std::remove_if(m_streams.begin(), m_streams.end(), [&](const Stream &s) { return s.id == id; }),
        m_streams.end());
    return S_OK;
}

HRESULT Server::GetStreamInfo(GUID streamId, ArchiveStreamInfo *info)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::StreamInfo); FAILED(hr))
        return hr;
    Stream *s = findStream(nyx::com::toQUuid(streamId));
    if (!s)
        return HRESULT_FROM_WIN32(1168);
    *info = s->info;
    return S_OK;
}

HRESULT Server::CreateWriter(GUID, IArchiveWriter **)
{
    return E_NOTIMPL;
}

HRESULT Server::CreateReader(IUnknown **)
{
    return E_NOTIMPL;
}

HRESULT Server::streamSequenceCount(const QUuid &id, DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::SequenceCount); FAILED(hr))
        return hr;
    Stream *s = findStream(id);
    *count = s ? listedCount(static_cast<int>(s->sequences.size())) : 0;
    return S_OK;
}

HRESULT Server::streamSequences(const QUuid &id, ArchiveSequenceRecord *records, DWORD capacity, DWORD *count)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::Sequences); FAILED(hr))
        return hr;
    Stream *s = findStream(id);
    DWORD n = s ? qMin<DWORD>(capacity, static_cast<DWORD>(s->sequences.size())) : 0;
    if (m_shortLimit >= 0)
        n = qMin<DWORD>(n, static_cast<DWORD>(m_shortLimit));
    for (DWORD i = 0; i < n; ++i)
        records[i] = s->sequences[i];
    *count = n;
    return S_OK;
}

HRESULT Server::streamFindChannel(const QUuid &id, const QString &name, BYTE *flag, DWORD *channelId)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::FindChannel); FAILED(hr))
        return hr;
    Stream *s = findStream(id);
    if (!s || !s->channels.contains(name))
        return HRESULT_FROM_WIN32(1168);
    *flag = s->channels[name].flag;
    *channelId = s->channels[name].id;
    return S_OK;
}

HRESULT Server::streamCreateChannel(const QUuid &id, const QString &name, BYTE flag, DWORD *channelId)
{
    QMutexLocker lock(&m_mutex);
    if (const HRESULT hr = enter(Op::CreateChannel); FAILED(hr))
        return hr;
    Stream *s = findStream(id);
    if (!s)
        return HRESULT_FROM_WIN32(1168);
    const Channel channel{flag, static_cast<DWORD>(s->channels.size() + 1)};
    s->channels[name] = channel;
    m_createdChannels.append(channel);
    *channelId = channel.id;
    return S_OK;
}

HRESULT Server::streamRangeSize(const QUuid &id, ULONGLONG from, ULONGLONG to, LONGLONG *size)
{
    QMutexLocker lock(&m_mutex);
    m_rangeQueries.append(RangeQuery{id, from, to});
    if (const HRESULT hr = enter(Op::RangeSize); FAILED(hr))
        return hr;
    Stream *s = findStream(id);
    if (!s)
        return HRESULT_FROM_WIN32(1168);
    *size = s->rangeSize;
    return S_OK;
}

AttributeStoreRegistration::AttributeStoreRegistration()
{
    m_id = nyx::com::registerClass(CLSID_AttributeStore, [this](REFIID riid, void **object) -> HRESULT {
        auto *store = new AttributeStore(this);
        const HRESULT hr = store->QueryInterface(riid, object);
        store->Release();
        return hr;
    });
}

AttributeStoreRegistration::~AttributeStoreRegistration()
{
    nyx::com::unregisterClass(m_id);
}
} // namespace fake
