#pragma once
// GetTickCount: a wrapping 32-bit millisecond count from a steady clock.

#include "win32/win32types.h"

#include <functional>

DWORD GetTickCount();
ULONGLONG GetTickCount64();

namespace nyx::win32 {
// Replaces the clock behind GetTickCount (tests); an empty function restores the steady clock.
void setTickCountSource(std::function<DWORD()> source);
} // namespace nyx::win32
