// Keeping the machine awake: with a system bus, logind's "sleep:idle" inhibitor is held exactly
// while a program asks for it (against a private bus daemon serving a scripted logind); without
// one, the program is told once and runs on. libdbus reads the bus address once per process, so
// each case is its own executable (POWER_CASE_LOGIND or not).

#include "win32/power.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace {
QStringList g_powerWarnings;
QtMessageHandler g_previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && context.category && QByteArray(context.category) == "nyx.win32.power")
        g_powerWarnings << text;
    g_previous(type, context, text);
}

} // namespace

#ifdef POWER_CASE_LOGIND
// The read end of the inhibitor's pipe: readable with end-of-file once every copy of the
// inhibitor's descriptor is closed.
bool released(int readEnd)
{
    pollfd p{readEnd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLIN));
}

// logind's Manager as far as inhibitors go: hands out the write end of a pipe per request.
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Request
    {
        QStringList arguments;
        int readEnd = -1;
    };
    QList<Request> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    ~FakeLogind() override
    {
        for (const Request &r : qAsConst(m_requests))
            ::close(r.readEnd);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return QDBusUnixFileDescriptor();
        QDBusUnixFileDescriptor handed(fds[1]); // a copy
        ::close(fds[1]);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.append(Request{{what, who, why, mode}, fds[0]});
        return handed;
    }

private:
    std::mutex m_mutex;
    QList<Request> m_requests;
};
#endif

class TestPower : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previous = qInstallMessageHandler(capture); }
    void cleanupTestCase() { qInstallMessageHandler(g_previous); }

#ifndef POWER_CASE_LOGIND
    void withoutASystemBusTheProgramRunsOn()
    {
        QVERIFY(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS").contains(QStringLiteral("nonexistent")));
        const EXECUTION_STATE awake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
        QCOMPARE(SetThreadExecutionState(awake), ES_CONTINUOUS);
        QCOMPARE(g_powerWarnings.size(), 1);
        QVERIFY2(g_powerWarnings.first().contains(QStringLiteral("no system bus")),
                 qPrintable(g_powerWarnings.first()));
        // Asked again, and after letting go: still one line, and the states are remembered.
        QCOMPARE(SetThreadExecutionState(ES_CONTINUOUS), awake);
        QCOMPARE(SetThreadExecutionState(awake), ES_CONTINUOUS);
        QCOMPARE(SetThreadExecutionState(ES_SYSTEM_REQUIRED), awake); // one-off: no change
        QCOMPARE(g_powerWarnings.size(), 1);
    }
#else
    void holdsTheInhibitorWhileAsked()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QProcess bus;
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")});
        QVERIFY(bus.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), 15000);
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QVERIFY2(address.startsWith(QStringLiteral("unix:")), qPrintable(address));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

        // The scripted logind answers on its own thread while the caller blocks in its call.
        QThread thread;
        auto *logind = new FakeLogind;
        logind->moveToThread(&thread);
        thread.start();
        bool registered = false;
        QMetaObject::invokeMethod(
            logind,
            [&] {
                QDBusConnection c = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
                registered = c.registerService(QStringLiteral("org.freedesktop.login1")) &&
                             c.registerObject(QStringLiteral("/org/freedesktop/login1"), logind,
                                              QDBusConnection::ExportAllSlots);
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(registered);

        const EXECUTION_STATE awake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
        SetThreadExecutionState(awake);
        QCOMPARE(logind->requests().size(), 1);
        const FakeLogind::Request request = logind->requests().first();
        QCOMPARE(request.arguments.value(0), QStringLiteral("sleep:idle"));
        QCOMPARE(request.arguments.value(1), QCoreApplication::applicationName());
        QCOMPARE(request.arguments.value(3), QStringLiteral("block"));
        // Held: asking again takes no second one, and the pipe stays open.
        SetThreadExecutionState(awake);
        QCOMPARE(logind->requests().size(), 1);
        QTest::qWait(100);
        QVERIFY(!released(request.readEnd));

        SetThreadExecutionState(ES_CONTINUOUS);
        QTRY_VERIFY(released(request.readEnd));
        QVERIFY(g_powerWarnings.isEmpty());

        QMetaObject::invokeMethod(
            logind, [] { QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind")); },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        delete logind;
        bus.terminate();
        bus.waitForFinished();
    }
#endif
};

QTEST_GUILESS_MAIN(TestPower)
#include "tst_power.moc"
