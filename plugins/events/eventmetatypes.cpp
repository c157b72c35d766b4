#include "eventmetatypes.h"

#include "eventfilter.h"
#include "eventtimestamp.h"
#include "filteredevent.h"

#include <QMetaType>

void registerEventMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<FilteredEvent>("FilteredEvent");
        qRegisterMetaTypeStreamOperators<FilteredEvent>("FilteredEvent");
        qRegisterMetaType<QVector<FilteredEvent>>("QVector<FilteredEvent>");
        qRegisterMetaTypeStreamOperators<QVector<FilteredEvent>>("QVector<FilteredEvent>");
        qRegisterMetaType<EventFilter>("EventFilter");
        qRegisterMetaType<QVector<EventFilter>>("QVector<EventFilter>");
        qRegisterMetaTypeStreamOperators<QVector<EventFilter>>("QVector<EventFilter>");
        qRegisterMetaType<EventTimestamp>("EventTimestamp");
        qRegisterMetaTypeStreamOperators<EventTimestamp>("EventTimestamp");
        qRegisterMetaType<QVector<EventTimestamp>>("QVector<EventTimestamp>");
        qRegisterMetaTypeStreamOperators<QVector<EventTimestamp>>("QVector<EventTimestamp>");
        return true;
    }();
    Q_UNUSED(registered)
}
