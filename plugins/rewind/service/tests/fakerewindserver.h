#pragma once
// A scripted archive server for the service tests: storages, streams, drives and statistics set
// by the test, failing results per operation, short lists, and a record of what it received.

#include "archive/irewindserver.h"
#include "com/com.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QUuid>
#include <QVector>
#include <atomic>
#include <vector>

namespace fake {
enum class Op
{
    MemoryStatus,
    DriveMask,
    DriveInfo,
    StoragePart,
    StorageCount,
    Storages,
    CreateStorage,
    DeleteStorage,
    StorageStats,
    StreamCount,
    Streams,
    CreateStream,
    OpenStream,
    DeleteStream,
    StreamInfo,
    SequenceCount,
    Sequences,
    FindChannel,
    CreateChannel,
    RangeSize,
    Count
};

struct DriveInfo
{
    LONGLONG size = 0;
    LONGLONG freeSize = 0;
    LONGLONG usedSize = 0;
    QString name;
};

struct StoragePart
{
    LONGLONG size = 0;
    QString driveName;
};

struct Storage
{
    QUuid id;
    QString name;
    QMap<int, StoragePart> parts;
    CRewindStorageStats stats{};
};

struct Channel
{
    BYTE flag = 0;
    DWORD id = 0;
};

struct Stream
{
    QUuid id;
    QUuid storage;
    QString name;
    ArchiveStreamInfo info{};
    std::vector<ArchiveSequenceRecord> sequences;
    QMap<QString, Channel> channels;
    LONGLONG rangeSize = 0;
};

struct RangeQuery
{
    QUuid stream;
    ULONGLONG from;
    ULONGLONG to;
};

class Server : public nyx::com::ComObject<IRewindServer>
{
public:
    static CComPtr<Server> create();

    // Scripting; every method locks, so the test thread may change the server while the worker polls.
    void fail(Op op, HRESULT hr);
    void clearFailures();
    // Lists fill at most this many records (the count operations still answer the full count).
    void setShortLists(int limit);
    // The count operations answer this instead of the real count (a negative value restores it).
    void setCountOverride(qint64 count);
    void setDriveMask(ULONGLONG mask);
    void setDrive(int index, const DriveInfo &info);
    void setMemoryStatus(const CRewindMemoryStatus &status);
    QUuid addStorage(const QString &name, const QUuid &id = QUuid::createUuid());
    void removeStorage(const QUuid &id);
    void renameStorage(const QUuid &id, const QString &name);
    void setStoragePart(const QUuid &storage, int drive, const StoragePart &part);
    void setStorageStats(const QUuid &storage, const CRewindStorageStats &stats);
    QUuid addStream(const QUuid &storage, const QString &name, const QUuid &id = QUuid::createUuid());
    void removeStream(const QUuid &id);
    void renameStream(const QUuid &id, const QString &name);
    void setStreamInfo(const QUuid &id, const ArchiveStreamInfo &info);
    ArchiveStreamInfo streamInfo(const QUuid &id);
    void setSequences(const QUuid &id, const std::vector<ArchiveSequenceRecord> &sequences);
    void setRangeSize(const QUuid &id, LONGLONG size);
    void setChannel(const QUuid &id, const QString &name, BYTE flag, DWORD channelId);
    void setRangeInfoOffered(bool offered);
    // Every operation takes this long (a slow disk): a tick is still running when the test acts.
    void setCallDelay(int ms) { m_callDelayMs = ms; }

    // What the server received.
    int calls(Op op) const;
    void resetCalls();
    // Every operation since the last resetCalls, in call order.
    QList<Op> callLog() const;
    QByteArray lastCreateStreamRecord();
    QByteArray lastCreateStorageBlock();
    QList<QUuid> deletedStreams();
    QList<QUuid> deletedStorages();
    QList<RangeQuery> rangeQueries();
    QVector<Channel> createdChannels();

    // IRewindServer
    HRESULT IsReady() override;
    HRESULT GetMemoryStatus(CRewindMemoryStatus *status) override;
    HRESULT GetMinimumStorageSize(ArchiveMinimumSizeRecord *record) override;
    HRESULT GetDriveMask(ULONGLONG *mask) override;
    HRESULT GetDriveInfo(int drive, LONGLONG *size, LONGLONG *freeSize, LONGLONG *usedSize,
                         BSTR *name) override;
    HRESULT GetStoragePart(GUID storageId, int drive, LONGLONG *size, BSTR *driveName) override;
    HRESULT GetStorageCount(DWORD *count) override;
    HRESULT GetStorages(ArchiveStorageRecord *storages, DWORD capacity, DWORD *count) override;
    HRESULT CreateStorage(CreateStorageBlock *block, IUnknown **created) override;
    HRESULT DeleteStorage(GUID storageId) override;
    HRESULT GetStorageStats(GUID storageId, CRewindStorageStats *stats) override;
    HRESULT GetStreamCount(GUID storageId, DWORD *count) override;
    HRESULT GetStreams(GUID storageId, ArchiveStreamHead *streams, DWORD capacity, DWORD *count) override;
    HRESULT CreateStream(ArchiveStreamRecord *record, IUnknown **created) override;
    HRESULT OpenStream(GUID streamId, IArchiveStream **stream) override;
    HRESULT DeleteStream(GUID streamId) override;
    HRESULT GetStreamInfo(GUID streamId, ArchiveStreamInfo *info) override;
    HRESULT CreateWriter(GUID streamId, IArchiveWriter **writer) override;
    HRESULT CreateReader(IUnknown **reader) override;

    // Used by the stream objects it hands out.
    HRESULT streamSequenceCount(const QUuid &id, DWORD *count);
    HRESULT streamSequences(const QUuid &id, ArchiveSequenceRecord *records, DWORD capacity, DWORD *count);
    HRESULT streamFindChannel(const QUuid &id, const QString &name, BYTE *flag, DWORD *channelId);
    HRESULT streamCreateChannel(const QUuid &id, const QString &name, BYTE flag, DWORD *channelId);
    HRESULT streamRangeSize(const QUuid &id, ULONGLONG from, ULONGLONG to, LONGLONG *size);
    bool rangeInfoOffered();

private:
    Server() = default;
    HRESULT enter(Op op); // counts the call; the scripted failure or S_OK
    DWORD listedCount(int real) const;
    Stream *findStream(const QUuid &id);

    mutable QMutex m_mutex;
    QHash<int, HRESULT> m_failures;
    int m_calls[static_cast<int>(Op::Count)] = {};
    QList<Op> m_log;
    int m_shortLimit = -1;
    qint64 m_countOverride = -1;
    std::atomic<int> m_callDelayMs{0};
    ULONGLONG m_driveMask = 0;
    QMap<int, DriveInfo> m_drives;
    CRewindMemoryStatus m_memory{};
    QList<Storage> m_storages;
    QList<Stream> m_streams;
    bool m_rangeInfoOffered = true;
    QByteArray m_lastStreamRecord;
    QByteArray m_lastStorageBlock;
    QList<QUuid> m_deletedStreams;
    QList<QUuid> m_deletedStorages;
    QList<RangeQuery> m_rangeQueries;
    QVector<Channel> m_createdChannels;
};

// An attribute store that marks the block it is bound to, registered under the real class.
class AttributeStoreRegistration
{
public:
    AttributeStoreRegistration();
    ~AttributeStoreRegistration();
    std::atomic<int> binds{0};
    std::atomic<bool> failBind{false};

private:
    int m_id;
};
constexpr char kAttributeMark[] = "FAKESTORE";
} // namespace fake
