#pragma once

#include <QSharedMemory>
#include <QString>
#include <QSystemSemaphore>

// Refuses a second instance of one executable path, whatever its application name.
// The segment holds the owner's process id, so one left behind by a killed instance is free.
class SingleInstanceGuard
{
public:
    SingleInstanceGuard();
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    // SHA-1 (hex) of the lower-case program path followed by the suffix.
    static QString generateKeyHash(const QString &suffix);

    bool tryToRun();
    bool isAnotherRunning();
    void release();

private:
    QSystemSemaphore m_semaphore;
    QSharedMemory m_sharedMemory;
};
