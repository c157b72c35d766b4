// The attribute blob: our own stored, versioned, little-endian format (laid out in README.md).
// Recordings keep media types and sample attributes in it, so the writer never changes an
// existing version and the reader checks every length and kind before it sets anything.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"

#include "com/cocreate.h"

#include <cstring>
#include <vector>

namespace nyx::mf {
namespace {
constexpr BYTE kMagic[4] = {'N', 'Y', 'X', 'A'};
constexpr WORD kVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kItemHeaderSize = 24;

using Item = std::pair<GUID, PropVariant>;

void putU16(std::vector<BYTE> &out, WORD v)
{
    out.push_back(BYTE(v));
    out.push_back(BYTE(v >> 8));
}
void putU32(std::vector<BYTE> &out, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(BYTE(v >> (8 * i)));
}
void putU64(std::vector<BYTE> &out, UINT64 v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(BYTE(v >> (8 * i)));
}
void putGuid(std::vector<BYTE> &out, const GUID &g)
{
    putU32(out, g.Data1);
    putU16(out, g.Data2);
    putU16(out, g.Data3);
    out.insert(out.end(), g.Data4, g.Data4 + 8);
}
WORD getU16(const BYTE *p)
{
    return WORD(p[0] | (p[1] << 8));
}
DWORD getU32(const BYTE *p)
{
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}
UINT64 getU64(const BYTE *p)
{
    return UINT64(getU32(p)) | (UINT64(getU32(p + 4)) << 32);
}
GUID getGuid(const BYTE *p)
{
    GUID g;
    g.Data1 = getU32(p);
    g.Data2 = getU16(p + 4);
    g.Data3 = getU16(p + 6);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

// The items to store: every item but objects, in the store's order.
HRESULT storedItems(IMFAttributes *attributes, std::vector<Item> *items)
{
    HRESULT hr = attributes->LockStore();
    if (FAILED(hr))
        return hr;
    UINT32 count = 0;
    hr = attributes->GetCount(&count);
    for (UINT32 i = 0; SUCCEEDED(hr) && i < count; ++i) {
        Item item;
        hr = attributes->GetItemByIndex(i, &item.first, &item.second);
        if (SUCCEEDED(hr) && item.second.vt != VT_UNKNOWN)
            items->push_back(std::move(item));
    }
    attributes->UnlockStore();
    return hr;
}

HRESULT serialise(IMFAttributes *attributes, std::vector<BYTE> *out)
{
    std::vector<Item> items;
    HRESULT hr = storedItems(attributes, &items);
    if (FAILED(hr))
        return hr;
    out->assign(kMagic, kMagic + 4);
    putU16(*out, kVersion);
    putU16(*out, 0);
    putU32(*out, 0); // total length, filled in below
    putU32(*out, DWORD(items.size()));
    for (const auto &[key, value] : items) {
        putGuid(*out, key);
        putU16(*out, value.vt);
        putU16(*out, 0);
        switch (value.vt) {
        case VT_UI4:
            putU32(*out, 4);
            putU32(*out, value.ulVal);
            break;
        case VT_UI8:
            putU32(*out, 8);
            putU64(*out, value.uhVal.QuadPart);
            break;
        case VT_R8: {
            UINT64 bits;
            std::memcpy(&bits, &value.dblVal, 8);
            putU32(*out, 8);
            putU64(*out, bits);
            break;
        }
        case VT_CLSID:
            putU32(*out, 16);
            putGuid(*out, value.puuid ? *value.puuid : GUID_NULL);
            break;
        case VT_LPWSTR: {
            std::size_t n = 0;
            while (value.pwszVal && value.pwszVal[n])
                ++n;
            putU32(*out, DWORD(n * 2));
            for (std::size_t i = 0; i < n; ++i)
                putU16(*out, value.pwszVal[i]);
            break;
        }
        case VT_VECTOR | VT_UI1:
            putU32(*out, value.caub.cElems);
            if (value.caub.cElems)
                out->insert(out->end(), value.caub.pElems, value.caub.pElems + value.caub.cElems);
            break;
        default:
            return MF_E_INVALIDTYPE;
        }
    }
    if (out->size() > 0xFFFFFFFFu)
        return E_OUTOFMEMORY;
    const DWORD total = DWORD(out->size());
    for (int i = 0; i < 4; ++i)
        (*out)[8 + i] = BYTE(total >> (8 * i));
    return S_OK;
}

// Parses a whole blob or nothing.
HRESULT parse(const BYTE *data, std::size_t size, std::vector<Item> *items)
{
    if (size < kHeaderSize || std::memcmp(data, kMagic, 4) != 0)
        return MF_E_INVALID_FORMAT;
    if (getU16(data + 4) != kVersion || getU16(data + 6) != 0)
        return MF_E_INVALID_FORMAT;
    const DWORD total = getU32(data + 8);
    const DWORD count = getU32(data + 12);
    if (total < kHeaderSize || total > size)
        return MF_E_INVALID_FORMAT;
    if (count > (total - kHeaderSize) / kItemHeaderSize)
        return MF_E_INVALID_FORMAT;
    std::size_t at = kHeaderSize;
    items->reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        if (total - at < kItemHeaderSize)
            return MF_E_INVALID_FORMAT;
        const BYTE *p = data + at;
        const GUID key = getGuid(p);
        const WORD kind = getU16(p + 16);
        const DWORD length = getU32(p + 20);
        at += kItemHeaderSize;
        if (getU16(p + 18) != 0 || length > total - at)
            return MF_E_INVALID_FORMAT;
        const BYTE *v = data + at;
        at += length;
        for (const auto &item : *items) {
            if (item.first == key)
                return MF_E_INVALID_FORMAT; // a key appears once
        }
        Item item;
        item.first = key;
        PropVariant &value = item.second;
        switch (kind) {
        case VT_UI4:
            if (length != 4)
                return MF_E_INVALID_FORMAT;
            value.vt = VT_UI4;
            value.ulVal = getU32(v);
            break;
        case VT_UI8:
            if (length != 8)
                return MF_E_INVALID_FORMAT;
            value.vt = VT_UI8;
            value.uhVal.QuadPart = getU64(v);
            break;
        case VT_R8: {
            if (length != 8)
                return MF_E_INVALID_FORMAT;
            const UINT64 bits = getU64(v);
            value.vt = VT_R8;
            std::memcpy(&value.dblVal, &bits, 8);
            break;
        }
        case VT_CLSID:
            if (length != 16)
                return MF_E_INVALID_FORMAT;
            value.puuid = static_cast<CLSID *>(CoTaskMemAlloc(sizeof(CLSID)));
            if (!value.puuid)
                return E_OUTOFMEMORY;
            value.vt = VT_CLSID;
            *value.puuid = getGuid(v);
            break;
        case VT_LPWSTR: {
            if (length % 2 != 0)
                return MF_E_INVALID_FORMAT;
            const std::size_t n = length / 2;
            for (std::size_t c = 0; c < n; ++c) {
                if (getU16(v + 2 * c) == 0)
                    return MF_E_INVALID_FORMAT; // the stored text has no terminator inside
            }
            value.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
            if (!value.pwszVal)
                return E_OUTOFMEMORY;
            value.vt = VT_LPWSTR;
            for (std::size_t c = 0; c < n; ++c)
                value.pwszVal[c] = getU16(v + 2 * c);
            value.pwszVal[n] = 0;
            break;
        }
        case VT_VECTOR | VT_UI1:
            value.vt = VT_VECTOR | VT_UI1;
            value.caub.cElems = length;
            value.caub.pElems = nullptr;
            if (length) {
                value.caub.pElems = static_cast<BYTE *>(CoTaskMemAlloc(length));
                if (!value.caub.pElems)
                    return value.vt = VT_EMPTY, E_OUTOFMEMORY;
                std::memcpy(value.caub.pElems, v, length);
            }
            break;
        default:
            return MF_E_INVALID_FORMAT;
        }
        items->push_back(std::move(item));
    }
    if (at != total)
        return MF_E_INVALID_FORMAT; // the items fill the blob exactly
    return S_OK;
}
} // namespace
} // namespace nyx::mf

