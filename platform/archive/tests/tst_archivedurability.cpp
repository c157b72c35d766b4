// What survives the ordinary accidents of a recorder's disk: a lost or emptied frame index, a full
// disk, a read-only drive and a lost catalog. Each accident is made for real (files removed, a small
// tmpfs filled, read-only bind mounts); the operator's tool runs as a process of its own.

#include "archive/src/framestore.h"
#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include "logging/logthrottle.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/mount.h>

using namespace archivetest;

namespace {
constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(112);
constexpr HRESULT kFileCorrupt = HRESULT_FROM_WIN32(1392);

std::size_t sizeOf(LONGLONG n)
{
    return 500 + std::size_t(n % 5) * 7000;
}

struct Ctl
{
    int code;
    QString out, err;
};

Ctl archivectl(const QString &root, const QStringList &args)
{
    QProcess p;
    p.start(tundra::test::binDir() + QStringLiteral("/archivectl"), QStringList{"--root", root} + args);
    if (!p.waitForFinished(60000))
        return {-1, {}, {}};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A storage "Main" with a stream "Cam" (video dense, key frames sparse) holding `frames` frames.
struct Recorded
{
    GUID storage{}, stream{};
    DWORD video = 0, key = 0;
};

Recorded record(const QString &root, LONGLONG frames)
{
    useRoot(root);
    Recorded r;
    auto s = server();
    EXPECT_EQ(S_OK, createStorage(s, QStringLiteral("Main"), &r.storage));
    EXPECT_EQ(S_OK, createStream(s, r.storage, QStringLiteral("Cam"), &r.stream));
    CComPtr<IArchiveStream> obj;
    EXPECT_EQ(S_OK, s->OpenStream(r.stream, &obj));
    r.video = channel(obj, QStringLiteral("Video_H264"), 0);
    r.key = channel(obj, QStringLiteral("KeyFrame"), 1);
    CComPtr<IArchiveWriter> writer;
    EXPECT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
    EXPECT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    for (LONGLONG i = 0; i < frames; ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, sizeOf(i));
        EXPECT_EQ(S_OK, writer->BeginSample(t, t, 0));
        EXPECT_EQ(S_OK, writer->Data(int(r.video), bytes.data(), DWORD(bytes.size())));
        if (i % 25 == 0) {
            EXPECT_EQ(S_OK, writer->Blob(int(r.key), nullptr, 0));
        }
        EXPECT_EQ(S_OK, writer->EndSample());
    }
    EXPECT_EQ(S_OK, writer->Stop());
    return r;
}

// Reads every frame in order; each must be frame n with its bytes. Returns the count.
LONGLONG verify(IRewindServer *s, const Recorded &r, LONGLONG first = 0)
{
    auto reader = openReader(s, r.stream);
    if (!reader)
        return -1;
    LONGLONG t = 0, n = first, found = 0;
    while (reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0) == S_OK) {
        EXPECT_EQ(kBase + n * kFrame, found) << "frame " << n;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        EXPECT_EQ(S_OK, reader->ReadChannelData(r.video, &bytes, &length)) << "frame " << n;
        const auto want = payload(n, sizeOf(n));
        if (length != want.size() || std::memcmp(want.data(), bytes, length) != 0)
            ADD_FAILURE() << "frame " << n << " differs";
        reader->ReleaseFrame();
        t = found + 1;
        ++n;
    }
    return n - first;
}

