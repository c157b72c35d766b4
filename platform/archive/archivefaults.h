#pragma once
// Fault injection for tests: process-wide, affects every server object and the objects it hands out.

#include "win32/winerror.h"

namespace nyx::archive::faults {
enum class Operation
{
    IsReady,
    GetMemoryStatus,
    GetMinimumStorageSize,
    GetDriveMask,
    GetDriveInfo,
    GetStoragePart,
    GetStorageCount,
    GetStorages,
    CreateStorage,
    DeleteStorage,
    GetStorageStats,
    GetStreamCount,
    GetStreams,
    CreateStream,
    OpenStream,
    DeleteStream,
    GetStreamInfo,
    CreateWriter,
    CreateReader,
    StreamGetHeader,
    StreamReadRecord,
    StreamWriteRecord,
    StreamGetSequenceCount,
    StreamGetSequences,
    StreamCreateChannel,
    StreamFindChannel,
    RangeSize,
    WriterStart,
    WriterBeginSample,
    WriterData,
    WriterBlob,
    WriterEndSample,
    WriterStop,
    ReaderOpen,
    ReaderFindFrame,
    ReaderFindFrameInRange,
    ReaderChannelData,
    ReaderChannelBlob,
    ReaderReleaseFrame,
    StoreBind,
    SegmentWrite, // a frame's write to its segment fails with the injected result (a full disk, say)
    Count
};

// The operation answers hr (without doing anything) for the next `times` calls; times < 0: until cleared.
void fail(Operation operation, HRESULT hr, int times = -1);
// List operations (storages, streams, sequences) hand out at most `limit` records and report that
// many with S_OK; a negative limit lifts it.
void shortLists(int limit);
void clear();

// Used by the server: the injected result for this call, or S_OK.
HRESULT check(Operation operation);
int listLimit();
} // namespace nyx::archive::faults
