#include "offscreenwindowcontent.h"

#include "offscreenwindowcontentfactory.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

OffscreenWindowContent::OffscreenWindowContent(QQuickItem *item) : m_item(item) {}

void OffscreenWindowContent::attachToWindow(QQuickWindow *window)
{
    if (!m_item || !window)
        return;
    QQuickItem *contentItem = window->contentItem();
    addFlipTransform(qmlEngine(m_item), contentItem);
    m_item->setParentItem(contentItem);
}
