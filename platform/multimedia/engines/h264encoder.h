#pragma once
// H.264 encoding of NV12 pictures with libx264 (through libavcodec), tuned for live recording:
// low latency (no frame is held back), no B-frames, an IDR picture with SPS/PPS in front exactly
// every GOP-length frames (scene-cut detection off), Annex-B output.

#include "multimedia/engines/nv12frame.h"

#include <QString>
#include <QVector>

#include <memory>

namespace nyx::multimedia {

struct H264Packet
{
    QByteArray data; // Annex-B: start codes, SPS/PPS in front of every key frame
    qint64 time = 0; // 100 ns, the input frame's time
    qint64 duration = 0;
    bool keyFrame = false;
};

struct H264EncoderSettings
{
    int width = 1920;
    int height = 1080;
    int frameRateNumerator = 25;
    int frameRateDenominator = 1;
    int gopLength = 0;     // 0: one second of frames
    int bitRate = 8000000; // bit/s (VBV-capped)
    QString preset = QStringLiteral("superfast");
    int threads = 0; // 0: libx264 decides
};

// Not thread-safe: one thread feeds it. encode() returns the packets that became ready, which with
// these settings is the packet of the frame just given.
class H264Encoder
{
public:
    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder &) = delete;
    H264Encoder &operator=(const H264Encoder &) = delete;

    bool open(const H264EncoderSettings &settings);
    bool isOpen() const;
    QString errorString() const;
    const H264EncoderSettings &settings() const;

    // Encodes one frame of the opened size; an empty result with errorString() set is a failure.
    QVector<H264Packet> encode(const Nv12Frame &frame);
    // Drains whatever the encoder still holds (nothing, in zero-latency mode).
    QVector<H264Packet> flush();
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace nyx::multimedia