QMap<QString, qint64> segmentSizes(const QString &root)
{
    QMap<QString, qint64> sizes;
    QDirIterator it(root, {QStringLiteral("seg-*.dat")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        sizes[it.filePath()] = it.fileInfo().size();
    }
    return sizes;
}

QString indexPath(const QString &root, const GUID &storage)
{
    return root + QStringLiteral("/drive-a/") + nyx::com::toString(storage).mid(1, 36).toUpper() +
           QStringLiteral("/index.db");
}

// A mount made for one test, undone when it ends.
struct Mount
{
    QString target;
    bool ok = false;
    Mount(const QString &source, const QString &where, const char *type, unsigned long flags,
          const char *data)
        : target(where)
    {
        ok = ::mount(QFile::encodeName(source).constData(), QFile::encodeName(where).constData(), type, flags,
                     data) == 0;
    }
    // A read-only view of a folder over itself.
    static std::unique_ptr<Mount> readOnly(const QString &folder)
    {
        auto m = std::make_unique<Mount>(folder, folder, nullptr, MS_BIND, nullptr);
        if (m->ok && ::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                             MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            m.reset();
        }
        return m && m->ok ? std::move(m) : nullptr;
    }
    // Makes a read-only view writable again, as an operator's remount does.
    bool makeWritable() const
    {
        return ::mount(nullptr, QFile::encodeName(target).constData(), nullptr, MS_BIND | MS_REMOUNT,
                       nullptr) == 0;
    }
    ~Mount()
    {
        if (ok)
            ::umount2(QFile::encodeName(target).constData(), MNT_DETACH);
    }
};

class ArchiveDurability : public ::testing::TestWithParam<const char *>
{
};

// The index of a storage with 300 frames is deleted or emptied; the next process that opens the
// storage (the operator's list) takes every frame back from the segments, byte for byte.
TEST_P(ArchiveDurability, LostIndexIsRebuiltFromTheSegments)
{
    const QString how = QString::fromLatin1(GetParam());
    const QString root = tundra::test::freshDir(QStringLiteral("lostindex-") + how);
    const Recorded r = record(root, 300);
    const auto before = segmentSizes(root);
    const QString index = indexPath(root, r.storage);
    ASSERT_TRUE(QFile::exists(index));
    if (how == QLatin1String("deleted")) {
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(index + QLatin1String(suffix));
    } else {
        QFile file(index);
        ASSERT_TRUE(file.resize(0));
    }
    const Ctl info = archivectl(root, {"info", "Main", "Cam"});
    EXPECT_EQ(0, info.code) << qPrintable(info.err);
    EXPECT_TRUE(info.out.contains(QStringLiteral("frames 300"))) << qPrintable(info.out);
    EXPECT_EQ(before, segmentSizes(root)) << "no segment byte is cut";

    useRoot(root);
    auto s = server();
    EXPECT_EQ(300, verify(s, r));
    // The key-frame channel is searchable again.
    auto reader = openReader(s, r.stream);
    LONGLONG found = 0;
    ASSERT_EQ(S_OK, reader->FindFrame(kBase + 30 * kFrame, 2, &found, nullptr, nullptr, nullptr, r.key));
    EXPECT_EQ(kBase + 25 * kFrame, found);
    // Recording goes on behind the rebuilt frames.
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + 300 * kFrame)));
    for (LONGLONG i = 300; i < 310; ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, sizeOf(i));
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Data(int(r.video), bytes.data(), DWORD(bytes.size())));
        ASSERT_EQ(S_OK, writer->EndSample());
    }
    ASSERT_EQ(S_OK, writer->Stop());
    EXPECT_EQ(310, verify(s, r));
}

INSTANTIATE_TEST_SUITE_P(Index, ArchiveDurability, ::testing::Values("deleted", "zeroed"));

// A rebuild stops at a damaged frame and leaves the rest of the file as it is.
TEST(ArchiveDurabilityIndex, RebuildStopsAtADamagedFrame)
{
    const QString root = tundra::test::freshDir(QStringLiteral("rebuild-damaged"));
    const Recorded r = record(root, 50);
    const auto before = segmentSizes(root);
    ASSERT_EQ(1, before.size());
    // Damage a payload byte of frame 40 (frames are laid out back to back).
    qint64 offset = 0;
    for (LONGLONG i = 0; i < 40; ++i)
        offset += 32 + 12 + qint64(sizeOf(i)) + (i % 25 == 0 ? 12 : 0);
    QFile segment(before.firstKey());
    ASSERT_TRUE(segment.open(QIODevice::ReadWrite));
    segment.seek(offset + 32 + 12 + 5);
    segment.write("\xFF\x00\xFF", 3);
    segment.close();
    QFile::remove(indexPath(root, r.storage));

    useRoot(root);
    auto s = server();
    EXPECT_EQ(40, verify(s, r));
    EXPECT_EQ(before, segmentSizes(root));
}

