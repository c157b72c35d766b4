#pragma once
// Streams as other recorders write them (H.264 access units, codec-compressed frames, raw audio
// blocks, each in its named channel, with formats in the stream's attribute block), played through
// RewindSourceMF with the playback tests' player.

#include "playbacktesthelpers.h"

#include "archive/archivefaults.h"
#include "mediasamples.h"

#include <QMap>
#include <functional>

namespace decodingtest {
using playbacktest::kBase;
using playbacktest::kSecond;

// One archive frame: records by channel name, blobs by channel name.
struct Record
{
    LONGLONG time = 0;
    QMap<QString, QByteArray> data;
    QMap<QString, QByteArray> blobs;
};

struct Attributes
{
    double frameRate = -1; // below 0: none stored
    QMap<QString, QByteArray> blobs;
};

// A stream of the given type in its own storage, with the attributes in its block.
inline bool createStream(playbacktest::Recording *r, const QString &name, DWORD type, const Attributes &a)
{
    r->server = archivetest::server();
    if (!r->server)
        return false;
    for (int i = 0; i < 100 && r->server->IsReady() != S_OK; ++i)
        QThread::msleep(10);
    if (FAILED(archivetest::createStorage(r->server, QStringLiteral("Storage-") + name, &r->storage)) ||
        FAILED(archivetest::createStream(r->server, r->storage, name, &r->id, type)) ||
        FAILED(r->server->OpenStream(r->id, &r->stream)))
        return false;
    auto record = std::make_unique<ArchiveStreamRecord>();
    std::memset(record.get(), 0, sizeof *record);
    CComPtr<IAttributeStore> store;
    store.CoCreateInstance(CLSID_AttributeStore);
    if (FAILED(r->stream->ReadRecord(record.get())) || !store ||
        FAILED(store->Bind(record->attributes, 4096, FALSE)))
        return false;
    if (a.frameRate >= 0)
        store->SetDouble(u"FrameRate", a.frameRate);
    for (auto it = a.blobs.begin(); it != a.blobs.end(); ++it)
        if (FAILED(store->SetBlob(reinterpret_cast<LPCWSTR>(it.key().utf16()),
                                  reinterpret_cast<const BYTE *>(it.value().constData()),
                                  static_cast<UINT32>(it.value().size()))))
            return false;
    return SUCCEEDED(r->stream->WriteRecord(record.get(), 0));
}

inline HRESULT writeRecords(playbacktest::Recording *r, const QVector<Record> &records)
{
    HRESULT hr = r->startWriter(records.isEmpty() ? kBase : records.first().time);
    auto id = [&](const QString &name) { return static_cast<int>(archivetest::channel(r->stream, name, 1)); };
    for (int i = 0; SUCCEEDED(hr) && i < records.size(); ++i) {
        const Record &f = records[i];
        hr = r->writer->BeginSample(f.time, f.time, 0);
        for (auto it = f.data.begin(); SUCCEEDED(hr) && it != f.data.end(); ++it)
            hr = r->writer->Data(id(it.key()), reinterpret_cast<const BYTE *>(it.value().constData()),
                                 static_cast<DWORD>(it.value().size()));
        for (auto it = f.blobs.begin(); SUCCEEDED(hr) && it != f.blobs.end(); ++it)
            hr = r->writer->Blob(id(it.key()), reinterpret_cast<const BYTE *>(it.value().constData()),
                                 static_cast<DWORD>(it.value().size()));
        const HRESULT ended = r->writer->EndSample();
        hr = FAILED(hr) ? hr : ended;
    }
    const HRESULT stopped = r->stopWriter();
    return FAILED(hr) ? hr : stopped;
}

// Waits until n samples have come (requesting one at a time), or the stream ended.
inline bool take(playbacktest::Player &p, int n, int timeoutMs = 60000)
{
    const int target = p.samples.size() + n;
    p.request(n);
    return p.streamEvents->waitFor([&] { return p.samples.size() >= target || p.ended(); }, timeoutMs);
}

// Frame step after some play: at rate 0 two more samples come, the second one while the reader's
// search for the current frame misses (injected). Both must carry the frame at the current position;
// false when they did not come.
inline bool frameStepTwice(playbacktest::Player &p)
{
    const int n = p.samples.size();
    if (FAILED(p.rateControl()->SetRate(FALSE, 0.0f)) || !take(p, 1))
        return false;
    nyx::archive::faults::fail(nyx::archive::faults::Operation::ReaderFindFrame, HRESULT_FROM_WIN32(1168), 1);
    const bool took = take(p, 1);
    nyx::archive::faults::clear();
    return took && p.samples.size() == n + 2;
}

inline QSize frameSize(IMFMediaType *type)
{
    UINT32 w = 0, h = 0;
    MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &w, &h);
    return QSize(int(w), int(h));
}

inline CComPtr<IMFMediaType> currentType(RewindSourceMF *source)
{
    CComPtr<IMFPresentationDescriptor> descriptor;
    CComPtr<IMFStreamDescriptor> sd;
    CComPtr<IMFMediaTypeHandler> handler;
    CComPtr<IMFMediaType> type;
    BOOL selected = FALSE;
    if (SUCCEEDED(source->CreatePresentationDescriptor(&descriptor)) &&
        SUCCEEDED(descriptor->GetStreamDescriptorByIndex(0, &selected, &sd)) &&
        SUCCEEDED(sd->GetMediaTypeHandler(&handler)))
        handler->GetCurrentMediaType(&type);
    return type;
}

inline QByteArray bytes(const void *data, int size)
{
    return QByteArray(reinterpret_cast<const char *>(data), size);
}
} // namespace decodingtest
