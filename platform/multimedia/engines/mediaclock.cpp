#include "multimedia/engines/mediaclock.h"

#include <chrono>

namespace nyx::multimedia {

namespace {
using Hns = std::chrono::duration<qint64, std::ratio<1, 10000000>>;
}

qint64 SteadyMediaClock::now() const
{
    return std::chrono::duration_cast<Hns>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool SteadyMediaClock::sleepUntil(qint64 time)
{
    const auto deadline = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(Hns(time)));
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cond.wait_until(lock, deadline, [this] { return m_woken; });
}

void SteadyMediaClock::wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = true;
    m_cond.notify_all();
}

void SteadyMediaClock::rearm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = false;
}

bool VirtualMediaClock::sleepUntil(qint64 time)
{
    if (m_woken)
        return false;
    qint64 now = m_now.load();
    while (now < time && !m_now.compare_exchange_weak(now, time)) {
    }
    return true;
}

} // namespace nyx::multimedia
