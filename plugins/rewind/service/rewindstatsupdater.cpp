#include "rewindstatsupdater.h"

#include "archivemetatypes.h"
#include "multimedia/comexception.h"
#include "rewindservicelogging.h"

#include <cstring>

RewindStatsUpdater::RewindStatsUpdater(IRewindServer *server) : m_server(server)
{
    registerRewindServiceMetaTypes();
    updateMemoryStatus();
}

void RewindStatsUpdater::ResetRewind(IRewindServer *rewindService)
{
    if (rewindService != m_server.p)
        m_server = rewindService;
    updateMemoryStatus();
}

void RewindStatsUpdater::updateMemoryStatus()
{
    if (!m_server)
        return;
    try {
        CRewindMemoryStatus status;
        std::memset(&status, 0, sizeof status);
        throwIfFailed(m_server->GetMemoryStatus(&status));
        if (std::memcmp(&status, &m_stats, sizeof status) == 0)
            return;
        m_stats = status;
        emit statsUpdated(m_stats);
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update memory stats:" << e;
    }
}
