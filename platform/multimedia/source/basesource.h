#pragma once
// The media source base of the media library: a set of source streams behind one presentation
// descriptor, the source events (MENewStream, MEUpdatedStream, MESourceStarted, MESourceStopped,
// MESourcePaused, MEEndOfPresentation) and one serial queue on which every state change and every
// ProduceData of its streams runs, so that they never overlap.

#include "multimedia/criticalsection.h"
#include "multimedia/cunknown.h"
#include "multimedia/source/isource.h"

#include <memory>
#include <vector>

class CBaseSource : public IMFMediaSourceEx, public nyx::ISource, public CUnknown
{
public:
    CBaseSource(HRESULT &hr, DWORD characteristics, const char *name = "CBaseSource");
    ~CBaseSource() override;

    NYX_DECLARE_IUNKNOWN(IMFMediaSourceEx)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    // Initialises the streams and builds the presentation descriptor (every stream selected).
    HRESULT Initialize(const std::vector<std::shared_ptr<nyx::ISourceStream>> &streams);

    // IMFMediaEventGenerator
    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override;
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                       const PROPVARIANT *value) override;
    // IMFMediaSource
    HRESULT GetCharacteristics(DWORD *characteristics) override;
    HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor **descriptor) override;
    // The streams start on the source's queue; a stream that fails to start (a failed seek) fails
    // the whole start, which then starts nothing.
    HRESULT Start(IMFPresentationDescriptor *descriptor, const GUID *timeFormat,
                  const PROPVARIANT *start) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Shutdown() override;
    // IMFMediaSourceEx
    HRESULT GetSourceAttributes(IMFAttributes **attributes) override;
    HRESULT GetStreamAttributes(DWORD streamIdentifier, IMFAttributes **attributes) override;
    HRESULT SetD3DManager(IUnknown *manager) override;
    // nyx::ISource
    HRESULT Disable() override;
    const nyx::MFMessageQueue &messageQueue() const override { return m_queue; }
    void onStreamEnded(nyx::ISourceStream *stream) override;

    bool isShutdown() const;

protected:
    // Runs the function on the source's queue and waits for its result.
    HRESULT runOnQueue(std::function<HRESULT()> function);
    std::vector<std::shared_ptr<nyx::ISourceStream>> streams() const;
    HRESULT checkShutdown() const;

private:
    HRESULT startOnQueue(IMFPresentationDescriptor *descriptor, const PROPVARIANT &start);

    mutable CriticalSection m_lock;
    DWORD m_characteristics;
    nyx::MFMessageQueue m_queue;
    CComPtr<IMFMediaEventQueue> m_events;
    CComPtr<IMFPresentationDescriptor> m_descriptor;
    std::vector<std::shared_ptr<nyx::ISourceStream>> m_streams;
    std::vector<DWORD> m_active;      // ids of the streams the latest start selected
    std::vector<DWORD> m_everStarted; // ids announced with MENewStream
    std::vector<DWORD> m_ended;
    bool m_started = false;
    bool m_disabled = false;
    bool m_shutdown = false;
};

// A source that supports forward rates within a range, without thinning, through IMFRateSupport,
// IMFRateControl and IMFGetService (MF_RATE_CONTROL_SERVICE).
class CBaseSourceWithRateSupport : public CBaseSource,
                                   public IMFRateSupport,
                                   public IMFRateControl,
                                   public IMFGetService
{
public:
    CBaseSourceWithRateSupport(HRESULT &hr, DWORD characteristics,
                               const char *name = "CBaseSourceWithRateSupport");

    NYX_DECLARE_IUNKNOWN(IMFMediaSourceEx)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    void setSupportedRateRange(float slowest, float fastest);

    // IMFRateSupport
    HRESULT GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float *rate) override;
    HRESULT GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float *rate) override;
    HRESULT IsRateSupported(BOOL thin, float rate, float *nearest) override;
    // IMFRateControl: every stream gets the rate, then MESourceRateChanged (value VT_R8).
    HRESULT SetRate(BOOL thin, float rate) override;
    HRESULT GetRate(BOOL *thin, float *rate) override;
    // IMFGetService
    HRESULT GetService(REFGUID service, REFIID riid, LPVOID *object) override;

private:
    float m_slowest = 1.0f;
    float m_fastest = 1.0f;
    float m_rate = 1.0f;
};
