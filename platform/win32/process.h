#pragma once
// Process handles, as far as the system asks about other processes.

#include "win32/win32types.h"

constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD STILL_ACTIVE = 259;

// A handle for asking about a process; null when no such process exists.
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
// STILL_ACTIVE while the process runs; its exit status is not known here once it has ended (0),
// which includes a process that has ended and waits for its parent to collect it.
BOOL GetExitCodeProcess(HANDLE process, DWORD *exitCode);
// The full path of the process's executable into exeName (size in characters in, length out,
// without the terminating zero). An executable replaced on disk since the start is reported
// under its path.
BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR exeName, DWORD *size);
BOOL CloseHandle(HANDLE handle);
