// How long a seek takes until the frame at the position is handed to the view: one or four
// 1080p25 H.264 streams (the capture board's camera or test picture through libx264 superfast at 8 Mbit/s,
// a key frame every second) in a real archive folder, replayed as the client does (one media
// session, RewindSource -> VideoDecoder -> a paced output per camera), started at positions 0, 12
// and 24 frames after a key frame, at rate 0 (a frame step, a pause on a position) and at rate 1
// (a click on an event). The time runs from play() to the moment the last camera's output got
// its first frame; drawing it adds one frame of the window at most.
// Usage: replayseek_bench [repeats] [camera|test] (default 9, the camera picture).

#include "mediasession.h"
#include "nodeconnection.h"
#include "playbacktesthelpers.h"
#include "replaytypes.h"
#include "rewindsource.h"
#include "shownframes.h"
#include "stream.h"
#include "workerharness.h"

#include "archivetime.h"
#include "com/guid.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/kx/testpicture.h"
#include "multimedia/nodes/videodecodernode.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>

using namespace playbacktest;
using namespace nyx::multimedia;

namespace {
constexpr int kFrames = 100; // four seconds
constexpr int kCameras = 4;

QString qmlTime(LONGLONG fileTime)
{
    return QStringLiteral("new Date(%1)")
        .arg(fromWin32FileTime(static_cast<quint64>(fileTime)).toMSecsSinceEpoch());
}

QVector<Frame> encodeCamera(int camera, TestPicture::Style style)
{
    H264EncoderSettings settings; // 1080p25, GOP 25, superfast, 8 Mbit/s: as the station records
    H264Encoder encoder;
    QVector<Frame> frames;
    if (!encoder.open(settings))
        return frames;
    TestPicture picture(QStringLiteral("Input %1").arg(camera + 1), 1920, 1080, 25, style);
    const QDateTime wall = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < kFrames; ++i) {
        Nv12Frame nv12 = picture.render(i, i * kFrame, wall.addMSecs(i * 40));
        nv12.time = i * kFrame;
        nv12.duration = kFrame;
        const QVector<H264Packet> packets = encoder.encode(nv12);
        if (packets.size() != 1)
            return {};
        Frame f;
        f.time = kBase + i * kFrame;
        f.key = packets.first().keyFrame;
        f.width = 1920;
        f.height = 1080;
        f.bytes = packets.first().data;
        frames.append(f);
    }
    return frames;
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? qMax(1, atoi(argv[1])) : 9;
    // The board's camera picture by default: the target holds on a camera's detail and motion.
    bool known = true;
    const TestPicture::Style style = TestPicture::styleFromName(
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("camera"), &known);
    if (!known) {
        std::fprintf(stderr, "usage: replayseek_bench [REPEATS] [camera|test]\n");
        return 2;
    }
    QTemporaryDir root;
    archivetest::useRoot(root.path());
    QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.*.debug=false\nMultimedia.*.info=false"));
    registerReplayTypes("SeekBench");
    WorkerHarness harness;
    harness.start(20);

    std::printf("recording %d cameras of %d frames 1080p25 (the board's %s picture)...\n", kCameras, kFrames,
                style == TestPicture::Style::Camera ? "camera" : "test");
    std::fflush(stdout);
    std::vector<std::unique_ptr<Recording>> recordings;
    QList<Stream *> streams;
    for (int c = 0; c < kCameras; ++c) {
        auto recording = std::make_unique<Recording>();
        const QVector<Frame> frames = encodeCamera(c, style);
        if (frames.size() != kFrames || !recording->create(QStringLiteral("cam%1").arg(c + 1)) ||
            FAILED(recording->writeAll(frames))) {
            std::fprintf(stderr, "recording camera %d failed\n", c + 1);
            return 1;
        }
        streams.append(new Stream(recording->server, nyx::com::toQUuid(recording->storage),
                                  nyx::com::toQUuid(recording->id), false, QStringLiteral("cam%1").arg(c + 1),
                                  harness.timer, harness.thread));
        recordings.push_back(std::move(recording));
    }

    std::printf("seek to the first frame handed to the view, median of %d (ms):\n", repeats);
    std::printf("%-8s %-6s %8s %8s %8s\n", "cameras", "rate", "key+0", "key+12", "key+24");
    for (int cameras : {1, kCameras}) {
        QQmlEngine engine;
        QString body;
        for (int c = 0; c < cameras; ++c) {
            engine.rootContext()->setContextProperty(QStringLiteral("cam%1").arg(c), streams[c]);
            body += QStringLiteral("  RewindSource { id: s%1; stream: cam%1; from: %2; to: %3 }\n"
                                   "  VideoDecoder { id: d%1 }\n"
                                   "  ShownFrames { id: v%1 }\n"
                                   "  NodeConnection { from: s%1.videoOutput; to: d%1.videoInput }\n"
                                   "  NodeConnection { from: d%1.output; to: v%1.videoInput }\n")
                        .arg(c)
                        .arg(qmlTime(kBase), qmlTime(kBase + kFrames * kFrame));
        }
        QQmlComponent component(&engine);
        component.setData(("import SeekBench 1.0\nMediaSession {\n" + body + "}\n").toUtf8(), QUrl());
        std::unique_ptr<MediaSession> session(qobject_cast<MediaSession *>(component.create()));
        if (!session) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            return 1;
        }
        const QList<ShownFrames *> views = session->findChildren<ShownFrames *>();
        if (!QTest::qWaitFor(
                [&] {
                    return std::all_of(views.begin(), views.end(),
                                       [](ShownFrames *v) { return v->status() == MediaNode::StatusReady; });
                },
                30000)) {
            std::fprintf(stderr, "the graph did not become ready\n");
            return 1;
        }
        for (double rate : {0.0, 1.0}) {
            std::printf("%-8d %-6g", cameras, rate);
            for (int offset : {0, 12, 24}) {
                QVector<double> times;
                bool right = true;
                for (int r = 0; r < repeats; ++r) {
                    for (ShownFrames *v : views)
                        v->reset();
                    // Alternating between the second and third second of the recording, mid-frame.
                    const int target = (1 + r % 2) * 25 + offset;
                    session->setRate(rate);
                    session->setPosition(target * 0.04 + 0.02);
                    const auto start = std::chrono::steady_clock::now();
                    session->play();
                    if (!QTest::qWaitFor(
                            [&] {
                                return std::all_of(views.begin(), views.end(), [](ShownFrames *v) {
                                    return !v->counts().shown.isEmpty();
                                });
                            },
                            20000)) {
                        right = false;
                        break;
                    }
                    auto last = start;
                    for (ShownFrames *v : views) {
                        const ShownFrames::Counts c = v->counts();
                        last = std::max(last, c.firstShown);
                        // The board's strip carries the frame's time.
                        right = right && c.shown.first() == int(target * kFrame);
                    }
                    times.append(std::chrono::duration<double, std::milli>(last - start).count());
                    session->stop();
                }
                std::printf(" %8.1f%s", median(times), right ? "" : "!");
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    std::printf("(! marks a run whose first frame was not the one at the position)\n");
    qDeleteAll(streams);
    return 0;
}
