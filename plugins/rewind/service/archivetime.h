#pragma once
// Archive times: FILETIME (100 ns since 1601-01-01 UTC) on the server side, QDateTime for QML.
// FILETIME 0 and a null QDateTime stand for each other; both directions keep milliseconds.

#include <QDateTime>
#include <QtGlobal>

constexpr quint64 kOpenFileTimeEnd = ~0ULL;

namespace rewindservice {
// Milliseconds since the Unix epoch of a FILETIME; the 100 ns remainder is dropped.
qint64 win32filetimeToUnixMs(quint64 fileTime);
// The FILETIME of a Unix millisecond time; times before 1601 give 0.
quint64 UnixMsToWin32filetime(qint64 unixMs);
} // namespace rewindservice

// fallback for a null or invalid time, and for one that lies before 1601.
quint64 toWin32FileTime(const QDateTime &time, quint64 fallback);
// 0 gives a null QDateTime; any other value a local time at that instant.
QDateTime fromWin32FileTime(quint64 fileTime);
