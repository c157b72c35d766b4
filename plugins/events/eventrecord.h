#pragma once
// One stored event: one line of the events file.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

struct EventRecord
{
    double time = 0;       // milliseconds on the caller's time base
    double boardTime = -1; // time of day shown by the event source, -1 for none
    QString type;
    QString color; // kept as given; only stored and written back
    QString comment;

    static EventRecord fromMap(const QVariantMap &map);
    static EventRecord fromJson(const QJsonObject &object);
    QJsonObject toJson() const;

    // Compact JSON with sorted keys, without any line feed.
    QByteArray toLine() const;
    // Parses one line of the events file. Lines that are blank, not JSON, or JSON that is not an
    // event object (no numeric "time" and no string "type") are rejected.
    static bool fromLine(const QByteArray &line, EventRecord *record);
};

bool operator==(const EventRecord &a, const EventRecord &b);
inline bool operator!=(const EventRecord &a, const EventRecord &b)
{
    return !(a == b);
}
