#pragma once
// The Windows format structures stored with video and audio streams, in their Windows layouts.

#include "win32/win32types.h"

#include <cstddef>

// Four characters packed little-endian, as Windows packs a FOURCC. The Media Foundation headers
// ("mf/mfguids.h") define the same packing as a macro; either may come first.
#ifndef MAKEFOURCC
constexpr DWORD MAKEFOURCC(char c0, char c1, char c2, char c3)
{
    return static_cast<DWORD>(static_cast<BYTE>(c0)) | (static_cast<DWORD>(static_cast<BYTE>(c1)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c2)) << 16) |
           (static_cast<DWORD>(static_cast<BYTE>(c3)) << 24);
}
#endif
constexpr DWORD mmioFOURCC(char c0, char c1, char c2, char c3)
{
    return MAKEFOURCC(c0, c1, c2, c3);
}

constexpr DWORD BI_RGB = 0;

#pragma pack(push, 2)
struct BITMAPINFOHEADER
{
    DWORD biSize; // bytes of the header including the format bytes that follow it
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression; // BI_RGB or a FOURCC
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
using PBITMAPINFOHEADER = BITMAPINFOHEADER *;
using LPBITMAPINFOHEADER = BITMAPINFOHEADER *;

static_assert(sizeof(BITMAPINFOHEADER) == 40, "Windows layout");
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12, "Windows layout");
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16, "Windows layout");
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20, "Windows layout");
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36, "Windows layout");

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;

#pragma pack(push, 1)
struct WAVEFORMATEX
{
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize; // format bytes that follow the structure
};
#pragma pack(pop)
using PWAVEFORMATEX = WAVEFORMATEX *;
using LPWAVEFORMATEX = WAVEFORMATEX *;

static_assert(sizeof(WAVEFORMATEX) == 18, "Windows layout");
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4, "Windows layout");
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8, "Windows layout");
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12, "Windows layout");
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16, "Windows layout");
