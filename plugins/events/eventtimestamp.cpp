#include "eventtimestamp.h"

QByteArray EventTimestamp::toSnapshot(const QVector<EventTimestamp> &timestamps)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << timestamps;
    return data;
}

QVector<EventTimestamp> EventTimestamp::fromSnapshot(const QByteArray &data)
{
    QVector<EventTimestamp> timestamps;
    if (data.isEmpty())
        return timestamps;
    QDataStream stream(data);
    stream >> timestamps;
    return timestamps;
}

QDataStream &operator<<(QDataStream &stream, const EventTimestamp &timestamp)
{
    return stream << timestamp.time << timestamp.boardTime;
}

QDataStream &operator>>(QDataStream &stream, EventTimestamp &timestamp)
{
    return stream >> timestamp.time >> timestamp.boardTime;
}
