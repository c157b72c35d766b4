// Frame times and order as an archive may hold them (repeated times, steps back, gaps longer than the
// read window, times at the end of the archive's range, key frames anywhere or nowhere), played through
// RewindSourceMF's read loop with seeks, rates and frame steps. Nothing may overflow, read out of
// bounds or deliver a frame that is not in the stream; every sample carries a written frame's time.

#include "playbacktesthelpers.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <climits>
#include <set>

using namespace playbacktest;

namespace {
int g_streams = 0;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir root;
    archivetest::useRoot(root.path());
    QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.Rewind.*=false\nnyx.*=false"));
    return 0;
}

// Input: a control block of 6 bytes (flags: 1 times at the end of the archive's range; start offset
// in frames; rate index; seek offset in frames; requests; frame steps), then a frame per 2 bytes
// (time step in quarter frames, signed: a step back is written as such; bit 0 of the second byte a
// key frame, bits 1-7 the payload number).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    const uint8_t flags = data[0];
    const LONGLONG startOffset = (data[1] % 64) * kFrame;
    static const float kRates[] = {1.0f, 0.0f, 0.5f, 1.75f, 2.0f, 4.0f, 16.0f, 0.25f};
    const float rate = kRates[data[2] % 8];
    const LONGLONG seekOffset = (data[3] % 64) * kFrame - 8 * kFrame;
    const int requests = 1 + data[4] % 24;
    const int steps = data[5] % 4;

    QVector<Frame> frames;
    LONGLONG time = 0;
    for (std::size_t at = 6; at + 1 < size && frames.size() < 200; at += 2) {
        time += static_cast<int8_t>(data[at]) * (kFrame / 4);
        Frame f;
        f.time = time;
        f.key = data[at + 1] & 1;
        f.bytes = payload(data[at + 1] >> 1);
        frames.append(f);
    }
    LONGLONG lowest = 0, highest = 0;
    for (const Frame &f : frames) {
        lowest = std::min(lowest, f.time);
        highest = std::max(highest, f.time);
    }
    const LONGLONG base = (flags & 1) ? LLONG_MAX - highest : kBase - lowest;
    std::set<LONGLONG> written;
    for (Frame &f : frames) {
        f.time += base;
        written.insert(f.time);
    }

    Recording r;
    if (!r.create(QStringLiteral("F%1").arg(++g_streams)))
        return 0;
    // A writer may refuse what it cannot store (times going back): what it did store is played.
    r.writeAll(frames);

    const LONGLONG from = frames.first().time + startOffset;
    const LONGLONG to = (flags & 2) ? LLONG_MAX : from + 4 * kSecond;
    Player p;
    if (FAILED(p.open(r, from, to)))
        return 0;
    p.rateControl()->SetRate(FALSE, rate);
    if (SUCCEEDED(p.start(0))) {
        p.request(requests);
        p.streamEvents->waitFor([&] { return p.samples.size() >= requests || p.ended(); }, 3000);
    }
    if (!p.ended() && SUCCEEDED(p.start(seekOffset))) {
        p.rateControl()->SetRate(FALSE, steps ? 0.0f : rate);
        p.request(steps + 2);
        p.streamEvents->waitFor([&] { return p.samples.size() >= requests + steps + 2 || p.ended(); }, 3000);
    }
    p.streamEvents->drain();
    for (const Played &s : p.samples)
        if (!written.count(s.position))
            __builtin_trap();
    return 0;
}
