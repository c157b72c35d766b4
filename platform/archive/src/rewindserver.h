#pragma once
// The archive server object handed out by CoCreateInstance(CLSID_RewindServer).

#include "archive/irewindserver.h"
#include "archiveengine.h"
#include "com/comobject.h"

#include <chrono>
#include <memory>

namespace nyx::archive {
class RewindServer : public nyx::com::ComObject<IRewindServer>
{
public:
    static HRESULT create(REFIID riid, void **object);

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

private:
    explicit RewindServer(std::shared_ptr<ArchiveEngine> engine);

    std::shared_ptr<ArchiveEngine> m_engine;
    std::chrono::steady_clock::time_point m_readyAt;
};

// Copies a zero-terminated name of at most 255 units out of a 256-unit field.
HRESULT nameFromField(const WCHAR *field, std::u16string *name);
void nameToField(const std::u16string &name, WCHAR *field);
// A BSTR name: not null, 1 to 255 units.
HRESULT nameFromBstr(BSTR text, std::u16string *name);
void fillHead(const StreamRow &row, const StorageRow &storage, ArchiveStreamHead *head);
} // namespace nyx::archive
