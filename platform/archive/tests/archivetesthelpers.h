#pragma once
// Shared steps of the archive tests: everything goes through the COM interfaces.

#include "archive/archivefaults.h"
#include "archive/archiveserver.h"
#include "com/com.h"

#include <QString>
#include <QStringList>
#include <QThread>
#include <QtGlobal>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace archivetest {
constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kFrame = kSecond / 50;
constexpr LONGLONG kBase = 133000000000000000LL; // a FILETIME in 2022

inline void useRoot(const QString &root, int startupMs = 0)
{
    qputenv(nyx::archive::kRootVariable, root.toLocal8Bit());
    qputenv(nyx::archive::kStartupVariable, QByteArray::number(startupMs));
}

inline CComPtr<IRewindServer> server()
{
    CComPtr<IRewindServer> s;
    s.CoCreateInstance(CLSID_RewindServer);
    return s;
}

inline void setName(WCHAR *field, const QString &name)
{
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(name.size()) * sizeof(WCHAR));
}

inline QString name(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

inline HRESULT createStorage(IRewindServer *s, const QString &storageName, GUID *id,
                             LONGLONG size = 1LL << 30, DWORD drive = 0)
{
    auto block = std::make_unique<CreateStorageBlock>();
    std::memset(block.get(), 0, sizeof *block);
    setName(block->name, storageName);
    block->version = 1;
    block->driveIndex = drive;
    block->size = size;
    CComPtr<IAttributeStore> store;
    store.CoCreateInstance(CLSID_AttributeStore);
    store->Bind(block->attributes, 4096, TRUE);
    CComPtr<IUnknown> created;
    const HRESULT hr = s->CreateStorage(block.get(), &created);
    *id = block->storageId;
    return hr;
}

inline HRESULT createStream(IRewindServer *s, const GUID &storage, const QString &streamName, GUID *id,
                            DWORD type = 3)
{
    auto record = std::make_unique<ArchiveStreamRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.storageId = storage;
    setName(record->head.name, streamName);
    record->head.streamType = type;
    CComPtr<IAttributeStore> store;
    store.CoCreateInstance(CLSID_AttributeStore);
    store->Bind(record->attributes, 4096, TRUE);
    CComPtr<IUnknown> created;
    const HRESULT hr = s->CreateStream(record.get(), &created);
    *id = record->head.streamId;
    return hr;
}

inline DWORD channel(IArchiveStream *stream, const QString &channelName, BYTE flag)
{
    CComBSTR text(channelName);
    DWORD id = 0;
    BYTE stored = 0;
    if (FAILED(stream->FindChannel(text, &stored, &id)))
        stream->CreateChannel(text, flag, &id);
    return id;
}

inline CComPtr<IArchiveReader> openReader(IRewindServer *s, const GUID &stream)
{
    CComPtr<IUnknown> unknown;
    CComPtr<IArchiveReader> reader;
    if (SUCCEEDED(s->CreateReader(&unknown)) && SUCCEEDED(unknown.QueryInterface(&reader)))
        reader->Open(stream, nyx::archive::ReaderModeShared);
    return reader;
}

// Collects what is logged (from any thread) while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    QStringList lines(const QString &containing) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.filter(containing);
    }

private:
    static LogCapture *&instance()
    {
        static LogCapture *capture = nullptr;
        return capture;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (LogCapture *c = instance()) {
            std::lock_guard<std::mutex> lock(c->m_mutex);
            c->m_lines << message;
        }
    }
    mutable std::mutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

// Deterministic payload of frame n.
inline std::vector<BYTE> payload(LONGLONG n, std::size_t size)
{
    std::vector<BYTE> bytes(size);
    std::uint32_t x = static_cast<std::uint32_t>(n * 2654435761u + 12345u);
    for (auto &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<BYTE>(x >> 24);
    }
    return bytes;
}
} // namespace archivetest
