#pragma once
// The colour converter object on libswscale.

#include "codecs/icolorconverter.h"
#include "com/comobject.h"
#include "libav.h"

#include <mutex>

namespace nyx::codecs {
class ColorConverter final : public nyx::com::ComObject<IColorConverter>
{
public:
    static HRESULT create(REFIID riid, void **object);

    HRESULT convert(BYTE *const *dstPlanes, const UINT32 *dstPitches, const BYTE *const *srcPlanes,
                    const UINT32 *srcPitches, UINT32 width, UINT32 height, UINT32 dstFormat,
                    UINT32 srcFormat) override;

private:
    ColorConverter() = default;

    std::mutex m_mutex;
    Scaler m_scaler;
};

// The libavcodec pixel format of a converter format code; AV_PIX_FMT_NONE for an unknown code.
AVPixelFormat pixelFormatOf(UINT32 code);
// The converter format code of a libavcodec pixel format.
UINT32 formatCodeOf(AVPixelFormat format);
} // namespace nyx::codecs
