#include "multimedia/engines/runningline.h"

#include <cstring>

namespace nyx::multimedia {

RunningLine::RunningLine(int width, int height, int frameRateNumerator, int frameRateDenominator)
    : m_width(width), m_height(height), m_rateNum(frameRateNumerator), m_rateDen(frameRateDenominator)
{
}

bool RunningLine::isValid() const
{
    return Nv12Frame::byteSize(m_width, m_height) > 0 && m_rateNum > 0 && m_rateDen > 0;
}

qint64 RunningLine::frameDuration() const
{
    return isValid() ? qint64(10000000) * m_rateDen / m_rateNum : 0;
}

int RunningLine::lineWidth() const
{
    return qMax(2, (m_width / 160) & ~1);
}

int RunningLine::lineX(qint64 index) const
{
    // One crossing every two seconds, whatever the frame rate.
    const qint64 framesPerCrossing = qMax<qint64>(1, 2 * qint64(m_rateNum) / m_rateDen);
    const qint64 travel = m_width - lineWidth();
    return int((index % framesPerCrossing) * travel / framesPerCrossing) & ~1;
}

Nv12Frame RunningLine::frame(qint64 index) const
{
    Nv12Frame f = Nv12Frame::create(m_width, m_height);
    if (f.isNull())
        return f;
    f.fill(BackgroundLuma, 128, 128);
    const int x = lineX(index);
    const int w = lineWidth();
    for (int row = 0; row < m_height; ++row)
        std::memset(f.y() + qsizetype(row) * m_width + x, LineLuma, w);
    f.duration = frameDuration();
    f.time = index * f.duration;
    return f;
}

} // namespace nyx::multimedia
