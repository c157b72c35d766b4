#pragma once
// The working part of a MediaSession: the clock, the routes from source streams to stream sinks,
// and the event handlers that move samples. Its handlers run on Media Foundation work queues.

#include "com/comptr.h"
#include "logging/logthrottle.h"
#include "mf/mf.h"

#include <QtGlobal>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace nyx::multimedia {
class SessionCore : public std::enable_shared_from_this<SessionCore>
{
public:
    // One connection: a stream of a media source feeding a stream sink with a media type.
    struct Route
    {
        CComPtr<IMFMediaSource> source;
        CComPtr<IMFPresentationDescriptor> descriptor;
        DWORD streamId = 0;
        CComPtr<IMFStreamSink> sink;
        CComPtr<IMFMediaType> type;
    };

    SessionCore();
    ~SessionCore();

    // Sets the sinks' types and clock, starts the sources at the rate, then the clock at position
    // (100 ns). A start at a position of a session with a seekable source at a rate above 0 holds
    // the clock at the position (rate 0) until every sink that can preroll holds its first frame
    // there (MEStreamSinkPrerolled) or PrerollTimeoutMs have passed: decoding from the key frame
    // before the position takes a moment, and a clock that ran meanwhile would make the first
    // frames late.
    HRESULT start(const std::vector<Route> &routes, LONGLONG position, bool hasPosition, float rate);
    HRESULT pause();
    // Stops the clock (the sinks write what they hold and stop) and the sources.
    HRESULT stop();
    HRESULT setRate(float rate);
    // Whether the clock is held for the sinks' preroll.
    bool isPrerolling() const;

    static constexpr int PrerollTimeoutMs = 3000;
    // Stops and leaves the sinks without a clock.
    void shutdown();

    qint64 missedSamples() const;
    int sinkErrors() const;
    // Called on a work-queue thread for every error a sink or source raises.
    void setErrorHandler(std::function<void(HRESULT)> handler);

private:
    // Samples a sink may be behind its output: what arrives while its next request is still on its
    // way is held and handed over when the request comes, so that a sink that shares its source
    // with an eager one (a recorder beside a preview) loses nothing to that race.
    static constexpr std::size_t HeldLimit = 8;

    struct Sink
    {
        CComPtr<IMFStreamSink> sink;
        std::size_t output = 0;
        int pending = 0; // requests the sink has outstanding
        qint64 missed = 0;
        // Samples (a null one stands for the end-of-segment marker) waiting for the sink's requests.
        std::deque<CComPtr<IMFSample>> held;
        bool overflowing = false;
        // One thread at a time hands the held samples over, so that they keep their order.
        bool delivering = false;
        quint64 id = 0;          // tells this entry from those of a later start
        bool prerolling = false; // its MEStreamSinkPrerolled is awaited
    };
    struct Output
    {
        CComPtr<IMFMediaSource> source;
        DWORD streamId = 0;
        CComPtr<IMFMediaStream> stream;
        int requested = 0; // requests asked of the source stream and not yet answered
        std::vector<std::size_t> sinks;
    };

    // Samples in the sink's held queue (markers not counted).
    static qint64 heldSamples(const Sink &sink);
    void listen(IMFMediaEventGenerator *generator, std::function<void(IMFMediaEvent *)> handler);
    void onSinkEvent(IMFStreamSink *sink, IMFMediaEvent *event);
    void onSourceEvent(IMFMediaSource *source, IMFMediaEvent *event);
    void onStreamEvent(IMFMediaStream *stream, IMFMediaEvent *event);
    // A source stream changed its media type: its stream sinks take the new one.
    void onFormatChanged(IMFMediaStream *stream, IMFMediaEvent *event);
    // Under the lock: the source streams to ask for one more sample each.
    void collectRequests(Output &output, std::vector<CComPtr<IMFMediaStream>> *requests);
    static void issue(const std::vector<CComPtr<IMFMediaStream>> &requests);
    // Hands the sink's held samples over as far as its requests go, in order, outside the lock.
    // Never waits: a thread that finds another delivering leaves the new request to it.
    void deliverHeld(quint64 sinkId);
    void reportError(HRESULT hr);
    static HRESULT setSourceRate(IMFMediaSource *source, float rate);
    // The object's IUnknown, which tells two interface pointers of one object apart from others.
    static CComPtr<IUnknown> identityOf(IUnknown *object);
    // Lets the clock run at the session's rate once the preroll of that start is over.
    // False when that start's preroll was over already (or a later start came).
    bool endPreroll(quint64 generation);
    std::vector<CComPtr<IMFMediaSink>> mediaSinks() const;

    mutable std::mutex m_mutex;
    bool m_running = false;
    float m_rate = 1.0f;
    bool m_prerolling = false;
    // A stream stopped by the session: the samples it still had queued for the requests of before
    // the stop are stale until the MEStreamStarted of the start after the last stop. Starts issued
    // and stopped again before their MEStreamStarted came (seeks in quick succession) are skipped.
    struct Restart
    {
        CComPtr<IMFMediaStream> stream;
        CComPtr<IUnknown> source; // its identity
        bool stale = true;
        int pendingStarts = 0; // Start calls whose MEStreamStarted has not come yet
        int startsToSkip = 0;  // of those, the ones stopped again
    };
    std::vector<Restart> m_restarting;
    // Held shared while samples are handed to sinks; stop() waits for the hand-overs under way, so
    // that none of the stopped run reaches a sink after the next start.
    std::shared_mutex m_delivering;
    quint64 m_generation = 0; // counts starts and stops, so a late preroll timeout does nothing
    std::vector<Sink> m_sinks;
    std::vector<Output> m_outputs;
    CComPtr<IMFPresentationClock> m_clock;
    qint64 m_missedBefore = 0;
    quint64 m_nextSinkId = 0;
    int m_errors = 0;
    // A sink that fails every sample (a full disk) logs its first error, then a line a second.
    nyx::logging::LogThrottle m_errorLog;
    std::function<void(HRESULT)> m_errorHandler;
};
} // namespace nyx::multimedia
