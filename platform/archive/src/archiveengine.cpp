#include "archiveengine.h"

#include "archiveerrors.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>
#include <QUuid>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcFrameStore)

namespace nyx::archive {
namespace {
const char *const kCatalogSchema = R"(
CREATE TABLE IF NOT EXISTS storages(id INTEGER PRIMARY KEY AUTOINCREMENT, guid BLOB NOT NULL UNIQUE,
  name BLOB NOT NULL UNIQUE, drive INTEGER NOT NULL, size INTEGER NOT NULL, attrs BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS streams(id INTEGER PRIMARY KEY AUTOINCREMENT, guid BLOB NOT NULL UNIQUE,
  storage INTEGER NOT NULL, name BLOB NOT NULL, type INTEGER NOT NULL, attrs BLOB NOT NULL,
  UNIQUE(storage, name));
CREATE TABLE IF NOT EXISTS channels(stream INTEGER NOT NULL, id INTEGER NOT NULL, name BLOB NOT NULL,
  flag INTEGER NOT NULL, PRIMARY KEY(stream, id), UNIQUE(stream, name));
)";

std::mutex g_enginesMutex;
std::map<QString, std::weak_ptr<ArchiveEngine>> g_engines;

std::u16string blobName(const Statement &s, int column)
{
    int size = 0;
    const void *data = s.blobData(column, &size);
    std::u16string name(static_cast<std::size_t>(size) / 2, u'\0');
    if (size >= 2)
        std::memcpy(&name[0], data, name.size() * 2);
    return name;
}

GUID blobGuid(const Statement &s, int column)
{
    GUID g{};
    int size = 0;
    const void *data = s.blobData(column, &size);
    if (size == sizeof(GUID))
        std::memcpy(&g, data, sizeof g);
    return g;
}

bool removeTree(const QString &path)
{
    QDir dir(path);
    return !dir.exists() || dir.removeRecursively();
}

void removeSegments(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("seg-*.dat")}, QDir::Files))
        QFile::remove(dir.filePath(name));
}
} // namespace

QString guidFolderName(const GUID &guid)
{
    return nyx::com::toQUuid(guid).toString(QUuid::WithoutBraces).toUpper();
}

bool StreamLock::tryLock(const QString &folder)
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(folder);
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/writer.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void StreamLock::unlock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

ArchiveEngine::~ArchiveEngine() = default;

HRESULT ArchiveEngine::forRoot(const QString &root, std::shared_ptr<ArchiveEngine> *engine)
{
    const QString key = QDir::cleanPath(QDir(root).absolutePath());
    std::lock_guard<std::mutex> lock(g_enginesMutex);
    if (auto existing = g_engines[key].lock()) {
        *engine = existing;
        return S_OK;
    }
    std::shared_ptr<ArchiveEngine> created(new ArchiveEngine());
    const HRESULT hr = created->open(key);
    if (FAILED(hr))
        return hr;
    g_engines[key] = created;
    *engine = created;
    return S_OK;
}

HRESULT ArchiveEngine::open(const QString &root)
{
    m_root = root;
    if (!QDir(root).exists() && !QDir().mkpath(root))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    loadDrives();
    const QString catalog = root + QStringLiteral("/catalog.db");
    const QFileInfo info(catalog);
    if (!info.exists() || info.size() == 0) {
        // A new catalog over storages already on disk would orphan all of them.
        const QStringList orphans = storageFolders();
        if (!orphans.isEmpty()) {
            qCCritical(lcFrameStore).noquote()
                << "The archive catalog" << catalog
                << "is missing or empty, but storage folders exist:" << orphans.join(QStringLiteral(", "))
                << "- not starting a new catalog over them; restore catalog.db or move the folders away";
            return kFileCorrupt;
        }
    }
    if (!m_catalog.open(catalog) || (!m_catalog.readOnly() && !m_catalog.exec(kCatalogSchema))) {
        qCWarning(lcFrameStore) << "Archive catalog in" << root << "cannot be used:" << m_catalog.error();
        return m_catalog.failure();
    }
    return S_OK;
}

bool ArchiveEngine::writableCatalog()
{
    if (!m_catalog.readOnly())
        return true;
    // Every use of the catalog is under m_catalogMutex, held here, and the engine is the only one of
    // its root in the process: no other connection to the catalog keeps its read-only shared memory.
    if (!m_catalog.reopenWritable())
        return false;
    if (!m_catalog.exec(kCatalogSchema)) {
        qCWarning(lcFrameStore) << "Archive catalog in" << m_root
                                << "cannot be written:" << m_catalog.error();
        return false;
    }
    qCInfo(lcFrameStore) << "Archive catalog in" << m_root << "can be written again";
    return true;
}

