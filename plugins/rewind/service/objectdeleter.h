#pragma once
// Shared QObjects that two threads hold are deleted on the thread they live on, by its event
// loop, so that no thread deletes an object that the other one may be running.

#include <QObject>
#include <QSharedPointer>

void deleteOnOwnThread(QObject *object);

template <class T> QSharedPointer<T> makeThreadShared(T *object)
{
    return QSharedPointer<T>(object, &deleteOnOwnThread);
}
