#pragma once
// The picture of the running-line test signal: a bright vertical line that crosses a dark frame
// from left to right once every two seconds.

#include "multimedia/engines/nv12frame.h"

namespace nyx::multimedia {

class RunningLine
{
public:
    RunningLine(int width, int height, int frameRateNumerator, int frameRateDenominator);

    bool isValid() const;
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Frame duration in 100 ns.
    qint64 frameDuration() const;
    // The left edge of the line in frame number index, and its width.
    int lineX(qint64 index) const;
    int lineWidth() const;
    // Frame number index, timestamped index * frameDuration().
    Nv12Frame frame(qint64 index) const;

    static constexpr uchar BackgroundLuma = 40;
    static constexpr uchar LineLuma = 235;

private:
    int m_width;
    int m_height;
    int m_rateNum;
    int m_rateDen;
};

} // namespace nyx::multimedia
