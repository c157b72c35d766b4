#include "probe.h"
#include "testenvironment.h"

#include <QtTest>

// The QML singleton Launcher, driven from QML in a probe process.
class tst_LauncherController : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings settings(QStringLiteral("Nyx"), QStringLiteral("launcherprobe"));
        settings.clear();
        settings.sync();
    }

    void propertiesAndQuitFromQml()
    {
        const ProbeRun run =
            runProbe({QStringLiteral("--qml_file=") + testQmlFile(QStringLiteral("controller.qml"))},
                     {{QStringLiteral("PROBE_MODE"), QStringLiteral("exec")},
                      {QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8")}});
        QVERIFY2(run.finished, qPrintable(run.errors));
        QCOMPARE(run.status, QProcess::NormalExit);
        // 112234 keeps its low 8 bits as a process exit code.
        QCOMPARE(run.exitCode, 112234 & 0xFF);
        // An empty language changes nothing and emits nothing.
        QVERIFY2(run.errors.contains(QStringLiteral("empty:en_US:en_US:0")), qPrintable(run.errors));
        // A new language emits once; the same again emits nothing.
        QVERIFY2(run.errors.contains(QStringLiteral("set:ru_RU:1")), qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("quitOnLastWindowClosed:0:1:true")),
                 qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("constants:true:Nyx:en_US,ru_RU")),
                 qPrintable(run.errors));
        // quit() only queues: the QML call returns first.
        QVERIFY2(run.errors.contains(QStringLiteral("quit returned")), qPrintable(run.errors));

        QSettings settings(QStringLiteral("Nyx"), QStringLiteral("launcherprobe"));
        QCOMPARE(settings.value(QStringLiteral("Launcher/translationLanguage")).toString(),
                 QStringLiteral("ru_RU"));
    }

    void restartFromQmlExitsWithTheRestartCode()
    {
        const ProbeRun run =
            runProbe({QStringLiteral("--qml_file=") + testQmlFile(QStringLiteral("restart.qml"))},
                     {{QStringLiteral("PROBE_MODE"), QStringLiteral("exec")}});
        QVERIFY2(run.finished, qPrintable(run.errors));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 112233 & 0xFF);
        QVERIFY2(run.errors.contains(QStringLiteral("restart returned")), qPrintable(run.errors));
    }

    void runReturnsTheEventLoopResult()
    {
        // Launcher::run (the server's and client's entry) hands the code on as the exit code.
        const ProbeRun run =
            runProbe({QStringLiteral("--qml_file=") + testQmlFile(QStringLiteral("restart.qml"))},
                     {{QStringLiteral("PROBE_MODE"), QStringLiteral("run")}});
        QVERIFY2(run.finished, qPrintable(run.errors));
        QCOMPARE(run.exitCode, 112233 & 0xFF);
    }
};

QTEST_GUILESS_MAIN(tst_LauncherController)
#include "tst_launchercontroller.moc"
