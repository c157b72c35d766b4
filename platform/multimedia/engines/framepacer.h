#pragma once
// The pacing loop of a live video source: a thread that makes one frame per frame slot on a clock.
// Slot n is due at start + n x duration and its frame is stamped with that time; a thread that falls
// a frame or more behind skips the slots it missed (counted) instead of making them up in a burst.

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

    // clock: not owned, must outlive the pacer; null means a steady clock of the pacer's own.
    FramePacer(MediaClock *clock, qint64 frameDuration);
    ~FramePacer();
    FramePacer(const FramePacer &) = delete;
    FramePacer &operator=(const FramePacer &) = delete;

    bool start(Produce produce, Deliver deliver);
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

    qint64 frameDuration() const { return m_duration; }
    // The clock's time at start(): the time of slot 0.
    qint64 startTime() const { return m_start; }
    qint64 framesDelivered() const { return m_delivered; }
    qint64 framesSkipped() const { return m_skipped; }

private:
    void run(const Produce &produce, const Deliver &deliver, qint64 start);

    std::unique_ptr<MediaClock> m_ownClock;
    MediaClock *m_clock;
    qint64 m_duration;
    std::thread m_thread;
    std::atomic<qint64> m_start{0};
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_skipped{0};
};

} // namespace nyx::multimedia
