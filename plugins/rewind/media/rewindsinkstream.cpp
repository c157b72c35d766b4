#include "rewindsinkstream.h"

#include "archivechannel.h"
#include "multimedia/cmarker.h"
#include "multimedia/comexception.h"
#include "multimedia/mediabuffermapping.h"
#include "rewindchannels.h"
#include "rewindsinklogging.h"
#include "rewindsinkmediatypehandler.h"
#include "rewindsinkmf.h"

namespace {
// No new sample is requested while more items than this wait to be written.
constexpr std::size_t kMaxQueuedItems = 10;
// Processing work items on the queue at once.
constexpr int kMaxPendingCallbacks = 2;
} // namespace

RewindSinkStream::RewindSinkStream(int kind, const GUID &streamId, RewindSinkMF *owner)
    : CUnknown("RewindSinkStream", nullptr), m_kind(kind), m_streamId(streamId), m_lifetime(owner),
      m_owner(owner), m_workQueue(1, 0),
      m_processCallback(
          static_cast<IMFStreamSink *>(this),
          [this](IMFAsyncResult *result) { return processQueueCallback(result); }, m_workQueue.getQueueId(),
          0),
      m_clockStopCallback(
          static_cast<IMFStreamSink *>(this), [this](IMFAsyncResult *result) { return onClockStop(result); },
          m_workQueue.getQueueId(), 0),
      m_clockConverter(HnsTime::systemTime(), HnsTime::QPCTime())
{
    if (!owner)
        throw ComException(E_POINTER);
    throwIfFailed(nyx::CBaseEventGenerator::Create(&m_events));
}

RewindSinkStream::~RewindSinkStream()
{
    if (m_events)
        m_events->Shutdown();
    if (m_writer && m_writerStarted)
        m_writer->Stop();
}

HRESULT RewindSinkStream::QueryInterface(REFIID riid, void **object)
{
    return NonDelegatingQueryInterface(riid, object);
}

ULONG RewindSinkStream::AddRef()
{
    return static_cast<IMFMediaSink *>(m_lifetime)->AddRef();
}

ULONG RewindSinkStream::Release()
{
    return static_cast<IMFMediaSink *>(m_lifetime)->Release();
}

HRESULT RewindSinkStream::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IUnknown || riid == IID_IMFStreamSink)
        return GetInterface(static_cast<IMFStreamSink *>(this), object);
    if (riid == IID_IMFMediaEventGenerator)
        return GetInterface(static_cast<IMFMediaEventGenerator *>(this), object);
    if (object)
        *object = nullptr;
    return object ? E_NOINTERFACE : E_POINTER;
}

HRESULT RewindSinkStream::GetEvent(DWORD flags, IMFMediaEvent **event)
{
    // Not under the state lock: a blocking wait must not stop the stream from raising events.
    CComPtr<nyx::CBaseEventGenerator> events;
    {
        AutoLock lock(m_stateLock);
        events = m_events;
    }
    return events ? events->GetEvent(flags, event) : E_POINTER;
}

HRESULT RewindSinkStream::BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state)
{
    AutoLock lock(m_stateLock);
    return m_events ? m_events->BeginGetEvent(callback, state) : E_POINTER;
}

HRESULT RewindSinkStream::EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event)
{
    AutoLock lock(m_stateLock);
    return m_events ? m_events->EndGetEvent(result, event) : E_POINTER;
}

HRESULT RewindSinkStream::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                     const PROPVARIANT *value)
{
    AutoLock lock(m_stateLock);
    return m_events ? m_events->QueueEvent(type, extendedType, status, value) : E_POINTER;
}

HRESULT RewindSinkStream::raise(MediaEventType type, HRESULT status, const PROPVARIANT *value,
                                REFGUID extendedType)
{
    return m_events ? m_events->QueueEvent(type, extendedType, status, value) : E_POINTER;
}

HRESULT RewindSinkStream::GetMediaSink(IMFMediaSink **sink)
{
    if (!sink)
        return E_INVALIDARG;
    *sink = nullptr;
    AutoLock lock(m_stateLock);
    if (!m_owner)
        return E_POINTER;
    return static_cast<IMFMediaSink *>(m_owner)->QueryInterface(IID_IMFMediaSink,
                                                                reinterpret_cast<void **>(sink));
}

