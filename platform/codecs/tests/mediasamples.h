#pragma once
// Test pictures and streams: frames that carry their number in the pixels, encoded with libavcodec,
// and reference decodes with libavcodec and libswscale.

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace mediasamples {
struct FrameFree
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// A picture of the given format whose luma carries the number n as 8 blocks of black or white along
// the top, over a pattern that moves with n.
Frame testPicture(int width, int height, AVPixelFormat format, int n);
// The number testPicture wrote, read back from a luma plane.
int readNumber(const uint8_t *luma, int pitch, int width);

struct Encoded
{
    std::vector<QByteArray> packets; // in decode order
    std::vector<bool> keys;
    QByteArray extradata;
};
struct EncoderSettings
{
    const char *codec = "libx264";
    int width = 320;
    int height = 240;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    int frames = 64;
    int fps = 25;
    int gop = 25;
    int bFrames = 2;
    bool interlaced = false;
    int firstNumber = 0; // number drawn into the first picture
};
// Encodes frames test pictures; H.264 as Annex B with its headers in every key frame.
Encoded encode(const EncoderSettings &settings);

// Decodes the packets in order with a fresh libavcodec decoder; the pictures in display order. The size
// is the container's, for codecs whose frames do not carry it.
std::vector<Frame> decodeAll(AVCodecID codec, const std::vector<QByteArray> &packets,
                             const QByteArray &extradata = {}, int width = 0, int height = 0);
// The picture converted with libswscale to a packed buffer of the format (NV12 or YUYV422).
QByteArray convert(const AVFrame *picture, AVPixelFormat format);
// A packed NV12 buffer converted from a packed YUY2 buffer with libswscale.
QByteArray yuy2ToNv12(const QByteArray &yuy2, int width, int height);
} // namespace mediasamples
