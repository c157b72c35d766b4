#include "multimedia/engines/h264encodequeue.h"
#include "multimedia/engines/avhelpers.h"

namespace nyx::multimedia {

H264EncodeQueue::H264EncodeQueue(const H264EncoderSettings &settings, int limit, Deliver deliver)
    : m_settings(settings), m_limit(qMax(1, limit)), m_deliver(std::move(deliver))
{
    m_thread = std::thread([this] { run(); });
}

H264EncodeQueue::~H264EncodeQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

H264EncodeQueue::Result H264EncodeQueue::push(const Nv12Frame &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_error.isEmpty())
            return Result::Failed;
        if (int(m_queue.size()) >= m_limit) {
            ++m_dropped;
            if (!m_overflowing)
                qCWarning(lcEngines,
                          "H.264 encoder: %d pictures wait already, dropping pictures until it catches up",
                          m_limit);
            m_overflowing = true;
            return Result::Dropped;
        }
        m_queue.push_back(frame);
        m_mostWaiting = qMax(m_mostWaiting, int(m_queue.size()));
    }
    m_wake.notify_all();
    return Result::Queued;
}

void H264EncodeQueue::reset()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_queue.empty()) {
        // A stop while the encoder was behind: those pictures are lost, and counted.
        m_dropped += qint64(m_queue.size());
        qCWarning(lcEngines, "H.264 encoder: %d pictures still waiting were not encoded",
                  int(m_queue.size()));
    }
    m_queue.clear();
    m_closeRequested = true;
    m_error.clear();
    m_overflowing = false;
    m_wake.notify_all();
    // Closed on the thread, so that no picture of the old stream is encoded after this returns.
    m_idle.wait(lock, [this] { return !m_busy && !m_closeRequested; });
}

int H264EncodeQueue::waiting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queue.size());
}

int H264EncodeQueue::mostWaiting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mostWaiting;
}

qint64 H264EncodeQueue::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

QString H264EncodeQueue::errorString() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void H264EncodeQueue::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_busy = false;
        m_idle.notify_all();
        m_wake.wait(lock, [this] { return m_ending || m_closeRequested || !m_queue.empty(); });
        if (m_ending)
            break;
        if (m_closeRequested) {
            m_encoder.close();
            m_closeRequested = false;
            continue;
        }
        const Nv12Frame frame = std::move(m_queue.front());
        m_queue.pop_front();
        if (m_queue.empty())
            m_overflowing = false;
        m_busy = true;
        lock.unlock();
        QVector<H264Packet> packets;
        QString error;
        if (!m_encoder.isOpen() && !m_encoder.open(m_settings)) {
            error = m_encoder.errorString();
        } else {
            packets = m_encoder.encode(frame);
            if (packets.isEmpty() && !m_encoder.errorString().isEmpty())
                error = m_encoder.errorString();
        }
        if (!packets.isEmpty())
            m_deliver(packets);
        lock.lock();
        if (!error.isEmpty() && m_error.isEmpty()) {
            qCWarning(lcEngines).noquote() << "H.264 encoder:" << error;
            m_error = error;
            m_dropped += qint64(m_queue.size());
            m_queue.clear();
        }
    }
    m_busy = false;
    m_idle.notify_all();
}

} // namespace nyx::multimedia
