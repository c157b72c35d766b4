#pragma once
// Test helpers: decodes Annex-B H.264 with libavcodec and splits Annex-B into NAL units.

#include "multimedia/engines/h264encoder.h"

#include <QByteArrayList>

#include <optional>

namespace nyx::multimedia::test {

struct DecodedPicture
{
    qint64 time = 0;
    QByteArray luma; // width x height, tightly packed
    int width = 0;
    int height = 0;
    bool keyFrame = false;
};

class H264TestDecoder
{
public:
    H264TestDecoder();
    ~H264TestDecoder();
    // Decodes one packet; returns the pictures that came out (in presentation order).
    QVector<DecodedPicture> decode(const H264Packet &packet);
    QVector<DecodedPicture> flush();
    QString error;

private:
    struct Private;
    Private *d;
};

// The NAL units of an Annex-B byte stream, without their start codes.
QByteArrayList nalUnits(const QByteArray &annexB);
// The nal_unit_type of each unit.
QVector<int> nalTypes(const QByteArray &annexB);

} // namespace nyx::multimedia::test
