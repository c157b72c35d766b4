#pragma once
// Steps shared by the playback tests: a stream in a real archive folder written with the records a
// recording leaves (data, attribute blob, media-type blob and key-frame mark per sample), and a
// player that requests samples from a RewindSourceMF and keeps what it got.

#include "archivetesthelpers.h"
#include "rewindchannels.h"
#include "rewindsourcemf.h"
#include "sourcetesthelpers.h"

#include "mf/mfapi.h"

#include <QByteArray>
#include <QSize>
#include <QVector>
#include <climits>

namespace playbacktest {
constexpr LONGLONG kFrame = 400000; // 25 frames per second
constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kBase = archivetest::kBase;

inline QByteArray payload(LONGLONG n)
{
    const auto bytes = archivetest::payload(n, static_cast<std::size_t>(120 + (n * 37) % 400));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

inline QByteArray blobOf(IMFAttributes *attributes)
{
    UINT32 size = 0;
    MFGetAttributesAsBlobSize(attributes, &size);
    QByteArray blob(static_cast<int>(size), '\0');
    MFGetAttributesAsBlob(attributes, reinterpret_cast<UINT8 *>(blob.data()), size);
    return blob;
}

struct Frame
{
    LONGLONG time = 0;
    bool key = false;
    UINT32 width = 640;
    UINT32 height = 360;
    QByteArray bytes;
    UINT64 archiveTime = 0; // the stored sample time; 0: the frame's time
};

// 25 fps frames from kBase + offset: n frames, a key frame every gop frames starting at firstKey.
inline QVector<Frame> frames(int n, LONGLONG offset = 0, int gop = 25, int firstKey = 0, int numberBase = 0)
{
    QVector<Frame> out;
    for (int i = 0; i < n; ++i) {
        Frame f;
        f.time = kBase + offset + i * kFrame;
        f.key = i >= firstKey && gop > 0 && (i - firstKey) % gop == 0;
        f.bytes = payload(numberBase + i);
        out.append(f);
    }
    return out;
}

class Recording
{
public:
    // A stream whose attribute block names its media type (video H.264 or PCM audio).
    bool create(const QString &name, bool audio = false, bool storeTypeKeys = true)
    {
        m_audio = audio;
        server = archivetest::server();
        if (!server)
            return false;
        for (int i = 0; i < 100 && server->IsReady() != S_OK; ++i)
            QThread::msleep(10);
        if (FAILED(archivetest::createStorage(server, QStringLiteral("Storage-") + name, &storage)) ||
            FAILED(archivetest::createStream(server, storage, name, &id)) ||
            FAILED(server->OpenStream(id, &stream)))
            return false;
        if (storeTypeKeys) {
            ArchiveStreamRecord record;
            std::memset(&record, 0, sizeof record);
            CComPtr<IAttributeStore> store;
            store.CoCreateInstance(CLSID_AttributeStore);
            if (FAILED(stream->ReadRecord(&record)) || !store ||
                FAILED(store->Bind(record.attributes, 4096, FALSE)))
                return false;
            store->SetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kMajorTypeKey.utf16()),
                           audio ? MFMediaType_Audio : MFMediaType_Video);
            store->SetGUID(reinterpret_cast<LPCWSTR>(rewindchannels::kSubtypeKey.utf16()),
                           audio ? MFAudioFormat_PCM : MFVideoFormat_H264);
            if (FAILED(stream->WriteRecord(&record, 0)))
                return false;
        }
        return openChannels();
    }

    // Opens an existing stream (another process created it).
    bool open(const GUID &streamId, bool audio = false)
    {
        m_audio = audio;
        id = streamId;
        server = archivetest::server();
        for (int i = 0; server && i < 100 && server->IsReady() != S_OK; ++i)
            QThread::msleep(10);
        return server && SUCCEEDED(server->OpenStream(id, &stream)) && openChannels();
    }

