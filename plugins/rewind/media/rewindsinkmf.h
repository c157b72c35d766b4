#pragma once
// The archive media sink: a rateless media sink with exactly one stream sink, which writes the
// samples of one media stream into an archive stream.

#include "archive/irewindserver.h"
#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/criticalsection.h"
#include "multimedia/cunknown.h"

#include <QString>

#include <memory>

class RewindSinkStream;

class RewindSinkMF : public IMFMediaSink, public IMFClockStateSink, public CUnknown
{
public:
    RewindSinkMF();
    ~RewindSinkMF() override;

    NYX_DECLARE_IUNKNOWN(IMFMediaSink)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    // IMFMediaSink
    HRESULT GetCharacteristics(DWORD *characteristics) override;
    HRESULT AddStreamSink(DWORD identifier, IMFMediaType *type, IMFStreamSink **sink) override;
    HRESULT RemoveStreamSink(DWORD identifier) override;
    HRESULT GetStreamSinkCount(DWORD *count) override;
    HRESULT GetStreamSinkByIndex(DWORD index, IMFStreamSink **sink) override;
    HRESULT GetStreamSinkById(DWORD identifier, IMFStreamSink **sink) override;
    HRESULT SetPresentationClock(IMFPresentationClock *clock) override;
    HRESULT GetPresentationClock(IMFPresentationClock **clock) override;
    HRESULT Shutdown() override;

    // IMFClockStateSink
    HRESULT OnClockStart(MFTIME systemTime, LONGLONG offset) override;
    HRESULT OnClockStop(MFTIME systemTime) override;
    HRESULT OnClockPause(MFTIME systemTime) override;
    HRESULT OnClockRestart(MFTIME systemTime) override;
    HRESULT OnClockSetRate(MFTIME systemTime, float rate) override;

    // Takes the one stream sink (made with this sink as its owner).
    void setStream(std::unique_ptr<RewindSinkStream> stream);
    RewindSinkStream *stream() const { return m_stream.get(); }

private:
    HRESULT setPresentationClockLocked(IMFPresentationClock *clock);

    CriticalSection m_lock;
    int m_shutdown = 0;
    CComPtr<IMFPresentationClock> m_clock;
    std::unique_ptr<RewindSinkStream> m_stream;
};

// Builds the sink for one archive stream and an input media type (video: H.264; audio: PCM or
// float). Refuses an input whose major type or subtype differs from the one stored with the stream.
HRESULT createRewindSinkMF(const GUID &streamId, IMFMediaType *inputType, IRewindServer *server,
                           IArchiveStream *stream, IMFMediaSink **sink);

// Compares the input type with the major type and subtype stored in the stream's attribute block;
// the first recording stores them.
HRESULT checkStoredMediaType(IArchiveStream *stream, IMFMediaType *inputType);

// In words, why createRewindSinkMF refused inputType with MF_E_INVALIDTYPE: the code alone does not
// tell an operator that, say, a video input was configured where the archive records audio.
QString refusedMediaTypeText(IArchiveStream *stream, IMFMediaType *inputType);
