// Runs the launcher start-up with settings from the environment and reports what it did, so
// tests can look at a start-up from outside the process.
//   PROBE_APPLICATION_NAME, PROBE_IGNORE_EXECUTABLE_NAME, PROBE_QML_FILE, PROBE_SINGLE_INSTANCE,
//   PROBE_DEFAULT_LANGUAGE, PROBE_CRASH_RESTART
//   PROBE_MODE: "report" (default; print and exit), "exec" (run the event loop), "twice",
//   "run" (Launcher::run: the tests' or the event loop's result), "reload" (event loop, reporting
//   every new engine), "crash-null", "crash-abort", "crash-once" (crashes on the first start
//   only; PROBE_MARKER collects the process ids of all starts)

#include "launcher.h"
#include "offscreenwindowcontentfactory.h"

#include "multimedia/multimedia.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

namespace {
void report(const char *key, const QString &value)
{
    std::printf("%s=%s\n", key, value.toUtf8().constData());
    std::fflush(stdout);
}

Q_LOGGING_CATEGORY(lcProbe, "probe")
} // namespace

extern "C" {
__attribute__((noinline, no_sanitize("undefined"))) void probeCrashByNullWrite()
{
    volatile int *volatile p = nullptr;
    *p = 42;
}

__attribute__((noinline)) void probeCrashByAbort()
{
    std::abort();
}
}

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.applicationName = qEnvironmentVariable("PROBE_APPLICATION_NAME");
    settings.ignoreExecutableName = qEnvironmentVariableIsSet("PROBE_IGNORE_EXECUTABLE_NAME");
    settings.singleInstance = qEnvironmentVariableIsSet("PROBE_SINGLE_INSTANCE");
    settings.defaultLanguage = qEnvironmentVariable("PROBE_DEFAULT_LANGUAGE");
    settings.crashRestart = qEnvironmentVariableIsSet("PROBE_CRASH_RESTART");
    if (qEnvironmentVariableIsSet("PROBE_QML_FILE"))
        settings.qmlFile = QUrl(qEnvironmentVariable("PROBE_QML_FILE"));
    const QString mode = qEnvironmentVariable("PROBE_MODE", QStringLiteral("report"));

    if (mode == QLatin1String("run"))
        return Launcher::run(settings, argc, argv);

    Launcher launcher(settings, argc, argv);
    if (mode == QLatin1String("twice"))
        Launcher second(settings, argc, argv);
    if (mode == QLatin1String("exec"))
        return launcher.exec();

    if (mode.startsWith(QLatin1String("crash"))) {
        bool crash = true;
        if (mode == QLatin1String("crash-once")) {
            QFile marker(qEnvironmentVariable("PROBE_MARKER"));
            crash = !marker.exists();
            if (marker.open(QIODevice::Append))
                marker.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        }
        if (crash) {
            qCWarning(lcProbe) << "about to crash";
            if (mode == QLatin1String("crash-abort"))
                probeCrashByAbort();
            else
                probeCrashByNullWrite();
        }
        return launcher.exec();
    }

    if (mode == QLatin1String("reload")) {
        // Reports each engine the launcher makes, and the application object beside it.
        int engines = 0;
        QPointer<QQmlApplicationEngine> current;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QQmlApplicationEngine *engine = launcher.engine();
            if (!engine || engine == current)
                return;
            current = engine;
            report("engine", QStringLiteral("%1 application=%2 roots=%3")
                                 .arg(++engines)
                                 .arg(quintptr(QCoreApplication::instance()))
                                 .arg(engine->rootObjects().size()));
        });
        watch.start(0);
        return launcher.exec();
    }

    report("applicationName", QCoreApplication::applicationName());
    report("settingsName", settings.applicationName);
    report("loggingRules", Launcher::readLoggingRules().toUtf8().toPercentEncoding());
    report("language", launcher.translationLanguage());
    report("defaultLocale", QLocale().name());
    QStringList bases;
    const QStringList files = Launcher::translationFiles();
    for (const QString &file : files)
        bases << QDir(file).dirName();
    report("translationBases", bases.join(QLatin1Char(',')));
    report("tr.app", QCoreApplication::translate("probe", "app"));
    report("tr.qtbase", QCoreApplication::translate("probe", "qtbase"));
    report("tr.plain", QCoreApplication::translate("probe", "plain"));
    report("tr.main", QCoreApplication::translate("main", "TundraRecorder Server"));
    report("offscreenFactory",
           nyx::multimedia::offscreenWindowContentFactory() == &createOffscreenWindowContent
               ? QStringLiteral("1")
               : QStringLiteral("0"));
    launcher.load();
    if (QQmlApplicationEngine *engine = launcher.engine()) {
        const auto roots = engine->rootObjects();
        report("roots", QString::number(roots.size()));
        if (!roots.isEmpty()) {
            QObject *root = roots.first();
            if (QQmlContext *context = qmlContext(root))
                report("qmlUrl", context->baseUrl().toString());
            report("isWindow", root->isWindowType() ? QStringLiteral("1") : QStringLiteral("0"));
            if (root->isWindowType())
                report("visible",
                       static_cast<QWindow *>(root)->isVisible() ? QStringLiteral("1") : QStringLiteral("0"));
        }
    } else {
        report("roots", QStringLiteral("none"));
    }
    return 0;
}
