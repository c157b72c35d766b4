#pragma once
// Keeps a failure that repeats (every frame refused by a full disk, say) from flooding the log: the
// first failure is logged at once, then at most one line an interval, carrying the count of failures
// since the line before. Header only, so that any library can use it; not thread-safe by itself (its
// owner's lock covers it).

#include <chrono>
#include <cstdint>

namespace nyx::logging {
class LogThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    explicit LogThrottle(Clock::duration interval = std::chrono::seconds(1)) : m_interval(interval) {}

    // Counts one failure. True when a line is due now: covered() then tells how many failures that
    // line stands for (this one and those held back since the last line).
    bool failed(Clock::time_point now = Clock::now())
    {
        ++m_held;
        if (m_logged && now - m_last < m_interval)
            return false;
        m_logged = true;
        m_last = now;
        m_covered = m_held;
        m_held = 0;
        return true;
    }
    std::uint64_t covered() const { return m_covered; }
    // Failures held back since the last line, handed over once (for a closing line); the next failure
    // after this is logged at once again.
    std::uint64_t takeHeld()
    {
        const std::uint64_t held = m_held;
        m_held = 0;
        m_logged = false;
        return held;
    }

private:
    Clock::duration m_interval;
    Clock::time_point m_last{};
    bool m_logged = false;
    std::uint64_t m_held = 0;
    std::uint64_t m_covered = 0;
};
} // namespace nyx::logging
