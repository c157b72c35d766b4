#include "multimedia/source/basesourcestream.h"

#include "mf/mfapi.h"

CBaseSourceStream::CBaseSourceStream(nyx::ISource *source, DWORD id,
                                     std::shared_ptr<nyx::ISampleRequestManager> requestManager)
    : CUnknown("CBaseSourceStream", nullptr), m_source(source), m_id(id),
      m_requestManager(std::move(requestManager))
{
    MFCreateEventQueue(&m_events);
}

CBaseSourceStream::~CBaseSourceStream()
{
    if (m_requestManager)
        m_requestManager->Shutdown();
    if (m_events)
        m_events->Shutdown();
}

HRESULT CBaseSourceStream::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFMediaStream)
        return GetInterface(static_cast<IMFMediaStream *>(this), object);
    if (riid == IID_IMFMediaEventGenerator)
        return GetInterface(static_cast<IMFMediaEventGenerator *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseSourceStream::GetEvent(DWORD flags, IMFMediaEvent **event)
{
    return m_events ? m_events->GetEvent(flags, event) : MF_E_SHUTDOWN;
}

HRESULT CBaseSourceStream::BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state)
{
    return m_events ? m_events->BeginGetEvent(callback, state) : MF_E_SHUTDOWN;
}

HRESULT CBaseSourceStream::EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event)
{
    return m_events ? m_events->EndGetEvent(result, event) : MF_E_SHUTDOWN;
}

HRESULT CBaseSourceStream::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                      const PROPVARIANT *value)
{
    if (!m_events)
        return MF_E_SHUTDOWN;
    if (type == MEError) {
        // One error per start: a failure seen again and again is still one failure.
        AutoLock lock(m_lock);
        if (m_errorRaised)
            return S_FALSE;
        m_errorRaised = true;
    }
    return m_events->QueueEventParamVar(type, extendedType, status, value);
}

HRESULT CBaseSourceStream::GetMediaSource(IMFMediaSource **source)
{
    if (!source)
        return E_POINTER;
    *source = nullptr;
    AutoLock lock(m_lock);
    if (m_shutdown || !m_source)
        return MF_E_SHUTDOWN;
    return m_source->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(source));
}

HRESULT CBaseSourceStream::GetStreamDescriptor(IMFStreamDescriptor **descriptor)
{
    if (!descriptor)
        return E_POINTER;
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!m_descriptor)
        return MF_E_NOT_INITIALIZED;
    return m_descriptor.CopyTo(descriptor);
}

HRESULT CBaseSourceStream::RequestSample(IUnknown *token)
{
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_disabled || m_state == State::Stopped)
            return MF_E_MEDIA_SOURCE_WRONGSTATE;
        if (m_endOfStream)
            return MF_E_END_OF_STREAM;
    }
    if (!m_requestManager)
        return E_POINTER;
    // While paused the request waits and is served after the restart.
    return m_requestManager->RequestSample(token);
}

HRESULT CBaseSourceStream::Start(const PROPVARIANT &start)
{
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_disabled)
            return MF_E_INVALIDREQUEST;
        // Outstanding requests stay: after a seek they are served from the new position.
        const bool seek = start.vt == VT_I8;
        m_state = State::Started;
        if (seek)
            m_endOfStream = false;
        m_errorRaised = false;
    }
    QueueEvent(MEStreamStarted, GUID_NULL, S_OK, &start);
    if (m_requestManager)
        m_requestManager->ServeRequests();
    return S_OK;
}

HRESULT CBaseSourceStream::Initialize()
{
    std::vector<CComPtr<IMFMediaType>> types;
    HRESULT hr = GetAvailableTypes(types);
    if (FAILED(hr) && hr != E_NOTIMPL)
        return hr;
    if (types.empty()) {
        for (const GUID &subtype : GetSupportedFormats()) {
            CComPtr<IMFMediaType> type;
            hr = CreateMediaType(subtype, &type);
            if (FAILED(hr))
                return hr;
            types.push_back(type);
        }
    }
    if (types.empty())
        return MF_E_INVALIDMEDIATYPE;
    std::vector<IMFMediaType *> raw;
    for (auto &t : types)
        raw.push_back(t);
    CComPtr<IMFStreamDescriptor> descriptor;
    hr = MFCreateStreamDescriptor(m_id, static_cast<DWORD>(raw.size()), raw.data(), &descriptor);
    if (FAILED(hr))
        return hr;
    CComPtr<IMFMediaTypeHandler> handler;
    hr = descriptor->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr))
        hr = handler->SetCurrentMediaType(raw.front());
    if (FAILED(hr))
        return hr;
    AutoLock lock(m_lock);
    m_descriptor = descriptor;
    return S_OK;
}

