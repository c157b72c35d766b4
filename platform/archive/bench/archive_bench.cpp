// archive_bench: write throughput against plain sequential writes, small-frame rate, find latency.
// Usage: archive_bench [DIR]   (default: a fresh folder under the current directory)
// The throughput rounds compare like with like: n archive streams written by n threads against n plain
// files written by n threads, with the same frame size and the same bytes. The page-cache round stops
// the clocks when the last write returns; the durable round (2 GB or more) stops them only when the
// bytes are on the disk (syncfs of the file system after the writers end), so the disk decides; its
// plain writers sync their files every 64 frames, as often as the archive's commits at the least.
// ARCHIVE_BENCH_STREAMS=n sets the stream count (default 4), ARCHIVE_BENCH_DURABLE_MB the durable
// round's total (default 2048, 0 skips it), ARCHIVE_BENCH_THROUGHPUT_ONLY=1 stops after the rounds.

#include "../tests/archivetesthelpers.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace archivetest;
using Clock = std::chrono::steady_clock;

namespace {
double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Everything written to the file system of the folder is on the disk when this returns.
void syncFolder(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

struct Fixture
{
    CComPtr<IRewindServer> s;
    GUID storage{};
    std::vector<GUID> streams;
    std::vector<DWORD> videos, keys;

    Fixture(const QString &root, const QString &name, int count)
    {
        QDir(root).removeRecursively();
        useRoot(root);
        s.Attach(server().Detach());
        createStorage(s, name, &storage, 1LL << 40);
        for (int i = 0; i < count; ++i) {
            GUID id{};
            createStream(s, storage, QStringLiteral("S%1").arg(i), &id);
            CComPtr<IArchiveStream> obj;
            s->OpenStream(id, &obj);
            streams.push_back(id);
            videos.push_back(channel(obj, QStringLiteral("Video_H264"), 0));
            keys.push_back(channel(obj, QStringLiteral("KeyFrame"), 1));
        }
    }
};

// Records `frames` frames of `size` bytes on one stream, each committed as in recording.
bool record(IRewindServer *s, const GUID &stream, DWORD video, DWORD key, int frames, std::size_t size,
            LONGLONG step = kFrame)
{
    CComPtr<IArchiveWriter> writer;
    if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase))))
        return false;
    const auto bytes = payload(1, size);
    const BYTE attributes[64] = {};
    for (int i = 0; i < frames; ++i) {
        const LONGLONG t = kBase + i * step;
        if (FAILED(writer->BeginSample(t, t, 0)) ||
            FAILED(writer->Data(int(video), bytes.data(), DWORD(size))) ||
            FAILED(writer->Blob(int(video), attributes, sizeof attributes)) ||
            (i % 50 == 0 && FAILED(writer->Blob(int(key), nullptr, 0))) || FAILED(writer->EndSample()))
            return false;
    }
    return SUCCEEDED(writer->Stop());
}

// The archive's writers run at most this many frames ahead of a commit, and each commit syncs the
// segments it lists: the plain writers of the durable round sync their files as often.
constexpr int kSyncFrames = 64;

// Plain sequential writes: one file per thread, `frames` chunks of `chunk` bytes each; with `syncEvery`,
// each thread makes its file durable (fdatasync) after every that many chunks.
double plainWrite(const QString &dir, int threads, int frames, std::size_t chunk, bool durable,
                  int syncEvery = 0)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const auto bytes = payload(1, chunk);
    std::atomic<bool> ok{true};
    const auto start = Clock::now();
    std::vector<std::thread> writers;
    for (int i = 0; i < threads; ++i)
        writers.emplace_back([&, i] {
            const QByteArray path = QFile::encodeName(dir + QStringLiteral("/plain-%1.dat").arg(i));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            for (int n = 0; n < frames && fd >= 0; ++n) {
                if (::write(fd, bytes.data(), chunk) != ssize_t(chunk) ||
                    (syncEvery && (n + 1) % syncEvery == 0 && ::fdatasync(fd) != 0)) {
                    ok = false;
                    break;
                }
            }
            if (fd < 0 || ::close(fd) != 0)
                ok = false;
        });
    for (auto &t : writers)
        t.join();
    if (durable)
        syncFolder(dir);
    const double rate =
        double(std::size_t(threads) * std::size_t(frames) * chunk) / seconds(start, Clock::now());
    QDir(dir).removeRecursively();
    return ok ? rate : 0.0;
}

// The archive side of a round: one writer thread per stream.
double archiveWrite(const QString &dir, int streams, int frames, std::size_t chunk, bool durable)
{
    Fixture f(dir, QStringLiteral("T"), streams);
    std::atomic<bool> ok{true};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < streams; ++i)
        threads.emplace_back([&, i] {
            if (!record(f.s, f.streams[i], f.videos[i], f.keys[i], frames, chunk))
                ok = false;
        });
    for (auto &t : threads)
        t.join();
    if (durable)
        syncFolder(dir);
    const double rate =
        double(std::size_t(streams) * std::size_t(frames) * chunk) / seconds(start, Clock::now());
    return ok ? rate : 0.0;
}
} // namespace

