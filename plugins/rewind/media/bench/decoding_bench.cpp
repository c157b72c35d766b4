// A 1080p H.264 stream of another recorder played through the whole playback path (archive reader,
// RewindSourceMF, the H.264 stream, decoder and converter objects, pool samples and stream events):
// at rate 1 into a sink that takes samples as fast as they come, against `ffmpeg -threads 1` decoding
// the same access units to NV12; and the CPU share of key-frame-only play at rate 10 into a sink
// that presents each sample at its time.
// Usage: decoding_bench [frames] (default 500, 25 per second, a key frame every 25).

#include "decodingtesthelpers.h"

#include "rewindsourcestream2avc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

namespace {
constexpr int kWidth = 1920, kHeight = 1080;
constexpr LONGLONG kFrame = 400000;
using decodingtest::kBase;
using decodingtest::kSecond;

struct Run
{
    int samples = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    bool ended = false;
};

// Plays from the start; paced: each sample is presented at its time at that rate before the next
// request, else depth requests are kept outstanding.
Run play(const playbacktest::Recording &r, float rate, bool paced, int depth = 4)
{
    Run run;
    HRESULT hr = E_FAIL;
    CComPtr<RewindSourceMF> source(new RewindSourceMF(hr));
    if (FAILED(hr) ||
        FAILED(source->initialize(r.server, r.stream, false, -1, 0, kBase, kBase + 3600 * kSecond)))
        return run;
    source->setQuality(1.0);
    CComPtr<IMFRateControl> rateControl;
    MFGetService(static_cast<IMFMediaSourceEx *>(source.p), MF_RATE_CONTROL_SERVICE, IID_IMFRateControl,
                 reinterpret_cast<void **>(&rateControl));
    if (!rateControl || FAILED(rateControl->SetRate(FALSE, rate)))
        return run;
    IMFMediaStream *stream = source->stream()->mediaStream();
    sourcetest::EventLog events(stream);
    LONGLONG lastTime = 0;
    events.onEvent = [&](sourcetest::Event &e) {
        if (e.type == MEMediaSample) {
            CComPtr<IMFSample> sample;
            e.object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&sample));
            sample->GetSampleTime(&lastTime);
            ++run.samples;
            e.object.Release(); // back to the pool
            if (!paced)
                stream->RequestSample(nullptr);
        }
        run.ended = run.ended || e.type == MEEndOfStream;
    };
    CComPtr<IMFPresentationDescriptor> descriptor;
    source->CreatePresentationDescriptor(&descriptor);
    const auto start = nyx::mf::PropVariant::fromInt64(0);
    const std::clock_t cpu = std::clock();
    QElapsedTimer timer;
    timer.start();
    if (FAILED(source->Start(descriptor, nullptr, &start)))
        return run;
    for (int i = 0; i < (paced ? 1 : depth); ++i)
        stream->RequestSample(nullptr);
    while (!run.ended && timer.elapsed() < 600000) {
        const int before = run.samples;
        events.waitFor([&] { return run.ended || run.samples > before; }, 600000);
        if (paced && !run.ended) {
            // Present at the clock's time, then ask for the next one.
            const qint64 due = static_cast<qint64>(lastTime / 10000.0 / rate);
            while (timer.elapsed() < due)
                QThread::msleep(static_cast<unsigned long>(std::max<qint64>(1, due - timer.elapsed())));
            stream->RequestSample(nullptr);
        }
    }
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    source->Shutdown();
    return run;
}

// ffmpeg decoding the access units to NV12 on one thread: wall and CPU seconds (0 on failure).
struct FfmpegRun
{
    double seconds = 0;
    double cpuSeconds = 0;
};

FfmpegRun runFfmpeg(const QString &file)
{
    QProcess ffmpeg;
    const QStringList args =
        QStringLiteral("-hide_banner -nostats -loglevel info -benchmark -threads 1 -f h264 -i "
                       "%1 -threads 1 -filter_threads 1 -pix_fmt nv12 -f null -")
            .arg(file)
            .split(QLatin1Char(' '));
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    FfmpegRun run;
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0)
        return run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    // "bench: utime=1.234s stime=0.012s rtime=1.300s"
    const QRegularExpression bench(QStringLiteral("utime=([0-9.]+)s stime=([0-9.]+)s"));
    const auto match = bench.match(QString::fromLocal8Bit(ffmpeg.readAllStandardError()));
    if (match.hasMatch())
        run.cpuSeconds = match.captured(1).toDouble() + match.captured(2).toDouble();
    return run;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    QLoggingCategory::setFilterRules(
        QStringLiteral("Multimedia.Rewind.*.debug=false\nMultimedia.Rewind.*.info=false"));
    const int frames = argc > 1 ? std::max(25, atoi(argv[1])) : 500;
    QTemporaryDir root;
    archivetest::useRoot(root.path());

    mediasamples::EncoderSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.frames = frames;
    std::printf("encoding %d frames of %dx%d ...\n", frames, kWidth, kHeight);
    std::fflush(stdout);
    const auto encoded = mediasamples::encode(settings);
    QVector<decodingtest::Record> records;
    QByteArray annexB;
    int keys = 0;
    for (std::size_t i = 0; i < encoded.packets.size(); ++i) {
        decodingtest::Record rec;
        rec.time = kBase + LONGLONG(i) * kFrame;
        rec.data[QStringLiteral("Video_1")] = encoded.packets[i];
        if (encoded.keys[i]) {
            rec.blobs[QStringLiteral("KeyFrame")] = QByteArray();
            ++keys;
        }
        records.append(rec);
        annexB += encoded.packets[i];
    }
    playbacktest::Recording r;
    if (!decodingtest::createStream(&r, QStringLiteral("Bench"), 7, {}) ||
        FAILED(decodingtest::writeRecords(&r, records)))
        return 1;
    const QString file = root.filePath(QStringLiteral("clip.h264"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(annexB) != annexB.size())
        return 1;
    out.close();

    // Wall-clock frame rates decide; the CPU-time rates show what a loaded machine took away.
    const FfmpegRun ffmpeg = runFfmpeg(file);
    const Run full = play(r, 1.0f, false);
    auto rate = [](int n, double s) { return s > 0 ? n / s : 0.0; };
    const double reference = rate(frames, ffmpeg.seconds);
    const double fps = rate(full.samples, full.seconds);
    std::printf("ffmpeg -threads 1 to NV12:           %6.1f fps (%.2f s; by CPU time %.1f fps)\n", reference,
                ffmpeg.seconds, rate(frames, ffmpeg.cpuSeconds));
    std::printf("playback path, rate 1, full quality: %6.1f fps (%d samples, %.2f s; by CPU time %.1f fps)\n",
                fps, full.samples, full.seconds, rate(full.samples, full.cpuSeconds));
    std::printf("ratio: %.3f (target: at least 0.9); by CPU time %.3f\n",
                reference > 0 ? fps / reference : 0.0,
                full.cpuSeconds > 0 && ffmpeg.cpuSeconds > 0 ? ffmpeg.cpuSeconds / full.cpuSeconds : 0.0);

    const Run fast = play(r, 10.0f, true);
    const double share = fast.seconds > 0 ? fast.cpuSeconds / fast.seconds : 0;
    std::printf("rate 10, key frames only, presented in time: %d samples of %d key frames in %.2f s, "
                "CPU %.2f s: %.2f of a core (target: under 0.5)\n",
                fast.samples, keys, fast.seconds, fast.cpuSeconds, share);
    return full.samples == frames && fast.samples == keys ? 0 : 1;
}