HRESULT CBaseSourceStream::Uninitialize()
{
    return S_OK;
}

HRESULT CBaseSourceStream::GetDuration(UINT64 *duration)
{
    if (!duration)
        return E_POINTER;
    return E_NOTIMPL;
}

HRESULT CBaseSourceStream::SetRate(float rate)
{
    AutoLock lock(m_lock);
    m_rate = rate;
    return S_OK;
}

HRESULT CBaseSourceStream::NotifyEndOfStream()
{
    {
        AutoLock lock(m_lock);
        if (m_endOfStream || m_shutdown)
            return S_FALSE;
        m_endOfStream = true;
    }
    if (m_requestManager)
        m_requestManager->Clear();
    QueueEvent(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    if (m_source)
        m_source->onStreamEnded(this);
    return S_OK;
}

HRESULT CBaseSourceStream::NotifyGap(LONGLONG time)
{
    const auto value = nyx::mf::PropVariant::fromInt64(time);
    return QueueEvent(MEStreamTick, GUID_NULL, S_OK, &value);
}

HRESULT CBaseSourceStream::CreateMediaType(const GUID &, IMFMediaType **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

std::vector<GUID> CBaseSourceStream::GetSupportedFormats()
{
    return {};
}

HRESULT CBaseSourceStream::GetAvailableTypes(std::vector<CComPtr<IMFMediaType>> &)
{
    return E_NOTIMPL;
}

HRESULT CBaseSourceStream::Stop()
{
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        m_state = State::Stopped;
    }
    if (m_requestManager)
        m_requestManager->Clear();
    return QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

HRESULT CBaseSourceStream::Pause()
{
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_state != State::Started)
            return MF_E_INVALID_STATE_TRANSITION;
        m_state = State::Paused;
    }
    return QueueEvent(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

HRESULT CBaseSourceStream::Shutdown()
{
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        m_shutdown = true;
    }
    Uninitialize();
    if (m_requestManager)
        m_requestManager->Shutdown();
    if (m_events)
        m_events->Shutdown();
    AutoLock lock(m_lock);
    m_source = nullptr;
    m_descriptor.Release();
    return S_OK;
}

void CBaseSourceStream::Disable()
{
    {
        AutoLock lock(m_lock);
        m_disabled = true;
    }
    if (m_requestManager)
        m_requestManager->Clear();
}

bool CBaseSourceStream::canProduce() const
{
    AutoLock lock(m_lock);
    return m_state == State::Started && !m_endOfStream && !m_disabled && !m_shutdown && !m_errorRaised;
}

HRESULT CBaseSourceStream::deliverSample(IMFSample *sample, IUnknown *token)
{
    if (!sample)
        return E_POINTER;
    if (token)
        sample->SetUnknown(MFSampleExtension_Token, token);
    const auto value = nyx::mf::PropVariant::fromUnknown(sample);
    return QueueEvent(MEMediaSample, GUID_NULL, S_OK, &value);
}

HRESULT CBaseSourceStream::queueStreamEvent(MediaEventType type, HRESULT status, const PROPVARIANT *value)
{
    return QueueEvent(type, GUID_NULL, status, value);
}

HRESULT CBaseSourceStream::applyMediaType(IMFMediaType *type)
{
    if (!type)
        return E_POINTER;
    CComPtr<IMFStreamDescriptor> descriptor;
    {
        AutoLock lock(m_lock);
        descriptor = m_descriptor;
    }
    if (descriptor) {
        // The handler gets a copy: the stream goes on changing its own type.
        CComPtr<IMFMediaType> copy;
        HRESULT hr = MFCreateMediaType(&copy);
        if (SUCCEEDED(hr))
            hr = type->CopyAllItems(copy);
        CComPtr<IMFMediaTypeHandler> handler;
        if (SUCCEEDED(hr))
            hr = descriptor->GetMediaTypeHandler(&handler);
        if (FAILED(hr))
            return hr;
        // A type outside the offered list (a new frame size) is announced all the same.
        handler->SetCurrentMediaType(copy);
        const auto value = nyx::mf::PropVariant::fromUnknown(copy);
        return QueueEvent(MEStreamFormatChanged, GUID_NULL, S_OK, &value);
    }
    return S_OK;
}

bool CBaseSourceStream::isEndOfStream() const
{
    AutoLock lock(m_lock);
    return m_endOfStream;
}

float CBaseSourceStream::rate() const
{
    AutoLock lock(m_lock);
    return m_rate;
}
