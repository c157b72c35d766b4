#pragma once
// The H.264 decoder object: decodes the frames of an archive stream of H.264 access units
// (Annex B, one access unit per frame in the "Video_1" channel, key frames marked on "KeyFrame").

#include "com/unknown.h"
#include "win32/win32types.h"
#include "win32/winerror.h"

#include <cstddef>

// {ACF825D5-8B40-42A7-924A-E8B906DC537D}
constexpr CLSID CLSID_H264Decoder = {
    0xACF825D5, 0x8B40, 0x42A7, {0x92, 0x4A, 0xE8, 0xB9, 0x06, 0xDC, 0x53, 0x7D}};
// {27B51480-6667-46ED-93D6-32F8C736E09E}
constexpr IID IID_IH264Decoder = {
    0x27B51480, 0x6667, 0x46ED, {0x93, 0xD6, 0x32, 0xF8, 0xC7, 0x36, 0xE0, 0x9E}};
// {98E6D26C-61F3-49D5-B368-A2C237DDCE4B}
constexpr IID IID_IH264DecoderConfig = {
    0x98E6D26C, 0x61F3, 0x49D5, {0xB3, 0x68, 0xA2, 0xC2, 0x37, 0xDD, 0xCE, 0x4B}};

// What getStreamInfo reports, taken from the stream's first key frame.
struct H264StreamInfo
{
    BYTE reserved0[8];
    double frameRate; // frames per second, always > 0
    BYTE progressive; // non-zero: progressive frames
    BYTE reserved1[11];
    UINT32 width;
    UINT32 height;
    UINT32 reserved2;
};
static_assert(offsetof(H264StreamInfo, frameRate) == 8, "layout");
static_assert(offsetof(H264StreamInfo, progressive) == 16, "layout");
static_assert(offsetof(H264StreamInfo, width) == 28, "layout");
static_assert(offsetof(H264StreamInfo, height) == 32, "layout");
static_assert(sizeof(H264StreamInfo) == 40, "layout");

// One decoded frame as decodeFrame hands it to the colour converter: pass planes and pitches, width,
// height and format to IColorConverter::convert. The planes belong to the decoder and stay valid until
// the next decodeFrame, reset, configure or the decoder's release.
struct DecodedFrame
{
    BYTE *planes[4];
    UINT32 pitches[4];
    LONGLONG frameTime; // archive time of the frame decoded
    UINT32 width;
    UINT32 height;
    UINT32 format; // the converter's source format code (see icolorconverter.h)
    BYTE reserved0[28];
    INT32 fieldOrder; // -1 progressive, 0 lower field first, 1 upper field first
    BYTE reserved1[4];
};
static_assert(offsetof(DecodedFrame, pitches) == 32, "layout");
static_assert(offsetof(DecodedFrame, width) == 56, "layout");
static_assert(offsetof(DecodedFrame, height) == 60, "layout");
static_assert(offsetof(DecodedFrame, format) == 64, "layout");
static_assert(offsetof(DecodedFrame, fieldOrder) == 96, "layout");
static_assert(sizeof(DecodedFrame) == 104, "layout");

namespace nyx::codecs {
constexpr HRESULT kFrameNotFound = HRESULT_FROM_WIN32(1168); // ERROR_NOT_FOUND
// A stream announcing pictures larger than the decoders take (8192 x 4320, either way round):
// refused before anything of that size is allocated.
constexpr HRESULT kPictureTooLarge = NYX_HRESULT(0xC00D3E98); // MF_E_UNSUPPORTED_FORMAT
} // namespace nyx::codecs

struct IH264Decoder : public IUnknown
{
    // Drops the decoder state and the frame held for the last decodeFrame; the next decodeFrame
    // starts again at a key frame.
    virtual HRESULT reset() = 0;
    // The stream's frame rate, progressive flag and frame size. Failures: E_POINTER,
    // E_NOT_VALID_STATE before configure, kFrameNotFound when the stream holds no decodable frame.
    virtual HRESULT getStreamInfo(H264StreamInfo *info) = 0;
    // Decodes the frame shown at the archive time (the last video frame at or before it):
    //   S_OK           frame filled in;
    //   E_PENDING      not ready yet (server starting, or a stream being recorded needs the frames
    //                  that follow before this one can be shown): ask again with the same time;
    //   S_FALSE        no decodable frame at that time (no key frame before it, or its data does not
    //                  decode): an earlier time may have one;
    //   kFrameNotFound no video frame at or before the time;
    //   other failures as they come (archive or libavcodec errors mapped to HRESULTs).
    // Sequential times decode each frame once; a time whose key frame lies beyond the frames decoded
    // so far restarts at that key frame; an earlier time restarts at its own key frame.
    virtual HRESULT decodeFrame(LONGLONG time, DecodedFrame *frame) = 0;
};

struct IH264DecoderConfig : public IUnknown
{
    // Opens the archive stream (flags 0; decoderKind -1..2 and decoderIndex 0..6 name the decoder a
    // source was configured with, all of them decode with libavcodec here; readerMode 1 or 2, as the
    // archive reader's Open takes it; outputFormat 24: the frames are converted to NV12; framesHeld 1:
    // the caller holds one decoded frame at a time). Reads "FrameRate" from the stream's attributes
    // when present. E_INVALIDARG for other values, the archive's code when the stream or its
    // "Video_1" channel cannot be opened, E_PENDING when the server is not ready within 5 s.
    // Configuring again closes the stream opened before.
    virtual HRESULT configure(UINT32 flags, INT32 decoderKind, INT32 decoderIndex, const GUID *streamId,
                              UINT32 readerMode, UINT32 outputFormat, UINT32 framesHeld) = 0;
};

NYX_DECLARE_IID(IH264Decoder, IID_IH264Decoder)
NYX_DECLARE_IID(IH264DecoderConfig, IID_IH264DecoderConfig)
