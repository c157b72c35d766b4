#include "probe.h"

#include "programrunner.h"

#include <QCoreApplication>

QString probePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/launcherprobe");
}

QString testQmlFile(const QString &name)
{
    return QStringLiteral(TUNDRA_LAUNCHER_TEST_QML "/") + name;
}

ProbeRun runProbe(const QStringList &arguments, const QMap<QString, QString> &env, int timeoutMs)
{
    ProbeRun run;
    ProgramRunner probe(probePath());
    for (auto it = env.begin(); it != env.end(); ++it)
        probe.environment().insert(it.key(), it.value());
    if (!probe.start(arguments))
        return run;
    run.finished = probe.finish(timeoutMs);
    run.status = probe.exitStatus();
    run.exitCode = probe.exitCode();
    run.output = probe.output();
    run.errors = probe.errors();
    const QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            run.report.insert(line.left(eq), line.mid(eq + 1));
    }
    return run;
}
