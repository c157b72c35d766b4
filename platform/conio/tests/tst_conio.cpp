// _getch on a real pseudo-terminal (raw keys, no echo) and on a pipe (plain bytes).
#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
QByteArray probePath()
{
    return qgetenv("CONIO_PROBE");
}

// Reads from fd until text shows up or the time is over.
QByteArray readUntil(int fd, const QByteArray &text, int ms, QByteArray seen = {})
{
    QDeadlineTimer deadline(ms);
    while (!seen.contains(text) && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(qBound<qint64>(1, deadline.remainingTime(), 100))) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<int>(n));
    }
    return seen;
}
// Waits until the probe sits in _getch: the pseudo-terminal has lost its echo.
bool waitForRawMode(int master)
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        termios settings{};
        if (::tcgetattr(master, &settings) == 0 && !(settings.c_lflag & (ECHO | ICANON)))
            return true;
        QTest::qSleep(1);
    }
    return false;
}
} // namespace

class TestConio : public QObject
{
    Q_OBJECT

private slots:
    void terminalKeysArriveAtOnceWithoutEcho()
    {
        QVERIFY(!probePath().isEmpty());
        int master = -1;
        const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
        QVERIFY(child >= 0);
        if (child == 0) {
            const QByteArray path = probePath();
            ::execl(path.constData(), path.constData(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        // No line feed follows the keys: they must arrive one by one, and never be echoed.
        QByteArray output;
        QVERIFY(waitForRawMode(master));
        QVERIFY(::write(master, "a", 1) == 1);
        output = readUntil(master, "key 97", 10000);
        QVERIFY2(output.contains("key 97"), output.constData());
        QVERIFY(waitForRawMode(master));
        QVERIFY(::write(master, "Z", 1) == 1);
        output = readUntil(master, "key 90", 10000, output);
        QVERIFY(waitForRawMode(master));
        QVERIFY(::write(master, "q", 1) == 1);
        output = readUntil(master, "end", 10000, output);
        QVERIFY2(output.contains("key 90") && output.contains("key 113"), output.constData());
        QVERIFY2(output.contains("restored 1"), output.constData());
        // The probe prints numbers only, so a raw key in the output is an echo.
        QVERIFY2(!output.contains('a'), output.constData());
        QVERIFY2(!output.contains('Z'), output.constData());

        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        ::close(master);
    }

    void pipeGivesPlainBytesAndEnds()
    {
        QProcess probe;
        probe.start(QString::fromLocal8Bit(probePath()), QStringList());
        QVERIFY(probe.waitForStarted(10000));
        probe.write("x\n");
        probe.closeWriteChannel();
        QVERIFY(probe.waitForFinished(10000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardOutput(), QByteArray("key 120\nkey 10\nend\n"));
    }
};

QTEST_GUILESS_MAIN(TestConio)
#include "tst_conio.moc"