// The catalog is lost while storages are on disk: the archive refuses to open and names them,
// and it never starts a new catalog over them.
TEST(ArchiveDurabilityCatalog, LostCatalogIsRefusedNamingTheFolders)
{
    const QString root = tundra::test::freshDir(QStringLiteral("lostcatalog"));
    const Recorded r = record(root, 20);
    const auto before = segmentSizes(root);
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(root + QStringLiteral("/catalog.db") + QLatin1String(suffix));
    const Ctl list = archivectl(root, {"list"});
    EXPECT_EQ(1, list.code);
    EXPECT_TRUE(list.err.contains(nyx::com::toString(r.storage).mid(1, 36).toUpper()))
        << qPrintable(list.err);
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/catalog.db")));
    EXPECT_NE(0, archivectl(root, {"create-storage", "Other"}).code);
    EXPECT_EQ(before, segmentSizes(root));
    EXPECT_TRUE(QFile::exists(indexPath(root, r.storage)));
}

// A read-only root or drive: everything recorded can be listed and played; writing is refused
// as access denied, not as damage.
class ArchiveReadOnly : public ::testing::TestWithParam<const char *>
{
};

TEST_P(ArchiveReadOnly, RecordingsPlayAndWritingIsDenied)
{
    const QString which = QString::fromLatin1(GetParam());
    const QString root = tundra::test::freshDir(QStringLiteral("readonly-") + which);
    const Recorded r = record(root, 100);
    auto mount = Mount::readOnly(which == QLatin1String("root") ? root : root + QStringLiteral("/drive-a"));
    if (!mount)
        GTEST_SKIP() << "read-only bind mounts are not permitted here";
    useRoot(root);
    auto s = server();
    ASSERT_TRUE(s);
    ArchiveStreamHead heads[2] = {};
    DWORD n = 0;
    ASSERT_EQ(S_OK, s->GetStreams(r.storage, heads, 2, &n));
    EXPECT_EQ(1u, n);
    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(r.stream, &info));
    EXPECT_EQ(100u, info.frameCount);
    CRewindStorageStats stats{};
    EXPECT_EQ(S_OK, s->GetStorageStats(r.storage, &stats));
    EXPECT_EQ(100, verify(s, r));
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
    EXPECT_EQ(E_ACCESSDENIED, writer->Start(ULONGLONG(kBase + 200 * kFrame)));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(r.stream, &obj));
    CComBSTR name(QStringLiteral("Audio_1"));
    DWORD id = 0;
    if (which == QLatin1String("root")) {
        EXPECT_EQ(E_ACCESSDENIED, obj->CreateChannel(name, 0, &id));
        GUID other{};
        EXPECT_EQ(E_ACCESSDENIED, createStorage(s, QStringLiteral("Other"), &other));
    }
    EXPECT_EQ(E_ACCESSDENIED, s->DeleteStream(r.stream));
    EXPECT_EQ(E_ACCESSDENIED, s->DeleteStorage(r.storage));
    const Ctl dump = archivectl(root, {"dump", "Main", "Cam", "--limit", "1000"});
    EXPECT_EQ(0, dump.code) << qPrintable(dump.err);
    EXPECT_EQ(100, dump.out.count(QStringLiteral("frame ")));
}

