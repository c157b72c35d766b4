#pragma once
// A test-only stream sink (with its media sink) that starts late, as the archive sink does on its
// work queue: the clock's start reaches it only when the test lets it. Until then it refuses
// samples with MF_E_INVALIDREQUEST, as every sink does that has not asked for them. It can also
// raise a request before its start, as a request made before the last stop and handled only after
// the next start looks to the session.

#include "com/comobject.h"
#include "mf/mf.h"

#include <QVector>
#include <mutex>

class LateStartSink
    : public nyx::com::ComObject<IMFMediaSink, IMFStreamSink, IMFMediaTypeHandler, IMFClockStateSink>
{
public:
    LateStartSink() { MFCreateEventQueue(&m_events); }

    // Raises a request the sink has not made in this run.
    void raiseStaleRequest()
    {
        m_events->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
    }
    // Lets the clock's start through: the sink starts and asks for one sample at a time.
    void letStart()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateOpen = true;
        startIfDue();
    }
    QVector<LONGLONG> accepted() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }
    int refused() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refused;
    }

    // IMFMediaSink
    HRESULT GetCharacteristics(DWORD *characteristics) override
    {
        *characteristics = MEDIASINK_FIXED_STREAMS;
        return S_OK;
    }
    HRESULT AddStreamSink(DWORD, IMFMediaType *, IMFStreamSink **) override { return MF_E_STREAMSINKS_FIXED; }
    HRESULT RemoveStreamSink(DWORD) override { return MF_E_STREAMSINKS_FIXED; }
    HRESULT GetStreamSinkCount(DWORD *count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT GetStreamSinkByIndex(DWORD, IMFStreamSink **sink) override { return streamSink(sink); }
    HRESULT GetStreamSinkById(DWORD, IMFStreamSink **sink) override { return streamSink(sink); }
    HRESULT SetPresentationClock(IMFPresentationClock *clock) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_clock)
            m_clock->RemoveClockStateSink(this);
        m_clock = clock;
        if (m_clock)
            m_clock->AddClockStateSink(this);
        return S_OK;
    }
    HRESULT GetPresentationClock(IMFPresentationClock **clock) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clock ? m_clock.CopyTo(clock) : MF_E_NO_CLOCK;
    }
    HRESULT Shutdown() override
    {
        SetPresentationClock(nullptr);
        return m_events->Shutdown();
    }

    // IMFMediaEventGenerator
    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override { return m_events->GetEvent(flags, event); }
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override
    {
        return m_events->BeginGetEvent(callback, state);
    }
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override
    {
        return m_events->EndGetEvent(result, event);
    }
    HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                       const PROPVARIANT *value) override
    {
        return m_events->QueueEventParamVar(type, extended, status, value);
    }

    // IMFStreamSink
    HRESULT GetMediaSink(IMFMediaSink **sink) override
    {
        *sink = this;
        AddRef();
        return S_OK;
    }
    HRESULT GetIdentifier(DWORD *identifier) override
    {
        *identifier = 0;
        return S_OK;
    }
    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) override
    {
        *handler = this;
        AddRef();
        return S_OK;
    }
    HRESULT ProcessSample(IMFSample *sample) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started || m_requested == 0) {
            ++m_refused;
            return MF_E_INVALIDREQUEST;
        }
        --m_requested;
        LONGLONG time = 0;
        sample->GetSampleTime(&time);
        m_accepted.append(time);
        request();
        return S_OK;
    }
    HRESULT PlaceMarker(MFSTREAMSINK_MARKER_TYPE, const PROPVARIANT *, const PROPVARIANT *context) override
    {
        return m_events->QueueEventParamVar(MEStreamSinkMarker, GUID_NULL, S_OK, context);
    }
    HRESULT Flush() override { return S_OK; }

    // IMFMediaTypeHandler: any video.
    HRESULT IsMediaTypeSupported(IMFMediaType *, IMFMediaType **closest) override
    {
        if (closest)
            *closest = nullptr;
        return S_OK;
    }
    HRESULT GetMediaTypeCount(DWORD *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetMediaTypeByIndex(DWORD, IMFMediaType **) override { return MF_E_NO_MORE_TYPES; }
    HRESULT SetCurrentMediaType(IMFMediaType *type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_type = type;
        return S_OK;
    }
    HRESULT GetCurrentMediaType(IMFMediaType **type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_type ? m_type.CopyTo(type) : MF_E_NOT_INITIALIZED;
    }
    HRESULT GetMajorType(GUID *major) override
    {
        *major = MFMediaType_Video;
        return S_OK;
    }

    // IMFClockStateSink
    HRESULT OnClockStart(MFTIME, LONGLONG) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_startDue = true;
        startIfDue();
        return S_OK;
    }
    HRESULT OnClockStop(MFTIME) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = m_startDue = false;
        m_requested = 0;
        return m_events->QueueEventParamVar(MEStreamSinkStopped, GUID_NULL, S_OK, nullptr);
    }
    HRESULT OnClockPause(MFTIME) override { return S_OK; }
    HRESULT OnClockRestart(MFTIME) override { return S_OK; }
    HRESULT OnClockSetRate(MFTIME, float) override { return S_OK; }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        return riid == IID_IMFMediaEventGenerator ? static_cast<IMFMediaEventGenerator *>(this) : nullptr;
    }

private:
    HRESULT streamSink(IMFStreamSink **sink)
    {
        *sink = this;
        AddRef();
        return S_OK;
    }
    // Under m_mutex.
    void startIfDue()
    {
        if (!m_startDue || !m_gateOpen || m_started)
            return;
        m_started = true;
        m_events->QueueEventParamVar(MEStreamSinkStarted, GUID_NULL, S_OK, nullptr);
        request();
    }
    void request()
    {
        ++m_requested;
        m_events->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
    }

    mutable std::mutex m_mutex;
    CComPtr<IMFMediaEventQueue> m_events;
    CComPtr<IMFPresentationClock> m_clock;
    CComPtr<IMFMediaType> m_type;
    bool m_startDue = false;
    bool m_gateOpen = false;
    bool m_started = false;
    int m_requested = 0;
    int m_refused = 0;
    QVector<LONGLONG> m_accepted;
};
