// The system time source and the presentation clock.

#include "mf/mfapi.h"

#include "com/comobject.h"
#include "com/comptr.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

MFTIME MFGetSystemTime()
{
    using namespace std::chrono;
    return duration_cast<duration<MFTIME, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch())
        .count();
}

namespace nyx::mf {
namespace {
class SystemTimeSource final : public com::ComObject<IMFPresentationTimeSource>
{
public:
    HRESULT GetClockCharacteristics(DWORD *characteristics) override
    {
        if (!characteristics)
            return E_POINTER;
        *characteristics = MFCLOCK_CHARACTERISTICS_FLAG_FREQUENCY_10MHZ |
                           MFCLOCK_CHARACTERISTICS_FLAG_ALWAYS_RUNNING |
                           MFCLOCK_CHARACTERISTICS_FLAG_IS_SYSTEM_CLOCK;
        return S_OK;
    }
    HRESULT GetCorrelatedTime(DWORD, LONGLONG *clockTime, MFTIME *systemTime) override
    {
        if (!clockTime || !systemTime)
            return E_POINTER;
        *clockTime = *systemTime = MFGetSystemTime();
        return S_OK;
    }
    HRESULT GetContinuityKey(DWORD *key) override
    {
        if (!key)
            return E_POINTER;
        *key = 0;
        return S_OK;
    }
    HRESULT GetState(DWORD, MFCLOCK_STATE *state) override
    {
        if (!state)
            return E_POINTER;
        *state = MFCLOCK_STATE_RUNNING;
        return S_OK;
    }
    HRESULT GetUnderlyingClock(IMFClock **clock) override
    {
        if (!clock)
            return E_POINTER;
        *clock = nullptr;
        return MF_E_NO_CLOCK;
    }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        return riid == IID_IMFClock ? static_cast<IMFClock *>(this) : nullptr;
    }
};

// Two locks: m_transition orders state changes and is held while the sinks are told (a sink
// may change the clock again from its callback: it is re-entrant); m_mutex guards the time base
// and is never held while calling out, so GetTime is safe from inside a sink's own locks.
class PresentationClock final : public com::ComObject<IMFPresentationClock, IMFRateControl>
{
public:
    HRESULT GetClockCharacteristics(DWORD *characteristics) override
    {
        if (!characteristics)
            return E_POINTER;
        *characteristics = MFCLOCK_CHARACTERISTICS_FLAG_FREQUENCY_10MHZ;
        return S_OK;
    }
    HRESULT GetCorrelatedTime(DWORD, LONGLONG *clockTime, MFTIME *systemTime) override
    {
        if (!clockTime || !systemTime)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        HRESULT hr = systemNowLocked(systemTime);
        if (SUCCEEDED(hr))
            *clockTime = timeAtLocked(*systemTime);
        return hr;
    }
    HRESULT GetContinuityKey(DWORD *key) override
    {
        if (!key)
            return E_POINTER;
        *key = 0;
        return S_OK;
    }
    HRESULT GetState(DWORD, MFCLOCK_STATE *state) override
    {
        if (!state)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *state = m_state;
        return S_OK;
    }

