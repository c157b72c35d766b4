#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/avhelpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

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
    // The encoder takes a reference to the frame's own bytes instead of a copy: the buffer keeps a
    // shared copy of the QByteArray alive for as long as libavcodec holds it.
    auto *held = new QByteArray(in.data);
    AVBufferRef *buffer = av_buffer_create(
        reinterpret_cast<uint8_t *>(const_cast<char *>(held->constData())), int(held->size()),
        [](void *opaque, uint8_t *) { delete static_cast<QByteArray *>(opaque); }, held,
        AV_BUFFER_FLAG_READONLY);
    if (!buffer) {
        delete held;
        d->error = QStringLiteral("out of memory");
        return {};
    }
    av_frame_unref(d->frame);
    d->frame->format = AV_PIX_FMT_NV12;
    d->frame->width = in.width;
    d->frame->height = in.height;
    d->frame->buf[0] = buffer;
    d->frame->data[0] = buffer->data;
    d->frame->data[1] = buffer->data + qsizetype(in.width) * in.height;
    d->frame->linesize[0] = in.width;
    d->frame->linesize[1] = in.width;
    d->frame->pts = in.time;
    d->frame->pkt_duration = in.duration;
    const int rc = avcodec_send_frame(d->ctx, d->frame);
    av_frame_unref(d->frame);
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
