#include "multimedia/sessioncore.h"

#include "multimedia/asynccallbackfn.h"
#include "multimedia/mfmessagequeue.h"

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

HRESULT SessionCore::start(const std::vector<Route> &routes, LONGLONG position, bool hasPosition, float rate)
{
    std::vector<CComPtr<IMFMediaSink>> sinks;
    quint64 generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Sink &sink : m_sinks)
            m_missedBefore += sink.missed + heldSamples(sink);
        m_sinks.clear();
        m_outputs.clear();
        // Only the streams of this start's sources can still bring stale samples: a source left
        // out (or shut down) is forgotten, so the list never outgrows the graph.
        const auto leftOut = [&routes](const Restart &restart) {
            CComPtr<IMFMediaSource> source;
            if (FAILED(restart.stream->GetMediaSource(&source)))
                return true;
            return std::none_of(routes.begin(), routes.end(), [&](const Route &route) {
                return route.source && identityOf(route.source) == restart.source;
            });
        };
        m_restarting.erase(std::remove_if(m_restarting.begin(), m_restarting.end(), leftOut),
                           m_restarting.end());
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
        m_prerolling = false;
        m_rate = rate;
        generation = ++m_generation;
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
        // Counted before the start: its MEStreamStarted may be handled before Start returns.
        const CComPtr<IUnknown> identity = identityOf(source.first);
        const auto countStart = [&](int step) {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (Restart &restart : m_restarting)
                if (restart.source == identity)
                    restart.pendingStarts = std::max(0, restart.pendingStarts + step);
        };
        countStart(1);
        const HRESULT hr = source.first->Start(source.second, &GUID_NULL, &start);
        if (FAILED(hr)) {
            countStart(-1);
            return hr;
        }
    }
    for (const auto &source : sources)
        setSourceRate(source.first, rate);

    // Sinks that render get ready before the clock runs: after a seek they decode from the key
    // frame to the position first. A clock at rate 0 stands anyway, and live sources only (a
    // recorder's) do not seek: their samples are stamped from their start, and a held clock would
    // only delay their preview.
    const bool seeks = std::any_of(sources.begin(), sources.end(), [](const auto &source) {
        DWORD characteristics = 0;
        return SUCCEEDED(source.first->GetCharacteristics(&characteristics)) &&
               (characteristics & MFMEDIASOURCE_CAN_SEEK);
    });
    bool prerolling = false;
    if (hasPosition && rate != 0.0f && seeks) {
        std::vector<IMFMediaSink *> told;
        for (const auto &sink : sinks) {
            CComPtr<IMFMediaSinkPreroll> preroll;
            if (SUCCEEDED(sink.QueryInterface(&preroll)) && SUCCEEDED(preroll->NotifyPreroll(position)))
                told.push_back(sink);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Sink &entry : m_sinks) {
            CComPtr<IMFMediaSink> owner;
            if (SUCCEEDED(entry.sink->GetMediaSink(&owner)) &&
                std::find(told.begin(), told.end(), owner.p) != told.end()) {
                entry.prerolling = true;
                prerolling = true;
            }
        }
        m_prerolling = prerolling;
    }
    CComPtr<IMFRateControl> clockRate;
    if (SUCCEEDED(m_clock.QueryInterface(&clockRate)))
        clockRate->SetRate(FALSE, prerolling ? 0.0f : rate);
    if (prerolling) {
        std::weak_ptr<SessionCore> weak = weak_from_this();
        MFMessageQueue::schedule(
            [weak, generation] {
                // Only a preroll of this start is ended (and reported): a later start has its own.
                if (auto core = weak.lock(); core && core->endPreroll(generation))
                    qCInfo(lcSession) << "The sinks took too long to preroll: the clock runs";
                return S_OK;
            },
            PrerollTimeoutMs);
    }
    return m_clock->Start(hasPosition ? position : 0);
}

bool SessionCore::isPrerolling() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_prerolling;
}

bool SessionCore::endPreroll(quint64 generation)
{
    float rate = 1.0f;
    CComPtr<IMFPresentationClock> clock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_prerolling || generation != m_generation)
            return false;
        m_prerolling = false;
        for (Sink &sink : m_sinks)
            sink.prerolling = false;
        rate = m_rate;
        clock = m_clock;
    }
    CComPtr<IMFRateControl> clockRate;
    if (clock && SUCCEEDED(clock.QueryInterface(&clockRate)))
        clockRate->SetRate(FALSE, rate);
    return true;
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
        m_prerolling = false;
        ++m_generation;
        for (Output &output : m_outputs) {
            output.requested = 0;
            if (output.stream) {
                auto restart = std::find_if(m_restarting.begin(), m_restarting.end(),
                                            [&](const Restart &r) { return r.stream == output.stream; });
                if (restart == m_restarting.end()) {
                    Restart made;
                    made.stream = output.stream;
                    made.source = identityOf(output.source);
                    restart = m_restarting.insert(m_restarting.end(), made);
                }
                restart->stale = true;
                restart->startsToSkip = restart->pendingStarts;
            }
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
    // A hand-over under way ends soon: the sinks and the sources are stopped (a transform waiting
    // for its consumer's request gives up), and what it carries is dropped.
    std::unique_lock<std::shared_mutex> waited(m_delivering);
    return hr;
}

