#include "itemupdater.h"

#include "itemupdatermanager.h"

#include <QQuickItem>

ItemUpdater::ItemUpdater(QObject *parent) : QObject(parent) {}

void ItemUpdater::setItem(QQuickItem *item)
{
    if (item == m_item)
        return;
    if (m_item)
        ItemUpdaterManager::instance()->removeItem(m_item);
    m_item = item;
    if (item)
        ItemUpdaterManager::instance()->addItem(item);
    emit itemChanged();
}
