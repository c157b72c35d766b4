#pragma once
// The time base that paces live sources: a steady clock in 100 ns units, replaceable in tests.

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace nyx::multimedia {

class MediaClock
{
public:
    virtual ~MediaClock() = default;
    // Current time in 100 ns units; never goes back.
    virtual qint64 now() const = 0;
    // Sleeps until now() >= time or until wake() is called; returns false when woken early.
    virtual bool sleepUntil(qint64 time) = 0;
    // Ends every pending and future sleepUntil early (used to stop the threads that sleep on it).
    virtual void wake() = 0;
    // Makes sleepUntil sleep again after wake().
    virtual void rearm() = 0;
};

// A steady clock with its own wake-up state: one per paced thread, so that stopping one source
// does not wake the others.
class SteadyMediaClock : public MediaClock
{
public:
    qint64 now() const override;
    bool sleepUntil(qint64 time) override;
    void wake() override;
    void rearm() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_woken = false;
};

// A clock whose time moves only when someone sleeps on it: sleepUntil jumps straight to the wanted
// time. Lets a test run thirty seconds of a live source in a fraction of that.
class VirtualMediaClock : public MediaClock
{
public:
    explicit VirtualMediaClock(qint64 start = 0) : m_now(start) {}
    qint64 now() const override { return m_now.load(); }
    bool sleepUntil(qint64 time) override;
    void wake() override { m_woken = true; }
    void rearm() override { m_woken = false; }
    void advance(qint64 delta) { m_now += delta; }

private:
    std::atomic<qint64> m_now;
    std::atomic<bool> m_woken{false};
};

} // namespace nyx::multimedia
