#pragma once
// IAttributeStore over a caller's attribute block.

#include "archive/iattributestore.h"
#include "com/comobject.h"

#include <mutex>

namespace nyx::archive {
class AttributeStore : public nyx::com::ComObject<IAttributeStore>
{
public:
    static HRESULT create(REFIID riid, void **object);

    HRESULT Bind(BYTE *block, DWORD size, BOOL create) override;
    HRESULT SetGUID(LPCWSTR name, REFGUID value) override;
    HRESULT GetDouble(LPCWSTR name, double *value) override;
    HRESULT GetGUID(LPCWSTR name, GUID *value) override;
    HRESULT GetBlobSize(LPCWSTR name, UINT32 *size) override;
    HRESULT GetBlob(LPCWSTR name, BYTE *buffer, UINT32 capacity, UINT32 *size) override;
    HRESULT SetDouble(LPCWSTR name, double value) override;
    HRESULT SetBlob(LPCWSTR name, const BYTE *bytes, UINT32 size) override;
    HRESULT GetCount(UINT32 *count) override;

private:
    HRESULT set(LPCWSTR name, int type, const void *value, UINT32 size);
    HRESULT get(LPCWSTR name, int type, void *value, UINT32 size);

    std::mutex m_mutex;
    BYTE *m_block = nullptr;
};
} // namespace nyx::archive
