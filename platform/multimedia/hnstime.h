#pragma once
// Times in 100 ns units (the unit of media time stamps), the clocks they come from, and the
// conversion between the steady media clock and wall-clock FILETIMEs.

#include <QString>
#include <QtGlobal>

class HnsTime
{
public:
    constexpr HnsTime() = default;
    constexpr explicit HnsTime(qint64 value) : m_value(value) {}

    // The wall clock as a FILETIME (100 ns since 1601-01-01 UTC).
    static HnsTime systemTime();
    // The steady clock the presentation clock and MFGetSystemTime run on.
    static HnsTime QPCTime();
    static constexpr HnsTime seconds(qint64 s) { return HnsTime(s * 10000000); }
    static constexpr HnsTime milliseconds(qint64 ms) { return HnsTime(ms * 10000); }

    constexpr qint64 value() const { return m_value; }
    constexpr operator qint64() const { return m_value; }
    // Rounded towards zero.
    constexpr qint64 toMilliseconds() const { return m_value / 10000; }
    // "[-]h:mm:ss.mmm"; hours are not limited to a day.
    QString toReadableString() const;

private:
    qint64 m_value = 0;
};

// Maps times of the steady clock to wall-clock FILETIMEs through one pair of readings taken together.
class ClockConverter
{
public:
    ClockConverter(HnsTime systemTime, HnsTime qpcTime) : m_systemTime(systemTime), m_qpcTime(qpcTime) {}

    // The wall-clock FILETIME at which the steady clock showed clockTime.
    qint64 getBaseTime(qint64 clockTime) const
    {
        return m_systemTime.value() + (clockTime - m_qpcTime.value());
    }

private:
    HnsTime m_systemTime;
    HnsTime m_qpcTime;
};

// FILETIME <-> milliseconds since the Unix epoch; the 100 ns remainder is dropped.
qint64 win32filetimeToUnixMs(quint64 fileTime);
// Times before 1601 give 0.
quint64 UnixMsToWin32filetime(qint64 unixMs);
