#include "qkeyboardplugin.h"

#include "addressenumerator.h"
#include "beaconclient.h"
#include "protocolevent.h"

#include <QtQml>

void QKeyboardPlugin::registerTypes(const char *uri)
{
    qmlRegisterType<BeaconClient>(uri, 1, 0, "BeaconClient");
    qmlRegisterType<ProtocolEvent>(uri, 1, 0, "BeaconEvent");
    qmlRegisterSingletonType<AddressEnumerator>(
        uri, 1, 0, "NetworkAddressEnumerator",
        [](QQmlEngine *, QJSEngine *) -> QObject * { return new AddressEnumerator; });
}
