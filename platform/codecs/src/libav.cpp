#include "libav.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

Q_LOGGING_CATEGORY(lcCodecs, "nyx.codecs")

namespace nyx::codecs {
namespace {
// Scaling flags of every conversion; the sizes never change, so only the chroma resampling uses them.
constexpr int kScaleFlags = SWS_BILINEAR;

AVPixelFormat plainFormat(AVPixelFormat format, bool *fullRange)
{
    *fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        *fullRange = false;
        return format;
    }
}
} // namespace

HRESULT fromAvError(int error)
{
    if (error == AVERROR(ENOMEM))
        return E_OUTOFMEMORY;
    if (error == AVERROR_INVALIDDATA)
        return HRESULT_FROM_WIN32(13); // ERROR_INVALID_DATA
    return E_FAIL;
}

QString avErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

Scaler::~Scaler()
{
    sws_freeContext(m_context);
}

HRESULT Scaler::convert(const uint8_t *const src[4], const int srcPitch[4], AVPixelFormat srcFormat,
                        uint8_t *const dst[4], const int dstPitch[4], AVPixelFormat dstFormat, int width,
                        int height)
{
    bool srcFull = false, dstFull = false;
    const AVPixelFormat from = plainFormat(srcFormat, &srcFull);
    const AVPixelFormat to = plainFormat(dstFormat, &dstFull);
    const Key key{width, height, from, to, srcFull, dstFull};
    if (!m_context || !(key == m_key)) {
        sws_freeContext(m_context);
        // Ranges are options of the context: set before it is initialised, they choose the conversion.
        m_context = sws_alloc_context();
        const bool ready = m_context && av_opt_set_int(m_context, "srcw", width, 0) >= 0 &&
                           av_opt_set_int(m_context, "srch", height, 0) >= 0 &&
                           av_opt_set_int(m_context, "dstw", width, 0) >= 0 &&
                           av_opt_set_int(m_context, "dsth", height, 0) >= 0 &&
                           av_opt_set_int(m_context, "src_format", from, 0) >= 0 &&
                           av_opt_set_int(m_context, "dst_format", to, 0) >= 0 &&
                           av_opt_set_int(m_context, "sws_flags", kScaleFlags, 0) >= 0 &&
                           av_opt_set_int(m_context, "src_range", srcFull ? 1 : 0, 0) >= 0 &&
                           av_opt_set_int(m_context, "dst_range", dstFull ? 1 : 0, 0) >= 0 &&
                           sws_init_context(m_context, nullptr, nullptr) >= 0;
        if (!ready) {
            sws_freeContext(m_context);
            m_context = nullptr;
            qCWarning(lcCodecs) << "No conversion from" << av_get_pix_fmt_name(srcFormat) << "to"
                                << av_get_pix_fmt_name(dstFormat) << width << "x" << height;
            return E_INVALIDARG;
        }
        m_key = key;
    }
    const int rows = sws_scale(m_context, src, srcPitch, 0, height, dst, dstPitch);
    return rows == height ? S_OK : E_FAIL;
}
} // namespace nyx::codecs