// The root or drive is made writable while the process holds the archive read-only, a reader open
// all along: the next writer records in a new sequence without a restart, the catalog takes new
// channels, streams and storages, and the reader held across reads the old frames and the new.
TEST_P(ArchiveReadOnly, RecordsOnceWritableWithoutARestart)
{
    const QString which = QString::fromLatin1(GetParam());
    const bool rootReadOnly = which == QLatin1String("root");
    const QString root = tundra::test::freshDir(QStringLiteral("readonly-writable-") + which);
    const Recorded r = record(root, 100);
    auto mount = Mount::readOnly(rootReadOnly ? root : root + QStringLiteral("/drive-a"));
    if (!mount)
        GTEST_SKIP() << "read-only bind mounts are not permitted here";
    useRoot(root);
    auto s = server();
    ASSERT_TRUE(s);
    // Frame n and its bytes, through a reader.
    const auto reads = [&](IArchiveReader *reader, LONGLONG n) {
        LONGLONG found = 0;
        if (reader->FindFrameInRange(kBase + n * kFrame, INT64_MAX, 1, &found, nullptr, 0) != S_OK)
            return false;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        const auto want = payload(n, sizeOf(n));
        const bool same = found == kBase + n * kFrame &&
                          reader->ReadChannelData(r.video, &bytes, &length) == S_OK &&
                          length == want.size() && std::memcmp(want.data(), bytes, length) == 0;
        reader->ReleaseFrame();
        return same;
    };
    auto held = openReader(s, r.stream);
    ASSERT_TRUE(held);
    const auto heldReads = [&](LONGLONG n) { return reads(held, n); };
    // A player and the service's poll go on all along on a thread of their own, through the reopening.
    auto busy = openReader(s, r.stream);
    ASSERT_TRUE(busy);
    std::atomic<bool> stop{false};
    std::atomic<int> played{0}, wrong{0};
    std::thread player([&] {
        for (LONGLONG n = 0; !stop; n = (n + 7) % 100) {
            ArchiveStreamInfo polled{};
            const bool ok = reads(busy, n) && s->GetStreamInfo(r.stream, &polled) == S_OK &&
                            polled.frameCount >= 100 && polled.frameCount <= 150;
            ++(ok ? played : wrong);
        }
    });
    const auto stopPlayer = [&] {
        stop = true;
        if (player.joinable())
            player.join();
    };
    const auto stopsPlayer = qScopeGuard(stopPlayer);
    // Whether the player plays on past `count` within generous time.
    const auto playsBeyond = [&](int count) {
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
             played <= count && std::chrono::steady_clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return played > count;
    };
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(r.stream, &obj));
    CComBSTR audio(QStringLiteral("Audio_1"));
    DWORD audioId = 0;
    GUID other{};
    // A recorder tries again and again while it is read-only: each attempt is refused as access
    // denied, and reading goes on.
    for (int attempt = 0; attempt < 2; ++attempt) {
        CComPtr<IArchiveWriter> writer;
        ASSERT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
        EXPECT_EQ(E_ACCESSDENIED, writer->Start(ULONGLONG(kBase + 100 * kFrame))) << "attempt " << attempt;
        EXPECT_TRUE(heldReads(attempt * 40 + 10)) << "attempt " << attempt;
        if (rootReadOnly) {
            EXPECT_EQ(E_ACCESSDENIED, obj->CreateChannel(audio, 0, &audioId));
            EXPECT_EQ(E_ACCESSDENIED, createStream(s, r.storage, QStringLiteral("Cam2"), &other));
        }
    }

    ASSERT_TRUE(playsBeyond(0));
    ASSERT_TRUE(mount->makeWritable());
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + 100 * kFrame)));
    for (LONGLONG i = 100; i < 150; ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, sizeOf(i));
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Data(int(r.video), bytes.data(), DWORD(bytes.size())));
        ASSERT_EQ(S_OK, writer->EndSample());
    }
    ASSERT_EQ(S_OK, writer->Stop());
    // The player plays on after the recording and never got a wrong frame or a failure.
    EXPECT_TRUE(playsBeyond(played));
    stopPlayer();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(150, verify(s, r));
    for (LONGLONG n : {5, 99, 100, 149})
        EXPECT_TRUE(heldReads(n)) << "frame " << n;
    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(r.stream, &info));
    EXPECT_EQ(150u, info.frameCount);
    EXPECT_EQ(2u, info.sequenceCount);
    EXPECT_EQ(S_OK, obj->CreateChannel(audio, 0, &audioId));
    EXPECT_EQ(S_OK, createStream(s, r.storage, QStringLiteral("Cam2"), &other));
    EXPECT_EQ(S_OK, createStorage(s, QStringLiteral("Other"), &other));
    // Another process reads what this one wrote.
    const Ctl dump = archivectl(root, {"dump", "Main", "Cam", "--limit", "1000"});
    EXPECT_EQ(0, dump.code) << qPrintable(dump.err);
    EXPECT_EQ(150, dump.out.count(QStringLiteral("frame ")));
}

INSTANTIATE_TEST_SUITE_P(Mounts, ArchiveReadOnly, ::testing::Values("root", "drive"));

