#include "qmlplugin.h"

#include "colorpicker.h"
#include "custommousearea.h"
#include "imageutils.h"
#include "input.h"
#include "itemsizemeashurer.h"
#include "itemtoqimage.h"
#include "itemupdater.h"
#include "offscreenitem.h"
#include "qimagetexture.h"
#include "realtimetimer.h"
#include "statechangeslist.h"
#include "textfontsizemeashurer.h"
#include "textureprovideritem.h"
#include "textureview.h"
#include "windowpositionsaver.h"

#include <QQmlEngine>
#include <QSGTextureProvider>

namespace {
template <typename T> QObject *singleton(QQmlEngine *, QJSEngine *)
{
    return new T;
}
} // namespace

void QmlPlugin::registerTypes(const char *uri)
{
    qmlRegisterUncreatableType<QSGTextureProvider>(uri, 1, 0, "QSGTextureProvider", QString());
    qmlRegisterType<TextureView>(uri, 1, 0, "TextureView");
    qmlRegisterType<QImageTexture>(uri, 1, 0, "QImageTexture");
    qmlRegisterType<ItemToQImage>(uri, 1, 0, "ItemToQImage");
    qmlRegisterType<ItemSizeMeashurer>(uri, 1, 0, "ItemSizeMeashurer");
    qmlRegisterType<CustomMouseArea>(uri, 1, 0, "CustomMouseArea");
    qmlRegisterSingletonType<Input>(uri, 1, 0, "Input", singleton<Input>);
    qmlRegisterType<StateChangesList>(uri, 1, 0, "StateChangesList");
    qmlRegisterType<OffscreenItem>(uri, 1, 0, "OffscreenItem");
    qmlRegisterType<ItemUpdater>(uri, 1, 0, "ItemUpdater");
    qmlRegisterType<TextFontSizeMeashurer>(uri, 1, 0, "TextFontSizeMeashurer");
    qmlRegisterSingletonType<ImageUtils>(uri, 1, 0, "ImageUtils", singleton<ImageUtils>);
    qmlRegisterType<RealtimeTimer>(uri, 1, 0, "RealtimeTimer");
    qmlRegisterType<WindowPositionSaver>(uri, 1, 0, "WindowPositionSaver");
    qmlRegisterSingletonType<ColorPicker>(uri, 1, 0, "ColorPicker", singleton<ColorPicker>);
    qmlRegisterType<TextureProviderItem>(uri, 1, 0, "TextureProviderItem");
}
