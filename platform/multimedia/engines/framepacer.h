#pragma once
// The pacing loop of a live video source: a thread that makes one frame per frame slot on a clock.
// Slot n is due at start + n x duration and its frame is stamped with that time. Like capture
// hardware, which captures every frame whatever the software's scheduling, a thread that was held
// up makes the slots it missed afterwards, each with its own time (a burst after the stall), as long
// as it is no more than the catch-up window behind; slots older than that are skipped, counted, and
// logged once per stall.

#include "multimedia/engines/mediaclock.h"
#include "multimedia/engines/nv12frame.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace nyx::multimedia {

class FramePacer
{
public:
    // Makes the frame of a slot (on the pacer's thread); a null frame leaves the slot empty.
    using Produce = std::function<Nv12Frame(qint64 slot, qint64 time)>;
    // Receives each frame, stamped, on the pacer's thread; it must return quickly.
    using Deliver = std::function<void(const Nv12Frame &frame)>;

    // How far behind (100 ns) the pacer still makes up the slots it missed: a board's two seconds.
    static constexpr qint64 DefaultCatchUp = 2 * 10000000LL;

    // clock: not owned, must outlive the pacer; null means a steady clock of the pacer's own.
    FramePacer(MediaClock *clock, qint64 frameDuration, qint64 catchUp = DefaultCatchUp);
    ~FramePacer();
    FramePacer(const FramePacer &) = delete;
    FramePacer &operator=(const FramePacer &) = delete;

    bool start(Produce produce, Deliver deliver);
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

    qint64 frameDuration() const { return m_duration; }
    qint64 catchUp() const { return m_catchUp; }
    // The clock's time at start(): the time of slot 0.
    qint64 startTime() const { return m_start; }
    qint64 framesDelivered() const { return m_delivered; }
    // Slots given up because the thread fell further behind than the catch-up window.
    qint64 framesSkipped() const { return m_skipped; }
    // Stalls that cost slots.
    qint64 stalls() const { return m_stalls; }

private:
    void run(const Produce &produce, const Deliver &deliver, qint64 start);

    std::unique_ptr<MediaClock> m_ownClock;
    MediaClock *m_clock;
    qint64 m_duration;
    qint64 m_catchUp;
    std::thread m_thread;
    std::atomic<qint64> m_start{0};
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_skipped{0};
    std::atomic<qint64> m_stalls{0};
};

} // namespace nyx::multimedia
