#pragma once
// A pair of clocks: a recording time and the board time of day shown at that moment.

#include <QDataStream>
#include <QMetaType>
#include <QVector>

struct EventTimestamp
{
    double time = 0;
    double boardTime = -1;

    static QByteArray toSnapshot(const QVector<EventTimestamp> &timestamps);
    static QVector<EventTimestamp> fromSnapshot(const QByteArray &data);
};

inline bool operator==(const EventTimestamp &a, const EventTimestamp &b)
{
    return a.time == b.time && a.boardTime == b.boardTime;
}

QDataStream &operator<<(QDataStream &stream, const EventTimestamp &timestamp);
QDataStream &operator>>(QDataStream &stream, EventTimestamp &timestamp);

Q_DECLARE_METATYPE(EventTimestamp)
