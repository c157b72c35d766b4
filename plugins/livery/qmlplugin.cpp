#include "qmlplugin.h"

#include "systempalletesetter.h"

#include <QQmlEngine>

namespace {
QObject *createPalleteSetter(QQmlEngine *, QJSEngine *)
{
    return new SystemPalleteSetter;
}
} // namespace

void QmlPlugin::registerTypes(const char *uri)
{
    qmlRegisterSingletonType<SystemPalleteSetter>(uri, 1, 0, "SystemPalleteSetter", createPalleteSetter);
    // The style's files are resources of this library (":/NyxStyle"), where Qt Quick Controls 2 looks
    // for a style name before its import paths, so the style is found wherever the program lives.
    qputenv("QT_QUICK_CONTROLS_STYLE", "NyxStyle");
}