// Fills what is left of the file system of `folder` with a file of its own.
void fill(const QString &file)
{
    QFile filler(file);
    if (!filler.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
}

// A 64 MB disk filled by a recording: the failure says "disk full", no frame answered S_OK is lost, the
// same writer records again once there is room; with the disk full and the archive closed, new
// processes list, dump, read and delete, and deleting makes room for recording.
TEST(ArchiveDurabilityDisk, FullDiskKeepsEveryAcknowledgedFrameAndRecovers)
{
    const QString root = tundra::test::freshDir(QStringLiteral("fulldisk"));
    Mount disk(QStringLiteral("tundra-test"), root, "tmpfs", 0, "size=64m");
    if (!disk.ok)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    useRoot(root);
    LogCapture log;
    Recorded old = record(root, 400); // about 5.6 MB, deleted later to make room
    {
        QFile reserve(root + QStringLiteral("/reserve"));
        ASSERT_TRUE(reserve.open(QIODevice::WriteOnly));
        ASSERT_EQ(4 << 20, reserve.write(QByteArray(4 << 20, 'r')));
    }
    auto s = server();
    GUID stream{};
    ASSERT_EQ(S_OK, createStream(s, old.storage, QStringLiteral("Live"), &stream));
    Recorded live{old.storage, stream, 0, 0};
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    live.video = channel(obj, QStringLiteral("Video_H264"), 0);
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));

    // Frames are numbered by time; a frame that fails is retried at the same time, so the acknowledged
    // frames are 0..acked-1 whatever failed in between.
    LONGLONG acked = 0;
    const auto writeOne = [&](LONGLONG i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, sizeOf(i));
        HRESULT hr = writer->BeginSample(t, t, 0);
        if (SUCCEEDED(hr))
            hr = writer->Data(int(live.video), bytes.data(), DWORD(bytes.size()));
        const HRESULT end = writer->EndSample();
        if (SUCCEEDED(hr))
            hr = end;
        return hr;
    };
    const auto writeUntilFull = [&] {
        int failures = 0;
        while (failures < 20 && acked < 100000) {
            const HRESULT hr = writeOne(acked);
            if (hr == S_OK) {
                ++acked;
                continue;
            }
            EXPECT_EQ(kDiskFull, hr) << "frame " << acked;
            ++failures;
        }
        return failures;
    };
    ASSERT_EQ(20, writeUntilFull()) << "the disk never filled";
    EXPECT_GT(acked, 1000);
    GUID another{};
    const HRESULT create = createStorage(s, QStringLiteral("More"), &another);
    EXPECT_TRUE(create == kDiskFull || create == S_OK) << std::hex << create;

    // Room returns: the same writer goes on, and fills the disk again.
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/reserve")));
    const LONGLONG before = acked;
    ASSERT_EQ(S_OK, writeOne(acked)) << "the writer resumes at once";
    ++acked;
    ASSERT_EQ(20, writeUntilFull());
    EXPECT_GT(acked, before + 100);
    writer->Stop();
    writer.Release();
    obj.Release();
    s.Release();
    fill(root + QStringLiteral("/filler"));

    // The archive is closed and the disk full: new processes list, read and delete.
    const Ctl list = archivectl(root, {"list"});
    EXPECT_EQ(0, list.code) << qPrintable(list.err);
    EXPECT_TRUE(list.out.contains(QStringLiteral("Live"))) << qPrintable(list.out);
    const Ctl info = archivectl(root, {"info", "Main", "Live"});
    EXPECT_EQ(0, info.code) << qPrintable(info.err);
    // Frames answered S_OK whose commit failed when the disk filled wait in the segment until the index
    // can take them (below); at most the writer's window ahead of the durable commits is not listed yet.
    const LONGLONG listed =
        QRegularExpression(QStringLiteral("frames (\\d+)")).match(info.out).captured(1).toLongLong();
    EXPECT_LE(listed, acked) << qPrintable(info.out);
    EXPECT_GE(listed, acked - LONGLONG(nyx::archive::FrameStore::kMaxInFlight)) << qPrintable(info.out);
    const Ctl dump = archivectl(root, {"dump", "Main", "Cam", "--limit", "500"});
    EXPECT_EQ(0, dump.code) << qPrintable(dump.err);
    EXPECT_EQ(400, dump.out.count(QStringLiteral("frame ")));
    const Ctl removed = archivectl(root, {"delete-stream", "Main", "Cam"});
    EXPECT_EQ(0, removed.code) << qPrintable(removed.err);

    // As a restarted recorder: every frame answered S_OK is there, and recording goes on.
    s = server();
    EXPECT_EQ(acked, verify(s, live)) << "every frame answered S_OK is stored";
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + acked * kFrame)));
    for (LONGLONG i = acked; i < acked + 50; ++i)
        ASSERT_EQ(S_OK, writeOne(i)) << "frame " << i;
    acked += 50;
    ASSERT_EQ(S_OK, writer->Stop());
    EXPECT_EQ(acked, verify(s, live));
    ArchiveStreamInfo streamInfo{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &streamInfo));
    EXPECT_EQ(ULONGLONG(acked), streamInfo.frameCount);
    // A failure names its cause, never what SQLite said of the rollback after it.
    EXPECT_EQ(QStringList(), log.lines(QStringLiteral("cannot rollback")));
    for (const QString &line : log.lines(QStringLiteral("failed: 0x")))
        EXPECT_TRUE(line.contains(QLatin1String("full")) || line.contains(QLatin1String("space")))
            << qPrintable(line);
}

