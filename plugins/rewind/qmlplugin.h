#pragma once
// The "Rewind" QML module: the archive service singleton, the archive model's types and the
// value types that cross between the GUI thread and the service's worker thread.

#include <QQmlExtensionPlugin>

class QmlPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QQmlExtensionInterface")

public:
    void registerTypes(const char *uri) override;
};
