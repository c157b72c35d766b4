#pragma once
// Crash reporting as the launcher drives it, over the crash reporting library.

#include <QString>
#include <QUrl>

struct CrashReportSettings
{
    bool restart = false; // restart the program after a crash
    QString applicationName;
};

namespace CrashReport {
// Called at a crash with the value given at registration.
using CrashCallback = void (*)(void *userValue);

// Installs the crash reporter for this process (before the application object exists) and
// uninstalls it when the application object's post routines run. Returns whether it installed.
bool init(const CrashReportSettings &settings);
// Files matching the pattern are attached to every report.
void addFilePattern(const QString &pattern);
void addFile(const QUrl &file);
void addProperty(const QString &name, const QString &value);
// Writes a report now; the program goes on.
void generateReport();
// Runs when a crash happens, before the attached files are copied. The registration lives until
// the reporter is uninstalled.
void setCrashCallback(CrashCallback function, void *userValue = nullptr);

// The report directory for an application name: <local data>/Nyx/<name>/CrashReport.
QString reportDirectory(const QString &applicationName);
} // namespace CrashReport
