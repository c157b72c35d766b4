#pragma once
// The media type handler of an archive stream sink: one major type and a fixed list of subtypes.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/criticalsection.h"
#include "multimedia/cunknown.h"

#include <vector>

class RewindSinkStream;

class RewindSinkMediaTypeHandler : public IMFMediaTypeHandler, public CUnknown
{
public:
    // Throws ComException E_POINTER for a null owner. References count on the owner.
    RewindSinkMediaTypeHandler(RewindSinkStream *owner, const GUID &majorType, std::vector<GUID> subtypes);

    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    using IUnknown::QueryInterface;
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    HRESULT IsMediaTypeSupported(IMFMediaType *type, IMFMediaType **closest) override;
    HRESULT GetMediaTypeCount(DWORD *count) override;
    HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType **type) override;
    HRESULT SetCurrentMediaType(IMFMediaType *type) override;
    HRESULT GetCurrentMediaType(IMFMediaType **type) override;
    HRESULT GetMajorType(GUID *majorType) override;

protected:
    IUnknown *identityUnknown() override { return static_cast<IMFMediaTypeHandler *>(this); }

private:
    CriticalSection m_lock;
    RewindSinkStream *const m_owner;
    const GUID m_majorType;
    const std::vector<GUID> m_subtypes;
    CComPtr<IMFMediaType> m_current;
};

class RewindSinkVideoMediaTypeHandler : public RewindSinkMediaTypeHandler
{
public:
    explicit RewindSinkVideoMediaTypeHandler(RewindSinkStream *owner);
};

class RewindSinkAudioMediaTypeHandler : public RewindSinkMediaTypeHandler
{
public:
    explicit RewindSinkAudioMediaTypeHandler(RewindSinkStream *owner);
};
