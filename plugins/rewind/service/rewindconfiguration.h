#pragma once
// The archive plugin's configuration files in the application's data directory: rewind.ini (the
// referee link's settings and the playback limits) and available_videos.json (the capture sources).

#include "availablesource.h"
#include "playbacktuning.h"

#include <QByteArray>
#include <QString>
#include <vector>

struct RewindSettings
{
    QString host = QStringLiteral("localhost");
    bool trace = false;
    int readEventCount = 5;
    int readEventSize = 10;
    PlaybackTuning tuning;
};

namespace RewindConfiguration {
// The folder of both files: the application's data directory.
QString folder();
QString settingsFile();
QString sourcesFile();

// Reads rewind.ini over settings; false when it cannot be opened.
bool readSettings(const QString &fileName, RewindSettings &settings);
// The summary of the playback limits for the debugger output.
QString settingsSummary(const PlaybackTuning &tuning);
// Writes the commented template; false (after a warning) when it cannot be created.
bool createSettings(const QString &fileName);

// Reads available_videos.json; false when missing, unreadable, not an object or empty. Each
// mistake but a missing file is logged once, in words, with what is used instead.
bool loadAvailableSources(const QString &fileName, std::vector<AvailableSource> &videos,
                          AvailableSource &audio);
// The same for the file's content, read from fileName (named in the warnings).
bool readAvailableSources(const QByteArray &data, const QString &fileName,
                          std::vector<AvailableSource> &videos, AvailableSource &audio);
void writeDefaultAvailableSources(const QString &fileName);
} // namespace RewindConfiguration
