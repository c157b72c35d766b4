#include "rewindsinkmf.h"

#include "multimedia/comexception.h"
#include "rewindchannels.h"
#include "rewindsinklogging.h"
#include "rewindsinkstream.h"

RewindSinkMF::RewindSinkMF() : CUnknown("RewindSinkMF", nullptr) {}

RewindSinkMF::~RewindSinkMF()
{
    Shutdown();
    m_stream.reset();
    m_clock = nullptr;
}

HRESULT RewindSinkMF::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IMFMediaSink)
        return GetInterface(static_cast<IMFMediaSink *>(this), object);
    if (riid == IID_IMFClockStateSink)
        return GetInterface(static_cast<IMFClockStateSink *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

void RewindSinkMF::setStream(std::unique_ptr<RewindSinkStream> stream)
{
    AutoLock lock(m_lock);
    m_stream = std::move(stream);
}

HRESULT RewindSinkMF::GetCharacteristics(DWORD *characteristics)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!characteristics)
        return E_POINTER;
    *characteristics = MEDIASINK_FIXED_STREAMS | MEDIASINK_RATELESS;
    return S_OK;
}

HRESULT RewindSinkMF::AddStreamSink(DWORD, IMFMediaType *, IMFStreamSink **)
{
    return MF_E_STREAMSINKS_FIXED;
}

HRESULT RewindSinkMF::RemoveStreamSink(DWORD)
{
    return MF_E_STREAMSINKS_FIXED;
}

HRESULT RewindSinkMF::GetStreamSinkCount(DWORD *count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT RewindSinkMF::GetStreamSinkByIndex(DWORD index, IMFStreamSink **sink)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!sink)
        return E_POINTER;
    *sink = nullptr;
    if (index != 0)
        return MF_E_INVALIDINDEX;
    if (!m_stream)
        return E_POINTER;
    return GetInterface(static_cast<IMFStreamSink *>(m_stream.get()), reinterpret_cast<void **>(sink));
}

HRESULT RewindSinkMF::GetStreamSinkById(DWORD identifier, IMFStreamSink **sink)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!sink)
        return E_POINTER;
    *sink = nullptr;
    if (identifier != 1)
        return MF_E_INVALIDSTREAMNUMBER;
    if (!m_stream)
        return E_POINTER;
    return GetInterface(static_cast<IMFStreamSink *>(m_stream.get()), reinterpret_cast<void **>(sink));
}

HRESULT RewindSinkMF::SetPresentationClock(IMFPresentationClock *clock)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    return setPresentationClockLocked(clock);
}

HRESULT RewindSinkMF::setPresentationClockLocked(IMFPresentationClock *clock)
{
    CComPtr<IUnknown> oldIdentity;
    CComPtr<IUnknown> newIdentity;
    if (m_clock)
        m_clock->QueryInterface(&oldIdentity);
    if (clock)
        clock->QueryInterface(&newIdentity);
    if (oldIdentity.p == newIdentity.p)
        return S_OK;
    if (m_clock)
        m_clock->RemoveClockStateSink(static_cast<IMFClockStateSink *>(this));
    m_clock = clock;
    HRESULT hr = S_OK;
    if (m_clock)
        hr = m_clock->AddClockStateSink(static_cast<IMFClockStateSink *>(this));
    if (m_stream)
        m_stream->setPresentationClock(m_clock);
    return hr;
}

HRESULT RewindSinkMF::GetPresentationClock(IMFPresentationClock **clock)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (!clock)
        return E_INVALIDARG;
    *clock = nullptr;
    if (!m_clock)
        return MF_E_NO_CLOCK;
    return m_clock.CopyTo(clock);
}

HRESULT RewindSinkMF::Shutdown()
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    if (m_stream)
        m_stream->shutdown();
    setPresentationClockLocked(nullptr);
    m_shutdown = 1;
    return S_OK;
}

HRESULT RewindSinkMF::OnClockStart(MFTIME systemTime, LONGLONG offset)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    return m_stream ? m_stream->clockStart(systemTime, offset) : E_POINTER;
}

HRESULT RewindSinkMF::OnClockStop(MFTIME)
{
    AutoLock lock(m_lock);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    return m_stream ? m_stream->clockStop() : E_POINTER;
}

HRESULT RewindSinkMF::OnClockPause(MFTIME)
{
    AutoLock lock(m_lock);
    return m_shutdown ? MF_E_SHUTDOWN : E_NOTIMPL;
}

HRESULT RewindSinkMF::OnClockRestart(MFTIME)
{
    AutoLock lock(m_lock);
    return m_shutdown ? MF_E_SHUTDOWN : E_NOTIMPL;
}

HRESULT RewindSinkMF::OnClockSetRate(MFTIME, float)
{
    AutoLock lock(m_lock);
    return m_shutdown ? MF_E_SHUTDOWN : E_NOTIMPL;
}

namespace {
// The stream's attribute block, bound to an attribute store for reading and writing its keys.
struct StoredAttributes
{
    std::unique_ptr<ArchiveStreamRecord> record = std::make_unique<ArchiveStreamRecord>();
    CComPtr<IAttributeStore> store;

