#include "cliptools.h"
#include "h264testdecoder.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>

namespace nyx::multimedia::test {

QVector<H264Packet> encodeClip(int frames)
{
    H264Encoder encoder;
    H264EncoderSettings settings;
    settings.width = 640;
    settings.height = 360;
    settings.preset = QStringLiteral("ultrafast");
    if (!encoder.open(settings))
        return {};
    RunningLine line(640, 360, 25, 1);
    QVector<H264Packet> packets;
    for (int i = 0; i < frames; ++i) {
        Nv12Frame f = line.frame(i);
        TimeStrip::draw(f, quint64(f.time));
        packets += encoder.encode(f);
    }
    return packets;
}

bool writeClip(const QString &path, const char *format, const QVector<H264Packet> &packets)
{
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, format, QFile::encodeName(path).constData()) < 0)
        return false;
    AVStream *st = avformat_new_stream(oc, nullptr);
    st->time_base = AVRational{1, 25};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_H264;
    st->codecpar->width = 640;
    st->codecpar->height = 360;
    QByteArray sets;
    for (const QByteArray &nal : nalUnits(packets.first().data))
        if ((nal[0] & 0x1f) == 7 || (nal[0] & 0x1f) == 8)
            sets += QByteArray("\0\0\0\1", 4) + nal;
    st->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    memcpy(st->codecpar->extradata, sets.constData(), sets.size());
    st->codecpar->extradata_size = sets.size();
    bool ok = avio_open(&oc->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(oc, nullptr) >= 0;
    AVPacket *pkt = av_packet_alloc();
    for (const H264Packet &p : packets) {
        if (!ok)
            break;
        ok = av_new_packet(pkt, p.data.size()) >= 0;
        memcpy(pkt->data, p.data.constData(), p.data.size());
        pkt->pts = pkt->dts = av_rescale_q(p.time, AVRational{1, 10000000}, st->time_base);
        pkt->duration = av_rescale_q(p.duration, AVRational{1, 10000000}, st->time_base);
        pkt->flags = p.keyFrame ? AV_PKT_FLAG_KEY : 0;
        pkt->stream_index = st->index;
        ok = ok && av_interleaved_write_frame(oc, pkt) >= 0;
    }
    av_packet_free(&pkt);
    ok = ok && av_write_trailer(oc) >= 0;
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    return ok;
}

} // namespace nyx::multimedia::test
