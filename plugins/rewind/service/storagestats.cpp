#include "storagestats.h"

#include "archivemetatypes.h"

StorageStats::StorageStats(QObject *parent) : QObject(parent)
{
    registerRewindServiceMetaTypes();
}

void StorageStats::update(CRewindStorageStats s)
{
// Field by field in record order; for the rates, unordered values (a NaN on either side) count
// as a change.
#define NYX_APPLY_FIELD(field)                                                                               \
    if (!(m_stats.field == s.field)) {                                                                       \
        m_stats.field = s.field;                                                                             \
        emit field##Changed();                                                                               \
    }
    NYX_APPLY_FIELD(dataSizeOnDisk)
    NYX_APPLY_FIELD(lockedDataSizeOnDisk)
    NYX_APPLY_FIELD(totalFramesWritten)
    NYX_APPLY_FIELD(totalBytesWritten)
    NYX_APPLY_FIELD(currWriteFramesRate)
    NYX_APPLY_FIELD(currWriteBytesRate)
    NYX_APPLY_FIELD(totalFramesReaded)
    NYX_APPLY_FIELD(totalBytesReaded)
    NYX_APPLY_FIELD(currReadFramesRate)
    NYX_APPLY_FIELD(currReadBytesRate)
    NYX_APPLY_FIELD(totalFATPagesWritten)
    NYX_APPLY_FIELD(currWriteFATPagesRate)
#undef NYX_APPLY_FIELD
}