HRESULT RewindSinkStream::GetIdentifier(DWORD *identifier)
{
    if (!identifier)
        return E_INVALIDARG;
    *identifier = static_cast<DWORD>(m_kind);
    return S_OK;
}

int RewindSinkStream::state() const
{
    AutoLock lock(m_stateLock);
    return m_state;
}

int RewindSinkStream::queuedItems() const
{
    AutoLock lock(m_queueLock);
    return static_cast<int>(m_items.size());
}

int RewindSinkStream::outstandingRequests() const
{
    AutoLock lock(m_stateLock);
    return m_outstandingRequests;
}

void RewindSinkStream::setPresentationClock(IMFPresentationClock *clock)
{
    AutoLock lock(m_stateLock);
    m_clock = clock;
}

void RewindSinkStream::mediaTypeChanged(IMFMediaType *type)
{
    AutoLock lock(m_stateLock);
    m_currentType = type;
    // A new type while started (a resolution change) keeps the stream started.
    if (m_state == NoMediaType)
        m_state = MediaTypeSet;
}

HRESULT RewindSinkStream::clockStart(MFTIME systemTime, LONGLONG offset)
{
    AutoLock lock(m_stateLock);
    if (!m_events)
        return E_POINTER;
    if (m_state == NoMediaType) {
        raise(MEStreamSinkFormatChanged, S_OK);
        return E_FAIL;
    }
    // Resuming at the current position changes nothing for a recording.
    if (offset == PRESENTATION_CURRENT_POSITION)
        return S_OK;
    const quint64 generation = ++m_clockGeneration;
    CComPtr<IMFStreamSink> self(this);
    return m_workQueue.push([self, this, systemTime, offset, generation]() {
        m_startGeneration = generation;
        return onClockStart(systemTime, offset);
    });
}

HRESULT RewindSinkStream::onClockStart(MFTIME systemTime, LONGLONG offset)
{
    {
        // A start that was queued before a shutdown starts nothing.
        AutoLock lock(m_stateLock);
        if (!m_owner)
            return MF_E_SHUTDOWN;
    }
    // Samples accepted under the previous start are written with its times.
    processQueue();
    m_clockStartSystemTime = systemTime;
    m_clockStartOffset = offset;
    // A writer that does not start (a read-only archive, a stream another writer holds) is tried
    // again while the samples come: the stream sink starts all the same, so that the session and
    // the other branches of the graph run on, and records once the archive lets it.
    const HRESULT hr = startWriter();
    if (FAILED(hr)) {
        qCDebug(lcRewindSink) << "RewindSink: the archive writer did not start:" << ComException(hr);
        m_lastAttempt = std::chrono::steady_clock::now();
        setFailure(hr);
    }
    AutoLock lock(m_stateLock);
    // A stop (or another start) that came after this start keeps its state; the start is still
    // reported, so that every start and stop has its event.
    if (m_startGeneration == m_clockGeneration)
        m_state = Started;
    raise(MEStreamSinkStarted, S_OK);
    requestSample();
    return S_OK;
}

HRESULT RewindSinkStream::clockStop()
{
    AutoLock lock(m_stateLock);
    if (!m_events)
        return E_POINTER;
    if (m_state == NoMediaType)
        return E_FAIL;
    // From here on no sample is accepted; what was accepted before is written on the work queue
    // before the writer stops. Requests made before the stop are void.
    m_state = Stopped;
    m_outstandingRequests = 0;
    ++m_clockGeneration;
    return m_workQueue.push(&m_clockStopCallback, nullptr);
}

HRESULT RewindSinkStream::onClockStop(IMFAsyncResult *)
{
    const HRESULT written = processQueue();
    if (FAILED(written)) {
        AutoLock lock(m_stateLock);
        raise(MEError, written);
    }
    const HRESULT hr = stopWriter();
    AutoLock lock(m_stateLock);
    if (FAILED(hr)) {
        qCWarning(lcRewindSink) << "RewindSink: the archive writer did not stop:" << ComException(hr);
        raise(MEError, hr);
    }
    // Whoever waits for the stop is told, also when the writer failed.
    raise(MEStreamSinkStopped, S_OK);
    return hr;
}

