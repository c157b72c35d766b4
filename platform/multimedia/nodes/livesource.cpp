#include "multimedia/nodes/livesource.h"

#include "com/comobject.h"

#include <QLoggingCategory>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

Q_LOGGING_CATEGORY(lcLiveSource, "Multimedia.LiveSource")

namespace nyx::multimedia {

class LiveStream : public com::ComObject<IMFMediaStream>
{
public:
    LiveStream(IMFMediaSource *source, IMFStreamDescriptor *descriptor, std::size_t backlog)
        : m_source(source), m_descriptor(descriptor), m_backlogLimit(qMax<std::size_t>(1, backlog))
    {
        MFCreateEventQueue(&m_events);
    }
    ~LiveStream() override { m_events->Shutdown(); }

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
    HRESULT GetMediaSource(IMFMediaSource **source) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_source)
            return MF_E_SHUTDOWN;
        return CComPtr<IMFMediaSource>(m_source).CopyTo(source);
    }
    HRESULT GetStreamDescriptor(IMFStreamDescriptor **descriptor) override
    {
        return m_descriptor.CopyTo(descriptor);
    }
    HRESULT RequestSample(IUnknown *) override
    {
        CComPtr<IMFSample> waiting;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_source)
                return MF_E_SHUTDOWN;
            if (!m_started)
                return MF_E_INVALIDREQUEST;
            if (!m_backlog.empty()) {
                waiting = m_backlog.front();
                m_backlog.pop_front();
                if (m_backlog.empty())
                    m_overflowing = false;
            } else {
                // Bounded: a live stream never owes more than a few samples.
                m_requests = qMin(m_requests + 1, 8);
                m_requested.notify_all();
                return S_OK;
            }
        }
        // Outside the lock: the queue may call back into the stream.
        return m_events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, waiting);
    }

    void start(qint64 position, qint64 steadyStart)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = true;
        m_requests = 0;
        m_backlog.clear();
        m_overflowing = false;
        m_position = position;
        m_steadyStart = steadyStart;
    }
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_started = false;
            m_requests = 0;
            m_backlog.clear();
            ++m_stops;
        }
        // A producer waiting for a request of the run that ended waits no longer.
        m_requested.notify_all();
    }
    void shutdown()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_started = false;
            m_source = nullptr;
            m_backlog.clear();
        }
        m_requested.notify_all();
        m_events->Shutdown();
    }
    // steadyTime < 0: the sample keeps its own time.
    bool deliver(IMFSample *sample, qint64 steadyTime)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_started || (steadyTime >= 0 && steadyTime < m_steadyStart)) {
                ++m_dropped;
                return false;
            }
            if (steadyTime >= 0)
                sample->SetSampleTime(m_position + (steadyTime - m_steadyStart));
            if (m_requests == 0) {
                // A consumer held up for a moment (an encoder or the archive on a busy machine) gets
                // the samples it has not asked for yet when it asks, as a capture board's buffer
                // would hold them; only a consumer the whole backlog behind loses samples.
                if (m_backlog.size() >= m_backlogLimit) {
                    ++m_dropped;
                    if (!m_overflowing)
                        qCWarning(lcLiveSource,
                                  "Live source: %d samples wait for a consumer that asks "
                                  "for none, dropping samples until it catches up",
                                  int(m_backlogLimit));
                    m_overflowing = true;
                    return false;
                }
                m_backlog.emplace_back(sample);
                return true;
            }
            --m_requests;
        }
        return SUCCEEDED(m_events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample));
    }
    qint64 dropped() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dropped;
    }
    // whileStarted: a stream not started ends the wait (a producer of a run that has ended).
    bool waitForRequest(int timeoutMs, bool whileStarted) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const quint64 stops = m_stops;
        return m_requested.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this, stops, whileStarted] {
                                        return !m_source || m_stops != stops ||
                                               (whileStarted && !m_started) || (m_started && m_requests > 0);
                                    }) &&
               m_source && m_stops == stops && m_started && m_requests > 0;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requested;
    IMFMediaSource *m_source; // not counted: the source owns the stream
    CComPtr<IMFStreamDescriptor> m_descriptor;
    CComPtr<IMFMediaEventQueue> m_events;
    bool m_started = false;
    int m_requests = 0;
    const std::size_t m_backlogLimit;
    std::deque<CComPtr<IMFSample>> m_backlog;
    bool m_overflowing = false;
    qint64 m_position = 0;
    qint64 m_steadyStart = 0;
    qint64 m_dropped = 0;
    quint64 m_stops = 0;
};

