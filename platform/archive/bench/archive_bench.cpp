// archive_bench: write throughput against a plain sequential write, small-frame rate, find latency.
// Usage: archive_bench [DIR]   (default: a fresh folder under the current directory)
// ARCHIVE_BENCH_STREAMS=n sets the stream count of the throughput run, ARCHIVE_BENCH_THROUGHPUT_ONLY=1 stops
// after it.

#include "../tests/archivetesthelpers.h"

#include <QDir>

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

double plainWrite(const QString &dir, std::size_t total, std::size_t chunk)
{
    QDir().mkpath(dir);
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/plain.dat"));
    const auto bytes = payload(1, chunk);
    const auto start = Clock::now();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::size_t done = 0; done < total; done += chunk) {
        if (::write(fd, bytes.data(), chunk) != ssize_t(chunk))
            break;
    }
    ::close(fd);
    const double rate = double(total) / seconds(start, Clock::now());
    ::unlink(path.constData());
    return rate;
}
} // namespace

int main(int argc, char **argv)
{
    // Always a folder of our own below the one given: it is removed at the end.
    const QString base =
        (argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath()) + QStringLiteral("/archive-bench");
    QDir().mkpath(base);
    qputenv("QT_LOGGING_RULES", "nyx.archive.warning=false");

    // 1. 100 KB frames on 4 streams at once against one plain sequential write of the same bytes.
    const int streams = qEnvironmentVariableIsSet("ARCHIVE_BENCH_STREAMS")
                            ? qEnvironmentVariableIntValue("ARCHIVE_BENCH_STREAMS")
                            : 4;
    const int perStream = 6000 / streams;
    const std::size_t frameSize = 100 * 1024;
    const std::size_t totalBytes = std::size_t(perStream) * streams * frameSize;
    double bestArchive = 0, bestPlain = 0;
    for (int round = 0; round < 3; ++round) {
        bestPlain = std::max(bestPlain, plainWrite(base + QStringLiteral("/plain"), totalBytes, frameSize));
        Fixture f(base + QStringLiteral("/throughput"), QStringLiteral("T"), streams);
        std::atomic<bool> ok{true};
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int i = 0; i < streams; ++i)
            threads.emplace_back([&, i] {
                if (!record(f.s, f.streams[i], f.videos[i], f.keys[i], perStream, frameSize))
                    ok = false;
            });
        for (auto &t : threads)
            t.join();
        const double rate = double(totalBytes) / seconds(start, Clock::now());
        if (!ok) {
            std::printf("throughput run failed\n");
            return 1;
        }
        bestArchive = std::max(bestArchive, rate);
    }
    std::printf(
        "write throughput, %d streams x 100 KB frames: %.0f MB/s (%.0f frames/s); plain sequential write: "
        "%.0f MB/s; ratio %.2f (target >= 0.7)\n",
        streams, bestArchive / 1e6, bestArchive / frameSize, bestPlain / 1e6, bestArchive / bestPlain);

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
