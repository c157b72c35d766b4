#include "storageupdater.h"

#include "archivelists.h"
#include "archivemetatypes.h"
#include "multimedia/comexception.h"
#include "objectdeleter.h"
#include "rewindservicelogging.h"
#include "stream.h"

#include "archive/iattributestore.h"
#include "win32/debugoutput.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr DWORD kClassContext = 23;
constexpr DWORD kCreatedStreamType = 3;
} // namespace

StorageUpdater::StorageUpdater(IRewindServer *server, const QUuid &guid, const QSharedPointer<QTimer> &timer,
                               const QSharedPointer<QThread> &thread)
    : m_server(server), m_guid(guid), m_timer(timer), m_thread(thread)
{
    registerRewindServiceMetaTypes();
    OutputDebugStringA(QStringLiteral("StorageUpdater::StorageUpdater(guid=%1\n")
                           .arg(guid.toString(QUuid::WithBraces))
                           .toUtf8()
                           .constData());
    update();
}

StorageUpdater::~StorageUpdater() = default;

void StorageUpdater::update()
{
    try {
        updateDriveInfo();
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update storage drive info:" << e;
    }
    try {
        updateStreams();
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update streams:" << e;
    }
    try {
        updateStats();
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update storage stats:" << e;
    }
}

void StorageUpdater::updateDriveInfo()
{
    if (!m_server)
        throw ComException(E_POINTER);
    ULONGLONG mask = 0;
    throwIfFailed(m_server->GetDriveMask(&mask));

    const GUID storageId = nyx::com::fromQUuid(m_guid);
    QString name;
    qulonglong total = 0;
    for (int n = 0; n < 64; ++n) {
        if (!(mask & (1ULL << n)))
            continue;
        LONGLONG partSize = 0;
        CComBSTR driveName;
        if (SUCCEEDED(m_server->GetStoragePart(storageId, n, &partSize, &driveName)) && partSize != 0) {
            name += driveName.toQString();
            total += static_cast<qulonglong>(partSize);
        }
    }
    if (name != m_driveName) {
        m_driveName = name;
        emit driveNameChanged(name);
    }
    if (total != m_size) {
        m_size = total;
        emit sizeChanged(total);
    }
}

void StorageUpdater::updateStreams()
{
    if (!m_server)
        throw ComException(E_POINTER);
    const GUID storageId = nyx::com::fromQUuid(m_guid);
    DWORD count = 0;
    throwIfFailed(m_server->GetStreamCount(storageId, &count));
    if (count > rewindservice::kMaxListCount)
        throw ComException(E_UNEXPECTED, QStringLiteral("Stream count %1 refused").arg(count));

    std::vector<ArchiveStreamHead> heads(count);
    DWORD filled = 0;
    if (count != 0) {
        std::memset(heads.data(), 0, heads.size() * sizeof(ArchiveStreamHead));
        throwIfFailed(m_server->GetStreams(storageId, heads.data(), count, &filled));
        // Only the heads the server filled: the rest of the buffer is zeros, not streams.
        heads.resize(qMin(filled, count));
    }

    QSet<QUuid> ids;
    for (const ArchiveStreamHead &head : heads)
        ids.insert(nyx::com::toQUuid(head.streamId));
    if (ids == m_known)
        return;

    QList<QSharedPointer<Stream>> list;
    QSet<QUuid> placed;
    for (const ArchiveStreamHead &head : heads) {
        const QUuid streamId = nyx::com::toQUuid(head.streamId);
        if (placed.contains(streamId))
            continue; // listed twice by the server
        placed.insert(streamId);
        if (m_known.contains(streamId)) {
            for (const auto &stream : qAsConst(m_streams.streams))
                if (stream->guid() == streamId)
                    list.append(stream);
            continue;
        }
        const QString name = rewindservice::fixedName(head.name);
        const QUuid storageGuid = nyx::com::toQUuid(head.storageId);
        qCInfo(lcRewindService).noquote()
            << QStringLiteral("StorageUpdater::updateStreams() : ADD Storage=") +
                   rewindservice::guidText(storageGuid) + ", Stream=" + rewindservice::guidText(streamId) +
                   ", name=" + name;
        list.append(makeStream(storageGuid, streamId, false, name));
        list.append(makeStream(storageGuid, streamId, true, name));
    }
    m_streams.streams = list;
    m_known = ids;
    ++m_streams.revision;
    emit streamsChanged(m_streams);
}

void StorageUpdater::updateStats()
{
    if (!m_server)
        throw ComException(E_POINTER);
    CRewindStorageStats stats;
    std::memset(&stats, 0, sizeof stats);
    throwIfFailed(m_server->GetStorageStats(nyx::com::fromQUuid(m_guid), &stats));
    m_stats = stats;
    emit statsChanged(stats);
}

QSharedPointer<Stream> StorageUpdater::makeStream(const QUuid &storageGuid, const QUuid &streamGuid,
                                                  bool isAudio, const QString &name)
{
    auto stream =
        makeThreadShared(new Stream(m_server, storageGuid, streamGuid, isAudio, name, m_timer, m_thread));
    if (QCoreApplication::instance())
        stream->moveWithSequences(QCoreApplication::instance()->thread());
    return stream;
}

CreateStreamResult StorageUpdater::createStream(QString name)
{
    CreateStreamResult result(m_streams, QSharedPointer<Stream>());
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        if (name.size() > nyx::archive::kMaxNameUnits)
            throw ComException(E_FAIL, QStringLiteral("Name is too long"));

        auto record = std::make_unique<ArchiveStreamRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->head.storageId = nyx::com::fromQUuid(m_guid);
        record->head.streamType = kCreatedStreamType;
        rewindservice::writeFixedName(record->head.name, name);

        CComPtr<IAttributeStore> store;
        ::CoCreateInstance(CLSID_AttributeStore, nullptr, kClassContext, IID_IAttributeStore,
                           reinterpret_cast<void **>(&store));
        if (!store)
            throw ComException(E_POINTER);
        throwIfFailed(store->Bind(record->attributes, nyx::archive::kAttributeBlockSize, TRUE));

        CComPtr<IUnknown> created;
        throwIfFailed(m_server->CreateStream(record.get(), &created));

        const QUuid streamId = nyx::com::toQUuid(record->head.streamId);
        auto stream = makeStream(m_guid, streamId, false, name);
        m_streams.streams.append(stream);
        m_known.insert(streamId);
        ++m_streams.revision;
        emit streamsChanged(m_streams);
        result = CreateStreamResult(m_streams, stream);
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Rewind failed to create stream:" << e;
    }
    return result;
}

StreamList StorageUpdater::deleteStream(QUuid guid)
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        m_streams.streams.erase(
            std::remove_if(m_streams.streams.begin(), m_streams.streams.end(),
                           [&](const QSharedPointer<Stream> &s) { return s->guid() == guid; }),
            m_streams.streams.end());
        m_known.remove(guid);
        ++m_streams.revision;
        emit streamsChanged(m_streams);
        throwIfFailed(m_server->DeleteStream(nyx::com::fromQUuid(guid)));
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Rewind failed to delete stream:" << e;
    }
    return m_streams;
}
