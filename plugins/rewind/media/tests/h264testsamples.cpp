#include "h264testsamples.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <memory>

namespace mediatest {
namespace {
struct CodecDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
    void operator()(AVFrame *f) const { av_frame_free(&f); }
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

bool drain(AVCodecContext *context, AVPacket *packet, QVector<EncodedFrame> *frames)
{
    for (;;) {
        const int ret = avcodec_receive_packet(context, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return false;
        frames->append({QByteArray(reinterpret_cast<const char *>(packet->data), packet->size),
                        (packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(packet);
    }
}
} // namespace

QVector<EncodedFrame> encodeH264(int width, int height, int count, int bitRate)
{
    QVector<EncodedFrame> frames;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return {};
    std::unique_ptr<AVCodecContext, CodecDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, CodecDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, CodecDeleter> packet(av_packet_alloc());
    if (!context || !frame || !packet)
        return {};
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, 25};
    context->framerate = AVRational{25, 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->gop_size = 25;
    context->max_b_frames = 0;
    if (bitRate > 0) {
        context->bit_rate = bitRate;
        context->rc_max_rate = bitRate;
        context->rc_buffer_size = bitRate;
    }
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "x264-params", "keyint=25:min-keyint=25:scenecut=0", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {};
    frame->format = context->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    for (int n = 0; n < count; ++n) {
        if (av_frame_make_writable(frame.get()) < 0)
            return {};
        // A moving pattern with noise so that frames differ and carry data.
        quint32 noise = static_cast<quint32>(n) * 2654435761u + 1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                noise = noise * 1664525u + 1013904223u;
                frame->data[0][y * frame->linesize[0] + x] =
                    static_cast<uint8_t>(x + y + n * 3 + ((noise >> 28) & 0x7));
            }
        }
        for (int y = 0; y < height / 2; ++y) {
            for (int x = 0; x < width / 2; ++x) {
                frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(128 + y + n * 2);
                frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(64 + x + n * 5);
            }
        }
        frame->pts = n;
        if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
            !drain(context.get(), packet.get(), &frames))
            return {};
    }
    if (avcodec_send_frame(context.get(), nullptr) < 0 || !drain(context.get(), packet.get(), &frames))
        return {};
    return frames.size() == count ? frames : QVector<EncodedFrame>();
}

CComPtr<IMFMediaType> h264Type(UINT32 width, UINT32 height)
{
    CComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    MFSetAttributeSize(type, MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(type, MF_MT_FRAME_RATE, 25, 1);
    return type;
}

CComPtr<IMFMediaType> audioType(bool isFloat)
{
    CComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, 48000);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, isFloat ? 32 : 16);
    type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    return type;
}

CComPtr<IMFSample> makeSample(const QByteArray &bytes, LONGLONG time, LONGLONG duration, bool key)
{
    CComPtr<IMFSample> sample;
    CComPtr<IMFMediaBuffer> buffer;
    MFCreateSample(&sample);
    MFCreateMemoryBuffer(static_cast<DWORD>(bytes.size()), &buffer);
    BYTE *data = nullptr;
    buffer->Lock(&data, nullptr, nullptr);
    std::memcpy(data, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
    sample->AddBuffer(buffer);
    sample->SetSampleTime(time);
    sample->SetSampleDuration(duration);
    if (key)
        sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

QByteArray audioBlock(int index, bool isFloat)
{
    // 20 ms of stereo at 48 kHz.
    const int frames = 960;
    QByteArray bytes(frames * 2 * (isFloat ? 4 : 2), Qt::Uninitialized);
    for (int i = 0; i < frames * 2; ++i) {
        if (isFloat) {
            const float v = static_cast<float>(((index * 31 + i) % 200) - 100) / 100.0f;
            std::memcpy(bytes.data() + i * 4, &v, 4);
        } else {
            const qint16 v = static_cast<qint16>((index * 131 + i * 7) % 30000);
            std::memcpy(bytes.data() + i * 2, &v, 2);
        }
    }
    return bytes;
}
} // namespace mediatest
