#include "multimedia/baseeventgenerator.h"

namespace nyx {
CBaseEventGenerator::CBaseEventGenerator() : CUnknown("CBaseEventGenerator", nullptr) {}

CBaseEventGenerator::~CBaseEventGenerator()
{
    if (m_queue)
        m_queue->Shutdown();
}

HRESULT CBaseEventGenerator::Create(CBaseEventGenerator **generator)
{
    if (!generator)
        return E_POINTER;
    *generator = nullptr;
    CComPtr<CBaseEventGenerator> made(new CBaseEventGenerator);
    const HRESULT hr = MFCreateEventQueue(&made->m_queue);
    if (FAILED(hr))
        return hr;
    *generator = made.Detach();
    return S_OK;
}

HRESULT CBaseEventGenerator::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFMediaEventGenerator)
        return GetInterface(static_cast<IMFMediaEventGenerator *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseEventGenerator::GetEvent(DWORD flags, IMFMediaEvent **event)
{
    return m_queue->GetEvent(flags, event);
}

HRESULT CBaseEventGenerator::BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state)
{
    return m_queue->BeginGetEvent(callback, state);
}

HRESULT CBaseEventGenerator::EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event)
{
    return m_queue->EndGetEvent(result, event);
}

HRESULT CBaseEventGenerator::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                        const PROPVARIANT *value)
{
    return m_queue->QueueEventParamVar(type, extendedType, status, value);
}

HRESULT CBaseEventGenerator::Shutdown()
{
    return m_queue->Shutdown();
}
} // namespace nyx
