#include "statechangeslist.h"

#include <private/qquickstate_p_p.h>

// The base keeps its state in a private part of its own; the plain constructor would leave it out.
StateChangesList::StateChangesList(QObject *parent)
    : QQuickStateOperation(*new QQuickStateOperationPrivate, parent)
{
}

QQmlListProperty<QQuickStateOperation> StateChangesList::changes()
{
    return QQmlListProperty<QQuickStateOperation>(this, nullptr, &StateChangesList::append,
                                                  &StateChangesList::count, &StateChangesList::at,
                                                  &StateChangesList::clear);
}

QQuickStateOperation::ActionList StateChangesList::actions()
{
    ActionList result;
    for (const QPointer<QQuickStateOperation> &operation : qAsConst(m_changes)) {
        if (operation)
            result += operation->actions();
    }
    return result;
}

void StateChangesList::append(QQmlListProperty<QQuickStateOperation> *list, QQuickStateOperation *operation)
{
    static_cast<StateChangesList *>(list->object)->m_changes.append(operation);
}

int StateChangesList::count(QQmlListProperty<QQuickStateOperation> *list)
{
    return static_cast<StateChangesList *>(list->object)->m_changes.size();
}

QQuickStateOperation *StateChangesList::at(QQmlListProperty<QQuickStateOperation> *list, int index)
{
    return static_cast<StateChangesList *>(list->object)->m_changes.value(index).data();
}

void StateChangesList::clear(QQmlListProperty<QQuickStateOperation> *list)
{
    static_cast<StateChangesList *>(list->object)->m_changes.clear();
}
