#include "programrunner.h"
#include "testenvironment.h"

#include <QtTest>

// --testing runs QML tests with Qt Quick Test instead of the main QML file.
namespace {
const QString kQmlTests = QStringLiteral(TUNDRA_LAUNCHER_QML_TESTS);

QString server()
{
    return tundra::test::binDir() + QStringLiteral("/TundraRecorderServer");
}
} // namespace

class tst_TestingMode : public QObject
{
    Q_OBJECT

private slots:
    void serverReturnsTheTestResult_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<QString>("summary");
        QTest::newRow("passing folder")
            << QStringList{"--testing", kQmlTests + "/pass"} << true << "Totals: 4 passed, 0 failed";
        QTest::newRow("passing file") << QStringList{"--testing", kQmlTests + "/pass/tst_arithmetic.qml"}
                                      << true << "Totals: 4 passed, 0 failed";
        QTest::newRow("failing folder")
            << QStringList{"--testing", kQmlTests + "/fail"} << false << "Totals: 3 passed, 1 failed";
        // The first positional argument selects a test function.
        QTest::newRow("one passing function")
            << QStringList{"--testing", kQmlTests + "/fail", "Mixed::test_good"} << true
            << "Totals: 3 passed, 0 failed";
        QTest::newRow("test name") << QStringList{"--testing", kQmlTests + "/pass", "--testing_name",
                                                  "station"}
                                   << true << "Start testing of station";
    }
    void serverReturnsTheTestResult()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, passes);
        QFETCH(QString, summary);
        ProgramRunner program(server());
        QVERIFY(program.start(arguments));
        QVERIFY(program.finish(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        if (passes)
            QCOMPARE(program.exitCode(), 0);
        else
            QVERIFY(program.exitCode() != 0);
        QVERIFY2(program.output().contains(summary), qPrintable(program.output() + program.errors()));
    }

    void testingModeSkipsTheSingleInstanceGuard()
    {
        ProgramRunner running(server());
        QVERIFY(running.start());
        QVERIFY(ProgramRunner::waitForLogFile(QStringLiteral("TundraRecorder"),
                                              QStringLiteral("TundraRecorderServer"), running.pid()));
        ProgramRunner tests(server());
        QVERIFY(tests.start(
            {QStringLiteral("--keep_old_logs"), QStringLiteral("--testing"), kQmlTests + "/pass"}));
        QVERIFY(tests.finish(60000));
        QCOMPARE(tests.exitCode(), 0);
        QVERIFY2(tests.output().contains(QStringLiteral("Totals: 4 passed")), qPrintable(tests.output()));
        QVERIFY(running.interrupt());
        QVERIFY(running.finish());
        QCOMPARE(running.exitCode(), 0);
    }

    void supervisedChildrenRunTheirTests_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("keepsLogs");
        QTest::newRow("no keep_old_logs") << QStringList() << QStringList() << false;
        QTest::newRow("bare, before an option") << QStringList{"--keep_old_logs"} << QStringList() << true;
        QTest::newRow("bare, last") << QStringList() << QStringList{"--keep_old_logs"} << true;
        QTest::newRow("=0") << QStringList{"--keep_old_logs=0"} << QStringList() << true;
        QTest::newRow("value 1") << QStringList{"--keep_old_logs", "1"} << QStringList() << true;
    }
    void supervisedChildrenRunTheirTests()
    {
        // The children get the supervisor's arguments, its program path among them; neither the
        // path nor a value of --keep_old_logs may be taken as a test function. Passing tests end a
        // child with 0, which stops everything.
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(bool, keepsLogs);
        const QString logs = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/Nyx/TundraRecorder/Logs");
        const QString oldLog = logs + QStringLiteral("/TundraRecorderServer_20000101_000000_1.txt");
        QVERIFY(QDir().mkpath(logs));
        {
            QFile file(oldLog);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old");
        }

        ProgramRunner supervisor(tundra::test::binDir() + QStringLiteral("/TundraRecorder"));
        QVERIFY(
            supervisor.start(before + QStringList{QStringLiteral("--testing"), kQmlTests + "/pass"} + after));
        QVERIFY(supervisor.finish(60000));
        QCOMPARE(supervisor.exitCode(), 0);
        const QString output = supervisor.output();
        QVERIFY2(output.count(QStringLiteral("Totals: 4 passed, 0 failed")) >= 2, qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("FAIL!")), qPrintable(output));
        QVERIFY2(!supervisor.errors().contains(QStringLiteral("Process crashed")),
                 qPrintable(supervisor.errors()));
        QCOMPARE(QFile::exists(oldLog), keepsLogs);
    }

    void failingChildTestsCountAsACrash()
    {
        ProgramRunner supervisor(tundra::test::binDir() + QStringLiteral("/TundraRecorderWatchDog"));
        QVERIFY(supervisor.start({QStringLiteral("--testing"), kQmlTests + "/fail"}));
        // The watchdog's own run, the server's, and the server again after its restart.
        QTRY_VERIFY_WITH_TIMEOUT(supervisor.output().count(QStringLiteral("Totals: 3 passed, 1 failed")) >= 3,
                                 60000);
        QVERIFY2(supervisor.errors().contains(QStringLiteral("Process crashed: ") + tundra::test::binDir() +
                                              QStringLiteral("/TundraRecorderServer")),
                 qPrintable(supervisor.errors()));
        QVERIFY(supervisor.isRunning());
        QVERIFY(supervisor.interrupt());
        QVERIFY(supervisor.finish(30000));
        QCOMPARE(supervisor.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_TestingMode)
#include "tst_testingmode.moc"