int main(int argc, char **argv)
{
    // Always a folder of our own below the one given: it is removed at the end.
    const QString base =
        (argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath()) + QStringLiteral("/archive-bench");
    QDir().mkpath(base);
    qputenv("QT_LOGGING_RULES", "nyx.archive.warning=false");

    // 1. 100 KB frames on n streams at once against n plain files written at once, same bytes.
    const int streams = qEnvironmentVariableIsSet("ARCHIVE_BENCH_STREAMS")
                            ? qEnvironmentVariableIntValue("ARCHIVE_BENCH_STREAMS")
                            : 4;
    const std::size_t frameSize = 100 * 1024;
    {
        const int perStream = 6000 / streams;
        double bestArchive = 0, bestPlain = 0;
        for (int round = 0; round < 3; ++round) {
            bestPlain = std::max(
                bestPlain, plainWrite(base + QStringLiteral("/plain"), streams, perStream, frameSize, false));
            const double rate =
                archiveWrite(base + QStringLiteral("/throughput"), streams, perStream, frameSize, false);
            if (rate <= 0 || bestPlain <= 0) {
                std::printf("throughput run failed\n");
                return 1;
            }
            bestArchive = std::max(bestArchive, rate);
        }
        std::printf(
            "page cache: %d streams x %d frames x 100 KB, %d threads each side: archive %.0f MB/s (%.0f "
            "frames/s), plain %.0f MB/s; ratio %.2f (target >= 0.7)\n",
            streams, perStream, streams, bestArchive / 1e6, bestArchive / frameSize, bestPlain / 1e6,
            bestArchive / bestPlain);
    }
    const long long durableMb = qEnvironmentVariableIsSet("ARCHIVE_BENCH_DURABLE_MB")
                                    ? qEnvironmentVariableIntValue("ARCHIVE_BENCH_DURABLE_MB")
                                    : 2048;
    if (durableMb > 0) {
        // Both sides start from a clean page cache and stop their clocks when their bytes are on the disk;
        // two rounds each, taking turns, so that a passing load on the shared disk hits both alike.
        const int perStream = int(durableMb * 1024 * 1024 / std::int64_t(frameSize) / streams);
        double plain = 0, archive = 0;
        bool failed = false;
        for (int round = 0; round < 2; ++round) {
            syncFolder(base);
            const double p =
                plainWrite(base + QStringLiteral("/plain"), streams, perStream, frameSize, true, kSyncFrames);
            syncFolder(base);
            const double a =
                archiveWrite(base + QStringLiteral("/durable"), streams, perStream, frameSize, true);
            QDir(base + QStringLiteral("/durable")).removeRecursively();
            failed = failed || p <= 0 || a <= 0;
            plain = std::max(plain, p);
            archive = std::max(archive, a);
        }
        if (failed) {
            std::printf("durable run failed\n");
            return 1;
        }
        std::printf(
            "on disk (syncfs): %d streams x %d frames x 100 KB (%.1f GB a side): archive %.0f MB/s, plain "
            "%.0f MB/s (fdatasync every %d frames); ratio %.2f (target >= 0.9)\n",
            streams, perStream, double(perStream) * streams * frameSize / 1e9, archive / 1e6, plain / 1e6,
            kSyncFrames, archive / plain);
    }

    if (qEnvironmentVariableIsSet("ARCHIVE_BENCH_THROUGHPUT_ONLY"))
        return 0;
    // 2. Sustained rate of small frames on one stream.
    {
        Fixture f(base + QStringLiteral("/small"), QStringLiteral("S"), 1);
        const int frames = 50000;
        const auto start = Clock::now();
        if (!record(f.s, f.streams[0], f.videos[0], f.keys[0], frames, 200))
            return 1;
        const double rate = frames / seconds(start, Clock::now());
        std::printf("small frames (200 B), one stream: %.0f frames/s (target >= 10000)\n", rate);
    }

    // 3. Find latency on a 1-hour 50 fps stream built through the writer.
    {
        Fixture f(base + QStringLiteral("/find"), QStringLiteral("F"), 1);
        const int frames = 3600 * 50;
        const auto start = Clock::now();
        if (!record(f.s, f.streams[0], f.videos[0], f.keys[0], frames, 200))
            return 1;
        std::printf("built a 1-hour 50 fps stream (%d frames) in %.1f s\n", frames,
                    seconds(start, Clock::now()));
        auto reader = openReader(f.s, f.streams[0]);
        std::mt19937_64 random(1);
        std::vector<double> plain, filtered;
        for (int i = 0; i < 20000; ++i) {
            const LONGLONG t = kBase + LONGLONG(random() % (ULONGLONG(frames) * ULONGLONG(kFrame)));
            const DWORD mode = DWORD(1 + i % 3);
            const DWORD filter = (i / 3) % 2 ? f.keys[0] : 0;
            LONGLONG found = 0;
            const auto a = Clock::now();
            const HRESULT hr = reader->FindFrame(t, mode, &found, nullptr, nullptr, nullptr, filter);
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
            reader->ReleaseFrame();
            if (FAILED(hr) && mode != 1)
                std::printf("find failed at %lld\n", static_cast<long long>(t));
            (filter ? filtered : plain).push_back(us);
        }
        for (auto *v : {&plain, &filtered})
            std::sort(v->begin(), v->end());
        std::printf(
            "find frame on the 1-hour stream: median %.1f us, p99 %.1f us; with the key-frame filter: median "
            "%.1f us, p99 %.1f us (target: median < 1000 us)\n",
            plain[plain.size() / 2], plain[plain.size() * 99 / 100], filtered[filtered.size() / 2],
            filtered[filtered.size() * 99 / 100]);
    }
    QDir(base).removeRecursively();
    return 0;
}
