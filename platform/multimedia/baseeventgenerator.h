#pragma once
// An IMFMediaEventGenerator over a media event queue, for sinks, streams and sources to hold.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/cunknown.h"

namespace nyx {
class CBaseEventGenerator : public IMFMediaEventGenerator, public CUnknown
{
public:
    static HRESULT Create(CBaseEventGenerator **generator);

    NYX_DECLARE_IUNKNOWN(IMFMediaEventGenerator)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override;
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                       const PROPVARIANT *value) override;

    // MF_E_SHUTDOWN for every call afterwards; waiting callers are released.
    HRESULT Shutdown();

private:
    CBaseEventGenerator();
    ~CBaseEventGenerator() override;

    CComPtr<IMFMediaEventQueue> m_queue;
};
} // namespace nyx
