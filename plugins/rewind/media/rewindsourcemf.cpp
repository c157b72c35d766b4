#include "rewindsourcemf.h"

#include "rewindchannels.h"
#include "rewindsourcelogging.h"
#include "rewindsourcestream.h"
#include "rewindsourcestream2audio.h"
#include "rewindsourcestream2avc.h"
#include "rewindsourcestream2codec.h"

#include "com/cocreate.h"
#include "mf/mfapi.h"
#include "multimedia/comexception.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {
// Record stream type of H.264 streams written by other recorders.
constexpr DWORD kStreamTypeH264 = 7;
} // namespace

RewindSourceMF::RewindSourceMF(HRESULT &hr)
    : CBaseSourceWithRateSupport(hr, MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE, "RewindSourceMF")
{
    setSupportedRateRange(0, 10.0f);
}

RewindSourceMF::~RewindSourceMF()
{
    CBaseSource::Shutdown();
    m_stream.reset();
}

HRESULT RewindSourceMF::NonDelegatingQueryInterface(REFIID riid, void **object)
{
    if (riid == IID_IRewindSource)
        return GetInterface(static_cast<IRewindSource *>(this), object);
    return CBaseSourceWithRateSupport::NonDelegatingQueryInterface(riid, object);
}

HRESULT RewindSourceMF::initialize(IRewindServer *server, IArchiveStream *stream, bool isAudio,
                                   int decoderKind, int decoderIndex, quint64 from, quint64 to)
{
    if (!server || !stream)
        return E_POINTER;

    CComPtr<IUnknown> readerObject;
    server->CreateReader(&readerObject);
    CComPtr<IArchiveReader> reader;
    if (readerObject)
        readerObject->QueryInterface(IID_IArchiveReader, reinterpret_cast<void **>(&reader));
    if (!reader)
        return E_POINTER;

    ArchiveStreamHead head{};
    HRESULT hr = stream->GetHeader(&head);
    if (SUCCEEDED(hr))
        hr = reader->Open(head.streamId, 2);
    if (FAILED(hr))
        return hr;

    // The stored media kind. A record that cannot be read is probed as an empty one.
    ArchiveStreamRecord record;
    std::memset(&record, 0, sizeof record);
    stream->ReadRecord(&record);
    CComPtr<IAttributeStore> store;
    hr = CoCreateInstance(CLSID_AttributeStore, nullptr, 23, IID_IAttributeStore,
                          reinterpret_cast<void **>(&store));
    if (FAILED(hr))
        return hr;
    if (!store)
        return E_POINTER;
    hr = store->Bind(record.attributes, sizeof record.attributes, FALSE);
    if (FAILED(hr))
        return hr;
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    const bool stored =
        SUCCEEDED(store->GetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kMajorTypeKey.utf16()), &major)) &&
        SUCCEEDED(store->GetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kSubtypeKey.utf16()), &subtype));

    // Archive times end at INT64_MAX: a later bound is that one.
    constexpr quint64 kLastTime = static_cast<quint64>(std::numeric_limits<qint64>::max());
    const auto from64 = static_cast<qint64>(std::min(from, kLastTime));
    const auto to64 = static_cast<qint64>(std::min(to, kLastTime));
    std::shared_ptr<CRewindSourceStreamBase> made;
    if (stored) {
        CComPtr<IMFMediaType> type;
        hr = MFCreateMediaType(&type);
        if (SUCCEEDED(hr))
            hr = type->SetGUID(MF_MT_MAJOR_TYPE, major);
        if (SUCCEEDED(hr))
            hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
        if (FAILED(hr))
            return hr;
        made = nyx::makeSourceStream<CRewindSourceStream>(static_cast<nyx::ISource *>(this), reader.p, type.p,
                                                          from64, to64, &messageQueue());
    } else if (isAudio) {
        auto audio = nyx::makeSourceStream<CRewindSourceStream2Audio>(
            static_cast<nyx::ISource *>(this), reader.p, from64, to64, &messageQueue());
        hr = audio->InitFormat(stream);
        made = audio;
    } else if (head.streamType == kStreamTypeH264) {
        auto avc = nyx::makeSourceStream<CRewindSourceStream2AVC>(static_cast<nyx::ISource *>(this), reader.p,
                                                                  from64, to64, &messageQueue());
        hr = avc->InitDecoder(head.streamId, decoderKind, decoderIndex);
        made = avc;
    } else {
        auto codec = nyx::makeSourceStream<CRewindSourceStream2Codec>(
            static_cast<nyx::ISource *>(this), reader.p, from64, to64, &messageQueue());
        hr = codec->InitCodec(stream);
        made = codec;
    }
    if (FAILED(hr)) {
        made->Shutdown();
        return hr;
    }

    try {
        hr = made->ReadStreamProperties(stream);
        if (SUCCEEDED(hr))
            hr = CBaseSource::Initialize({made});
    } catch (const ComException &e) {
        hr = e.getErrorCode();
    }
    if (FAILED(hr)) {
        // A source that cannot play says so, rather than showing up ready.
        made->Shutdown();
        return hr;
    }
    m_stream = made;
    return S_OK;
}

HRESULT RewindSourceMF::setEndTime(LONGLONG end)
{
    if (!m_stream)
        return E_POINTER;
    return m_stream->PostEndTime(end);
}

FrameHistory *RewindSourceMF::frameHistory()
{
    return m_stream ? m_stream->frameHistory() : nullptr;
}

void RewindSourceMF::setQuality(double quality)
{
    if (m_stream)
        m_stream->SetQuality(quality);
}
