// rewind_sink_bench: the cost of the archive media sink over writing the same records directly.
// Usage: rewind_sink_bench [DIR]   (default: a fresh folder under the current directory)
// REWIND_SINK_BENCH_SAMPLES=n sets the samples per stream of the full-speed runs (default 2000).
//
// 1080p25-sized H.264 (libx264, about 65 KB a sample, a key frame every 25) on 4 streams at once:
// through RewindSinkMF at full speed, and with IArchiveWriter directly writing the same records
// (data, attribute blob, and at key frames the media type and the KeyFrame mark). Then the CPU share
// of recording the 4 streams through the sink at real time (25 fps each).

#include "multimedia/hnstime.h"
#include "sinktesthelpers.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <unistd.h>

using namespace mediatest;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kStreams = 4;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Frame
{
    CComPtr<IMFMediaBuffer> buffer;
    QByteArray bytes;
    bool key = false;
};

CComPtr<IMFSample> sampleOf(const Frame &frame, LONGLONG n)
{
    CComPtr<IMFSample> sample;
    MFCreateSample(&sample);
    sample->AddBuffer(frame.buffer);
    sample->SetSampleTime(n * kFrameDuration);
    sample->SetSampleDuration(kFrameDuration);
    if (frame.key)
        sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

std::vector<ArchiveStream> makeStreams(const QString &prefix)
{
    std::vector<ArchiveStream> streams;
    for (int i = 0; i < kStreams; ++i)
        streams.push_back(makeArchiveStream(QStringLiteral("%1 %2").arg(prefix).arg(i)));
    return streams;
}

// Records `count` samples per stream through the sink; pace 0: as fast as requested, else
// sample n is handed over no earlier than n * pace after the start. Returns the wall seconds from
// the clock start until every stream sink has written everything and stopped; -1 on errors.
double recordThroughSink(const std::vector<Frame> &frames, int count, Clock::duration pace,
                         const QString &prefix)
{
    auto archives = makeStreams(prefix);
    auto type = h264Type(1920, 1080);
    std::vector<std::unique_ptr<Sink>> sinks;
    CComPtr<IMFPresentationClock> clock;
    CComPtr<IMFPresentationTimeSource> timeSource;
    MFCreatePresentationClock(&clock);
    MFCreateSystemTimeSource(&timeSource);
    clock->SetTimeSource(timeSource);
    for (const auto &archive : archives) {
        auto sink = std::make_unique<Sink>();
        if (FAILED(sink->create(archive, type)) || FAILED(sink->setType(type)) ||
            FAILED(sink->sink->SetPresentationClock(clock)))
            return -1;
        sinks.push_back(std::move(sink));
    }
    std::atomic<int> errors{0};
    std::atomic<int> finished{0};
    const auto start = Clock::now();
    clock->Start(0);
    std::vector<std::thread> feeders;
    for (auto &sink : sinks) {
        feeders.emplace_back([&, s = sink.get()] {
            int fed = 0;
            for (;;) {
                CComPtr<IMFMediaEvent> event;
                if (FAILED(s->streamSink->GetEvent(0, &event)))
                    return;
                MediaEventType eventType = MEUnknown;
                event->GetType(&eventType);
                if (eventType == MEError)
                    ++errors;
                if (eventType == MEStreamSinkStopped)
                    return;
                if (eventType != MEStreamSinkRequestSample || fed == count)
                    continue;
                if (pace.count())
                    std::this_thread::sleep_until(start + pace * fed);
                if (FAILED(s->streamSink->ProcessSample(
                        sampleOf(frames[std::size_t(fed) % frames.size()], fed))))
                    ++errors;
                if (++fed == count)
                    ++finished;
            }
        });
    }
    while (finished < kStreams)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The sinks write what they accepted, stop their writers and report the stop.
    clock->Stop();
    for (auto &feeder : feeders)
        feeder.join();
    const double elapsed = seconds(start, Clock::now());
    return errors ? -1 : elapsed;
}

// The same records written with the archive writer directly, one thread per stream.
double recordDirectly(const std::vector<Frame> &frames, int count, const QString &prefix)
{
    auto archives = makeStreams(prefix);
    auto type = h264Type(1920, 1080);
    // The blobs the sink would write: the media type, and each frame's sample attributes.
    UINT32 typeSize = 0;
    MFGetAttributesAsBlobSize(type, &typeSize);
    std::vector<UINT8> typeBlob(typeSize);
    MFGetAttributesAsBlob(type, typeBlob.data(), typeSize);
    std::vector<std::vector<UINT8>> attributeBlobs;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        auto sample = sampleOf(frames[n], LONGLONG(n));
        sample->SetUINT64(SampleArchiveTime, 133000000000000000ULL);
        sample->SetUINT64(SampleArchiveDuration, kFrameDuration);
        UINT32 size = 0;
        MFGetAttributesAsBlobSize(sample, &size);
        std::vector<UINT8> blob(size);
        MFGetAttributesAsBlob(sample, blob.data(), size);
        attributeBlobs.push_back(std::move(blob));
    }
    std::atomic<int> errors{0};
    const auto start = Clock::now();
    std::vector<std::thread> writers;
    for (const auto &archive : archives) {
        writers.emplace_back([&, archive] {
            // The channels as the sink registers them.
            const int mark = int(archivetest::channel(archive.stream, rewindchannels::kKeyFrameChannel, 1));
            const int data = int(archivetest::channel(archive.stream, rewindchannels::kVideoDataChannel, 0));
            const int media =
                int(archivetest::channel(archive.stream, rewindchannels::kVideoMediaTypeChannel, 1));
            CComPtr<IArchiveWriter> writer;
            const LONGLONG base = HnsTime::systemTime();
            if (FAILED(archive.server->CreateWriter(archive.id, &writer)) ||
                FAILED(writer->Start(ULONGLONG(base)))) {
                std::fprintf(stderr, "writer start failed\n");
                ++errors;
                return;
            }
            for (int n = 0; n < count; ++n) {
                const auto &frame = frames[std::size_t(n) % frames.size()];
                const auto &blob = attributeBlobs[std::size_t(n) % frames.size()];
                const LONGLONG t = base + n * kFrameDuration;
                HRESULT hr = writer->BeginSample(t, t, 0);
                if (SUCCEEDED(hr))
                    hr = writer->Data(data, reinterpret_cast<const BYTE *>(frame.bytes.constData()),
                                      DWORD(frame.bytes.size()));
                if (SUCCEEDED(hr))
                    hr = writer->Blob(data, blob.data(), DWORD(blob.size()));
                if (SUCCEEDED(hr) && frame.key)
                    hr = writer->Blob(media, typeBlob.data(), DWORD(typeBlob.size()));
                if (SUCCEEDED(hr) && frame.key)
                    hr = writer->Blob(mark, nullptr, 0);
                const HRESULT ended = writer->EndSample();
                if (FAILED(hr) || FAILED(ended)) {
                    std::fprintf(stderr, "write failed: %08x %08x\n", unsigned(hr), unsigned(ended));
                    ++errors;
                }
            }
            if (FAILED(writer->Stop()))
                ++errors;
        });
    }
    for (auto &writer : writers)
        writer.join();
    const double elapsed = seconds(start, Clock::now());
    return errors ? -1 : elapsed;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString root = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath())
                             .filePath(QStringLiteral("rewind-sink-bench"));
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    archivetest::useRoot(root);
    const int count = qEnvironmentVariableIsSet("REWIND_SINK_BENCH_SAMPLES")
                          ? qEnvironmentVariableIntValue("REWIND_SINK_BENCH_SAMPLES")
                          : 2000;

    // 10.5 Mbit/s at 25 fps: about 65 KB a sample.
    const auto encoded = encodeH264(1920, 1080, 50, 10500000);
    if (encoded.size() != 50) {
        std::fprintf(stderr, "libx264 encoding failed\n");
        return 1;
    }
    std::vector<Frame> frames;
    qint64 bytes = 0;
    for (const auto &e : encoded) {
        Frame frame;
        frame.bytes = e.bytes;
        frame.key = e.key;
        MFCreateMemoryBuffer(DWORD(e.bytes.size()), &frame.buffer);
        BYTE *data = nullptr;
        frame.buffer->Lock(&data, nullptr, nullptr);
        std::memcpy(data, e.bytes.constData(), std::size_t(e.bytes.size()));
        frame.buffer->Unlock();
        frame.buffer->SetCurrentLength(DWORD(e.bytes.size()));
        bytes += e.bytes.size();
        frames.push_back(frame);
    }
    std::printf(
        "samples: 1920x1080 H.264, %lld bytes on average, a key frame every 25; %d streams x %d samples\n",
        bytes / qint64(frames.size()), kStreams, count);

    // Alternating runs, best of each, each starting with the disk's dirty pages written out, so that
    // neither side pays for the other's writes.
    double sink = 1e9, direct = 1e9, sinkCpu = 1e9, directCpu = 1e9;
    for (int round = 0; round < 3; ++round) {
        double d = 0, s = 0;
        const auto runDirect = [&] {
            ::sync();
            const double cpu = processCpuSeconds();
            d = recordDirectly(frames, count, QStringLiteral("Direct%1").arg(round));
            directCpu = std::min(directCpu, processCpuSeconds() - cpu);
        };
        const auto runSink = [&] {
            ::sync();
            const double cpu = processCpuSeconds();
            s = recordThroughSink(frames, count, Clock::duration::zero(),
                                  QStringLiteral("Sink%1").arg(round));
            sinkCpu = std::min(sinkCpu, processCpuSeconds() - cpu);
        };
        // REWIND_SINK_BENCH_ONLY=direct or sink runs one side (for profiling).
        const QByteArray only = qgetenv("REWIND_SINK_BENCH_ONLY");
        if (only == "direct") {
            runDirect();
            s = d;
        } else if (only == "sink") {
            runSink();
            d = s;
        } else if (round % 2) {
            runSink();
            runDirect();
        } else {
            runDirect();
            runSink();
        }
        if (d < 0 || s < 0) {
            std::fprintf(stderr, "recording failed (direct %.2f, sink %.2f)\n", d, s);
            return 1;
        }
        std::printf("round %d: direct %.3f s, sink %.3f s\n", round + 1, d, s);
        direct = std::min(direct, d);
        sink = std::min(sink, s);
    }
    const double total = double(kStreams) * count;
    std::printf("full speed, IArchiveWriter directly: %8.0f samples/s (%.3f s), CPU %.1f us a sample\n",
                total / direct, direct, directCpu / total * 1e6);
    std::printf("full speed, through RewindSinkMF:    %8.0f samples/s (%.3f s), CPU %.1f us a sample\n",
                total / sink, sink, sinkCpu / total * 1e6);
    std::printf("media layer cost: %+.1f %% of the direct time (target: at most 10 %%) -> %s\n",
                (sink / direct - 1) * 100, sink <= direct * 1.10 ? "met" : "NOT met");

    // Real time: 25 fps on every stream for 10 s.
    const int realTimeSamples = 250;
    const double cpuBefore = processCpuSeconds();
    const double wall =
        recordThroughSink(frames, realTimeSamples, std::chrono::milliseconds(40), QStringLiteral("RealTime"));
    const double cpu = processCpuSeconds() - cpuBefore;
    if (wall < 0) {
        std::fprintf(stderr, "real-time recording failed\n");
        return 1;
    }
    std::printf("real time, %d streams at 25 fps for %.1f s: CPU %.2f s = %.1f %% of one core\n", kStreams,
                wall, cpu, cpu / wall * 100);
    QDir(root).removeRecursively();
    return 0;
}
