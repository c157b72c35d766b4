#pragma once
// The archive server: drives, storages, streams, statistics, and the writer and reader objects.

#include "archive/archiverecords.h"
#include "archive/iarchivereader.h"
#include "archive/iarchivestream.h"
#include "archive/iarchivewriter.h"
#include "archive/iattributestore.h"
#include "com/bstr.h"
#include "com/unknown.h"

// {511FD70F-6034-4CE6-ABD7-052281B5F004}
constexpr CLSID CLSID_RewindServer = {
    0x511FD70F, 0x6034, 0x4CE6, {0xAB, 0xD7, 0x05, 0x22, 0x81, 0xB5, 0xF0, 0x04}};
// {6F8493E8-5660-47D3-B7AD-2578C75EB44A}
constexpr IID IID_IRewindServer = {
    0x6F8493E8, 0x5660, 0x47D3, {0xB7, 0xAD, 0x25, 0x78, 0xC7, 0x5E, 0xB4, 0x4A}};

// Unless noted: null pointers give E_POINTER, unknown identifiers ERROR_NOT_FOUND (as HRESULT),
// bad values E_INVALIDARG; list operations fill at most capacity records and answer
// ERROR_MORE_DATA (as HRESULT) when more exist.
struct IRewindServer : public IUnknown
{
    // E_PENDING during the start-up time, then S_OK.
    virtual HRESULT IsReady() = 0;
    virtual HRESULT GetMemoryStatus(CRewindMemoryStatus *status) = 0;
    virtual HRESULT GetMinimumStorageSize(ArchiveMinimumSizeRecord *record) = 0;
    // Bit n set: drive n is configured and usable.
    virtual HRESULT GetDriveMask(ULONGLONG *mask) = 0;
    // Figures of the file system the drive folder lies on; name is a new BSTR the caller frees.
    virtual HRESULT GetDriveInfo(int drive, LONGLONG *size, LONGLONG *freeSize, LONGLONG *usedSize,
                                 BSTR *name) = 0;
    // The storage's size on the drive (0 when it has no part there) and the drive's name.
    virtual HRESULT GetStoragePart(GUID storageId, int drive, LONGLONG *size, BSTR *driveName) = 0;
    virtual HRESULT GetStorageCount(DWORD *count) = 0;
    virtual HRESULT GetStorages(ArchiveStorageRecord *storages, DWORD capacity, DWORD *count) = 0;
    // Fills block->storageId; created (may be null) gets an object for the new storage.
    virtual HRESULT CreateStorage(CreateStorageBlock *block, IUnknown **created) = 0;
    // ERROR_SHARING_VIOLATION (as HRESULT) while a writer records into one of its streams.
    virtual HRESULT DeleteStorage(GUID storageId) = 0;
    virtual HRESULT GetStorageStats(GUID storageId, CRewindStorageStats *stats) = 0;
    virtual HRESULT GetStreamCount(GUID storageId, DWORD *count) = 0;
    virtual HRESULT GetStreams(GUID storageId, ArchiveStreamHead *streams, DWORD capacity, DWORD *count) = 0;
    // Fills record->head.streamId; created (may be null) gets the new IArchiveStream.
    virtual HRESULT CreateStream(ArchiveStreamRecord *record, IUnknown **created) = 0;
    virtual HRESULT OpenStream(GUID streamId, IArchiveStream **stream) = 0;
    virtual HRESULT DeleteStream(GUID streamId) = 0;
    virtual HRESULT GetStreamInfo(GUID streamId, ArchiveStreamInfo *info) = 0;
    virtual HRESULT CreateWriter(GUID streamId, IArchiveWriter **writer) = 0;
    // A new reader, not yet open; query it for IArchiveReader.
    virtual HRESULT CreateReader(IUnknown **reader) = 0;
};

NYX_DECLARE_IID(IRewindServer, IID_IRewindServer)
