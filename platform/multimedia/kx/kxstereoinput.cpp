#include "multimedia/kx/kxstereoinput.h"
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
    for (qint64 sample = 0;;) {
        // A block is ready once its last sample has been "captured".
        const qint64 end = sample + BlockFrames;
        if (!m_clock->sleepUntil(start + ToneGenerator::sampleTime(end)))
            break;
        const qint64 behind = (m_clock->now() - start - ToneGenerator::sampleTime(end)) /
                              ToneGenerator::sampleTime(BlockFrames);
        if (behind > 0) {
            m_skipped += behind;
            sample += behind * BlockFrames;
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
