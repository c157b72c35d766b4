// A storage recorded far past its size is kept as a ring: the oldest segments make room for new ones,
// never one a reader is on (in this process or another), and the figures (StorageStats, archivectl
// info) are those of the files.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Bytes of the files below the folder that are removed but still open in the process: the disk gives
// their space back only once they are closed.
qint64 removedButOpen(qint64 pid, const QString &folder)
{
    qint64 bytes = 0;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QByteArray link = QFile::encodeName(fds + QLatin1Char('/') + fd);
        char target[4096];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const QString path = QFile::decodeName(QByteArray(target, int(n)));
        struct stat st
        {
        };
        if (path.startsWith(folder) && path.endsWith(QLatin1String(" (deleted)")) &&
            ::stat(link.constData(), &st) == 0)
            bytes += qint64(st.st_blocks) * 512;
    }
    return bytes;
}

// Reads the video record of the reader's current frame and compares it with what was recorded.
bool sameAsRecorded(IArchiveReader *reader, DWORD video, LONGLONG time)
{
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    const auto want = payload((time - kBase) / kFrame, kSize);
    const bool same = reader->ReadChannelData(video, &bytes, &length) == S_OK && length == want.size() &&
                      std::memcmp(bytes, want.data(), length) == 0;
    reader->ReleaseFrame();
    return same;
}

// The reader of another process: this test program started again with "--reader STREAM VIDEO", on its
// own archive engine. One reader holds the oldest frame ("hold"), reads it back ("read") and lets it go
// ("drop"); another plays from the oldest frame on, lingering on each ("play") until "stop". Each
// command is answered with one line.
int readerProcess(const QString &streamText, DWORD video)
{
    GUID stream{};
    if (!nyx::com::parseGuid(streamText, &stream))
        return 2;
    auto s = server();
    auto holder = openReader(s, stream);
    LONGLONG held = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> played{0}, badReads{0};
    std::thread player;
    const auto answer = [](const QString &text) {
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    };
    for (std::string line; std::getline(std::cin, line);) {
        if (line == "hold") {
            const HRESULT hr = holder->FindFrameInRange(0, INT64_MAX, 1, &held, nullptr, 0);
            answer(QStringLiteral("held %1 %2").arg(hr).arg(held));
        } else if (line == "read") {
            answer(sameAsRecorded(holder, video, held) ? QStringLiteral("same")
                                                       : QStringLiteral("different"));
        } else if (line == "drop") {
            holder.Release();
            answer(QStringLiteral("dropped"));
        } else if (line == "play") {
            player = std::thread([&] {
                auto reader = openReader(s, stream);
                for (LONGLONG t = 0, found = 0; !stop;) {
                    if (reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0) != S_OK) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(4));
                    badReads += !sameAsRecorded(reader, video, found);
                    t = found + 1;
                    ++played;
                }
            });
            answer(QStringLiteral("playing"));
        } else if (line == "stop") {
            // A loaded machine may have given the player little time while the storage was recorded.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (player.joinable() && played <= 20 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            stop = true;
            if (player.joinable())
                player.join();
            answer(QStringLiteral("played %1 bad %2").arg(played.load()).arg(badReads.load()));
            break;
        }
    }
    return 0;
}

class ReaderProcess
{
public:
    ReaderProcess(const GUID &stream, DWORD video)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")),
                        {QStringLiteral("--reader"), nyx::com::toString(stream), QString::number(video)});
        m_process.waitForStarted(60000);
    }
    ~ReaderProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(60000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    QString ask(const char *command)
    {
        m_process.write(command);
        m_process.write("\n");
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(60000))
                return QStringLiteral("no answer to %1").arg(QLatin1String(command));
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    bool finished() { return m_process.waitForFinished(60000) && m_process.exitCode() == 0; }

private:
    QProcess m_process;
};

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