    HRESULT read(IArchiveStream *stream)
    {
        HRESULT hr = stream->ReadRecord(record.get());
        if (FAILED(hr))
            return hr;
        hr = store.CoCreateInstance(CLSID_AttributeStore);
        if (FAILED(hr))
            return hr;
        if (!store)
            return E_POINTER;
        return store->Bind(record->attributes, sizeof record->attributes, FALSE);
    }
    bool type(GUID *major, GUID *subtype)
    {
        return SUCCEEDED(
                   store->GetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kMajorTypeKey.utf16()), major)) &&
               SUCCEEDED(
                   store->GetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kSubtypeKey.utf16()), subtype));
    }
};

QString mediaTypeText(const GUID &major, const GUID &subtype)
{
    if (major == MFMediaType_Video)
        return subtype == MFVideoFormat_H264 ? QStringLiteral("H.264 video")
                                             : QStringLiteral("uncompressed video");
    if (major == MFMediaType_Audio)
        return subtype == MFAudioFormat_PCM     ? QStringLiteral("PCM audio")
               : subtype == MFAudioFormat_Float ? QStringLiteral("float audio")
                                                : QStringLiteral("compressed audio");
    return QStringLiteral("media that is neither video nor audio");
}
} // namespace

HRESULT checkStoredMediaType(IArchiveStream *stream, IMFMediaType *inputType)
{
    if (!stream || !inputType)
        return E_POINTER;
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    HRESULT hr = inputType->GetGUID(MF_MT_MAJOR_TYPE, &major);
    if (SUCCEEDED(hr))
        hr = inputType->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (FAILED(hr))
        return hr;
    // Without the stored keys a stream would later be played by the wrong class, so a record that
    // cannot be read or written back fails the sink.
    StoredAttributes stored;
    hr = stored.read(stream);
    if (FAILED(hr))
        return hr;
    GUID storedMajor = GUID_NULL;
    GUID storedSubtype = GUID_NULL;
    if (stored.type(&storedMajor, &storedSubtype))
        return storedMajor == major && storedSubtype == subtype ? S_OK : MF_E_INVALIDTYPE;
    IAttributeStore *store = stored.store;
    hr = store->SetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kMajorTypeKey.utf16()), major);
    if (SUCCEEDED(hr))
        hr = store->SetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kSubtypeKey.utf16()), subtype);
    if (SUCCEEDED(hr))
        hr = stream->WriteRecord(stored.record.get(), 0);
    return FAILED(hr) ? hr : S_OK;
}

QString refusedMediaTypeText(IArchiveStream *stream, IMFMediaType *inputType)
{
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    if (inputType) {
        inputType->GetGUID(MF_MT_MAJOR_TYPE, &major);
        inputType->GetGUID(MF_MT_SUBTYPE, &subtype);
    }
    const QString input = mediaTypeText(major, subtype);
    StoredAttributes stored;
    GUID storedMajor = GUID_NULL;
    GUID storedSubtype = GUID_NULL;
    if (stream && SUCCEEDED(stored.read(stream)) && stored.type(&storedMajor, &storedSubtype) &&
        (storedMajor != major || storedSubtype != subtype))
        return QStringLiteral("The archive stream records %1; this %2 input cannot be recorded into it")
            .arg(mediaTypeText(storedMajor, storedSubtype), input);
    return QStringLiteral(
               "This %1 input cannot be recorded: the archive takes H.264 video, PCM audio or float audio")
        .arg(input);
}

HRESULT createRewindSinkMF(const GUID &streamId, IMFMediaType *inputType, IRewindServer *server,
                           IArchiveStream *stream, IMFMediaSink **sink)
{
    if (!inputType || !server || !stream || !sink)
        return E_POINTER;
    *sink = nullptr;
    try {
        CComPtr<RewindSinkMF> made(new RewindSinkMF);
        GUID major = GUID_NULL;
        throwIfFailed(inputType->GetGUID(MF_MT_MAJOR_TYPE, &major));
        std::unique_ptr<RewindSinkStream> streamSink;
        if (major == MFMediaType_Video)
            streamSink = std::make_unique<RewindSinkVideoStream>(streamId, made);
        else if (major == MFMediaType_Audio)
            streamSink = std::make_unique<RewindSinkAudioStream>(streamId, made);
        else
            return MF_E_INVALIDMEDIATYPE;
        // A type the sink cannot take must not become the stream's stored type.
        CComPtr<IMFMediaTypeHandler> handler;
        throwIfFailed(streamSink->GetMediaTypeHandler(&handler));
        throwIfFailed(handler->IsMediaTypeSupported(inputType, nullptr));
        throwIfFailed(checkStoredMediaType(stream, inputType));
        throwIfFailed(streamSink->registerChannels(stream));
        throwIfFailed(streamSink->openWriter(server));
        made->setStream(std::move(streamSink));
        return made->QueryInterface(IID_IMFMediaSink, reinterpret_cast<void **>(sink));
    } catch (const ComException &e) {
        return e.getErrorCode();
    }
}
