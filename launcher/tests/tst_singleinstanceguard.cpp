// The single-instance guard against owners that are not what they seem: a process that has ended
// but is not yet collected, a process id taken over by another program, and a live instance.
// The owner's segment is left by a forked copy of this test, which runs the same executable.

#include "singleinstanceguard.h"

#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {
bool isZombie(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "Z";
}
} // namespace

class TestSingleInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // A segment left by an earlier run is cleared by a look.
        SingleInstanceGuard guard;
        QVERIFY(!guard.isAnotherRunning());
    }

    void owners_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("taken");
        QTest::newRow("ended, not collected") << "zombie" << false;
        QTest::newRow("id taken by another program") << "other program" << false;
        QTest::newRow("live instance") << "live" << true;
    }
    void owners()
    {
        QFETCH(QString, owner);
        QFETCH(bool, taken);
        const QString key = SingleInstanceGuard::generateKeyHash(QStringLiteral("2"));
        QProcess sleeper;
        quint64 recorded = 0;
        if (owner == QLatin1String("other program")) {
            sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(sleeper.waitForStarted());
            recorded = quint64(sleeper.processId());
        }

        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The owner: creates the segment, records itself or the other program, and either
            // stays or ends without detaching, as a killed instance does.
            QSharedMemory memory(key);
            const quint64 self = recorded ? recorded : quint64(::getpid());
            const bool created = memory.create(8);
            if (created)
                std::memcpy(memory.data(), &self, sizeof self);
            const char answer = created ? '1' : '0';
            if (::write(fds[1], &answer, 1) != 1)
                ::_exit(2);
            while (owner == QLatin1String("live"))
                ::pause();
            ::_exit(0);
        }
        ::close(fds[1]);
        char answer = 0;
        QCOMPARE(::read(fds[0], &answer, 1), ssize_t(1));
        ::close(fds[0]);
        QCOMPARE(answer, '1');
        if (owner == QLatin1String("zombie"))
            QTRY_VERIFY(isZombie(child));
        else if (owner == QLatin1String("other program"))
            QCOMPARE(::waitpid(child, nullptr, 0), child);

        SingleInstanceGuard guard;
        QCOMPARE(guard.isAnotherRunning(), taken);
        QCOMPARE(guard.tryToRun(), !taken);
        guard.release();

        if (owner == QLatin1String("live"))
            ::kill(child, SIGKILL);
        if (owner != QLatin1String("other program"))
            QCOMPARE(::waitpid(child, nullptr, 0), child);
        // Whoever the owner was, once it is gone the program runs.
        SingleInstanceGuard after;
        QVERIFY(after.tryToRun());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstanceGuard)
#include "tst_singleinstanceguard.moc"
