#pragma once
// Console control. Ctrl+C is SIGINT: the signal handler writes to a self-pipe, and a
// dispatcher thread (the "thread the system creates for the event") runs the handlers.
// A supervisor "attaches" to a child's console and generates Ctrl+C by kill(pid, SIGINT);
// never a process group.

#include "win32/win32types.h"

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

using PHANDLER_ROUTINE = BOOL(WINAPI *)(DWORD ctrlType);

// handler == nullptr with add == TRUE makes the process ignore Ctrl+C (SIG_IGN, inherited by
// children until they install a handler of their own); add == FALSE undoes it.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
BOOL AttachConsole(DWORD processId);
BOOL FreeConsole();
// With CTRL_C_EVENT and group 0 this interrupts the process of the attached console.
BOOL GenerateConsoleCtrlEvent(DWORD ctrlEvent, DWORD processGroupId);
DWORD GetCurrentProcessId();
