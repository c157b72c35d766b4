#pragma once
// IStream and the memory stream of CreateStreamOnHGlobal.

#include "com/com.h"

struct IMalloc;

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

constexpr HRESULT STG_E_INVALIDFUNCTION = NYX_HRESULT(0x80030001);
constexpr HRESULT STG_E_MEDIUMFULL = NYX_HRESULT(0x80030070);

constexpr IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A byte stream with a seek position.
struct IStream : IUnknown
{
    virtual HRESULT Read(void *buffer, ULONG size, ULONG *read) = 0;
    virtual HRESULT Write(const void *buffer, ULONG size, ULONG *written) = 0;
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
};
NYX_DECLARE_IID(IStream, IID_IStream)

using HGLOBAL = void *;

// A growable in-memory stream; only a null HGLOBAL is supported.
HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL deleteOnRelease, IStream **stream);
