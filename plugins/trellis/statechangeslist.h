#pragma once

#include <QList>
#include <QPointer>
#include <QQmlListProperty>
#include <private/qquickstate_p.h>

// Several state operations handled as one entry of a State.
class StateChangesList : public QQuickStateOperation
{
    Q_OBJECT
    Q_PROPERTY(QQmlListProperty<QQuickStateOperation> changes READ changes)
    Q_CLASSINFO("DefaultProperty", "changes")
public:
    explicit StateChangesList(QObject *parent = nullptr);

    QQmlListProperty<QQuickStateOperation> changes();
    ActionList actions() override;

private:
    static void append(QQmlListProperty<QQuickStateOperation> *list, QQuickStateOperation *operation);
    static int count(QQmlListProperty<QQuickStateOperation> *list);
    static QQuickStateOperation *at(QQmlListProperty<QQuickStateOperation> *list, int index);
    static void clear(QQmlListProperty<QQuickStateOperation> *list);

    QList<QPointer<QQuickStateOperation>> m_changes; // not owned; a destroyed entry reads as null
};
