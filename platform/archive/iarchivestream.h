#pragma once
// A stream of the archive: its record, sequences and named channels.

#include "archive/archiverecords.h"
#include "com/bstr.h"
#include "com/unknown.h"

// {9AC47E22-18D9-49F0-BBFF-E921E001B603}
constexpr IID IID_IArchiveStream = {
    0x9AC47E22, 0x18D9, 0x49F0, {0xBB, 0xFF, 0xE9, 0x21, 0xE0, 0x01, 0xB6, 0x03}};
// {EB78AEEF-8A3A-4EC8-BC1D-FDC4EA0DF6C9}
constexpr IID IID_IArchiveRangeInfo = {
    0xEB78AEEF, 0x8A3A, 0x4EC8, {0xBC, 0x1D, 0xFD, 0xC4, 0xEA, 0x0D, 0xF6, 0xC9}};

struct IArchiveStream : public IUnknown
{
    // The first 1060 bytes of the stream record.
    virtual HRESULT GetHeader(ArchiveStreamHead *head) = 0;
    // The whole record with the stream's attribute block.
    virtual HRESULT ReadRecord(ArchiveStreamRecord *record) = 0;
    // Replaces the stream's attribute block; the record must name this stream. flags: 0.
    virtual HRESULT WriteRecord(const ArchiveStreamRecord *record, DWORD flags) = 0;
    virtual HRESULT GetSequenceCount(DWORD *count) = 0;
    // Fills at most capacity records; ERROR_MORE_DATA (as HRESULT) when more exist.
    virtual HRESULT GetSequences(ArchiveSequenceRecord *sequences, DWORD capacity, DWORD *count) = 0;
    // Creates a named channel; an existing name gives S_FALSE with the existing id. Ids start at 1.
    virtual HRESULT CreateChannel(BSTR name, BYTE flag, DWORD *channelId) = 0;
    // ERROR_NOT_FOUND (as HRESULT) for an unknown name.
    virtual HRESULT FindChannel(BSTR name, BYTE *flag, DWORD *channelId) = 0;
};

struct IArchiveRangeInfo : public IUnknown
{
    // Payload bytes of the frames whose times lie in [from, to]; to = ~0 is an open end; 0 without data.
    virtual HRESULT GetRangeSize(ULONGLONG from, ULONGLONG to, LONGLONG *size) = 0;
};

NYX_DECLARE_IID(IArchiveStream, IID_IArchiveStream)
NYX_DECLARE_IID(IArchiveRangeInfo, IID_IArchiveRangeInfo)
