// Encoder benchmark, in one run:
//  1. frames per second of H264Encoder against the ffmpeg program (libx264, the same settings) on the
//     same raw 1080p NV12 input, each timed over its encode alone (ffmpeg's own -benchmark_all figures
//     for its encoder calls, not its start nor its reading of the raw frames), on the board's camera
//     picture (target: at least 0.9 of ffmpeg's rate) and on its still test picture;
//  2. CPU share and memory of four capture inputs showing the camera picture, encoded at real time
//     (target: under 2 cores).
// Usage: bench_h264encoder [seconds of the real-time run, default 20]
#include "multimedia/engines/h264encoder.h"
#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/testpicture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <mutex>
#include <sys/resource.h>

using namespace nyx::multimedia;

namespace {

constexpr int Width = 1920, Height = 1080, DistinctFrames = 50, Loops = 6;
const char *const Preset = "superfast";
constexpr int BitRate = 8000000;

double cpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident memory now, in MB.
long rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int realTimeSeconds = argc > 1 ? atoi(argv[1]) : 20;

    H264EncoderSettings settings;
    settings.preset = QString::fromLatin1(Preset);
    settings.bitRate = BitRate;
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QTemporaryDir dir;
    const QString rawPath = dir.filePath(QStringLiteral("input.nv12"));
    const int total = DistinctFrames * Loops;
    QVector<Nv12Frame> frames;
    QElapsedTimer timer;
    for (const auto &[style, styleName] : {std::pair{TestPicture::Style::Camera, "camera picture"},
                                           std::pair{TestPicture::Style::Test, "test picture"}}) {
        // The input, written once to a raw file for ffmpeg.
        frames.clear();
        TestPicture picture(QStringLiteral("KX788 Board 1 Input 1"), Width, Height, 25, style);
        QFile raw(rawPath);
        if (!raw.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < DistinctFrames; ++i) {
            frames.append(picture.render(i, i * 400000LL, QDateTime::currentDateTime().addMSecs(i * 40)));
            raw.write(frames.last().data);
        }
        raw.close();

        // info: the level -benchmark_all reports at, one line per call of the encoder.
        const QStringList args{QStringLiteral("-nostdin"),
                               "-loglevel",
                               "info",
                               "-nostats",
                               "-benchmark_all",
                               "-f",
                               "rawvideo",
                               "-pix_fmt",
                               "nv12",
                               "-s",
                               QStringLiteral("%1x%2").arg(Width).arg(Height),
                               "-r",
                               "25",
                               "-stream_loop",
                               QString::number(Loops - 1),
                               "-i",
                               rawPath,
                               "-c:v",
                               "libx264",
                               "-preset",
                               Preset,
                               "-tune",
                               "zerolatency",
                               "-g",
                               "25",
                               "-keyint_min",
                               "25",
                               "-bf",
                               "0",
                               "-x264-params",
                               "scenecut=0:open-gop=0:repeat-headers=1",
                               "-b:v",
                               QString::number(BitRate),
                               "-maxrate",
                               QString::number(BitRate),
                               "-bufsize",
                               QString::number(BitRate),
                               "-f",
                               "h264",
                               "-y",
                               "/dev/null"};
        // Alternating rounds, best of each, so that a burst of load elsewhere hits both sides alike.
        double ours = 0, theirs = 0;
        qint64 bytes = 0;
        for (int round = 0; round < 3; ++round) {
            H264Encoder encoder;
            if (!encoder.open(settings)) {
                std::fprintf(stderr, "encoder: %s\n", qPrintable(encoder.errorString()));
                return 1;
            }
            timer.start();
            bytes = 0;
            for (int i = 0; i < total; ++i) {
                Nv12Frame f = frames[i % DistinctFrames];
                f.time = i * 400000LL;
                for (const H264Packet &p : encoder.encode(f))
                    bytes += p.data.size();
            }
            ours = qMax(ours, total / (timer.nsecsElapsed() / 1e9));
            if (ffmpeg.isEmpty())
                continue;
            QProcess p;
            p.start(ffmpeg, args);
            if (!p.waitForFinished(600000) || p.exitCode() != 0) {
                std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
                continue;
            }
            // "bench: <user> user <sys> sys <real> real encode_video ..." in microseconds, one line per
            // frame sent to the encoder and per packet taken from it (flush_video for those drained at
            // the end): together their real times are the encode loop's.
            double encodeSeconds = 0;
            int calls = 0;
            for (const QByteArray &line : p.readAllStandardError().split('\n')) {
                const QList<QByteArray> f = line.simplified().split(' ');
                if (f.size() >= 8 && f[0] == "bench:" && f[6] == "real" &&
                    (f[7] == "encode_video" || f[7] == "flush_video")) {
                    encodeSeconds += f[5].toDouble() / 1e6;
                    calls += f[7] == "encode_video";
                }
            }
            if (calls >= total && encodeSeconds > 0)
                theirs = qMax(theirs, total / encodeSeconds);
            else
                std::fprintf(stderr, "ffmpeg's -benchmark_all figures missing (%d of %d frames)\n", calls,
                             total);
        }
        std::printf("encoder 1080p25 %s zerolatency, %s, %d frames (%.1f MB out, %.2f Mbit/s):\n", Preset,
                    styleName, total, bytes / 1e6, bytes * 8 / (total / 25.0) / 1e6);
        std::printf("  H264Encoder        %7.1f fps\n", ours);
        const bool held = style == TestPicture::Style::Camera;
        if (theirs > 0)
            std::printf("  ffmpeg -c:v libx264 %6.1f fps (its encode calls alone)\n  ratio %.2f %s\n", theirs,
                        ours / theirs,
                        held
                            ? (ours / theirs >= 0.9 ? "(target >= 0.90) ok" : "(target >= 0.90) BELOW TARGET")
                            : "(for comparison)");
        else
            std::printf("  ffmpeg not found: no comparison\n");
    }