CComPtr<IUnknown> SessionCore::identityOf(IUnknown *object)
{
    CComPtr<IUnknown> identity;
    if (object)
        object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity));
    return identity;
}

HRESULT SessionCore::setSourceRate(IMFMediaSource *source, float rate)
{
    CComPtr<IMFRateControl> control;
    if (FAILED(MFGetService(source, MF_RATE_CONTROL_SERVICE, IID_IMFRateControl,
                            reinterpret_cast<void **>(&control))))
        return S_OK; // a source without rate control plays at its own pace
    return control->SetRate(FALSE, rate);
}

HRESULT SessionCore::setRate(float rate)
{
    std::vector<CComPtr<IMFMediaSource>> sources;
    bool prerolling = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Output &output : m_outputs)
            if (std::find(sources.begin(), sources.end(), output.source) == sources.end())
                sources.push_back(output.source);
        m_rate = rate;
        prerolling = m_prerolling;
    }
    HRESULT result = S_OK;
    for (const auto &source : sources) {
        const HRESULT hr = setSourceRate(source, rate);
        if (FAILED(hr))
            result = hr;
    }
    // A clock held for the preroll takes the rate when the preroll is over.
    CComPtr<IMFRateControl> clockRate;
    if (!prerolling && m_clock && SUCCEEDED(m_clock.QueryInterface(&clockRate)))
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
        m_restarting.clear();
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
    bool log;
    std::uint64_t covered;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_errors;
        handler = m_errorHandler;
        log = m_errorLog.failed();
        covered = m_errorLog.covered();
    }
    if (log && covered > 1)
        qCWarning(lcSession) << "Media error" << Qt::hex << static_cast<quint32>(hr) << Qt::dec << "-"
                             << covered << "errors since the last report";
    else if (log)
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
    bool prerolled = false;
    quint64 generation = 0;
    quint64 id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto entry =
            std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink &s) { return s.sink.p == sink; });
        if (entry == m_sinks.end())
            return;
        if (type == MEStreamSinkPrerolled) {
            entry->prerolling = false;
            if (!m_prerolling ||
                std::any_of(m_sinks.begin(), m_sinks.end(), [](const Sink &s) { return s.prerolling; }))
                return;
            generation = m_generation;
            prerolled = true;
        } else if (type == MEStreamSinkRequestSample) {
            ++entry->pending;
            id = entry->id;
        } else {
            return;
        }
    }
    if (prerolled) {
        endPreroll(generation);
        return;
    }
    // Held samples answer the request first; what is still wanted is asked of the source. A stop
    // waits for this hand-over as for those of the sources' samples.
    std::shared_lock<std::shared_mutex> delivering(m_delivering);
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
            std::lock_guard<std::mutex> lock(m_mutex);
            auto entry =
                std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Sink &s) { return s.id == sinkId; });
            if (entry == m_sinks.end())
                continue;
            if (hr == MF_E_INVALIDREQUEST && m_running) {
                // Not asked for by this sink: the request answered was one it made before the last
                // stop, handled only after this start, while the clock has not started the sink yet.
                // That request is spent; the sample waits for the sink's own (after a seek it is the
                // key frame the decoder needs). A request that came meanwhile is tried next.
                entry->held.push_front(sample);
                continue;
            }
            // Not taken (a sink stopping or shut down): it is lost to that sink, and counted.
            qCDebug(lcSession) << "A stream sink refused a sample" << Qt::hex << static_cast<quint32>(hr);
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
    if (type == MEStreamStarted) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Restart &restart : m_restarting) {
            if (restart.stream.p != stream)
                continue;
            restart.pendingStarts = std::max(0, restart.pendingStarts - 1);
            if (restart.startsToSkip > 0)
                --restart.startsToSkip; // a start stopped again: its samples are stale too
            else
                restart.stale = false;
        }
        return;
    }
    if (type != MEMediaSample && type != MEEndOfStream)
        return;
    std::shared_lock<std::shared_mutex> delivering(m_delivering);
    if (type == MEMediaSample) {
        // A sample read before a stop must not answer a request of the next start: a decoder
        // would take it for the first sample after the seek, and miss the key frame it asked for.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::any_of(m_restarting.begin(), m_restarting.end(),
                        [&](const Restart &r) { return r.stream.p == stream && r.stale; })) {
            qCDebug(lcSession) << "A sample from before the stop was dropped";
            return;
        }
    }
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
