#include "win32/winuser.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

struct SentMessage
{
    MSG msg{};
    LRESULT result = 0;
    bool done = false;
};

struct Timer
{
    HWND window;
    UINT_PTR id;
    Clock::duration period;
    Clock::time_point due;
    TIMERPROC proc;
};

struct ThreadQueue
{
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quitPending = false;
    int quitCode = 0;
    bool failNextGet = false;
    bool alive = true;
};

struct Window
{
    std::shared_ptr<ThreadQueue> queue;
    WNDPROC proc;
    LONG_PTR userData;
    std::u16string className;
};

// One lock for the window table, the classes and every thread queue: the queues are short
// and the lock is never held while a window procedure runs.
struct State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::u16string, std::pair<ATOM, WNDPROC>> classes;
    std::map<HWND, Window> windows;
    ATOM nextAtom = 0xC000;
    std::uintptr_t nextWindow = 0x10010;
};

State &state()
{
    static State *s = new State; // outlives thread-local queues at exit
    return *s;
}

std::u16string toString(LPCWSTR text)
{
    return text ? std::u16string(text) : std::u16string();
}

// The calling thread's queue; its windows go away with the thread.
struct QueueHolder
{
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    ~QueueHolder()
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        queue->alive = false;
        for (auto it = s.windows.begin(); it != s.windows.end();) {
            if (it->second.queue == queue)
                it = s.windows.erase(it);
            else
                ++it;
        }
        for (auto &sent : queue->sent)
            sent->done = true;
        queue->sent.clear();
        s.wake.notify_all();
    }
};

std::shared_ptr<ThreadQueue> currentQueue()
{
    thread_local QueueHolder holder;
    return holder.queue;
}

Window *findWindow(State &s, HWND window)
{
    auto it = s.windows.find(window);
    return it == s.windows.end() ? nullptr : &it->second;
}

DWORD tickNow()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(Clock::now().time_since_epoch()).count());
}
} // namespace

ATOM RegisterClassW(const WNDCLASSW *windowClass)
{
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::u16string name = toString(windowClass->lpszClassName);
    if (s.classes.count(name)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    const ATOM atom = s.nextAtom++;
    s.classes[name] = {atom, windowClass->lpfnWndProc};
    SetLastError(ERROR_SUCCESS);
    return atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::u16string name = toString(className);
    auto it = s.classes.find(name);
    if (it == s.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto &w : s.windows) {
        if (w.second.className == name) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    s.classes.erase(it);
    return TRUE;
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                     LPVOID)
{
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    HWND handle = nullptr;
    WNDPROC proc = nullptr;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.classes.find(toString(className));
        if (it == s.classes.end()) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        proc = it->second.second;
        handle = reinterpret_cast<HWND>(s.nextWindow);
        s.nextWindow += 4;
        s.windows[handle] = Window{queue, proc, 0, it->first};
    }
    SetLastError(ERROR_SUCCESS);
    proc(handle, WM_CREATE, 0, 0);
    return handle;
}

BOOL DestroyWindow(HWND window)
{
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    WNDPROC proc = nullptr;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        Window *w = findWindow(s, window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->queue != queue) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        proc = w->proc;
    }
    proc(window, WM_DESTROY, 0, 0);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.windows.erase(window);
    auto &timers = queue->timers;
    timers.erase(
        std::remove_if(timers.begin(), timers.end(), [window](const Timer &t) { return t.window == window; }),
        timers.end());
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return findWindow(s, window) ? TRUE : FALSE;
}

BOOL ShowWindow(HWND, int)
{
    return FALSE; // never visible before
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index != GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return std::exchange(w->userData, value);
}

LONG_PTR GetWindowLongPtrW(HWND window, int index)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index != GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return w->userData;
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR name)
{
    static int cursor;
    return name ? reinterpret_cast<HCURSOR>(&cursor) : nullptr;
}

