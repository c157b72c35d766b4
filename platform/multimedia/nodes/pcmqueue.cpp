#include "multimedia/nodes/pcmqueue.h"

namespace nyx::multimedia {

bool PcmQueue::push(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    if (m_size + bytes.size() > m_capacity)
        return false;
    m_buffers.push_back(bytes);
    m_size += bytes.size();
    return true;
}

QByteArray PcmQueue::take(qint64 maxBytes)
{
    QByteArray out;
    const qint64 wanted = qMin(maxBytes, m_size);
    if (wanted <= 0)
        return out;
    out.reserve(int(wanted));
    while (out.size() < wanted) {
        const QByteArray &front = m_buffers.front();
        const qint64 part = qMin<qint64>(front.size() - m_frontOffset, wanted - out.size());
        out.append(front.constData() + m_frontOffset, int(part));
        m_frontOffset += part;
        if (m_frontOffset == front.size()) {
            m_buffers.pop_front();
            m_frontOffset = 0;
        }
    }
    m_size -= wanted;
    return out;
}

void PcmQueue::clear()
{
    m_buffers.clear();
    m_frontOffset = 0;
    m_size = 0;
}

} // namespace nyx::multimedia
