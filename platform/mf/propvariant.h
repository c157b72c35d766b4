#pragma once
// PROPVARIANT with the variant types the media pipeline stores in attributes and events.

#include "com/unknown.h"
#include "win32/win32types.h"

using VARTYPE = std::uint16_t;
using UINT8 = std::uint8_t; // (a repeated alias of the same type is allowed)

enum VARENUM : VARTYPE
{
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_LPWSTR = 31,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
};

// A counted byte array (VT_VECTOR | VT_UI1).
struct CAUB
{
    ULONG cElems;
    BYTE *pElems;
};

// The 64-bit members are read as .QuadPart, as on Windows.
struct PROPVARIANT_I8
{
    LONGLONG QuadPart;
};
struct PROPVARIANT_UI8
{
    ULONGLONG QuadPart;
};

struct PROPVARIANT
{
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        ULONG ulVal;
        INT32 intVal;
        UINT32 uintVal;
        PROPVARIANT_I8 hVal;
        PROPVARIANT_UI8 uhVal;
        double dblVal;
        CLSID *puuid;      // VT_CLSID: CoTaskMemAlloc'ed
        LPWSTR pwszVal;    // VT_LPWSTR: CoTaskMemAlloc'ed, NUL-terminated
        IUnknown *punkVal; // VT_UNKNOWN: one reference
        CAUB caub;         // VT_VECTOR | VT_UI1: CoTaskMemAlloc'ed
    };
};
using REFPROPVARIANT = const PROPVARIANT &;

// Sets the variant to VT_EMPTY without freeing anything.
void PropVariantInit(PROPVARIANT *value);
// Frees what the variant owns (string, GUID, bytes, reference) and sets VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT *value);
// A deep copy into an uninitialised destination; E_OUTOFMEMORY leaves it VT_EMPTY.
HRESULT PropVariantCopy(PROPVARIANT *destination, const PROPVARIANT *source);

namespace nyx::mf {
// True when both variants have the same type and value (strings and bytes by content, objects by
// identity). Types other than those above compare unequal.
bool propVariantEquals(const PROPVARIANT &a, const PROPVARIANT &b);

// Owns one PROPVARIANT; clears it when destroyed.
class PropVariant : public PROPVARIANT
{
public:
    PropVariant() { PropVariantInit(this); }
    PropVariant(const PROPVARIANT &other)
    {
        PropVariantInit(this);
        PropVariantCopy(this, &other);
    }
    PropVariant(const PropVariant &other) : PropVariant(static_cast<const PROPVARIANT &>(other)) {}
    PropVariant &operator=(const PropVariant &other)
    {
        if (this != &other) {
            PropVariantClear(this);
            PropVariantCopy(this, &other);
        }
        return *this;
    }
    ~PropVariant() { PropVariantClear(this); }

    static PropVariant fromInt64(LONGLONG value)
    {
        PropVariant v;
        v.vt = VT_I8;
        v.hVal.QuadPart = value;
        return v;
    }
    static PropVariant fromUInt32(UINT32 value)
    {
        PropVariant v;
        v.vt = VT_UI4;
        v.ulVal = value;
        return v;
    }
    static PropVariant fromUInt64(UINT64 value)
    {
        PropVariant v;
        v.vt = VT_UI8;
        v.uhVal.QuadPart = value;
        return v;
    }
    // Holds a reference to the object.
    static PropVariant fromUnknown(IUnknown *object)
    {
        PropVariant v;
        v.vt = VT_UNKNOWN;
        v.punkVal = object;
        if (object)
            object->AddRef();
        return v;
    }
};
} // namespace nyx::mf
