#include "attributestore.h"

#include "archive/archivefaults.h"
#include "archive/archiverecords.h"
#include "archiveerrors.h"
#include "attributeblock.h"

#include <cstring>

namespace nyx::archive {
namespace {

// Length of a key, refusing null, empty and over-long names without reading past 256 units.
HRESULT nameLength(LPCWSTR name, std::size_t *units)
{
    if (!name)
        return E_POINTER;
    std::size_t n = 0;
    while (n <= kMaxNameUnits && name[n] != 0)
        ++n;
    if (n == 0 || n > kMaxNameUnits)
        return E_INVALIDARG;
    *units = n;
    return S_OK;
}
} // namespace

HRESULT AttributeStore::create(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    auto *store = new AttributeStore();
    const HRESULT hr = store->QueryInterface(riid, object);
    store->Release();
    return hr;
}

HRESULT AttributeStore::Bind(BYTE *block, DWORD size, BOOL create)
{
    if (const HRESULT f = faults::check(faults::Operation::StoreBind))
        return f;
    if (!block)
        return E_POINTER;
    if (size != static_cast<DWORD>(kAttributeBlockSize))
        return E_INVALIDARG;
    AttributeBlock view(block, size);
    if (create) {
        view.format();
    } else {
        const HRESULT hr = view.validate();
        if (FAILED(hr))
            return hr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_block = block;
    return S_OK;
}

HRESULT AttributeStore::set(LPCWSTR name, int type, const void *value, UINT32 size)
{
    std::size_t units = 0;
    const HRESULT valid = nameLength(name, &units);
    if (FAILED(valid))
        return valid;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_block)
        return E_NOT_VALID_STATE;
    AttributeBlock view(m_block, kAttributeBlockSize);
    return view.set(name, units, static_cast<AttributeType>(type), value, size);
}

HRESULT AttributeStore::get(LPCWSTR name, int type, void *value, UINT32 size)
{
    std::size_t units = 0;
    const HRESULT valid = nameLength(name, &units);
    if (FAILED(valid))
        return valid;
    if (!value)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_block)
        return E_NOT_VALID_STATE;
    AttributeBlock view(m_block, kAttributeBlockSize);
    AttributeEntry entry{};
    const HRESULT hr = view.find(name, units, &entry);
    if (FAILED(hr))
        return hr;
    if (static_cast<int>(entry.type) != type || entry.valueSize != size)
        return E_INVALIDARG;
    std::memcpy(value, m_block + entry.valueOffset, size);
    return S_OK;
}

HRESULT AttributeStore::SetGUID(LPCWSTR name, REFGUID value)
{
    return set(name, static_cast<int>(AttributeType::Guid), &value, sizeof(GUID));
}

HRESULT AttributeStore::SetDouble(LPCWSTR name, double value)
{
    return set(name, static_cast<int>(AttributeType::Double), &value, sizeof value);
}

HRESULT AttributeStore::SetBlob(LPCWSTR name, const BYTE *bytes, UINT32 size)
{
    if (!bytes && size)
        return E_POINTER;
    if (size > static_cast<UINT32>(kAttributeBlockSize))
        return E_NOT_SUFFICIENT_BUFFER;
    return set(name, static_cast<int>(AttributeType::Blob), bytes, size);
}

HRESULT AttributeStore::GetDouble(LPCWSTR name, double *value)
{
    return get(name, static_cast<int>(AttributeType::Double), value, sizeof(double));
}

HRESULT AttributeStore::GetGUID(LPCWSTR name, GUID *value)
{
    return get(name, static_cast<int>(AttributeType::Guid), value, sizeof(GUID));
}

HRESULT AttributeStore::GetBlobSize(LPCWSTR name, UINT32 *size)
{
    std::size_t units = 0;
    const HRESULT valid = nameLength(name, &units);
    if (FAILED(valid))
        return valid;
    if (!size)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_block)
        return E_NOT_VALID_STATE;
    AttributeBlock view(m_block, kAttributeBlockSize);
    AttributeEntry entry{};
    const HRESULT hr = view.find(name, units, &entry);
    if (FAILED(hr))
        return hr;
    if (entry.type != AttributeType::Blob)
        return E_INVALIDARG;
    *size = entry.valueSize;
    return S_OK;
}

HRESULT AttributeStore::GetBlob(LPCWSTR name, BYTE *buffer, UINT32 capacity, UINT32 *size)
{
    std::size_t units = 0;
    const HRESULT valid = nameLength(name, &units);
    if (FAILED(valid))
        return valid;
    if (!buffer && capacity)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_block)
        return E_NOT_VALID_STATE;
    AttributeBlock view(m_block, kAttributeBlockSize);
    AttributeEntry entry{};
    const HRESULT hr = view.find(name, units, &entry);
    if (FAILED(hr))
        return hr;
    if (entry.type != AttributeType::Blob)
        return E_INVALIDARG;
    if (size)
        *size = entry.valueSize;
    if (entry.valueSize > capacity)
        return E_NOT_SUFFICIENT_BUFFER;
    if (entry.valueSize)
        std::memcpy(buffer, m_block + entry.valueOffset, entry.valueSize);
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32 *count)
{
    if (!count)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_block)
        return E_NOT_VALID_STATE;
    return AttributeBlock(m_block, kAttributeBlockSize).count(count);
}
} // namespace nyx::archive
