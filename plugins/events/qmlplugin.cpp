#include "qmlplugin.h"

#include "eventcollection.h"
#include "eventmetatypes.h"
#include "eventmodel.h"

#include <QtQml>

void QmlPlugin::registerTypes(const char *uri)
{
    registerEventMetaTypes();
    qmlRegisterType<EventCollection>(uri, 1, 0, "EventCollection");
    qmlRegisterType<EventModel>(uri, 1, 0, "EventModel");
}