QStringList ArchiveEngine::storageFolders() const
{
    QStringList found;
    for (const DriveConfig &drive : m_drives) {
        const QDir dir(drive.path);
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!QUuid::fromString(name).isNull())
                found << dir.filePath(name);
        }
    }
    return found;
}

void ArchiveEngine::loadDrives()
{
    // drives.txt: one drive a line, "<name>=<folder>", folders relative to the root; the line
    // order gives the drive numbers. Written with one drive when missing.
    const QString file = m_root + QStringLiteral("/drives.txt");
    if (!QFile::exists(file)) {
        QFile out(file);
        if (out.open(QIODevice::WriteOnly | QIODevice::Text))
            out.write("# Archive drives: <name>=<folder>, one a line; the order gives the drive numbers.\n"
                      "A:=drive-a\n");
    }
    QFile in(file);
    if (in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream text(&in);
        while (!text.atEnd() && m_drives.size() < 64) {
            const QString line = text.readLine().trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const int eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0 || eq == line.size() - 1)
                continue;
            DriveConfig drive{line.left(eq).trimmed(), line.mid(eq + 1).trimmed()};
            if (QDir::isRelativePath(drive.path))
                drive.path = m_root + QLatin1Char('/') + drive.path;
            m_drives.push_back(drive);
        }
    }
    if (m_drives.empty())
        m_drives.push_back({QStringLiteral("A:"), m_root + QStringLiteral("/drive-a")});
}

std::uint64_t ArchiveEngine::driveMask() const
{
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < m_drives.size(); ++i) {
        if (QDir().mkpath(m_drives[i].path))
            mask |= 1ULL << i;
    }
    return mask;
}

HRESULT ArchiveEngine::listStorages(std::vector<StorageRow> *rows)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    rows->clear();
    Statement &s = m_catalog.cached("SELECT id, guid, name, drive, size FROM storages ORDER BY id");
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        rows->push_back({s.int64(0), blobGuid(s, 1), blobName(s, 2), int(s.int64(3)), s.int64(4)});
    s.reset();
    return rc == SQLITE_DONE ? S_OK : m_catalog.failure();
}

HRESULT ArchiveEngine::findStorage(const GUID &guid, StorageRow *row)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    Statement &s = m_catalog.cached("SELECT id, guid, name, drive, size FROM storages WHERE guid=?1");
    s.bind(1, &guid, sizeof guid);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        *row = {s.int64(0), blobGuid(s, 1), blobName(s, 2), int(s.int64(3)), s.int64(4)};
    s.reset();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_catalog.failure();
}

HRESULT ArchiveEngine::findStorageById(std::int64_t id, StorageRow *row)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    Statement &s = m_catalog.cached("SELECT id, guid, name, drive, size FROM storages WHERE id=?1");
    s.bind(1, id);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        *row = {s.int64(0), blobGuid(s, 1), blobName(s, 2), int(s.int64(3)), s.int64(4)};
    s.reset();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_catalog.failure();
}

HRESULT ArchiveEngine::createStorage(const std::u16string &name, int drive, std::int64_t size,
                                     const std::uint8_t *attributes, GUID *guid)
{
    const GUID id = nyx::com::fromQUuid(QUuid::createUuid());
    {
        std::lock_guard<std::mutex> lock(m_catalogMutex);
        writableCatalog(); // a read-only one refuses the insert below as access denied
        Statement &s =
            m_catalog.cached("INSERT INTO storages(guid, name, drive, size, attrs) VALUES(?1,?2,?3,?4,?5)");
        s.bind(1, &id, sizeof id).bind(2, name.data(), int(name.size() * 2)).bind(3, drive).bind(4, size);
        s.bind(5, attributes, 4096);
        const int rc = s.step();
        s.reset();
        if ((rc & 0xFF) == SQLITE_CONSTRAINT)
            return kAlreadyExists;
        if (rc != SQLITE_DONE)
            return m_catalog.failure();
    }
    StorageRow row;
    if (SUCCEEDED(findStorage(id, &row)))
        QDir().mkpath(storageFolder(row));
    *guid = id;
    return S_OK;
}

HRESULT ArchiveEngine::lockStreams(const StorageRow &storage, const std::vector<StreamRow> &streams,
                                   std::vector<std::unique_ptr<StreamLock>> *locks)
{
    for (const StreamRow &stream : streams) {
        auto lock = std::make_unique<StreamLock>();
        if (!lock->tryLock(storageFolder(storage) + QLatin1Char('/') + guidFolderName(stream.guid)))
            return QFileInfo(storageFolder(storage)).isWritable() ? kSharingViolation : E_ACCESSDENIED;
        locks->push_back(std::move(lock));
    }
    return S_OK;
}

