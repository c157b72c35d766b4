#pragma once
// Records samples into one archive stream. One writer records into a stream at a time.

#include "com/unknown.h"
#include "win32/win32types.h"

// {A83162A8-661D-4938-85D6-BAFC8601D5B3}
constexpr IID IID_IArchiveWriter = {
    0xA83162A8, 0x661D, 0x4938, {0x85, 0xD6, 0xBA, 0xFC, 0x86, 0x01, 0xD5, 0xB3}};

struct IArchiveWriter : public IUnknown
{
    // Opens a new sequence starting at the FILETIME; a started writer ends its sequence first.
    // ERROR_SHARING_VIOLATION (as HRESULT) while another writer records into the stream.
    virtual HRESULT Start(ULONGLONG startTime) = 0;
    // Opens a sample at the FILETIME time; displayTime is kept for symmetry (pass time); flags: 0.
    virtual HRESULT BeginSample(LONGLONG time, LONGLONG displayTime, DWORD flags) = 0;
    // One data record of the open sample on a channel (at most one per channel and sample).
    virtual HRESULT Data(int channelId, const BYTE *bytes, DWORD length) = 0;
    // One blob record of the open sample on a channel; an empty blob counts as present.
    virtual HRESULT Blob(int channelId, const BYTE *bytes, DWORD size) = 0;
    // Ends the sample and hands it to the index, which commits it as soon as its segment bytes are
    // synced to the disk (readers see it then, usually a few milliseconds later). A writer runs
    // ahead of the commits by at most half a second (or 4096 samples, or 256 MiB); beyond that
    // EndSample waits. A failed commit is reported by a later EndSample or by Stop. A crash of the
    // process or a power cut loses at most the samples not yet committed.
    virtual HRESULT EndSample() = 0;
    // Ends the sequence once every sample is committed; an open sample is dropped.
    virtual HRESULT Stop() = 0;
};

NYX_DECLARE_IID(IArchiveWriter, IID_IArchiveWriter)
