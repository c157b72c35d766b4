#pragma once
// Test helper: watches the four video inputs of the capture board, as the recording server would,
// and counts per input the frames showing the running line, its own test picture, or anything else.

#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/kx/kxvideoinput.h"

#include <memory>
#include <mutex>
#include <tuple>

namespace {
using namespace nyx::multimedia;

bool isRunningLine(const Nv12Frame &f)
{
    if (TimeStrip::read(f))
        return false;
    const uchar *row = f.y() + qsizetype(f.height / 2) * f.width;
    int bright = 0, dark = 0;
    for (int x = 0; x < f.width; ++x) {
        bright += row[x] > 200;
        dark += qAbs(row[x] - RunningLine::BackgroundLuma) < 8;
    }
    return bright > 0 && bright <= 24 && dark >= f.width - 24;
}

// Counts, per board input, the frames that showed the running line and those that showed the
// input's own test picture.
struct Board
{
    struct Input
    {
        std::unique_ptr<KXVideoInput> capture;
        std::mutex mutex;
        int line = 0;
        int picture = 0;
        int other = 0;
    };
    Input inputs[4];

    void start()
    {
        for (int i = 0; i < 4; ++i) {
            Input &in = inputs[i];
            in.capture = std::make_unique<KXVideoInput>(
                *KXAddress::parse(QUrl(QStringLiteral("kx:///KX788 Board 1 Input %1").arg(i + 1))), nullptr,
                KXVideoInput::Options{300});
            in.capture->start([&in](const Nv12Frame &f) {
                const auto strip = TimeStrip::read(f);
                const bool own = strip && qint64(*strip) == f.time;
                const bool line = !own && isRunningLine(f);
                std::lock_guard<std::mutex> lock(in.mutex);
                (own ? in.picture : line ? in.line : in.other)++;
            });
        }
    }
    void stop()
    {
        for (Input &in : inputs)
            in.capture->stop();
    }
    // (running-line frames, test-picture frames, anything else) of input n (1-based)
    std::tuple<int, int, int> counts(int n)
    {
        std::lock_guard<std::mutex> lock(inputs[n - 1].mutex);
        return {inputs[n - 1].line, inputs[n - 1].picture, inputs[n - 1].other};
    }
};

} // namespace
