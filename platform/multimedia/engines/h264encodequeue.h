#pragma once
// H.264 encoding on a thread of its own behind a bounded queue of pictures: whoever hands pictures
// over (a media session's work queue) never waits for libx264, and an encoder held up for a moment
// on a busy machine catches up afterwards. A picture that finds the queue full is dropped, counted,
// and logged once per overflow.

#include "multimedia/engines/h264encoder.h"

#include <QString>
#include <QVector>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace nyx::multimedia {

class H264EncodeQueue
{
public:
    // Receives the packets of each picture, in order, on the queue's thread.
    using Deliver = std::function<void(const QVector<H264Packet> &packets)>;
    enum class Result
    {
        Queued,
        Dropped,
        Failed
    };

    // limit: pictures that may wait (a 1080p NV12 picture is about 3 MB).
    H264EncodeQueue(const H264EncoderSettings &settings, int limit, Deliver deliver);
    ~H264EncodeQueue();
    H264EncodeQueue(const H264EncodeQueue &) = delete;
    H264EncodeQueue &operator=(const H264EncodeQueue &) = delete;

    // Failed once the encoder could not open or encode (until reset()).
    Result push(const Nv12Frame &frame);
    // Forgets the waiting pictures (counted as dropped) and, after the one being encoded, closes the
    // encoder: the next picture opens it again and starts the stream over with a key frame.
    void reset();

    int limit() const { return m_limit; }
    int waiting() const;
    // The most pictures that were waiting at once.
    int mostWaiting() const;
    qint64 dropped() const;
    QString errorString() const;

private:
    void run();

    const H264EncoderSettings m_settings;
    const int m_limit;
    const Deliver m_deliver;
    H264Encoder m_encoder; // used on the thread only, and by reset() while the thread is idle
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Nv12Frame> m_queue;
    bool m_busy = false;
    bool m_closeRequested = false;
    bool m_ending = false;
    bool m_overflowing = false;
    int m_mostWaiting = 0;
    qint64 m_dropped = 0;
    QString m_error;
    std::thread m_thread;
};

} // namespace nyx::multimedia
