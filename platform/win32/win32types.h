#pragma once
// The Win32 base types with their Windows sizes. WCHAR is char16_t: Linux wchar_t is 4 bytes.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using UINT32 = std::uint32_t;
using UINT64 = std::uint64_t;
using INT32 = std::int32_t;
using INT64 = std::int64_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = int;
using WCHAR = char16_t;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using LPSTR = char *;
using LPCSTR = const char *;
using LPVOID = void *;
using HANDLE = void *;
using HWND = struct HWND__ *;
using HINSTANCE = struct HINSTANCE__ *;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef WINAPI
#define WINAPI
#endif

constexpr DWORD MAX_PATH = 260;