    HRESULT startWriter(LONGLONG at)
    {
        writer.Release();
        HRESULT hr = server->CreateWriter(id, &writer);
        return SUCCEEDED(hr) ? writer->Start(static_cast<ULONGLONG>(at)) : hr;
    }
    HRESULT stopWriter() { return writer ? writer->Stop() : S_OK; }

    // The records of one sample, as the recorder writes them.
    HRESULT write(const Frame &f)
    {
        CComPtr<IMFAttributes> attributes;
        MFCreateAttributes(&attributes, 3);
        attributes->SetUINT32(MFSampleExtension_CleanPoint, f.key ? 1 : 0);
        attributes->SetUINT64(SampleArchiveTime, f.archiveTime ? f.archiveTime : static_cast<UINT64>(f.time));
        attributes->SetUINT64(SampleArchiveDuration, kFrame);
        const QByteArray attributeBlob = blobOf(attributes);
        HRESULT hr = writer->BeginSample(f.time, f.time, 0);
        if (SUCCEEDED(hr))
            hr = writer->Data(static_cast<int>(dataChannel),
                              reinterpret_cast<const BYTE *>(f.bytes.constData()),
                              static_cast<DWORD>(f.bytes.size()));
        if (SUCCEEDED(hr))
            hr = writer->Blob(static_cast<int>(dataChannel),
                              reinterpret_cast<const BYTE *>(attributeBlob.constData()),
                              static_cast<DWORD>(attributeBlob.size()));
        if (SUCCEEDED(hr) && f.key) {
            const QByteArray typeBlob = blobOf(mediaType(f));
            hr = writer->Blob(static_cast<int>(typeChannel),
                              reinterpret_cast<const BYTE *>(typeBlob.constData()),
                              static_cast<DWORD>(typeBlob.size()));
            if (SUCCEEDED(hr))
                hr = writer->Blob(static_cast<int>(keyChannel), nullptr, 0);
        }
        const HRESULT ended = writer->EndSample();
        return FAILED(hr) ? hr : ended;
    }

    HRESULT writeAll(const QVector<Frame> &all)
    {
        HRESULT hr = startWriter(all.isEmpty() ? kBase : all.first().time);
        for (int i = 0; SUCCEEDED(hr) && i < all.size(); ++i)
            hr = write(all[i]);
        const HRESULT stopped = stopWriter();
        return FAILED(hr) ? hr : stopped;
    }

    CComPtr<IMFMediaType> mediaType(const Frame &f) const
    {
        CComPtr<IMFMediaType> type;
        MFCreateMediaType(&type);
        if (m_audio) {
            type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
            type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
            type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
            type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, 48000);
            type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
        } else {
            type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
            type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
            MFSetAttributeSize(type, MF_MT_FRAME_SIZE, f.width, f.height);
            MFSetAttributeRatio(type, MF_MT_FRAME_RATE, 25, 1);
        }
        return type;
    }

    CComPtr<IRewindServer> server;
    GUID storage = GUID_NULL;
    GUID id = GUID_NULL;
    CComPtr<IArchiveStream> stream;
    CComPtr<IArchiveWriter> writer;
    DWORD keyChannel = 0;
    DWORD dataChannel = 0;
    DWORD typeChannel = 0;

private:
    bool openChannels()
    {
        keyChannel = archivetest::channel(stream, rewindchannels::kKeyFrameChannel, 1);
        dataChannel = archivetest::channel(
            stream, m_audio ? rewindchannels::kAudioDataChannel : rewindchannels::kVideoDataChannel, 0);
        typeChannel = archivetest::channel(
            stream, m_audio ? rewindchannels::kAudioMediaTypeChannel : rewindchannels::kVideoMediaTypeChannel,
            1);
        return keyChannel && dataChannel && typeChannel;
    }

    bool m_audio = false;
};

struct Played
{
    LONGLONG time = 0;
    LONGLONG position = 0;
    LONGLONG duration = 0;
    QByteArray bytes;
};

