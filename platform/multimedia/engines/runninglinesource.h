#pragma once
// The running-line test signal as a live source: RunningLine frames paced by a clock on a thread of
// their own, stamped with the clock's time.

#include "multimedia/engines/framepacer.h"
#include "multimedia/engines/runningline.h"

namespace nyx::multimedia {

class RunningLineSource
{
public:
    // clock: not owned; null means a steady clock of the source's own.
    RunningLineSource(int width, int height, int frameRateNumerator, int frameRateDenominator,
                      MediaClock *clock = nullptr);

    bool isValid() const { return m_line.isValid(); }
    const RunningLine &line() const { return m_line; }
    // Frame slot n shows the line at RunningLine::lineX(n).
    bool start(FramePacer::Deliver deliver);
    void stop() { m_pacer.stop(); }
    const FramePacer &pacer() const { return m_pacer; }

private:
    RunningLine m_line;
    FramePacer m_pacer;
};

} // namespace nyx::multimedia
