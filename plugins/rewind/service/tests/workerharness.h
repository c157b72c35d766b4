#pragma once
// The service's worker thread and its timer, for the tests: ticks on demand or at a short period.

#include <QCoreApplication>
#include <QMetaObject>
#include <QSharedPointer>
#include <QThread>
#include <QTimer>

class WorkerHarness
{
public:
    WorkerHarness() : thread(new QThread), timer(new QTimer)
    {
        thread->start();
        thread->setPriority(QThread::LowPriority);
        timer->moveToThread(thread.data());
    }
    ~WorkerHarness() { shutDown(); }

    // Runs the timer on its own thread, as the service does.
    void start(int periodMs)
    {
        QMetaObject::invokeMethod(timer.data(), "start", Qt::QueuedConnection, Q_ARG(int, periodMs));
    }
    void stop()
    {
        if (thread->isRunning())
            QMetaObject::invokeMethod(timer.data(), "stop", Qt::BlockingQueuedConnection);
    }
    // One tick on the worker thread, then the queued results on this thread.
    void tick()
    {
        QMetaObject::invokeMethod(timer.data(), "timeout", Qt::BlockingQueuedConnection);
        deliver();
    }
    // Delivers what the worker has posted to this thread so far.
    static void deliver() { QCoreApplication::processEvents(); }
    // Lets the worker run what was queued to it, then delivers its results here.
    void flush()
    {
        run([] {});
        deliver();
        run([] {});
        deliver();
    }
    // Runs f on the worker thread and waits for it.
    template <class F> void run(F f)
    {
        QMetaObject::invokeMethod(timer.data(), std::move(f), Qt::BlockingQueuedConnection);
    }
    // Moves an updater made here to the worker thread.
    void adopt(QObject *object) { object->moveToThread(thread.data()); }
    void shutDown()
    {
        if (!thread->isRunning())
            return;
        stop();
        thread->quit();
        thread->wait();
    }

    QSharedPointer<QThread> thread;
    QSharedPointer<QTimer> timer;
};
