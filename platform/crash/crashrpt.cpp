#include "crash/crashrpt.h"

#include "crash/safeio.h"
#include "win32/unicode.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {
using nyx::crash::safe::TextBuffer;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr int kMaxProperties = 64;
constexpr int kMaxFiles = 32;
constexpr std::size_t kMaxPropertyName = 256;
constexpr std::size_t kMaxPropertyValue = 2048;
constexpr std::size_t kMaxPath = 4096;
constexpr std::size_t kAltStackSize = 256 * 1024;
constexpr unsigned kCallbackWatchdogSeconds = 5;
constexpr int kMaxFrames = 128;

struct Property
{
    char name[kMaxPropertyName];
    char value[kMaxPropertyValue];
};

struct AttachedFile
{
    char directory[kMaxPath]; // without the trailing '/'
    char name[kMaxPath];      // file name or pattern
    bool pattern;
};

// Everything the handler reads is prepared here at install time; entries are published by the
// counts (release) and never change afterwards.
struct State
{
    std::mutex mutex; // serialises the operations; never taken by the handler
    std::atomic<bool> installed{false};
    char appName[256];
    char appVersion[64];
    char reportDirectory[kMaxPath];
    char executable[kMaxPath];
    DWORD flags = 0;
    int restartTimeout = 0;
    std::int64_t installedAt = 0; // CLOCK_MONOTONIC seconds

    // The command line for a restart.
    char commandLine[32 * 1024];
    char *arguments[256];

    Property properties[kMaxProperties];
    std::atomic<int> propertyCount{0};
    AttachedFile files[kMaxFiles];
    std::atomic<int> fileCount{0};

    std::atomic<PFN_CRASH_CALLBACKW> callback{nullptr};
    std::atomic<void *> callbackParam{nullptr};

    struct sigaction previous[kSignalCount];
    stack_t previousStack;
    bool ownStack = false;

    // Used by one report at a time.
    std::atomic<long> handlingThread{0};
    char reportFolder[kMaxPath];
    char lastReportFolder[kMaxPath];
    char copyBuffer[64 * 1024];
    char lineBuffer[8192];
    void *frames[kMaxFrames];
    int currentSignal = 0;
};

State &state()
{
    static State *s = new State; // never destroyed: a late crash still finds it
    return *s;
}

// The alternate stack outlives every installation: a handler may still run on it.
char *alternateStack()
{
    static char *stack = new char[kAltStackSize];
    return stack;
}

// Trivially destructible: operations may still run from exit handlers after the thread's
// objects are gone.
constexpr std::size_t kMaxError = 512;
thread_local char16_t t_lastError[kMaxError] = u"No error.";

void setLastError(const std::u16string &message)
{
    const std::size_t n = std::min(message.size(), kMaxError - 1);
    std::memcpy(t_lastError, message.data(), n * sizeof(char16_t));
    t_lastError[n] = u'\0';
}

int fail(const std::u16string &message)
{
    setLastError(message);
    return 1;
}

int succeed()
{
    setLastError(u"No error.");
    return 0;
}

using nyx::win32::toUtf8;

std::u16string toUtf16(const std::string &text)
{
    std::u16string out;
    for (char c : text)
        out += static_cast<char16_t>(static_cast<unsigned char>(c)); // messages are ASCII
    return out;
}

bool copyInto(char *target, std::size_t capacity, const std::string &text)
{
    if (text.size() + 1 > capacity)
        return false;
    std::memcpy(target, text.c_str(), text.size() + 1);
    return true;
}

std::int64_t monotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

