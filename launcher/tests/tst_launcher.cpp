#include "programrunner.h"
#include "testenvironment.h"

#include <QtTest>

namespace {
const QString kTestQmlDir = QStringLiteral(TUNDRA_LAUNCHER_TEST_QML);

QString testDir()
{
    return QCoreApplication::applicationDirPath();
}

QString probePath()
{
    return testDir() + QStringLiteral("/launcherprobe");
}

QMap<QString, QString> parseReport(const QString &output)
{
    QMap<QString, QString> values;
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

QString dataDir(const QString &applicationName)
{
    return ProgramRunner::dataDirectory(applicationName);
}

void removeDataDir(const QString &applicationName)
{
    QDir(dataDir(applicationName)).removeRecursively();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the process holds its single-instance guard: the guard's segment is the only System V
// shared memory the programs map. The log file a program writes at its start comes before its
// guard, so only this tells that a first start is the instance a second one must find.
bool holdsGuard(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/SYSV");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}
} // namespace

class tst_Launcher : public QObject
{
    Q_OBJECT

private:
    QMap<QString, QString> runProbe(const QStringList &arguments, const QMap<QString, QString> &env = {},
                                    int *exitCode = nullptr, QString *errors = nullptr)
    {
        ProgramRunner probe(probePath());
        for (auto it = env.begin(); it != env.end(); ++it)
            probe.environment().insert(it.key(), it.value());
        if (!probe.start(arguments))
            return {};
        if (!probe.finish(60000))
            return {};
        if (exitCode)
            *exitCode = probe.exitCode();
        if (errors)
            *errors = probe.errors();
        return parseReport(probe.output());
    }

private slots:
    void applicationName_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("recordName");
        QTest::addColumn<bool>("ignoreExecutable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("executable name") << QStringList() << QString() << false << "launcherprobe";
        QTest::newRow("option") << QStringList{"--application_name=Other"} << QString() << false << "Other";
        QTest::newRow("option, separate value")
            << QStringList{"--application_name", "Other"} << QString() << false << "Other";
        QTest::newRow("record beats option")
            << QStringList{"--application_name=Other"} << "Fixed" << false << "Fixed";
        QTest::newRow("empty option falls through")
            << QStringList{"--application_name="} << QString() << false << "launcherprobe";
        QTest::newRow("executable ignored") << QStringList() << QString() << true << "TundraRecorder";
        QTest::newRow("executable ignored, option")
            << QStringList{"--application_name=Other"} << QString() << true << "Other";
        QTest::newRow("unknown options pass") << QStringList{"--application_parent",
                                                             "/x/TundraRecorder",
                                                             "--bogus",
                                                             "-z",
                                                             "--application_name",
                                                             "Kid"}
                                              << QString() << false << "Kid";
        // A bare keep_old_logs never takes the option after it as its value; a value is its own.
        QTest::newRow("bare keep_old_logs before an option")
            << QStringList{"--keep_old_logs", "--application_name=Next"} << QString() << false << "Next";
        QTest::newRow("keep_old_logs with a value")
            << QStringList{"--keep_old_logs", "1", "--application_name=Next"} << QString() << false << "Next";
    }
    void applicationName()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, recordName);
        QFETCH(bool, ignoreExecutable);
        QFETCH(QString, expected);
        QMap<QString, QString> env;
        if (!recordName.isEmpty())
            env.insert(QStringLiteral("PROBE_APPLICATION_NAME"), recordName);
        if (ignoreExecutable)
            env.insert(QStringLiteral("PROBE_IGNORE_EXECUTABLE_NAME"), QStringLiteral("1"));
        int exitCode = -1;
        const auto report = runProbe(arguments, env, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(report.value(QStringLiteral("applicationName")), expected);
        // The chosen name is written back into the entry point's record.
        QCOMPARE(report.value(QStringLiteral("settingsName")), expected);
    }

    void loggingIniIsCreatedWithTheDefaultRules()
    {
        removeDataDir(QStringLiteral("LogA"));
        const auto report = runProbe({QStringLiteral("--application_name=LogA")});
        QCOMPARE(
            readFile(dataDir(QStringLiteral("LogA")) + QStringLiteral("/logging.ini")),
            QByteArray("[Rules]\n*.debug = false\n*.info = false\n*.warning = true\n*.critical = true\n"));
        const QString rules = QString::fromUtf8(
            QByteArray::fromPercentEncoding(report.value(QStringLiteral("loggingRules")).toUtf8()));
        QCOMPARE(rules, QStringLiteral("[Rules]\n*.debug = false\n*.info = false\n*.warning = true\n"
                                       "*.critical = true\n\nqt.qml.binding.removal.info=false\n"));
        // A log file for the program was written beside it.
        QVERIFY(!QDir(dataDir(QStringLiteral("LogA")) + QStringLiteral("/Logs"))
                     .entryList({QStringLiteral("launcherprobe_*.txt")})
                     .isEmpty());
    }

    void bindingRemovalRule_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("appended");
        QTest::newRow("first line") << QByteArray("qt.qml.binding.removal.info=true\n*.debug=false\n")
                                    << true;
        QTest::newRow("later line") << QByteArray("[Rules]\nqt.qml.binding.removal.info=true\n") << false;
        QTest::newRow("absent") << QByteArray("[Rules]\n*.debug=true") << true;
        QTest::newRow("other case") << QByteArray("[Rules]\nQt.qml.binding.removal.info=true\n") << true;
    }
    void bindingRemovalRule()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, appended);
        removeDataDir(QStringLiteral("LogB"));
        const QString ini = dataDir(QStringLiteral("LogB")) + QStringLiteral("/logging.ini");
        writeFile(ini, content);
        const auto report = runProbe({QStringLiteral("--application_name=LogB")});
        const QString rules = QString::fromUtf8(
            QByteArray::fromPercentEncoding(report.value(QStringLiteral("loggingRules")).toUtf8()));
        QString expected = QString::fromUtf8(content);
        if (appended)
            expected += QStringLiteral("\nqt.qml.binding.removal.info=false\n");
        QCOMPARE(rules, expected);
        QCOMPARE(readFile(ini), content); // the file itself is left alone
    }

    void oldLogsAreRemovedUnlessKept()
    {
        removeDataDir(QStringLiteral("LogC"));
        const QString logs = dataDir(QStringLiteral("LogC")) + QStringLiteral("/Logs");
        writeFile(logs + QStringLiteral("/launcherprobe_20000101_000000_1.txt"), "old");
        writeFile(logs + QStringLiteral("/other_20000101_000000_1.txt"), "not ours");
        runProbe({QStringLiteral("--application_name=LogC"), QStringLiteral("--keep_old_logs=0")});
        QVERIFY(QFile::exists(logs + QStringLiteral("/launcherprobe_20000101_000000_1.txt")));
        runProbe({QStringLiteral("--application_name=LogC")});
        QVERIFY(!QFile::exists(logs + QStringLiteral("/launcherprobe_20000101_000000_1.txt")));
        QVERIFY(QFile::exists(logs + QStringLiteral("/other_20000101_000000_1.txt")));
    }

    void showRule_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("isWindow");
        QTest::addColumn<QString>("visible");
        QTest::newRow("window is shown") << "window.qml"
                                         << "1"
                                         << "1";
        QTest::newRow("nyxHide window is left hidden") << "hidden.qml"
                                                       << "1"
                                                       << "0";
        QTest::newRow("visible window is left alone") << "visible.qml"
                                                      << "1"
                                                      << "1";
        QTest::newRow("item is not a window") << "item.qml"
                                              << "0" << QString();
    }
    void showRule()
    {
        QFETCH(QString, file);
        QFETCH(QString, isWindow);
        QFETCH(QString, visible);
        const auto report = runProbe({QStringLiteral("--qml_file=") + kTestQmlDir + QLatin1Char('/') + file});
        QCOMPARE(report.value(QStringLiteral("roots")), QStringLiteral("1"));
        QCOMPARE(report.value(QStringLiteral("isWindow")), isWindow);
        QCOMPARE(report.value(QStringLiteral("visible")), visible);
    }

    void qmlFileResolution()
    {
        // A relative main QML file of the entry point lies in the parent of the program directory.
        // (A file of our own there: the programs' main files need the plugins beside the programs.)
        const QString relative = QStringLiteral("probe-relative/qml/main.qml");
        const QString mainFile = QDir(testDir() + QStringLiteral("/../") + relative).absolutePath();
        QVERIFY(QDir().mkpath(QFileInfo(mainFile).absolutePath()));
        QFile::remove(mainFile);
        QVERIFY(QFile::copy(kTestQmlDir + QStringLiteral("/item.qml"), mainFile));
        auto report = runProbe({}, {{QStringLiteral("PROBE_QML_FILE"), relative}});
        QCOMPARE(report.value(QStringLiteral("qmlUrl")), QUrl::fromLocalFile(mainFile).toString());

        // A relative --qml_file is taken against the current directory.
        const QString work = tundra::test::freshDir(QStringLiteral("cwd"));
        QVERIFY(QFile::copy(kTestQmlDir + QStringLiteral("/item.qml"), work + QStringLiteral("/x.qml")));
        ProgramRunner probe(probePath());
        probe.setWorkingDirectory(work);
        QVERIFY(probe.start({QStringLiteral("--qml_file=x.qml")}));
        QVERIFY(probe.finish());
        report = parseReport(probe.output());
        QCOMPARE(report.value(QStringLiteral("qmlUrl")),
                 QUrl::fromLocalFile(work + QStringLiteral("/x.qml")).toString());
    }

    void singletonsAreRegistered()
    {
        QString errors;
        const auto report =
            runProbe({QStringLiteral("--qml_file=") + kTestQmlDir + QStringLiteral("/singletons.qml")}, {},
                     nullptr, &errors);
        QCOMPARE(report.value(QStringLiteral("roots")), QStringLiteral("1"));
        QVERIFY2(errors.contains(QStringLiteral("singletons:Nyx|Nyx|en_US,ru_RU")), qPrintable(errors));
    }

    void mediaLibraryGetsTheOffscreenContentFactory()
    {
        const auto report = runProbe({});
        QCOMPARE(report.value(QStringLiteral("offscreenFactory")), QStringLiteral("1"));
    }

    void badMainQmlIsReportedWithoutHanging_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << kTestQmlDir + "/nonexistent.qml"
                                      << "Main QML file cannot be read";
        QTest::newRow("missing plugin") << kTestQmlDir + "/missingplugin.qml"
                                        << "module \"NoSuchPlugin\" is not installed";
    }
    void badMainQmlIsReportedWithoutHanging()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QString errors;
        int exitCode = -1;
        const auto report = runProbe({QStringLiteral("--qml_file=") + file}, {}, &exitCode, &errors);
        QCOMPARE(exitCode, 0);
        QCOMPARE(report.value(QStringLiteral("roots")), QStringLiteral("0"));
        QVERIFY2(errors.contains(message), qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("Main QML file did not load")), qPrintable(errors));
    }

    void secondLauncherEndsTheProcess()
    {
        int exitCode = 0;
        QString errors;
        runProbe({}, {{QStringLiteral("PROBE_MODE"), QStringLiteral("twice")}}, &exitCode, &errors);
        QCOMPARE(exitCode, 255); // -1
        QVERIFY2(errors.contains(QStringLiteral("Can't create multiple Launcher instances")),
                 qPrintable(errors));
    }

    void ctrlCEndsAProgramWithZero()
    {
        removeDataDir(QStringLiteral("TundraRecorder"));
        ProgramRunner server(tundra::test::binDir() + QStringLiteral("/TundraRecorderServer"));
        QVERIFY(server.start());
        QVERIFY(ProgramRunner::waitForLogFile(QStringLiteral("TundraRecorder"),
                                              QStringLiteral("TundraRecorderServer"), server.pid()));
        QVERIFY(server.interrupt());
        QVERIFY(server.finish());
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
    }

    void secondInstanceIsRefusedAndCleanInstallStillWorks()
    {
        const QString server = tundra::test::binDir() + QStringLiteral("/TundraRecorderServer");
        ProgramRunner first(server);
        QVERIFY(first.start());
        QVERIFY(ProgramRunner::waitForLogFile(QStringLiteral("TundraRecorder"),
                                              QStringLiteral("TundraRecorderServer"), first.pid()));
        // Its log file comes before its guard: a second start before the guard would be the instance.
        QTRY_VERIFY_WITH_TIMEOUT(holdsGuard(first.pid()), 30000);

        // Same executable path, other application name: still one instance.
        ProgramRunner second(server);
        QVERIFY(second.start({QStringLiteral("--application_name=Elsewhere")}));
        QVERIFY2(second.finish(), qPrintable(second.errors()));
        QCOMPARE(second.exitCode(), 0);
        // The server's default language is Russian: the refusal is translated, on the console and
        // in the log file.
        const QString refusalRu = QStringLiteral("Невозможно запустить несколько экземпляров приложения.");
        QVERIFY2(second.errors().contains(refusalRu), qPrintable(second.errors()));
        const QDir logs(dataDir(QStringLiteral("Elsewhere")) + QStringLiteral("/Logs"));
        const QStringList logFiles =
            logs.entryList({QStringLiteral("TundraRecorderServer_*.txt")}, QDir::Files);
        QCOMPARE(logFiles.size(), 1);
        QVERIFY(QString::fromUtf8(readFile(logs.filePath(logFiles.first()))).contains(refusalRu));
        // The locale option beats the default language.
        ProgramRunner english(server);
        QVERIFY(english.start({QStringLiteral("--locale"), QStringLiteral("en")}));
        QVERIFY(english.finish());
        QCOMPARE(english.exitCode(), 0);
        QVERIFY2(
            english.errors().contains(QStringLiteral("Can't run multiple instances of the application.")),
            qPrintable(english.errors()));
        QVERIFY(first.isRunning());

        // --cleaninstall clears the TundraRecorder store before the guard, whatever the program.
        const QString conf = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                             QStringLiteral("/Nyx/TundraRecorder.conf");
        {
            QSettings settings(QStringLiteral("Nyx"), QStringLiteral("TundraRecorder"));
            settings.setValue(QStringLiteral("Windows/main/x"), 10);
            settings.sync();
        }
        QVERIFY(QFile::exists(conf));
        ProgramRunner clean(server);
        QVERIFY(clean.start({QStringLiteral("--cleaninstall")}));
        QVERIFY(clean.finish());
        QCOMPARE(clean.exitCode(), 0);
        {
            QSettings settings(QStringLiteral("Nyx"), QStringLiteral("TundraRecorder"));
            QVERIFY(settings.allKeys().isEmpty());
        }
        QVERIFY(first.isRunning());

        // A killed instance does not lock the program out.
        QVERIFY(first.kill());
        ProgramRunner third(server);
        QVERIFY(third.start());
        QTRY_VERIFY_WITH_TIMEOUT(holdsGuard(third.pid()) || !third.isRunning(), 30000);
        QVERIFY2(third.isRunning(), qPrintable(third.errors()));
        QVERIFY(third.interrupt());
        QVERIFY(third.finish());
        QCOMPARE(third.exitCode(), 0);
    }

    void lockstepStartsWithItsWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("from disk") << QStringList();
        // The copy carried as resources, test session component included.
        QTest::newRow("from resources") << QStringList{"--qml_file=qrc:/lockstep/qml/main.qml"};
    }
    void lockstepStartsWithItsWindow()
    {
        QFETCH(QStringList, arguments);
        ProgramRunner lockstep(tundra::test::binDir() + QStringLiteral("/Lockstep"));
        QVERIFY(lockstep.start(arguments));
        QVERIFY(ProgramRunner::waitForLogFile(QStringLiteral("Lockstep"), QStringLiteral("Lockstep"),
                                              lockstep.pid()));
        QTest::qWait(1000);
        QVERIFY2(lockstep.isRunning(), qPrintable(lockstep.errors()));
        QVERIFY(lockstep.interrupt());
        QVERIFY(lockstep.finish());
        QCOMPARE(lockstep.exitCode(), 0);
        QVERIFY2(!lockstep.errors().contains(QStringLiteral("did not load")), qPrintable(lockstep.errors()));
        QVERIFY2(!lockstep.errors().contains(QStringLiteral("is not installed")),
                 qPrintable(lockstep.errors()));
    }
};

QTEST_GUILESS_MAIN(tst_Launcher)
#include "tst_launcher.moc"
