#include "mf/propvariant.h"

#include "com/cocreate.h"

#include <cstring>

void PropVariantInit(PROPVARIANT *value)
{
    if (value)
        std::memset(value, 0, sizeof(PROPVARIANT));
}

HRESULT PropVariantClear(PROPVARIANT *value)
{
    if (!value)
        return S_OK;
    switch (value->vt) {
    case VT_CLSID:
        CoTaskMemFree(value->puuid);
        break;
    case VT_LPWSTR:
        CoTaskMemFree(value->pwszVal);
        break;
    case VT_UNKNOWN:
        if (value->punkVal)
            value->punkVal->Release();
        break;
    case VT_VECTOR | VT_UI1:
        CoTaskMemFree(value->caub.pElems);
        break;
    default:
        break;
    }
    PropVariantInit(value);
    return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT *destination, const PROPVARIANT *source)
{
    if (!destination || !source)
        return E_POINTER;
    PROPVARIANT copy = *source;
    switch (source->vt) {
    case VT_CLSID:
        if (source->puuid) {
            copy.puuid = static_cast<CLSID *>(CoTaskMemAlloc(sizeof(CLSID)));
            if (!copy.puuid)
                return PropVariantInit(destination), E_OUTOFMEMORY;
            *copy.puuid = *source->puuid;
        }
        break;
    case VT_LPWSTR:
        if (source->pwszVal) {
            std::size_t n = 0;
            while (source->pwszVal[n])
                ++n;
            copy.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
            if (!copy.pwszVal)
                return PropVariantInit(destination), E_OUTOFMEMORY;
            std::memcpy(copy.pwszVal, source->pwszVal, (n + 1) * sizeof(WCHAR));
        }
        break;
    case VT_UNKNOWN:
        if (copy.punkVal)
            copy.punkVal->AddRef();
        break;
    case VT_VECTOR | VT_UI1:
        if (source->caub.cElems) {
            copy.caub.pElems = static_cast<BYTE *>(CoTaskMemAlloc(source->caub.cElems));
            if (!copy.caub.pElems)
                return PropVariantInit(destination), E_OUTOFMEMORY;
            std::memcpy(copy.caub.pElems, source->caub.pElems, source->caub.cElems);
        } else {
            copy.caub.pElems = nullptr;
        }
        break;
    default:
        break;
    }
    *destination = copy;
    return S_OK;
}

namespace nyx::mf {
namespace {
IUnknown *identity(IUnknown *object)
{
    if (!object)
        return nullptr;
    IUnknown *unknown = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown))) || !unknown)
        return object;
    unknown->Release();
    return unknown;
}
} // namespace

bool propVariantEquals(const PROPVARIANT &a, const PROPVARIANT &b)
{
    if (a.vt != b.vt)
        return false;
    switch (a.vt) {
    case VT_EMPTY:
        return true;
    case VT_I4:
    case VT_UI4:
        return a.ulVal == b.ulVal;
    case VT_I8:
    case VT_UI8:
        return a.uhVal.QuadPart == b.uhVal.QuadPart;
    case VT_R8:
        // Bitwise, so that a stored value always equals itself (NaN included).
        return std::memcmp(&a.dblVal, &b.dblVal, sizeof(double)) == 0;
    case VT_CLSID:
        if (!a.puuid || !b.puuid)
            return a.puuid == b.puuid;
        return *a.puuid == *b.puuid;
    case VT_LPWSTR: {
        if (!a.pwszVal || !b.pwszVal)
            return a.pwszVal == b.pwszVal;
        const WCHAR *p = a.pwszVal, *q = b.pwszVal;
        while (*p && *p == *q)
            ++p, ++q;
        return *p == *q;
    }
    case VT_UNKNOWN:
        return identity(a.punkVal) == identity(b.punkVal);
    case VT_VECTOR | VT_UI1:
        return a.caub.cElems == b.caub.cElems &&
               (a.caub.cElems == 0 || std::memcmp(a.caub.pElems, b.caub.pElems, a.caub.cElems) == 0);
    default:
        return false;
    }
}
} // namespace nyx::mf
