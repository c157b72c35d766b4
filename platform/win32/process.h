#pragma once
// Process handles, as far as the system asks about other processes.

#include "win32/win32types.h"

constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD STILL_ACTIVE = 259;

// A handle for asking about a process; null when no such process exists.
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
// STILL_ACTIVE while the process runs; its exit status is not known here once it has ended (0).
BOOL GetExitCodeProcess(HANDLE process, DWORD *exitCode);
BOOL CloseHandle(HANDLE handle);
