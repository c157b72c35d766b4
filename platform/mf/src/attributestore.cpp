#include "mf/attributesimpl.h"

#include "com/cocreate.h"

#include <cstring>

namespace nyx::mf {
namespace {
bool isAttributeKind(VARTYPE vt)
{
    switch (vt) {
    case VT_UI4:
    case VT_UI8:
    case VT_R8:
    case VT_CLSID:
    case VT_LPWSTR:
    case VT_VECTOR | VT_UI1:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

using Snapshot = std::vector<std::pair<GUID, PropVariant>>;

// A consistent copy of another store's items, taken under its own lock only.
HRESULT snapshotOf(IMFAttributes *attributes, Snapshot *items)
{
    HRESULT hr = attributes->LockStore();
    if (FAILED(hr))
        return hr;
    UINT32 count = 0;
    hr = attributes->GetCount(&count);
    for (UINT32 i = 0; SUCCEEDED(hr) && i < count; ++i) {
        std::pair<GUID, PropVariant> item;
        hr = attributes->GetItemByIndex(i, &item.first, &item.second);
        if (SUCCEEDED(hr))
            items->push_back(std::move(item));
    }
    attributes->UnlockStore();
    return hr;
}

const PROPVARIANT *findIn(const Snapshot &items, REFGUID key)
{
    for (const auto &item : items) {
        if (item.first == key)
            return &item.second;
    }
    return nullptr;
}

// Every item of a is in b with the same value.
bool containedIn(const Snapshot &a, const Snapshot &b)
{
    for (const auto &item : a) {
        const PROPVARIANT *other = findIn(b, item.first);
        if (!other || !propVariantEquals(item.second, *other))
            return false;
    }
    return true;
}
} // namespace

AttributeStore::~AttributeStore()
{
    for (auto &item : m_items)
        PropVariantClear(&item.second);
}

const PROPVARIANT *AttributeStore::find(REFGUID key) const
{
    for (const auto &item : m_items) {
        if (item.first == key)
            return &item.second;
    }
    return nullptr;
}

HRESULT AttributeStore::setOwned(REFGUID key, PROPVARIANT &value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (auto &item : m_items) {
        if (item.first == key) {
            PropVariantClear(&item.second);
            item.second = value;
            PropVariantInit(&value);
            return S_OK;
        }
    }
    m_items.emplace_back(key, value);
    PropVariantInit(&value);
    return S_OK;
}

HRESULT AttributeStore::GetItem(REFGUID key, PROPVARIANT *value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const PROPVARIANT *item = find(key);
    if (!item)
        return MF_E_ATTRIBUTENOTFOUND;
    if (!value)
        return S_OK;
    return PropVariantCopy(value, item);
}

HRESULT AttributeStore::GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE *type)
{
    if (!type)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const PROPVARIANT *item = find(key);
    if (!item)
        return MF_E_ATTRIBUTENOTFOUND;
    *type = static_cast<MF_ATTRIBUTE_TYPE>(item->vt);
    return S_OK;
}

HRESULT AttributeStore::CompareItem(REFGUID key, REFPROPVARIANT value, BOOL *result)
{
    if (!result)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const PROPVARIANT *item = find(key);
    *result = item && propVariantEquals(*item, value);
    return S_OK;
}

HRESULT AttributeStore::Compare(IMFAttributes *self, IMFAttributes *theirs,
                                MF_ATTRIBUTES_MATCH_TYPE matchType, BOOL *result)
{
    if (!result || !theirs)
        return E_POINTER;
    *result = FALSE;
    if (matchType < MF_ATTRIBUTES_MATCH_OUR_ITEMS || matchType > MF_ATTRIBUTES_MATCH_SMALLER)
        return E_INVALIDARG;
    // Snapshots first, one store locked at a time: two threads comparing a with b and b with a
    // must not deadlock.
    Snapshot ours, other;
    HRESULT hr = snapshotOf(self, &ours);
    if (SUCCEEDED(hr)) {
        if (theirs == self)
            other = ours;
        else
            hr = snapshotOf(theirs, &other);
    }
    if (FAILED(hr))
        return hr;
    switch (matchType) {
    case MF_ATTRIBUTES_MATCH_OUR_ITEMS:
        *result = containedIn(ours, other);
        break;
    case MF_ATTRIBUTES_MATCH_THEIR_ITEMS:
        *result = containedIn(other, ours);
        break;
    case MF_ATTRIBUTES_MATCH_ALL_ITEMS:
        *result = ours.size() == other.size() && containedIn(ours, other);
        break;
    case MF_ATTRIBUTES_MATCH_INTERSECTION: {
        bool equal = true;
        for (const auto &item : ours) {
            const PROPVARIANT *value = findIn(other, item.first);
            if (value && !propVariantEquals(item.second, *value))
                equal = false;
        }
        *result = equal;
        break;
    }
    case MF_ATTRIBUTES_MATCH_SMALLER:
        *result = ours.size() <= other.size() ? containedIn(ours, other) : containedIn(other, ours);
        break;
    }
    return S_OK;
}

#define NYX_GET_TYPED(kind)                                                                                  \
    std::lock_guard<std::recursive_mutex> lock(m_mutex);                                                     \
    const PROPVARIANT *item = find(key);                                                                     \
    if (!item)                                                                                               \
        return MF_E_ATTRIBUTENOTFOUND;                                                                       \
    if (item->vt != (kind))                                                                                  \
        return MF_E_INVALIDTYPE;

HRESULT AttributeStore::GetUINT32(REFGUID key, UINT32 *value)
{
    if (!value)
        return E_POINTER;
    NYX_GET_TYPED(VT_UI4)
    *value = item->ulVal;
    return S_OK;
}

HRESULT AttributeStore::GetUINT64(REFGUID key, UINT64 *value)
{
    if (!value)
        return E_POINTER;
    NYX_GET_TYPED(VT_UI8)
    *value = item->uhVal.QuadPart;
    return S_OK;
}

HRESULT AttributeStore::GetDouble(REFGUID key, double *value)
{
    if (!value)
        return E_POINTER;
    NYX_GET_TYPED(VT_R8)
    *value = item->dblVal;
    return S_OK;
}

HRESULT AttributeStore::GetGUID(REFGUID key, GUID *value)
{
    if (!value)
        return E_POINTER;
    NYX_GET_TYPED(VT_CLSID)
    *value = item->puuid ? *item->puuid : GUID_NULL;
    return S_OK;
}

namespace {
UINT32 stringLength(LPCWSTR text)
{
    UINT32 n = 0;
    if (text) {
        while (text[n])
            ++n;
    }
    return n;
}
} // namespace

HRESULT AttributeStore::GetStringLength(REFGUID key, UINT32 *length)
{
    if (!length)
        return E_POINTER;
    NYX_GET_TYPED(VT_LPWSTR)
    *length = stringLength(item->pwszVal);
    return S_OK;
}

HRESULT AttributeStore::GetString(REFGUID key, LPWSTR buffer, UINT32 capacity, UINT32 *length)
{
    if (!buffer)
        return E_POINTER;
    NYX_GET_TYPED(VT_LPWSTR)
    const UINT32 n = stringLength(item->pwszVal);
    if (length)
        *length = n;
    if (capacity < n + 1)
        return E_NOT_SUFFICIENT_BUFFER;
    if (n)
        std::memcpy(buffer, item->pwszVal, n * sizeof(WCHAR));
    buffer[n] = 0;
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedString(REFGUID key, LPWSTR *value, UINT32 *length)
{
    if (!value || !length)
        return E_POINTER;
    *value = nullptr;
    NYX_GET_TYPED(VT_LPWSTR)
    const UINT32 n = stringLength(item->pwszVal);
    auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc((std::size_t(n) + 1) * sizeof(WCHAR)));
    if (!copy)
        return E_OUTOFMEMORY;
    if (n)
        std::memcpy(copy, item->pwszVal, n * sizeof(WCHAR));
    copy[n] = 0;
    *value = copy;
    *length = n;
    return S_OK;
}

HRESULT AttributeStore::GetBlobSize(REFGUID key, UINT32 *size)
{
    if (!size)
        return E_POINTER;
    NYX_GET_TYPED(VT_VECTOR | VT_UI1)
    *size = item->caub.cElems;
    return S_OK;
}

HRESULT AttributeStore::GetBlob(REFGUID key, UINT8 *buffer, UINT32 capacity, UINT32 *size)
{
    NYX_GET_TYPED(VT_VECTOR | VT_UI1)
    const UINT32 n = item->caub.cElems;
    if (size)
        *size = n;
    if (capacity < n)
        return E_NOT_SUFFICIENT_BUFFER;
    if (n) {
        if (!buffer)
            return E_POINTER;
        std::memcpy(buffer, item->caub.pElems, n);
    }
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedBlob(REFGUID key, UINT8 **buffer, UINT32 *size)
{
    if (!buffer || !size)
        return E_POINTER;
    *buffer = nullptr;
    NYX_GET_TYPED(VT_VECTOR | VT_UI1)
    const UINT32 n = item->caub.cElems;
    // One byte at least, so that an empty blob still gives memory to free.
    auto *copy = static_cast<UINT8 *>(CoTaskMemAlloc(n ? n : 1));
    if (!copy)
        return E_OUTOFMEMORY;
    if (n)
        std::memcpy(copy, item->caub.pElems, n);
    *buffer = copy;
    *size = n;
    return S_OK;
}

HRESULT AttributeStore::GetUnknown(REFGUID key, REFIID riid, LPVOID *object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    IUnknown *unknown = nullptr;
    {
        NYX_GET_TYPED(VT_UNKNOWN)
        unknown = item->punkVal;
        if (!unknown)
            return E_NOINTERFACE;
        unknown->AddRef();
    }
    // Outside the lock: the object's QueryInterface may reach back into this store.
    const HRESULT hr = unknown->QueryInterface(riid, object);
    unknown->Release();
    return hr;
}

#undef NYX_GET_TYPED

HRESULT AttributeStore::SetItem(REFGUID key, REFPROPVARIANT value)
{
    if (!isAttributeKind(value.vt))
        return MF_E_INVALIDTYPE;
    PROPVARIANT copy;
    PropVariantInit(&copy);
    const HRESULT hr = PropVariantCopy(&copy, &value);
    if (FAILED(hr))
        return hr;
    if (copy.vt == VT_CLSID && !copy.puuid)
        return MF_E_INVALIDTYPE;
    return setOwned(key, copy);
}

HRESULT AttributeStore::DeleteItem(REFGUID key)
{
    PROPVARIANT old;
    PropVariantInit(&old);
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it->first == key) {
                old = it->second;
                m_items.erase(it);
                break;
            }
        }
    }
    // Released outside the lock: a held object's destructor may use this store.
    PropVariantClear(&old);
    return S_OK;
}

