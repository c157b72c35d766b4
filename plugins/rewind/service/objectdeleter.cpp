#include "objectdeleter.h"

#include <QThread>

void deleteOnOwnThread(QObject *object)
{
    if (!object)
        return;
    QThread *thread = object->thread();
    // A thread that is not running (never started, or finished) runs nothing and would never
    // process the deferred delete: delete at once then.
    if (!thread || (thread != QThread::currentThread() && !thread->isRunning()))
        delete object;
    else
        object->deleteLater();
}