long currentThread()
{
    return ::syscall(SYS_gettid);
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

void readCommandLine(State &s)
{
    s.arguments[0] = nullptr;
    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::size_t size = 0;
    for (;;) {
        const ssize_t n = ::read(fd, s.commandLine + size, sizeof s.commandLine - 1 - size);
        if (n <= 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    s.commandLine[size] = '\0';
    int count = 0;
    for (std::size_t pos = 0; pos < size && count < 255;) {
        s.arguments[count++] = s.commandLine + pos;
        pos += std::strlen(s.commandLine + pos) + 1;
    }
    s.arguments[count] = nullptr;
}

// ---- the report (async-signal-safe from here to the handler) ----

void dieWith(int signal)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

extern "C" void onCallbackWatchdog(int)
{
    dieWith(state().currentSignal);
}

bool createReportFolder(State &s)
{
    if (!nyx::crash::safe::makeDirectories(s.reportDirectory))
        return false;
    TextBuffer folder(s.reportFolder, sizeof s.reportFolder);
    folder.append(s.reportDirectory).appendChar('/').append(s.appName).appendChar('_');
    nyx::crash::safe::appendUtcTime(folder, ::time(nullptr), true);
    folder.appendChar('_').appendDecimal(::getpid());
    const std::size_t base = folder.length();
    for (int attempt = 1; attempt < 100; ++attempt) {
        folder.truncate(base);
        if (attempt > 1)
            folder.appendChar('_').appendDecimal(attempt);
        if (folder.overflowed())
            return false;
        if (::mkdir(folder.text(), 0755) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

int createReportFile(State &s, const char *name)
{
    char path[kMaxPath];
    TextBuffer file(path, sizeof path);
    file.append(s.reportFolder).appendChar('/').append(name);
    if (file.overflowed())
        return -1;
    return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void writeStackTrace(State &s, int signal, const siginfo_t *info)
{
    const int fd = createReportFile(s, "stacktrace.txt");
    if (fd < 0)
        return;
    TextBuffer text(s.lineBuffer, sizeof s.lineBuffer);
    text.append("Application: ").append(s.appName).appendChar('\n');
    text.append("Version: ").append(s.appVersion).appendChar('\n');
    text.append("Executable: ").append(s.executable).appendChar('\n');
    text.append("Process: ").appendDecimal(::getpid()).appendChar('\n');
    text.append("Thread: ").appendDecimal(currentThread()).appendChar('\n');
    text.append("Time: ");
    nyx::crash::safe::appendUtcTime(text, ::time(nullptr), false);
    text.append(" UTC\n");
    if (signal != 0) {
        text.append("Signal: ").append(signalName(signal)).append(" (").appendDecimal(signal).append(")");
        if (info) {
            text.append(", code ").appendDecimal(info->si_code);
            if (signal != SIGABRT)
                text.append(", address ").appendHex(reinterpret_cast<std::uintptr_t>(info->si_addr));
        }
        text.appendChar('\n');
    } else {
        text.append("Reason: report requested\n");
    }
    text.append("\nStack trace:\n");
    nyx::crash::safe::writeAll(fd, text.text(), text.length());
    const int frames = ::backtrace(s.frames, kMaxFrames);
    // Return addresses point after their call; a call that never returns may be the last
    // instruction of its function. One byte back names the calling function.
    for (int i = 1; i < frames; ++i)
        s.frames[i] = static_cast<char *>(s.frames[i]) - 1;
    ::backtrace_symbols_fd(s.frames, frames, fd);
    ::close(fd);
}

void writeProperties(State &s)
{
    const int fd = createReportFile(s, "properties.txt");
    if (fd < 0)
        return;
    const int count = s.propertyCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const Property &p = s.properties[i];
        // A later value of the same name replaces this one.
        bool replaced = false;
        for (int j = i + 1; j < count && !replaced; ++j)
            replaced = nyx::crash::safe::equal(p.name, s.properties[j].name);
        if (replaced)
            continue;
        nyx::crash::safe::writeText(fd, p.name);
        nyx::crash::safe::writeText(fd, "=");
        nyx::crash::safe::writeText(fd, p.value);
        nyx::crash::safe::writeText(fd, "\n");
    }
    ::close(fd);
}

void copyIntoReport(State &s, const char *directory, const char *name)
{
    char source[kMaxPath];
    char target[kMaxPath];
    TextBuffer from(source, sizeof source);
    from.append(directory).appendChar('/').append(name);
    TextBuffer to(target, sizeof target);
    to.append(s.reportFolder).appendChar('/').append(name);
    if (!from.overflowed() && !to.overflowed())
        nyx::crash::safe::copyFile(source, target, s.copyBuffer, sizeof s.copyBuffer);
}

struct PatternVisit
{
    State *state;
    const AttachedFile *file;
};

void visitPatternEntry(const char *name, void *context)
{
    auto *visit = static_cast<PatternVisit *>(context);
    if (nyx::crash::safe::globMatch(visit->file->name, name))
        copyIntoReport(*visit->state, visit->file->directory, name);
}

void copyAttachedFiles(State &s)
{
    copyIntoReport(s, "/proc/self", "maps");
    const int count = s.fileCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const AttachedFile &file = s.files[i];
        if (file.pattern) {
            PatternVisit visit{&s, &file};
            nyx::crash::safe::forEachFile(file.directory, visitPatternEntry, &visit);
        } else {
            copyIntoReport(s, file.directory, file.name);
        }
    }
}

void runCallback(State &s, int signal, bool watchdog)
{
    const PFN_CRASH_CALLBACKW callback = s.callback.load();
    if (!callback)
        return;
    CR_CRASH_CALLBACK_INFOW info;
    std::memset(&info, 0, sizeof info);
    info.cb = sizeof info;
    info.pszReportFolder = s.reportFolder;
    info.signal = signal;
    info.pUserParam = s.callbackParam.load();

    struct sigaction previousAlarm;
    if (watchdog) {
        struct sigaction alarmAction;
        std::memset(&alarmAction, 0, sizeof alarmAction);
        alarmAction.sa_handler = onCallbackWatchdog;
        alarmAction.sa_flags = SA_ONSTACK;
        sigemptyset(&alarmAction.sa_mask);
        ::sigaction(SIGALRM, &alarmAction, &previousAlarm);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGALRM);
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        ::alarm(kCallbackWatchdogSeconds);
    }
    callback(&info);
    if (watchdog) {
        ::alarm(0);
        ::sigaction(SIGALRM, &previousAlarm, nullptr);
    }
}

void restartProgram(State &s)
{
    if (!(s.flags & CR_INST_APP_RESTART) || !s.arguments[0])
        return;
    if (monotonicSeconds() - s.installedAt < s.restartTimeout)
        return; // crashed too early after the start: no restart loop
    const pid_t child = ::_Fork();
    if (child != 0)
        return;
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(s.executable, s.arguments, environ);
    ::_exit(127);
}

void writeReport(State &s, int signal, const siginfo_t *info)
{
    if (!createReportFolder(s)) {
        nyx::crash::safe::writeText(STDERR_FILENO, "crash report: cannot create the report folder\n");
        return;
    }
    writeStackTrace(s, signal, info);
    writeProperties(s);
    runCallback(s, signal, signal != 0);
    copyAttachedFiles(s);
    std::memcpy(s.lastReportFolder, s.reportFolder, sizeof s.lastReportFolder);
    TextBuffer line(s.lineBuffer, sizeof s.lineBuffer);
    line.append("crash report written to ").append(s.reportFolder).appendChar('\n');
    nyx::crash::safe::writeAll(STDERR_FILENO, line.text(), line.length());
}

extern "C" void onCrashSignal(int signal, siginfo_t *info, void *)
{
    const int savedErrno = errno;
    State &s = state();
    const long self = currentThread();
    long expected = 0;
    if (!s.handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) // crashed while reporting: give up on the report
            dieWith(s.currentSignal != 0 ? s.currentSignal : signal);
        // Another thread is reporting and will end the process.
        for (int i = 0; i < 30; ++i) {
            timespec second{1, 0};
            ::nanosleep(&second, nullptr);
        }
        dieWith(signal);
    }
    s.currentSignal = signal;
    writeReport(s, signal, info);
    restartProgram(s);
    errno = savedErrno;
    dieWith(signal);
}

bool installHandlers(State &s)
{
    stack_t stack;
    stack.ss_sp = alternateStack();
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    s.ownStack = ::sigaltstack(&stack, &s.previousStack) == 0;

    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = onCrashSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        if (::sigaction(kSignals[i], &action, &s.previous[i]) != 0) {
            for (int j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &s.previous[j], nullptr);
            return false;
        }
    }
    return true;
}

void removeHandlers(State &s)
{
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &s.previous[i], nullptr);
    if (s.ownStack) {
        stack_t current;
        if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_ONSTACK)) {
            if (s.previousStack.ss_flags & SS_DISABLE) {
                stack_t disable{};
                disable.ss_flags = SS_DISABLE;
                ::sigaltstack(&disable, nullptr);
            } else {
                ::sigaltstack(&s.previousStack, nullptr);
            }
        }
        s.ownStack = false;
    }
}

