#include "multimedia/nodes/livesink.h"

#include "com/comobject.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace nyx::multimedia {

namespace {

class LiveMediaSink;

class LiveStreamSink : public com::ComObject<IMFStreamSink, IMFMediaTypeHandler>
{
public:
    LiveStreamSink(IMFMediaSink *owner, LiveSinkSpec spec) : m_owner(owner), m_spec(std::move(spec))
    {
        MFCreateEventQueue(&m_events);
        // A paced sink looks at the sample after the one it holds to tell the frame at a position.
        m_spec.buffered = qMax(m_spec.paced ? 2 : 1, m_spec.buffered);
        if (m_spec.paced)
            m_presenter = std::thread([this] { present(); });
    }
    ~LiveStreamSink() override
    {
        endPresenter();
        m_events->Shutdown();
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
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_owner)
            return MF_E_SHUTDOWN;
        return CComPtr<IMFMediaSink>(m_owner).CopyTo(sink);
    }
    HRESULT GetIdentifier(DWORD *identifier) override
    {
        if (!identifier)
            return E_POINTER;
        *identifier = 0;
        return S_OK;
    }
    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) override
    {
        if (!handler)
            return E_POINTER;
        *handler = this;
        AddRef();
        return S_OK;
    }
    HRESULT ProcessSample(IMFSample *sample) override
    {
        if (!sample)
            return E_POINTER;
        if (m_spec.paced) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_owner)
                return MF_E_SHUTDOWN;
            if (!m_started)
                return MF_E_INVALIDREQUEST;
            m_queue.emplace_back(sample);
            if (m_requested > 0)
                --m_requested;
            m_wake.notify_all();
            return S_OK;
        }
        // Consumers run one at a time even when the session's threads overlap, and never after
        // shutdown() has returned.
        std::lock_guard<std::mutex> consuming(m_consumeMutex);
        CComPtr<IMFMediaType> type;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_owner)
                return MF_E_SHUTDOWN;
            if (!m_started)
                return MF_E_INVALIDREQUEST;
            type = m_type;
        }
        const HRESULT hr = m_spec.consume ? m_spec.consume(sample, type) : S_OK;
        if (FAILED(hr))
            m_events->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_started)
            m_events->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
        return S_OK;
    }
    HRESULT PlaceMarker(MFSTREAMSINK_MARKER_TYPE type, const PROPVARIANT *,
                        const PROPVARIANT *context) override
    {
        if (type == MFSTREAMSINK_MARKER_ENDOFSEGMENT) {
            if (m_spec.paced) {
                // Nothing after what it holds is coming: the last sample before the position is
                // the one to show, and the session need not wait for more.
                std::lock_guard<std::mutex> lock(m_mutex);
                m_segmentEnded = true;
                if (m_queue.empty())
                    announcePrerolled();
                m_wake.notify_all();
            }
            if (m_spec.endOfSegment)
                m_spec.endOfSegment();
        }
        return m_events->QueueEventParamVar(MEStreamSinkMarker, GUID_NULL, S_OK, context);
    }
    HRESULT Flush() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        if (m_started && m_spec.paced)
            requestRoom();
        return S_OK;
    }

    // IMFMediaTypeHandler
    HRESULT IsMediaTypeSupported(IMFMediaType *type, IMFMediaType **closest) override
    {
        if (closest)
            *closest = nullptr;
        if (!type)
            return E_POINTER;
        GUID major = GUID_NULL, subtype = GUID_NULL;
        type->GetGUID(MF_MT_MAJOR_TYPE, &major);
        type->GetGUID(MF_MT_SUBTYPE, &subtype);
        if (major != m_spec.majorType || (m_spec.subtype != GUID_NULL && subtype != m_spec.subtype))
            return MF_E_INVALIDMEDIATYPE;
        return S_OK;
    }
    HRESULT GetMediaTypeCount(DWORD *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType **type) override
    {
        if (!type)
            return E_POINTER;
        if (index > 0)
            return MF_E_NO_MORE_TYPES;
        CComPtr<IMFMediaType> partial;
        HRESULT hr = MFCreateMediaType(&partial);
        if (SUCCEEDED(hr))
            hr = partial->SetGUID(MF_MT_MAJOR_TYPE, m_spec.majorType);
        if (SUCCEEDED(hr) && m_spec.subtype != GUID_NULL)
            hr = partial->SetGUID(MF_MT_SUBTYPE, m_spec.subtype);
        return SUCCEEDED(hr) ? partial.CopyTo(type) : hr;
    }
    HRESULT SetCurrentMediaType(IMFMediaType *type) override
    {
        const HRESULT hr = IsMediaTypeSupported(type, nullptr);
        if (FAILED(hr))
            return hr;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_type = type;
        return S_OK;
    }
    HRESULT GetCurrentMediaType(IMFMediaType **type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_type)
            return MF_E_NOT_INITIALIZED;
        return m_type.CopyTo(type);
    }
    HRESULT GetMajorType(GUID *major) override
    {
        if (!major)
            return E_POINTER;
        *major = m_spec.majorType;
        return S_OK;
    }

    // offset: the position of a start (a seek), or PRESENTATION_CURRENT_POSITION (a resume).
    void start(IMFPresentationClock *clock, LONGLONG offset)
    {
        // The clock may have had its rate set before this sink was given it.
        float rate = 1.0f;
        CComPtr<IMFRateControl> rateControl;
        const bool knowsRate =
            clock &&
            SUCCEEDED(clock->QueryInterface(IID_IMFRateControl, reinterpret_cast<void **>(&rateControl))) &&
            SUCCEEDED(rateControl->GetRate(nullptr, &rate));
        if (knowsRate && m_spec.rateChanged)
            m_spec.rateChanged(rate);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (knowsRate)
            m_rate = rate;
        const bool wasStarted = m_started;
        m_started = true;
        m_clock = clock;
        if (offset != PRESENTATION_CURRENT_POSITION) {
            m_prerollBoundary = offset;
            m_prerolling = true;
            m_segmentEnded = false;
        }
        m_events->QueueEventParamVar(MEStreamSinkStarted, GUID_NULL, S_OK, nullptr);
        if (m_spec.paced)
            requestRoom();
        else if (!wasStarted)
            m_events->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
        m_wake.notify_all();
    }
    // The session is about to start the clock: say when the first sample to show is here.
    HRESULT notifyPreroll()
    {
        if (!m_spec.paced)
            return E_NOTIMPL;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_owner)
            return MF_E_SHUTDOWN;
        m_announcePreroll = true;
        return S_OK;
    }
    void setRate(float rate)
    {
        if (m_spec.rateChanged)
            m_spec.rateChanged(rate);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_rate = rate;
        m_wake.notify_all();
    }
    void stop(MediaEventType event)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_started = false;
            // A paused sink keeps what it holds (shown on restart); a stopped one starts afresh.
            if (event == MEStreamSinkStopped) {
                ++m_run;
                m_queue.clear();
                m_requested = 0; // the session forgets its requests on stop
                m_prerolling = false;
                m_announcePreroll = false;
            }
            m_events->QueueEventParamVar(event, GUID_NULL, S_OK, nullptr);
            m_wake.notify_all();
        }
        // A paced sink shows or passes over nothing of a stopped run once its stop has returned:
        // the hand-over under way ends first (the next start's counts and pictures are its own).
        if (event == MEStreamSinkStopped && m_spec.paced) {
            std::lock_guard<std::mutex> consuming(m_consumeMutex);
        }
        if (event == MEStreamSinkStopped && m_spec.stopped)
            m_spec.stopped();
    }
    void shutdown()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_started = false;
            m_owner = nullptr;
            m_queue.clear();
            m_clock = nullptr;
            m_announcePreroll = false;
        }
        endPresenter();
        // Waits for a sample being consumed: the consumer's target may go away after this.
        {
            std::lock_guard<std::mutex> consuming(m_consumeMutex);
        }
        if (m_spec.stopped)
            m_spec.stopped();
        m_events->Shutdown();
    }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        return riid == IID_IMFMediaEventGenerator ? static_cast<IMFMediaEventGenerator *>(this) : nullptr;
    }

