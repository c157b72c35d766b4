#include "processmanager.h"

#include "process.h"

#include <QCoreApplication>
#include <QTimer>

ProcessManager::ProcessManager(const QStringList &names, QObject *parent) : QObject(parent), m_names(names)
{
    // The children start once the event loop runs.
    QTimer::singleShot(1, this, &ProcessManager::start);
}

ProcessManager::~ProcessManager()
{
    // Each child is stopped gracefully, one after the other.
    m_processes.clear();
}

void ProcessManager::start()
{
    m_processes.clear();
    for (const QString &name : m_names)
        addProcess(name);
}

void ProcessManager::addProcess(const QString &name)
{
    QSharedPointer<Process> process(new Process(name));
    // Queued: the list is never emptied inside a signal of one of its own processes.
    connect(process.data(), &Process::exitRequested, this, &ProcessManager::exit, Qt::QueuedConnection);
    connect(process.data(), &Process::restartRequested, this, &ProcessManager::start, Qt::QueuedConnection);
    m_processes.append(process);
    process->start();
}

void ProcessManager::exit()
{
    m_processes.clear();
    QCoreApplication::exit(0);
}
