// Windows, messages and timers across threads, and RPC UUIDs.

#include "win32/rpcuuid.h"
#include "win32/winuser.h"

#include <QRegularExpression>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {
struct Seen
{
    UINT message;
    WPARAM wParam;
    std::thread::id thread;
};
std::mutex g_mutex;
std::vector<Seen> g_seen;

LRESULT recordingProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE || message == WM_DESTROY)
        return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_seen.push_back(Seen{message, wParam, std::this_thread::get_id()});
    return static_cast<LRESULT>(wParam + lParam);
}

std::vector<Seen> seen()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_seen;
}

const char16_t kClass[] = u"TST_CLASS";

// A thread with a window and a message loop, like the referee link's.
struct LoopThread
{
    std::atomic<HWND> window{nullptr};
    std::atomic<int> exitCode{-100};
    std::atomic<int> timers{0};
    UINT timerPeriod = 0;
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            HWND w =
                CreateWindowExW(0, kClass, u"w", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
            if (timerPeriod)
                SetTimer(w, 7, timerPeriod, nullptr);
            window = w;
            MSG msg;
            BOOL r;
            while ((r = GetMessageW(&msg, nullptr, 0, 0)) != 0 && r != -1) {
                if (msg.message == WM_TIMER)
                    ++timers;
                DispatchMessageW(&msg);
            }
            exitCode = r == -1 ? -1 : static_cast<int>(msg.wParam);
            DestroyWindow(w);
        });
        while (!window)
            std::this_thread::yield();
    }
    void join() { thread.join(); }
};
} // namespace

class tst_WinUser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = kClass;
        QVERIFY(RegisterClassW(&wc) != 0);
        QCOMPARE(RegisterClassW(&wc), ATOM(0));
        QCOMPARE(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    }

    void postedMessagesRunOnTheWindowThreadInOrder()
    {
        g_seen.clear();
        LoopThread loop;
        loop.start();
        for (WPARAM i = 0; i < 100; ++i)
            QVERIFY(PostMessageW(loop.window, WM_USER + 1, i, 0));
        // A sent message is answered by the window's thread with the procedure's result.
        QCOMPARE(SendMessageW(loop.window, WM_USER + 2, 40, 2), LRESULT(42));
        const std::thread::id loopThread = loop.thread.get_id();
        QVERIFY(PostMessageW(loop.window, WM_QUIT, 5, 0));
        loop.join();
        QCOMPARE(loop.exitCode.load(), 5);
        const auto s = seen();
        QCOMPARE(int(s.size()), 101);
        int posted = 0;
        for (const Seen &e : s) {
            QVERIFY(e.thread == loopThread);
            if (e.message == WM_USER + 1)
                QCOMPARE(e.wParam, WPARAM(posted++));
        }
        QCOMPARE(posted, 100);
        // The window went away with its thread.
        QVERIFY(!IsWindow(loop.window));
        QVERIFY(!PostMessageW(loop.window, WM_USER, 0, 0));
        QCOMPARE(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    }

    void userDataAndForeignThreads()
    {
        LoopThread loop;
        loop.start();
        QCOMPARE(SetWindowLongPtrW(loop.window, GWLP_USERDATA, 1234), LONG_PTR(0));
        QCOMPARE(GetWindowLongPtrW(loop.window, GWLP_USERDATA), LONG_PTR(1234));
        QCOMPARE(GetWindowLongPtrW(loop.window, 99), LONG_PTR(0));
        QCOMPARE(GetLastError(), ERROR_INVALID_INDEX);
        QVERIFY(!DestroyWindow(loop.window)); // not ours
        QCOMPARE(SetTimer(loop.window, 1, 10, nullptr), UINT_PTR(0));
        QVERIFY(PostMessageW(loop.window, WM_QUIT, 0, 0));
        loop.join();
    }

    void timersAreDeliveredByGetMessage()
    {
        LoopThread loop;
        loop.timerPeriod = 5;
        loop.start();
        QTRY_VERIFY(loop.timers >= 3);
        QVERIFY(PostMessageW(loop.window, WM_QUIT, 0, 0));
        loop.join();
    }

    void quitMessageAndFailureEndTheLoop()
    {
        LoopThread loop;
        loop.start();
        QVERIFY(nyx::win32::injectGetMessageFailure(loop.window));
        loop.join();
        QCOMPARE(loop.exitCode.load(), -1);

        std::thread t([] {
            PostQuitMessage(9);
            MSG msg;
            QCOMPARE(GetMessageW(&msg, nullptr, 0, 0), BOOL(0));
            QCOMPARE(msg.message, WM_QUIT);
            QCOMPARE(int(msg.wParam), 9);
        });
        t.join();
        MSG msg;
        QCOMPARE(GetMessageW(&msg, reinterpret_cast<HWND>(0x42), 0, 0), BOOL(-1));
    }

    void unregisterOnlyWithoutWindows()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = u"TST_OTHER";
        QVERIFY(RegisterClassW(&wc));
        HWND w = CreateWindowExW(0, u"TST_OTHER", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        QVERIFY(w);
        QVERIFY(!UnregisterClassW(u"TST_OTHER", nullptr));
        QCOMPARE(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
        QVERIFY(DestroyWindow(w));
        QVERIFY(UnregisterClassW(u"TST_OTHER", nullptr));
        QVERIFY(!CreateWindowExW(0, u"TST_OTHER", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
        QCOMPARE(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
    }

    void uuidText()
    {
        UUID a, b;
        QCOMPARE(UuidCreate(&a), RPC_S_OK);
        QCOMPARE(UuidCreate(&b), RPC_S_OK);
        QVERIFY(a != b);
        RPC_WSTR text = nullptr;
        QCOMPARE(UuidToStringW(&a, &text), RPC_S_OK);
        const QString s = QString::fromUtf16(text);
        QVERIFY2(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
                     .match(s)
                     .hasMatch(),
                 qPrintable(s));
        QCOMPARE(QUuid(s), QUuid(a.Data1, a.Data2, a.Data3, a.Data4[0], a.Data4[1], a.Data4[2], a.Data4[3],
                                 a.Data4[4], a.Data4[5], a.Data4[6], a.Data4[7]));
        QCOMPARE(RpcStringFreeW(&text), RPC_S_OK);
        QVERIFY(!text);
    }
};

QTEST_GUILESS_MAIN(tst_WinUser)
#include "tst_winuser.moc"
