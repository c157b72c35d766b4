#include "archive/archivefaults.h"

#include <array>
#include <atomic>
#include <mutex>

namespace nyx::archive::faults {
namespace {
struct Fault
{
    HRESULT hr = S_OK;
    int times = 0;
};

std::mutex g_mutex;
std::array<Fault, static_cast<std::size_t>(Operation::Count)> g_faults;
std::atomic<bool> g_any{false};
std::atomic<int> g_listLimit{-1};
} // namespace

void fail(Operation operation, HRESULT hr, int times)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_faults[static_cast<std::size_t>(operation)] = Fault{hr, times};
    g_any = true;
}

void shortLists(int limit)
{
    g_listLimit = limit;
}

void clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_faults.fill(Fault());
    g_any = false;
    g_listLimit = -1;
}

HRESULT check(Operation operation)
{
    if (!g_any.load(std::memory_order_relaxed))
        return S_OK;
    std::lock_guard<std::mutex> lock(g_mutex);
    Fault &f = g_faults[static_cast<std::size_t>(operation)];
    if (f.times == 0)
        return S_OK;
    if (f.times > 0)
        --f.times;
    return f.hr;
}

int listLimit()
{
    return g_listLimit.load();
}
} // namespace nyx::archive::faults
