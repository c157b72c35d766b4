#pragma once
// The one stream sink of the archive media sink: it queues samples and markers and writes them, one
// by one and on its own serial work queue, through the archive writer.
//
// Locks, always in this order: the media sink's lock or the media type handler's lock, then the
// state lock, then the queue lock. Writing runs on the work queue only, so the records of two
// samples never interleave; clock start and stop are work items on that queue too.

#include "archive/irewindserver.h"
#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/asynccallbackfn.h"
#include "multimedia/baseeventgenerator.h"
#include "multimedia/criticalsection.h"
#include "multimedia/cunknown.h"
#include "multimedia/hnstime.h"
#include "multimedia/mfmessagequeue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <vector>

class RewindSinkMF;
class RewindSinkMediaTypeHandler;

class RewindSinkStream : public IMFStreamSink, public CUnknown
{
public:
    enum Kind
    {
        Video = 1,
        Audio = 2
    };
    enum State
    {
        NoMediaType = 0,
        MediaTypeSet = 1,
        Started = 2,
        Stopped = 3
    };

    // Throws ComException when the work queue or the event generator cannot be made.
    RewindSinkStream(int kind, const GUID &streamId, RewindSinkMF *owner);
    ~RewindSinkStream() override;

    // References count on the media sink: whoever holds the stream sink keeps the media sink.
    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    using IUnknown::QueryInterface;
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    // IMFMediaEventGenerator
    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override;
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                       const PROPVARIANT *value) override;

    // IMFStreamSink
    HRESULT GetMediaSink(IMFMediaSink **sink) override;
    HRESULT GetIdentifier(DWORD *identifier) override;
    HRESULT ProcessSample(IMFSample *sample) override;
    HRESULT PlaceMarker(MFSTREAMSINK_MARKER_TYPE type, const PROPVARIANT *value,
                        const PROPVARIANT *context) override;
    HRESULT Flush() override;

    virtual HRESULT clockStart(MFTIME systemTime, LONGLONG offset);
    virtual HRESULT clockStop();
    virtual HRESULT requestSample();
    virtual HRESULT shutdown();
    virtual HRESULT openWriter(IRewindServer *server);
    virtual HRESULT registerChannels(IArchiveStream *stream);
    virtual HRESULT writeMediaType(IMFMediaType *type);
    virtual HRESULT writeSampleAttributes(IMFSample *sample);
    virtual HRESULT writeKeyFrameMark();
    virtual int dataChannel() const = 0;
    virtual int mediaTypeChannel() const = 0;
    virtual HRESULT startWriter();
    virtual HRESULT stopWriter();
    virtual HRESULT writeSample(IMFSample *sample, IMFMediaType *type);
    virtual HRESULT processQueueCallback(IMFAsyncResult *result);
    virtual HRESULT onClockStart(MFTIME systemTime, LONGLONG offset);
    virtual HRESULT onClockStop(IMFAsyncResult *result);

    // Called by the media sink (under its lock).
    void setPresentationClock(IMFPresentationClock *clock);
    // Called by the media type handler (under its lock) when the current type changes.
    void mediaTypeChanged(IMFMediaType *type);

    // Told on the work queue when recording fails (the HRESULT of the failure) and when it records
    // again after a failure (S_OK); each change once, not for every sample. Set before the start.
    void setFailureHandler(std::function<void(HRESULT)> handler);
    // How long a failing writer waits before it tries a new sequence (and between tries).
    void setRetryInterval(std::chrono::milliseconds interval);
    // The failure recording is in, S_OK while it records.
    HRESULT failure() const;
    // Samples taken but not stored while the writer failed.
    qint64 droppedSamples() const { return m_droppedSamples.load(); }

    int kind() const { return m_kind; }
    int state() const;
    // For tests: the work queue the stream writes on, and what waits in it.
    nyx::MFMessageQueue workQueue() const { return m_workQueue; }
    int queuedItems() const;
    int outstandingRequests() const;