HRESULT MFGetAttributesAsBlobSize(IMFAttributes *attributes, UINT32 *size)
{
    if (!attributes || !size)
        return E_POINTER;
    std::vector<BYTE> blob;
    const HRESULT hr = nyx::mf::serialise(attributes, &blob);
    if (SUCCEEDED(hr))
        *size = UINT32(blob.size());
    return hr;
}

HRESULT MFGetAttributesAsBlob(IMFAttributes *attributes, UINT8 *buffer, UINT size)
{
    if (!attributes || !buffer)
        return E_POINTER;
    std::vector<BYTE> blob;
    const HRESULT hr = nyx::mf::serialise(attributes, &blob);
    if (FAILED(hr))
        return hr;
    if (blob.size() > size)
        return MF_E_BUFFERTOOSMALL;
    std::memcpy(buffer, blob.data(), blob.size());
    // A buffer sized before the attributes shrank keeps no stale bytes behind the blob.
    std::memset(buffer + blob.size(), 0, size - blob.size());
    return S_OK;
}

HRESULT MFInitAttributesFromBlob(IMFAttributes *attributes, const UINT8 *buffer, UINT size)
{
    if (!attributes)
        return E_POINTER;
    if (!buffer)
        return E_INVALIDARG;
    std::vector<nyx::mf::Item> items;
    HRESULT hr = nyx::mf::parse(buffer, size, &items);
    if (FAILED(hr))
        return hr;
    hr = attributes->LockStore();
    if (FAILED(hr))
        return hr;
    for (const auto &item : items) {
        hr = attributes->SetItem(item.first, item.second);
        if (FAILED(hr))
            break;
    }
    attributes->UnlockStore();
    return hr;
}
