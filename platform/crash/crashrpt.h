#pragma once
// The crash reporting library: on a crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) it writes a
// report folder with a stack trace, the registered properties and copies of the attached files,
// then lets the process die with the original signal. One installation per process.

#include "win32/win32types.h"

#include <cstddef>

// Installation flags. The low bits select crash handlers; this library always handles all
// of the signals above and keeps only the restart bit.
constexpr DWORD CR_INST_ALL_POSSIBLE_HANDLERS = 0x1FFF;
constexpr DWORD CR_INST_APP_RESTART = 0x10000;

// Installation record (184 bytes). Only the named fields are read; the rest must be zero.
struct CR_INSTALL_INFOW
{
    WORD cb; // 184
    BYTE reserved0[6];
    LPCWSTR pszAppName;    // null: the executable's name
    LPCWSTR pszAppVersion; // null: "1.0.0"
    BYTE reserved1[60];
    DWORD dwFlags; // CR_INST_*
    BYTE reserved2[24];
    LPCWSTR pszErrorReportSaveDir; // created when missing
    BYTE reserved3[56];
    int nRestartTimeout; // seconds the program must have run before a crash restarts it
    BYTE reserved4[4];
};
static_assert(sizeof(CR_INSTALL_INFOW) == 184, "installation record layout");
static_assert(offsetof(CR_INSTALL_INFOW, pszAppName) == 8, "installation record layout");
static_assert(offsetof(CR_INSTALL_INFOW, pszAppVersion) == 16, "installation record layout");
static_assert(offsetof(CR_INSTALL_INFOW, dwFlags) == 84, "installation record layout");
static_assert(offsetof(CR_INSTALL_INFOW, pszErrorReportSaveDir) == 112, "installation record layout");
static_assert(offsetof(CR_INSTALL_INFOW, nRestartTimeout) == 176, "installation record layout");

// Flags of crAddFile2W.
constexpr DWORD CR_AF_MAKE_FILE_COPY = 0x1; // copy the file into the report when it is made
constexpr DWORD CR_AF_FILE_PATTERN = 0x2;   // the name part holds '*' and '?' wildcards

// The record handed to crGenerateErrorReport (72 bytes).
constexpr int CR_EXCEPTION_MANUAL = 1;
struct CR_EXCEPTION_INFO
{
    WORD cb; // 72
    BYTE reserved0[58];
    int exctype; // CR_EXCEPTION_MANUAL
    BYTE reserved1[8];
};
static_assert(sizeof(CR_EXCEPTION_INFO) == 72, "exception record layout");
static_assert(offsetof(CR_EXCEPTION_INFO, exctype) == 60, "exception record layout");

// What the crash callback receives.
struct CR_CRASH_CALLBACK_INFOW
{
    WORD cb;
    BYTE reserved0[6];
    const char *pszReportFolder; // the folder being written (UTF-8, native path)
    int signal;                  // the crash signal, 0 for a requested report
    BYTE reserved1[4];
    LPVOID pUserParam; // what crSetCrashCallbackW was given
};
static_assert(offsetof(CR_CRASH_CALLBACK_INFOW, pUserParam) == 24, "callback record layout");

// Runs when a crash happens, before the attached files are copied; returns 1 to go on. It runs
// inside the signal handler under a watchdog: a callback that hangs ends the process with the
// crash signal after a few seconds.
using PFN_CRASH_CALLBACKW = int (*)(CR_CRASH_CALLBACK_INFOW *info);

// Every operation returns 0 on success; on failure crGetLastErrorMsgW tells why.
int crInstallW(const CR_INSTALL_INFOW *info);
int crUninstall();
int crAddFile2W(LPCWSTR pszFile, LPCWSTR pszDestFile, LPCWSTR pszDesc, DWORD dwFlags);
int crAddPropertyW(LPCWSTR pszPropName, LPCWSTR pszPropValue);
// Writes a report now without ending the process (the callback runs too).
int crGenerateErrorReport(CR_EXCEPTION_INFO *pExceptionInfo);
// Copies this thread's last error message, zero-terminated, into pszBuffer; returns its length.
int crGetLastErrorMsgW(LPWSTR pszBuffer, UINT uBuffSize);
int crSetCrashCallbackW(PFN_CRASH_CALLBACKW pfnCallbackFunc, LPVOID lpParam);

namespace nyx::crash {
// The folder of the latest report this process wrote (manual reports included), or empty.
const char *lastReportFolder();

// What the current installation was given (all empty or zero when not installed).
struct Installation
{
    bool installed = false;
    char appName[256] = {};
    char appVersion[64] = {};
    char reportDirectory[4096] = {};
    DWORD flags = 0;
    int restartTimeout = 0;
};
Installation installation();
} // namespace nyx::crash