HGDIOBJ GetStockObject(int object)
{
    static int objects[32];
    return object >= 0 && object < 32 ? &objects[object] : nullptr;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc)
{
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, window);
    if (!w || w->queue != queue) {
        SetLastError(w ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const auto period = std::chrono::milliseconds(std::max<UINT>(elapseMs, 1));
    for (Timer &t : queue->timers) {
        if (t.window == window && t.id == id) {
            t.period = period;
            t.due = Clock::now() + period;
            t.proc = proc;
            return id ? id : 1;
        }
    }
    queue->timers.push_back(Timer{window, id, period, Clock::now() + period, proc});
    return id ? id : 1;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto &timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer &t) { return t.window == window && t.id == id; });
    if (it == timers.end())
        return FALSE;
    timers.erase(it);
    return TRUE;
}

BOOL GetMessageW(MSG *message, HWND window, UINT, UINT)
{
    if (!message) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (window) {
        Window *w = findWindow(s, window);
        if (!w || w->queue != queue) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
    }
    for (;;) {
        if (queue->failNextGet) {
            queue->failNextGet = false;
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        if (!queue->sent.empty()) {
            std::shared_ptr<SentMessage> sent = queue->sent.front();
            queue->sent.pop_front();
            Window *w = findWindow(s, sent->msg.hwnd);
            WNDPROC proc = w ? w->proc : nullptr;
            lock.unlock();
            const LRESULT result =
                proc ? proc(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam) : 0;
            lock.lock();
            sent->result = result;
            sent->done = true;
            s.wake.notify_all();
            continue;
        }
        if (!queue->posted.empty()) {
            *message = queue->posted.front();
            queue->posted.pop_front();
            return message->message == WM_QUIT ? 0 : 1;
        }
        if (queue->quitPending) {
            queue->quitPending = false;
            *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, tickNow(), {0, 0}};
            return 0;
        }
        const auto now = Clock::now();
        Timer *next = nullptr;
        for (Timer &t : queue->timers) {
            if (!next || t.due < next->due)
                next = &t;
        }
        if (next && next->due <= now) {
            *message = MSG{next->window, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc),
                           tickNow(),    {0, 0}};
            next->due = now + next->period;
            return 1;
        }
        if (next)
            s.wake.wait_until(lock, next->due);
        else
            s.wake.wait(lock);
    }
}

BOOL TranslateMessage(const MSG *)
{
    return FALSE;
}

LRESULT DispatchMessageW(const MSG *message)
{
    if (!message || !message->hwnd)
        return 0;
    if (message->message == WM_TIMER && message->lParam) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam, tickNow());
        return 0;
    }
    WNDPROC proc = nullptr;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (Window *w = findWindow(s, message->hwnd))
            proc = w->proc;
    }
    return proc ? proc(message->hwnd, message->message, message->wParam, message->lParam) : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<ThreadQueue> queue;
    if (!window)
        queue = currentQueue();
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (window) {
        Window *w = findWindow(s, window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = w->queue;
    }
    queue->posted.push_back(MSG{window, message, wParam, lParam, tickNow(), {0, 0}});
    s.wake.notify_all();
    return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<ThreadQueue> own = currentQueue();
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->queue == own) {
        WNDPROC proc = w->proc;
        lock.unlock();
        return proc(window, message, wParam, lParam);
    }
    std::shared_ptr<ThreadQueue> target = w->queue;
    auto sent = std::make_shared<SentMessage>();
    sent->msg = MSG{window, message, wParam, lParam, tickNow(), {0, 0}};
    target->sent.push_back(sent);
    s.wake.notify_all();
    s.wake.wait(lock, [&] { return sent->done || !target->alive; });
    return sent->result;
}

void PostQuitMessage(int exitCode)
{
    std::shared_ptr<ThreadQueue> queue = currentQueue();
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    queue->quitPending = true;
    queue->quitCode = exitCode;
    s.wake.notify_all();
}

namespace nyx::win32 {
bool injectGetMessageFailure(HWND window)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window *w = findWindow(s, window);
    if (!w)
        return false;
    w->queue->failNextGet = true;
    s.wake.notify_all();
    return true;
}
} // namespace nyx::win32
