#include "multimedia/source/basesource.h"

#include "mf/mfapi.h"

#include <algorithm>
#include <future>

namespace {
bool contains(const std::vector<DWORD> &ids, DWORD id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}
} // namespace

CBaseSource::CBaseSource(HRESULT &hr, DWORD characteristics, const char *name)
    : CUnknown(name, nullptr), m_characteristics(characteristics), m_queue(1, 5)
{
    hr = MFCreateEventQueue(&m_events);
}

CBaseSource::~CBaseSource()
{
    Shutdown();
}

HRESULT CBaseSource::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFMediaSourceEx)
        return GetInterface(static_cast<IMFMediaSourceEx *>(this), object);
    if (riid == IID_IMFMediaSource)
        return GetInterface(static_cast<IMFMediaSource *>(this), object);
    if (riid == IID_IMFMediaEventGenerator)
        return GetInterface(static_cast<IMFMediaEventGenerator *>(this), object);
    if (riid == nyx::IID_ISource)
        return GetInterface(static_cast<nyx::ISource *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseSource::Initialize(const std::vector<std::shared_ptr<nyx::ISourceStream>> &streams)
{
    if (HRESULT hr = checkShutdown(); FAILED(hr))
        return hr;
    if (streams.empty())
        return E_INVALIDARG;
    std::vector<CComPtr<IMFStreamDescriptor>> descriptors;
    for (const auto &stream : streams) {
        if (!stream)
            return E_POINTER;
        HRESULT hr = stream->Initialize();
        CComPtr<IMFStreamDescriptor> descriptor;
        if (SUCCEEDED(hr))
            hr = stream->mediaStream()->GetStreamDescriptor(&descriptor);
        if (FAILED(hr))
            return hr;
        descriptors.push_back(descriptor);
    }
    std::vector<IMFStreamDescriptor *> raw;
    for (auto &d : descriptors)
        raw.push_back(d);
    CComPtr<IMFPresentationDescriptor> presentation;
    HRESULT hr = MFCreatePresentationDescriptor(static_cast<DWORD>(raw.size()), raw.data(), &presentation);
    for (DWORD i = 0; SUCCEEDED(hr) && i < raw.size(); ++i)
        hr = presentation->SelectStream(i);
    if (FAILED(hr))
        return hr;
    AutoLock lock(m_lock);
    m_streams = streams;
    m_descriptor = presentation;
    return S_OK;
}

HRESULT CBaseSource::GetEvent(DWORD flags, IMFMediaEvent **event)
{
    return m_events ? m_events->GetEvent(flags, event) : MF_E_SHUTDOWN;
}

HRESULT CBaseSource::BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state)
{
    return m_events ? m_events->BeginGetEvent(callback, state) : MF_E_SHUTDOWN;
}

HRESULT CBaseSource::EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event)
{
    return m_events ? m_events->EndGetEvent(result, event) : MF_E_SHUTDOWN;
}

HRESULT CBaseSource::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                const PROPVARIANT *value)
{
    return m_events ? m_events->QueueEventParamVar(type, extendedType, status, value) : MF_E_SHUTDOWN;
}

HRESULT CBaseSource::GetCharacteristics(DWORD *characteristics)
{
    if (!characteristics)
        return E_POINTER;
    if (HRESULT hr = checkShutdown(); FAILED(hr))
        return hr;
    *characteristics = m_characteristics;
    return S_OK;
}

HRESULT CBaseSource::CreatePresentationDescriptor(IMFPresentationDescriptor **descriptor)
{
    if (!descriptor)
        return E_POINTER;
    *descriptor = nullptr;
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!m_descriptor)
        return MF_E_NOT_INITIALIZED;
    return m_descriptor->Clone(descriptor);
}

HRESULT CBaseSource::Start(IMFPresentationDescriptor *descriptor, const GUID *timeFormat,
                           const PROPVARIANT *start)
{
    if (!descriptor || !start)
        return E_INVALIDARG;
    if (timeFormat && *timeFormat != GUID_NULL)
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (start->vt != VT_EMPTY && start->vt != VT_I8)
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_disabled)
            return MF_E_INVALIDREQUEST;
        if (!m_descriptor)
            return MF_E_NOT_INITIALIZED;
    }
    CComPtr<IMFPresentationDescriptor> keep(descriptor);
    nyx::mf::PropVariant position(*start);
    return runOnQueue([this, keep, position]() { return startOnQueue(keep, position); });
}

