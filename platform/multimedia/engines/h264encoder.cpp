#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/avhelpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <cstring>

namespace nyx::multimedia {

struct H264Encoder::Private
{
    H264EncoderSettings settings;
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    QString error;

    QVector<H264Packet> drain();
};

H264Encoder::H264Encoder() : d(std::make_unique<Private>()) {}

H264Encoder::~H264Encoder()
{
    close();
}

bool H264Encoder::isOpen() const
{
    return d->ctx;
}

QString H264Encoder::errorString() const
{
    return d->error;
}

const H264EncoderSettings &H264Encoder::settings() const
{
    return d->settings;
}

bool H264Encoder::open(const H264EncoderSettings &s)
{
    close();
    d->error.clear();
    d->settings = s;
    if (Nv12Frame::byteSize(s.width, s.height) == 0 || s.frameRateNumerator <= 0 ||
        s.frameRateDenominator <= 0) {
        d->error = QStringLiteral("invalid picture size or frame rate");
        return false;
    }
    if (d->settings.gopLength <= 0)
        d->settings.gopLength =
            qMax(1, (s.frameRateNumerator + s.frameRateDenominator / 2) / s.frameRateDenominator);

    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        d->error = QStringLiteral("libavcodec has no libx264 encoder");
        return false;
    }
    d->ctx = avcodec_alloc_context3(codec);
    d->frame = av_frame_alloc();
    d->packet = av_packet_alloc();
    if (!d->ctx || !d->frame || !d->packet) {
        d->error = QStringLiteral("out of memory");
        close();
        return false;
    }
    AVCodecContext *c = d->ctx;
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = AV_PIX_FMT_NV12;
    c->time_base = AVRational{1, 10000000};
    c->framerate = AVRational{s.frameRateNumerator, s.frameRateDenominator};
    c->gop_size = d->settings.gopLength;
    c->keyint_min = d->settings.gopLength;
    c->max_b_frames = 0;
    c->bit_rate = s.bitRate;
    c->rc_max_rate = s.bitRate;
    c->rc_buffer_size = s.bitRate;
    c->thread_count = s.threads;
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT709;
    // No global header: libx264 then repeats SPS/PPS in front of every IDR picture.
    int rc = av_opt_set(c->priv_data, "preset", s.preset.toUtf8().constData(), 0);
    if (rc >= 0)
        rc = av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (rc >= 0)
        rc = av_opt_set(c->priv_data, "x264-params", "scenecut=0:open-gop=0:bframes=0:repeat-headers=1", 0);
    if (rc >= 0)
        rc = av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
    if (rc < 0) {
        d->error = QStringLiteral("libx264 option rejected: ") + avErrorString(rc);
        close();
        return false;
    }
    rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        d->error = QStringLiteral("cannot open libx264: ") + avErrorString(rc);
        close();
        return false;
    }
    d->frame->format = AV_PIX_FMT_NV12;
    d->frame->width = s.width;
    d->frame->height = s.height;
    rc = av_frame_get_buffer(d->frame, 0);
    if (rc < 0) {
        d->error = QStringLiteral("cannot allocate a frame: ") + avErrorString(rc);
        close();
        return false;
    }
    return true;
}

QVector<H264Packet> H264Encoder::encode(const Nv12Frame &in)
{
    d->error.clear();
    if (!d->ctx) {
        d->error = QStringLiteral("encoder not open");
        return {};
    }
    if (in.isNull() || in.width != d->settings.width || in.height != d->settings.height) {
        d->error = QStringLiteral("frame of the wrong size");
        return {};
    }
    int rc = av_frame_make_writable(d->frame);
    if (rc < 0) {
        d->error = avErrorString(rc);
        return {};
    }
    const int w = in.width, h = in.height;
    for (int row = 0; row < h; ++row)
        std::memcpy(d->frame->data[0] + qsizetype(row) * d->frame->linesize[0], in.y() + qsizetype(row) * w,
                    w);
    for (int row = 0; row < h / 2; ++row)
        std::memcpy(d->frame->data[1] + qsizetype(row) * d->frame->linesize[1], in.uv() + qsizetype(row) * w,
                    w);
    d->frame->pts = in.time;
    d->frame->pkt_duration = in.duration;
    rc = avcodec_send_frame(d->ctx, d->frame);
    if (rc < 0) {
        d->error = QStringLiteral("encoding failed: ") + avErrorString(rc);
        return {};
    }
    return d->drain();
}

QVector<H264Packet> H264Encoder::flush()
{
    if (!d->ctx)
        return {};
    const int rc = avcodec_send_frame(d->ctx, nullptr);
    if (rc < 0 && rc != AVERROR_EOF) {
        d->error = avErrorString(rc);
        return {};
    }
    return d->drain();
}

QVector<H264Packet> H264Encoder::Private::drain()
{
    QVector<H264Packet> out;
    for (;;) {
        const int rc = avcodec_receive_packet(ctx, packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            error = QStringLiteral("encoding failed: ") + avErrorString(rc);
            break;
        }
        H264Packet p;
        p.data = QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
        p.time = packet->pts;
        p.duration = packet->duration;
        p.keyFrame = packet->flags & AV_PKT_FLAG_KEY;
        out.append(p);
        av_packet_unref(packet);
    }
    return out;
}

void H264Encoder::close()
{
    avcodec_free_context(&d->ctx);
    av_frame_free(&d->frame);
    av_packet_free(&d->packet);
}

} // namespace nyx::multimedia
