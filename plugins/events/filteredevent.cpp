#include "filteredevent.h"

FilteredEvent::FilteredEvent(const EventRecord &record, int index, int filterIndex)
    : EventRecord(record), index(index), filterIndex(filterIndex)
{
}

QByteArray FilteredEvent::toSnapshot(const QVector<FilteredEvent> &events)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << events;
    return data;
}

QVector<FilteredEvent> FilteredEvent::fromSnapshot(const QByteArray &data)
{
    QVector<FilteredEvent> events;
    if (data.isEmpty())
        return events;
    QDataStream stream(data);
    stream >> events;
    return events;
}

QDataStream &operator<<(QDataStream &stream, const FilteredEvent &event)
{
    return stream << event.time << event.boardTime << event.type << event.comment << qint32(event.index)
                  << qint32(event.filterIndex);
}

QDataStream &operator>>(QDataStream &stream, FilteredEvent &event)
{
    qint32 index = -1;
    qint32 filterIndex = -1;
    stream >> event.time >> event.boardTime >> event.type >> event.comment >> index >> filterIndex;
    event.color.clear();
    event.index = index;
    event.filterIndex = filterIndex;
    return stream;
}