// The station's server records while its client, another process, replays: the client's readers hold
// their segments against the server's ring, and keep no removed segment open (its space would stay
// taken, unseen by the ring's count of the files).
TEST(ArchiveRing, AReaderOfAnotherProcessKeepsItsSegmentAndNoRemovedFile)
{
    const QString root = tundra::test::freshDir(QStringLiteral("ringprocess"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Ring"), &storage, kStorageSize));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    const QString folder =
        root + QStringLiteral("/drive-a/") + nyx::com::toString(storage).mid(1, 36).toUpper();
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    ReaderProcess other(stream, video);
    // The disk the storage takes: its files, and those removed that either process keeps open.
    qint64 largest = 0, removedOpen = 0;
    LONGLONG next = 0;
    const auto record = [&](LONGLONG bytes) {
        for (const LONGLONG end = next + bytes / LONGLONG(kSize); next < end; ++next) {
            const LONGLONG t = kBase + next * kFrame;
            const auto data = payload(next, kSize);
            ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
            ASSERT_EQ(S_OK, writer->Data(int(video), data.data(), DWORD(data.size())));
            ASSERT_EQ(S_OK, writer->EndSample()) << "frame " << next;
            if (next % 20 == 0) {
                const qint64 open = removedButOpen(other.pid(), folder) + removedButOpen(::getpid(), folder);
                removedOpen = std::max(removedOpen, open);
                largest = std::max(largest, usage(folder).disk + open);
            }
        }
    };
    const auto listed = [&](LONGLONG n) {
        auto reader = openReader(s, stream);
        LONGLONG found = 0;
        return reader->FindFrameInRange(kBase + n * kFrame, kBase + n * kFrame, 1, &found, nullptr, 0) ==
               S_OK;
    };

    ASSERT_NO_FATAL_FAILURE(record(kSegment * 3 / 2));
    ASSERT_EQ(QStringLiteral("held 0 %1").arg(kBase), other.ask("hold"));
    ASSERT_EQ(QStringLiteral("playing"), other.ask("play"));
    ASSERT_NO_FATAL_FAILURE(record(5 * kStorageSize));
    EXPECT_TRUE(listed(0)) << "the other process's frame was removed under it";
    EXPECT_EQ(QStringLiteral("same"), other.ask("read"));
    EXPECT_LE(largest, kStorageSize + kSegment)
        << "within its size plus one segment, removed open files included";
    EXPECT_EQ(0, removedOpen) << "removed segments kept open";

    // Let go, the frame's segment is the oldest and goes with the next ones.
    EXPECT_EQ(QStringLiteral("dropped"), other.ask("drop"));
    ASSERT_NO_FATAL_FAILURE(record(kStorageSize / 2));
    EXPECT_FALSE(listed(0)) << "the segment let go stays";
    EXPECT_LE(largest, kStorageSize + kSegment);
    // With the other process alive, StorageStats counts what the disk holds (once the index's log
    // settles after the writer's last commit).
    ASSERT_EQ(S_OK, writer->Stop());
    CRewindStorageStats stats{};
    qint64 disk = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(disk < 0 ? 0 : 50));
        ASSERT_EQ(S_OK, s->GetStorageStats(storage, &stats));
        disk = usage(folder).disk + removedButOpen(other.pid(), folder);
    } while (ULONGLONG(disk) != stats.dataSizeOnDisk && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(ULONGLONG(disk), stats.dataSizeOnDisk);
    const QString played = other.ask("stop");
    const QRegularExpressionMatch figures =
        QRegularExpression(QStringLiteral("^played (\\d+) bad (\\d+)$")).match(played);
    ASSERT_TRUE(figures.hasMatch()) << qPrintable(played);
    std::printf("%lld frames into a %lld MB storage: at most %.1f MB on disk; the other process played %s "
                "frames\n",
                static_cast<long long>(next), static_cast<long long>(kStorageSize >> 20),
                double(largest) / 1e6, qPrintable(figures.captured(1)));
    EXPECT_GT(figures.captured(1).toInt(), 20);
    EXPECT_EQ(0, figures.captured(2).toInt()) << "frames the other process played were taken from under it";
    EXPECT_TRUE(other.finished());
}

// Flock requests waiting for the file (by its inode).
int lockWaiters(ino_t inode)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    int waiters = 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        waiters += f.size() > 6 && f[1] == "->" && f[2] == "FLOCK" &&
                   f[6].mid(f[6].lastIndexOf(':') + 1).toULongLong() == inode;
    }
    return waiters;
}

