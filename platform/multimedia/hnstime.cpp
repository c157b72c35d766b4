#include "multimedia/hnstime.h"

#include "win32/filetime.h"

#include "mf/mfapi.h"

HnsTime HnsTime::systemTime()
{
    return HnsTime(static_cast<qint64>(nyx::win32::systemTimeAsFileTime()));
}

HnsTime HnsTime::QPCTime()
{
    return HnsTime(MFGetSystemTime());
}

QString HnsTime::toReadableString() const
{
    const bool negative = m_value < 0;
    // Unsigned so that the most negative value has a magnitude too.
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(m_value) : static_cast<quint64>(m_value);
    const quint64 ms = magnitude / 10000;
    return QStringLiteral("%1%2:%3:%4.%5")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

qint64 win32filetimeToUnixMs(quint64 fileTime)
{
    // Signed arithmetic: times before 1970 give negative milliseconds.
    const qint64 offset = static_cast<qint64>(fileTime) - static_cast<qint64>(nyx::win32::kUnixEpochFileTime);
    return offset >= 0 ? offset / 10000 : -((-offset + 9999) / 10000);
}

quint64 UnixMsToWin32filetime(qint64 unixMs)
{
    constexpr qint64 kEpochMs = static_cast<qint64>(nyx::win32::kUnixEpochFileTime / 10000);
    constexpr qint64 kMaxMs = (INT64_MAX / 10000) - kEpochMs;
    if (unixMs < -kEpochMs)
        return 0;
    if (unixMs > kMaxMs)
        unixMs = kMaxMs;
    return static_cast<quint64>(unixMs + kEpochMs) * 10000;
}
