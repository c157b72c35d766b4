#pragma once
// A video input of the virtual capture board: 1920x1080 NV12 at 25 fps, paced by a clock on a thread
// of its own. It shows the frames looped back from the output of the same number while a writer
// feeds that output, and its test picture otherwise.

#include "multimedia/engines/framepacer.h"
#include "multimedia/engines/nv12frame.h"
#include "multimedia/kx/kxaddress.h"

#include <atomic>
#include <functional>

namespace nyx::multimedia {

class KXVideoInput
{
public:
    static constexpr int Width = 1920;
    static constexpr int Height = 1080;
    static constexpr int FrameRate = 25;
    static constexpr qint64 FrameDuration = 10000000 / FrameRate; // 100 ns

    // Called on the input's thread for every frame; it should return quickly (hand the frame to a
    // bounded queue): slots missed while it runs are made up afterwards, up to the pacer's
    // catch-up window (two seconds), and skipped beyond it.
    using FrameCallback = std::function<void(const Nv12Frame &frame)>;

    struct Options
    {
        // The output counts as unplugged when its writer sent nothing for this long.
        int loopbackTimeoutMs = 500;
    };

    // clock: not owned, must outlive the input; null means a steady clock of the input's own.
    KXVideoInput(const KXAddress &address, MediaClock *clock, Options options);
    explicit KXVideoInput(const KXAddress &address, MediaClock *clock = nullptr);
    ~KXVideoInput();
    KXVideoInput(const KXVideoInput &) = delete;
    KXVideoInput &operator=(const KXVideoInput &) = delete;

    const KXAddress &address() const { return m_address; }
    // Frames are stamped with the clock's time of their slot: the first one at the clock's time
    // when start() was called, then exactly FrameDuration apart (a skipped slot leaves a gap).
    // After the thread was held up the missed frames follow in a burst, each with its slot's time.
    bool start(FrameCallback callback);
    void stop();
    bool isRunning() const { return m_pacer.isRunning(); }

    // The clock's time at start(): the time of slot 0.
    qint64 startTime() const { return m_pacer.startTime(); }
    qint64 framesDelivered() const { return m_pacer.framesDelivered(); }
    qint64 framesSkipped() const { return m_pacer.framesSkipped(); }
    qint64 loopbackFrames() const { return m_loopback; }

private:
    KXAddress m_address;
    Options m_options;
    FramePacer m_pacer;
    std::atomic<qint64> m_loopback{0};
};

} // namespace nyx::multimedia
