#include "multimedia/engines/h264decoder.h"

#include "multimedia/engines/avhelpers.h"

#include "codecs/h264picturesize.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>
#include <map>

namespace nyx::multimedia {

namespace {
struct Origin
{
    qint64 duration = 0;
    quint64 tag = 0;
};
} // namespace

struct H264Decoder::Private
{
    AVCodecContext *ctx = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    // The access units under way by their time; bounded by the decoder's reorder depth (units whose
    // picture never comes, e.g. undecodable ones, are trimmed).
    std::map<qint64, Origin> origins;
    QString error;
    bool tooLargeSaid = false;

    QVector<DecodedFrame> receive();
};

H264Decoder::H264Decoder() : d(new Private) {}

H264Decoder::~H264Decoder()
{
    close();
}

bool H264Decoder::open()
{
    close();
    d->error.clear();
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
        d->error = QStringLiteral("no H.264 decoder in libavcodec");
        return false;
    }
    d->ctx = avcodec_alloc_context3(codec);
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->ctx || !d->packet || !d->frame) {
        d->error = QStringLiteral("out of memory");
        close();
        return false;
    }
    // Slice threads only: frame threads would hold pictures back by one per thread.
    d->ctx->thread_count = 0;
    d->ctx->thread_type = FF_THREAD_SLICE;
    // libavcodec's own bound, behind the check of the parameter sets in decode().
    d->ctx->max_pixels = nyx::codecs::h264::kDecoderPixelLimit;
    const int rc = avcodec_open2(d->ctx, codec, nullptr);
    if (rc < 0) {
        d->error = QStringLiteral("cannot open the H.264 decoder: %1").arg(avErrorString(rc));
        close();
        return false;
    }
    return true;
}

bool H264Decoder::isOpen() const
{
    return d->ctx != nullptr;
}

void H264Decoder::close()
{
    avcodec_free_context(&d->ctx);
    av_packet_free(&d->packet);
    av_frame_free(&d->frame);
    d->origins.clear();
}

QString H264Decoder::errorString() const
{
    return d->error;
}

QVector<DecodedFrame> H264Decoder::Private::receive()
{
    QVector<DecodedFrame> out;
    for (;;) {
        const int rc = avcodec_receive_frame(ctx, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            error = QStringLiteral("decoding failed: %1").arg(avErrorString(rc));
            break;
        }
        const int width = frame->width, height = frame->height;
        if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P &&
            frame->format != AV_PIX_FMT_NV12) {
            error = QStringLiteral("unsupported picture format %1").arg(frame->format);
            av_frame_unref(frame);
            continue;
        }
        if (Nv12Frame::byteSize(width, height) <= 0) {
            error = QStringLiteral("picture size %1x%2 is not an NV12 size").arg(width).arg(height);
            av_frame_unref(frame);
            continue;
        }
        DecodedFrame decoded;
        Nv12Frame &f = decoded.frame;
        f = Nv12Frame::create(width, height);
        for (int row = 0; row < height; ++row)
            std::memcpy(f.y() + qsizetype(row) * width, frame->data[0] + qsizetype(row) * frame->linesize[0],
                        size_t(width));
        for (int row = 0; row < height / 2; ++row) {
            uchar *uv = f.uv() + qsizetype(row) * width;
            if (frame->format == AV_PIX_FMT_NV12) {
                std::memcpy(uv, frame->data[1] + qsizetype(row) * frame->linesize[1], size_t(width));
                continue;
            }
            const uint8_t *u = frame->data[1] + qsizetype(row) * frame->linesize[1];
            const uint8_t *v = frame->data[2] + qsizetype(row) * frame->linesize[2];
            for (int x = 0; x < width / 2; ++x) {
                uv[2 * x] = u[x];
                uv[2 * x + 1] = v[x];
            }
        }
        const qint64 time =
            frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        f.time = time;
        auto it = origins.find(time);
        if (it != origins.end()) {
            f.duration = it->second.duration;
            decoded.tag = it->second.tag;
            // Units before this one in time that never gave a picture are gone for good.
            origins.erase(origins.begin(), std::next(it));
        }
        out.append(decoded);
        av_frame_unref(frame);
    }
    return out;
}

QVector<DecodedFrame> H264Decoder::decode(const QByteArray &annexB, qint64 time, qint64 duration, quint64 tag)
{
    d->error.clear();
    if (!d->ctx && !open())
        return {};
    // A camera announcing pictures larger than any real one would take gigabytes: its units are refused
    // (the stream shows nothing until it announces a size that is allowed).
    std::int64_t width = 0, height = 0;
    if (nyx::codecs::h264::announcedPictureSize(reinterpret_cast<const uint8_t *>(annexB.constData()),
                                                std::size_t(annexB.size()), &width, &height) &&
        !nyx::codecs::h264::pictureSizeAllowed(width, height)) {
        d->error = QStringLiteral("the stream announces %1x%2 pictures, larger than the %3x%4 the decoder "
                                  "takes: refused")
                       .arg(width)
                       .arg(height)
                       .arg(nyx::codecs::h264::kMaxPictureSide)
                       .arg(nyx::codecs::h264::kMaxPicturePixels / nyx::codecs::h264::kMaxPictureSide);
        if (!d->tooLargeSaid)
            qCWarning(lcEngines).noquote() << "H.264 decoder:" << d->error;
        d->tooLargeSaid = true;
        // Nothing decoded before it belongs to the refused parameter sets' pictures.
        avcodec_flush_buffers(d->ctx);
        d->origins.clear();
        return {};
    }
    int rc = av_new_packet(d->packet, int(annexB.size()));
    if (rc < 0) {
        d->error = avErrorString(rc);
        return {};
    }
    std::memcpy(d->packet->data, annexB.constData(), size_t(annexB.size()));
    d->packet->pts = time;
    d->packet->dts = AV_NOPTS_VALUE;
    d->packet->duration = duration;
    d->origins[time] = Origin{duration, tag};
    // Keeps the table bounded whatever the stream does (H.264 reorders at most 16 pictures).
    while (d->origins.size() > 32)
        d->origins.erase(d->origins.begin());
    rc = avcodec_send_packet(d->ctx, d->packet);
    av_packet_unref(d->packet);
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
        d->error = QStringLiteral("the decoder rejected a unit: %1").arg(avErrorString(rc));
        d->origins.erase(time);
        return d->receive();
    }
    return d->receive();
}

QVector<DecodedFrame> H264Decoder::drain()
{
    if (!d->ctx)
        return {};
    avcodec_send_packet(d->ctx, nullptr);
    QVector<DecodedFrame> out = d->receive();
    avcodec_flush_buffers(d->ctx);
    d->origins.clear();
    return out;
}

void H264Decoder::flush()
{
    if (d->ctx)
        avcodec_flush_buffers(d->ctx);
    d->origins.clear();
}

bool H264Decoder::isKeyFrame(const QByteArray &annexB)
{
    // The NAL unit types after each start code (00 00 01; a four-byte one ends the same way).
    const auto *bytes = reinterpret_cast<const uchar *>(annexB.constData());
    const int size = annexB.size();
    for (int i = 0; i + 3 < size; ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1)
            continue;
        const int type = bytes[i + 3] & 0x1f;
        if (type == 5)
            return true;
        // A slice of any other picture: the unit's picture is not an IDR one.
        if (type == 1)
            return false;
        i += 2;
    }
    return false;
}

} // namespace nyx::multimedia
