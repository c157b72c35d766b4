#pragma once

#include "multimedia/offscreenwindowcontent.h"

#include <QObject>

class QQuickItem;

Q_DECLARE_INTERFACE(IOffscreenWindowContent, "IOffscreenWindowContent")

// A QML item that the media library renders in an offscreen window of its own: attaching puts
// the item under the window's content item and flips that content vertically. The library owns
// the object and deletes it through the interface; the item is never owned.
class OffscreenWindowContent : public QObject, public IOffscreenWindowContent
{
    Q_OBJECT
    Q_INTERFACES(IOffscreenWindowContent)

public:
    explicit OffscreenWindowContent(QQuickItem *item);

    void attachToWindow(QQuickWindow *window) override;
    QQuickItem *item() const { return m_item; }

private:
    QQuickItem *m_item;
};
