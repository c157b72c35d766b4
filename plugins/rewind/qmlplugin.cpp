#include "qmlplugin.h"

#include "archivemetatypes.h"
#include "drive.h"
#include "range.h"
#include "rangeupdater.h"
#include "rewindservice.h"
#include "rewindstats.h"
#include "storage.h"
#include "storagelist.h"
#include "storagestats.h"
#include "stream.h"
#include "streamlist.h"

#include <QtQml>

namespace {
// Registers T under name unless some earlier module already did: the queued signals and blocking
// calls between the threads find their argument types by these names.
template <class T> void registerMetaTypeOnce(const char *name)
{
    if (QMetaType::type(name) == QMetaType::UnknownType)
        qRegisterMetaType<T>(name);
}
} // namespace

void QmlPlugin::registerTypes(const char *uri)
{
    // A new service per engine: each engine gets its own referee link, worker and server binding.
    qmlRegisterSingletonType<RewindService>(
        uri, 1, 0, "RewindService", [](QQmlEngine *, QJSEngine *) -> QObject * { return new RewindService; });

    const QString reason = QStringLiteral("Use RewindService enumeration");
    qmlRegisterUncreatableType<Stream>(uri, 1, 0, "Stream", reason);
    qmlRegisterUncreatableType<Storage>(uri, 1, 0, "Storage", reason);
    qmlRegisterUncreatableType<Drive>(uri, 1, 0, "Drive", reason);
    qmlRegisterUncreatableType<StorageStats>(uri, 1, 0, "StorageStats", reason);
    qmlRegisterUncreatableType<RewindStats>(uri, 1, 0, "RewindStats", reason);

    // The recording and playback nodes go here, before Range:
    //   qmlRegisterType<RewindSink>(uri, 1, 0, "RewindSink");
    //   qmlRegisterType<RewindSource>(uri, 1, 0, "RewindSource");
    qmlRegisterType<Range>(uri, 1, 0, "Range");

    registerMetaTypeOnce<CRewindMemoryStatus>("CRewindMemoryStatus");
    registerMetaTypeOnce<QList<QSharedPointer<Drive>>>("QList<QSharedPointer<Drive>>");
    registerMetaTypeOnce<CRewindStorageStats>("CRewindStorageStats");
    registerMetaTypeOnce<StorageList>("StorageList");
    registerMetaTypeOnce<CreateStorageResult>("CreateStorageResult");
    registerMetaTypeOnce<StreamList>("StreamList");
    registerMetaTypeOnce<CreateStreamResult>("CreateStreamResult");
    registerMetaTypeOnce<QSharedPointer<RangeUpdater>>("QSharedPointer<RangeUpdater>");
    registerMetaTypeOnce<QVector<Stream::SequenceInfo>>("QVector<Stream::SequenceInfo>");
}
