#pragma once
// Runs the launcher probe (launcherprobe) for a test and parses its "key=value" report.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

struct ProbeRun
{
    bool finished = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int exitCode = -1;
    QString output;
    QString errors;
    QMap<QString, QString> report;
};

QString probePath();
QString testQmlFile(const QString &name);
ProbeRun runProbe(const QStringList &arguments, const QMap<QString, QString> &env = {},
                  int timeoutMs = 60000);
