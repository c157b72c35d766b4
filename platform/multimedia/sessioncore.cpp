#include "multimedia/sessioncore.h"

#include "multimedia/asynccallbackfn.h"

#include <QLoggingCategory>
#include <algorithm>

Q_LOGGING_CATEGORY(lcSession, "Multimedia.MediaSession")

namespace nyx::multimedia {
SessionCore::SessionCore() = default;

SessionCore::~SessionCore() = default;

void SessionCore::setErrorHandler(std::function<void(HRESULT)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errorHandler = std::move(handler);
}

qint64 SessionCore::heldSamples(const Sink &sink)
{
    return std::count_if(sink.held.begin(), sink.held.end(),
                         [](const CComPtr<IMFSample> &s) { return bool(s); });
}

qint64 SessionCore::missedSamples() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    qint64 missed = m_missedBefore;
    for (const Sink &sink : m_sinks)
        missed += sink.missed;
    return missed;
}

int SessionCore::sinkErrors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

std::vector<CComPtr<IMFMediaSink>> SessionCore::mediaSinks() const
{
    std::vector<CComPtr<IMFMediaSink>> sinks;
    for (const Sink &entry : m_sinks) {
        CComPtr<IMFMediaSink> sink;
        if (SUCCEEDED(entry.sink->GetMediaSink(&sink)) &&
            std::find(sinks.begin(), sinks.end(), sink) == sinks.end())
            sinks.push_back(sink);
    }
    return sinks;
}

void SessionCore::listen(IMFMediaEventGenerator *generator, std::function<void(IMFMediaEvent *)> handler)
{
    CComPtr<IMFMediaEventGenerator> held(generator);
    std::weak_ptr<SessionCore> weak = weak_from_this();
    auto callback = nyx::createCallback([weak, held, handler](IMFAsyncResult *result) -> HRESULT {
        CComPtr<IMFMediaEvent> event;
        const HRESULT hr = held->EndGetEvent(result, &event);
        auto core = weak.lock();
        // A shut-down generator or a gone session ends the loop.
        if (FAILED(hr) || !core)
            return S_OK;
        handler(event);
        core->listen(held, handler);
        return S_OK;
    });
    // MF_E_MULTIPLE_BEGIN: our loop from an earlier start is still waiting on this generator.
    const HRESULT hr = generator->BeginGetEvent(callback, nullptr);
    if (FAILED(hr) && hr != MF_E_MULTIPLE_BEGIN)
        qCDebug(lcSession) << "BeginGetEvent failed" << Qt::hex << hr;
}

