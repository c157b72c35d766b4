#include "crash/crashrpt.h"
#include "testenvironment.h"

#include <QtTest>
#include <csignal>

namespace {
QString victimPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/crashvictim");
}

QString lastError()
{
    char16_t buffer[256];
    const int n = crGetLastErrorMsgW(buffer, 256);
    return QString::fromUtf16(buffer, n);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

QStringList reportFolders(const QString &reportDir)
{
    return QDir(reportDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

struct Run
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
    QString errors;
};

Run runVictim(const QStringList &arguments, const QString &marker = QString(), int timeoutMs = 60000)
{
    QProcess victim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!marker.isEmpty())
        env.insert(QStringLiteral("CRASHVICTIM_MARKER"), marker);
    victim.setProcessEnvironment(env);
    victim.start(victimPath(), arguments);
    Run run;
    if (!victim.waitForFinished(timeoutMs)) {
        victim.kill();
        victim.waitForFinished();
        return run;
    }
    run.status = victim.exitStatus();
    run.code = victim.exitCode(); // the signal number after a crash
    run.errors = QString::fromLocal8Bit(victim.readAllStandardError());
    return run;
}

CR_INSTALL_INFOW installRecord(const std::u16string &directory)
{
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.pszAppName = u"InProcess";
    info.pszAppVersion = u"9.9";
    info.dwFlags = 0x889FFF;
    info.pszErrorReportSaveDir = directory.c_str();
    return info;
}

int countingCallback(CR_CRASH_CALLBACK_INFOW *info)
{
    if (info && info->pUserParam)
        ++*static_cast<int *>(info->pUserParam);
    return 1;
}
} // namespace

