#pragma once
// Owners of libavcodec and libswscale objects, and the conversions both decoders share.

#include "win32/winerror.h"

#include <QLoggingCategory>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

Q_DECLARE_LOGGING_CATEGORY(lcCodecs)

namespace nyx::codecs {
struct CodecContextDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// A libavcodec error as HRESULT: out of memory E_OUTOFMEMORY, bad data ERROR_INVALID_DATA, else E_FAIL.
HRESULT fromAvError(int error);
QString avErrorText(int error);

// A picture in a buffer of its own whose rows leave room for libswscale's block reads and writes.
class PaddedPicture
{
public:
    static constexpr int kBlock = 64;

    // True when every plane of the picture is given and its pitch holds its row rounded up to a block.
    static bool roomy(const uint8_t *const planes[4], const int pitches[4], AVPixelFormat format, int width,
                      int height);
    bool allocate(AVPixelFormat format, int width, int height);
    void planes(const uint8_t *planes[4], int pitches[4]);
    void planes(uint8_t *planes[4], int pitches[4]);
    void copyIn(const uint8_t *const planes[4], const int pitches[4]);
    void copyOut(uint8_t *const planes[4], const int pitches[4]) const;

private:
    static bool layout(AVPixelFormat format, int width, int height, int bytes[4], int rows[4]);

    std::vector<uint8_t> m_buffer;
    std::size_t m_offsets[4] = {};
    int m_bytes[4] = {};
    int m_rows[4] = {};
    int m_pitches[4] = {};
};

// One conversion context reused while the sizes and formats stay the same. Not thread-safe.
class Scaler
{
public:
    Scaler() = default;
    ~Scaler();
    Scaler(const Scaler &) = delete;
    Scaler &operator=(const Scaler &) = delete;

    // Converts a width x height picture between formats of the same size. The full-range JPEG
    // formats are read as their plain formats with full-range levels.
    HRESULT convert(const uint8_t *const src[4], const int srcPitch[4], AVPixelFormat srcFormat,
                    uint8_t *const dst[4], const int dstPitch[4], AVPixelFormat dstFormat, int width,
                    int height);

private:
    struct Key
    {
        int width, height;
        AVPixelFormat from, to;
        bool srcFull, dstFull;
        bool operator==(const Key &o) const
        {
            return width == o.width && height == o.height && from == o.from && to == o.to &&
                   srcFull == o.srcFull && dstFull == o.dstFull;
        }
    };
    SwsContext *m_context = nullptr;
    Key m_key{};
    PaddedPicture m_sourceCopy;
    PaddedPicture m_targetCopy;
};
} // namespace nyx::codecs
