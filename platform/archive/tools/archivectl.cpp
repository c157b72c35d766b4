// archivectl: manages the storages and streams of an archive root from the command line.

#include "archive/archiveserver.h"
#include "com/com.h"
#include "win32/filetime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {
const char *const kUsage =
    "Usage: archivectl [--root DIR] COMMAND [ARGS]\n"
    "The archive root is DIR, else $TUNDRA_ARCHIVE_ROOT, else <data dir of TundraRecorder>/Archive.\n"
    "Commands:\n"
    "  drives                                    list the drives\n"
    "  list                                      list storages and their streams\n"
    "  create-storage NAME [--drive N] [--size BYTES]\n"
    "  delete-storage STORAGE\n"
    "  create-stream STORAGE NAME [--type N]     type 3 (default) or 7 (H.264 of another recorder)\n"
    "  delete-stream STORAGE STREAM\n"
    "  ensure STORAGE STREAM[,STREAM...] [--drive N] [--size BYTES] [--type N]\n"
    "                                            create what is missing; prints the identifiers\n"
    "  info STORAGE                              storage size, bytes on disk (kept within the size as a\n"
    "                                            ring: the oldest recordings make room), frames, bytes\n"
    "  info STORAGE STREAM                       stream info and sequences\n"
    "  dump STORAGE STREAM [--from FILETIME] [--to FILETIME] [--limit N]\n"
    "                                            frames with their records\n"
    "STORAGE and STREAM are names or braced identifiers; names hold no control characters and more\n"
    "than spaces. dump: --limit N >= 0 (default 100), --from not after --to.\n"
    "--root DIR must exist unless the command creates something (create-storage, ensure).\n"
    "Exit code 0 on success, 1 on failure (also when dump met damaged frames), 2 on bad usage.\n";

constexpr long long kDefaultSize = 1024LL * 1024 * 1024;
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(1168);    // ERROR_NOT_FOUND
constexpr HRESULT kFileCorrupt = HRESULT_FROM_WIN32(1392); // ERROR_FILE_CORRUPT
constexpr HRESULT kReadFault = HRESULT_FROM_WIN32(30);     // ERROR_READ_FAULT: the segment is missing

int fail(const char *what, HRESULT hr)
{
    std::fprintf(stderr, "archivectl: %s failed (0x%08X)\n", what, static_cast<unsigned>(hr));
    return 1;
}

QString fromField(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

bool validName(const QString &name)
{
    // A name of blanks only cannot be told apart in any list.
    if (name.trimmed().isEmpty() || name.size() > nyx::archive::kMaxNameUnits)
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool toField(const QString &name, WCHAR *field)
{
    if (!validName(name))
        return false;
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(name.size()) * sizeof(WCHAR));
    return true;
}

QString timeText(ULONGLONG ft)
{
    if (!ft)
        return QStringLiteral("-");
    const qint64 ms = static_cast<qint64>((ft - nyx::win32::kUnixEpochFileTime) / 10000);
    return QStringLiteral("%1 (%2)").arg(ft).arg(
        QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs));
}

struct Ctl
{
    CComPtr<IRewindServer> server;

    std::vector<ArchiveStorageRecord> storages()
    {
        DWORD count = 0;
        std::vector<ArchiveStorageRecord> list;
        if (FAILED(server->GetStorageCount(&count)))
            return list;
        list.resize(count);
        DWORD n = 0;
        if (FAILED(server->GetStorages(list.data(), count, &n)))
            n = 0;
        list.resize(n);
        return list;
    }

    std::vector<ArchiveStreamHead> streams(const GUID &storage)
    {
        DWORD count = 0;
        std::vector<ArchiveStreamHead> list;
        if (FAILED(server->GetStreamCount(storage, &count)))
            return list;
        list.resize(count);
        DWORD n = 0;
        if (FAILED(server->GetStreams(storage, list.data(), count, &n)))
            n = 0;
        list.resize(n);
        return list;
    }

    bool findStorage(const QString &key, GUID *id)
    {
        GUID parsed{};
        const bool isGuid = nyx::com::parseGuid(key, &parsed);
        for (const auto &s : storages()) {
            if ((isGuid && s.storageId == parsed) || fromField(s.name) == key) {
                *id = s.storageId;
                return true;
            }
        }
        return false;
    }

    bool findStream(const GUID &storage, const QString &key, GUID *id)
    {
        GUID parsed{};
        const bool isGuid = nyx::com::parseGuid(key, &parsed);
        for (const auto &s : streams(storage)) {
            if ((isGuid && s.streamId == parsed) || fromField(s.name) == key) {
                *id = s.streamId;
                return true;
            }
        }
        return false;
    }

