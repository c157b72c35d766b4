#pragma once
// A one-stream media sink that renders as it goes: on clock start it asks for one sample, hands each
// sample it gets to a consumer, then asks for the next (or, paced, presents at the clock's time). A consumer
// slower than its source simply asks less often; the samples it did not ask for are dropped upstream (counted
// there), never queued here.

#include "com/comptr.h"
#include "mf/mf.h"

#include <functional>

namespace nyx::multimedia {

struct LiveSinkSpec
{
    GUID majorType = MFMediaType_Video;
    GUID subtype = GUID_NULL; // GUID_NULL: any subtype of the major type
    // Called on the session's work-queue thread for each sample, one at a time, with the stream's
    // current media type. A failure is raised as MEError.
    std::function<HRESULT(IMFSample *sample, IMFMediaType *type)> consume;
    // A rendering sink: each sample is consumed when the presentation clock reaches its time, holding
    // at most `buffered` samples and asking for the next only when one has left. While the clock's
    // rate is 0 its time stands, so the frame at that time shows and stays until the clock moves or
    // starts again. A sample whose time has passed while the next one is due as well is dropped
    // (lateDropped), never queued. Consumption then runs on the sink's own presenter thread.
    // Otherwise samples are consumed as fast as they come.
    //
    // A start at a position (a seek) begins at the key frame before it: the samples before the frame
    // at the position (the last one that begins at or before it) are decoded for the ones after them
    // but never shown (prerollDropped); the frame at the position shows even when it is late, and
    // on a standing clock even when the recording has a gap there. A paced sink also answers
    // IMFMediaSinkPreroll: told of the coming start, it raises MEStreamSinkPrerolled once it holds
    // that first sample (or its stream ended), so that the session can hold the clock until then.
    bool paced = false;
    int buffered = 2; // at least 2 when paced
    std::function<void()> lateDropped;
    std::function<void()> prerollDropped;
    // Called with the clock's rate when the sink starts and whenever the rate changes (on the
    // clock's thread), e.g. to decode less at a fast rate.
    std::function<void(float rate)> rateChanged;
    // Called on clock stop and sink shutdown (e.g. to let a loopback output go).
    std::function<void()> stopped;
    // Called when the stream's segment ends (its source's end of stream).
    std::function<void()> endOfSegment;
};

// The returned media sink holds one reference; call Shutdown when done with it.
CComPtr<IMFMediaSink> createLiveSink(LiveSinkSpec spec);

} // namespace nyx::multimedia
