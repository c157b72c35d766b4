#include "mediasamples.h"

#include <QtTest>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace mediasamples {
namespace {
constexpr int kBits = 8;
constexpr int kBlock = 24; // a multiple of 8 keeps the blocks on whole macroblock rows of chroma

struct ContextFree
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct PacketFree
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using Context = std::unique_ptr<AVCodecContext, ContextFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

bool fullRange(AVPixelFormat format)
{
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
}
} // namespace

Frame testPicture(int width, int height, AVPixelFormat format, int n)
{
    Frame frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    const int black = fullRange(format) ? 0 : 16, white = fullRange(format) ? 255 : 235;
    for (int y = 0; y < height; ++y) {
        uint8_t *row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < width; ++x) {
            int value = 40 + ((x + 3 * n) * 2 + y) % 160;
            if (y < kBlock && x < kBits * kBlock)
                value = (n >> (x / kBlock)) & 1 ? white : black;
            row[x] = static_cast<uint8_t>(value);
        }
    }
    const int chromaWidth = AV_CEIL_RSHIFT(width, descriptor->log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(height, descriptor->log2_chroma_h);
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < chromaHeight; ++y)
            for (int x = 0; x < chromaWidth; ++x)
                frame->data[plane][y * frame->linesize[plane] + x] =
                    static_cast<uint8_t>(plane == 1 ? 128 + (x + n) % 60 - 30 : 128 + (y * 2 + n) % 50 - 25);
    return frame;
}

int readNumber(const uint8_t *luma, int pitch, int width)
{
    int n = 0;
    for (int bit = 0; bit < kBits && (bit + 1) * kBlock <= width; ++bit) {
        const uint8_t *centre = luma + (kBlock / 2) * pitch + bit * kBlock + kBlock / 2;
        if (*centre > 128)
            n |= 1 << bit;
    }
    return n;
}

Encoded encode(const EncoderSettings &settings)
{
    Encoded result;
    const AVCodec *codec = avcodec_find_encoder_by_name(settings.codec);
    if (!codec)
        return result;
    Context context(avcodec_alloc_context3(codec));
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = settings.format;
    context->time_base = AVRational{1, settings.fps};
    context->framerate = AVRational{settings.fps, 1};
    context->gop_size = settings.gop;
    if (QByteArray(settings.codec) == "libx264")
        context->max_b_frames = settings.bFrames;
    context->thread_count = 1;
    if (settings.interlaced)
        context->flags |= AV_CODEC_FLAG_INTERLACED_DCT;
    AVDictionary *options = nullptr;
    if (QByteArray(settings.codec) == "libx264") {
        av_dict_set(&options, "preset", "veryfast", 0);
        // Key frames exactly every gop frames, each one an IDR closing its group.
        av_dict_set(&options, "x264-params", "scenecut=0:open-gop=0:min-keyint=1", 0);
    } else if (QByteArray(settings.codec) == "mjpeg") {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * 3;
    }
    if (avcodec_open2(context.get(), codec, &options) < 0) {
        av_dict_free(&options);
        return result;
    }
    av_dict_free(&options);
    if (context->extradata_size > 0)
        result.extradata =
            QByteArray(reinterpret_cast<const char *>(context->extradata), context->extradata_size);
    Packet packet(av_packet_alloc());
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            result.packets.emplace_back(reinterpret_cast<const char *>(packet->data), packet->size);
            result.keys.push_back(packet->flags & AV_PKT_FLAG_KEY);
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < settings.frames; ++i) {
        Frame picture =
            testPicture(settings.width, settings.height, settings.format, settings.firstNumber + i);
        picture->pts = i;
        if (settings.interlaced) {
            picture->interlaced_frame = 1;
            picture->top_field_first = 1;
        }
        avcodec_send_frame(context.get(), picture.get());
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return result;
}

std::vector<Frame> decodeAll(AVCodecID id, const std::vector<QByteArray> &packets,
                             const QByteArray &extradata, int width, int height)
{
    std::vector<Frame> pictures;
    const AVCodec *codec = avcodec_find_decoder(id);
    Context context(avcodec_alloc_context3(codec));
    context->thread_count = 1;
    context->width = width;
    context->height = height;
    if (!extradata.isEmpty()) {
        context->extradata =
            static_cast<uint8_t *>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        memcpy(context->extradata, extradata.constData(), extradata.size());
        context->extradata_size = extradata.size();
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return pictures;
    Packet packet(av_packet_alloc());
    auto receive = [&] {
        for (;;) {
            Frame picture(av_frame_alloc());
            if (avcodec_receive_frame(context.get(), picture.get()) < 0)
                return;
            pictures.push_back(std::move(picture));
        }
    };
    for (const QByteArray &bytes : packets) {
        av_new_packet(packet.get(), bytes.size());
        memcpy(packet->data, bytes.constData(), bytes.size());
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(context.get(), nullptr);
    receive();
    return pictures;
}

QByteArray convert(const AVFrame *picture, AVPixelFormat format)
{
    const int size = av_image_get_buffer_size(format, picture->width, picture->height, 1);
    QByteArray out(size, 0);
    uint8_t *dst[4] = {};
    int pitch[4] = {};
    av_image_fill_arrays(dst, pitch, reinterpret_cast<uint8_t *>(out.data()), format, picture->width,
                         picture->height, 1);
    SwsContext *context =
        sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                       picture->width, picture->height, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sws_scale(context, picture->data, picture->linesize, 0, picture->height, dst, pitch);
    sws_freeContext(context);
    return out;
}

QByteArray yuy2ToNv12(const QByteArray &yuy2, int width, int height)
{
    Frame frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUYV422;
    frame->data[0] = reinterpret_cast<uint8_t *>(const_cast<char *>(yuy2.constData()));
    frame->linesize[0] = width * 2;
    QByteArray out = convert(frame.get(), AV_PIX_FMT_NV12);
    frame->data[0] = nullptr;
    return out;
}
} // namespace mediasamples