HRESULT ArchiveEngine::deleteStorage(const GUID &guid)
{
    StorageRow storage;
    HRESULT hr = findStorage(guid, &storage);
    if (FAILED(hr))
        return hr;
    std::vector<StreamRow> streams;
    hr = listStreams(storage.id, &streams);
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard<std::mutex> lock(m_catalogMutex);
        if (!writableCatalog())
            return E_ACCESSDENIED;
    }
    std::vector<std::unique_ptr<StreamLock>> locks;
    hr = lockStreams(storage, streams, &locks);
    if (FAILED(hr))
        return hr;
    const auto forget = [&] {
        std::lock_guard<std::mutex> lock(m_catalogMutex);
        Transaction tx(m_catalog);
        if (!tx.ok())
            return tx.failure();
        static const char *const kDeletes[] = {
            "DELETE FROM channels WHERE stream IN (SELECT id FROM streams WHERE storage=?1)",
            "DELETE FROM streams WHERE storage=?1", "DELETE FROM storages WHERE id=?1"};
        for (const char *sql : kDeletes) {
            Statement &d = m_catalog.cached(sql);
            d.bind(1, storage.id);
            if (d.step() != SQLITE_DONE)
                return m_catalog.failure();
        }
        return tx.commit() ? S_OK : tx.failure();
    };
    hr = forget();
    if (hr == kDiskFull) {
        // Deleting must work on a full disk: the storage's frames go first to make room for the catalog.
        qCWarning(lcFrameStore) << "Disk full: removing the frames of storage" << storageFolder(storage)
                                << "before its catalog entry";
        for (const StreamRow &stream : streams)
            removeSegments(storageFolder(storage) + QLatin1Char('/') + guidFolderName(stream.guid));
        hr = forget();
    }
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard<std::mutex> lock(m_storesMutex);
        auto it = m_stores.find(storage.id);
        if (it != m_stores.end()) {
            it->second->closeFiles();
            m_stores.erase(it);
        }
    }
    locks.clear();
    if (!removeTree(storageFolder(storage)))
        qCWarning(lcFrameStore) << "Could not remove every file of storage" << storageFolder(storage);
    return S_OK;
}

HRESULT ArchiveEngine::readStream(Statement &s, StreamRow *row)
{
    row->id = s.int64(0);
    row->guid = blobGuid(s, 1);
    row->storage = s.int64(2);
    row->name = blobName(s, 3);
    row->type = static_cast<std::uint32_t>(s.int64(4));
    row->attributes = s.blob(5);
    row->attributes.resize(4096);
    row->storageGuid = blobGuid(s, 6);
    return S_OK;
}

HRESULT ArchiveEngine::listStreams(std::int64_t storage, std::vector<StreamRow> *rows)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    rows->clear();
    Statement &s =
        m_catalog.cached("SELECT s.id, s.guid, s.storage, s.name, s.type, s.attrs, t.guid FROM streams s "
                         "JOIN storages t ON t.id=s.storage WHERE s.storage=?1 ORDER BY s.id");
    s.bind(1, storage);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        StreamRow row;
        readStream(s, &row);
        rows->push_back(std::move(row));
    }
    s.reset();
    return rc == SQLITE_DONE ? S_OK : m_catalog.failure();
}

HRESULT ArchiveEngine::findStream(const GUID &guid, StreamRow *row)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    Statement &s =
        m_catalog.cached("SELECT s.id, s.guid, s.storage, s.name, s.type, s.attrs, t.guid FROM streams s "
                         "JOIN storages t ON t.id=s.storage WHERE s.guid=?1");
    s.bind(1, &guid, sizeof guid);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        readStream(s, row);
    s.reset();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_catalog.failure();
}

HRESULT ArchiveEngine::createStream(const GUID &storage, const std::u16string &name, std::uint32_t type,
                                    const std::uint8_t *attributes, GUID *guid)
{
    StorageRow row;
    const HRESULT hr = findStorage(storage, &row);
    if (FAILED(hr))
        return hr;
    const GUID id = nyx::com::fromQUuid(QUuid::createUuid());
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    writableCatalog(); // a read-only one refuses the insert below as access denied
    Statement &s =
        m_catalog.cached("INSERT INTO streams(guid, storage, name, type, attrs) VALUES(?1, ?2, ?3, ?4, ?5)");
    s.bind(1, &id, sizeof id).bind(2, row.id).bind(3, name.data(), int(name.size() * 2)).bind(4, type);
    s.bind(5, attributes, 4096);
    const int rc = s.step();
    s.reset();
    if ((rc & 0xFF) == SQLITE_CONSTRAINT)
        return kAlreadyExists;
    if (rc != SQLITE_DONE)
        return m_catalog.failure();
    *guid = id;
    return S_OK;
}