HRESULT SessionCore::start(const std::vector<Route> &routes, LONGLONG position, bool hasPosition)
{
    std::vector<CComPtr<IMFMediaSink>> sinks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Sink &sink : m_sinks)
            m_missedBefore += sink.missed + heldSamples(sink);
        m_sinks.clear();
        m_outputs.clear();
        for (const Route &route : routes) {
            if (!route.source || !route.sink)
                continue;
            auto output = std::find_if(m_outputs.begin(), m_outputs.end(), [&](const Output &o) {
                return o.source.p == route.source.p && o.streamId == route.streamId;
            });
            if (output == m_outputs.end()) {
                Output made;
                made.source = route.source;
                made.streamId = route.streamId;
                output = m_outputs.insert(m_outputs.end(), made);
            }
            Sink sink;
            sink.sink = route.sink;
            sink.id = ++m_nextSinkId;
            sink.output = static_cast<std::size_t>(output - m_outputs.begin());
            output->sinks.push_back(m_sinks.size());
            m_sinks.push_back(sink);
        }
        sinks = mediaSinks();
        m_running = false;
    }

    // The stream sinks take the connected types (a sink keeps an equal type as it is).
    for (const Route &route : routes) {
        CComPtr<IMFMediaTypeHandler> handler;
        if (route.sink && route.type && SUCCEEDED(route.sink->GetMediaTypeHandler(&handler))) {
            const HRESULT hr = handler->SetCurrentMediaType(route.type);
            if (FAILED(hr))
                return hr;
        }
    }

    if (!m_clock) {
        CComPtr<IMFPresentationTimeSource> timeSource;
        HRESULT hr = MFCreatePresentationClock(&m_clock);
        if (SUCCEEDED(hr))
            hr = MFCreateSystemTimeSource(&timeSource);
        if (SUCCEEDED(hr))
            hr = m_clock->SetTimeSource(timeSource);
        if (FAILED(hr)) {
            m_clock = nullptr;
            return hr;
        }
    }
    for (const auto &sink : sinks) {
        const HRESULT hr = sink->SetPresentationClock(m_clock);
        if (FAILED(hr))
            return hr;
    }

    // Event loops: sinks ask for samples, sources announce their streams.
    std::vector<std::pair<CComPtr<IMFMediaSource>, CComPtr<IMFPresentationDescriptor>>> sources;
    for (const Route &route : routes) {
        if (!route.source || !route.sink)
            continue;
        IMFStreamSink *sink = route.sink;
        listen(sink, [this, sink](IMFMediaEvent *event) { onSinkEvent(sink, event); });
        if (std::none_of(sources.begin(), sources.end(),
                         [&](const auto &s) { return s.first.p == route.source.p; }))
            sources.emplace_back(route.source, route.descriptor);
    }
    for (const auto &source : sources) {
        IMFMediaSource *raw = source.first;
        listen(raw, [this, raw](IMFMediaEvent *event) { onSourceEvent(raw, event); });
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }

    PROPVARIANT start;
    PropVariantInit(&start);
    if (hasPosition) {
        start.vt = VT_I8;
        start.hVal.QuadPart = position;
    }
    for (const auto &source : sources) {
        const HRESULT hr = source.first->Start(source.second, &GUID_NULL, &start);
        if (FAILED(hr))
            return hr;
    }
    return m_clock->Start(hasPosition ? position : 0);
}

HRESULT SessionCore::pause()
{
    std::vector<CComPtr<IMFMediaSource>> sources;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Output &output : m_outputs)
            if (std::find(sources.begin(), sources.end(), output.source) == sources.end())
                sources.push_back(output.source);
    }
    HRESULT hr = m_clock ? m_clock->Pause() : MF_E_NO_CLOCK;
    for (const auto &source : sources)
        source->Pause();
    return hr;
}

HRESULT SessionCore::stop()
{
    std::vector<CComPtr<IMFMediaSource>> sources;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        for (Output &output : m_outputs) {
            output.requested = 0;
            if (std::find(sources.begin(), sources.end(), output.source) == sources.end())
                sources.push_back(output.source);
        }
        for (Sink &sink : m_sinks) {
            sink.pending = 0;
            // What a sink had not asked for by the stop never reaches it.
            sink.missed += heldSamples(sink);
            sink.held.clear();
        }
    }
    // The sinks write what they hold and report MEStreamSinkStopped.
    const HRESULT hr = m_clock ? m_clock->Stop() : S_OK;
    for (const auto &source : sources)
        source->Stop();
    return hr;
}

HRESULT SessionCore::setRate(float rate)
{
    std::vector<CComPtr<IMFMediaSource>> sources;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Output &output : m_outputs)
            if (std::find(sources.begin(), sources.end(), output.source) == sources.end())
                sources.push_back(output.source);
    }
    HRESULT result = S_OK;
    for (const auto &source : sources) {
        CComPtr<IMFRateControl> control;
        if (SUCCEEDED(MFGetService(source, MF_RATE_CONTROL_SERVICE, IID_IMFRateControl,
                                   reinterpret_cast<void **>(&control)))) {
            const HRESULT hr = control->SetRate(FALSE, rate);
            if (FAILED(hr))
                result = hr;
        }
    }
    CComPtr<IMFRateControl> clockRate;
    if (m_clock && SUCCEEDED(m_clock.QueryInterface(&clockRate)))
        clockRate->SetRate(FALSE, rate);
    return result;
}

