#include "win32/filetime.h"

#include <chrono>

namespace nyx::win32 {
std::uint64_t systemTimeAsFileTime()
{
    using namespace std::chrono;
    const auto sinceUnix = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochFileTime + static_cast<std::uint64_t>(sinceUnix / 100);
}
} // namespace nyx::win32

void GetSystemTimeAsFileTime(FILETIME *fileTime)
{
    if (fileTime)
        *fileTime = nyx::win32::toFileTime(nyx::win32::systemTimeAsFileTime());
}
