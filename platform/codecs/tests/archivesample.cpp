#include "archivesample.h"

#include <QtTest>
#include <cstring>
#include <memory>

namespace archivesample {
namespace {
void setName(WCHAR *field, const QString &name)
{
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(name.size()) * sizeof(WCHAR));
}

DWORD channel(IArchiveStream *stream, const char *name)
{
    CComBSTR text{QString::fromLatin1(name)};
    DWORD id = 0;
    stream->CreateChannel(text, 1, &id);
    return id;
}

GUID g_storage = GUID_NULL;
} // namespace

void useRoot(const QString &root)
{
    qputenv(nyx::archive::kRootVariable, root.toLocal8Bit());
    qputenv(nyx::archive::kStartupVariable, "0");
    g_storage = GUID_NULL;
}

CComPtr<IRewindServer> server()
{
    CComPtr<IRewindServer> s;
    s.CoCreateInstance(CLSID_RewindServer);
    return s;
}

GUID createStream(IRewindServer *server, const StreamSetup &setup)
{
    if (g_storage == GUID_NULL) {
        auto block = std::make_unique<CreateStorageBlock>();
        std::memset(block.get(), 0, sizeof *block);
        setName(block->name, QStringLiteral("Storage"));
        block->version = 1;
        block->size = 1LL << 30;
        CComPtr<IAttributeStore> store;
        store.CoCreateInstance(CLSID_AttributeStore);
        store->Bind(block->attributes, 4096, TRUE);
        CComPtr<IUnknown> created;
        if (FAILED(server->CreateStorage(block.get(), &created)))
            return GUID_NULL;
        g_storage = block->storageId;
    }
    auto record = std::make_unique<ArchiveStreamRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.storageId = g_storage;
    setName(record->head.name, setup.name);
    record->head.streamType = setup.type;
    CComPtr<IAttributeStore> store;
    store.CoCreateInstance(CLSID_AttributeStore);
    store->Bind(record->attributes, 4096, TRUE);
    if (setup.storedFrameRate >= 0)
        store->SetDouble(u"FrameRate", setup.storedFrameRate);
    CComPtr<IUnknown> created;
    CComPtr<IArchiveStream> stream;
    DWORD video = 0;
    if (FAILED(server->CreateStream(record.get(), &created)) || FAILED(created.QueryInterface(&stream)) ||
        FAILED(stream->CreateChannel(CComBSTR(QStringLiteral("Video_1")), setup.videoFlag, &video)))
        return GUID_NULL;
    return record->head.streamId;
}

HRESULT writeRecords(IRewindServer *server, const GUID &stream, const std::vector<Record> &records,
                     CComPtr<IArchiveWriter> *keepOpen, bool markKeys)
{
    CComPtr<IArchiveStream> opened;
    CComPtr<IArchiveWriter> writer;
    HRESULT hr = server->OpenStream(stream, &opened);
    if (SUCCEEDED(hr))
        hr = server->CreateWriter(stream, &writer);
    if (FAILED(hr) || records.empty())
        return FAILED(hr) ? hr : E_INVALIDARG;
    const DWORD video = channel(opened, "Video_1");
    const DWORD key = channel(opened, "KeyFrame");
    hr = writer->Start(static_cast<ULONGLONG>(records.front().time));
    for (std::size_t i = 0; SUCCEEDED(hr) && i < records.size(); ++i) {
        const Record &r = records[i];
        hr = writer->BeginSample(r.time, r.time, 0);
        if (SUCCEEDED(hr))
            hr = writer->Data(static_cast<int>(video), reinterpret_cast<const BYTE *>(r.video.constData()),
                              static_cast<DWORD>(r.video.size()));
        if (SUCCEEDED(hr) && r.key && markKeys)
            hr = writer->Blob(static_cast<int>(key), nullptr, 0);
        if (SUCCEEDED(hr))
            hr = writer->EndSample();
    }
    if (SUCCEEDED(hr) && keepOpen)
        *keepOpen = writer;
    else if (SUCCEEDED(hr))
        hr = writer->Stop();
    return hr;
}
} // namespace archivesample
