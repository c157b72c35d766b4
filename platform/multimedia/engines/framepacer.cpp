#include "multimedia/engines/framepacer.h"
#include "multimedia/engines/avhelpers.h"

namespace nyx::multimedia {

FramePacer::FramePacer(MediaClock *clock, qint64 frameDuration, qint64 catchUp)
    : m_clock(clock), m_duration(frameDuration), m_catchUp(qMax<qint64>(0, catchUp))
{
    if (!m_clock) {
        m_ownClock = std::make_unique<SteadyMediaClock>();
        m_clock = m_ownClock.get();
    }
}

FramePacer::~FramePacer()
{
    stop();
}

bool FramePacer::start(Produce produce, Deliver deliver)
{
    if (m_thread.joinable() || m_duration <= 0 || !produce || !deliver)
        return false;
    m_clock->rearm();
    const qint64 start = m_clock->now();
    m_start = start;
    m_thread = std::thread([this, produce = std::move(produce), deliver = std::move(deliver), start] {
        run(produce, deliver, start);
    });
    return true;
}

void FramePacer::stop()
{
    if (!m_thread.joinable())
        return;
    m_clock->wake();
    m_thread.join();
}

void FramePacer::run(const Produce &produce, const Deliver &deliver, qint64 start)
{
    const qint64 window = m_catchUp / m_duration; // slots that may still be made up
    bool stalled = false;
    for (qint64 slot = 0;; ++slot) {
        // Returns at once for a slot already due: the slots of a stall come one after another.
        if (!m_clock->sleepUntil(start + slot * m_duration))
            break;
        const qint64 behind = (m_clock->now() - (start + slot * m_duration)) / m_duration;
        if (behind > window) {
            // Too far behind: the oldest slots are gone, as a board's buffer overwrites them.
            const qint64 missed = behind - window;
            m_skipped += missed;
            slot += missed;
            if (!stalled) {
                ++m_stalls;
                qCWarning(lcEngines, "Frame pacer: held up for %lld ms, %lld frame slots lost",
                          static_cast<long long>(behind * m_duration / 10000),
                          static_cast<long long>(missed));
            }
            stalled = true;
        } else if (behind == 0) {
            stalled = false;
        }
        const qint64 time = start + slot * m_duration;
        Nv12Frame frame = produce(slot, time);
        if (frame.isNull())
            continue;
        frame.time = time;
        frame.duration = m_duration;
        deliver(frame);
        ++m_delivered;
    }
}

} // namespace nyx::multimedia