    // Four inputs captured and encoded at real time, each on its own input thread, showing the
    // board's camera picture.
    qputenv("NYX_KX_PICTURE", "camera");
    frames.clear();
    frames.squeeze();
    const long rssBefore = rssMb();
    struct Channel
    {
        std::unique_ptr<KXVideoInput> input;
        H264Encoder encoder;
        qint64 frames = 0;
        qint64 bytes = 0;
    };
    Channel channels[4];
    for (int i = 0; i < 4; ++i) {
        auto address = KXAddress::parse(QUrl(QStringLiteral("kx:///KX788 Board 1 Input %1").arg(i + 1)));
        channels[i].input = std::make_unique<KXVideoInput>(*address);
        if (!channels[i].encoder.open(settings))
            return 1;
    }
    const double cpuBefore = cpuSeconds();
    timer.start();
    for (Channel &c : channels)
        c.input->start([&c](const Nv12Frame &f) {
            for (const H264Packet &p : c.encoder.encode(f))
                c.bytes += p.data.size();
            ++c.frames;
        });
    QThread::sleep(realTimeSeconds);
    const long rssDuring = rssMb();
    for (Channel &c : channels)
        c.input->stop();
    const double wall = timer.nsecsElapsed() / 1e9;
    const double cores = (cpuSeconds() - cpuBefore) / wall;
    qint64 captured = 0, skipped = 0;
    for (const Channel &c : channels) {
        captured += c.frames;
        skipped += c.input->framesSkipped();
    }
    std::printf("four 1080p25 inputs (camera picture) captured and encoded for %.1f s:\n", wall);
    std::printf("  frames %lld (expected %.0f), skipped %lld\n", static_cast<long long>(captured),
                4 * 25 * wall, static_cast<long long>(skipped));
    std::printf(
        "  CPU %.2f cores (target < 2) %s, resident memory %ld MB (%ld MB before the inputs started)\n",
        cores, cores < 2 ? "ok" : "ABOVE TARGET", rssDuring, rssBefore);
    return 0;
}
