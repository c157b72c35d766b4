#include "win32/process.h"

#include <cerrno>
#include <csignal>
#include <cstdint>

namespace {
// A process handle carries the pid; tag it so other handles are not taken for one.
constexpr std::uintptr_t kProcessTag = std::uintptr_t(1) << 62;
} // namespace

HANDLE OpenProcess(DWORD, BOOL, DWORD processId)
{
    if (processId == 0)
        return nullptr;
    if (::kill(static_cast<pid_t>(processId), 0) != 0 && errno != EPERM)
        return nullptr;
    return reinterpret_cast<HANDLE>(kProcessTag | processId);
}

BOOL GetExitCodeProcess(HANDLE process, DWORD *exitCode)
{
    const auto value = reinterpret_cast<std::uintptr_t>(process);
    if (!exitCode || !(value & kProcessTag))
        return FALSE;
    const auto pid = static_cast<pid_t>(value & 0xFFFFFFFFu);
    const bool alive = ::kill(pid, 0) == 0 || errno == EPERM;
    *exitCode = alive ? STILL_ACTIVE : 0;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    return handle ? TRUE : FALSE;
}