// Plays a RewindSourceMF: keeps `depth` requests outstanding and copies every sample it gets.
class Player
{
public:
    HRESULT open(const Recording &r, LONGLONG from, LONGLONG to, bool isAudio = false)
    {
        HRESULT hr = E_FAIL;
        source = CComPtr<RewindSourceMF>(new RewindSourceMF(hr));
        if (FAILED(hr))
            return hr;
        hr = source->initialize(r.server, r.stream, isAudio, -1, 0, static_cast<quint64>(from),
                                static_cast<quint64>(to));
        if (FAILED(hr))
            return hr;
        sourceEvents = std::make_unique<sourcetest::EventLog>(static_cast<IMFMediaSourceEx *>(source.p));
        streamEvents = std::make_unique<sourcetest::EventLog>(source->stream()->mediaStream());
        streamEvents->onEvent = [this](sourcetest::Event &e) { onStreamEvent(e); };
        return S_OK;
    }
    ~Player()
    {
        if (source)
            source->Shutdown();
    }

    HRESULT start(LONGLONG offset)
    {
        CComPtr<IMFPresentationDescriptor> descriptor;
        HRESULT hr = source->CreatePresentationDescriptor(&descriptor);
        const auto position = nyx::mf::PropVariant::fromInt64(offset);
        return SUCCEEDED(hr) ? source->Start(descriptor, nullptr, &position) : hr;
    }

    void request(int n)
    {
        for (int i = 0; i < n; ++i)
            source->stream()->RequestSample(nullptr);
    }

    // Plays until the end of stream (or until count samples came).
    bool playToEnd(int depth = 3, int count = INT_MAX, int timeoutMs = 60000)
    {
        m_depth = depth;
        request(depth);
        return streamEvents->waitFor([&] { return ended() || samples.size() >= count; }, timeoutMs);
    }

    bool ended() const { return streamEvents->count(MEEndOfStream) > 0; }
    IMFRateControl *rateControl()
    {
        if (!m_rate)
            MFGetService(static_cast<IMFMediaSourceEx *>(source.p), MF_RATE_CONTROL_SERVICE,
                         IID_IMFRateControl, reinterpret_cast<void **>(&m_rate));
        return m_rate;
    }

    CComPtr<RewindSourceMF> source;
    std::unique_ptr<sourcetest::EventLog> sourceEvents;
    std::unique_ptr<sourcetest::EventLog> streamEvents;
    QVector<Played> samples;
    // Frame sizes announced by MEStreamFormatChanged, with the index of the sample that followed.
    QVector<QPair<int, QSize>> formatChanges;
    int ticks = 0;
    // Keep the samples (as a slow sink would) instead of letting them go at once.
    bool hold = false;
    std::vector<CComPtr<IMFSample>> held;

private:
    void onStreamEvent(sourcetest::Event &e)
    {
        if (e.type == MEStreamTick)
            ++ticks;
        if (e.type == MEStreamFormatChanged) {
            CComPtr<IMFMediaType> type;
            e.object->QueryInterface(IID_IMFMediaType, reinterpret_cast<void **>(&type));
            UINT32 w = 0, h = 0;
            MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &w, &h);
            formatChanges.append({samples.size(), QSize(int(w), int(h))});
        }
        if (e.type != MEMediaSample)
            return;
        CComPtr<IMFSample> sample;
        e.object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&sample));
        Played p;
        sample->GetSampleTime(&p.time);
        sample->GetSampleDuration(&p.duration);
        UINT64 position = 0;
        sample->GetUINT64(RewindSamplePosition, &position);
        p.position = static_cast<LONGLONG>(position);
        p.bytes = sourcetest::sampleBytes(sample);
        samples.append(p);
        if (hold)
            held.push_back(sample);
        sample.Release();
        e.object.Release();
        if (m_depth > 0)
            request(1);
    }

    int m_depth = 0;
    CComPtr<IMFRateControl> m_rate;
};
} // namespace playbacktest
