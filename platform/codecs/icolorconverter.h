#pragma once
// The colour converter object: writes NV12 from decoded frames or from YUY2.

#include "com/unknown.h"
#include "win32/win32types.h"

// {2ACC22E9-B881-4873-BC39-DE01DD49185E}
constexpr CLSID CLSID_ColorConverter = {
    0x2ACC22E9, 0xB881, 0x4873, {0xBC, 0x39, 0xDE, 0x01, 0xDD, 0x49, 0x18, 0x5E}};
// {6B67CD22-6EEF-4CD7-9F56-1E766762D3D1}
constexpr IID IID_IColorConverter = {
    0x6B67CD22, 0x6EEF, 0x4CD7, {0x9F, 0x56, 0x1E, 0x76, 0x67, 0x62, 0xD3, 0xD1}};

namespace nyx::codecs {
// The converter's format codes.
constexpr UINT32 kFormatYUY2 = 5;  // one plane, Y0 U Y1 V
constexpr UINT32 kFormatNV12 = 24; // Y plane, then one plane of interleaved U V at half height
// kFormatLibav + an AVPixelFormat value: the planes of a frame in that libavcodec pixel format, as the
// H.264 decoder hands them out when they are neither NV12 nor YUY2.
constexpr UINT32 kFormatLibav = 0x10000;

// Largest width or height the converter and the decompressors take.
constexpr UINT32 kMaxDimension = 16384;
} // namespace nyx::codecs

struct IColorConverter : public IUnknown
{
    // Converts a width x height frame. Destination format: kFormatNV12 only; source: kFormatNV12,
    // kFormatYUY2 or a kFormatLibav code. Width and height must be even and at most kMaxDimension.
    // E_POINTER for a missing plane or pitch array, E_INVALIDARG for a bad format, size or source pitch.
    // E_NOT_SUFFICIENT_BUFFER when the frame does not fit the destination: a destination pitch below
    // the width, or (destination planes in one block, the UV plane behind the Y plane) a Y plane
    // shorter than pitch * height. Nothing is written then.
    virtual HRESULT convert(BYTE *const *dstPlanes, const UINT32 *dstPitches, const BYTE *const *srcPlanes,
                            const UINT32 *srcPitches, UINT32 width, UINT32 height, UINT32 dstFormat,
                            UINT32 srcFormat) = 0;
};

NYX_DECLARE_IID(IColorConverter, IID_IColorConverter)