// A reader finds a frame while the ring of another process is removing its segment: it waits for the
// removal (never for the lock of its own store) and finds again, so that it answers the oldest frame
// left and reads it back; a removal given up leaves it the frame it found.
TEST(ArchiveRing, AFindDuringAnotherProcesssRemovalWaitsForItAndFindsAgain)
{
    const QString root = tundra::test::freshDir(QStringLiteral("ringrace"));
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Ring"), &storage, kStorageSize));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    for (LONGLONG i = 0; i < kSegment * 3 / 2 / LONGLONG(kSize); ++i) {
        const LONGLONG t = kBase + i * kFrame;
        const auto data = payload(i, kSize);
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Data(int(video), data.data(), DWORD(data.size())));
        ASSERT_EQ(S_OK, writer->EndSample());
    }
    ASSERT_EQ(S_OK, writer->Stop()); // every frame committed: the newest are in the second segment
    const QString folder =
        root + QStringLiteral("/drive-a/") + nyx::com::toString(storage).mid(1, 36).toUpper();
    const QByteArray first =
        QFile::encodeName(folder + QLatin1Char('/') + nyx::com::toString(stream).mid(1, 36).toUpper() +
                          QStringLiteral("/seg-00000001.dat"));
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_open(QFile::encodeName(folder + QStringLiteral("/index.db")).constData(), &db));
    sqlite3_busy_timeout(db, 60000);
    sqlite3_stmt *next = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_prepare_v2(db, "SELECT MAX(time) FROM frames WHERE seg=1", -1, &next, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(next));
    const LONGLONG secondSegment = sqlite3_column_int64(next, 0) + kFrame;
    sqlite3_finalize(next);

    for (const bool removes : {false, true}) {
        // What the other process's ring does: the file locked exclusively, its rows dropped, the file
        // unlinked, and let go.
        const int fd = ::open(first.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ::flock(fd, LOCK_EX | LOCK_NB)) << "a reader holds the segment";
        struct stat st
        {
        };
        ASSERT_EQ(0, ::fstat(fd, &st));
        auto reader = openReader(s, stream);
        std::atomic<bool> answered{false};
        HRESULT hr = E_FAIL;
        LONGLONG found = 0;
        bool same = false;
        std::thread finder([&] {
            hr = reader->FindFrameInRange(0, INT64_MAX, 1, &found, nullptr, 0);
            same = hr == S_OK && sameAsRecorded(reader, video, found);
            answered = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!lockWaiters(st.st_ino) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(1, lockWaiters(st.st_ino)) << "the find waits for the removal";
        EXPECT_FALSE(answered);
        // The store is not held meanwhile: another reader finds the newest frame.
        LONGLONG newest = 0;
        EXPECT_EQ(S_OK,
                  openReader(s, stream)->FindFrame(INT64_MAX, 2, &newest, nullptr, nullptr, nullptr, 0));
        EXPECT_GE(newest, secondSegment);
        if (removes) {
            EXPECT_EQ(SQLITE_OK,
                      sqlite3_exec(db, "DELETE FROM frames WHERE seg=1", nullptr, nullptr, nullptr));
            EXPECT_EQ(0, ::unlink(first.constData()));
        }
        ::close(fd);
        finder.join();
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(removes ? secondSegment : kBase, found) << "removed: " << removes;
        EXPECT_TRUE(same) << "removed: " << removes;
    }
    sqlite3_close(db);
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
    if (argc == 4 && std::strcmp(argv[1], "--reader") == 0)
        return readerProcess(QString::fromLocal8Bit(argv[2]), DWORD(std::strtoul(argv[3], nullptr, 10)));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
