#include "multimedia/kx/kxstereoinput.h"
#include "multimedia/engines/avhelpers.h"
#include "multimedia/kx/tonegenerator.h"

namespace nyx::multimedia {

KXStereoInput::KXStereoInput(const KXAddress &address, MediaClock *clock) : m_address(address), m_clock(clock)
{
    if (!m_clock) {
        m_ownClock = std::make_unique<SteadyMediaClock>();
        m_clock = m_ownClock.get();
    }
}

KXStereoInput::~KXStereoInput()
{
    stop();
}

bool KXStereoInput::start(BlockCallback callback)
{
    if (m_thread.joinable() || m_address.kind != KXAddress::Kind::Stereo)
        return false;
    m_clock->rearm();
    const qint64 start = m_clock->now();
    m_thread = std::thread([this, callback = std::move(callback), start] { run(callback, start); });
    return true;
}

void KXStereoInput::stop()
{
    if (!m_thread.joinable())
        return;
    m_clock->wake();
    m_thread.join();
}

void KXStereoInput::run(BlockCallback callback, qint64 start)
{
    const qint64 blockTime = ToneGenerator::sampleTime(BlockFrames);
    const qint64 window = m_catchUp / blockTime; // blocks that may still be made up
    bool stalled = false;
    for (qint64 sample = 0;;) {
        // A block is ready once its last sample has been "captured"; one already due comes at once,
        // so the blocks of a stall follow one after another.
        const qint64 end = sample + BlockFrames;
        if (!m_clock->sleepUntil(start + ToneGenerator::sampleTime(end)))
            break;
        const qint64 behind = (m_clock->now() - start - ToneGenerator::sampleTime(end)) / blockTime;
        if (behind > window) {
            // Too far behind: the oldest blocks are gone, as the board's buffer overwrites them.
            const qint64 missed = behind - window;
            m_skipped += missed;
            sample += missed * BlockFrames;
            if (!stalled) {
                ++m_stalls;
                qCWarning(lcEngines, "KX stereo input %s: held up for %lld ms, %lld blocks of 10 ms lost",
                          qPrintable(m_address.inputName()),
                          static_cast<long long>(behind * blockTime / 10000), static_cast<long long>(missed));
            }
            stalled = true;
        } else if (behind == 0) {
            stalled = false;
        }
        PcmBlock block;
        block.firstSample = sample;
        block.frames = BlockFrames;
        block.time = start + ToneGenerator::sampleTime(sample);
        block.duration = start + ToneGenerator::sampleTime(sample + BlockFrames) - block.time;
        block.data = ToneGenerator::block(sample, BlockFrames);
        callback(block);
        ++m_delivered;
        sample += BlockFrames;
    }
}

} // namespace nyx::multimedia
