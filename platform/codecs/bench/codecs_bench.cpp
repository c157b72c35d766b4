// Decoding a 1080p H.264 stream from the archive through the decoder and converter objects, against plain
// libavcodec and libswscale decoding the same access units to NV12 in memory, both on one thread.
// Usage: codecs_bench [frames] (default 250). Prints frames per second of each and their ratio.

#include "../tests/archivesample.h"
#include "../tests/mediasamples.h"
#include "codecs/codecs.h"
#include "com/com.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {
constexpr int kWidth = 1920, kHeight = 1080;
constexpr LONGLONG kFrame = 400000;

double plainDecode(const mediasamples::Encoded &encoded)
{
    QElapsedTimer timer;
    timer.start();
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<uint8_t> nv12(kWidth * kHeight * 3 / 2);
    uint8_t *dst[4] = {nv12.data(), nv12.data() + kWidth * kHeight, nullptr, nullptr};
    const int pitch[4] = {kWidth, kWidth, 0, 0};
    SwsContext *scaler = nullptr;
    int pictures = 0;
    auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format),
                                          frame->width, frame->height, AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr,
                                          nullptr, nullptr);
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, pitch);
            ++pictures;
        }
    };
    for (const QByteArray &bytes : encoded.packets) {
        av_new_packet(packet, bytes.size());
        memcpy(packet->data, bytes.constData(), bytes.size());
        avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(context, nullptr);
    receive();
    const double seconds = timer.nsecsElapsed() / 1e9;
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return pictures / seconds;
}

double objectDecode(const GUID &stream, int frames)
{
    CComPtr<IH264Decoder> decoder;
    CComPtr<IColorConverter> converter;
    CComPtr<IH264DecoderConfig> config;
    decoder.CoCreateInstance(CLSID_H264Decoder);
    converter.CoCreateInstance(CLSID_ColorConverter);
    decoder.QueryInterface(&config);
    if (FAILED(config->configure(0, -1, 0, &stream, 2, 24, 1)))
        return 0;
    std::vector<BYTE> nv12(kWidth * kHeight * 3 / 2);
    BYTE *dst[4] = {nv12.data(), nv12.data() + kWidth * kHeight, nullptr, nullptr};
    const UINT32 pitch[4] = {kWidth, kWidth, 0, 0};
    QElapsedTimer timer;
    timer.start();
    for (int n = 0; n < frames; ++n) {
        DecodedFrame frame{};
        if (decoder->decodeFrame(archivesample::kBase + n * kFrame, &frame) != S_OK ||
            FAILED(converter->convert(dst, pitch, frame.planes, frame.pitches, frame.width, frame.height, 24,
                                      frame.format)))
            return 0;
    }
    return frames / (timer.nsecsElapsed() / 1e9);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    const int frames = argc > 1 ? std::max(1, atoi(argv[1])) : 250;
    QTemporaryDir root;
    archivesample::useRoot(root.path());
    CComPtr<IRewindServer> server = archivesample::server();

    mediasamples::EncoderSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.frames = frames;
    std::printf("encoding %d frames of %dx%d ...\n", frames, kWidth, kHeight);
    const auto encoded = mediasamples::encode(settings);
    std::vector<archivesample::Record> records;
    for (int i = 0; i < int(encoded.packets.size()); ++i)
        records.push_back({archivesample::kBase + i * kFrame, encoded.packets[i], encoded.keys[i]});
    const GUID stream = archivesample::createStream(server, {QStringLiteral("Bench")});
    if (FAILED(archivesample::writeRecords(server, stream, records)))
        return 1;

    const double plain = plainDecode(encoded);
    const double objects = objectDecode(stream, frames);
    std::printf("libavcodec + libswscale in memory: %.1f fps\n", plain);
    std::printf("decoder objects from the archive:  %.1f fps\n", objects);
    std::printf("ratio: %.3f (target for the playback path: at least 0.9)\n",
                plain > 0 ? objects / plain : 0.0);
    return objects > 0 ? 0 : 1;
}
