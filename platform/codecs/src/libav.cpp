#include "libav.h"

#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
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

    // libswscale reads and writes rows in blocks of several pixels, past the end of a row whose bytes are
    // not a multiple of the block: rows that do not leave room for that go through padded copies.
    const uint8_t *source[4] = {src[0], src[1], src[2], src[3]};
    int sourcePitch[4] = {srcPitch[0], srcPitch[1], srcPitch[2], srcPitch[3]};
    if (!PaddedPicture::roomy(src, srcPitch, from, width, height)) {
        if (!m_sourceCopy.allocate(from, width, height))
            return E_OUTOFMEMORY;
        m_sourceCopy.copyIn(src, srcPitch);
        m_sourceCopy.planes(source, sourcePitch);
    }
    const bool direct = PaddedPicture::roomy(dst, dstPitch, to, width, height);
    uint8_t *target[4] = {dst[0], dst[1], dst[2], dst[3]};
    int targetPitch[4] = {dstPitch[0], dstPitch[1], dstPitch[2], dstPitch[3]};
    if (!direct) {
        if (!m_targetCopy.allocate(to, width, height))
            return E_OUTOFMEMORY;
        m_targetCopy.planes(target, targetPitch);
    }
    const int rows = sws_scale(m_context, source, sourcePitch, 0, height, target, targetPitch);
    if (rows != height)
        return E_FAIL;
    if (!direct)
        m_targetCopy.copyOut(dst, dstPitch);
    return S_OK;
}

bool PaddedPicture::layout(AVPixelFormat format, int width, int height, int bytes[4], int rows[4])
{
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor || av_image_fill_linesizes(bytes, format, width) < 0)
        return false;
    for (int i = 0; i < 4; ++i)
        rows[i] =
            bytes[i] ? ((i == 1 || i == 2) ? AV_CEIL_RSHIFT(height, descriptor->log2_chroma_h) : height) : 0;
    return true;
}

bool PaddedPicture::roomy(const uint8_t *const planes[4], const int pitches[4], AVPixelFormat format,
                          int width, int height)
{
    int bytes[4], rows[4];
    if (!layout(format, width, height, bytes, rows))
        return false;
    for (int i = 0; i < 4; ++i)
        if (bytes[i] && (!planes[i] || pitches[i] < FFALIGN(bytes[i], kBlock)))
            return false;
    return true;
}

bool PaddedPicture::allocate(AVPixelFormat format, int width, int height)
{
    if (!layout(format, width, height, m_bytes, m_rows))
        return false;
    std::size_t total = 0;
    for (int i = 0; i < 4; ++i) {
        m_pitches[i] = m_bytes[i] ? FFALIGN(m_bytes[i], kBlock) + kBlock : 0;
        m_offsets[i] = total;
        total += static_cast<std::size_t>(m_pitches[i]) * (m_rows[i] + 1);
    }
    try {
        m_buffer.resize(total + kBlock);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void PaddedPicture::planes(const uint8_t *planes[4], int pitches[4])
{
    for (int i = 0; i < 4; ++i) {
        planes[i] = m_bytes[i] ? m_buffer.data() + m_offsets[i] : nullptr;
        pitches[i] = m_pitches[i];
    }
}

void PaddedPicture::planes(uint8_t *planes[4], int pitches[4])
{
    for (int i = 0; i < 4; ++i) {
        planes[i] = m_bytes[i] ? m_buffer.data() + m_offsets[i] : nullptr;
        pitches[i] = m_pitches[i];
    }
}

void PaddedPicture::copyIn(const uint8_t *const planes[4], const int pitches[4])
{
    for (int i = 0; i < 4; ++i)
        for (int row = 0; row < m_rows[i]; ++row)
            std::memcpy(m_buffer.data() + m_offsets[i] + static_cast<std::size_t>(row) * m_pitches[i],
                        planes[i] + static_cast<std::ptrdiff_t>(row) * pitches[i],
                        static_cast<std::size_t>(m_bytes[i]));
}

void PaddedPicture::copyOut(uint8_t *const planes[4], const int pitches[4]) const
{
    for (int i = 0; i < 4; ++i)
        for (int row = 0; row < m_rows[i]; ++row)
            std::memcpy(planes[i] + static_cast<std::ptrdiff_t>(row) * pitches[i],
                        m_buffer.data() + m_offsets[i] + static_cast<std::size_t>(row) * m_pitches[i],
                        static_cast<std::size_t>(m_bytes[i]));
}
} // namespace nyx::codecs
