#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QVector>

class Process;

// Starts the named child programs in order, restarts them by their exit codes and stops them
// all when one asks to stop.
class ProcessManager : public QObject
{
    Q_OBJECT

public:
    explicit ProcessManager(const QStringList &names, QObject *parent = nullptr);
    ~ProcessManager() override;

    const QVector<QSharedPointer<Process>> &processes() const { return m_processes; }

public slots:
    void exit();
    void start();

private:
    void addProcess(const QString &name);

    QVector<QSharedPointer<Process>> m_processes;
    const QStringList m_names;
};
