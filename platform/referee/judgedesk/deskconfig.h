#pragma once
// JudgeDesk's configuration: a JSON file with its cameras and event types.
//
// {
//   "storage": "Station",
//   "cameras": [ {"name": "Cam 1", "stream": "Camera 1", "playAudio": true,
//                 "begin": "2026-12-09T08:00:00Z", "end": "2026-12-09T10:00:00Z"} ],
//   "eventTypes": [ {"name": "Goal", "text": "FFFFFF", "background": "0000FF"} ],
//   "eventsFile": "events.jsonl"
// }
// "stream" names the camera's archive stream within "storage" (default "Station"); a braced GUID
// names an existing stream by its id instead. "begin" and "end" are optional and only used when the
// archive cannot be opened: without them a camera records from JudgeDesk's start until now.
// A relative "eventsFile" lies beside the configuration file.

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <QVector>

struct DeskCamera
{
    QString name;
    QString streamName; // empty when the stream is named by its id
    QUuid streamId;     // null when the stream is named by its name
    bool playAudio = false;
    QDateTime begin; // null: JudgeDesk's start
    QDateTime end;   // null: now
};

struct DeskEventType
{
    QString name;
    QString textColor = QStringLiteral("FFFFFF");
    QString backgroundColor = QStringLiteral("000000");
};

struct DeskConfig
{
    QString storage = QStringLiteral("Station");
    QVector<DeskCamera> cameras;
    QVector<DeskEventType> eventTypes;
    QString eventsFile;

    // False with a message for a file that cannot be read or has a bad entry.
    bool load(const QString &path, QString *error);
};