void SessionCore::shutdown()
{
    stop();
    std::vector<CComPtr<IMFMediaSink>> sinks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sinks = mediaSinks();
        m_sinks.clear();
        m_outputs.clear();
    }
    // The clock holds the sinks as state sinks and the sinks hold the clock.
    for (const auto &sink : sinks)
        sink->SetPresentationClock(nullptr);
    m_clock = nullptr;
}

void SessionCore::collectRequests(Output &output, std::vector<CComPtr<IMFMediaStream>> *requests)
{
    if (!m_running || !output.stream)
        return;
    int wanted = 0;
    for (std::size_t index : output.sinks)
        wanted = std::max(wanted, m_sinks[index].pending);
    // Never more than the most eager sink asked for.
    while (output.requested < wanted) {
        ++output.requested;
        requests->push_back(output.stream);
    }
}

void SessionCore::issue(const std::vector<CComPtr<IMFMediaStream>> &requests)
{
    for (const auto &stream : requests)
        stream->RequestSample(nullptr);
}

void SessionCore::reportError(HRESULT hr)
{
    std::function<void(HRESULT)> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_errors;
        handler = m_errorHandler;
    }
    qCWarning(lcSession) << "Media error" << Qt::hex << static_cast<quint32>(hr);
    if (handler)
        handler(hr);
}

void SessionCore::onSinkEvent(IMFStreamSink *sink, IMFMediaEvent *event)
{
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    event->GetType(&type);
    event->GetStatus(&status);
    if (type == MEError || FAILED(status)) {
        // A flushed marker reports E_ABORT: that is no error of the recording.
        if (!(type == MEStreamSinkMarker && status == E_ABORT))
            reportError(FAILED(status) ? status : E_FAIL);
        return;
    }
    quint64 id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto entry =
            std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink &s) { return s.sink.p == sink; });
        if (entry == m_sinks.end())
            return;
        if (type != MEStreamSinkRequestSample)
            return;
        ++entry->pending;
        id = entry->id;
    }
    // Held samples answer the request first; what is still wanted is asked of the source.
    deliverHeld(id);
}

void SessionCore::deliverHeld(quint64 sinkId)
{
    bool first = true;
    for (;;) {
        CComPtr<IMFStreamSink> sink;
        CComPtr<IMFSample> sample;
        std::vector<CComPtr<IMFMediaStream>> requests;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto entry =
                std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink &s) { return s.id == sinkId; });
            if (entry == m_sinks.end())
                return;
            if (first && entry->delivering)
                return; // the thread delivering sees what changed when it looks again
            first = false;
            entry->delivering = true;
            const bool marker = !entry->held.empty() && !entry->held.front();
            if (entry->held.empty() || (!marker && entry->pending <= 0)) {
                // Decided under the lock together with the flag: a later request delivers itself.
                entry->delivering = false;
                if (entry->held.empty())
                    entry->overflowing = false;
                collectRequests(m_outputs[entry->output], &requests);
            } else {
                sample = entry->held.front();
                entry->held.pop_front();
                if (!marker)
                    --entry->pending;
                sink = entry->sink;
            }
        }
        if (!sink) {
            issue(requests);
            return;
        }
        const HRESULT hr = sample ? sink->ProcessSample(sample)
                                  : sink->PlaceMarker(MFSTREAMSINK_MARKER_ENDOFSEGMENT, nullptr, nullptr);
        if (FAILED(hr) && sample) {
            // Not taken (a sink stopping or shut down): it is lost to that sink, and counted.
            qCDebug(lcSession) << "A stream sink refused a sample" << Qt::hex << static_cast<quint32>(hr);
            std::lock_guard<std::mutex> lock(m_mutex);
            auto entry =
                std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink &s) { return s.id == sinkId; });
            if (entry != m_sinks.end())
                ++entry->missed;
        }
    }
}

