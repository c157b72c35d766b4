#pragma once

#include <QQmlExtensionPlugin>

// Registers the QML types of the Beacon module.
class QKeyboardPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char *uri) override;
};