HRESULT RewindSinkStream::requestSample()
{
    AutoLock lock(m_stateLock);
    if (!m_events)
        return E_POINTER;
    if (m_state != Started || m_outstandingRequests > 0)
        return E_FAIL;
    {
        AutoLock queueLock(m_queueLock);
        if (m_items.size() > kMaxQueuedItems)
            return S_FALSE;
    }
    const HRESULT hr = raise(MEStreamSinkRequestSample, S_OK);
    if (FAILED(hr))
        return hr;
    ++m_outstandingRequests;
    return S_OK;
}

HRESULT RewindSinkStream::ProcessSample(IMFSample *sample)
{
    if (!sample)
        return E_POINTER;
    CComPtr<IMFPresentationClock> clock;
    {
        AutoLock lock(m_stateLock);
        if (!m_owner)
            return MF_E_SHUTDOWN;
        if (m_state != Started || m_outstandingRequests == 0)
            return MF_E_INVALIDREQUEST;
        clock = m_clock;
    }
    // The clock is asked outside the state lock: it calls its state sinks under its own lock.
    LONGLONG sampleTime = 0;
    const bool hasTime = SUCCEEDED(sample->GetSampleTime(&sampleTime));
    MFTIME clockTime = 0;
    const bool hasClockTime = clock && hasTime && SUCCEEDED(clock->GetTime(&clockTime));

    AutoLock lock(m_stateLock);
    if (m_state != Started || m_outstandingRequests == 0)
        return MF_E_INVALIDREQUEST;
    --m_outstandingRequests;
    if (hasClockTime) {
        PROPVARIANT lag;
        PropVariantInit(&lag);
        lag.vt = VT_I8;
        lag.hVal.QuadPart = clockTime - sampleTime;
        raise(MEQualityNotify, S_OK, &lag, MF_QUALITY_NOTIFY_SAMPLE_LAG);
    }
    {
        AutoLock queueLock(m_queueLock);
        m_items.push_back(Item{CComPtr<IUnknown>(sample), m_currentType});
    }
    const HRESULT hr = requestSample();
    if (FAILED(hr))
        return hr;
    scheduleProcessing();
    return S_OK;
}

HRESULT RewindSinkStream::PlaceMarker(MFSTREAMSINK_MARKER_TYPE type, const PROPVARIANT *value,
                                      const PROPVARIANT *context)
{
    AutoLock lock(m_stateLock);
    if (!m_owner)
        return MF_E_SHUTDOWN;
    CComPtr<nyx::IMarker> marker;
    const HRESULT hr = nyx::CMarker::Create(type, value, context, &marker);
    if (FAILED(hr))
        return hr;
    {
        AutoLock queueLock(m_queueLock);
        m_items.push_back(Item{CComPtr<IUnknown>(marker), nullptr});
    }
    scheduleProcessing();
    return S_OK;
}

HRESULT RewindSinkStream::Flush()
{
    AutoLock lock(m_queueLock);
    for (const Item &item : m_items) {
        CComPtr<nyx::IMarker> marker;
        if (SUCCEEDED(item.object->QueryInterface(&marker))) {
            PROPVARIANT context;
            PropVariantInit(&context);
            marker->GetContext(&context);
            raise(MEStreamSinkMarker, E_ABORT, &context);
            PropVariantClear(&context);
        }
    }
    m_items.clear();
    return S_OK;
}

void RewindSinkStream::scheduleProcessing()
{
    AutoLock lock(m_stateLock);
    if (m_pendingCallbacks >= kMaxPendingCallbacks)
        return;
    if (SUCCEEDED(m_workQueue.push(&m_processCallback, nullptr)))
        ++m_pendingCallbacks;
}

HRESULT RewindSinkStream::processQueueCallback(IMFAsyncResult *)
{
    const HRESULT hr = processQueue();
    AutoLock lock(m_stateLock);
    if (FAILED(hr))
        raise(MEError, hr);
    --m_pendingCallbacks;
    return S_OK;
}

