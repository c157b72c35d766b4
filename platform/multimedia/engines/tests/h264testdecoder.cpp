#include "h264testdecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

namespace nyx::multimedia::test {

struct H264TestDecoder::Private
{
    AVCodecContext *ctx = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
};

H264TestDecoder::H264TestDecoder() : d(new Private)
{
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    d->ctx = avcodec_alloc_context3(codec);
    d->ctx->thread_count = 1; // pictures come out as soon as they are decoded
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (avcodec_open2(d->ctx, codec, nullptr) < 0)
        error = QStringLiteral("cannot open the H.264 decoder");
}

H264TestDecoder::~H264TestDecoder()
{
    avcodec_free_context(&d->ctx);
    av_packet_free(&d->packet);
    av_frame_free(&d->frame);
    delete d;
}

static QVector<DecodedPicture> receive(AVCodecContext *ctx, AVFrame *frame, QString &error)
{
    QVector<DecodedPicture> out;
    for (;;) {
        const int rc = avcodec_receive_frame(ctx, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            error = QStringLiteral("decoding failed");
            break;
        }
        DecodedPicture p;
        p.time = frame->pts;
        p.width = frame->width;
        p.height = frame->height;
        p.keyFrame = frame->key_frame;
        p.luma.resize(p.width * p.height);
        for (int row = 0; row < p.height; ++row)
            std::memcpy(p.luma.data() + row * p.width, frame->data[0] + row * frame->linesize[0], p.width);
        out.append(p);
        av_frame_unref(frame);
    }
    return out;
}

QVector<DecodedPicture> H264TestDecoder::decode(const H264Packet &packet)
{
    if (av_new_packet(d->packet, packet.data.size()) < 0)
        return {};
    std::memcpy(d->packet->data, packet.data.constData(), packet.data.size());
    d->packet->pts = packet.time;
    if (packet.keyFrame)
        d->packet->flags |= AV_PKT_FLAG_KEY;
    const int rc = avcodec_send_packet(d->ctx, d->packet);
    av_packet_unref(d->packet);
    if (rc < 0) {
        error = QStringLiteral("decoder rejected a packet");
        return {};
    }
    return receive(d->ctx, d->frame, error);
}

QVector<DecodedPicture> H264TestDecoder::flush()
{
    avcodec_send_packet(d->ctx, nullptr);
    return receive(d->ctx, d->frame, error);
}

QByteArrayList nalUnits(const QByteArray &s)
{
    QByteArrayList units;
    int start = -1;
    int i = 0;
    while (i + 2 < s.size()) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            if (start >= 0) {
                int end = i;
                while (end > start && s[end - 1] == 0) // the zero of a four-byte start code
                    --end;
                units.append(s.mid(start, end - start));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start >= 0)
        units.append(s.mid(start));
    return units;
}

QVector<int> nalTypes(const QByteArray &annexB)
{
    QVector<int> types;
    for (const QByteArray &u : nalUnits(annexB))
        types.append(u.isEmpty() ? -1 : (u[0] & 0x1f));
    return types;
}

} // namespace nyx::multimedia::test