private:
    void endPresenter()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ending = true;
            m_wake.notify_all();
        }
        if (m_presenter.joinable() && m_presenter.get_id() != std::this_thread::get_id())
            m_presenter.join();
    }

    // A paced sink asks for what it has room for, counting the requests still unanswered (a pause
    // keeps them), so that it never holds more than spec.buffered samples. Called under m_mutex.
    void requestRoom()
    {
        while (int(m_queue.size()) + m_requested < m_spec.buffered) {
            ++m_requested;
            m_events->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
        }
    }

    // Under m_mutex: the session waits no longer for this sink.
    void announcePrerolled()
    {
        if (!m_announcePreroll)
            return;
        m_announcePreroll = false;
        m_events->QueueEventParamVar(MEStreamSinkPrerolled, GUID_NULL, S_OK, nullptr);
    }

    // Under m_mutex: whether the front sample is preroll, the frame to show at the position of the
    // last start, or (nullopt) not known until the next sample or the end of the segment is here.
    // The frame at the position is the last one that begins at or before it: a sample is preroll
    // when a later one begins at or before the position too. Durations do not tell: a recording's
    // frames come at times that jitter, so a late frame's duration runs into the next frame, and a
    // position in the gap before a late frame still shows the frame before it.
    std::optional<bool> isPreroll(LONGLONG time) const
    {
        if (m_queue.size() > 1) {
            LONGLONG next = 0;
            m_queue[1]->GetSampleTime(&next);
            // Samples of the same time (a frame step's, stamped with the position) all show.
            return next > time && next <= m_prerollBoundary;
        }
        if (m_segmentEnded || time > m_prerollBoundary)
            return false;
        return std::nullopt;
    }

    // The presenter thread of a paced sink: one sample at a time, when the clock reaches its time.
    void present()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        bool showFirst = false; // the first sample at a start's position is never dropped as late
        for (;;) {
            m_wake.wait(lock, [this] { return m_ending || (m_started && !m_queue.empty()); });
            if (m_ending)
                return;
            CComPtr<IMFSample> sample = m_queue.front();
            LONGLONG time = 0;
            sample->GetSampleTime(&time);
            enum
            {
                Show,
                Late,
                Preroll
            } fate = Show;
            if (m_prerolling) {
                const std::optional<bool> preroll = isPreroll(time);
                if (!preroll) {
                    // Woken by the next sample, the segment's end, a stop or a start.
                    m_wake.wait_for(lock, std::chrono::milliseconds(100));
                    continue;
                }
                if (*preroll) {
                    fate = Preroll;
                } else {
                    m_prerolling = false;
                    showFirst = true;
                    announcePrerolled();
                }
            }
            if (fate == Show) {
                CComPtr<IMFPresentationClock> clock = m_clock;
                const float rate = m_rate;
                // A clock at rate 0 stands at its position: the frame at it shows, later ones wait.
                MFTIME now = time;
                if (clock && FAILED(clock->GetTime(&now)))
                    now = time;
                const bool forward = rate >= 0.0f;
                const LONGLONG ahead = forward ? time - now : now - time;
                // The first frame of a start shows at once on a standing clock, even one that
                // begins after the position (the recording has a gap there).
                if (ahead > 0 && !(rate == 0.0f && showFirst)) {
                    if (rate == 0.0f) {
                        // Until the clock moves: a new rate, a stop or a start wakes this wait (the
                        // timeout only guards against a missed wake-up).
                        m_wake.wait_for(lock, std::chrono::milliseconds(100));
                        continue;
                    }
                    // Early: wait for its time (in steps, so that a new rate or a stop is seen soon).
                    const double wallUs = double(ahead) / 10.0 / double(qAbs(rate));
                    m_wake.wait_for(lock,
                                    std::chrono::microseconds(qBound<qint64>(100, qint64(wallUs), 20000)));
                    continue;
                }
                if (rate != 0.0f && m_queue.size() > 1 && !showFirst) {
                    LONGLONG next = 0;
                    m_queue[1]->GetSampleTime(&next);
                    if (forward ? next <= now : next >= now)
                        fate = Late;
                }
                showFirst = false;
            }
            m_queue.pop_front();
            if (m_started)
                requestRoom();
            CComPtr<IMFMediaType> type = m_type;
            const quint64 run = m_run;
            lock.unlock();
            {
                std::lock_guard<std::mutex> consuming(m_consumeMutex);
                if (run != m_run) {
                    // Stopped since it was taken: it belongs to the run before.
                } else if (fate == Preroll) {
                    if (m_spec.prerollDropped)
                        m_spec.prerollDropped();
                } else if (fate == Late) {
                    if (m_spec.lateDropped)
                        m_spec.lateDropped();
                } else if (m_spec.consume) {
                    const HRESULT hr = m_spec.consume(sample, type);
                    if (FAILED(hr))
                        m_events->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr);
                }
            }
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::mutex m_consumeMutex;
    std::condition_variable m_wake;
    std::deque<CComPtr<IMFSample>> m_queue; // a paced sink's samples, at most spec.buffered
    CComPtr<IMFPresentationClock> m_clock;
    float m_rate = 1.0f;
    int m_requested = 0; // a paced sink's requests not answered yet
    // A paced sink after a start at a position: the samples before the frame at it are not shown.
    LONGLONG m_prerollBoundary = 0;
    bool m_prerolling = false;
    bool m_segmentEnded = false;    // since the last start at a position
    bool m_announcePreroll = false; // MEStreamSinkPrerolled is owed to the session
    bool m_ending = false;
    std::thread m_presenter;
    IMFMediaSink *m_owner; // not counted: the media sink owns its stream sink
    LiveSinkSpec m_spec;
    CComPtr<IMFMediaEventQueue> m_events;
    CComPtr<IMFMediaType> m_type;
    bool m_started = false;
    // Counts stops: a sample taken for showing before a stop is neither shown nor counted after it.
    std::atomic<quint64> m_run{0};
};

