#include "storagesupdater.h"

#include "archivelists.h"
#include "archivemetatypes.h"
#include "multimedia/comexception.h"
#include "objectdeleter.h"
#include "rewindservicelogging.h"
#include "storage.h"
#include "storageupdater.h"
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
} // namespace

StoragesUpdater::StoragesUpdater(IRewindServer *server, const QSharedPointer<QTimer> &timer,
                                 const QSharedPointer<QThread> &thread)
    : m_server(server), m_timer(timer), m_thread(thread)
{
    registerRewindServiceMetaTypes();
    m_list.revision = 1;
    updateStorages();
}

StoragesUpdater::~StoragesUpdater() = default;

void StoragesUpdater::publish()
{
    ++m_list.revision;
    emit storagesChanged(m_list);
}

void StoragesUpdater::ResetRewind(IRewindServer *rewindService)
{
    if (rewindService != m_server.p)
        m_server = rewindService;
    const qint64 before = m_list.revision;
    updateStorages();
    // The service waits for a first list after every hand-over: an archive without storages
    // (or a failing read) must not leave it waiting.
    if (m_list.revision == before)
        publish();
}

QSharedPointer<Storage> StoragesUpdater::makeStorage(const QUuid &guid, const QString &name)
{
    auto storage = makeThreadShared(new Storage(m_server, guid, name, m_timer, m_thread));
    if (QCoreApplication::instance())
        storage->moveToThread(QCoreApplication::instance()->thread());
    return storage;
}

void StoragesUpdater::updateStorages()
{
    if (!m_server) {
        if (!m_known.isEmpty()) {
            m_known.clear();
            m_list.storages.clear();
            publish();
            OutputDebugStringA("StoragesUpdater::updateStorages ---xxxxx--- Reset all storages because of "
                               "disconnect from Rewind service\r\n");
        }
        return;
    }
    try {
        DWORD count = 0;
        throwIfFailed(m_server->GetStorageCount(&count));
        if (count > rewindservice::kMaxListCount)
            throw ComException(E_UNEXPECTED, QStringLiteral("Storage count %1 refused").arg(count));
        std::vector<ArchiveStorageRecord> records(count);
        if (count != 0) {
            std::memset(records.data(), 0, records.size() * sizeof(ArchiveStorageRecord));
            DWORD filled = 0;
            throwIfFailed(m_server->GetStorages(records.data(), count, &filled));
            // Only the records the server filled: the rest of the buffer is zeros, not storages.
            records.resize(qMin(filled, count));
        }

        QSet<QUuid> ids;
        for (const ArchiveStorageRecord &record : records)
            ids.insert(nyx::com::toQUuid(record.storageId));
        if (ids == m_known)
            return;

        QList<QSharedPointer<Storage>> list;
        QSet<QUuid> placed;
        for (const ArchiveStorageRecord &record : records) {
            const QUuid id = nyx::com::toQUuid(record.storageId);
            if (placed.contains(id))
                continue; // listed twice by the server
            placed.insert(id);
            QSharedPointer<Storage> storage;
            if (m_known.contains(id)) {
                for (const auto &existing : qAsConst(m_list.storages))
                    if (existing->guid() == id)
                        storage = existing;
            }
            if (!storage)
                storage = makeStorage(id, rewindservice::fixedName(record.name));
            list.append(storage);
        }
        m_known = ids;
        m_list.storages = list;
        publish();
        writeListing();
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update storages info:" << e;
    }
}

void StoragesUpdater::writeListing() const
{
    // From the worker's own data: the storage updaters live on this thread, the Storage
    // objects' changing state belongs to the GUI thread.
    QString text = QStringLiteral("StoragesUpdater::updateStorages --- New Storage List:\n");
    for (const auto &storage : m_list.storages) {
        const QSharedPointer<StorageUpdater> updater = storage->updater();
        text += QStringLiteral("   Storage[%1]='%2', size=%3.\n")
                    .arg(storage->guid().toString(QUuid::WithBraces), storage->name())
                    .arg(updater ? updater->size() : 0);
        if (!updater)
            continue;
        for (const auto &stream : updater->streams().streams)
            text += QStringLiteral("      Stream[%1]='%2'\n")
                        .arg(stream->guid().toString(QUuid::WithBraces), stream->name());
    }
    text += QStringLiteral("END.\n");
    OutputDebugStringW(reinterpret_cast<LPCWSTR>(text.utf16()));
}

CreateStorageResult StoragesUpdater::createStorage(QString name, int driveIndex, qlonglong size)
{
    CreateStorageResult result(m_list, QSharedPointer<Storage>());
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        if (name.size() > nyx::archive::kMaxNameUnits)
            throw ComException(E_FAIL, QStringLiteral("Name is too long"));

        auto block = std::make_unique<CreateStorageBlock>();
        std::memset(block.get(), 0, sizeof *block);
        rewindservice::writeFixedName(block->name, name);
        block->version = 1;
        block->driveIndex = static_cast<DWORD>(driveIndex);
        block->size = size;

        CComPtr<IAttributeStore> store;
        const HRESULT hr = ::CoCreateInstance(CLSID_AttributeStore, nullptr, kClassContext,
                                              IID_IAttributeStore, reinterpret_cast<void **>(&store));
        throwIfFailed(hr);
        if (!store)
            throw ComException(E_POINTER);
        throwIfFailed(store->Bind(block->attributes, nyx::archive::kAttributeBlockSize, TRUE));

        CComPtr<IUnknown> created;
        throwIfFailed(m_server->CreateStorage(block.get(), &created));

        const QUuid id = nyx::com::toQUuid(block->storageId);
        auto storage = makeStorage(id, name);
        m_list.storages.append(storage);
        m_known.insert(id);
        publish();
        result = CreateStorageResult(m_list, storage);
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Rewind failed to create storage:" << e;
    }
    return result;
}

DeleteStorageResult StoragesUpdater::deleteStorage(QUuid storageId)
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        // A storage that is being recorded, or one the server does not know, stays listed.
        throwIfFailed(m_server->DeleteStorage(nyx::com::fromQUuid(storageId)));
        m_list.storages.erase(
            std::remove_if(m_list.storages.begin(), m_list.storages.end(),
                           [&](const QSharedPointer<Storage> &s) { return s->guid() == storageId; }),
            m_list.storages.end());
        m_known.remove(storageId);
        publish();
        return DeleteStorageResult(true, m_list);
    } catch (const ComException &e) {
        qCWarning(lcRewindService) << "Rewind failed to delete storage" << storageId << ":" << e;
    }
    return DeleteStorageResult(false, m_list);
}
