#pragma once
// The media stream of a CBaseSource. Derived streams produce samples (ProduceData) and describe
// their media types; this class does the Media Foundation side: the stream descriptor, the events
// (MEStreamStarted, MEMediaSample, MEEndOfStream, MEStreamTick for gaps) and the requests, which
// its request manager turns into ProduceData calls on the source's queue.

#include "multimedia/criticalsection.h"
#include "multimedia/cunknown.h"
#include "multimedia/source/isource.h"

#include <vector>

// A derived stream shuts its request manager down first thing in its destructor, before its own
// members (the pool, the reader) go: no ProduceData runs after that.
class CBaseSourceStream : public IMFMediaStream, public CUnknown, public nyx::ISourceStream
{
public:
    CBaseSourceStream(nyx::ISource *source, DWORD id,
                      std::shared_ptr<nyx::ISampleRequestManager> requestManager);
    ~CBaseSourceStream() override;

    NYX_DECLARE_IUNKNOWN(IMFMediaStream)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    // IMFMediaEventGenerator
    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override;
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                       const PROPVARIANT *value) override;
    // IMFMediaStream
    HRESULT GetMediaSource(IMFMediaSource **source) override;
    HRESULT GetStreamDescriptor(IMFStreamDescriptor **descriptor) override;
    HRESULT RequestSample(IUnknown *token) override;

    // The slots derived streams override, in this order.
    HRESULT Start(const PROPVARIANT &start) override;
    // Builds the stream descriptor from GetAvailableTypes, else from CreateMediaType for every
    // subtype of GetSupportedFormats; the first type is the current one.
    HRESULT Initialize() override;
    HRESULT Uninitialize() override;
    virtual HRESULT GetDuration(UINT64 *duration);
    HRESULT SetRate(float rate) override;
    HRESULT ProduceData(IMFSample **out) override = 0;
    // MEEndOfStream, once until the next start.
    virtual HRESULT NotifyEndOfStream();
    // MEStreamTick: no data at that time.
    virtual HRESULT NotifyGap(LONGLONG time);
    virtual HRESULT CreateMediaType(const GUID &subtype, IMFMediaType **out);
    virtual std::vector<GUID> GetSupportedFormats();
    virtual HRESULT GetAvailableTypes(std::vector<CComPtr<IMFMediaType>> &types);

    // nyx::ISourceStream
    IMFMediaStream *mediaStream() override { return this; }
    DWORD streamId() const override { return m_id; }
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Shutdown() override;
    void Disable() override;
    bool canProduce() const override;
    HRESULT deliverSample(IMFSample *sample, IUnknown *token) override;
    HRESULT queueStreamEvent(MediaEventType type, HRESULT status, const PROPVARIANT *value) override;
    HRESULT applyMediaType(IMFMediaType *type) override;

    bool isEndOfStream() const;
    float rate() const;

protected:
    nyx::ISampleRequestManager *requestManager() const { return m_requestManager.get(); }
    nyx::ISource *source() const { return m_source; }

private:
    enum class State
    {
        Stopped,
        Started,
        Paused
    };

    nyx::ISource *m_source;
    const DWORD m_id;
    std::shared_ptr<nyx::ISampleRequestManager> m_requestManager;
    CComPtr<IMFMediaEventQueue> m_events;
    mutable CriticalSection m_lock;
    CComPtr<IMFStreamDescriptor> m_descriptor;
    State m_state = State::Stopped;
    bool m_endOfStream = false;
    bool m_errorRaised = false;
    bool m_disabled = false;
    bool m_shutdown = false;
    float m_rate = 1.0f;
};
