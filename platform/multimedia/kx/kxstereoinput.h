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

    // Blocks are stamped with the clock's time of their first sample, counted from the clock's time
    // at start(); a thread that falls behind skips whole blocks (counted) rather than drifting.
    bool start(BlockCallback callback);
    void stop();

    qint64 blocksDelivered() const { return m_delivered; }
    qint64 blocksSkipped() const { return m_skipped; }

private:
    void run(BlockCallback callback, qint64 start);

    KXAddress m_address;
    std::unique_ptr<MediaClock> m_ownClock;
    MediaClock *m_clock;
    std::thread m_thread;
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_skipped{0};
};

} // namespace nyx::multimedia
