#pragma once
// Crash reporting as the launcher drives it.

#include <QString>

struct CrashReportSettings
{
    bool restart = false;
    QString applicationName;
};

namespace CrashReport {
using CrashCallback = void (*)();

// Installs the crash reporter for this process.
bool init(const CrashReportSettings &settings);
// Files matching the pattern are attached to every report.
void addFilePattern(const QString &pattern);
// Runs when a crash happens, before the report is written.
void setCrashCallback(CrashCallback callback);
} // namespace CrashReport
