#include "kxextplugin.h"

#include "multimedia/nodes/kxboard.h"
#include "multimedia/nodes/kxsinknode.h"
#include "multimedia/nodes/kxsourcenode.h"

#include <QtQml>

void KXExtPlugin::registerTypes(const char *uri)
{
    qmlRegisterSingletonType<KXBoard>(uri, 1, 0, "KX",
                                      [](QQmlEngine *, QJSEngine *) -> QObject * { return new KXBoard; });
    qmlRegisterType<KXSourceNode>(uri, 1, 0, "KXSource");
    qmlRegisterType<KXSinkNode>(uri, 1, 0, "KXSink");
}
