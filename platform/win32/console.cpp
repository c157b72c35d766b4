#include "win32/console.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
std::mutex g_mutex;
std::vector<PHANDLER_ROUTINE> g_handlers; // newest last; called newest first
bool g_ignoring = false;
bool g_installed = false;
int g_pipe[2] = {-1, -1};
pid_t g_attached = 0;

extern "C" void onSigint(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void dispatch()
{
    for (;;) {
        char byte;
        const ssize_t n = ::read(g_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        std::vector<PHANDLER_ROUTINE> handlers;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            handlers = g_handlers;
        }
        bool handled = false;
        for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it)
            handled = (*it)(CTRL_C_EVENT) != FALSE;
        if (!handled) {
            // Default handling: the process ends as if it had no handler.
            ::signal(SIGINT, SIG_DFL);
            ::raise(SIGINT);
        }
    }
}

void applySignalDisposition()
{
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    if (g_ignoring) {
        action.sa_handler = SIG_IGN;
    } else if (!g_handlers.empty()) {
        action.sa_handler = onSigint;
        action.sa_flags = SA_RESTART;
    } else {
        action.sa_handler = SIG_DFL;
    }
    ::sigaction(SIGINT, &action, nullptr);
}

bool ensureDispatcher()
{
    if (g_installed)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC) != 0)
        return false;
    std::thread(dispatch).detach();
    g_installed = true;
    return true;
}
} // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!handler) {
        g_ignoring = add != FALSE;
    } else if (add) {
        if (!ensureDispatcher())
            return FALSE;
        g_handlers.push_back(handler);
    } else {
        auto it = std::find(g_handlers.rbegin(), g_handlers.rend(), handler);
        if (it == g_handlers.rend())
            return FALSE;
        g_handlers.erase(std::next(it).base());
    }
    applySignalDisposition();
    return TRUE;
}

BOOL AttachConsole(DWORD processId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_attached != 0 || processId == 0)
        return FALSE;
    if (::kill(static_cast<pid_t>(processId), 0) != 0)
        return FALSE;
    g_attached = static_cast<pid_t>(processId);
    return TRUE;
}

BOOL FreeConsole()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_attached = 0;
    return TRUE;
}

BOOL GenerateConsoleCtrlEvent(DWORD ctrlEvent, DWORD processGroupId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (ctrlEvent != CTRL_C_EVENT && ctrlEvent != CTRL_BREAK_EVENT)
        return FALSE;
    const pid_t target = processGroupId != 0 ? static_cast<pid_t>(processGroupId) : g_attached;
    if (target <= 0)
        return FALSE;
    return ::kill(target, SIGINT) == 0 ? TRUE : FALSE;
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(::getpid());
}
