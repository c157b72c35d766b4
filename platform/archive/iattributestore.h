#pragma once
// Named values kept inside a caller's 4096-byte attribute block.

#include "com/unknown.h"
#include "win32/win32types.h"

// {A9FBFA21-4B66-49A3-BC30-02AF03FECF4B}
constexpr CLSID CLSID_AttributeStore = {
    0xA9FBFA21, 0x4B66, 0x49A3, {0xBC, 0x30, 0x02, 0xAF, 0x03, 0xFE, 0xCF, 0x4B}};
// {F85FC6BA-BC7C-494E-B46C-5C75ED55B65F}
constexpr IID IID_IAttributeStore = {
    0xF85FC6BA, 0xBC7C, 0x494E, {0xB4, 0x6C, 0x5C, 0x75, 0xED, 0x55, 0xB6, 0x5F}};

struct IAttributeStore : public IUnknown
{
    // Binds the store to the block (size must be 4096). create != 0 formats an empty store;
    // otherwise the block must hold a store (an all-zero block reads as empty). The block must
    // outlive the binding; changes are written into it at once.
    virtual HRESULT Bind(BYTE *block, DWORD size, BOOL create) = 0;
    virtual HRESULT SetGUID(LPCWSTR name, REFGUID value) = 0;
    // Missing key: ERROR_NOT_FOUND (as HRESULT); a key of another kind: E_INVALIDARG.
    virtual HRESULT GetDouble(LPCWSTR name, double *value) = 0;
    virtual HRESULT GetGUID(LPCWSTR name, GUID *value) = 0;
    virtual HRESULT GetBlobSize(LPCWSTR name, UINT32 *size) = 0;
    // E_NOT_SUFFICIENT_BUFFER when capacity is smaller than the blob; size (may be null) gets its size.
    virtual HRESULT GetBlob(LPCWSTR name, BYTE *buffer, UINT32 capacity, UINT32 *size) = 0;
    virtual HRESULT SetDouble(LPCWSTR name, double value) = 0;
    virtual HRESULT SetBlob(LPCWSTR name, const BYTE *bytes, UINT32 size) = 0;
    virtual HRESULT GetCount(UINT32 *count) = 0;
};

NYX_DECLARE_IID(IAttributeStore, IID_IAttributeStore)
