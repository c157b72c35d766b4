#pragma once
// Conversion of NUL-terminated wide (UTF-16) strings, as WideCharToMultiByte does it for CP_UTF8.

#include "win32/win32types.h"

#include <string>

namespace nyx::win32 {
// UTF-8 of a UTF-16 string; a lone surrogate becomes U+FFFD; null gives an empty string.
std::string toUtf8(LPCWSTR text);
} // namespace nyx::win32
