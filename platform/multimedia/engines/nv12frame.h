#pragma once
// One uncompressed NV12 picture as the capture, encoder and video-output engines pass it around.

#include <QByteArray>
#include <QtGlobal>

namespace nyx::multimedia {

// Y plane (width x height bytes) followed by the interleaved UV plane (width x height/2 bytes), both
// with a stride equal to the width. Copies share the bytes (QByteArray is implicitly shared and safe to
// hand across threads); writing through y()/uv() detaches.
struct Nv12Frame
{
    int width = 0;
    int height = 0;
    QByteArray data;
    qint64 time = 0;     // presentation time, 100 ns
    qint64 duration = 0; // 100 ns

    static Nv12Frame create(int width, int height);
    // Plane size in bytes for a width x height picture, 0 when the size is not a valid NV12 size.
    static qsizetype byteSize(int width, int height);

    bool isNull() const { return width <= 0 || height <= 0 || data.size() < byteSize(width, height); }
    uchar *y() { return reinterpret_cast<uchar *>(data.data()); }
    uchar *uv() { return y() + qsizetype(width) * height; }
    const uchar *y() const { return reinterpret_cast<const uchar *>(data.constData()); }
    const uchar *uv() const { return y() + qsizetype(width) * height; }
    // Fills the picture with one colour.
    void fill(uchar luma, uchar cb, uchar cr);
};

} // namespace nyx::multimedia
