#pragma once
// A bounded queue of PCM bytes between the thread that renders audio at the clock's time and the
// thread that writes to the sound device: whole buffers go in, any number of bytes come out. A
// buffer that would make it hold more than its capacity is refused whole, so that a device that
// falls behind costs dropped buffers, never memory or a growing delay.

#include <QByteArray>

#include <deque>

namespace nyx::multimedia {

class PcmQueue
{
public:
    explicit PcmQueue(qint64 capacity = 0) : m_capacity(capacity) {}

    void setCapacity(qint64 capacity) { m_capacity = capacity; }
    qint64 capacity() const { return m_capacity; }
    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // False, with nothing queued, when the bytes do not fit.
    bool push(const QByteArray &bytes);
    // Up to maxBytes from the front, in order.
    QByteArray take(qint64 maxBytes);
    void clear();

private:
    std::deque<QByteArray> m_buffers;
    qint64 m_frontOffset = 0; // bytes of the front buffer already taken
    qint64 m_size = 0;
    qint64 m_capacity;
};

} // namespace nyx::multimedia