HRESULT RewindSinkStream::processQueue()
{
    HRESULT result = S_OK;
    for (;;) {
        Item item;
        {
            AutoLock lock(m_queueLock);
            if (m_items.empty())
                break;
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        HRESULT hr = S_OK;
        CComPtr<nyx::IMarker> marker;
        CComPtr<IMFSample> sample;
        if (SUCCEEDED(item.object->QueryInterface(&marker))) {
            PROPVARIANT context;
            PropVariantInit(&context);
            hr = marker->GetContext(&context);
            if (SUCCEEDED(hr)) {
                AutoLock lock(m_stateLock);
                hr = raise(MEStreamSinkMarker, S_OK, &context);
            }
            PropVariantClear(&context);
        } else if (SUCCEEDED(item.object->QueryInterface(&sample))) {
            hr = recordSample(sample, item.type);
            requestSample();
        }
        if (FAILED(hr)) {
            qCDebug(lcRewindSink) << "RewindSink: item failed:" << ComException(hr);
            AutoLock lock(m_stateLock);
            raise(MEError, hr);
        }
    }
    return result;
}

HRESULT RewindSinkStream::shutdown()
{
    AutoLock lock(m_stateLock);
    m_owner = nullptr;
    m_clock = nullptr;
    {
        AutoLock queueLock(m_queueLock);
        m_items.clear();
    }
    // A shut-down sink lets go of the archive stream at once, so that another sink can record
    // into it, even while something still holds this one. The writer stops on the work queue,
    // after the work under way. (From the media sink's destructor nothing is queued: the
    // stream's own destructor stops the writer.)
    if (m_state == Started)
        m_state = Stopped;
    if (m_lifetime->refCount() > 0) {
        CComPtr<IMFStreamSink> self(this);
        m_workQueue.push([self, this]() { return stopWriter(); });
    }
    return m_events ? m_events->Shutdown() : S_OK;
}

HRESULT RewindSinkStream::openWriter(IRewindServer *server)
{
    if (!server)
        return E_POINTER;
    m_writer = nullptr;
    m_writerStarted = false;
    return server->CreateWriter(m_streamId, &m_writer);
}

HRESULT RewindSinkStream::registerChannels(IArchiveStream *stream)
{
    DWORD id = 0;
    const HRESULT hr =
        findOrCreateChannel(stream, rewindchannels::kKeyFrameChannel, rewindchannels::kKeyFrameFlag, &id);
    if (FAILED(hr))
        return hr;
    m_keyFrameChannel = id;
    return S_OK;
}

HRESULT RewindSinkStream::registerChannels(IArchiveStream *stream, const QString &data,
                                           const QString &mediaType, int *dataId, int *mediaTypeId)
{
    HRESULT hr = RewindSinkStream::registerChannels(stream);
    if (FAILED(hr))
        return hr;
    DWORD id = 0;
    hr = findOrCreateChannel(stream, data, rewindchannels::kDataFlag, &id);
    if (FAILED(hr))
        return hr;
    *dataId = static_cast<int>(id);
    hr = findOrCreateChannel(stream, mediaType, rewindchannels::kMediaTypeFlag, &id);
    if (FAILED(hr))
        return hr;
    *mediaTypeId = static_cast<int>(id);
    return S_OK;
}

HRESULT RewindSinkStream::startWriter()
{
    return startWriterAt(m_clockConverter.getBaseTime(m_clockStartSystemTime));
}

HRESULT RewindSinkStream::startWriterAt(LONGLONG time)
{
    if (!m_writer)
        return E_POINTER;
    const HRESULT hr = m_writer->Start(static_cast<ULONGLONG>(time));
    m_writerStarted = SUCCEEDED(hr);
    // The first sample of a sequence carries its media type.
    m_writtenType = nullptr;
    return hr;
}

LONGLONG RewindSinkStream::archiveTime(LONGLONG sampleTime) const
{
    return m_clockConverter.getBaseTime(m_clockStartSystemTime) + sampleTime - m_clockStartOffset;
}

void RewindSinkStream::setFailureHandler(std::function<void(HRESULT)> handler)
{
    AutoLock lock(m_stateLock);
    m_failureHandler = std::move(handler);
}

void RewindSinkStream::setRetryInterval(std::chrono::milliseconds interval)
{
    m_retryInterval = interval;
}

HRESULT RewindSinkStream::failure() const
{
    return m_failure.load();
}

void RewindSinkStream::setFailure(HRESULT hr)
{
    if (m_failure.exchange(hr) == hr)
        return;
    // One event and one call per change: a full disk fails every sample, and the session and the
    // log must not hear of each one.
    std::function<void(HRESULT)> handler;
    {
        AutoLock lock(m_stateLock);
        if (FAILED(hr))
            raise(MEError, hr);
        handler = m_failureHandler;
    }
    if (handler)
        handler(hr);
}

HRESULT RewindSinkStream::recordSample(IMFSample *sample, IMFMediaType *type)
{
    if (FAILED(m_failure.load())) {
        const bool due = std::chrono::steady_clock::now() - m_lastAttempt >= m_retryInterval;
        if (due && m_writerStarted) {
            // The sequence the failure broke ends here; recording goes on in a new one.
            stopWriter();
        }
        if (!m_writerStarted) {
            // A new sequence must begin with a sample a decoder can start from.
            const bool cleanPoint =
                m_kind == Audio ||
                (type && MFGetAttributeUINT32(type, MF_MT_ALL_SAMPLES_INDEPENDENT, 0) != 0) ||
                MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
            LONGLONG time = 0;
            if (!due || !cleanPoint || FAILED(sample->GetSampleTime(&time))) {
                ++m_droppedSamples;
                return S_OK;
            }
            const HRESULT hr = startWriterAt(archiveTime(time));
            if (FAILED(hr)) {
                qCDebug(lcRewindSink)
                    << "RewindSink: the archive writer did not start again:" << ComException(hr);
                ++m_droppedSamples;
                m_lastAttempt = std::chrono::steady_clock::now();
                setFailure(hr);
                return S_OK;
            }
        }
    }
    const HRESULT hr = writeSample(sample, type);
    if (FAILED(hr)) {
        qCDebug(lcRewindSink) << "RewindSink: a sample was not stored:" << ComException(hr);
        ++m_droppedSamples;
        // The first failure of a run starts the wait before a new sequence and names the cause;
        // what follows from it in the same sequence (a sample left open) neither puts the retry
        // off nor hides the cause.
        if (SUCCEEDED(m_failure.load())) {
            m_lastAttempt = std::chrono::steady_clock::now();
            setFailure(hr);
        }
        return S_OK;
    }
    setFailure(S_OK);
    return S_OK;
}

HRESULT RewindSinkStream::stopWriter()
{
    if (!m_writer)
        return E_POINTER;
    const bool started = m_writerStarted;
    m_writerStarted = false;
    return started ? m_writer->Stop() : S_OK;
}

HRESULT RewindSinkStream::writeMediaType(IMFMediaType *type)
{
    if (!type)
        return E_POINTER;
    UINT32 size = 0;
    HRESULT hr = MFGetAttributesAsBlobSize(type, &size);
    if (FAILED(hr))
        return hr;
    m_blob.resize(std::max<std::size_t>(m_blob.size(), size));
    hr = MFGetAttributesAsBlob(type, m_blob.data(), size);
    if (FAILED(hr))
        return hr;
    return m_writer->Blob(mediaTypeChannel(), m_blob.data(), size);
}

HRESULT RewindSinkStream::writeSampleAttributes(IMFSample *sample)
{
    UINT32 size = 0;
    HRESULT hr = MFGetAttributesAsBlobSize(sample, &size);
    if (FAILED(hr))
        return hr;
    m_blob.resize(std::max<std::size_t>(m_blob.size(), size));
    hr = MFGetAttributesAsBlob(sample, m_blob.data(), size);
    if (FAILED(hr))
        return hr;
    return m_writer->Blob(dataChannel(), m_blob.data(), size);
}

HRESULT RewindSinkStream::writeKeyFrameMark()
{
    return m_writer->Blob(static_cast<int>(m_keyFrameChannel), nullptr, 0);
}

HRESULT RewindSinkStream::writeSample(IMFSample *sample, IMFMediaType *type)
{
    if (!sample)
        return E_POINTER;
    LONGLONG time = 0;
    LONGLONG duration = 0;
    HRESULT hr = sample->GetSampleTime(&time);
    if (FAILED(hr))
        return hr;
    hr = sample->GetSampleDuration(&duration);
    if (FAILED(hr))
        return hr;
    const LONGLONG at = archiveTime(time);
    hr = sample->SetUINT64(SampleArchiveTime, static_cast<UINT64>(at));
    if (SUCCEEDED(hr))
        hr = sample->SetUINT64(SampleArchiveDuration, static_cast<UINT64>(duration));
    if (FAILED(hr))
        return hr;
    if (!m_writer)
        return E_POINTER;
    hr = m_writer->BeginSample(at, at, 0);
    if (FAILED(hr))
        return hr;
    const HRESULT written = writeDataRecords(sample, type);
    // The sample is ended whatever its records gave, so the next one starts cleanly.
    const HRESULT ended = m_writer->EndSample();
    return FAILED(written) ? written : ended;
}

HRESULT RewindSinkStream::writeDataRecords(IMFSample *sample, IMFMediaType *type)
{
    try {
        CComPtr<IMFMediaBuffer> buffer;
        throwIfFailed(sample->ConvertToContiguousBuffer(&buffer));
        {
            MediaBufferMapping mapping(buffer);
            throwIfFailed(m_writer->Data(dataChannel(), mapping.buffer(), mapping.currentLength()));
        }
        throwIfFailed(writeSampleAttributes(sample));
        const bool independent = type && MFGetAttributeUINT32(type, MF_MT_ALL_SAMPLES_INDEPENDENT, 0) != 0;
        const bool cleanPoint = MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
        // A changed type (a resolution change) is recorded before its first sample.
        const bool typeChanged = type && type != m_writtenType.p;
        if (independent || cleanPoint || typeChanged) {
            if (!type)
                throw ComException(E_POINTER);
            throwIfFailed(writeMediaType(type));
            m_writtenType = type;
        }
        if (independent || cleanPoint)
            throwIfFailed(writeKeyFrameMark());
        return S_OK;
    } catch (const ComException &e) {
        return e.getErrorCode();
    }
}

RewindSinkVideoStream::RewindSinkVideoStream(const GUID &streamId, RewindSinkMF *owner)
    : RewindSinkStream(Video, streamId, owner), m_handler(new RewindSinkVideoMediaTypeHandler(this))
{
}

RewindSinkVideoStream::~RewindSinkVideoStream()
{
    delete m_handler;
}

HRESULT RewindSinkVideoStream::GetMediaTypeHandler(IMFMediaTypeHandler **handler)
{
    if (!handler)
        return E_INVALIDARG;
    return GetInterface(static_cast<IMFMediaTypeHandler *>(m_handler), reinterpret_cast<void **>(handler));
}

HRESULT RewindSinkVideoStream::registerChannels(IArchiveStream *stream)
{
    return RewindSinkStream::registerChannels(stream, rewindchannels::kVideoDataChannel,
                                              rewindchannels::kVideoMediaTypeChannel, &m_dataChannel,
                                              &m_mediaTypeChannel);
}

RewindSinkAudioStream::RewindSinkAudioStream(const GUID &streamId, RewindSinkMF *owner)
    : RewindSinkStream(Audio, streamId, owner), m_handler(new RewindSinkAudioMediaTypeHandler(this))
{
}

RewindSinkAudioStream::~RewindSinkAudioStream()
{
    delete m_handler;
}

HRESULT RewindSinkAudioStream::GetMediaTypeHandler(IMFMediaTypeHandler **handler)
{
    if (!handler)
        return E_INVALIDARG;
    return GetInterface(static_cast<IMFMediaTypeHandler *>(m_handler), reinterpret_cast<void **>(handler));
}

HRESULT RewindSinkAudioStream::registerChannels(IArchiveStream *stream)
{
    return RewindSinkStream::registerChannels(stream, rewindchannels::kAudioDataChannel,
                                              rewindchannels::kAudioMediaTypeChannel, &m_dataChannel,
                                              &m_mediaTypeChannel);
}
