#pragma once
// The source side of the media library: what a media source and its streams tell each other, the
// sample request manager that turns RequestSample into ProduceData on the stream's queue, and the
// sample pool the streams fill.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/mfmessagequeue.h"

#include <functional>
#include <memory>
#include <vector>

namespace nyx {
class ISourceStream;

// {AB207FA4-6AB9-4FD0-A216-241303C722DB}
constexpr IID IID_ISource = {0xAB207FA4, 0x6AB9, 0x4FD0, {0xA2, 0x16, 0x24, 0x13, 0x03, 0xC7, 0x22, 0xDB}};

// A media source built on CBaseSource, as its streams and the graph nodes see it. The object also
// answers IMFMediaSource.
struct ISource : public IUnknown
{
    // A source being replaced: its streams answer no more requests and it cannot be started again.
    virtual HRESULT Disable() = 0;
    // The serial queue the source's streams work on.
    virtual const MFMessageQueue &messageQueue() const = 0;
    // Called by a stream that has signalled its end of stream.
    virtual void onStreamEnded(ISourceStream *stream) = 0;
};

// The working side of a source stream, as the source and the request manager call it.
class ISourceStream
{
public:
    virtual ~ISourceStream() = default;

    // The stream's COM face; no reference is added.
    virtual IMFMediaStream *mediaStream() = 0;
    virtual DWORD streamId() const = 0;

    virtual HRESULT Initialize() = 0;
    virtual HRESULT Uninitialize() = 0;
    virtual HRESULT Start(const PROPVARIANT &start) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT SetRate(float rate) = 0;
    virtual HRESULT Shutdown() = 0;
    virtual void Disable() = 0;
    // One sample for one request; S_OK without a sample when none can be given now.
    virtual HRESULT ProduceData(IMFSample **out) = 0;

    // Started, not at its end, not disabled or shut down: requests are served.
    virtual bool canProduce() const = 0;
    // Queues MEMediaSample for a produced sample (token: the request's, may be null).
    virtual HRESULT deliverSample(IMFSample *sample, IUnknown *token) = 0;
    // Queues an event on the stream (MEError at most once per start).
    virtual HRESULT queueStreamEvent(MediaEventType type, HRESULT status, const PROPVARIANT *value) = 0;
    // Makes type the stream's current media type and announces it (MEStreamFormatChanged).
    virtual HRESULT applyMediaType(IMFMediaType *type) = 0;
};

// Serves a stream's sample requests one at a time on the stream's queue.
class ISampleRequestManager
{
public:
    virtual ~ISampleRequestManager() = default;
    virtual HRESULT RequestSample(IUnknown *token) = 0;
    // Tries the outstanding requests again (a sample came back to the pool, a gap was stepped).
    virtual HRESULT ServeRequests() = 0;
    // The same after delayMs milliseconds (nothing once the manager is shut down).
    virtual HRESULT ServeRequestsLater(qint64 delayMs) = 0;
    // The stream's media type changed before the sample about to be delivered.
    virtual HRESULT SetMediaType(IMFMediaType *type) = 0;
    // Forgets the outstanding requests (stop, seek).
    virtual void Clear() = 0;
    virtual int outstanding() const = 0;
    // No ProduceData runs after this returns (it waits for one that is running).
    virtual void Shutdown() = 0;
    // The queue the requests are served on.
    virtual const MFMessageQueue &queue() const = 0;
};

// queue null: a serial queue of the manager's own. reserved must be null.
std::shared_ptr<ISampleRequestManager>
createSampleRequestManager(ISourceStream *stream, const MFMessageQueue *queue, IUnknown *reserved);

// Up to count samples that return to the pool when their last reference goes; a returned sample
// keeps its buffer but loses its attributes, time and duration, and callback runs after it came back.
class IFlexibleSamplePool
{
public:
    virtual ~IFlexibleSamplePool() = default;
    // A sample with one buffer of at least size bytes (current length 0);
    // MF_E_SAMPLEALLOCATOR_EMPTY while all samples are out.
    virtual HRESULT GetSample(DWORD size, IMFSample **sample) = 0;
    virtual int outstanding() const = 0;
};

// The pool belongs to owner's stream; samples may outlive both. callback never runs once the
// pool is destroyed.
std::unique_ptr<IFlexibleSamplePool> createFlexibleSamplePool(IUnknown *owner, std::function<void()> callback,
                                                              DWORD count);

// Makes a source stream held by shared pointers: the pointers share one COM reference.
template <class T, class... Args> std::shared_ptr<T> makeSourceStream(Args &&...args)
{
    T *stream = new T(std::forward<Args>(args)...);
    stream->AddRef();
    return std::shared_ptr<T>(stream, [](T *s) { s->Release(); });
}
} // namespace nyx

NYX_DECLARE_IID(nyx::ISource, nyx::IID_ISource)
