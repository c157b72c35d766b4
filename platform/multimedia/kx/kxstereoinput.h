#pragma once
// An audio input of the virtual capture board: a 48 kHz 16-bit stereo test tone in blocks of 10 ms,
// paced by a clock on a thread of its own.

#include "multimedia/engines/mediaclock.h"
#include "multimedia/kx/kxaddress.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace nyx::multimedia {

struct PcmBlock
{
    QByteArray data; // interleaved 16-bit little-endian samples
    qint64 time = 0; // 100 ns
    qint64 duration = 0;
    qint64 firstSample = 0; // running sample number since start
    int frames = 0;         // sample pairs
};

class KXStereoInput
{
public:
    static constexpr int BlockFrames = 480; // 10 ms

    using BlockCallback = std::function<void(const PcmBlock &block)>;

    // clock: not owned; null means a steady clock of the input's own.
    explicit KXStereoInput(const KXAddress &address, MediaClock *clock = nullptr);
    ~KXStereoInput();
    KXStereoInput(const KXStereoInput &) = delete;
    KXStereoInput &operator=(const KXStereoInput &) = delete;

    // How far behind (100 ns) the input still delivers the blocks it missed: a board's two seconds.
    static constexpr qint64 DefaultCatchUp = 2 * 10000000LL;

    // Blocks are stamped with the clock's time of their first sample, counted from the clock's time
    // at start(). Like the board's buffer, a thread that was held up delivers the blocks it missed
    // afterwards, each with its own time, as long as it is no more than catchUp behind; older blocks
    // are skipped (counted, and logged once per stall) rather than drifting.
    bool start(BlockCallback callback);
    void stop();
    void setCatchUp(qint64 catchUp) { m_catchUp = qMax<qint64>(0, catchUp); }

    qint64 blocksDelivered() const { return m_delivered; }
    // Blocks given up because the thread fell further behind than the catch-up window.
    qint64 blocksSkipped() const { return m_skipped; }
    // Stalls that cost blocks.
    qint64 stalls() const { return m_stalls; }

private:
    void run(BlockCallback callback, qint64 start);

    KXAddress m_address;
    std::unique_ptr<MediaClock> m_ownClock;
    MediaClock *m_clock;
    std::thread m_thread;
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_skipped{0};
    std::atomic<qint64> m_stalls{0};
    qint64 m_catchUp = DefaultCatchUp;
};

} // namespace nyx::multimedia