std::string executablePath()
{
    char path[kMaxPath];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<std::size_t>(n));
}

const std::u16string kNotInstalled = u"The crash handler is not installed.";
} // namespace

int crInstallW(const CR_INSTALL_INFOW *info)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!info || info->cb != sizeof(CR_INSTALL_INFOW))
        return fail(u"Invalid installation record.");
    if (s.installed)
        return fail(u"The crash handler is already installed.");

    const std::string executable = executablePath();
    std::string name = toUtf8(info->pszAppName);
    if (name.empty())
        name = executable.substr(executable.rfind('/') + 1);
    std::string version = toUtf8(info->pszAppVersion);
    if (version.empty())
        version = "1.0.0";
    std::string directory = toUtf8(info->pszErrorReportSaveDir);
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    if (directory.empty() || directory.front() != '/')
        return fail(u"The report directory must be an absolute path.");
    if (name.find('/') != std::string::npos)
        return fail(u"Invalid application name.");
    if (!copyInto(s.appName, sizeof s.appName, name) ||
        !copyInto(s.appVersion, sizeof s.appVersion, version) ||
        !copyInto(s.reportDirectory, sizeof s.reportDirectory, directory) ||
        !copyInto(s.executable, sizeof s.executable, executable))
        return fail(u"A name or path of the installation record is too long.");
    if (!nyx::crash::safe::makeDirectories(s.reportDirectory))
        return fail(u"Can't create the report directory " + toUtf16(directory) + u": " +
                    toUtf16(std::strerror(errno)));

    s.flags = info->dwFlags;
    s.restartTimeout = info->nRestartTimeout;
    s.installedAt = monotonicSeconds();
    readCommandLine(s);
    s.propertyCount = 0;
    s.fileCount = 0;
    s.callback = nullptr;
    s.callbackParam = nullptr;
    s.lastReportFolder[0] = '\0';

    // The first backtrace() loads the unwinder; it must not happen inside the handler.
    void *frame[2];
    ::backtrace(frame, 2);

    if (!installHandlers(s))
        return fail(u"Can't install the crash signal handlers.");
    s.installed = true;
    return succeed();
}

