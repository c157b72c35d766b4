#include "win32/process.h"

#include "win32/lasterror.h"
#include "win32/winerror.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
// A process handle carries the pid; tag it so other handles are not taken for one.
constexpr std::uintptr_t kProcessTag = std::uintptr_t(1) << 62;

pid_t pidOf(HANDLE process)
{
    const auto value = reinterpret_cast<std::uintptr_t>(process);
    return (value & kProcessTag) ? static_cast<pid_t>(value & 0xFFFFFFFFu) : 0;
}

// A process that has ended but is not yet collected by its parent still answers kill(pid, 0).
bool isZombie(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE *file = std::fopen(path, "r");
    if (!file)
        return false;
    char buffer[512];
    const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[length] = 0;
    // "pid (name) S ...": the name may hold anything, so the state follows the last ')'.
    const char *close = std::strrchr(buffer, ')');
    return close && close[1] == ' ' && close[2] == 'Z';
}
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
    const pid_t pid = pidOf(process);
    if (!exitCode || pid == 0)
        return FALSE;
    const bool alive = (::kill(pid, 0) == 0 || errno == EPERM) && !isZombie(pid);
    *exitCode = alive ? STILL_ACTIVE : 0;
    return TRUE;
}

BOOL QueryFullProcessImageNameW(HANDLE process, DWORD, LPWSTR exeName, DWORD *size)
{
    const pid_t pid = pidOf(process);
    if (pid == 0 || !exeName || !size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string path(target, static_cast<std::size_t>(length));
    static const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    const QString wide = QFile::decodeName(QByteArray::fromStdString(path));
    if (DWORD(wide.size()) + 1 > *size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(exeName, wide.utf16(), std::size_t(wide.size()) * sizeof(WCHAR));
    exeName[wide.size()] = 0;
    *size = static_cast<DWORD>(wide.size());
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    return handle ? TRUE : FALSE;
}
