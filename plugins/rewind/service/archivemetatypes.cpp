#include "archivemetatypes.h"

#include "drive.h"
#include "rangeupdater.h"
#include "storagelist.h"
#include "stream.h"
#include "streamlist.h"

#include <QList>
#include <QSharedPointer>
#include <mutex>

void registerRewindServiceMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<IRewindServer *>("IRewindServer*");
        qRegisterMetaType<CRewindMemoryStatus>("CRewindMemoryStatus");
        qRegisterMetaType<QList<QSharedPointer<Drive>>>("QList<QSharedPointer<Drive>>");
        qRegisterMetaType<CRewindStorageStats>("CRewindStorageStats");
        qRegisterMetaType<StorageList>("StorageList");
        qRegisterMetaType<CreateStorageResult>("CreateStorageResult");
        qRegisterMetaType<DeleteStorageResult>("DeleteStorageResult");
        qRegisterMetaType<StreamList>("StreamList");
        qRegisterMetaType<CreateStreamResult>("CreateStreamResult");
        qRegisterMetaType<QSharedPointer<RangeUpdater>>("QSharedPointer<RangeUpdater>");
        qRegisterMetaType<Stream::SequenceInfo>("Stream::SequenceInfo");
        qRegisterMetaType<QVector<Stream::SequenceInfo>>("QVector<Stream::SequenceInfo>");
    });
}
