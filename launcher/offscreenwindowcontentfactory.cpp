#include "offscreenwindowcontentfactory.h"

#include "launcherlogging.h"
#include "offscreenwindowcontent.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QQuickItem>

IOffscreenWindowContent *createOffscreenWindowContent(QQuickItem *item)
{
    return new OffscreenWindowContent(item);
}

QObject *addFlipTransform(QQmlEngine *engine, QQuickItem *target)
{
    // An item made outside QML has no engine to build the transform with.
    if (!engine || !target)
        return nullptr;
    QQmlComponent component(engine);
    component.setData("import QtQuick 2.0\nScale {yScale: -1;}", QUrl());
    QObject *scale = component.create();
    if (!scale) {
        qCWarning(lcLauncher).noquote() << "Can't create the flip transform:" << component.errorString();
        return nullptr;
    }
    scale->setParent(target);
    QQmlListReference transforms(target, "transform");
    transforms.append(scale);
    return scale;
}
