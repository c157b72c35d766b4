#include "win32/debugoutput.h"

#include "win32/unicode.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_mutex;
std::function<void(const std::string &)> g_sink;

void deliver(const std::string &text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_sink) {
        g_sink(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
} // namespace

void OutputDebugStringA(LPCSTR text)
{
    if (text)
        deliver(text);
}

void OutputDebugStringW(LPCWSTR text)
{
    if (text)
        deliver(nyx::win32::toUtf8(text));
}

namespace nyx::win32 {
void setDebugOutputSink(std::function<void(const std::string &)> sink)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sink = std::move(sink);
}
} // namespace nyx::win32
