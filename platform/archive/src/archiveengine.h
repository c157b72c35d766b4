#pragma once
// One archive root as this process sees it: the drive list, the catalog of storages, streams and
// channels (catalog.db in the root), and the frame stores of the storages. Shared by every server
// object of the process that opens the same root; other processes open their own.

#include "framestore.h"
#include "sqlitedb.h"

#include "com/guid.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nyx::archive {
struct DriveConfig
{
    QString name;
    QString path;
};

struct StorageRow
{
    std::int64_t id = 0;
    GUID guid{};
    std::u16string name;
    int drive = 0;
    std::int64_t size = 0;
};

struct StreamRow
{
    std::int64_t id = 0;
    GUID guid{};
    std::int64_t storage = 0;
    GUID storageGuid{};
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> attributes;
};

// Read and commit counters of one storage in this process, and the last figures for the rates.
struct StorageCounters
{
    std::atomic<std::uint64_t> framesRead{0};
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<std::uint64_t> commits{0};
    std::mutex mutex;
    bool hasLast = false;
    std::chrono::steady_clock::time_point lastTime;
    std::uint64_t last[5] = {};
    double rates[5] = {};
};

// An exclusive lock on a stream's writer.lock, held by a writer from start to stop; released
// by the kernel when the process dies, so a crashed recorder never locks a stream for good.
class StreamLock
{
public:
    StreamLock() = default;
    ~StreamLock() { unlock(); }
    StreamLock(const StreamLock &) = delete;
    StreamLock &operator=(const StreamLock &) = delete;
    bool tryLock(const QString &folder);
    void unlock();
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

class ArchiveEngine
{
public:
    ~ArchiveEngine();
    // The engine of the root, opened on first use; fails when the root cannot be made or opened.
    static HRESULT forRoot(const QString &root, std::shared_ptr<ArchiveEngine> *engine);

    const QString &root() const { return m_root; }
    const std::vector<DriveConfig> &drives() const { return m_drives; }
    std::uint64_t driveMask() const;
    std::int64_t minimumStorageSize() const { return 16LL * 1024 * 1024; }

    HRESULT listStorages(std::vector<StorageRow> *rows);
    HRESULT findStorage(const GUID &guid, StorageRow *row);
    HRESULT findStorageById(std::int64_t id, StorageRow *row);
    HRESULT createStorage(const std::u16string &name, int drive, std::int64_t size,
                          const std::uint8_t *attributes, GUID *guid);
    HRESULT deleteStorage(const GUID &guid);

    HRESULT listStreams(std::int64_t storage, std::vector<StreamRow> *rows);
    HRESULT findStream(const GUID &guid, StreamRow *row);
    HRESULT createStream(const GUID &storage, const std::u16string &name, std::uint32_t type,
                         const std::uint8_t *attributes, GUID *guid);
    HRESULT deleteStream(const GUID &guid);
    HRESULT writeAttributes(std::int64_t stream, const std::uint8_t *attributes);

    HRESULT createChannel(std::int64_t stream, const std::u16string &name, std::uint8_t flag,
                          std::uint32_t *id, bool *existed);
    HRESULT findChannel(std::int64_t stream, const std::u16string &name, std::uint8_t *flag,
                        std::uint32_t *id);
    HRESULT channelFlag(std::int64_t stream, std::uint32_t id, std::uint8_t *flag);

    HRESULT frameStore(std::int64_t storage, std::shared_ptr<FrameStore> *store);
    // A stream's row and the frame store of its storage.
    HRESULT findStreamStore(const GUID &guid, StreamRow *row, std::shared_ptr<FrameStore> *store);
    QString storageFolder(const StorageRow &row) const;
    QString streamFolder(const StreamRow &row);
    StorageCounters &counters(std::int64_t storage);
    // Bytes the storage's files take on disk.
    std::uint64_t diskUsage(const StorageRow &row) const;

private:
    ArchiveEngine() = default;
    HRESULT open(const QString &root);
    void loadDrives();
    // Folders on the drives named like storages.
    QStringList storageFolders() const;
    HRESULT readStream(Statement &s, StreamRow *row);
    // Before a write to the catalog, with m_catalogMutex held: a catalog opened read-only is opened
    // again for writing once the root can be written. False while it stays read-only.
    bool writableCatalog();
    // Takes every writer lock of the storage's streams, or fails with a sharing violation.
    HRESULT lockStreams(const StorageRow &storage, const std::vector<StreamRow> &streams,
                        std::vector<std::unique_ptr<StreamLock>> *locks);

    QString m_root;
    std::vector<DriveConfig> m_drives;
    std::mutex m_catalogMutex;
    SqliteDb m_catalog;
    std::mutex m_storesMutex;
    std::map<std::int64_t, std::shared_ptr<FrameStore>> m_stores;
    std::map<std::int64_t, std::unique_ptr<StorageCounters>> m_counters;
};

QString guidFolderName(const GUID &guid);
} // namespace nyx::archive
