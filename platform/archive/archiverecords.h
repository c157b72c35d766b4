#pragma once
// Records exchanged with the archive server. Little-endian, packed; GUIDs in the Windows layout.

#include "com/guid.h"
#include "win32/win32types.h"

#include <cstddef>

namespace nyx::archive {
constexpr int kNameUnits = 256;    // name fields: 255 UTF-16 units and a terminating zero
constexpr int kMaxNameUnits = 255; // longest name accepted
constexpr int kAttributeBlockSize = 4096;
constexpr ULONGLONG kOpenEnd = ~0ULL; // an unbounded range end
} // namespace nyx::archive

#pragma pack(push, 1)

// Memory figures of the machine and of the calling process.
struct CRewindMemoryStatus
{
    ULONGLONG totalPhysMemory;
    ULONGLONG availPhysMemory;
    ULONGLONG totalVirtualMemory;
    ULONGLONG availVirtualMemory;
    ULONGLONG totalProcessAddressSpace;
    ULONGLONG availProcessAddressSpace;
};

// Answer of the minimum-storage-size operation.
struct ArchiveMinimumSizeRecord
{
    DWORD recordSize;         // 120
    DWORD driveCount;         // configured drives
    ULONGLONG segmentSize;    // payload segment files roll over at this size
    ULONGLONG allocationUnit; // sizes are counted in these units
    LONGLONG minimumSize;     // smallest size a storage can be created with
    BYTE reserved[88];
};

// One storage of the storage list.
struct ArchiveStorageRecord
{
    GUID storageId;
    WCHAR name[nyx::archive::kNameUnits];
};

// Input of create-storage; the server fills in storageId.
struct CreateStorageBlock
{
    GUID storageId;
    WCHAR name[nyx::archive::kNameUnits];
    DWORD version;    // always 1
    DWORD driveIndex; // bit number in the drive mask
    BYTE reserved1[16];
    LONGLONG size;
    BYTE reserved2[7140];
    BYTE attributes[nyx::archive::kAttributeBlockSize];
};

// Per-storage figures.
struct CRewindStorageStats
{
    ULONGLONG dataSizeOnDisk;       // bytes the storage occupies on its drives
    ULONGLONG lockedDataSizeOnDisk; // bytes of sequences being recorded now
    ULONGLONG totalFramesWritten;   // frames stored in the storage
    ULONGLONG totalBytesWritten;    // payload bytes stored in the storage
    double currWriteFramesRate;     // frames per second, over the last interval
    double currWriteBytesRate;      // bytes per second
    ULONGLONG totalFramesReaded;    // frames read by this process
    ULONGLONG totalBytesReaded;     // bytes read by this process
    double currReadFramesRate;
    double currReadBytesRate;
    ULONGLONG totalFATPagesWritten; // index commits by this process
    double currWriteFATPagesRate;
};

// The first part of a stream record, as the stream list returns it.
struct ArchiveStreamHead
{
    GUID storageId;
    WCHAR storageName[nyx::archive::kNameUnits];
    GUID streamId;
    WCHAR name[nyx::archive::kNameUnits];
    DWORD streamType; // 3: created through the interface; 7: H.264 of another recorder
};

// A whole stream record: the head and the stream's attribute block.
struct ArchiveStreamRecord
{
    ArchiveStreamHead head;
    BYTE attributes[nyx::archive::kAttributeBlockSize];
};

// Status of one stream.
struct ArchiveStreamInfo
{
    GUID streamId;
    ULONGLONG sequenceChangeCounter; // moves whenever the sequences change, growth included
    ULONGLONG startTime;             // FILETIME of the first frame, 0 without frames
    ULONGLONG endTime;               // FILETIME of the last frame, 0 without frames
    ULONGLONG frameCount;
    ULONGLONG dataSize; // payload bytes
    GUID storageId;
    DWORD sequenceCount;
    DWORD streamType;
    DWORD writing; // 1 while a writer records into the stream
    BYTE reserved[20];
};

// One recorded sequence (a writer's start to stop).
struct ArchiveSequenceRecord
{
    ULONGLONG startTime;        // FILETIME given to the writer's start
    ULONGLONG subsequenceCount; // runs of frames separated by gaps
    ULONGLONG beginTime;        // where the sequence begins: its first frame
    ULONGLONG frameCount;
    ULONGLONG firstFrameTime;
    ULONGLONG lastFrameTime;
};

#pragma pack(pop)

static_assert(sizeof(CRewindMemoryStatus) == 48, "layout");
static_assert(sizeof(ArchiveMinimumSizeRecord) == 120, "layout");
static_assert(offsetof(ArchiveMinimumSizeRecord, minimumSize) == 24, "layout");
static_assert(sizeof(ArchiveStorageRecord) == 528, "layout");
static_assert(offsetof(ArchiveStorageRecord, name) == 16, "layout");
static_assert(sizeof(CreateStorageBlock) == 11796, "layout");
static_assert(offsetof(CreateStorageBlock, name) == 16, "layout");
static_assert(offsetof(CreateStorageBlock, version) == 528, "layout");
static_assert(offsetof(CreateStorageBlock, driveIndex) == 532, "layout");
static_assert(offsetof(CreateStorageBlock, reserved1) == 536, "layout");
static_assert(offsetof(CreateStorageBlock, size) == 552, "layout");
static_assert(offsetof(CreateStorageBlock, reserved2) == 560, "layout");
static_assert(offsetof(CreateStorageBlock, attributes) == 7700, "layout");
static_assert(sizeof(CRewindStorageStats) == 96, "layout");
static_assert(offsetof(CRewindStorageStats, currWriteFramesRate) == 32, "layout");
static_assert(offsetof(CRewindStorageStats, totalFramesReaded) == 48, "layout");
static_assert(offsetof(CRewindStorageStats, totalFATPagesWritten) == 80, "layout");
static_assert(offsetof(CRewindStorageStats, currWriteFATPagesRate) == 88, "layout");
static_assert(sizeof(ArchiveStreamHead) == 1060, "layout");
static_assert(offsetof(ArchiveStreamHead, storageName) == 16, "layout");
static_assert(offsetof(ArchiveStreamHead, streamId) == 528, "layout");
static_assert(offsetof(ArchiveStreamHead, name) == 544, "layout");
static_assert(offsetof(ArchiveStreamHead, streamType) == 1056, "layout");
static_assert(sizeof(ArchiveStreamRecord) == 5156, "layout");
static_assert(offsetof(ArchiveStreamRecord, attributes) == 1060, "layout");
static_assert(sizeof(ArchiveStreamInfo) == 104, "layout");
static_assert(offsetof(ArchiveStreamInfo, sequenceChangeCounter) == 16, "layout");
static_assert(offsetof(ArchiveStreamInfo, startTime) == 24, "layout");
static_assert(offsetof(ArchiveStreamInfo, endTime) == 32, "layout");
static_assert(offsetof(ArchiveStreamInfo, frameCount) == 40, "layout");
static_assert(offsetof(ArchiveStreamInfo, dataSize) == 48, "layout");
static_assert(offsetof(ArchiveStreamInfo, storageId) == 56, "layout");
static_assert(sizeof(ArchiveSequenceRecord) == 48, "layout");
static_assert(offsetof(ArchiveSequenceRecord, beginTime) == 16, "layout");
static_assert(offsetof(ArchiveSequenceRecord, firstFrameTime) == 32, "layout");
static_assert(offsetof(ArchiveSequenceRecord, lastFrameTime) == 40, "layout");
