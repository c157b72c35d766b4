#pragma once

#include <QObject>
#include <QPointer>

class QQuickItem;

// Adopts one item into the hidden window so that it is polished and synchronised off screen.
class ItemUpdater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQuickItem *item READ item WRITE setItem NOTIFY itemChanged)
    Q_CLASSINFO("DefaultProperty", "item")
public:
    explicit ItemUpdater(QObject *parent = nullptr);

    QQuickItem *item() const { return m_item; }
    void setItem(QQuickItem *item);

signals:
    void itemChanged();

private:
    QPointer<QQuickItem> m_item;
};