class LiveSourceImpl : public com::ComObject<IMFMediaSource>
{
public:
    LiveSourceImpl(IMFMediaType *type, LiveSourceCallbacks callbacks, std::size_t backlog)
        : m_callbacks(std::move(callbacks)), m_feed(std::make_shared<LiveFeed>())
    {
        MFCreateEventQueue(&m_events);
        IMFMediaType *types[] = {type};
        CComPtr<IMFStreamDescriptor> descriptor;
        MFCreateStreamDescriptor(0, 1, types, &descriptor);
        CComPtr<IMFMediaTypeHandler> handler;
        if (descriptor && SUCCEEDED(descriptor->GetMediaTypeHandler(&handler)))
            handler->SetCurrentMediaType(type);
        IMFStreamDescriptor *descriptors[] = {descriptor};
        MFCreatePresentationDescriptor(1, descriptors, &m_descriptor);
        m_descriptor->SelectStream(0);
        m_stream.Attach(new LiveStream(this, descriptor, backlog));
        m_feed->m_stream = m_stream;
    }
    ~LiveSourceImpl() override
    {
        end();
        m_events->Shutdown();
    }

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
    HRESULT GetCharacteristics(DWORD *characteristics) override
    {
        if (!characteristics)
            return E_POINTER;
        *characteristics = MFMEDIASOURCE_IS_LIVE;
        return m_shutdown ? MF_E_SHUTDOWN : S_OK;
    }
    HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor **descriptor) override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        return m_descriptor->Clone(descriptor);
    }
    HRESULT Start(IMFPresentationDescriptor *, const GUID *, const PROPVARIANT *position) override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        const qint64 start = position && position->vt == VT_I8 ? position->hVal.QuadPart : 0;
        m_stream->start(start, MFGetSystemTime());
        // The first start announces the stream, a later one updates it.
        m_events->QueueEventParamUnk(m_announced ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                     static_cast<IMFMediaStream *>(m_stream));
        m_announced = true;
        m_events->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, nullptr);
        m_stream->QueueEvent(MEStreamStarted, GUID_NULL, S_OK, nullptr);
        if (m_callbacks.started)
            m_callbacks.started();
        return S_OK;
    }
    HRESULT Stop() override
    {
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_callbacks.stopped)
            m_callbacks.stopped();
        m_stream->stop();
        m_stream->QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
        return m_events->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
    }
    HRESULT Pause() override { return MF_E_INVALID_STATE_TRANSITION; } // a live source cannot pause
    HRESULT Shutdown() override
    {
        if (m_shutdown.exchange(true))
            return MF_E_SHUTDOWN;
        end();
        m_stream->shutdown();
        return m_events->Shutdown();
    }

    std::shared_ptr<LiveFeed> feed() const { return m_feed; }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        return riid == IID_IMFMediaEventGenerator ? static_cast<IMFMediaEventGenerator *>(this) : nullptr;
    }

private:
    // Stops the producer and cuts the feed: after this no sample reaches the stream.
    void end()
    {
        if (m_callbacks.stopped)
            m_callbacks.stopped();
        std::lock_guard<std::mutex> lock(m_feed->m_mutex);
        if (m_feed->m_stream)
            m_feed->m_droppedAfterEnd = m_feed->m_stream->dropped();
        m_feed->m_stream = nullptr;
    }

    LiveSourceCallbacks m_callbacks;
    CComPtr<IMFMediaEventQueue> m_events;
    CComPtr<IMFPresentationDescriptor> m_descriptor;
    CComPtr<LiveStream> m_stream;
    std::shared_ptr<LiveFeed> m_feed;
    bool m_announced = false;
    std::atomic<bool> m_shutdown{false};
};

bool LiveFeed::deliver(IMFSample *sample, qint64 steadyTime)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stream || !sample) {
        ++m_droppedAfterEnd;
        return false;
    }
    return m_stream->deliver(sample, steadyTime);
}

bool LiveFeed::deliverStamped(IMFSample *sample)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stream || !sample) {
        ++m_droppedAfterEnd;
        return false;
    }
    return m_stream->deliver(sample, -1);
}

bool LiveFeed::waitForRequest(int timeoutMs) const
{
    LiveStream *stream = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream = m_stream;
    }
    // The stream outlives this wait: end() joins the producer before it cuts the feed.
    return stream && stream->waitForRequest(timeoutMs, false);
}

bool LiveFeed::waitForRequestWhileStarted(int timeoutMs) const
{
    LiveStream *stream = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream = m_stream;
    }
    return stream && stream->waitForRequest(timeoutMs, true);
}

void LiveFeed::endOfStream()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stream)
        m_stream->QueueEvent(MEEndOfStream, GUID_NULL, S_OK, nullptr);
}

qint64 LiveFeed::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream ? m_stream->dropped() : m_droppedAfterEnd;
}

LiveSourceParts createLiveSource(IMFMediaType *type, LiveSourceCallbacks callbacks, std::size_t backlog)
{
    LiveSourceParts parts;
    if (!type)
        return parts;
    auto *impl = new LiveSourceImpl(type, std::move(callbacks), backlog);
    parts.feed = impl->feed();
    parts.source.Attach(impl);
    return parts;
}

} // namespace nyx::multimedia
