#include "multimedia/engines/runninglinesource.h"

namespace nyx::multimedia {

RunningLineSource::RunningLineSource(int width, int height, int frameRateNumerator, int frameRateDenominator,
                                     MediaClock *clock)
    : m_line(width, height, frameRateNumerator, frameRateDenominator), m_pacer(clock, m_line.frameDuration())
{
}

bool RunningLineSource::start(FramePacer::Deliver deliver)
{
    if (!m_line.isValid())
        return false;
    return m_pacer.start([this](qint64 slot, qint64) { return m_line.frame(slot); }, std::move(deliver));
}

} // namespace nyx::multimedia