    HRESULT createStorage(const QString &name, int drive, long long size, GUID *id)
    {
        auto block = std::make_unique<CreateStorageBlock>();
        std::memset(block.get(), 0, sizeof *block);
        if (!toField(name, block->name))
            return E_INVALIDARG;
        block->version = 1;
        block->driveIndex = static_cast<DWORD>(drive);
        block->size = size;
        CComPtr<IAttributeStore> store;
        HRESULT hr = store.CoCreateInstance(CLSID_AttributeStore);
        if (FAILED(hr))
            return hr;
        hr = store->Bind(block->attributes, sizeof block->attributes, TRUE);
        if (FAILED(hr))
            return hr;
        CComPtr<IUnknown> created;
        hr = server->CreateStorage(block.get(), &created);
        if (SUCCEEDED(hr))
            *id = block->storageId;
        return hr;
    }

    HRESULT createStream(const GUID &storage, const QString &name, DWORD type, GUID *id)
    {
        auto record = std::make_unique<ArchiveStreamRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->head.storageId = storage;
        if (!toField(name, record->head.name))
            return E_INVALIDARG;
        record->head.streamType = type;
        CComPtr<IAttributeStore> store;
        HRESULT hr = store.CoCreateInstance(CLSID_AttributeStore);
        if (FAILED(hr))
            return hr;
        hr = store->Bind(record->attributes, sizeof record->attributes, TRUE);
        if (FAILED(hr))
            return hr;
        CComPtr<IUnknown> created;
        hr = server->CreateStream(record.get(), &created);
        if (SUCCEEDED(hr))
            *id = record->head.streamId;
        return hr;
    }
};

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
    QStringList args = app.arguments().mid(1);
    std::map<QString, QString> options;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a.startsWith(QLatin1String("--"))) {
            if (i + 1 >= args.size())
                return usage();
            options[a.mid(2)] = args[++i];
        } else {
            positional << a;
        }
    }
    for (const auto &o : options) {
        static const QStringList known = {"root", "drive", "size", "type", "from", "to", "limit"};
        if (!known.contains(o.first))
            return usage();
    }
    if (positional.isEmpty())
        return usage();
    if (options.count(QStringLiteral("root")))
        qputenv(nyx::archive::kRootVariable, options[QStringLiteral("root")].toLocal8Bit());
    bool ok = true;
    auto number = [&](const char *key, long long fallback) {
        auto it = options.find(QLatin1String(key));
        if (it == options.end())
            return fallback;
        bool good = false;
        const long long v = it->second.toLongLong(&good);
        ok = ok && good;
        return v;
    };
    const int drive = static_cast<int>(number("drive", 0));
    const long long size = number("size", kDefaultSize);
    const long long type = number("type", 3);
    const long long from = number("from", 0);
    const long long to = number("to", INT64_MAX);
    const long long limit = number("limit", 100);
    if (!ok || (type != 3 && type != 7))
        return usage();
    if (limit < 0) {
        std::fprintf(stderr, "archivectl: --limit must be 0 or more (it is %lld)\n", limit);
        return 2;
    }
    if (from < 0 || from > to) {
        std::fprintf(stderr, "archivectl: --from (%lld) must be 0 or more and not after --to (%lld)\n", from,
                     to);
        return 2;
    }
    const QString command = positional.first();
    const bool creating = command == QLatin1String("create-storage") || command == QLatin1String("ensure");
    if (options.count(QStringLiteral("root")) && !creating &&
        !QDir(options[QStringLiteral("root")]).exists()) {
        std::fprintf(stderr, "archivectl: the archive root %s does not exist\n",
                     qPrintable(options[QStringLiteral("root")]));
        return 1;
    }
    for (int i = 1; i < positional.size(); ++i) {
        for (const QString &name : positional[i].split(QLatin1Char(','))) {
            if (!name.isEmpty() && !validName(name)) {
                std::fprintf(stderr,
                             "archivectl: a name must be 1 to %d characters, not only spaces, without "
                             "control characters\n",
                             nyx::archive::kMaxNameUnits);
                return fail("checking the names", E_INVALIDARG);
            }
        }
    }

    nyx::archive::registerArchiveServer();
    Ctl ctl;
    HRESULT hr = ctl.server.CoCreateInstance(CLSID_RewindServer);
    if (FAILED(hr) || !ctl.server)
        return fail("opening the archive", hr);
    while ((hr = ctl.server->IsReady()) == E_PENDING)
        QThread::msleep(20);
    if (FAILED(hr))
        return fail("opening the archive", hr);

    positional.removeFirst();
    if (command == QLatin1String("drives") && positional.isEmpty()) {
        ULONGLONG mask = 0;
        if (FAILED(hr = ctl.server->GetDriveMask(&mask)))
            return fail("drive mask", hr);
        for (int i = 0; i < 64; ++i) {
            if (!(mask & (1ULL << i)))
                continue;
            LONGLONG total = 0, freeSize = 0, used = 0;
            CComBSTR name;
            if (SUCCEEDED(ctl.server->GetDriveInfo(i, &total, &freeSize, &used, &name)))
                std::printf("%d %s size=%lld free=%lld used=%lld\n", i, qPrintable(name.toQString()),
                            static_cast<long long>(total), static_cast<long long>(freeSize),
                            static_cast<long long>(used));
        }
        return 0;
    }
    if (command == QLatin1String("list") && positional.isEmpty()) {
        for (const auto &s : ctl.storages()) {
            std::printf("%s %s\n", qPrintable(nyx::com::toString(s.storageId)),
                        qPrintable(fromField(s.name)));
            for (const auto &h : ctl.streams(s.storageId))
                std::printf("  %s %s type=%u\n", qPrintable(nyx::com::toString(h.streamId)),
                            qPrintable(fromField(h.name)), h.streamType);
        }
        return 0;
    }
    if (command == QLatin1String("create-storage") && positional.size() == 1) {
        GUID id{};
        if (FAILED(hr = ctl.createStorage(positional[0], drive, size, &id)))
            return fail("create-storage", hr);
        std::printf("%s\n", qPrintable(nyx::com::toString(id)));
        return 0;
    }
    if (command == QLatin1String("delete-storage") && positional.size() == 1) {
        GUID id{};
        if (!ctl.findStorage(positional[0], &id))
            return fail("finding the storage", kNotFound);
        if (FAILED(hr = ctl.server->DeleteStorage(id)))
            return fail("delete-storage", hr);
        return 0;
    }
    if (command == QLatin1String("create-stream") && positional.size() == 2) {
        GUID storage{}, id{};
        if (!ctl.findStorage(positional[0], &storage))
            return fail("finding the storage", kNotFound);
        if (FAILED(hr = ctl.createStream(storage, positional[1], static_cast<DWORD>(type), &id)))
            return fail("create-stream", hr);
        std::printf("%s\n", qPrintable(nyx::com::toString(id)));
        return 0;
    }
    if (command == QLatin1String("delete-stream") && positional.size() == 2) {
        GUID storage{}, id{};
        if (!ctl.findStorage(positional[0], &storage) || !ctl.findStream(storage, positional[1], &id))
            return fail("finding the stream", kNotFound);
        if (FAILED(hr = ctl.server->DeleteStream(id)))
            return fail("delete-stream", hr);
        return 0;
    }
    if (command == QLatin1String("ensure") && positional.size() == 2) {
        GUID storage{};
        if (!ctl.findStorage(positional[0], &storage) &&
            FAILED(hr = ctl.createStorage(positional[0], drive, size, &storage)) &&
            !ctl.findStorage(positional[0], &storage)) // another process may have made it meanwhile
            return fail("creating the storage", hr);
        std::printf("%s %s\n", qPrintable(nyx::com::toString(storage)), qPrintable(positional[0]));
        for (const QString &name : positional[1].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            GUID id{};
            if (!ctl.findStream(storage, name, &id) &&
                FAILED(hr = ctl.createStream(storage, name, static_cast<DWORD>(type), &id)) &&
                !ctl.findStream(storage, name, &id))
                return fail("creating a stream", hr);
            std::printf("  %s %s\n", qPrintable(nyx::com::toString(id)), qPrintable(name));
        }
        return 0;
    }
    if (command == QLatin1String("info") && positional.size() == 1) {
        GUID storage{};
        if (!ctl.findStorage(positional[0], &storage))
            return fail("finding the storage", kNotFound);
        LONGLONG storageSize = 0;
        ULONGLONG mask = 0;
        if (FAILED(hr = ctl.server->GetDriveMask(&mask)))
            return fail("drive mask", hr);
        for (int i = 0; i < 64 && !storageSize; ++i) {
            CComBSTR drive;
            if ((mask & (1ULL << i)) &&
                SUCCEEDED(ctl.server->GetStoragePart(storage, i, &storageSize, &drive)))
                continue;
        }
        CRewindStorageStats stats{};
        if (FAILED(hr = ctl.server->GetStorageStats(storage, &stats)))
            return fail("storage stats", hr);
        std::printf("storage %s %s\nsize %lld\non-disk %llu\nframes %llu\nbytes %llu\nrecording %llu\n",
                    qPrintable(nyx::com::toString(storage)), qPrintable(positional[0]),
                    static_cast<long long>(storageSize),
                    static_cast<unsigned long long>(stats.dataSizeOnDisk),
                    static_cast<unsigned long long>(stats.totalFramesWritten),
                    static_cast<unsigned long long>(stats.totalBytesWritten),
                    static_cast<unsigned long long>(stats.lockedDataSizeOnDisk));
        return 0;
    }
    if ((command == QLatin1String("info") || command == QLatin1String("dump")) && positional.size() == 2) {
        GUID storage{}, id{};
        if (!ctl.findStorage(positional[0], &storage) || !ctl.findStream(storage, positional[1], &id))
            return fail("finding the stream", kNotFound);
        if (command == QLatin1String("info")) {
            ArchiveStreamInfo info{};
            if (FAILED(hr = ctl.server->GetStreamInfo(id, &info)))
                return fail("stream info", hr);
            std::printf("stream %s type=%u\n", qPrintable(nyx::com::toString(id)), info.streamType);
            std::printf("start %s\nend %s\nframes %llu\nbytes %llu\nchanges %llu\nwriting %u\n",
                        qPrintable(timeText(info.startTime)), qPrintable(timeText(info.endTime)),
                        static_cast<unsigned long long>(info.frameCount),
                        static_cast<unsigned long long>(info.dataSize),
                        static_cast<unsigned long long>(info.sequenceChangeCounter), info.writing);
            CComPtr<IArchiveStream> stream;
            DWORD count = 0;
            if (FAILED(hr = ctl.server->OpenStream(id, &stream)) ||
                FAILED(hr = stream->GetSequenceCount(&count)))
                return fail("sequences", hr);
            std::vector<ArchiveSequenceRecord> seqs(count);
            DWORD n = 0;
            if (count && FAILED(hr = stream->GetSequences(seqs.data(), count, &n)))
                return fail("sequences", hr);
            for (DWORD i = 0; i < n; ++i)
                std::printf("sequence %u: start %s first %s last %s frames %llu subsequences %llu\n", i,
                            qPrintable(timeText(seqs[i].startTime)),
                            qPrintable(timeText(seqs[i].firstFrameTime)),
                            qPrintable(timeText(seqs[i].lastFrameTime)),
                            static_cast<unsigned long long>(seqs[i].frameCount),
                            static_cast<unsigned long long>(seqs[i].subsequenceCount));
            return 0;
        }
        CComPtr<IArchiveStream> stream;
        if (FAILED(hr = ctl.server->OpenStream(id, &stream)))
            return fail("opening the stream", hr);
        std::map<DWORD, QString> names;
        for (const char *known : {"KeyFrame", "Video_H264", "Video_MediaType", "Audio_RAW", "Audio_MediaType",
                                  "Video_1", "Audio_1", "FieldOrder"}) {
            CComBSTR name(QString::fromLatin1(known));
            BYTE flag = 0;
            DWORD channel = 0;
            if (SUCCEEDED(stream->FindChannel(name, &flag, &channel)))
                names[channel] = QString::fromLatin1(known);
        }
        CComPtr<IUnknown> unknown;
        CComPtr<IArchiveReader> reader;
        if (FAILED(hr = ctl.server->CreateReader(&unknown)) || FAILED(hr = unknown.QueryInterface(&reader)) ||
            FAILED(hr = reader->Open(id, nyx::archive::ReaderModeShared)))
            return fail("opening a reader", hr);
        LONGLONG t = from;
        long long damaged = 0;
        for (long long shown = 0; shown < limit; ++shown) {
            LONGLONG frameTime = 0, frameNumber = 0;
            if (reader->FindFrameInRange(t, to, 1, &frameTime, &frameNumber, 0) != S_OK)
                break;
            std::printf("frame %lld time %s\n", static_cast<long long>(frameNumber),
                        qPrintable(timeText(static_cast<ULONGLONG>(frameTime))));
            for (DWORD channel = 1; channel <= 64; ++channel) {
                const BYTE *bytes = nullptr;
                DWORD length = 0;
                const QString label = names.count(channel) ? names[channel] : QString::number(channel);
                const HRESULT read = reader->ReadChannelData(channel, &bytes, &length);
                if (read == kFileCorrupt || read == kReadFault) {
                    // A listed frame whose segment is gone is as lost as a damaged one.
                    std::printf(read == kReadFault ? "  missing\n" : "  damaged\n");
                    ++damaged;
                    break;
                }
                if (SUCCEEDED(read))
                    std::printf("  %s data %u bytes\n", qPrintable(label), length);
                if (SUCCEEDED(reader->ReadChannelBlob(channel, &bytes, &length)))
                    std::printf("  %s blob %u bytes\n", qPrintable(label), length);
            }
            reader->ReleaseFrame();
            t = frameTime + 1;
        }
        if (damaged) {
            std::fprintf(stderr, "archivectl: %lld damaged or missing frame(s)\n", damaged);
            return 1;
        }
        return 0;
    }
    return usage();
}
