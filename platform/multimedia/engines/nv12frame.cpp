#include "multimedia/engines/nv12frame.h"

#include <cstring>

namespace nyx::multimedia {

qsizetype Nv12Frame::byteSize(int width, int height)
{
    if (width <= 0 || height <= 0 || width % 2 || height % 2 || width > 16384 || height > 16384)
        return 0;
    return qsizetype(width) * height * 3 / 2;
}

Nv12Frame Nv12Frame::create(int width, int height)
{
    Nv12Frame f;
    const qsizetype size = byteSize(width, height);
    if (!size)
        return f;
    f.width = width;
    f.height = height;
    f.data = QByteArray(size, Qt::Uninitialized);
    return f;
}

void Nv12Frame::fill(uchar luma, uchar cb, uchar cr)
{
    if (isNull())
        return;
    const qsizetype lumaSize = qsizetype(width) * height;
    std::memset(y(), luma, lumaSize);
    uchar *c = uv();
    for (qsizetype i = 0; i < lumaSize / 2; i += 2) {
        c[i] = cb;
        c[i + 1] = cr;
    }
}

} // namespace nyx::multimedia
