// The records of a type-7 stream as another recorder writes them ("Video_1" access units, "KeyFrame"
// marks, times that may repeat or sit at the end of the archive's range, an optional stored frame
// rate), through the H.264 decoder object and the colour converter as the playback stream uses them:
// stream info, play forward, seeks back, conversion to NV12. Nothing may read or write out of bounds,
// overflow, take pictures above 8192 x 4320, or write past the NV12 buffer of the frame's size.

#include "archivesample.h"
#include "codecs/codecs.h"
#include "codecs/storedformats.h"

#include <QTemporaryDir>
#include <QThread>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {
constexpr LONGLONG kFrame = 400000;
constexpr std::size_t kGuard = 256;
constexpr BYTE kGuardByte = 0x5A;

CComPtr<IRewindServer> g_server;
int g_streams = 0;

void convert(IColorConverter *converter, const DecodedFrame &frame)
{
    if (frame.width == 0 || frame.height == 0)
        return;
    if (std::uint64_t(frame.width) * frame.height > 8192ULL * 4320)
        __builtin_trap();
    const std::size_t size = std::size_t(frame.width) * frame.height * 3 / 2;
    std::vector<BYTE> buffer(size + kGuard, kGuardByte);
    BYTE *planes[4] = {buffer.data(), buffer.data() + std::size_t(frame.width) * frame.height, nullptr,
                       nullptr};
    const UINT32 pitches[4] = {frame.width, frame.width, 0, 0};
    converter->convert(planes, pitches, frame.planes, frame.pitches, frame.width, frame.height, 24,
                       frame.format);
    for (std::size_t i = size; i < buffer.size(); ++i)
        if (buffer[i] != kGuardByte)
            __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    av_log_set_level(AV_LOG_QUIET);
    static QTemporaryDir root;
    archivesample::useRoot(root.path());
    g_server = archivesample::server();
    for (int i = 0; g_server && i < 500 && g_server->IsReady() != S_OK; ++i)
        QThread::msleep(10);
    return 0;
}

// Input: a flags byte (1: times at the end of the archive's range, 2: a stored frame rate in the next
// 8 bytes), then records: a byte (bit 0 key-frame mark, bits 1-7 frames since the previous record, 0
// sharing its time), a 16-bit big-endian length and the access unit.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!g_server || size < 1)
        return 0;
    const BYTE flags = data[0];
    std::size_t at = 1;
    double rate = -1;
    if ((flags & 2) && size >= at + sizeof rate) {
        std::memcpy(&rate, data + at, sizeof rate);
        at += sizeof rate;
    }
    std::vector<archivesample::Record> records;
    std::vector<LONGLONG> steps;
    while (at + 3 <= size && records.size() < 48) {
        const BYTE head = data[at];
        const std::size_t length = std::min<std::size_t>((data[at + 1] << 8) | data[at + 2], size - at - 3);
        archivesample::Record r;
        r.key = head & 1;
        steps.push_back(head >> 1);
        r.video = QByteArray(reinterpret_cast<const char *>(data + at + 3), int(length));
        records.push_back(r);
        at += 3 + length;
    }
    if (records.empty())
        return 0;
    LONGLONG total = 0;
    for (LONGLONG s : steps)
        total += s;
    LONGLONG time = (flags & 1) ? LLONG_MAX - total * kFrame : archivesample::kBase;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i)
            time += steps[i] * kFrame;
        records[i].time = time;
    }
    const GUID stream =
        archivesample::createStream(g_server, {QStringLiteral("F%1").arg(++g_streams), 7, rate, 1});
    if (stream == GUID_NULL || FAILED(archivesample::writeRecords(g_server, stream, records)))
        return 0;

    CComPtr<IH264Decoder> decoder;
    CComPtr<IColorConverter> converter;
    decoder.CoCreateInstance(CLSID_H264Decoder);
    converter.CoCreateInstance(CLSID_ColorConverter);
    CComPtr<IH264DecoderConfig> config;
    if (!decoder || !converter || FAILED(decoder.QueryInterface(&config)) ||
        FAILED(config->configure(0, -1, 0, &stream, 2, 24, 1)))
        return 0;
    H264StreamInfo info{};
    if (decoder->getStreamInfo(&info) == S_OK) {
        if (FAILED(nyx::codecs::checkFrameRate(info.frameRate, nullptr)) ||
            std::uint64_t(info.width) * info.height > 8192ULL * 4320)
            __builtin_trap();
    }
    // Play forward, then seek back over the same frames, as the read loop and a seek would.
    DecodedFrame frame{};
    for (const auto &r : records)
        if (decoder->decodeFrame(r.time, &frame) == S_OK)
            convert(converter, frame);
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (decoder->decodeFrame(it->time, &frame) == S_OK)
            convert(converter, frame);
    decoder->reset();
    if (decoder->decodeFrame(records[records.size() / 2].time + kFrame / 2, &frame) == S_OK)
        convert(converter, frame);
    return 0;
}