int crUninstall()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.installed)
        return fail(kNotInstalled);
    removeHandlers(s);
    s.callback = nullptr;
    s.callbackParam = nullptr;
    s.installed = false;
    return succeed();
}

int crAddFile2W(LPCWSTR pszFile, LPCWSTR, LPCWSTR, DWORD dwFlags)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.installed)
        return fail(kNotInstalled);
    const std::string path = toUtf8(pszFile);
    const auto slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size())
        return fail(u"Invalid file path: " + std::u16string(pszFile ? pszFile : u""));
    const std::string directory = slash == 0 ? std::string("/") : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    const bool pattern = (dwFlags & CR_AF_FILE_PATTERN) != 0;
    if (access(pattern ? directory.c_str() : path.c_str(), F_OK) != 0)
        return fail((pattern ? u"The directory does not exist: " : u"The file does not exist: ") +
                    std::u16string(pszFile));
    const int index = s.fileCount.load();
    if (index >= kMaxFiles)
        return fail(u"Too many attached files.");
    AttachedFile &file = s.files[index];
    if (!copyInto(file.directory, sizeof file.directory, directory) ||
        !copyInto(file.name, sizeof file.name, name))
        return fail(u"The file path is too long.");
    file.pattern = pattern;
    s.fileCount.store(index + 1, std::memory_order_release);
    return succeed();
}

int crAddPropertyW(LPCWSTR pszPropName, LPCWSTR pszPropValue)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.installed)
        return fail(kNotInstalled);
    const std::string name = toUtf8(pszPropName);
    std::string value;
    for (char c : toUtf8(pszPropValue)) {
        if (c == '\n')
            value += "\\n";
        else if (c != '\r')
            value += c;
    }
    if (name.empty() || name.find_first_of("=\n\r") != std::string::npos)
        return fail(u"Invalid property name.");
    const int index = s.propertyCount.load();
    if (index >= kMaxProperties)
        return fail(u"Too many properties.");
    Property &p = s.properties[index];
    if (!copyInto(p.name, sizeof p.name, name) || !copyInto(p.value, sizeof p.value, value))
        return fail(u"The property name or value is too long.");
    s.propertyCount.store(index + 1, std::memory_order_release);
    return succeed();
}

int crGenerateErrorReport(CR_EXCEPTION_INFO *pExceptionInfo)
{
    State &s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.installed)
            return fail(kNotInstalled);
        if (pExceptionInfo && pExceptionInfo->cb != sizeof(CR_EXCEPTION_INFO))
            return fail(u"Invalid exception record.");
        long expected = 0;
        if (!s.handlingThread.compare_exchange_strong(expected, currentThread()))
            return fail(u"A report is being written.");
    }
    // Unlocked: the callback may call back into the library.
    s.currentSignal = 0;
    writeReport(s, 0, nullptr);
    s.handlingThread = 0;
    return succeed();
}

int crGetLastErrorMsgW(LPWSTR pszBuffer, UINT uBuffSize)
{
    if (!pszBuffer || uBuffSize == 0)
        return 0;
    std::size_t length = 0;
    while (t_lastError[length] != u'\0')
        ++length;
    const std::size_t n = std::min<std::size_t>(length, uBuffSize - 1);
    std::memcpy(pszBuffer, t_lastError, n * sizeof(char16_t));
    pszBuffer[n] = u'\0';
    return static_cast<int>(n);
}

int crSetCrashCallbackW(PFN_CRASH_CALLBACKW pfnCallbackFunc, LPVOID lpParam)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.installed)
        return fail(kNotInstalled);
    // Parameter first: a crash in between sees the old callback with the old parameter at worst.
    s.callback = nullptr;
    s.callbackParam = lpParam;
    s.callback = pfnCallbackFunc;
    return succeed();
}

namespace nyx::crash {
const char *lastReportFolder()
{
    return state().lastReportFolder;
}

Installation installation()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Installation result;
    if (!s.installed)
        return result;
    result.installed = true;
    std::memcpy(result.appName, s.appName, sizeof result.appName);
    std::memcpy(result.appVersion, s.appVersion, sizeof result.appVersion);
    std::memcpy(result.reportDirectory, s.reportDirectory, sizeof result.reportDirectory);
    result.flags = s.flags;
    result.restartTimeout = s.restartTimeout;
    return result;
}
} // namespace nyx::crash
