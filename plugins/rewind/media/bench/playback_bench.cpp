// Playback benchmark: the time from the creation of a RewindSource to its first sample (the range
// measurement on the worker thread and the source build included), and the time of a seek to a
// random position in a 1-hour 25 fps stream of small frames. Both against a target of 100 ms.
//
//   playback_bench [folder]   (works in <folder>/playback-bench, removed at the end)

#include "playbacktesthelpers.h"
#include "range.h"
#include "rewindsource.h"
#include "stream.h"

#include "archivetime.h"
#include "com/guid.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace playbacktest;

namespace {
constexpr int kFrames = 25 * 3600;
constexpr int kRuns = 50;
constexpr double kTargetMs = 100.0;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Starts the source at offset and waits for the sample that answers one request.
bool firstSample(IMFMediaSource *source, IMFMediaStream *stream, LONGLONG offset)
{
    CComPtr<IMFPresentationDescriptor> descriptor;
    const auto position = nyx::mf::PropVariant::fromInt64(offset);
    if (FAILED(source->CreatePresentationDescriptor(&descriptor)) ||
        FAILED(source->Start(descriptor, nullptr, &position)) || FAILED(stream->RequestSample(nullptr)))
        return false;
    for (;;) {
        CComPtr<IMFMediaEvent> event;
        if (FAILED(stream->GetEvent(0, &event)))
            return false;
        MediaEventType type = MEUnknown;
        event->GetType(&type);
        if (type == MEMediaSample)
            return true;
        if (type == MEError || type == MEEndOfStream)
            return false;
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.*.debug=false\nMultimedia.*.info=false"));
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir folder(base + QStringLiteral("/playback-bench"));
    folder.removeRecursively();
    QDir().mkpath(folder.path());
    archivetest::useRoot(folder.path());

    Recording r;
    if (!r.create(QStringLiteral("hour"))) {
        std::fprintf(stderr, "cannot create the archive stream\n");
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    HRESULT hr = r.startWriter(kBase);
    for (int i = 0; SUCCEEDED(hr) && i < kFrames; ++i) {
        Frame f;
        f.time = kBase + i * kFrame;
        f.key = i % 25 == 0;
        f.bytes = QByteArray(200, char(i));
        hr = r.write(f);
    }
    if (FAILED(hr) || FAILED(r.stopWriter())) {
        std::fprintf(stderr, "recording failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("recorded %d frames (1 hour at 25 fps, 200 bytes) in %.1f s\n", kFrames,
                timer.elapsed() / 1000.0);

    // The service's worker thread with its 500 ms timer.
    QSharedPointer<QThread> worker(new QThread);
    QSharedPointer<QTimer> tick(new QTimer);
    worker->start();
    tick->moveToThread(worker.data());
    QMetaObject::invokeMethod(tick.data(), "start", Qt::QueuedConnection, Q_ARG(int, 500));
    auto *stream = new Stream(r.server, nyx::com::toQUuid(r.storage), nyx::com::toQUuid(r.id), false,
                              QStringLiteral("hour"), tick, worker);

    QRandomGenerator random(1234);
    std::vector<double> creation;
    for (int run = 0; run < kRuns; ++run) {
        const LONGLONG from = kBase + static_cast<LONGLONG>(random.bounded(kFrames - 250)) * kFrame;
        timer.restart();
        auto *node = new RewindSource;
        node->setStream(stream);
        node->setFrom(fromWin32FileTime(static_cast<quint64>(from)));
        node->setTo(fromWin32FileTime(static_cast<quint64>(from + 10 * kSecond)));
        QEventLoop loop;
        QObject::connect(node, &MediaNode::statusChanged, &loop, [&] {
            if (node->status() == MediaNode::StatusReady || node->status() == MediaNode::StatusError)
                loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        CComPtr<IMFMediaSource> source;
        if (node->source())
            node->source()->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(&source));
        auto *mf = dynamic_cast<RewindSourceMF *>(node->source().p);
        if (node->status() != MediaNode::StatusReady || !source || !mf ||
            !firstSample(source, mf->stream()->mediaStream(), 0)) {
            std::fprintf(stderr, "run %d: no first sample (status %d)\n", run, node->status());
            return 1;
        }
        creation.push_back(timer.nsecsElapsed() / 1e6);
        source->Shutdown();
        delete node;
    }

    // One source over the whole hour, started again and again at random positions.
    std::vector<double> seeks;
    {
        HRESULT made = E_FAIL;
        CComPtr<RewindSourceMF> source(new RewindSourceMF(made));
        if (FAILED(made) ||
            FAILED(source->initialize(r.server, r.stream, false, -1, 0, kBase, kBase + kFrames * kFrame))) {
            std::fprintf(stderr, "cannot open the hour\n");
            return 1;
        }
        for (int run = 0; run < kRuns; ++run) {
            const LONGLONG offset =
                static_cast<LONGLONG>(random.bounded(kFrames)) * kFrame + random.bounded(400000);
            timer.restart();
            if (!firstSample(source, source->stream()->mediaStream(), offset)) {
                std::fprintf(stderr, "seek %d failed\n", run);
                return 1;
            }
            seeks.push_back(timer.nsecsElapsed() / 1e6);
            source->Stop();
        }
        source->Shutdown();
    }

    const double c = median(creation);
    const double s = median(seeks);
    std::printf("creation to first sample: median %.2f ms over %d runs (target %.0f ms, ratio %.3f)\n", c,
                kRuns, kTargetMs, c / kTargetMs);
    std::printf("seek to first sample:     median %.2f ms over %d runs (target %.0f ms, ratio %.3f)\n", s,
                kRuns, kTargetMs, s / kTargetMs);

    delete stream;
    QMetaObject::invokeMethod(tick.data(), "stop", Qt::BlockingQueuedConnection);
    worker->quit();
    worker->wait();
    folder.removeRecursively();
    return 0;
}