void SessionCore::onSourceEvent(IMFMediaSource *source, IMFMediaEvent *event)
{
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    event->GetType(&type);
    event->GetStatus(&status);
    if (type == MEError || FAILED(status)) {
        reportError(FAILED(status) ? status : E_FAIL);
        return;
    }
    if (type != MENewStream && type != MEUpdatedStream)
        return;
    PROPVARIANT value;
    PropVariantInit(&value);
    CComPtr<IMFMediaStream> stream;
    if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal)
        value.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void **>(&stream));
    PropVariantClear(&value);
    CComPtr<IMFStreamDescriptor> descriptor;
    DWORD id = 0;
    if (!stream || FAILED(stream->GetStreamDescriptor(&descriptor)) ||
        FAILED(descriptor->GetStreamIdentifier(&id)))
        return;
    if (type == MENewStream) {
        IMFMediaStream *raw = stream;
        listen(raw, [this, raw](IMFMediaEvent *e) { onStreamEvent(raw, e); });
    }
    std::vector<CComPtr<IMFMediaStream>> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Output &output : m_outputs) {
            if (output.source.p == source && output.streamId == id) {
                output.stream = stream;
                output.requested = 0;
                collectRequests(output, &requests);
            }
        }
    }
    issue(requests);
}

void SessionCore::onStreamEvent(IMFMediaStream *stream, IMFMediaEvent *event)
{
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    event->GetType(&type);
    event->GetStatus(&status);
    if (type == MEError || FAILED(status)) {
        reportError(FAILED(status) ? status : E_FAIL);
        return;
    }
    if (type == MEStreamFormatChanged) {
        onFormatChanged(stream, event);
        return;
    }
    if (type != MEMediaSample && type != MEEndOfStream)
        return;
    CComPtr<IMFSample> sample;
    if (type == MEMediaSample) {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal)
            value.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&sample));
        PropVariantClear(&value);
        if (!sample)
            return;
    }
    std::vector<quint64> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Output &output : m_outputs) {
            if (output.stream.p != stream)
                continue;
            if (type == MEMediaSample)
                output.requested = std::max(0, output.requested - 1);
            for (std::size_t index : output.sinks) {
                Sink &sink = m_sinks[index];
                if (type == MEMediaSample && !m_running) {
                    ++sink.missed;
                    continue;
                }
                // Every sample goes through the sink's held queue, so that it reaches the sink after
                // the ones held before it.
                if (type == MEMediaSample) {
                    if (heldSamples(sink) >= qint64(HeldLimit)) {
                        // A sink this far behind (a stalled preview) loses its oldest sample, so that
                        // a slow sink never slows the others.
                        auto oldest = std::find_if(sink.held.begin(), sink.held.end(),
                                                   [](const auto &s) { return bool(s); });
                        sink.held.erase(oldest);
                        ++sink.missed;
                        if (!sink.overflowing)
                            qCWarning(lcSession,
                                      "A stream sink is %d samples behind its source: it loses "
                                      "samples until it catches up",
                                      int(HeldLimit));
                        sink.overflowing = true;
                    }
                }
                sink.held.emplace_back(sample);
                targets.push_back(sink.id);
            }
        }
    }
    for (const auto &target : targets)
        deliverHeld(target);
}
void SessionCore::onFormatChanged(IMFMediaStream *stream, IMFMediaEvent *event)
{
    // The stream's events come one at a time: the sinks have the new type before the sample that
    // needs it arrives.
    PROPVARIANT value;
    PropVariantInit(&value);
    CComPtr<IMFMediaType> type;
    if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal)
        value.punkVal->QueryInterface(IID_IMFMediaType, reinterpret_cast<void **>(&type));
    PropVariantClear(&value);
    if (!type)
        return;
    std::vector<CComPtr<IMFStreamSink>> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Output &output : m_outputs)
            if (output.stream.p == stream)
                for (std::size_t index : output.sinks)
                    targets.push_back(m_sinks[index].sink);
    }
    for (const auto &sink : targets) {
        CComPtr<IMFMediaTypeHandler> handler;
        const HRESULT hr = SUCCEEDED(sink->GetMediaTypeHandler(&handler)) ? handler->SetCurrentMediaType(type)
                                                                          : E_NOINTERFACE;
        if (FAILED(hr))
            reportError(hr);
    }
}
} // namespace nyx::multimedia