class LiveMediaSink : public com::ComObject<IMFMediaSink, IMFClockStateSink, IMFMediaSinkPreroll>
{
public:
    explicit LiveMediaSink(LiveSinkSpec spec) { m_stream.Attach(new LiveStreamSink(this, std::move(spec))); }

    HRESULT GetCharacteristics(DWORD *characteristics) override
    {
        if (!characteristics)
            return E_POINTER;
        *characteristics = MEDIASINK_FIXED_STREAMS;
        return m_shutdown ? MF_E_SHUTDOWN : S_OK;
    }
    HRESULT AddStreamSink(DWORD, IMFMediaType *, IMFStreamSink **) override { return MF_E_STREAMSINKS_FIXED; }
    HRESULT RemoveStreamSink(DWORD) override { return MF_E_STREAMSINKS_FIXED; }
    HRESULT GetStreamSinkCount(DWORD *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return m_shutdown ? MF_E_SHUTDOWN : S_OK;
    }
    HRESULT GetStreamSinkByIndex(DWORD index, IMFStreamSink **sink) override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (index != 0)
            return MF_E_INVALIDINDEX;
        return CComPtr<IMFStreamSink>(m_stream.p).CopyTo(sink);
    }
    HRESULT GetStreamSinkById(DWORD id, IMFStreamSink **sink) override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (id != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        return CComPtr<IMFStreamSink>(m_stream.p).CopyTo(sink);
    }
    HRESULT SetPresentationClock(IMFPresentationClock *clock) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
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
        if (!m_clock)
            return MF_E_NO_CLOCK;
        return m_clock.CopyTo(clock);
    }
    HRESULT Shutdown() override
    {
        CComPtr<IMFPresentationClock> clock;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            m_shutdown = true;
            clock = m_clock;
            m_clock = nullptr;
        }
        if (clock)
            clock->RemoveClockStateSink(this);
        m_stream->shutdown();
        return S_OK;
    }

    // IMFMediaSinkPreroll: only a paced sink has anything to get ready (E_NOTIMPL otherwise).
    HRESULT NotifyPreroll(MFTIME) override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        return m_stream->notifyPreroll();
    }

    HRESULT OnClockStart(MFTIME, LONGLONG offset) override
    {
        m_stream->start(currentClock(), offset);
        return S_OK;
    }
    HRESULT OnClockStop(MFTIME) override
    {
        m_stream->stop(MEStreamSinkStopped);
        return S_OK;
    }
    HRESULT OnClockPause(MFTIME) override
    {
        m_stream->stop(MEStreamSinkPaused);
        return S_OK;
    }
    HRESULT OnClockRestart(MFTIME) override
    {
        m_stream->start(currentClock(), PRESENTATION_CURRENT_POSITION);
        return S_OK;
    }
    HRESULT OnClockSetRate(MFTIME, float rate) override
    {
        m_stream->setRate(rate);
        return S_OK;
    }

private:
    CComPtr<IMFPresentationClock> currentClock()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clock;
    }

    std::mutex m_mutex;
    CComPtr<LiveStreamSink> m_stream;
    CComPtr<IMFPresentationClock> m_clock;
    bool m_shutdown = false;
};

} // namespace

CComPtr<IMFMediaSink> createLiveSink(LiveSinkSpec spec)
{
    CComPtr<IMFMediaSink> sink;
    sink.Attach(new LiveMediaSink(std::move(spec)));
    return sink;
}

} // namespace nyx::multimedia
