#pragma once
// The Logging library: file logging of Qt messages for one program.

#include <QDir>
#include <QString>
#include <cstdint>

namespace nyx::logging {
struct LoggingSettings
{
    QDir directory;   // the application data directory; log files go to its "Logs" folder
    QString baseName; // the program's base name; each log file starts with it
    bool removeOldLogs = true;
};

// Starts writing every Qt message that passes the category filter to
// <directory>/Logs/<baseName>_<yyyyMMdd_hhmmss>_<pid>.txt, and on to the previous handler.
// Returns 0 on success, a non-zero status when the log file cannot be opened.
std::int32_t initializeLogging(const LoggingSettings &settings);
// Flushes and closes the log file and restores the previous message handler.
void uninitializeLogging();
// The folder that holds the log files ("*.txt").
QDir getLogDirectory();
} // namespace nyx::logging
