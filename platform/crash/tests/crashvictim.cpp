// Installs the crash handler and then crashes the way its command line asks, so tests can look
// at the report from outside the process.
//   crashvictim <report dir> <mode> [attach...]
// Modes: null, abort, fpe, thread (null write on a worker thread), overflow (stack overflow on
// the main thread), callback-crash (the callback
// itself crashes), callback-hang (the callback never returns), restart (restart flag; crashes
// on the first start only, once it ran longer than the restart time-out), early-restart.
// Each attach argument is a file, or a directory followed by "/*.txt" style pattern.
// CRASHVICTIM_MARKER names a file that the callback and a restarted start append to.

#include "crash/crashrpt.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

extern "C" void crashByNullWrite();

namespace {
std::u16string widen(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

void appendMarker(const char *text)
{
    const char *marker = std::getenv("CRASHVICTIM_MARKER");
    if (!marker)
        return;
    const int fd = ::open(marker, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] ssize_t n = ::write(fd, text, std::strlen(text));
    n = ::write(fd, "\n", 1);
    ::close(fd);
}

int g_callbackCalls = 0;
std::string g_mode;

int onCrash(CR_CRASH_CALLBACK_INFOW *info)
{
    ++g_callbackCalls;
    appendMarker(static_cast<const char *>(info->pUserParam));
    appendMarker(info->pszReportFolder);
    if (g_mode == "callback-crash")
        crashByNullWrite();
    if (g_mode == "callback-hang")
        for (;;)
            ::pause();
    return 1;
}
} // namespace

extern "C" {
__attribute__((noinline, no_sanitize("undefined"))) void crashByNullWrite()
{
    volatile int *volatile p = nullptr;
    *p = 42;
}

__attribute__((noinline)) void crashByAbort()
{
    std::abort();
}

__attribute__((noinline, no_sanitize("undefined"))) void crashByDivision()
{
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int result = numerator / zero;
    (void)result;
}

// Runs off the end of the stack: the report must come from the alternate signal stack.
__attribute__((noinline)) int crashByRecursion(volatile int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth >= 0)
        return crashByRecursion(depth + 1) + frame[0];
    return frame[0];
}

__attribute__((noinline)) void crashOnWorkerThread()
{
    std::thread([] { crashByNullWrite(); }).join();
}
}

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 2;
    g_mode = argv[2];
    const bool restart = g_mode == "restart" || g_mode == "early-restart";
    const char *marker = std::getenv("CRASHVICTIM_MARKER");
    if (restart && marker && ::access(marker, F_OK) == 0) {
        appendMarker("restarted");
        return 0;
    }

    const std::u16string name = u"CrashVictim";
    const std::u16string version = u"2.3.4";
    const std::u16string directory = widen(argv[1]);
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.pszAppName = name.c_str();
    info.pszAppVersion = version.c_str();
    info.dwFlags = restart ? 0x899FFF : 0x889FFF;
    info.pszErrorReportSaveDir = directory.c_str();
    info.nRestartTimeout = g_mode == "early-restart" ? 3600 : (restart ? 1 : 0);
    if (crInstallW(&info) != 0)
        return 3;
    if (crAddPropertyW(u"Hg Revision", u"0123456789ab") != 0 ||
        crAddPropertyW(u"Mode", widen(g_mode).c_str()) != 0)
        return 4;
    for (int i = 3; i < argc; ++i) {
        const std::string path = argv[i];
        const bool pattern = path.find('*') != std::string::npos;
        if (crAddFile2W(widen(path).c_str(), nullptr, nullptr, pattern ? 3 : 1) != 0)
            return 5;
    }
    static char userParam[] = "callback ran";
    if (crSetCrashCallbackW(onCrash, userParam) != 0)
        return 6;

    if (g_mode == "null")
        crashByNullWrite();
    else if (g_mode == "abort" || g_mode == "callback-crash" || g_mode == "callback-hang")
        crashByAbort();
    else if (g_mode == "fpe")
        crashByDivision();
    else if (g_mode == "thread")
        crashOnWorkerThread();
    else if (g_mode == "overflow")
        crashByRecursion(0);
    else if (restart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        crashByNullWrite();
    }
    return 1; // still alive: the crash did not happen
}
