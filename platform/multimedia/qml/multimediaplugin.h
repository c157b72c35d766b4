#pragma once
// The QML module "Multimedia": the media graph's session, connections and pins.

#include <QQmlExtensionPlugin>

class MultimediaPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QQmlExtensionInterface")
public:
    void registerTypes(const char *uri) override;
};
