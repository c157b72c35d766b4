#pragma once
// Windows, window messages and timers: one message queue per thread, a process-wide window
// table, messages posted and sent across threads, and timers that GetMessageW delivers.

#include "win32/lasterror.h"
#include "win32/win32types.h"
#include "win32/winerror.h"

using ATOM = WORD;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using HMENU = struct HMENU__ *;
using HICON = struct HICON__ *;
using HCURSOR = HICON;
using HBRUSH = struct HBRUSH__ *;
using HGDIOBJ = void *;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSW
{
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

struct POINT
{
    LONG x;
    LONG y;
};

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr DWORD WS_POPUP = 0x80000000u;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int GWLP_USERDATA = -21;
constexpr int NULL_BRUSH = 5;

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define IDC_ARROW MAKEINTRESOURCEW(32512)

constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;

ATOM RegisterClassW(const WNDCLASSW *windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Only the thread that created a window may destroy it.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HGDIOBJ GetStockObject(int object);

// Timers of a window of the calling thread; a period below 1 ms counts as 1 ms.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

// Waits for the next message of the calling thread: sent messages are handled inside, then posted
// messages, then a due WM_TIMER. Returns 0 for WM_QUIT, -1 on failure, otherwise non-zero.
BOOL GetMessageW(MSG *message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG *message);
LRESULT DispatchMessageW(const MSG *message);
// A null window posts to the calling thread. Fails for a window that does not exist.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the window procedure on the window's own thread and waits for its result.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

namespace nyx::win32 {
// Makes the next GetMessageW of the thread that owns window return -1 (tests).
bool injectGetMessageFailure(HWND window);
} // namespace nyx::win32