// A disk that refuses every frame: the first loss is logged at once, then one line a second with the
// count of frames lost since; nothing lost goes uncounted.
TEST(ArchiveDurabilityLog, ARefusingDiskLogsTheFirstLossThenOneLineASecond)
{
    const QString root = tundra::test::freshDir(QStringLiteral("logflood"));
    useRoot(root);
    const Recorded r = record(root, 10);
    auto s = server();
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(r.stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + 10 * kFrame)));
    LogCapture log;
    nyx::archive::faults::fail(nyx::archive::faults::Operation::SegmentWrite, kDiskFull);
    const auto bytes = payload(0, 2000);
    const auto writeOne = [&](LONGLONG i) {
        const LONGLONG t = kBase + i * kFrame;
        HRESULT hr = writer->BeginSample(t, t, 0);
        if (SUCCEEDED(hr))
            hr = writer->Data(int(r.video), bytes.data(), DWORD(bytes.size()));
        const HRESULT end = writer->EndSample();
        return SUCCEEDED(hr) ? end : hr;
    };
    const QString lost = QStringLiteral("not stored");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(kDiskFull, writeOne(10));
    EXPECT_EQ(1, log.lines(lost).size()) << "the first loss is logged at once";
    int failures = 1;
    for (LONGLONG i = 11; std::chrono::steady_clock::now() - start < std::chrono::milliseconds(2500); ++i) {
        EXPECT_EQ(kDiskFull, writeOne(i));
        ++failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    nyx::archive::faults::clear();
    ASSERT_EQ(S_OK, writer->Stop()); // the closing line counts what the last one did not
    const QStringList lines = log.lines(lost);
    EXPECT_GE(lines.size(), 2);
    EXPECT_LE(lines.size(), int(seconds) + 2) << "one line a second after the first";
    int counted = 0;
    static const QRegularExpression figure(QStringLiteral("(?:; |^)(\\d+) (?:more )?frame\\(s\\)"));
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = figure.match(line);
        EXPECT_TRUE(m.hasMatch()) << qPrintable(line);
        counted += m.captured(1).toInt();
    }
    EXPECT_EQ(failures, counted) << qPrintable(lines.join(QLatin1Char('\n')));
    EXPECT_GT(failures, 100) << "the disk refused many frames";
}

