#pragma once
// A one-stream media sink that renders as it goes: on clock start it asks for one sample, hands each
// sample it gets to a consumer, then asks for the next. A consumer slower than its source simply asks
// less often; the samples it did not ask for are dropped upstream (counted there), never queued here.

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
    // Called on clock stop and sink shutdown (e.g. to let a loopback output go).
    std::function<void()> stopped;
    // Called when the stream's segment ends (its source's end of stream).
    std::function<void()> endOfSegment;
};

// The returned media sink holds one reference; call Shutdown when done with it.
CComPtr<IMFMediaSink> createLiveSink(LiveSinkSpec spec);

} // namespace nyx::multimedia
