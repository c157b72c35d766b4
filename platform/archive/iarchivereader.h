#pragma once
// Reads the frames of one archive stream, also while another process records into it.

#include "com/guid.h"
#include "com/unknown.h"
#include "win32/win32types.h"

// {34A0530B-83F4-4B29-A2EE-BE77F7143C94}
constexpr IID IID_IArchiveReader = {
    0x34A0530B, 0x83F4, 0x4B29, {0xA2, 0xEE, 0xBE, 0x77, 0xF7, 0x14, 0x3C, 0x94}};

namespace nyx::archive {
enum FindMode : DWORD
{
    FindAtOrAfter = 1,  // the first frame at or after the time
    FindAtOrBefore = 2, // the last frame at or before the time
    FindContaining = 3, // the frame whose span holds the time (before the first frame: the first)
};
constexpr DWORD ReaderModeShared = 2; // read while writers record
} // namespace nyx::archive

struct IArchiveReader : public IUnknown
{
    // mode: 1 or 2 (ReaderModeShared); both read shared with writers.
    virtual HRESULT Open(GUID streamId, DWORD mode) = 0;
    // S_OK: found and made current. Not found: ERROR_NOT_FOUND (as HRESULT). channelFilter 0: any frame,
    // else only frames holding a record on that channel. The last three outputs may be null: the frame's
    // payload size, its sequence number and its frame number.
    virtual HRESULT FindFrame(LONGLONG time, DWORD mode, LONGLONG *frameTime, DWORD *frameSize,
                              DWORD *sequence, LONGLONG *frameNumber, DWORD channelFilter) = 0;
    // Like FindFrame, within [from, to]; mode 1 gives the first frame there, 2 the last.
    virtual HRESULT FindFrameInRange(LONGLONG from, LONGLONG to, DWORD mode, LONGLONG *frameTime,
                                     LONGLONG *frameNumber, DWORD channelFilter) = 0;
    // The current frame's data record on a channel; the pointer stays valid until ReleaseFrame.
    virtual HRESULT ReadChannelData(DWORD channelId, const BYTE **bytes, DWORD *length) = 0;
    // The current frame's blob record on a channel (S_OK with length 0 for an empty blob).
    virtual HRESULT ReadChannelBlob(DWORD channelId, const BYTE **bytes, DWORD *length) = 0;
    // Ends the use of every record handed out since the last release.
    virtual HRESULT ReleaseFrame() = 0;
};

NYX_DECLARE_IID(IArchiveReader, IID_IArchiveReader)