// Unpaced writers of small frames commit as fast as the disk lets them: the index's log is checkpointed
// and emptied so that it stays bounded whatever they do, and a new writer starts without a long log.
TEST(ArchiveDurabilityLog, TheIndexLogStaysBoundedUnderUnpacedWriters)
{
    const QString root = tundra::test::freshDir(QStringLiteral("walbound"));
    useRoot(root);
    const Recorded r = record(root, 1);
    auto s = server();
    std::vector<GUID> streams{r.stream};
    for (int i = 1; i < 3; ++i) {
        GUID id{};
        ASSERT_EQ(S_OK, createStream(s, r.storage, QStringLiteral("Fast%1").arg(i), &id));
        streams.push_back(id);
    }
    QString wal;
    QDirIterator it(root, {QStringLiteral("index.db")}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    wal = it.next() + QStringLiteral("-wal");
    std::atomic<bool> stop{false};
    std::atomic<long long> frames{0};
    std::vector<std::thread> writers;
    for (const GUID &stream : streams)
        writers.emplace_back([&, stream] {
            CComPtr<IArchiveStream> obj;
            s->OpenStream(stream, &obj);
            const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
            const DWORD key = channel(obj, QStringLiteral("KeyFrame"), 1);
            CComPtr<IArchiveWriter> writer;
            if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase + kSecond))))
                return;
            const auto bytes = payload(1, 200);
            for (LONGLONG i = 0; !stop; ++i) {
                const LONGLONG t = kBase + kSecond + i * 1000;
                if (FAILED(writer->BeginSample(t, t, 0)) ||
                    FAILED(writer->Data(int(video), bytes.data(), DWORD(bytes.size()))) ||
                    FAILED(writer->Blob(int(key), nullptr, 0)) || FAILED(writer->EndSample()))
                    break;
                ++frames;
            }
            writer->Stop();
        });
    qint64 largest = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
        largest = std::max(largest, QFileInfo(wal).size());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    for (auto &w : writers)
        w.join();
    largest = std::max(largest, QFileInfo(wal).size());
    std::printf("%lld small frames in 6 s on 3 streams; index log at most %.1f MB\n", frames.load(),
                double(largest) / 1e6);
    EXPECT_GT(frames.load(), 10000);
    EXPECT_LT(largest, 64LL << 20);
}

// The throttle itself, on a clock of its own: which failures make a line, and what each line counts.
TEST(ArchiveDurabilityLog, ThrottleLogsFirstThenOncePerInterval)
{
    using namespace std::chrono;
    using nyx::logging::LogThrottle;
    LogThrottle throttle(seconds(1));
    const LogThrottle::Clock::time_point t0{};
    struct Step
    {
        milliseconds at;
        bool logged;
        std::uint64_t covered; // checked when logged
    };
    const Step steps[] = {
        {milliseconds(0), true, 1},    {milliseconds(10), false, 0},   {milliseconds(999), false, 0},
        {milliseconds(1000), true, 3}, {milliseconds(1500), false, 0}, {milliseconds(5000), true, 2},
    };
    for (const Step &step : steps) {
        EXPECT_EQ(step.logged, throttle.failed(t0 + step.at)) << step.at.count() << " ms";
        if (step.logged) {
            EXPECT_EQ(step.covered, throttle.covered()) << step.at.count() << " ms";
        }
    }
    EXPECT_FALSE(throttle.failed(t0 + milliseconds(5100)));
    EXPECT_EQ(1u, throttle.takeHeld());
    EXPECT_TRUE(throttle.failed(t0 + milliseconds(5200))) << "after a closing line the next one is at once";
}
// The databases run out of space before any segment does (a disk filled by something else): creating
// storages and starting a writer say "disk full", and work again once there is room.
TEST(ArchiveDurabilityDisk, DatabasesOnAFullDiskSayDiskFull)
{
    const QString root = tundra::test::freshDir(QStringLiteral("fullcatalog"));
    Mount disk(QStringLiteral("tundra-test"), root, "tmpfs", 0, "size=4m");
    if (!disk.ok)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Main"), &storage));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    fill(root + QStringLiteral("/filler"));

    HRESULT hr = S_OK;
    for (int i = 0; i < 2000 && hr == S_OK; ++i) {
        GUID other{};
        hr = createStorage(s, QStringLiteral("Extra%1").arg(i), &other);
    }
    EXPECT_EQ(kDiskFull, hr);
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    EXPECT_EQ(kDiskFull, writer->Start(ULONGLONG(kBase)));

    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/filler")));
    GUID more{};
    EXPECT_EQ(S_OK, createStorage(s, QStringLiteral("More"), &more));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    const auto bytes = payload(0, 1000);
    ASSERT_EQ(S_OK, writer->BeginSample(kBase, kBase, 0));
    ASSERT_EQ(S_OK, writer->Data(int(video), bytes.data(), DWORD(bytes.size())));
    EXPECT_EQ(S_OK, writer->EndSample());
    EXPECT_EQ(S_OK, writer->Stop());
}
} // namespace