HRESULT ArchiveEngine::deleteStream(const GUID &guid)
{
    StreamRow stream;
    HRESULT hr = findStream(guid, &stream);
    if (FAILED(hr))
        return hr;
    StorageRow storage;
    hr = findStorageById(stream.storage, &storage);
    if (FAILED(hr))
        return hr;
    const QString folder = streamFolder(stream);
    {
        std::lock_guard<std::mutex> lock(m_catalogMutex);
        if (!writableCatalog())
            return E_ACCESSDENIED;
    }
    StreamLock writerLock;
    if (!writerLock.tryLock(folder))
        return QFileInfo(storageFolder(storage)).isWritable() ? kSharingViolation : E_ACCESSDENIED;
    const auto forget = [&] {
        std::lock_guard<std::mutex> lock(m_catalogMutex);
        Transaction tx(m_catalog);
        if (!tx.ok())
            return tx.failure();
        for (const char *sql : {"DELETE FROM channels WHERE stream=?1", "DELETE FROM streams WHERE id=?1"}) {
            Statement &d = m_catalog.cached(sql);
            d.bind(1, stream.id);
            if (d.step() != SQLITE_DONE)
                return m_catalog.failure();
        }
        return tx.commit() ? S_OK : tx.failure();
    };
    hr = forget();
    if (hr == kDiskFull) {
        // Deleting must work on a full disk: the stream's frames go first to make room for the catalog.
        qCWarning(lcFrameStore) << "Disk full: removing the frames of" << folder
                                << "before its catalog entry";
        removeSegments(folder);
        hr = forget();
    }
    if (FAILED(hr))
        return hr;
    std::shared_ptr<FrameStore> store;
    if (SUCCEEDED(frameStore(stream.storage, &store)) && FAILED(store->deleteStream(stream.id)))
        qCWarning(lcFrameStore) << "The index rows of the deleted stream" << folder << "stay behind";
    writerLock.unlock();
    removeTree(folder);
    return S_OK;
}

HRESULT ArchiveEngine::writeAttributes(std::int64_t stream, const std::uint8_t *attributes)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    writableCatalog(); // a read-only one refuses the update below as access denied
    Statement &s = m_catalog.cached("UPDATE streams SET attrs=?2 WHERE id=?1");
    s.bind(1, stream).bind(2, attributes, 4096);
    const int rc = s.step();
    if (rc != SQLITE_DONE)
        return m_catalog.failure();
    s.reset();
    return m_catalog.changes() == 1 ? S_OK : kNotFound;
}

HRESULT ArchiveEngine::createChannel(std::int64_t stream, const std::u16string &name, std::uint8_t flag,
                                     std::uint32_t *id, bool *existed)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    writableCatalog(); // a read-only one refuses the transaction below as access denied
    Transaction tx(m_catalog);
    if (!tx.ok())
        return tx.failure();
    Statement &exists = m_catalog.cached("SELECT id FROM streams WHERE id=?1");
    exists.bind(1, stream);
    if (exists.step() != SQLITE_ROW) {
        exists.reset();
        return kNotFound;
    }
    exists.reset();
    Statement &find = m_catalog.cached("SELECT id FROM channels WHERE stream=?1 AND name=?2");
    find.bind(1, stream).bind(2, name.data(), int(name.size() * 2));
    if (find.step() == SQLITE_ROW) {
        *id = static_cast<std::uint32_t>(find.int64(0));
        *existed = true;
        find.reset();
        return S_OK;
    }
    find.reset();
    Statement &next = m_catalog.cached("SELECT COALESCE(MAX(id), 0) + 1 FROM channels WHERE stream=?1");
    next.bind(1, stream);
    if (next.step() != SQLITE_ROW)
        return m_catalog.failure();
    const std::int64_t newId = next.int64(0);
    next.reset();
    if (newId > 0x7FFFFFFF)
        return E_OUTOFMEMORY;
    Statement &insert =
        m_catalog.cached("INSERT INTO channels(stream, id, name, flag) VALUES(?1, ?2, ?3, ?4)");
    insert.bind(1, stream).bind(2, newId).bind(3, name.data(), int(name.size() * 2)).bind(4, flag);
    if (insert.step() != SQLITE_DONE)
        return m_catalog.failure();
    if (!tx.commit())
        return tx.failure();
    *id = static_cast<std::uint32_t>(newId);
    *existed = false;
    return S_OK;
}

