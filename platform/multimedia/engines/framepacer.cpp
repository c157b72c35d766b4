#include "multimedia/engines/framepacer.h"

namespace nyx::multimedia {

FramePacer::FramePacer(MediaClock *clock, qint64 frameDuration) : m_clock(clock), m_duration(frameDuration)
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
    for (qint64 slot = 0;; ++slot) {
        if (!m_clock->sleepUntil(start + slot * m_duration))
            break;
        const qint64 late = m_clock->now() - (start + slot * m_duration);
        if (late >= m_duration) {
            const qint64 missed = late / m_duration;
            m_skipped += missed;
            slot += missed;
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
