#pragma once
// Video for Windows: the installable-compressor calls the system decompresses stored video with.
// Decompressors are chosen by the FOURCC of the compression; each decodes to YUY2 (see README.md).

#include "codecs/formats.h"
#include "win32/win32types.h"

using HIC = struct HIC__ *;
using DWORD_PTR = std::uintptr_t;

constexpr DWORD ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;

constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_ERROR = -100;

// The parameter block of ICM_DECOMPRESS (dw1; dw2 is its size).
struct ICDECOMPRESS
{
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiInput; // compressed format; biSizeImage is the length of lpInput
    LPVOID lpInput;
    LPBITMAPINFOHEADER lpbiOutput; // YUY2, the size the decompression began with
    LPVOID lpOutput;               // biWidth * biHeight * 2 bytes
    DWORD ckid;
};

// A decompressor for the FOURCC fccHandler (any case); null when none handles it or the mode is not a
// decompression mode. fccType: ICTYPE_VIDEO in any case.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
// The decompressor for fccHandler, or else the one for lpbiIn's compression, that accepts lpbiIn
// (and lpbiOut when given); null when none does.
HIC ICLocate(DWORD fccType, DWORD fccHandler, LPBITMAPINFOHEADER lpbiIn, LPBITMAPINFOHEADER lpbiOut,
             WORD wFlags);
// ICM_SETSTATE, ICM_DECOMPRESS_QUERY, ICM_DECOMPRESS_BEGIN, ICM_DECOMPRESS, ICM_DECOMPRESS_END;
// ICERR_UNSUPPORTED for other messages, ICERR_BADHANDLE for a handle that is not open.
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
// Decodes one compressed frame (lpbiFormat->biSizeImage bytes at lpData) into lpBits as YUY2.
DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits);
LRESULT ICClose(HIC hic);

inline LRESULT ICSetState(HIC hic, LPVOID state, DWORD size)
{
    return ICSendMessage(hic, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(state), size);
}
inline LRESULT ICDecompressQuery(HIC hic, LPBITMAPINFOHEADER in, LPBITMAPINFOHEADER out)
{
    return ICSendMessage(hic, ICM_DECOMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressBegin(HIC hic, LPBITMAPINFOHEADER in, LPBITMAPINFOHEADER out)
{
    return ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressEnd(HIC hic)
{
    return ICSendMessage(hic, ICM_DECOMPRESS_END, 0, 0);
}
