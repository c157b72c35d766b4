#include "rewindstats.h"

#include "archivemetatypes.h"

RewindStats::RewindStats(QObject *parent) : QObject(parent)
{
    registerRewindServiceMetaTypes();
}

void RewindStats::update(CRewindMemoryStatus s)
{
#define NYX_APPLY_FIELD(field)                                                                               \
    if (m_stats.field != s.field) {                                                                          \
        m_stats.field = s.field;                                                                             \
        emit field##Changed();                                                                               \
    }
    NYX_APPLY_FIELD(totalPhysMemory)
    NYX_APPLY_FIELD(availPhysMemory)
    NYX_APPLY_FIELD(totalVirtualMemory)
    NYX_APPLY_FIELD(availVirtualMemory)
    NYX_APPLY_FIELD(totalProcessAddressSpace)
    NYX_APPLY_FIELD(availProcessAddressSpace)
#undef NYX_APPLY_FIELD
}