class tst_CrashRpt : public QObject
{
    Q_OBJECT

private slots:
    // A real crash leaves a complete report and the process still dies of its signal.
    void crashLeavesACompleteReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("signalName");
        QTest::newRow("null write") << "null" << int(SIGSEGV) << "crashByNullWrite"
                                    << "SIGSEGV";
        QTest::newRow("abort") << "abort" << int(SIGABRT) << "crashByAbort"
                               << "SIGABRT";
        QTest::newRow("division by zero") << "fpe" << int(SIGFPE) << "crashByDivision"
                                          << "SIGFPE";
        QTest::newRow("worker thread") << "thread" << int(SIGSEGV) << "crashByNullWrite"
                                       << "SIGSEGV";
        QTest::newRow("stack overflow") << "overflow" << int(SIGSEGV) << "crashByRecursion"
                                        << "SIGSEGV";
    }
    void crashLeavesACompleteReport()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, function);
        QFETCH(QString, signalName);
        const QString root = tundra::test::freshDir(QStringLiteral("crash-") + mode);
        const QString reports = root + QStringLiteral("/Nyx/CrashVictim/CrashReport");
        const QString logs = root + QStringLiteral("/Logs");
        writeFile(logs + QStringLiteral("/victim_1.txt"), "first log line\n");
        writeFile(logs + QStringLiteral("/victim_2.txt"), QByteArray(200000, 'x'));
        writeFile(logs + QStringLiteral("/notes.dat"), "not a log");
        writeFile(root + QStringLiteral("/extra.cfg"), "extra");

        const Run run =
            runVictim({reports, mode, logs + QStringLiteral("/*.txt"), root + QStringLiteral("/extra.cfg")},
                      root + QStringLiteral("/marker"));
        QCOMPARE(run.status, QProcess::CrashExit);
        QCOMPARE(run.code, signal);

        const QStringList folders = reportFolders(reports);
        QCOMPARE(folders.size(), 1);
        QVERIFY2(folders.first().startsWith(QStringLiteral("CrashVictim_")), qPrintable(folders.first()));
        const QString folder = reports + QLatin1Char('/') + folders.first();
        QVERIFY2(run.errors.contains(folder), qPrintable(run.errors));

        const QString trace = QString::fromUtf8(readFile(folder + QStringLiteral("/stacktrace.txt")));
        QVERIFY2(trace.contains(QStringLiteral("Application: CrashVictim\n")), qPrintable(trace));
        QVERIFY2(trace.contains(QStringLiteral("Version: 2.3.4\n")), qPrintable(trace));
        QVERIFY2(trace.contains(QStringLiteral("Signal: %1 (%2)").arg(signalName).arg(signal)),
                 qPrintable(trace));
        const QString stack = trace.section(QStringLiteral("Stack trace:\n"), 1);
        QVERIFY2(stack.contains(function), qPrintable(trace));
        QVERIFY2(stack.contains(QStringLiteral("crashvictim")), qPrintable(trace));

        QCOMPARE(readFile(folder + QStringLiteral("/properties.txt")),
                 QByteArray("Hg Revision=0123456789ab\nMode=") + mode.toUtf8() + "\n");
        QCOMPARE(readFile(folder + QStringLiteral("/victim_1.txt")), QByteArray("first log line\n"));
        QCOMPARE(readFile(folder + QStringLiteral("/victim_2.txt")), QByteArray(200000, 'x'));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/notes.dat")));
        QCOMPARE(readFile(folder + QStringLiteral("/extra.cfg")), QByteArray("extra"));
        QVERIFY(readFile(folder + QStringLiteral("/maps")).contains("crashvictim"));

        // The callback ran once, with its parameter and the folder being written.
        QCOMPARE(readFile(root + QStringLiteral("/marker")),
                 QByteArray("callback ran\n") + folder.toUtf8() + "\n");
    }

    // A callback that crashes or hangs must neither lose the trace nor keep the process alive.
    void faultyCallbackStillEndsTheProcess_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("crashes") << "callback-crash";
        QTest::newRow("hangs") << "callback-hang";
    }
    void faultyCallbackStillEndsTheProcess()
    {
        QFETCH(QString, mode);
        const QString root = tundra::test::freshDir(QStringLiteral("faulty-") + mode);
        const QString reports = root + QStringLiteral("/reports");
        const Run run = runVictim({reports, mode}, QString(), 30000);
        QCOMPARE(run.status, QProcess::CrashExit);
        QCOMPARE(run.code, int(SIGABRT));
        const QStringList folders = reportFolders(reports);
        QCOMPARE(folders.size(), 1);
        const QString trace = QString::fromUtf8(
            readFile(reports + QLatin1Char('/') + folders.first() + QStringLiteral("/stacktrace.txt")));
        QVERIFY2(trace.contains(QStringLiteral("crashByAbort")), qPrintable(trace));
        QCOMPARE(readFile(reports + QLatin1Char('/') + folders.first() + QStringLiteral("/properties.txt")),
                 QByteArray("Hg Revision=0123456789ab\nMode=") + mode.toUtf8() + "\n");
    }

    void restartFlagStartsTheProgramAgain()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("restart"));
        const QString marker = root + QStringLiteral("/marker");
        const Run run = runVictim({root + QStringLiteral("/reports"), QStringLiteral("restart")}, marker);
        QCOMPARE(run.status, QProcess::CrashExit);
        QCOMPARE(run.code, int(SIGSEGV));
        // The restarted copy finds the marker the callback wrote and records its start.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(marker).endsWith("restarted\n"), 20000);
        QCOMPARE(reportFolders(root + QStringLiteral("/reports")).size(), 1);
    }

    void noRestartBeforeTheTimeOut()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("early"));
        const QString marker = root + QStringLiteral("/marker");
        const Run run =
            runVictim({root + QStringLiteral("/reports"), QStringLiteral("early-restart")}, marker);
        QCOMPARE(run.status, QProcess::CrashExit);
        QTest::qWait(1500);
        QVERIFY(!readFile(marker).contains("restarted"));
    }

    void operationsNeedAnInstallation()
    {
        QCOMPARE(crAddPropertyW(u"a", u"b"), 1);
        QCOMPARE(lastError(), QStringLiteral("The crash handler is not installed."));
        QCOMPARE(crAddFile2W(u"/tmp/x", nullptr, nullptr, 1), 1);
        QCOMPARE(crSetCrashCallbackW(countingCallback, nullptr), 1);
        CR_EXCEPTION_INFO exception{};
        exception.cb = sizeof exception;
        exception.exctype = CR_EXCEPTION_MANUAL;
        QCOMPARE(crGenerateErrorReport(&exception), 1);
        QCOMPARE(crUninstall(), 1);
    }

    void installationIsCheckedAndUndone()
    {
        const std::u16string dir =
            tundra::test::freshDir(QStringLiteral("install")).toStdU16String() + u"/a/b";
        CR_INSTALL_INFOW info = installRecord(dir);
        info.cb = 100;
        QCOMPARE(crInstallW(&info), 1);
        QCOMPARE(lastError(), QStringLiteral("Invalid installation record."));
        const std::u16string relative = u"relative/dir";
        info = installRecord(relative);
        QCOMPARE(crInstallW(&info), 1);
        QCOMPARE(lastError(), QStringLiteral("The report directory must be an absolute path."));

        // A report directory that cannot be created is refused with the reason.
        const QString blocker = tundra::test::freshDir(QStringLiteral("blocked")) + QStringLiteral("/file");
        writeFile(blocker, "x");
        const std::u16string blocked = (blocker + QStringLiteral("/CrashReport")).toStdU16String();
        info = installRecord(blocked);
        QCOMPARE(crInstallW(&info), 1);
        QVERIFY2(lastError().startsWith(QStringLiteral("Can't create the report directory ")),
                 qPrintable(lastError()));

        struct sigaction before = {};
        sigaction(SIGSEGV, nullptr, &before);
        info = installRecord(dir);
        QCOMPARE(crInstallW(&info), 0);
        QVERIFY(QFileInfo(QString::fromStdU16String(dir)).isDir());
        struct sigaction during = {};
        sigaction(SIGSEGV, nullptr, &during);
        QVERIFY(during.sa_sigaction != before.sa_sigaction);
        QCOMPARE(crInstallW(&info), 1);
        QCOMPARE(lastError(), QStringLiteral("The crash handler is already installed."));
        QCOMPARE(crUninstall(), 0);
        struct sigaction after = {};
        sigaction(SIGSEGV, nullptr, &after);
        QVERIFY(after.sa_sigaction == before.sa_sigaction);
        QCOMPARE(crUninstall(), 1);
    }

    void filesAndPropertiesAreChecked()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("checks"));
        const std::u16string dir = (root + QStringLiteral("/reports")).toStdU16String();
        CR_INSTALL_INFOW info = installRecord(dir);
        QCOMPARE(crInstallW(&info), 0);

        const std::u16string missing = (root + QStringLiteral("/missing.txt")).toStdU16String();
        QCOMPARE(crAddFile2W(missing.c_str(), nullptr, nullptr, 1), 1);
        QVERIFY(lastError().startsWith(QStringLiteral("The file does not exist: ")));
        const std::u16string missingDir = (root + QStringLiteral("/nodir/*.txt")).toStdU16String();
        QCOMPARE(crAddFile2W(missingDir.c_str(), nullptr, nullptr, 3), 1);
        QVERIFY(lastError().startsWith(QStringLiteral("The directory does not exist: ")));
        const std::u16string pattern = (root + QStringLiteral("/*.txt")).toStdU16String();
        QCOMPARE(crAddFile2W(pattern.c_str(), nullptr, nullptr, 3), 0);
        QCOMPARE(lastError(), QStringLiteral("No error."));

        QCOMPARE(crAddPropertyW(u"", u"x"), 1);
        QCOMPARE(crAddPropertyW(u"a=b", u"x"), 1);
        QCOMPARE(crAddPropertyW(u"Name", std::u16string(5000, u'v').c_str()), 1);
        QCOMPARE(lastError(), QStringLiteral("The property name or value is too long."));
        QCOMPARE(crAddPropertyW(u"Name", u"first"), 0);
        QCOMPARE(crAddPropertyW(u"Name", u"second\nline"), 0);
        QCOMPARE(crAddPropertyW(u"Город", u"Москва"), 0);
        int accepted = 3;
        while (crAddPropertyW(u"Filler", u"x") == 0)
            ++accepted;
        QCOMPARE(lastError(), QStringLiteral("Too many properties."));
        QVERIFY(accepted >= 32);

        // A requested report: written, the callback runs each time, the process lives on.
        writeFile(root + QStringLiteral("/app.txt"), "log");
        int calls = 0;
        QCOMPARE(crSetCrashCallbackW(countingCallback, &calls), 0);
        CR_EXCEPTION_INFO exception{};
        exception.cb = sizeof exception;
        exception.exctype = CR_EXCEPTION_MANUAL;
        QCOMPARE(crGenerateErrorReport(&exception), 0);
        QCOMPARE(crGenerateErrorReport(&exception), 0);
        QCOMPARE(calls, 2);
        const QStringList folders = reportFolders(QString::fromStdU16String(dir));
        QCOMPARE(folders.size(), 2);
        QCOMPARE(QString::fromUtf8(nyx::crash::lastReportFolder()),
                 QString::fromStdU16String(dir) + QLatin1Char('/') + folders.last());
        const QString folder = QString::fromUtf8(nyx::crash::lastReportFolder());
        const QByteArray properties = readFile(folder + QStringLiteral("/properties.txt"));
        QVERIFY2(properties.startsWith("Name=second\\nline\nГород=Москва\nFiller=x\n"),
                 properties.constData());
        QCOMPARE(properties.count("Name="), 1);
        QVERIFY(readFile(folder + QStringLiteral("/stacktrace.txt")).contains("Reason: report requested"));
        QVERIFY(readFile(folder + QStringLiteral("/stacktrace.txt")).contains("crGenerateErrorReport"));
        QCOMPARE(readFile(folder + QStringLiteral("/app.txt")), QByteArray("log"));

        exception.cb = 10;
        QCOMPARE(crGenerateErrorReport(&exception), 1);
        QCOMPARE(crUninstall(), 0);
        // Uninstalled: the callback is forgotten.
        QCOMPARE(crInstallW(&info), 0);
        QCOMPARE(crGenerateErrorReport(nullptr), 0);
        QCOMPARE(calls, 2);
        QCOMPARE(crUninstall(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_CrashRpt)
#include "tst_crashrpt.moc"
