#include "win32/console.h"
#include "win32/debugoutput.h"
#include "win32/filetime.h"
#include "win32/shellfolders.h"
#include "win32/tickcount.h"

#include <QtTest>
#include <atomic>
#include <csignal>
#include <thread>

namespace {
std::atomic<int> g_ctrlEvents{0};
std::atomic<std::thread::id> g_handlerThread;

BOOL WINAPI countingHandler(DWORD type)
{
    if (type != CTRL_C_EVENT)
        return FALSE;
    g_handlerThread = std::this_thread::get_id();
    ++g_ctrlEvents;
    return TRUE;
}
} // namespace

class tst_Win32 : public QObject
{
    Q_OBJECT

private slots:
    void tickCountCanBeSubstitutedAndWraps()
    {
        DWORD fake = 0xFFFFFFF0u;
        nyx::win32::setTickCountSource([&fake] { return fake; });
        const DWORD before = GetTickCount();
        fake += 0x20; // wraps past zero
        const DWORD after = GetTickCount();
        QCOMPARE(after, 0x10u);
        QCOMPARE(static_cast<DWORD>(after - before), 0x20u);
        nyx::win32::setTickCountSource({});
        const DWORD a = GetTickCount();
        QTest::qSleep(20);
        QVERIFY(static_cast<DWORD>(GetTickCount() - a) >= 15);
    }

    void fileTimeFollowsTheSystemClock()
    {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        const std::uint64_t value = nyx::win32::toUInt64(ft);
        const qint64 msSinceEpoch = static_cast<qint64>((value - nyx::win32::kUnixEpochFileTime) / 10000);
        QVERIFY(qAbs(msSinceEpoch - QDateTime::currentMSecsSinceEpoch()) < 5000);
        QCOMPARE(nyx::win32::toUInt64(nyx::win32::toFileTime(0x0123456789ABCDEFULL)), 0x0123456789ABCDEFULL);
    }

    void debugOutputGoesToTheSink()
    {
        std::string captured;
        nyx::win32::setDebugOutputSink([&captured](const std::string &text) { captured += text; });
        OutputDebugStringA("plain ");
        OutputDebugStringW(u"Камера \U0001F3A5");
        OutputDebugStringA(nullptr);
        nyx::win32::setDebugOutputSink({});
        QCOMPARE(QString::fromStdString(captured), QStringLiteral("plain Камера \U0001F3A5"));
    }

    void ctrlCRunsTheHandlerOnItsOwnThread()
    {
        QVERIFY(SetConsoleCtrlHandler(countingHandler, TRUE));
        ::raise(SIGINT);
        QTRY_COMPARE_WITH_TIMEOUT(g_ctrlEvents.load(), 1, 10000);
        QVERIFY(g_handlerThread.load() != std::this_thread::get_id());

        // Ignoring Ctrl+C: the signal is dropped.
        QVERIFY(SetConsoleCtrlHandler(nullptr, TRUE));
        ::raise(SIGINT);
        QTest::qWait(200);
        QCOMPARE(g_ctrlEvents.load(), 1);
        QVERIFY(SetConsoleCtrlHandler(nullptr, FALSE));

        // An attached "console" gets the event by pid: here our own process.
        QVERIFY(AttachConsole(GetCurrentProcessId()));
        QVERIFY(!AttachConsole(GetCurrentProcessId()));
        QVERIFY(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        QVERIFY(FreeConsole());
        QTRY_COMPARE_WITH_TIMEOUT(g_ctrlEvents.load(), 2, 10000);
        QVERIFY(!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        QVERIFY(SetConsoleCtrlHandler(countingHandler, FALSE));
        QVERIFY(!SetConsoleCtrlHandler(countingHandler, FALSE));
    }

    void applicationDataDirectoryIsCreated()
    {
        const QString dir = nyx::shell::applicationDataDirectory(QStringLiteral("TundraRecorder"));
        QVERIFY(QFileInfo(dir).isDir());
        QVERIFY(dir.endsWith(QStringLiteral("/Nyx/TundraRecorder")));
        QVERIFY(dir.startsWith(nyx::shell::localAppDataFolder()));
        WCHAR path[MAX_PATH];
        QCOMPARE(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
        QCOMPARE(QString::fromUtf16(path), nyx::shell::localAppDataFolder());
        QCOMPARE(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, nullptr), E_POINTER);
    }
};

QTEST_GUILESS_MAIN(tst_Win32)
#include "tst_win32.moc"
