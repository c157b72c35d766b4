#include "storage.h"

#include "archivelists.h"
#include "archivemetatypes.h"
#include "objectdeleter.h"
#include "rewindservicelogging.h"
#include "storagestats.h"
#include "storageupdater.h"
#include "stream.h"

#include <QQmlEngine>
#include <QThread>
#include <QTimer>

Storage::Storage(IRewindServer *server, const QUuid &guid, const QString &name,
                 const QSharedPointer<QTimer> &timer, const QSharedPointer<QThread> &thread)
{
    registerRewindServiceMetaTypes();
    m_updater = makeThreadShared(new StorageUpdater(server, guid, timer, thread));
    m_name = name;
    m_driveName = m_updater->driveName();
    m_size = m_updater->size();
    m_guid = guid;
    m_stats = new StorageStats(this);
    m_streams = m_updater->streams().streams;
    qCInfo(lcRewindService).noquote()
        << "Storage::Storage() : Storage=" + rewindservice::guidText(guid) + ", name=" + name;

    // By signature: a functor connection leaks its slot object in Qt 5 when the receiver is
    // destroyed here while the worker emits.
    connect(m_updater.data(), SIGNAL(driveNameChanged(QString)), this, SLOT(setDriveName(QString)));
    connect(m_updater.data(), SIGNAL(sizeChanged(qulonglong)), this, SLOT(setSize(qulonglong)));
    connect(m_updater.data(), SIGNAL(streamsChanged(StreamList)), this, SLOT(updateStreams(StreamList)));
    connect(m_updater.data(), SIGNAL(statsChanged(CRewindStorageStats)), m_stats.data(),
            SLOT(update(CRewindStorageStats)));
    if (timer)
        connect(timer.data(), &QTimer::timeout, m_updater.data(), &StorageUpdater::update);
    if (thread && m_updater->thread() != thread.data())
        m_updater->moveToThread(thread.data());
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

Storage::~Storage() = default;

void Storage::releaseUpdater()
{
    if (!m_updater)
        return;
    disconnect(m_updater.data(), nullptr, this, nullptr);
    if (m_stats)
        disconnect(m_updater.data(), nullptr, m_stats.data(), nullptr);
    m_updater.reset();
}

QQmlListProperty<Stream> Storage::streams()
{
    return QQmlListProperty<Stream>(this, nullptr, &Storage::streamCount, &Storage::streamAt);
}

int Storage::streamCount(QQmlListProperty<Stream> *list)
{
    return static_cast<Storage *>(list->object)->m_streams.size();
}

Stream *Storage::streamAt(QQmlListProperty<Stream> *list, int index)
{
    const auto &streams = static_cast<Storage *>(list->object)->m_streams;
    return index >= 0 && index < streams.size() ? streams.at(index).data() : nullptr;
}

qulonglong Storage::dataSizeOnDisk() const
{
    return m_stats ? m_stats->dataSizeOnDisk() : 0;
}

Stream *Storage::createStream(QString)
{
    return nullptr;
}

bool Storage::deleteStream(Stream *)
{
    return false;
}

Stream *Storage::getStreamByName(QString name)
{
    Stream *found = nullptr;
    for (const auto &stream : qAsConst(m_streams)) {
        if (stream->name() == name) {
            found = stream.data();
            break;
        }
    }
    qCInfo(lcRewindService).nospace().noquote()
        << "Storage::getStreamByName() : Storage=" << m_name << ", stream name=" << name << " "
        << static_cast<QObject *>(found);
    return found;
}

Stream *Storage::getOrCreateStreamByName(QString name)
{
    qCInfo(lcRewindService).nospace().noquote()
        << "Storage::getOrCreateStreamByName() : Storage=" << m_name << ", stream name=" << name;
    if (Stream *stream = getStreamByName(name))
        return stream;
    return createStream(name);
}

void Storage::updateStreams(StreamList streams)
{
    if (streams.revision <= m_streamsRevision)
        return;
    m_streamsRevision = streams.revision;
    // Streams leaving the list are released only after QML has been told.
    const QList<QSharedPointer<Stream>> previous = std::exchange(m_streams, streams.streams);
    emit streamsChanged();
}

void Storage::setDriveName(QString name)
{
    qCInfo(lcRewindService).nospace().noquote() << "Storage::setDriveName() name=" << name;
    if (name == m_driveName)
        return;
    m_driveName = name;
    emit driveNameChanged();
}

void Storage::setSize(qulonglong size)
{
    qCInfo(lcRewindService).nospace() << "Storage::setSize() size=" << size;
    if (size == m_size)
        return;
    m_size = size;
    emit sizeChanged();
}
