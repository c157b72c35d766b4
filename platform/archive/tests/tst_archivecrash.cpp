// A recording process killed with SIGKILL at random points: every frame that EndSample answered S_OK
// survives and the index stays consistent; the next opening takes the frames written after the last
// commit into the index, cuts the torn tail, and the next writer goes on.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <unistd.h>

using namespace archivetest;

namespace {
std::size_t sizeOf(LONGLONG n)
{
    return 1000 + std::size_t(n % 7) * 9000;
}

// Child: records frames from index `first` on, unpaced, until killed or `count` are done; prints
// "committed <n>" for each frame that EndSample answered S_OK.
int writeFrames(const QString &root, const QString &streamText, LONGLONG first, LONGLONG count)
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
    if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase + first * kFrame))))
        return 5;
    for (LONGLONG i = first; i < first + count; ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, sizeOf(i));
        if (FAILED(writer->BeginSample(t, t, 0)) ||
            FAILED(writer->Data(int(video), bytes.data(), DWORD(bytes.size()))) ||
            (i % 10 == 0 && FAILED(writer->Blob(int(key), nullptr, 0))) || FAILED(writer->EndSample()))
            return 6;
        char line[64];
        const int n = std::snprintf(line, sizeof line, "committed %lld\n", static_cast<long long>(i));
        if (::write(1, line, std::size_t(n)) != n)
            return 8;
    }
    return SUCCEEDED(writer->Stop()) ? 0 : 7;
}

LONGLONG lastCommitted(const QByteArray &output)
{
    LONGLONG last = -1;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("committed "))
            last = line.mid(10).toLongLong();
    }
    return last;
}

// Reads the whole stream in order and checks every frame against its expected bytes.
LONGLONG verify(IRewindServer *s, const GUID &stream, DWORD video)
{
    auto reader = openReader(s, stream);
    LONGLONG t = 0, n = 0, found = 0;
    while (reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0) == S_OK) {
        EXPECT_EQ(kBase + n * kFrame, found) << "frame " << n;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        EXPECT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length)) << "frame " << n;
        const auto want = payload(n, sizeOf(n));
        EXPECT_EQ(want.size(), length);
        if (length == want.size()) {
            EXPECT_EQ(0, std::memcmp(want.data(), bytes, length)) << "frame " << n;
        }
        reader->ReleaseFrame();
        t = found + 1;
        ++n;
    }
    return n;
}

TEST(ArchiveCrash, KilledWriterLosesNothingCommitted)
{
    const QString root = tundra::test::freshDir(QStringLiteral("crash"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Crash"), &storage));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);

    std::mt19937 random(20261209);
    LONGLONG next = 0;
    const int iterations = 5;
    for (int round = 0; round < iterations; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QStringLiteral("/proc/self/exe"),
                    {QStringLiteral("--write-frames"), root, nyx::com::toString(stream),
                     QString::number(next), QStringLiteral("100000000")});
        ASSERT_TRUE(child.waitForStarted(10000));
        // Let it commit something, then kill it at a random moment.
        QByteArray output;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (lastCommitted(output) < next + 5 && std::chrono::steady_clock::now() < until) {
            child.waitForReadyRead(100);
            output += child.readAllStandardOutput();
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 300)(random)));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        output += child.readAllStandardOutput();
        const LONGLONG committed = lastCommitted(output);
        ASSERT_GE(committed, next + 5) << "round " << round;

        // A new opening of the archive (as by the next process) recovers the dead writer's stream.
        obj.Release();
        s.Release();
        s = server();
        // Every confirmed frame is there; beyond it at most the one being ended when the kill came.
        const LONGLONG frames = verify(s, stream, video);
        EXPECT_GE(frames, committed + 1) << "round " << round;
        EXPECT_LE(frames, committed + 2) << "round " << round;
        ArchiveStreamInfo info{};
        ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
        EXPECT_EQ(ULONGLONG(frames), info.frameCount);
        EXPECT_EQ(ULONGLONG(kBase + (frames - 1) * kFrame), info.endTime);
        std::printf("round %d: killed after %lld confirmed frames, %lld stored\n", round,
                    static_cast<long long>(committed + 1), static_cast<long long>(frames));
        next = frames;
    }

    // A clean run after the crashes: the torn tail is cut, the sequences of the dead writers are closed.
    QProcess last;
    last.start(QStringLiteral("/proc/self/exe"),
               {QStringLiteral("--write-frames"), root, nyx::com::toString(stream), QString::number(next),
                QStringLiteral("20")});
    ASSERT_TRUE(last.waitForFinished(30000));
    ASSERT_EQ(0, last.exitCode());
    const LONGLONG total = verify(s, stream, video);
    EXPECT_EQ(next + 20, total);
    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(0u, info.writing);
    EXPECT_EQ(ULONGLONG(iterations + 1), info.sequenceCount);
    qint64 onDisk = 0;
    QDirIterator it(root, {QStringLiteral("seg-*.dat")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        onDisk += QFileInfo(it.next()).size();
    EXPECT_EQ(qint64(info.dataSize), onDisk) << "segments hold exactly the committed frames";
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--write-frames") == 0)
        return writeFrames(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                           QByteArray(argv[4]).toLongLong(), QByteArray(argv[5]).toLongLong());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
