#include "win32/tickcount.h"

#include <chrono>
#include <mutex>

namespace {
std::mutex g_mutex;
std::function<DWORD()> g_source;
} // namespace

ULONGLONG GetTickCount64()
{
    using namespace std::chrono;
    return static_cast<ULONGLONG>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

DWORD GetTickCount()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_source)
            return g_source();
    }
    return static_cast<DWORD>(GetTickCount64());
}

namespace nyx::win32 {
void setTickCountSource(std::function<DWORD()> source)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_source = std::move(source);
}
} // namespace nyx::win32