protected:
    IUnknown *identityUnknown() override { return static_cast<IMFStreamSink *>(this); }
    HRESULT raise(MediaEventType type, HRESULT status, const PROPVARIANT *value = nullptr,
                  REFGUID extendedType = GUID_NULL);
    // One data channel and one media-type channel besides "KeyFrame".
    HRESULT registerChannels(IArchiveStream *stream, const QString &data, const QString &mediaType,
                             int *dataId, int *mediaTypeId);

private:
    struct Item
    {
        CComPtr<IUnknown> object;   // a sample or a marker
        CComPtr<IMFMediaType> type; // the current media type when a sample was accepted
    };

    void scheduleProcessing();
    HRESULT processQueue();
    HRESULT writeDataRecords(IMFSample *sample, IMFMediaType *type);
    // Writes the sample, or while the writer fails drops it and, when a retry is due, starts a
    // new sequence at the next sample a decoder can start from.
    HRESULT recordSample(IMFSample *sample, IMFMediaType *type);
    HRESULT startWriterAt(LONGLONG time);
    LONGLONG archiveTime(LONGLONG sampleTime) const;
    void setFailure(HRESULT hr);

    const int m_kind;
    int m_state = NoMediaType;
    const GUID m_streamId;
    int m_outstandingRequests = 0;
    LONGLONG m_clockStartOffset = 0;
    MFTIME m_clockStartSystemTime = 0;
    int m_pendingCallbacks = 0;
    quint64 m_clockGeneration = 0; // counts clock starts and stops (state lock)
    quint64 m_startGeneration = 0; // of the start the work queue runs (work queue only)
    DWORD m_keyFrameChannel = 0;
    mutable CriticalSection m_stateLock;
    mutable CriticalSection m_queueLock;
    RewindSinkMF *const m_lifetime; // the media sink that owns this object; never cleared
    RewindSinkMF *m_owner;          // for GetMediaSink; cleared by shutdown
    CComPtr<IArchiveWriter> m_writer;
    bool m_writerStarted = false;
    // The failure recording is in (work queue; read under the state lock), when the writer last
    // failed or was tried again, and whether the next sequence waits for a clean point.
    std::atomic<HRESULT> m_failure{S_OK};
    std::chrono::steady_clock::time_point m_lastAttempt;
    std::chrono::milliseconds m_retryInterval{2000};
    std::function<void(HRESULT)> m_failureHandler; // state lock
    std::atomic<qint64> m_droppedSamples{0};
    nyx::MFMessageQueue m_workQueue;
    std::vector<BYTE> m_blob;
    std::deque<Item> m_items;
    CComPtr<nyx::CBaseEventGenerator> m_events;
    CComPtr<IMFPresentationClock> m_clock;
    CComPtr<IMFMediaType> m_currentType;
    CComPtr<IMFMediaType> m_writtenType; // the media type of the latest media-type record
    nyx::AsyncCallbackFn m_processCallback;
    nyx::AsyncCallbackFn m_clockStopCallback;
    const ClockConverter m_clockConverter;
};

class RewindSinkVideoStream : public RewindSinkStream
{
public:
    RewindSinkVideoStream(const GUID &streamId, RewindSinkMF *owner);
    ~RewindSinkVideoStream() override;

    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) override;
    HRESULT registerChannels(IArchiveStream *stream) override;
    int dataChannel() const override { return m_dataChannel; }
    int mediaTypeChannel() const override { return m_mediaTypeChannel; }

private:
    int m_dataChannel = -1;
    int m_mediaTypeChannel = -1;
    RewindSinkMediaTypeHandler *m_handler;
};

class RewindSinkAudioStream : public RewindSinkStream
{
public:
    RewindSinkAudioStream(const GUID &streamId, RewindSinkMF *owner);
    ~RewindSinkAudioStream() override;

    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler **handler) override;
    HRESULT registerChannels(IArchiveStream *stream) override;
    int dataChannel() const override { return m_dataChannel; }
    int mediaTypeChannel() const override { return m_mediaTypeChannel; }

private:
    int m_dataChannel = -1;
    int m_mediaTypeChannel = -1;
    RewindSinkMediaTypeHandler *m_handler;
};
