#pragma once
// Debugger output: one process-wide sink, stderr unless a test captures it.

#include "win32/win32types.h"

#include <functional>
#include <string>

void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);

namespace nyx::win32 {
// Receives every debugger output text as UTF-8; an empty function restores stderr.
void setDebugOutputSink(std::function<void(const std::string &)> sink);
} // namespace nyx::win32