    HRESULT SetTimeSource(IMFPresentationTimeSource *timeSource) override
    {
        if (!timeSource)
            return E_INVALIDARG;
        std::lock_guard<std::recursive_mutex> transition(m_transition);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state == MFCLOCK_STATE_RUNNING)
            return MF_E_CLOCK_STATE_ALREADY_SET;
        m_timeSource = timeSource;
        return S_OK;
    }
    HRESULT GetTimeSource(IMFPresentationTimeSource **timeSource) override
    {
        if (!timeSource)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *timeSource = nullptr;
        if (!m_timeSource)
            return MF_E_CLOCK_NO_TIME_SOURCE;
        return m_timeSource.CopyTo(timeSource);
    }
    HRESULT GetTime(MFTIME *clockTime) override
    {
        if (!clockTime)
            return E_POINTER;
        MFTIME systemTime = 0;
        return GetCorrelatedTime(0, clockTime, &systemTime);
    }
    HRESULT AddClockStateSink(IMFClockStateSink *sink) override
    {
        if (!sink)
            return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &known : m_sinks) {
            if (known == sink)
                return S_OK;
        }
        m_sinks.emplace_back(sink);
        return S_OK;
    }
    HRESULT RemoveClockStateSink(IMFClockStateSink *sink) override
    {
        if (!sink)
            return E_INVALIDARG;
        CComPtr<IMFClockStateSink> removed;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
            if (*it == sink) {
                removed = *it;
                m_sinks.erase(it);
                break;
            }
        }
        return S_OK;
    }

    HRESULT Start(LONGLONG offset) override
    {
        std::lock_guard<std::recursive_mutex> transition(m_transition);
        MFTIME now = 0;
        bool restart = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            HRESULT hr = systemNowLocked(&now);
            if (FAILED(hr))
                return hr;
            restart = m_state == MFCLOCK_STATE_PAUSED && offset == PRESENTATION_CURRENT_POSITION;
            // From the current position the time goes on from where it is (0 when stopped).
            const LONGLONG from = offset == PRESENTATION_CURRENT_POSITION ? timeAtLocked(now) : offset;
            m_baseClock = from;
            m_baseSystem = now;
            m_state = MFCLOCK_STATE_RUNNING;
        }
        if (restart)
            notify([&](IMFClockStateSink *sink) { sink->OnClockRestart(now); });
        else
            notify([&](IMFClockStateSink *sink) { sink->OnClockStart(now, offset); });
        return S_OK;
    }
    HRESULT Stop() override
    {
        std::lock_guard<std::recursive_mutex> transition(m_transition);
        MFTIME now = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            HRESULT hr = systemNowLocked(&now);
            if (FAILED(hr))
                return hr;
            if (m_state == MFCLOCK_STATE_STOPPED)
                return MF_E_CLOCK_STATE_ALREADY_SET;
            m_state = MFCLOCK_STATE_STOPPED;
            m_baseClock = 0;
            m_baseSystem = now;
        }
        notify([&](IMFClockStateSink *sink) { sink->OnClockStop(now); });
        return S_OK;
    }
    HRESULT Pause() override
    {
        std::lock_guard<std::recursive_mutex> transition(m_transition);
        MFTIME now = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            HRESULT hr = systemNowLocked(&now);
            if (FAILED(hr))
                return hr;
            if (m_state == MFCLOCK_STATE_PAUSED)
                return MF_E_CLOCK_STATE_ALREADY_SET;
            if (m_state != MFCLOCK_STATE_RUNNING)
                return MF_E_INVALIDREQUEST;
            m_baseClock = timeAtLocked(now);
            m_baseSystem = now;
            m_state = MFCLOCK_STATE_PAUSED;
        }
        notify([&](IMFClockStateSink *sink) { sink->OnClockPause(now); });
        return S_OK;
    }

    HRESULT SetRate(BOOL, float rate) override
    {
        if (std::isnan(rate) || std::isinf(rate))
            return MF_E_UNSUPPORTED_RATE;
        std::lock_guard<std::recursive_mutex> transition(m_transition);
        MFTIME now = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            HRESULT hr = systemNowLocked(&now);
            if (FAILED(hr))
                return hr;
            // The time so far counts at the old rate.
            m_baseClock = timeAtLocked(now);
            m_baseSystem = now;
            m_rate = rate;
        }
        notify([&](IMFClockStateSink *sink) { sink->OnClockSetRate(now, rate); });
        return S_OK;
    }
    HRESULT GetRate(BOOL *thin, float *rate) override
    {
        if (!rate)
            return E_POINTER;
        if (thin)
            *thin = FALSE;
        std::lock_guard<std::mutex> lock(m_mutex);
        *rate = m_rate;
        return S_OK;
    }

protected:
    void *queryExtraInterface(REFIID riid) override
    {
        return riid == IID_IMFClock ? static_cast<IMFClock *>(static_cast<IMFPresentationClock *>(this))
                                    : nullptr;
    }

private:
    // Under m_mutex.
    HRESULT systemNowLocked(MFTIME *now)
    {
        if (!m_timeSource)
            return MF_E_CLOCK_NO_TIME_SOURCE;
        LONGLONG sourceTime = 0;
        return m_timeSource->GetCorrelatedTime(0, &sourceTime, now);
    }
    LONGLONG timeAtLocked(MFTIME now) const
    {
        if (m_state != MFCLOCK_STATE_RUNNING)
            return m_baseClock;
        return m_baseClock + LONGLONG(std::llround(double(now - m_baseSystem) * double(m_rate)));
    }
    // In the changing thread, outside m_mutex, on a copy of the list (a sink may remove itself).
    template <class F> void notify(F call)
    {
        std::vector<CComPtr<IMFClockStateSink>> sinks;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            sinks = m_sinks;
        }
        for (const auto &sink : sinks)
            call(sink);
    }

    std::recursive_mutex m_transition;
    std::mutex m_mutex;
    CComPtr<IMFPresentationTimeSource> m_timeSource;
    std::vector<CComPtr<IMFClockStateSink>> m_sinks;
    MFCLOCK_STATE m_state = MFCLOCK_STATE_STOPPED;
    LONGLONG m_baseClock = 0;
    MFTIME m_baseSystem = 0;
    float m_rate = 1.0f;
};
} // namespace
} // namespace nyx::mf

HRESULT MFCreatePresentationClock(IMFPresentationClock **clock)
{
    if (!clock)
        return E_POINTER;
    *clock = new nyx::mf::PresentationClock;
    return S_OK;
}

HRESULT MFCreateSystemTimeSource(IMFPresentationTimeSource **timeSource)
{
    if (!timeSource)
        return E_POINTER;
    *timeSource = new nyx::mf::SystemTimeSource;
    return S_OK;
}