HRESULT ArchiveEngine::findChannel(std::int64_t stream, const std::u16string &name, std::uint8_t *flag,
                                   std::uint32_t *id)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    Statement &s = m_catalog.cached("SELECT id, flag FROM channels WHERE stream=?1 AND name=?2");
    s.bind(1, stream).bind(2, name.data(), int(name.size() * 2));
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
        *id = static_cast<std::uint32_t>(s.int64(0));
        *flag = static_cast<std::uint8_t>(s.int64(1));
    }
    s.reset();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_catalog.failure();
}

HRESULT ArchiveEngine::channelFlag(std::int64_t stream, std::uint32_t id, std::uint8_t *flag)
{
    std::lock_guard<std::mutex> lock(m_catalogMutex);
    Statement &s = m_catalog.cached("SELECT flag FROM channels WHERE stream=?1 AND id=?2");
    s.bind(1, stream).bind(2, static_cast<std::int64_t>(id));
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        *flag = static_cast<std::uint8_t>(s.int64(0));
    s.reset();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : m_catalog.failure();
}

QString ArchiveEngine::storageFolder(const StorageRow &row) const
{
    const QString drive = row.drive >= 0 && row.drive < int(m_drives.size())
                              ? m_drives[std::size_t(row.drive)].path
                              : m_root + QStringLiteral("/lost-drive-%1").arg(row.drive);
    return drive + QLatin1Char('/') + guidFolderName(row.guid);
}

QString ArchiveEngine::streamFolder(const StreamRow &row)
{
    StorageRow storage;
    if (FAILED(findStorageById(row.storage, &storage)))
        return QString();
    return storageFolder(storage) + QLatin1Char('/') + guidFolderName(row.guid);
}

HRESULT ArchiveEngine::findStreamStore(const GUID &guid, StreamRow *row, std::shared_ptr<FrameStore> *store)
{
    const HRESULT hr = findStream(guid, row);
    if (FAILED(hr))
        return hr;
    return frameStore(row->storage, store);
}

HRESULT ArchiveEngine::frameStore(std::int64_t storage, std::shared_ptr<FrameStore> *store)
{
    StorageRow row;
    HRESULT hr = findStorageById(storage, &row);
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> lock(m_storesMutex);
    auto it = m_stores.find(storage);
    if (it != m_stores.end()) {
        *store = it->second;
        return S_OK;
    }
    hr = FrameStore::open(
        storageFolder(row),
        [this](std::int64_t stream) {
            std::map<std::uint32_t, std::uint8_t> flags;
            std::lock_guard<std::mutex> lock(m_catalogMutex);
            Statement &s = m_catalog.cached("SELECT id, flag FROM channels WHERE stream=?1");
            s.bind(1, stream);
            while (s.step() == SQLITE_ROW)
                flags[static_cast<std::uint32_t>(s.int64(0))] = static_cast<std::uint8_t>(s.int64(1));
            s.reset();
            return flags;
        },
        row.size, store);
    if (FAILED(hr))
        return hr;
    m_stores[storage] = *store;
    // Streams whose writer died: close their sequences and cut what was never committed.
    std::vector<StreamRow> streams;
    {
        std::lock_guard<std::mutex> catalogLock(m_catalogMutex);
        Statement &s =
            m_catalog.cached("SELECT s.id, s.guid, s.storage, s.name, s.type, s.attrs, t.guid FROM "
                             "streams s JOIN storages t ON t.id=s.storage WHERE s.storage=?1");
        s.bind(1, storage);
        while (s.step() == SQLITE_ROW) {
            StreamRow r;
            readStream(s, &r);
            streams.push_back(std::move(r));
        }
        s.reset();
    }
    for (const StreamRow &stream : streams) {
        const QString folder = storageFolder(row) + QLatin1Char('/') + guidFolderName(stream.guid);
        StreamLock probe;
        if (QDir(folder).exists() && probe.tryLock(folder))
            (*store)->recoverStream(stream.id, folder);
    }
    return S_OK;
}

StorageCounters &ArchiveEngine::counters(std::int64_t storage)
{
    std::lock_guard<std::mutex> lock(m_storesMutex);
    auto &entry = m_counters[storage];
    if (!entry)
        entry = std::make_unique<StorageCounters>();
    return *entry;
}

std::uint64_t ArchiveEngine::diskUsage(const StorageRow &row) const
{
    // Counted as the ring counts it.
    return StorageSpace::usage(storageFolder(row));
}
} // namespace nyx::archive