HRESULT CBaseSource::startOnQueue(IMFPresentationDescriptor *descriptor, const PROPVARIANT &start)
{
    DWORD count = 0;
    HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
    if (FAILED(hr))
        return hr;
    std::vector<std::pair<std::shared_ptr<nyx::ISourceStream>, bool>> selected; // stream, is new
    for (DWORD i = 0; i < count; ++i) {
        BOOL isSelected = FALSE;
        CComPtr<IMFStreamDescriptor> sd;
        hr = descriptor->GetStreamDescriptorByIndex(i, &isSelected, &sd);
        if (FAILED(hr))
            return hr;
        DWORD id = 0;
        hr = sd->GetStreamIdentifier(&id);
        if (FAILED(hr))
            return hr;
        std::shared_ptr<nyx::ISourceStream> stream;
        for (const auto &s : streams())
            if (s->streamId() == id)
                stream = s;
        if (!stream)
            return MF_E_INVALIDSTREAMNUMBER;
        if (isSelected) {
            AutoLock lock(m_lock);
            selected.emplace_back(stream, !contains(m_everStarted, id));
        }
    }
    if (selected.empty())
        return MF_E_MEDIA_SOURCE_NO_STREAMS_SELECTED;

    // Streams first: a failing seek leaves the source as it was.
    std::vector<std::shared_ptr<nyx::ISourceStream>> started;
    for (auto &[stream, isNew] : selected) {
        hr = stream->Start(start);
        if (FAILED(hr)) {
            for (auto &s : started)
                s->Stop();
            return hr;
        }
        started.push_back(stream);
    }
    std::vector<DWORD> ids;
    for (auto &[stream, isNew] : selected) {
        ids.push_back(stream->streamId());
        const auto value = nyx::mf::PropVariant::fromUnknown(stream->mediaStream());
        QueueEvent(isNew ? MENewStream : MEUpdatedStream, GUID_NULL, S_OK, &value);
    }
    {
        AutoLock lock(m_lock);
        for (DWORD id : m_active)
            if (!contains(ids, id))
                for (const auto &s : m_streams)
                    if (s->streamId() == id)
                        s->Stop();
        m_active = ids;
        for (DWORD id : ids)
            if (!contains(m_everStarted, id))
                m_everStarted.push_back(id);
        if (start.vt == VT_I8)
            m_ended.clear();
        m_started = true;
    }
    return QueueEvent(MESourceStarted, GUID_NULL, S_OK, &start);
}

HRESULT CBaseSource::Stop()
{
    if (HRESULT hr = checkShutdown(); FAILED(hr))
        return hr;
    return runOnQueue([this]() {
        std::vector<DWORD> active;
        {
            AutoLock lock(m_lock);
            active = m_active;
            m_started = false;
            m_ended.clear();
        }
        for (const auto &s : streams())
            if (contains(active, s->streamId()))
                s->Stop();
        return QueueEvent(MESourceStopped, GUID_NULL, S_OK, nullptr);
    });
}

HRESULT CBaseSource::Pause()
{
    if (HRESULT hr = checkShutdown(); FAILED(hr))
        return hr;
    return runOnQueue([this]() {
        std::vector<DWORD> active;
        {
            AutoLock lock(m_lock);
            if (!m_started)
                return MF_E_INVALID_STATE_TRANSITION;
            active = m_active;
        }
        for (const auto &s : streams())
            if (contains(active, s->streamId()))
                s->Pause();
        return QueueEvent(MESourcePaused, GUID_NULL, S_OK, nullptr);
    });
}

HRESULT CBaseSource::Shutdown()
{
    std::vector<std::shared_ptr<nyx::ISourceStream>> all;
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        m_shutdown = true;
        all.swap(m_streams);
        m_descriptor.Release();
    }
    for (const auto &s : all)
        s->Shutdown();
    if (m_events)
        m_events->Shutdown();
    return S_OK;
}

HRESULT CBaseSource::GetSourceAttributes(IMFAttributes **)
{
    return E_NOTIMPL;
}

HRESULT CBaseSource::GetStreamAttributes(DWORD, IMFAttributes **)
{
    return E_NOTIMPL;
}

HRESULT CBaseSource::SetD3DManager(IUnknown *)
{
    return E_NOTIMPL;
}

HRESULT CBaseSource::Disable()
{
    std::vector<std::shared_ptr<nyx::ISourceStream>> all;
    {
        AutoLock lock(m_lock);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        m_disabled = true;
        all = m_streams;
    }
    for (const auto &s : all)
        s->Disable();
    return S_OK;
}

