#include "hookstate.h"

#include <atomic>
#include <mutex>

namespace nyx::codecs::hooks {
namespace {
std::mutex g_mutex;
DecodeHook g_hook;
std::atomic<std::uint64_t> g_pictures{0};
std::atomic<std::uint64_t> g_accessUnits{0};
} // namespace

void setDecodeHook(DecodeHook hook)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = std::move(hook);
}

std::uint64_t decodedPictures()
{
    return g_pictures.load();
}

std::uint64_t decodedAccessUnits()
{
    return g_accessUnits.load();
}

HRESULT consultDecodeHook(LONGLONG time)
{
    DecodeHook hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_hook;
    }
    return hook ? hook(time) : S_OK;
}

void countPicture()
{
    ++g_pictures;
}

void countAccessUnit()
{
    ++g_accessUnits;
}
} // namespace nyx::codecs::hooks
