// Test helper: records archive frames into named streams of a storage, as a recorder process
// would, so that the station's screens have sequences to show.
//   stationframes STORAGE STREAM[,STREAM...] SECONDS GAP_SECONDS
// writes two sequences of SECONDS at 25 frames per second into each stream, the second one
// ending now and GAP_SECONDS after the first. Prints "ok" when every frame was written.

#include "archive/archiveserver.h"
#include "com/com.h"
#include "win32/filetime.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kFrame = kSecond / 25;

QString fromField(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

CComPtr<IRewindServer> readyServer()
{
    CComPtr<IRewindServer> server;
    if (FAILED(server.CoCreateInstance(CLSID_RewindServer)))
        return {};
    // The archive server takes a moment to start.
    for (int i = 0; i < 400; ++i) {
        if (server->IsReady() != E_PENDING)
            return server;
        QThread::msleep(50);
    }
    return {};
}

bool findStream(IRewindServer *server, const QString &storageName, const QString &streamName, GUID *id)
{
    DWORD count = 0;
    if (FAILED(server->GetStorageCount(&count)))
        return false;
    std::vector<ArchiveStorageRecord> storages(count);
    if (count == 0 || FAILED(server->GetStorages(storages.data(), count, &count)))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        if (fromField(storages[i].name) != storageName)
            continue;
        DWORD streamCount = 0;
        if (FAILED(server->GetStreamCount(storages[i].storageId, &streamCount)))
            return false;
        std::vector<ArchiveStreamHead> streams(streamCount);
        if (streamCount == 0 ||
            FAILED(server->GetStreams(storages[i].storageId, streams.data(), streamCount, &streamCount)))
            return false;
        for (DWORD j = 0; j < streamCount; ++j) {
            if (fromField(streams[j].name) == streamName) {
                *id = streams[j].streamId;
                return true;
            }
        }
    }
    return false;
}

DWORD channel(IArchiveStream *stream, const char *name, BYTE flag)
{
    CComBSTR text(QString::fromLatin1(name));
    DWORD id = 0;
    BYTE stored = 0;
    if (FAILED(stream->FindChannel(text, &stored, &id)))
        stream->CreateChannel(text, flag, &id);
    return id;
}

bool record(IRewindServer *server, const GUID &streamId, LONGLONG start, int frames)
{
    CComPtr<IArchiveStream> stream;
    if (FAILED(server->OpenStream(streamId, &stream)))
        return false;
    const DWORD keyFrame = channel(stream, "KeyFrame", 1);
    const DWORD video = channel(stream, "Video_H264", 0);
    CComPtr<IArchiveWriter> writer;
    if (FAILED(server->CreateWriter(streamId, &writer)) || FAILED(writer->Start(ULONGLONG(start))))
        return false;
    std::vector<BYTE> payload(2000);
    for (int i = 0; i < frames; ++i) {
        const LONGLONG time = start + i * kFrame;
        std::memset(payload.data(), i & 0xff, payload.size());
        if (FAILED(writer->BeginSample(time, time, 0)) ||
            FAILED(writer->Data(int(video), payload.data(), DWORD(payload.size()))) ||
            (i % 25 == 0 && FAILED(writer->Blob(int(keyFrame), nullptr, 0))) || FAILED(writer->EndSample()))
            return false;
    }
    return SUCCEEDED(writer->Stop());
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: stationframes STORAGE STREAM[,STREAM...] SECONDS GAP_SECONDS\n");
        return 2;
    }
    const int seconds = args[3].toInt();
    const int gap = args[4].toInt();
    CComPtr<IRewindServer> server = readyServer();
    if (!server) {
        std::fprintf(stderr, "stationframes: no archive server\n");
        return 1;
    }
    const LONGLONG now = LONGLONG(nyx::win32::systemTimeAsFileTime());
    const LONGLONG secondStart = now - seconds * kSecond;
    const LONGLONG firstStart = secondStart - (gap + seconds) * kSecond;
    for (const QString &name : args[2].split(QLatin1Char(','))) {
        GUID id{};
        if (!findStream(server, args[1], name, &id)) {
            std::fprintf(stderr, "stationframes: no stream %s\n", qPrintable(name));
            return 1;
        }
        if (!record(server, id, firstStart, seconds * 25) || !record(server, id, secondStart, seconds * 25)) {
            std::fprintf(stderr, "stationframes: writing %s failed\n", qPrintable(name));
            return 1;
        }
    }
    std::printf("ok\n");
    return 0;
}