void CBaseSource::onStreamEnded(nyx::ISourceStream *stream)
{
    bool all = false;
    {
        AutoLock lock(m_lock);
        if (!stream || !m_started || contains(m_ended, stream->streamId()))
            return;
        m_ended.push_back(stream->streamId());
        all =
            std::all_of(m_active.begin(), m_active.end(), [this](DWORD id) { return contains(m_ended, id); });
    }
    if (all)
        QueueEvent(MEEndOfPresentation, GUID_NULL, S_OK, nullptr);
}

bool CBaseSource::isShutdown() const
{
    AutoLock lock(m_lock);
    return m_shutdown;
}

HRESULT CBaseSource::runOnQueue(std::function<HRESULT()> function)
{
    auto done = std::make_shared<std::promise<HRESULT>>();
    std::future<HRESULT> result = done->get_future();
    // The work item holds a reference, so the source outlives it.
    CComPtr<IUnknown> keep(static_cast<IMFMediaSourceEx *>(this));
    const HRESULT hr = m_queue.push([function = std::move(function), done, keep]() {
        done->set_value(function());
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    return result.get();
}

std::vector<std::shared_ptr<nyx::ISourceStream>> CBaseSource::streams() const
{
    AutoLock lock(m_lock);
    return m_streams;
}

HRESULT CBaseSource::checkShutdown() const
{
    AutoLock lock(m_lock);
    return m_shutdown ? MF_E_SHUTDOWN : S_OK;
}

// ---- rate support ----------------------------------------------------------------------------

CBaseSourceWithRateSupport::CBaseSourceWithRateSupport(HRESULT &hr, DWORD characteristics, const char *name)
    : CBaseSource(hr, characteristics, name)
{
}

HRESULT CBaseSourceWithRateSupport::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFRateSupport)
        return GetInterface(static_cast<IMFRateSupport *>(this), object);
    if (riid == IID_IMFRateControl)
        return GetInterface(static_cast<IMFRateControl *>(this), object);
    if (riid == IID_IMFGetService)
        return GetInterface(static_cast<IMFGetService *>(this), object);
    return CBaseSource::NonDelegatingQueryInterface(riid, object);
}

void CBaseSourceWithRateSupport::setSupportedRateRange(float slowest, float fastest)
{
    m_slowest = slowest;
    m_fastest = fastest;
}

HRESULT CBaseSourceWithRateSupport::GetSlowestRate(MFRATE_DIRECTION direction, BOOL, float *rate)
{
    if (!rate)
        return E_POINTER;
    if (direction == MFRATE_REVERSE)
        return MF_E_REVERSE_UNSUPPORTED;
    *rate = m_slowest;
    return checkShutdown();
}

HRESULT CBaseSourceWithRateSupport::GetFastestRate(MFRATE_DIRECTION direction, BOOL, float *rate)
{
    if (!rate)
        return E_POINTER;
    if (direction == MFRATE_REVERSE)
        return MF_E_REVERSE_UNSUPPORTED;
    *rate = m_fastest;
    return checkShutdown();
}

HRESULT CBaseSourceWithRateSupport::IsRateSupported(BOOL thin, float rate, float *nearest)
{
    if (HRESULT hr = checkShutdown(); FAILED(hr))
        return hr;
    if (rate < 0)
        return MF_E_REVERSE_UNSUPPORTED;
    if (thin)
        return MF_E_THINNING_UNSUPPORTED;
    const float clamped = std::clamp(rate, m_slowest, m_fastest);
    if (nearest)
        *nearest = clamped;
    return clamped == rate ? S_OK : MF_E_UNSUPPORTED_RATE;
}

HRESULT CBaseSourceWithRateSupport::SetRate(BOOL thin, float rate)
{
    HRESULT hr = IsRateSupported(thin, rate, nullptr);
    if (FAILED(hr))
        return hr;
    // Streams store the rate without waiting for their queue.
    for (const auto &s : streams()) {
        hr = s->SetRate(rate);
        if (FAILED(hr))
            return hr;
    }
    m_rate = rate;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = rate;
    return QueueEvent(MESourceRateChanged, GUID_NULL, S_OK, &value);
}

HRESULT CBaseSourceWithRateSupport::GetRate(BOOL *thin, float *rate)
{
    if (!rate)
        return E_POINTER;
    if (thin)
        *thin = FALSE;
    *rate = m_rate;
    return checkShutdown();
}

HRESULT CBaseSourceWithRateSupport::GetService(REFGUID service, REFIID riid, LPVOID *object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (service != MF_RATE_CONTROL_SERVICE)
        return MF_E_UNSUPPORTED_SERVICE;
    if (riid != IID_IMFRateSupport && riid != IID_IMFRateControl)
        return MF_E_UNSUPPORTED_SERVICE;
    return NonDelegatingQueryInterface(riid, object);
}