HRESULT AttributeStore::DeleteAllItems()
{
    std::vector<Item> old;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        old.swap(m_items);
    }
    for (auto &item : old)
        PropVariantClear(&item.second);
    return S_OK;
}

HRESULT AttributeStore::SetUINT32(REFGUID key, UINT32 value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = value;
    return setOwned(key, v);
}

HRESULT AttributeStore::SetUINT64(REFGUID key, UINT64 value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_UI8;
    v.uhVal.QuadPart = value;
    return setOwned(key, v);
}

HRESULT AttributeStore::SetDouble(REFGUID key, double value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return setOwned(key, v);
}

HRESULT AttributeStore::SetGUID(REFGUID key, REFGUID value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    GUID copy = value;
    v.vt = VT_CLSID;
    v.puuid = &copy;
    return SetItem(key, v);
}

HRESULT AttributeStore::SetString(REFGUID key, LPCWSTR value)
{
    if (!value)
        return E_POINTER;
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_LPWSTR;
    v.pwszVal = const_cast<LPWSTR>(value);
    return SetItem(key, v);
}

HRESULT AttributeStore::SetBlob(REFGUID key, const UINT8 *buffer, UINT32 size)
{
    if (!buffer && size)
        return E_POINTER;
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_VECTOR | VT_UI1;
    v.caub.cElems = size;
    v.caub.pElems = const_cast<UINT8 *>(buffer);
    return SetItem(key, v);
}

