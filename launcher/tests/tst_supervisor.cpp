#include "programrunner.h"
#include "testenvironment.h"

#include <QtTest>

namespace {
const QString kTestQmlDir = QStringLiteral(TUNDRA_LAUNCHER_TEST_QML);

QString logsDir()
{
    return ProgramRunner::dataDirectory(QStringLiteral("TundraRecorder")) + QStringLiteral("/Logs");
}

// Process ids of the running program's log files (the pid is the file name's last part).
QList<qint64> logPids(const QString &baseName)
{
    QList<qint64> pids;
    const QStringList files = QDir(logsDir()).entryList({baseName + QStringLiteral("_*.txt")}, QDir::Files);
    for (const QString &file : files)
        pids << file.section(QLatin1Char('_'), -1).section(QLatin1Char('.'), 0, 0).toLongLong();
    return pids;
}

bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
}

QStringList commandLine(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList args;
    const QList<QByteArray> parts = file.readAll().split('\0');
    for (int i = 0; i + 1 < parts.size(); ++i)
        args << QString::fromLocal8Bit(parts.at(i));
    return args;
}
} // namespace

class tst_Supervisor : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(ProgramRunner::dataDirectory(QStringLiteral("TundraRecorder"))).removeRecursively(); }

    void startsBothChildrenAndStopsThemOnCtrlC()
    {
        const QString bin = tundra::test::binDir();
        ProgramRunner supervisor(bin + QStringLiteral("/TundraRecorder"));
        QVERIFY(supervisor.start({QStringLiteral("--locale"), QStringLiteral("ru")}));
        QTRY_COMPARE_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderServer")).size(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderClient")).size(), 1, 30000);
        const qint64 server = logPids(QStringLiteral("TundraRecorderServer")).first();
        const qint64 client = logPids(QStringLiteral("TundraRecorderClient")).first();

        const QStringList expectedTail{QStringLiteral("--application_name"),
                                       QStringLiteral("TundraRecorder"),
                                       QStringLiteral("--application_parent"),
                                       bin + QStringLiteral("/TundraRecorder"),
                                       QStringLiteral("--locale"),
                                       QStringLiteral("ru")};
        QCOMPARE(commandLine(server),
                 QStringList{bin + QStringLiteral("/TundraRecorderServer")} + expectedTail);
        QCOMPARE(commandLine(client),
                 QStringList{bin + QStringLiteral("/TundraRecorderClient")} + expectedTail);

        QTest::qWait(500);
        QVERIFY(supervisor.interrupt());
        QVERIFY(supervisor.finish(30000));
        QCOMPARE(supervisor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(supervisor.exitCode(), 0);
        QVERIFY(!alive(server));
        QVERIFY(!alive(client));
    }

    void watchdogRunsOnlyTheServer()
    {
        ProgramRunner watchdog(tundra::test::binDir() + QStringLiteral("/TundraRecorderWatchDog"));
        QVERIFY(watchdog.start());
        QTRY_COMPARE_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderServer")).size(), 1, 30000);
        const qint64 server = logPids(QStringLiteral("TundraRecorderServer")).first();
        QTest::qWait(1000);
        QVERIFY(logPids(QStringLiteral("TundraRecorderClient")).isEmpty());
        // The watchdog runs under the station's name, whatever its executable is called.
        QCOMPARE(logPids(QStringLiteral("TundraRecorderWatchDog")).size(), 1);
        QVERIFY(watchdog.interrupt());
        QVERIFY(watchdog.finish(30000));
        QCOMPARE(watchdog.exitCode(), 0);
        QVERIFY(!alive(server));
    }

    void stopRequestFromQmlEndsTheSupervisor()
    {
        ProgramRunner supervisor(tundra::test::binDir() + QStringLiteral("/TundraRecorder"));
        QVERIFY(supervisor.start(
            {QStringLiteral("--qml_file=") + kTestQmlDir + QStringLiteral("/childstop.qml")}));
        // The first child to load the QML asks with Launcher.quit(112234): all stop, exit 0.
        QVERIFY(supervisor.finish(60000));
        QCOMPARE(supervisor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(supervisor.exitCode(), 0);
        const QList<qint64> server = logPids(QStringLiteral("TundraRecorderServer"));
        const QList<qint64> client = logPids(QStringLiteral("TundraRecorderClient"));
        for (qint64 pid : server + client)
            QVERIFY(!alive(pid));
        QVERIFY2(!supervisor.errors().contains(QStringLiteral("Process crashed")),
                 qPrintable(supervisor.errors()));
    }

    void restartRequestFromQmlRestartsAllChildren()
    {
        ProgramRunner supervisor(tundra::test::binDir() + QStringLiteral("/TundraRecorder"));
        // Old logs are kept, so each start of a child leaves its own log file.
        QVERIFY(
            supervisor.start({QStringLiteral("--keep_old_logs"), QStringLiteral("--qml_file=") + kTestQmlDir +
                                                                     QStringLiteral("/childrestart.qml")}));
        QTRY_VERIFY_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderServer")).size() >= 3, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderClient")).size() >= 3, 60000);
        QVERIFY(supervisor.isRunning());
        // A restart request is no crash.
        QVERIFY2(!supervisor.errors().contains(QStringLiteral("Process crashed")),
                 qPrintable(supervisor.errors()));

        // Having stopped children, the supervisor still answers Ctrl+C: it stops them all and
        // exits with 0. The children keep asking for restarts, so a Ctrl+C may land in the
        // instant the supervisor shields itself while it signals one of them; ask again then.
        bool finished = false;
        for (int attempt = 0; attempt < 6 && !finished; ++attempt) {
            if (!supervisor.interrupt())
                break;
            finished = supervisor.finish(10000);
        }
        QVERIFY2(finished, "the supervisor ignored Ctrl+C after restarting its children");
        QCOMPARE(supervisor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(supervisor.exitCode(), 0);
        const QList<qint64> children =
            logPids(QStringLiteral("TundraRecorderServer")) + logPids(QStringLiteral("TundraRecorderClient"));
        for (qint64 pid : children)
            QVERIFY2(!alive(pid), qPrintable(QString::number(pid)));
    }

    void refusedChildStopsTheSupervisor()
    {
        ProgramRunner lone(tundra::test::binDir() + QStringLiteral("/TundraRecorderServer"));
        QVERIFY(lone.start());
        QTRY_COMPARE_WITH_TIMEOUT(logPids(QStringLiteral("TundraRecorderServer")).size(), 1, 30000);

        ProgramRunner supervisor(tundra::test::binDir() + QStringLiteral("/TundraRecorder"));
        QVERIFY(supervisor.start({QStringLiteral("--keep_old_logs")}));
        // The supervised server finds the lone one, exits with 0, and everything stops.
        QVERIFY(supervisor.finish(60000));
        QCOMPARE(supervisor.exitCode(), 0);
        QVERIFY(lone.isRunning());
        QVERIFY(lone.interrupt());
        QVERIFY(lone.finish());
        QCOMPARE(lone.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Supervisor)
#include "tst_supervisor.moc"
