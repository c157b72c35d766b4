#pragma once
// FILETIME: 100 ns units since 1601-01-01 UTC.

#include "win32/win32types.h"

struct FILETIME
{
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
static_assert(sizeof(FILETIME) == 8, "FILETIME has the Windows size");

void GetSystemTimeAsFileTime(FILETIME *fileTime);

namespace nyx::win32 {
// FILETIME value of the Unix epoch, 1970-01-01 UTC.
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ULL;

inline std::uint64_t toUInt64(const FILETIME &ft)
{
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME toFileTime(std::uint64_t value)
{
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}
// The current system time as a 64-bit FILETIME value.
std::uint64_t systemTimeAsFileTime();
} // namespace nyx::win32
