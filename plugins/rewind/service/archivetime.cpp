#include "archivetime.h"

#include "win32/filetime.h"

namespace {
constexpr qint64 kTicksPerMs = 10000;
constexpr qint64 kEpoch = static_cast<qint64>(nyx::win32::kUnixEpochFileTime);
} // namespace

namespace rewindservice {
qint64 win32filetimeToUnixMs(quint64 fileTime)
{
    // Floor division keeps times before 1970 on the same millisecond grid.
    if (fileTime >= static_cast<quint64>(kEpoch))
        return static_cast<qint64>((fileTime - static_cast<quint64>(kEpoch)) / kTicksPerMs);
    const qint64 below = kEpoch - static_cast<qint64>(fileTime);
    return -((below + kTicksPerMs - 1) / kTicksPerMs);
}

quint64 UnixMsToWin32filetime(qint64 unixMs)
{
    constexpr qint64 earliestMs = -(kEpoch / kTicksPerMs);
    constexpr qint64 latestMs = static_cast<qint64>((~0ULL - static_cast<quint64>(kEpoch)) / kTicksPerMs);
    if (unixMs < earliestMs)
        return 0;
    if (unixMs > latestMs)
        return kOpenFileTimeEnd;
    if (unixMs < 0)
        return static_cast<quint64>(kEpoch - (-unixMs) * kTicksPerMs);
    return static_cast<quint64>(kEpoch) + static_cast<quint64>(unixMs) * kTicksPerMs;
}
} // namespace rewindservice

quint64 toWin32FileTime(const QDateTime &time, quint64 fallback)
{
    if (time.isNull() || !time.isValid())
        return fallback;
    const qint64 ms = time.toMSecsSinceEpoch();
    if (ms < -(kEpoch / kTicksPerMs))
        return fallback;
    return rewindservice::UnixMsToWin32filetime(ms);
}

QDateTime fromWin32FileTime(quint64 fileTime)
{
    if (fileTime == 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(rewindservice::win32filetimeToUnixMs(fileTime));
}