HRESULT AttributeStore::SetUnknown(REFGUID key, IUnknown *object)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = object;
    return SetItem(key, v);
}

HRESULT AttributeStore::LockStore()
{
    m_mutex.lock();
    return S_OK;
}

HRESULT AttributeStore::UnlockStore()
{
    m_mutex.unlock();
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32 *count)
{
    if (!count)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    *count = static_cast<UINT32>(m_items.size());
    return S_OK;
}

HRESULT AttributeStore::GetItemByIndex(UINT32 index, GUID *key, PROPVARIANT *value)
{
    if (!key)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (index >= m_items.size())
        return E_INVALIDARG;
    *key = m_items[index].first;
    if (!value)
        return S_OK;
    return PropVariantCopy(value, &m_items[index].second);
}

HRESULT AttributeStore::CopyAllItems(IMFAttributes *self, IMFAttributes *destination)
{
    if (!destination)
        return E_POINTER;
    if (destination == self)
        return S_OK;
    Snapshot items;
    HRESULT hr = snapshotOf(self, &items);
    if (FAILED(hr))
        return hr;
    // The destination changes under its own lock, so that its readers see old or new items.
    hr = destination->LockStore();
    if (FAILED(hr))
        return hr;
    hr = destination->DeleteAllItems();
    for (const auto &item : items) {
        if (FAILED(hr))
            break;
        hr = destination->SetItem(item.first, item.second);
    }
    destination->UnlockStore();
    return hr;
}
} // namespace nyx::mf
