#pragma once
// A re-entrant lock and its scoped guard: a thread that holds it may take it again.

#include <mutex>

class CriticalSection
{
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    bool TryLock() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

class AutoLock
{
public:
    explicit AutoLock(CriticalSection &section) : m_section(section) { m_section.Lock(); }
    ~AutoLock() { m_section.Unlock(); }
    AutoLock(const AutoLock &) = delete;
    AutoLock &operator=(const AutoLock &) = delete;

private:
    CriticalSection &m_section;
};
