#include "process.h"
#include "processmanager.h"
#include "restartpolicy.h"
#include "testenvironment.h"

#include "win32/console.h"

#include <QtTest>
#include <atomic>

namespace {
struct Start
{
    QString name;
    qint64 pid;
    qint64 ms;
};

std::atomic<int> g_ctrlEvents{0};

BOOL WINAPI countCtrlEvent(DWORD)
{
    ++g_ctrlEvents;
    return TRUE;
}

// Times divided by 20: 10 ms -> 1 ms, 1 s -> 50 ms, 5 s -> 250 ms, 30 s -> 1.5 s.
constexpr int kScale = 20;
} // namespace

class tst_ProcessManager : public QObject
{
    Q_OBJECT

private:
    QString m_dir;

    void script(const QString &child, const QStringList &lines)
    {
        QFile file(m_dir + QLatin1Char('/') + child + QStringLiteral(".script"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

    QVector<Start> starts(const QString &only = QString()) const
    {
        QVector<Start> result;
        QFile file(m_dir + QStringLiteral("/starts.log"));
        if (!file.open(QIODevice::ReadOnly))
            return result;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() != 3)
                continue;
            Start s{QString::fromUtf8(f[0]), f[1].toLongLong(), f[2].toLongLong()};
            if (only.isEmpty() || s.name == only)
                result.append(s);
        }
        return result;
    }

    QStringList argv(const QString &child) const
    {
        QFile file(m_dir + QLatin1Char('/') + child + QStringLiteral(".argv"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static bool alive(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        // A zombie has ended already.
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
    }

    // Runs the event loop until the manager ends it; returns its exit code or -1 on time-out.
    static int runUntilExit(int timeoutMs)
    {
        bool timedOut = false;
        QTimer::singleShot(timeoutMs, [&timedOut] {
            timedOut = true;
            QCoreApplication::exit(-1);
        });
        const int code = QCoreApplication::exec();
        return timedOut ? -1 : code;
    }

private slots:
    void initTestCase()
    {
        RestartPolicy policy;
        policy.setTimeScale(kScale);
        RestartPolicy::setDefaultPolicy(policy);
    }

    void init()
    {
        m_dir = tundra::test::freshDir(QStringLiteral("children"));
        qputenv("FAKECHILD_DIR", m_dir.toUtf8());
    }

    void policyDelays()
    {
        RestartPolicy policy;
        const QList<QPair<int, int>> table = {{1, 10},    {2, 1000}, {5, 1000}, {6, 5000},
                                              {10, 5000}, {11, -1},  {0, -1}};
        for (const auto &row : table)
            QCOMPARE(policy.restartDelay(row.first), row.second);
        QCOMPARE(policy.crashResetInterval(), 30000);
    }

    void childCommandLine()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("run")});
        auto *manager = new ProcessManager({QStringLiteral("fakechild_a")});
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!argv(QStringLiteral("fakechild_a")).isEmpty(), 20000);
        QStringList expected{QStringLiteral("--application_name"), QCoreApplication::applicationName(),
                             QStringLiteral("--application_parent")};
        expected += QCoreApplication::arguments();
        QCOMPARE(argv(QStringLiteral("fakechild_a")), expected);
        QCOMPARE(manager->processes().first()->process()->program(),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/fakechild_a"));
        delete manager;
    }

    void stopCodesEndTheSupervisor_data()
    {
        QTest::addColumn<QString>("exit");
        QTest::newRow("0") << "exit 0 after fakechild_a";
        QTest::newRow("112234") << "exit 112234 after fakechild_a";
    }
    void stopCodesEndTheSupervisor()
    {
        QFETCH(QString, exit);
        script(QStringLiteral("fakechild_a"), {QStringLiteral("run")});
        script(QStringLiteral("fakechild_b"), {exit});
        ProcessManager manager({QStringLiteral("fakechild_a"), QStringLiteral("fakechild_b")});
        QCOMPARE(runUntilExit(30000), 0);
        const auto a = starts(QStringLiteral("fakechild_a"));
        QCOMPARE(a.size(), 1);
        QCOMPARE(starts(QStringLiteral("fakechild_b")).size(), 1);
        QVERIFY(manager.processes().isEmpty());
        QVERIFY(!alive(a.first().pid)); // the other child was stopped
    }

    void restartCodeRestartsAllInOrder()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("run")});
        // b asks for the restart once a has recorded its start: a stopped before it got that far
        // would leave no trace to count.
        script(QStringLiteral("fakechild_b"),
               {QStringLiteral("exit 112233 after fakechild_a"), QStringLiteral("run")});
        ProcessManager manager({QStringLiteral("fakechild_a"), QStringLiteral("fakechild_b")});
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 4, 30000);
        QTest::qWait(300);
        const auto a = starts(QStringLiteral("fakechild_a"));
        const auto b = starts(QStringLiteral("fakechild_b"));
        QCOMPARE(a.size(), 2);
        QCOMPARE(b.size(), 2);
        // Both were started anew, in the order of the names; the running one was stopped first.
        QCOMPARE(manager.processes().size(), 2);
        QVERIFY(manager.processes().at(0)->process()->program().endsWith(QStringLiteral("/fakechild_a")));
        QVERIFY(manager.processes().at(1)->process()->program().endsWith(QStringLiteral("/fakechild_b")));
        QVERIFY(!alive(a.at(0).pid));
        QVERIFY(alive(a.at(1).pid));
        QVERIFY(alive(b.at(1).pid));
        for (const auto &process : manager.processes())
            QCOMPARE(process->crashCount(), 0);
    }

    void crashRestartsOnlyThatChildWithTheContractDelays()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("exit 3"), QStringLiteral("crash"),
                                               QStringLiteral("exit 105105"), QStringLiteral("run")});
        script(QStringLiteral("fakechild_b"), {QStringLiteral("run")});
        ProcessManager manager({QStringLiteral("fakechild_a"), QStringLiteral("fakechild_b")});
        QTRY_COMPARE_WITH_TIMEOUT(starts(QStringLiteral("fakechild_a")).size(), 4, 30000);
        QTest::qWait(300);
        const auto a = starts(QStringLiteral("fakechild_a"));
        QCOMPARE(a.size(), 4);
        QCOMPARE(starts(QStringLiteral("fakechild_b")).size(), 1);
        // Crashes 2 and 3 wait the scaled second.
        // Start times are taken by the children, so allow for their start-up latency.
        QVERIFY2(a.at(2).ms - a.at(1).ms >= 1000 / kScale - 20, "second restart came too early");
        QVERIFY2(a.at(3).ms - a.at(2).ms >= 1000 / kScale - 20, "third restart came too early");
        QCOMPARE(manager.processes().first()->crashCount(), 3);
        QVERIFY(alive(starts(QStringLiteral("fakechild_b")).first().pid));
    }

    void givesUpAfterTenCrashes()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("exit 3")});
        ProcessManager manager({QStringLiteral("fakechild_a")});
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 11, 60000);
        QTest::qWait(2 * 5000 / kScale + 200);
        QCOMPARE(starts().size(), 11);
        QCOMPARE(manager.processes().first()->crashCount(), 11);
    }

    void crashCountReturnsToZero()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("exit 3"), QStringLiteral("run")});
        ProcessManager manager({QStringLiteral("fakechild_a")});
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
        QCOMPARE(manager.processes().first()->crashCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(manager.processes().first()->crashCount(), 0, 30000 / kScale * 4);
    }

    void missingProgramIsRetriedLikeACrash()
    {
        Process process(QStringLiteral("no_such_child"));
        process.start();
        QTRY_VERIFY_WITH_TIMEOUT(process.crashCount() >= 3, 30000);
    }

    void restartOfARunningChildDoesNotStopTheSupervisor()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("run")});
        Process process(QStringLiteral("fakechild_a"));
        QSignalSpy exitRequested(&process, &Process::exitRequested);
        process.start();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 20000);
        process.restart();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 20000);
        QTest::qWait(200);
        QCOMPARE(exitRequested.count(), 0);
        QVERIFY(!alive(starts().at(0).pid));
        QVERIFY(alive(starts().at(1).pid));
        QCOMPARE(process.crashCount(), 0);
    }

    // Between fork and exec a child still runs the supervisor's own Ctrl+C handler, which would
    // make the supervisor stop itself; a child is signalled only once it runs its own program.
    void stoppingAChildStillStartingLeavesTheSupervisorAlone()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("run")});
        g_ctrlEvents = 0;
        QVERIFY(SetConsoleCtrlHandler(countCtrlEvent, TRUE));
        for (int i = 0; i < 5; ++i) {
            Process process(QStringLiteral("fakechild_a"));
            process.start();
        }
        QTest::qWait(300);
        const int events = g_ctrlEvents;
        QVERIFY(SetConsoleCtrlHandler(countCtrlEvent, FALSE));
        QCOMPARE(events, 0);
        for (const Start &start : starts())
            QVERIFY(!alive(start.pid));
    }

    void childIgnoringCtrlCIsKilledAfterTheWait()
    {
        script(QStringLiteral("fakechild_a"), {QStringLiteral("ignore")});
        auto *manager = new ProcessManager({QStringLiteral("fakechild_a")});
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 20000);
        QTest::qWait(200); // let it install its SIG_IGN
        QElapsedTimer timer;
        timer.start();
        delete manager;
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 2500, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));
        QVERIFY(!alive(starts().first().pid));
    }

    void realTimeDelays()
    {
        RestartPolicy::setDefaultPolicy(RestartPolicy());
        script(QStringLiteral("fakechild_a"),
               {QStringLiteral("exit 3"), QStringLiteral("exit 3"), QStringLiteral("run")});
        {
            ProcessManager manager({QStringLiteral("fakechild_a")});
            QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 3, 30000);
        }
        RestartPolicy policy;
        policy.setTimeScale(kScale);
        RestartPolicy::setDefaultPolicy(policy);
        const auto a = starts();
        QVERIFY(a.at(1).ms - a.at(0).ms >= 10);
        // Start times are taken by the children, so allow for their start-up latency.
        QVERIFY2(a.at(2).ms - a.at(1).ms >= 900, "the second crash waits a whole second");
    }
};

QTEST_GUILESS_MAIN(tst_ProcessManager)
#include "tst_processmanager.moc"
