#include "task.h"

#include "qfakecast.h"

#include "conio/conio.h"

#include <QDebug>

#include <atomic>
#include <mutex>

// What the console thread shares with its Task; outlives a Task that detached the thread.
struct Task::ConsoleLink
{
    std::mutex mutex;
    Task *task = nullptr;
    std::atomic<bool> done{false};
};

Task::Task(const FakecastOptions &options, QVector<QByteArray> lines, QObject *parent)
    : QObject(parent),
      m_controller(new QFakecast(options.portFeedback, options.portControl, options.vsAddress,
                                 options.arAddress, std::move(lines), this)),
      m_link(std::make_shared<ConsoleLink>())
{
    m_link->task = this;
}

Task::~Task()
{
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->task = nullptr;
    }
    if (m_console.joinable()) {
        // A thread still waiting for a key cannot be woken: leave it behind.
        if (m_link->done)
            m_console.join();
        else
            m_console.detach();
    }
}

void Task::run()
{
    m_controller->start();
    if (m_console.joinable())
        return;
    m_console = std::thread([link = m_link] {
        int key = 0;
        while ((key = _getch()) != 'q') {
            if (key == -1) {
                qDebug("Console input ended; the key q can no longer be read.");
                link->done = true;
                return;
            }
        }
        std::lock_guard<std::mutex> lock(link->mutex);
        if (Task *task = link->task) {
            // The controller and its timer belong to the main thread.
            QMetaObject::invokeMethod(
                task,
                [task] {
                    task->m_controller->stop();
                    emit task->finished();
                },
                Qt::QueuedConnection);
        }
        link->done = true;
    });
}
