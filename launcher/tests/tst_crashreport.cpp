#include "crashreport.h"
#include "probe.h"
#include "process.h"
#include "processmanager.h"
#include "testenvironment.h"

#include "crash/crashrpt.h"

#include <QtTest>
#include <csignal>

namespace {
QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

void collectMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && qstrcmp(context.category, "CrashReport") == 0 && type == QtCriticalMsg)
        g_messages << message;
    g_previousHandler(type, context, message);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString dataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QStringList reportFolders(const QString &applicationName)
{
    const QDir dir(dataHome() + QStringLiteral("/Nyx/") + applicationName + QStringLiteral("/CrashReport"));
    QStringList folders;
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders << dir.filePath(name);
    return folders;
}

void counting(void *value)
{
    ++*static_cast<int *>(value);
}

const QRegularExpression kRevisionProperty(QStringLiteral("^Hg Revision=[0-9a-f]{12}$"),
                                           QRegularExpression::MultilineOption);
} // namespace

class tst_CrashReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(collectMessages); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { g_messages.clear(); }

    void installationRecord_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::addColumn<uint>("flags");
        QTest::addColumn<int>("timeout");
        QTest::newRow("no restart") << false << 0x889FFFu << 0;
        QTest::newRow("restart") << true << 0x899FFFu << 1;
    }
    void installationRecord()
    {
        QFETCH(bool, restart);
        QFETCH(uint, flags);
        QFETCH(int, timeout);
        QVERIFY(CrashReport::init(CrashReportSettings{restart, QStringLiteral("TundraRecorder")}));
        const nyx::crash::Installation installed = nyx::crash::installation();
        QVERIFY(installed.installed);
        QCOMPARE(installed.flags, DWORD(flags));
        QCOMPARE(installed.restartTimeout, timeout);
        QCOMPARE(QString::fromUtf8(installed.appName), QStringLiteral("TundraRecorder"));
        QCOMPARE(QString::fromUtf8(installed.appVersion), QStringLiteral("1.0.0"));
        const QString directory = dataHome() + QStringLiteral("/Nyx/TundraRecorder/CrashReport");
        QCOMPARE(QString::fromUtf8(installed.reportDirectory), directory);
        QCOMPARE(CrashReport::reportDirectory(QStringLiteral("TundraRecorder")), directory);
        QVERIFY(QFileInfo(directory).isDir());
        QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join('\n')));
    }

    void requestedReportCarriesTheRevision()
    {
        QDir(dataHome() + QStringLiteral("/Nyx/Requested")).removeRecursively();
        QVERIFY(CrashReport::init(CrashReportSettings{false, QStringLiteral("Requested")}));
        CrashReport::addProperty(QStringLiteral("Station"), QStringLiteral("Зал 2"));
        CrashReport::generateReport();
        const QStringList folders = reportFolders(QStringLiteral("Requested"));
        QCOMPARE(folders.size(), 1);
        const QString properties =
            QString::fromUtf8(readFile(folders.first() + QStringLiteral("/properties.txt")));
        QVERIFY2(kRevisionProperty.match(properties).hasMatch(), qPrintable(properties));
        QVERIFY2(properties.contains(QStringLiteral("Station=Зал 2\n")), qPrintable(properties));
    }

    // The registration stays valid for every call of the callback until the reporter goes.
    void callbackRegistrationLivesUntilUninstall()
    {
        QDir(dataHome() + QStringLiteral("/Nyx/Callbacks")).removeRecursively();
        QVERIFY(CrashReport::init(CrashReportSettings{false, QStringLiteral("Callbacks")}));
        int first = 0;
        int second = 0;
        CrashReport::setCrashCallback(counting, &first);
        CrashReport::generateReport();
        CrashReport::generateReport();
        QCOMPARE(first, 2);
        CrashReport::setCrashCallback(counting, &second);
        CrashReport::generateReport();
        QCOMPARE(first, 2);
        QCOMPARE(second, 1);
        // A new installation forgets the registrations of the old one.
        QVERIFY(CrashReport::init(CrashReportSettings{false, QStringLiteral("Callbacks")}));
        CrashReport::generateReport();
        QCOMPARE(second, 1);
        QCOMPARE(reportFolders(QStringLiteral("Callbacks")).size(), 4);
    }

    void refusalsAreReported()
    {
        QVERIFY(CrashReport::init(CrashReportSettings{false, QStringLiteral("Refusals")}));
        const QString root = tundra::test::freshDir(QStringLiteral("refusals"));
        const QString pattern = root + QStringLiteral("/missing/*.txt");
        CrashReport::addFilePattern(pattern);
        const QUrl file = QUrl::fromLocalFile(root + QStringLiteral("/missing.txt"));
        CrashReport::addFile(file);
        CrashReport::addProperty(QString(), QStringLiteral("v"));
        QCOMPARE(
            g_messages,
            QStringList(
                {QStringLiteral("Can't add file pattern %1 (The directory does not exist: %1)").arg(pattern),
                 QStringLiteral("Can't add file %1 (The file does not exist: %2)")
                     .arg(file.toString(), file.toLocalFile()),
                 QStringLiteral("Can't add property :v (Invalid property name.)")}));
        g_messages.clear();
        CrashReport::addFile(QUrl::fromLocalFile(QCoreApplication::applicationFilePath()));
        CrashReport::addFilePattern(root + QStringLiteral("/*.txt"));
        QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join('\n')));
    }

    void failedInstallLeavesTheProgramRunning()
    {
        const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
        const QString blocker = tundra::test::freshDir(QStringLiteral("blocker")) + QStringLiteral("/file");
        {
            QFile file(blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        qputenv("XDG_DATA_HOME", blocker.toUtf8());
        const bool installed = CrashReport::init(CrashReportSettings{false, QStringLiteral("Blocked")});
        qputenv("XDG_DATA_HOME", savedDataHome);
        QVERIFY(!installed);
        QVERIFY(!nyx::crash::installation().installed);
        QCOMPARE(g_messages.size(), 1);
        QVERIFY2(g_messages.first().startsWith(
                     QStringLiteral("Can't init CrashReport: Can't create the report directory ") + blocker +
                     QStringLiteral("/Nyx/Blocked/CrashReport: ")),
                 qPrintable(g_messages.first()));
        // The later calls still go to the library and fail on their own.
        g_messages.clear();
        int calls = 0;
        CrashReport::setCrashCallback(counting, &calls);
        CrashReport::addFilePattern(QStringLiteral("/tmp/*.txt"));
        QCOMPARE(g_messages, QStringList{QStringLiteral(
                                 "Can't add file pattern /tmp/*.txt (The crash handler is not installed.)")});
        CrashReport::generateReport();
        QCOMPARE(calls, 0);
    }

    // A program of the launcher framework that crashes leaves a report with its log file.
    void crashingProgramLeavesAReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("function");
        QTest::newRow("null write") << "crash-null" << int(SIGSEGV) << "probeCrashByNullWrite";
        QTest::newRow("abort") << "crash-abort" << int(SIGABRT) << "probeCrashByAbort";
    }
    void crashingProgramLeavesAReport()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, function);
        const QString name = QStringLiteral("Crash-") + mode;
        QDir(dataHome() + QStringLiteral("/Nyx/") + name).removeRecursively();
        const ProbeRun run =
            runProbe({QStringLiteral("--application_name"), name}, {{QStringLiteral("PROBE_MODE"), mode}});
        QVERIFY(run.finished);
        QCOMPARE(run.status, QProcess::CrashExit);
        QCOMPARE(run.exitCode, signal);

        const QStringList folders = reportFolders(name);
        QCOMPARE(folders.size(), 1);
        const QString folder = folders.first();
        const QString trace = QString::fromUtf8(readFile(folder + QStringLiteral("/stacktrace.txt")));
        QVERIFY2(trace.contains(QStringLiteral("Application: ") + name + QLatin1Char('\n')),
                 qPrintable(trace));
        QVERIFY2(trace.section(QStringLiteral("Stack trace:"), 1).contains(function), qPrintable(trace));
        const QString properties = QString::fromUtf8(readFile(folder + QStringLiteral("/properties.txt")));
        QVERIFY2(kRevisionProperty.match(properties).hasMatch(), qPrintable(properties));
        // The log file is attached, complete up to the crash: logging ended before the copy.
        const QStringList logs = QDir(folder).entryList({QStringLiteral("launcherprobe_*.txt")}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        const QByteArray log = readFile(folder + QLatin1Char('/') + logs.first());
        QVERIFY2(log.contains("[probe] about to crash"), log.constData());
    }

    void supervisorRestartsACrashedProgram()
    {
        const QString marker = tundra::test::freshDir(QStringLiteral("restart")) + QStringLiteral("/starts");
        const QString name = QCoreApplication::applicationName();
        QDir(dataHome() + QStringLiteral("/Nyx/") + name + QStringLiteral("/CrashReport"))
            .removeRecursively();
        qputenv("PROBE_MODE", "crash-once");
        qputenv("PROBE_MARKER", marker.toUtf8());
        auto starts = [&marker] {
            return QString::fromUtf8(readFile(marker)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        };
        {
            ProcessManager manager({QStringLiteral("launcherprobe")});
            QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
            QTest::qWait(300);
            QCOMPARE(starts().size(), 2);
            QCOMPARE(manager.processes().first()->crashCount(), 1);
            QVERIFY(QFileInfo::exists(QStringLiteral("/proc/") + starts().at(1)));
        }
        qunsetenv("PROBE_MODE");
        qunsetenv("PROBE_MARKER");
        const QStringList folders = reportFolders(name);
        QCOMPARE(folders.size(), 1);
        QVERIFY(
            readFile(folders.first() + QStringLiteral("/stacktrace.txt")).contains("probeCrashByNullWrite"));
        QVERIFY(folders.first().contains(QLatin1Char('_') + starts().at(0)));
    }
};

QTEST_GUILESS_MAIN(tst_CrashReport)
#include "tst_crashreport.moc"
