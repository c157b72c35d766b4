// Two processes on one archive: a child records 10 s of 50 fps video while this process reads
// every frame at the live edge.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace archivetest;

namespace {
constexpr int kFrames = 500;
constexpr std::size_t kSize = 20000;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Child: records kFrames frames paced at 50 fps; each payload starts with the steady-clock time of
// its commit request (the clock is shared by all processes of the machine).
int writeLive(const QString &root, const QString &streamText)
{
    useRoot(root);
    GUID stream{};
    if (!nyx::com::parseGuid(streamText, &stream))
        return 3;
    auto s = server();
    CComPtr<IArchiveStream> obj;
    if (!s || FAILED(s->OpenStream(stream, &obj)))
        return 4;
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    const DWORD key = channel(obj, QStringLiteral("KeyFrame"), 1);
    CComPtr<IArchiveWriter> writer;
    if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase))))
        return 5;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * i));
        const LONGLONG t = kBase + i * kFrame;
        auto bytes = payload(i, kSize);
        const std::int64_t stamp = nowNs();
        std::memcpy(bytes.data(), &stamp, sizeof stamp);
        if (FAILED(writer->BeginSample(t, t, 0)) ||
            FAILED(writer->Data(int(video), bytes.data(), DWORD(kSize))) ||
            (i % 25 == 0 && FAILED(writer->Blob(int(key), nullptr, 0))) || FAILED(writer->EndSample()))
            return 6;
    }
    return SUCCEEDED(writer->Stop()) ? 0 : 7;
}

TEST(ArchiveLive, ReaderInAnotherProcessSeesEveryFrameAtTheLiveEdge)
{
    const QString root = tundra::test::freshDir(QStringLiteral("live"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Live"), &storage));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    auto reader = openReader(s, stream);
    ASSERT_TRUE(reader);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--write-live"), root, nyx::com::toString(stream)});
    ASSERT_TRUE(child.waitForStarted(10000));

    std::vector<double> latencies;
    int next = 0;
    LONGLONG last = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (next < kFrames && std::chrono::steady_clock::now() < deadline) {
        LONGLONG found = 0;
        if (reader->FindFrameInRange(last + 1, INT64_MAX, 1, &found, nullptr, 0) != S_OK) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        const std::int64_t seen = nowNs();
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        ASSERT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length));
        ASSERT_EQ(kBase + next * kFrame, found) << "frame " << next << " missing or out of order";
        ASSERT_EQ(kSize, length);
        const auto want = payload(next, kSize);
        ASSERT_EQ(0, std::memcmp(want.data() + 8, bytes + 8, kSize - 8)) << "frame " << next;
        std::int64_t stamp = 0;
        std::memcpy(&stamp, bytes, sizeof stamp);
        latencies.push_back(double(seen - stamp) / 1e6);
        reader->ReleaseFrame();
        last = found;
        ++next;
    }
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(0, child.exitCode());
    ASSERT_EQ(kFrames, next);
    LONGLONG found = 0;
    EXPECT_NE(S_OK, reader->FindFrameInRange(last + 1, INT64_MAX, 1, &found, nullptr, 0));

    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double p99 = latencies[latencies.size() * 99 / 100];
    std::printf(
        "live-edge latency over %zu frames: median %.3f ms, p99 %.3f ms, max %.3f ms (frame time 20 ms)\n",
        latencies.size(), median, p99, latencies.back());
    // A frame reaches the index only once its segment bytes are synced, so the live edge follows the
    // disk's sync time: about half a frame time on a quiet disk, several frame times on a disk shared
    // with other writers. The bounds leave room for a loaded machine.
    EXPECT_LT(median, 100.0);
    EXPECT_LT(p99, 1000.0);
}
// Child: as a player's source does, finds or creates the channels "KeyFrame" and "Video_1" of a stream
// that another process records; prints "<name> <id>" for each.
int createChannels(const QString &root, const QString &streamText)
{
    useRoot(root);
    GUID stream{};
    if (!nyx::com::parseGuid(streamText, &stream))
        return 3;
    auto s = server();
    CComPtr<IArchiveStream> obj;
    if (!s || FAILED(s->OpenStream(stream, &obj)))
        return 4;
    for (const char *name : {"KeyFrame", "Video_1"}) {
        const DWORD id = channel(obj, QString::fromLatin1(name), 1);
        if (!id)
            return 5;
        std::printf("%s %u\n", name, static_cast<unsigned>(id));
    }
    return 0;
}

// A reader's process creates a missing channel of a stream this process is recording; the writer
// takes records on it at once, and the other process reads them back.
TEST(ArchiveLive, ReaderProcessCreatesChannelsOfARecordingStream)
{
    const QString root = tundra::test::freshDir(QStringLiteral("channels"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Live"), &storage));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    const DWORD key = channel(obj, QStringLiteral("KeyFrame"), 1);
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    const auto write = [&](int i, DWORD extra) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, 300);
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Data(int(video), bytes.data(), DWORD(bytes.size())));
        if (extra) {
            ASSERT_EQ(S_OK, writer->Data(int(extra), bytes.data(), 16));
        }
        ASSERT_EQ(S_OK, writer->EndSample());
    };
    for (int i = 0; i < 10; ++i)
        write(i, 0);

    QProcess child;
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--create-channels"), root, nyx::com::toString(stream)});
    ASSERT_TRUE(child.waitForFinished(30000));
    ASSERT_EQ(0, child.exitCode()) << child.readAllStandardError().constData();
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("KeyFrame %1\n").arg(key))) << qPrintable(out);
    const QRegularExpressionMatch created = QRegularExpression(QStringLiteral("Video_1 (\\d+)")).match(out);
    ASSERT_TRUE(created.hasMatch()) << qPrintable(out);
    const DWORD added = created.captured(1).toUInt();
    EXPECT_NE(video, added);
    EXPECT_NE(key, added);

    // The recording process sees the new channel and records on it without restarting.
    BYTE flag = 0;
    DWORD found = 0;
    CComBSTR name(QStringLiteral("Video_1"));
    ASSERT_EQ(S_OK, obj->FindChannel(name, &flag, &found));
    EXPECT_EQ(added, found);
    EXPECT_EQ(1, flag);
    for (int i = 10; i < 20; ++i)
        write(i, added);
    ASSERT_EQ(S_OK, writer->Stop());
    auto reader = openReader(s, stream);
    LONGLONG at = 0;
    ASSERT_EQ(S_OK, reader->FindFrame(kBase, 1, &at, nullptr, nullptr, nullptr, added));
    EXPECT_EQ(kBase + 10 * kFrame, at);
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    ASSERT_EQ(S_OK, reader->ReadChannelData(added, &bytes, &length));
    EXPECT_EQ(16u, length);
    EXPECT_EQ(0, std::memcmp(payload(10, 300).data(), bytes, 16));
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--create-channels") == 0)
        return createChannels(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "--write-live") == 0)
        return writeLive(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
