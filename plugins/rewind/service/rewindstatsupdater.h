#pragma once
// Reads the archive server's memory status on the worker thread.

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QObject>

class RewindStatsUpdater : public QObject
{
    Q_OBJECT
public:
    explicit RewindStatsUpdater(IRewindServer *server);

    CRewindMemoryStatus stats() const { return m_stats; }

signals:
    void statsUpdated(CRewindMemoryStatus stats);

public slots:
    void updateMemoryStatus();

public:
    Q_INVOKABLE void ResetRewind(IRewindServer *rewindService);

private:
    CComPtr<IRewindServer> m_server;
    CRewindMemoryStatus m_stats{};
};
