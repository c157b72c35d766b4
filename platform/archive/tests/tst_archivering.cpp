// A storage recorded far past its size is kept as a ring: the oldest segments make room for new ones,
// never one a reader is on, and the figures (StorageStats, archivectl info) are those of the files.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>

using namespace archivetest;

namespace {
constexpr LONGLONG kStorageSize = 16LL << 20; // the smallest storage: segments of 2 MiB
constexpr LONGLONG kSegment = kStorageSize / 8;
constexpr std::size_t kSize = 20000;

// Bytes on the disk under the folder; segment bytes (file sizes) apart.
struct Usage
{
    qint64 disk = 0, segments = 0;
    int segmentFiles = 0;
};
Usage usage(const QString &folder)
{
    Usage u;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            u.disk += qint64(st.st_blocks) * 512;
        if (it.fileName().startsWith(QLatin1String("seg-"))) {
            u.segments += QFileInfo(path).size();
            ++u.segmentFiles;
        }
    }
    return u;
}

TEST(ArchiveRing, AStorageRecordedPastItsSizeKeepsTheNewestAndSparesTheReader)
{
    const QString root = tundra::test::freshDir(QStringLiteral("ring"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Ring"), &storage, kStorageSize));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    const DWORD key = channel(obj, QStringLiteral("KeyFrame"), 1);
    const QString folder =
        root + QStringLiteral("/drive-a/") + nyx::com::toString(storage).mid(1, 36).toUpper();

    // The reader plays from the oldest frame on, slower than the writer records, and lingers on each
    // frame before reading it: the ring must not take its segment meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> played{0}, badReads{0};
    std::thread player([&] {
        auto reader = openReader(s, stream);
        LONGLONG t = 0;
        while (!done) {
            LONGLONG found = 0;
            if (reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0) != S_OK) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            const auto want = payload((found - kBase) / kFrame, kSize);
            if (reader->ReadChannelData(video, &bytes, &length) != S_OK || length != want.size() ||
                std::memcmp(bytes, want.data(), length) != 0)
                ++badReads;
            reader->ReleaseFrame();
            t = found + 1;
            ++played;
        }
    });

    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    const LONGLONG frames = 5 * kStorageSize / LONGLONG(kSize); // five times the storage
    qint64 largest = 0;
    for (LONGLONG i = 0; i < frames; ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto bytes = payload(i, kSize);
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Data(int(video), bytes.data(), DWORD(bytes.size())));
        if (i % 25 == 0) {
            ASSERT_EQ(S_OK, writer->Blob(int(key), nullptr, 0));
        }
        ASSERT_EQ(S_OK, writer->EndSample()) << "frame " << i;
        if (i % 20 == 0)
            largest = std::max(largest, usage(folder).disk);
    }
    ASSERT_EQ(S_OK, writer->Stop());
    done = true;
    player.join();
    const Usage after = usage(folder);
    largest = std::max(largest, after.disk);
    std::printf("%lld frames (%.0f MB) into a %lld MB storage: at most %.1f MB on disk, %d segment files; "
                "the reader played %d frames\n",
                static_cast<long long>(frames), double(frames) * kSize / 1e6,
                static_cast<long long>(kStorageSize >> 20), double(largest) / 1e6, after.segmentFiles,
                played.load());
    EXPECT_LE(largest, kStorageSize + kSegment) << "within its size plus one segment";
    EXPECT_EQ(0, badReads.load()) << "a frame was taken from under the reader";
    EXPECT_GT(played.load(), 20);

    // The newest frames are all there, back to back, at least half the storage of them; every listed
    // frame reads back.
    auto reader = openReader(s, stream);
    LONGLONG t = INT64_MAX, found = 0, newest = 0, listed = 0;
    ASSERT_EQ(S_OK, reader->FindFrame(t, 2, &found, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(kBase + (frames - 1) * kFrame, found);
    for (t = 0; reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0) == S_OK; t = found + 1) {
        const BYTE *data = nullptr;
        DWORD length = 0;
        ASSERT_EQ(S_OK, reader->ReadChannelData(video, &data, &length)) << (found - kBase) / kFrame;
        reader->ReleaseFrame();
        ++listed;
    }
    for (LONGLONG i = frames - 1; i >= 0; --i, ++newest) {
        if (reader->FindFrameInRange(kBase + i * kFrame, kBase + i * kFrame, 1, &found, nullptr, 0) != S_OK)
            break;
    }
    // Besides them: the segment the reader was on, the one being written, the index and its log.
    EXPECT_GE(newest, kStorageSize / 3 / LONGLONG(kSize)) << "the newest frames are kept back to back";
    EXPECT_LT(listed, frames);

    // StorageStats and archivectl tell what the files hold.
    CRewindStorageStats stats{};
    ASSERT_EQ(S_OK, s->GetStorageStats(storage, &stats));
    const Usage now = usage(folder);
    EXPECT_EQ(ULONGLONG(listed), stats.totalFramesWritten);
    EXPECT_EQ(ULONGLONG(now.segments), stats.totalBytesWritten) << "segments hold exactly the listed frames";
    EXPECT_EQ(ULONGLONG(now.disk), stats.dataSizeOnDisk);
    EXPECT_LE(stats.dataSizeOnDisk, ULONGLONG(kStorageSize + kSegment));
    QProcess ctl;
    ctl.start(tundra::test::binDir() + QStringLiteral("/archivectl"),
              {QStringLiteral("--root"), root, QStringLiteral("info"), QStringLiteral("Ring")});
    ASSERT_TRUE(ctl.waitForFinished(60000));
    ASSERT_EQ(0, ctl.exitCode()) << ctl.readAllStandardError().constData();
    const QString out = QString::fromUtf8(ctl.readAllStandardOutput());
    const auto figure = [&](const char *name) {
        return QRegularExpression(QStringLiteral("^%1 (\\d+)$").arg(QLatin1String(name)),
                                  QRegularExpression::MultilineOption)
            .match(out)
            .captured(1)
            .toLongLong();
    };
    EXPECT_EQ(kStorageSize, figure("size")) << qPrintable(out);
    EXPECT_EQ(listed, figure("frames")) << qPrintable(out);
    EXPECT_EQ(now.segments, figure("bytes")) << qPrintable(out);
    EXPECT_LE(figure("on-disk"), kStorageSize + kSegment) << qPrintable(out);
    EXPECT_GT(figure("on-disk"), kStorageSize / 2) << qPrintable(out);
}

// A storage whose every segment is held (each one a stream's own, being written) refuses new segments
// with "disk full" rather than going past its size.
TEST(ArchiveRing, AStorageFullOfSegmentsThatCannotGoAnswersDiskFull)
{
    const QString root = tundra::test::freshDir(QStringLiteral("ringfull"));
    useRoot(root);
    auto s = server();
    GUID storage{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Small"), &storage, kStorageSize));
    std::vector<CComPtr<IArchiveWriter>> writers;
    std::vector<DWORD> videos;
    HRESULT last = S_OK;
    LONGLONG written = 0;
    // Streams that each fill one segment (their committed segment, which the ring never takes).
    for (int n = 0; n < 16 && last == S_OK; ++n) {
        GUID stream{};
        ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam%1").arg(n), &stream));
        CComPtr<IArchiveStream> obj;
        ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
        const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
        CComPtr<IArchiveWriter> writer;
        ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
        last = writer->Start(ULONGLONG(kBase));
        const auto bytes = payload(n, kSize);
        for (LONGLONG i = 0; last == S_OK && i < kSegment / LONGLONG(kSize) - 2; ++i) {
            const LONGLONG t = kBase + i * kFrame;
            last = writer->BeginSample(t, t, 0);
            if (last == S_OK)
                last = writer->Data(int(video), bytes.data(), DWORD(bytes.size()));
            if (last == S_OK)
                last = writer->EndSample();
            written += last == S_OK;
        }
        writers.push_back(writer);
    }
    EXPECT_EQ(HRESULT_FROM_WIN32(112), last) << std::hex << last;
    const QString folder =
        root + QStringLiteral("/drive-a/") + nyx::com::toString(storage).mid(1, 36).toUpper();
    EXPECT_LE(usage(folder).disk, kStorageSize + kSegment);
    EXPECT_GT(written, kStorageSize / 2 / LONGLONG(kSize));
    for (auto &w : writers)
        w->Stop();
}
} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
