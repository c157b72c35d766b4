#include "multimedia/engines/timestrip.h"

#include <cstring>

namespace nyx::multimedia::TimeStrip {

QRect area(int width, int height)
{
    if (width < 256 || height < 64)
        return {};
    const int blockWidth = (width / Bits) & ~1;
    const int blockHeight = qMax(16, (height / 20) & ~1);
    const int left = ((width - blockWidth * Bits) / 2) & ~1;
    return QRect(left, 0, blockWidth * Bits, blockHeight);
}

void draw(Nv12Frame &frame, quint64 value)
{
    const QRect r = area(frame.width, frame.height);
    if (r.isEmpty() || frame.isNull())
        return;
    const int blockWidth = r.width() / Bits;
    uchar *y = frame.y();
    for (int row = r.top(); row <= r.bottom(); ++row) {
        uchar *line = y + qsizetype(row) * frame.width + r.left();
        for (int bit = 0; bit < Bits; ++bit) {
            const bool one = (value >> (Bits - 1 - bit)) & 1;
            std::memset(line + bit * blockWidth, one ? White : Black, blockWidth);
        }
    }
    uchar *uv = frame.uv();
    for (int row = r.top() / 2; row < (r.bottom() + 1) / 2; ++row)
        std::memset(uv + qsizetype(row) * frame.width + r.left(), 128, r.width());
}

std::optional<quint64> read(const uchar *luma, int stride, int width, int height)
{
    const QRect r = area(width, height);
    if (r.isEmpty() || !luma)
        return std::nullopt;
    const int blockWidth = r.width() / Bits;
    // Only the middle half of each block counts: its edges blur under compression and scaling.
    const int x0 = blockWidth / 4, x1 = blockWidth - blockWidth / 4;
    const int y0 = r.top() + r.height() / 4, y1 = r.bottom() + 1 - r.height() / 4;
    quint64 value = 0;
    for (int bit = 0; bit < Bits; ++bit) {
        qint64 sum = 0;
        int count = 0;
        for (int row = y0; row < y1; ++row) {
            const uchar *p = luma + qsizetype(row) * stride + r.left() + bit * blockWidth;
            for (int x = x0; x < x1; ++x, ++count)
                sum += p[x];
        }
        // Strict bounds: a dark picture (luma 40, say) must not read as a strip of zeros.
        const int mean = int(sum / qMax(1, count));
        if (mean >= White - 35)
            value |= quint64(1) << (Bits - 1 - bit);
        else if (mean > Black + 18)
            return std::nullopt;
    }
    return value;
}

std::optional<quint64> read(const Nv12Frame &frame)
{
    if (frame.isNull())
        return std::nullopt;
    return read(frame.y(), frame.width, frame.width, frame.height);
}

} // namespace nyx::multimedia::TimeStrip
