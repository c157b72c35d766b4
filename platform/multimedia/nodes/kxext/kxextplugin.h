#pragma once
// The QML module Multimedia.KXExt: the capture board (KX), its inputs (KXSource) and outputs (KXSink).

#include <QQmlExtensionPlugin>

class KXExtPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)
public:
    void registerTypes(const char *uri) override;
};
