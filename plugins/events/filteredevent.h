#pragma once
// An event as shown after filtering: the record plus where it sits and which filter admitted it.

#include "eventrecord.h"

#include <QDataStream>
#include <QMetaType>
#include <QVector>

struct FilteredEvent : EventRecord
{
    Q_GADGET
    Q_PROPERTY(double time MEMBER time)
    Q_PROPERTY(QString type MEMBER type)
    Q_PROPERTY(QString comment MEMBER comment)

public:
    int index = -1;       // position in the worker's full event list
    int filterIndex = -1; // negative for none

    FilteredEvent() = default;
    FilteredEvent(const EventRecord &record, int index, int filterIndex);

    static QByteArray toSnapshot(const QVector<FilteredEvent> &events);
    static QVector<FilteredEvent> fromSnapshot(const QByteArray &data);
};

// The colour text is not carried: it reads back empty.
QDataStream &operator<<(QDataStream &stream, const FilteredEvent &event);
QDataStream &operator>>(QDataStream &stream, FilteredEvent &event);

Q_DECLARE_METATYPE(FilteredEvent)
