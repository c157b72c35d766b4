// Access units as a camera or a file may send them, through the live H.264 decoder: whatever they
// hold, the decoder never reads or writes out of bounds, never takes pictures above 8192 x 4320,
// and stays usable for the next unit.

#include "multimedia/engines/h264decoder.h"

#include <QByteArray>
#include <cstdint>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    av_log_set_level(AV_LOG_QUIET);
    using nyx::multimedia::DecodedFrame;
    nyx::multimedia::H264Decoder decoder;
    if (!decoder.open())
        return 0;
    // Units are separated by "UNIT"; a unit "FLSH" flushes, "DRAN" drains.
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QByteArray separator("UNIT");
    int from = 0;
    qint64 time = 0;
    for (int unit = 0; unit < 64 && from <= input.size(); ++unit) {
        int to = input.indexOf(separator, from);
        if (to < 0)
            to = input.size();
        const QByteArray bytes = input.mid(from, to - from);
        from = to + separator.size();
        QVector<DecodedFrame> pictures;
        if (bytes == "FLSH") {
            decoder.flush();
            continue;
        }
        if (bytes == "DRAN")
            pictures = decoder.drain();
        else
            pictures = decoder.decode(bytes, time, 400000, quint64(unit));
        time += 400000;
        for (const DecodedFrame &d : pictures) {
            const nyx::multimedia::Nv12Frame &f = d.frame;
            if (qint64(f.width) * f.height > 8192LL * 4320)
                __builtin_trap();
            // Every byte of the picture is there to read.
            unsigned sum = 0;
            const qsizetype bytesTotal = nyx::multimedia::Nv12Frame::byteSize(f.width, f.height);
            for (qsizetype i = 0; i < bytesTotal; i += 97)
                sum += f.y()[i];
            (void)sum;
        }
    }
    decoder.drain();
    return 0;
}
