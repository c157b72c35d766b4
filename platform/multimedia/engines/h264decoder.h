#pragma once
// An H.264 decoder on libavcodec: Annex-B access units in, NV12 pictures out, each picture carrying
// the time, duration and tag of the access unit it came from (so that a node can give a decoded
// picture its compressed sample's attributes).

#include "multimedia/engines/nv12frame.h"

#include <QString>
#include <QVector>

#include <memory>

namespace nyx::multimedia {

struct DecodedFrame
{
    Nv12Frame frame;
    quint64 tag = 0; // the tag of the access unit the picture came from
};

class H264Decoder
{
public:
    H264Decoder();
    ~H264Decoder();
    H264Decoder(const H264Decoder &) = delete;
    H264Decoder &operator=(const H264Decoder &) = delete;

    bool open();
    bool isOpen() const;
    void close();
    // Decodes one access unit (time and duration in 100 ns); returns the pictures that are ready, in
    // presentation order. An error leaves errorString() set and the decoder usable for the next unit.
    QVector<DecodedFrame> decode(const QByteArray &annexB, qint64 time, qint64 duration, quint64 tag);
    // Drains the pictures the decoder still holds (end of stream).
    QVector<DecodedFrame> drain();
    // Forgets everything under way (a seek or a gap in the stream): the next picture must be a key frame.
    void flush();
    QString errorString() const;

    // The access unit holds an IDR picture: decoding can begin with it, whatever came before.
    static bool isKeyFrame(const QByteArray &annexB);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace nyx::multimedia
