// A stand-in for a supervised program. Each start takes the next line of
// $FAKECHILD_DIR/<name>.script (the last line repeats) and records itself:
//   <name>.argv   its arguments, one per line, from the latest start
//   starts.log    "<name> <pid> <milliseconds since epoch>" per start, shared by all children
// Script lines: "exit N", "exit N after <name>" (once <name> has recorded a start), "crash",
// "run" (until Ctrl+C, then exit 0), "ignore" (ignores Ctrl+C).

#include "win32/console.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<bool> g_stop{false};

BOOL WINAPI onCtrl(DWORD type)
{
    if (type != CTRL_C_EVENT)
        return FALSE;
    g_stop = true;
    return TRUE;
}

std::string baseName(const char *path)
{
    std::string s(path);
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}
} // namespace

int main(int argc, char *argv[])
{
    const char *dirEnv = std::getenv("FAKECHILD_DIR");
    if (!dirEnv)
        return 2;
    const std::string dir(dirEnv);
    const std::string name = baseName(argv[0]);

    std::vector<std::string> lines;
    {
        std::ifstream script(dir + "/" + name + ".script");
        for (std::string line; std::getline(script, line);)
            if (!line.empty())
                lines.push_back(line);
    }
    int startIndex = 0;
    {
        std::ifstream count(dir + "/" + name + ".count");
        count >> startIndex;
    }
    std::ofstream(dir + "/" + name + ".count") << startIndex + 1;
    {
        std::ofstream args(dir + "/" + name + ".argv");
        for (int i = 1; i < argc; ++i)
            args << argv[i] << "\n";
    }
    {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        std::ofstream starts(dir + "/starts.log", std::ios::app);
        starts << name << " " << GetCurrentProcessId() << " " << now << "\n";
    }

    const std::string action =
        lines.empty() ? "run" : lines[std::min<std::size_t>(startIndex, lines.size() - 1)];
    std::istringstream words(action);
    std::string verb;
    words >> verb;
    if (verb == "exit") {
        int code = 0;
        words >> code;
        std::string after, other;
        if (words >> after >> other && after == "after") {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (std::chrono::steady_clock::now() < deadline) {
                std::ifstream starts(dir + "/starts.log");
                std::string line;
                bool found = false;
                while (!found && std::getline(starts, line))
                    found = line.compare(0, other.size() + 1, other + " ") == 0;
                if (found)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return code;
    }
    if (verb == "crash")
        std::abort();
    if (verb == "ignore") {
        SetConsoleCtrlHandler(nullptr, TRUE);
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    SetConsoleCtrlHandler(onCtrl, TRUE);
    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 0;
}
