#pragma once
// A one-stream media source for live material: whoever produces (a capture thread, an encoder)
// hands it samples stamped on the steady clock; the source answers the stream's outstanding requests
// with them, restamped to presentation time, holds a bounded backlog of the samples nobody asked for
// yet, and drops (and counts) what does not fit.

#include "com/comptr.h"
#include "mf/mf.h"

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace nyx::multimedia {

class LiveStream;

struct LiveSourceCallbacks
{
    // Called from Start and Stop (on the caller's thread), and from Shutdown and the source's end:
    // the producer runs only while started, and has stopped when stopped() returns.
    std::function<void()> started;
    std::function<void()> stopped;
};

// The producer's end of a live source: safe to use from any thread, before and after the source
// itself is gone (then samples are simply dropped).
class LiveFeed
{
public:
    // Hands over a sample stamped steadyTime on the steady clock (MFGetSystemTime's time base); the
    // source answers an outstanding request with it, its time made the presentation time (the start
    // position plus the time since Start). Returns false when it was dropped (not started, or the
    // backlog was full).
    bool deliver(IMFSample *sample, qint64 steadyTime);
    // Hands over a sample that already carries its presentation time (a transform's output).
    bool deliverStamped(IMFSample *sample);
    // Waits until the stream has a request outstanding (for producers that may wait, such as a clip
    // read from a file); false after timeoutMs or when the source has ended.
    bool waitForRequest(int timeoutMs) const;
    // As waitForRequest, for a transform whose output runs only while its input does: false at once
    // while the stream is stopped, as what it would deliver then is dropped anyway. A picture made
    // as the graph stops must not hold up the stop (which waits for hand-overs under way) until the
    // timeout.
    bool waitForRequestWhileStarted(int timeoutMs) const;
    // The stream has ended (a clip's last picture was delivered): raises MEEndOfStream.
    void endOfStream();
    // Samples dropped because nobody had asked for them.
    qint64 dropped() const;

private:
    friend class LiveSourceImpl;
    mutable std::mutex m_mutex;
    LiveStream *m_stream = nullptr; // cleared when the source shuts down
    qint64 m_droppedAfterEnd = 0;
};

struct LiveSourceParts
{
    CComPtr<IMFMediaSource> source; // holds one reference
    std::shared_ptr<LiveFeed> feed;
};

// Samples a live source holds for a consumer that has not asked yet: a second of 25 fps video.
constexpr std::size_t DefaultLiveBacklog = 25;

// A live source of one stream of the given media type. It holds up to backlog samples that nobody
// has asked for yet (handed out oldest first on the next requests); beyond that it drops them,
// counted in LiveFeed::dropped() and logged once per overflow.
LiveSourceParts createLiveSource(IMFMediaType *type, LiveSourceCallbacks callbacks,
                                 std::size_t backlog = DefaultLiveBacklog);

} // namespace nyx::multimedia
