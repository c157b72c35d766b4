#include "colorconverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace nyx::codecs {
AVPixelFormat pixelFormatOf(UINT32 code)
{
    if (code == kFormatNV12)
        return AV_PIX_FMT_NV12;
    if (code == kFormatYUY2)
        return AV_PIX_FMT_YUYV422;
    if (code < kFormatLibav || code - kFormatLibav >= static_cast<UINT32>(AV_PIX_FMT_NB))
        return AV_PIX_FMT_NONE;
    const auto format = static_cast<AVPixelFormat>(code - kFormatLibav);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    // Frames in memory only: no hardware surfaces, bitstream or palette formats.
    if (!descriptor ||
        (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)))
        return AV_PIX_FMT_NONE;
    return format;
}

UINT32 formatCodeOf(AVPixelFormat format)
{
    if (format == AV_PIX_FMT_NV12)
        return kFormatNV12;
    if (format == AV_PIX_FMT_YUYV422)
        return kFormatYUY2;
    return kFormatLibav + static_cast<UINT32>(format);
}

HRESULT ColorConverter::create(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    auto *converter = new (std::nothrow) ColorConverter;
    if (!converter)
        return E_OUTOFMEMORY;
    const HRESULT hr = converter->QueryInterface(riid, object);
    converter->Release();
    return hr;
}

HRESULT ColorConverter::convert(BYTE *const *dstPlanes, const UINT32 *dstPitches,
                                const BYTE *const *srcPlanes, const UINT32 *srcPitches, UINT32 width,
                                UINT32 height, UINT32 dstFormat, UINT32 srcFormat)
{
    if (!dstPlanes || !dstPitches || !srcPlanes || !srcPitches)
        return E_POINTER;
    if (dstFormat != kFormatNV12) {
        qCWarning(lcCodecs) << "Colour converter: destination format" << dstFormat << "is not NV12";
        return E_INVALIDARG;
    }
    // NV12 has one chroma sample per 2 x 2 pixels: odd sizes would need rows the destination lacks.
    if (!width || !height || width > kMaxDimension || height > kMaxDimension || (width | height) & 1) {
        qCWarning(lcCodecs) << "Colour converter: frame size" << width << "x" << height << "not supported";
        return E_INVALIDARG;
    }
    const AVPixelFormat source = pixelFormatOf(srcFormat);
    if (source == AV_PIX_FMT_NONE) {
        qCWarning(lcCodecs) << "Colour converter: unknown source format" << srcFormat;
        return E_INVALIDARG;
    }

    int minimum[4] = {};
    if (av_image_fill_linesizes(minimum, source, static_cast<int>(width)) < 0)
        return E_INVALIDARG;
    const uint8_t *src[4] = {};
    int srcPitch[4] = {};
    const int planes = av_pix_fmt_count_planes(source);
    for (int i = 0; i < planes; ++i) {
        if (!srcPlanes[i])
            return E_POINTER;
        if (srcPitches[i] < static_cast<UINT32>(minimum[i]) || srcPitches[i] > INT32_MAX) {
            qCWarning(lcCodecs) << "Colour converter: source pitch" << srcPitches[i] << "of plane" << i
                                << "too small for width" << width;
            return E_INVALIDARG;
        }
        src[i] = srcPlanes[i];
        srcPitch[i] = static_cast<int>(srcPitches[i]);
    }

    if (!dstPlanes[0] || !dstPlanes[1])
        return E_POINTER;
    if (dstPitches[0] < width || dstPitches[1] < width || dstPitches[0] > INT32_MAX ||
        dstPitches[1] > INT32_MAX) {
        qCWarning(lcCodecs) << "Colour converter: frame width" << width << "exceeds the destination pitches"
                            << dstPitches[0] << dstPitches[1];
        return E_NOT_SUFFICIENT_BUFFER;
    }
    // Planes in one block (the UV plane behind the Y plane): the Y plane ends where the UV plane starts.
    const auto y = reinterpret_cast<std::uintptr_t>(dstPlanes[0]);
    const auto uv = reinterpret_cast<std::uintptr_t>(dstPlanes[1]);
    if (uv > y && uv - y < static_cast<std::uint64_t>(dstPitches[0]) * height) {
        qCWarning(lcCodecs) << "Colour converter: frame height" << height << "exceeds the destination's"
                            << (uv - y) / dstPitches[0] << "rows";
        return E_NOT_SUFFICIENT_BUFFER;
    }
    uint8_t *const dst[4] = {dstPlanes[0], dstPlanes[1], nullptr, nullptr};
    const int dstPitch[4] = {static_cast<int>(dstPitches[0]), static_cast<int>(dstPitches[1]), 0, 0};

    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scaler.convert(src, srcPitch, source, dst, dstPitch, AV_PIX_FMT_NV12, static_cast<int>(width),
                            static_cast<int>(height));
}
} // namespace nyx::codecs
