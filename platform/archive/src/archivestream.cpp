#include "archivestream.h"

#include "archive/archivefaults.h"
#include "archiveerrors.h"
#include "rewindserver.h"

#include <cstring>

namespace nyx::archive {
using faults::Operation;

ArchiveStream::ArchiveStream(std::shared_ptr<ArchiveEngine> engine, const StreamRow &row)
    : m_engine(std::move(engine)), m_guid(row.guid), m_id(row.id), m_storage(row.storage)
{
}

HRESULT ArchiveStream::current(StreamRow *row, StorageRow *storage)
{
    HRESULT hr = m_engine->findStream(m_guid, row);
    if (FAILED(hr))
        return hr;
    return storage ? m_engine->findStorageById(row->storage, storage) : S_OK;
}

HRESULT ArchiveStream::store(std::shared_ptr<FrameStore> *store)
{
    StreamRow row;
    const HRESULT hr = current(&row, nullptr);
    if (FAILED(hr))
        return hr;
    return m_engine->frameStore(m_storage, store);
}

HRESULT ArchiveStream::GetHeader(ArchiveStreamHead *head)
{
    if (const HRESULT f = faults::check(Operation::StreamGetHeader))
        return f;
    if (!head)
        return E_POINTER;
    StreamRow row;
    StorageRow storage;
    const HRESULT hr = current(&row, &storage);
    if (FAILED(hr))
        return hr;
    fillHead(row, storage, head);
    return S_OK;
}

HRESULT ArchiveStream::ReadRecord(ArchiveStreamRecord *record)
{
    if (const HRESULT f = faults::check(Operation::StreamReadRecord))
        return f;
    if (!record)
        return E_POINTER;
    StreamRow row;
    StorageRow storage;
    const HRESULT hr = current(&row, &storage);
    if (FAILED(hr))
        return hr;
    fillHead(row, storage, &record->head);
    std::memcpy(record->attributes, row.attributes.data(), kAttributeBlockSize);
    return S_OK;
}

HRESULT ArchiveStream::WriteRecord(const ArchiveStreamRecord *record, DWORD flags)
{
    if (const HRESULT f = faults::check(Operation::StreamWriteRecord))
        return f;
    if (!record)
        return E_POINTER;
    if (flags != 0 || record->head.streamId != m_guid)
        return E_INVALIDARG;
    return m_engine->writeAttributes(m_id, record->attributes);
}

HRESULT ArchiveStream::GetSequenceCount(DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::StreamGetSequenceCount))
        return f;
    if (!count)
        return E_POINTER;
    std::shared_ptr<FrameStore> s;
    HRESULT hr = store(&s);
    if (FAILED(hr))
        return hr;
    std::vector<ArchiveSequenceRecord> list;
    hr = s->sequences(m_id, &list);
    if (FAILED(hr))
        return hr;
    *count = static_cast<DWORD>(list.size());
    return S_OK;
}

HRESULT ArchiveStream::GetSequences(ArchiveSequenceRecord *sequences, DWORD capacity, DWORD *count)
{
    if (const HRESULT f = faults::check(Operation::StreamGetSequences))
        return f;
    if (!count || (!sequences && capacity))
        return E_POINTER;
    *count = 0;
    std::shared_ptr<FrameStore> s;
    HRESULT hr = store(&s);
    if (FAILED(hr))
        return hr;
    std::vector<ArchiveSequenceRecord> list;
    hr = s->sequences(m_id, &list);
    if (FAILED(hr))
        return hr;
    std::size_t available = list.size();
    const int limit = faults::listLimit();
    if (limit >= 0 && available > static_cast<std::size_t>(limit))
        available = static_cast<std::size_t>(limit);
    const std::size_t n = std::min<std::size_t>(available, capacity);
    if (n)
        std::memcpy(sequences, list.data(), n * sizeof(ArchiveSequenceRecord));
    *count = static_cast<DWORD>(n);
    return n < available ? kMoreData : S_OK;
}

HRESULT ArchiveStream::CreateChannel(BSTR name, BYTE flag, DWORD *channelId)
{
    if (const HRESULT f = faults::check(Operation::StreamCreateChannel))
        return f;
    if (!channelId)
        return E_POINTER;
    std::u16string text;
    HRESULT hr = nameFromBstr(name, &text);
    if (FAILED(hr))
        return hr;
    bool existed = false;
    std::uint32_t id = 0;
    hr = m_engine->createChannel(m_id, text, flag, &id, &existed);
    if (FAILED(hr))
        return hr;
    *channelId = id;
    return existed ? S_FALSE : S_OK;
}

HRESULT ArchiveStream::FindChannel(BSTR name, BYTE *flag, DWORD *channelId)
{
    if (const HRESULT f = faults::check(Operation::StreamFindChannel))
        return f;
    if (!flag || !channelId)
        return E_POINTER;
    std::u16string text;
    HRESULT hr = nameFromBstr(name, &text);
    if (FAILED(hr))
        return hr;
    std::uint32_t id = 0;
    std::uint8_t stored = 0;
    hr = m_engine->findChannel(m_id, text, &stored, &id);
    if (FAILED(hr))
        return hr;
    *flag = stored;
    *channelId = id;
    return S_OK;
}

HRESULT ArchiveStream::GetRangeSize(ULONGLONG from, ULONGLONG to, LONGLONG *size)
{
    if (const HRESULT f = faults::check(Operation::RangeSize))
        return f;
    if (!size)
        return E_POINTER;
    if (from > to)
        return E_INVALIDARG;
    std::shared_ptr<FrameStore> s;
    const HRESULT hr = store(&s);
    if (FAILED(hr))
        return hr;
    std::int64_t bytes = 0;
    const HRESULT r = s->rangeSize(m_id, from, to, &bytes);
    if (SUCCEEDED(r))
        *size = bytes;
    return r;
}
} // namespace nyx::archive
