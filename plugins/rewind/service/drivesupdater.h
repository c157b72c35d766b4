#pragma once
// Keeps the list of archive drives on the worker thread, one Drive per bit of the drive mask.

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>

class Drive;
class QThread;
class QTimer;

class DrivesUpdater : public QObject
{
    Q_OBJECT
public:
    DrivesUpdater(IRewindServer *server, const QSharedPointer<QTimer> &timer,
                  const QSharedPointer<QThread> &thread);
    ~DrivesUpdater() override;

    QList<QSharedPointer<Drive>> drives() const { return m_drives; }

signals:
    void drivesChanged(QList<QSharedPointer<Drive>> drives);

public slots:
    void updateDrives();

public:
    Q_INVOKABLE void ResetRewind(IRewindServer *rewindService);

private:
    CComPtr<IRewindServer> m_server;
    QList<QSharedPointer<Drive>> m_drives;
    QSharedPointer<QTimer> m_timer;
    QSharedPointer<QThread> m_thread;
    quint64 m_driveMask = 0;
};
