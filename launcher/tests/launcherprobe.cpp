// Runs the launcher start-up with settings from the environment and reports what it did, so
// tests can look at a start-up from outside the process.
//   PROBE_APPLICATION_NAME, PROBE_IGNORE_EXECUTABLE_NAME, PROBE_QML_FILE, PROBE_SINGLE_INSTANCE
//   PROBE_MODE: "report" (default; print and exit), "exec" (run the event loop), "twice"

#include "launcher.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QWindow>
#include <cstdio>

namespace {
void report(const char *key, const QString &value)
{
    std::printf("%s=%s\n", key, value.toUtf8().constData());
}
} // namespace

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.applicationName = qEnvironmentVariable("PROBE_APPLICATION_NAME");
    settings.ignoreExecutableName = qEnvironmentVariableIsSet("PROBE_IGNORE_EXECUTABLE_NAME");
    settings.singleInstance = qEnvironmentVariableIsSet("PROBE_SINGLE_INSTANCE");
    if (qEnvironmentVariableIsSet("PROBE_QML_FILE"))
        settings.qmlFile = QUrl(qEnvironmentVariable("PROBE_QML_FILE"));
    const QString mode = qEnvironmentVariable("PROBE_MODE", QStringLiteral("report"));

    Launcher launcher(settings, argc, argv);
    if (mode == QLatin1String("twice"))
        Launcher second(settings, argc, argv);
    if (mode == QLatin1String("exec"))
        return launcher.exec();

    report("applicationName", QCoreApplication::applicationName());
    report("settingsName", settings.applicationName);
    report("loggingRules", Launcher::readLoggingRules().toUtf8().toPercentEncoding());
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
    std::fflush(stdout);
    return 0;
}
