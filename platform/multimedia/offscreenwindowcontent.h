#pragma once
// The hook through which the media library puts QML items into offscreen windows of its own.

class QQuickItem;
class QQuickWindow;

class IOffscreenWindowContent
{
public:
    virtual void attachToWindow(QQuickWindow *window) = 0;
    virtual ~IOffscreenWindowContent() = default;
};

using OffscreenWindowContentFactory = IOffscreenWindowContent *(*)(QQuickItem *item);
