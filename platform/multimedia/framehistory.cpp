#include "multimedia/framehistory.h"

#include <algorithm>

FrameHistory::FrameHistory(int back, int forward, qint64 begin, qint64 end)
    : m_back(std::max(back, 0)), m_forward(std::max(forward, 0)), m_begin(begin), m_end(end)
{
}

void FrameHistory::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

bool FrameHistory::inBounds(const Frame &frame) const
{
    return frame.frameTime >= m_begin && frame.frameTime <= m_end;
}

void FrameHistory::pushBack(const Frame &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!inBounds(frame))
        return;
    m_frames.push_back(frame);
    while (m_frames.size() > capacity())
        m_frames.pop_front();
}

void FrameHistory::pushFront(const Frame &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!inBounds(frame) || m_frames.size() >= capacity())
        return;
    m_frames.push_front(frame);
}

void FrameHistory::setBounds(qint64 begin, qint64 end)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_begin = begin;
    m_end = end;
    m_frames.erase(
        std::remove_if(m_frames.begin(), m_frames.end(), [this](const Frame &f) { return !inBounds(f); }),
        m_frames.end());
}

qint64 FrameHistory::begin() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_begin;
}

qint64 FrameHistory::end() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_end;
}

QVector<FrameHistory::Frame> FrameHistory::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QVector<Frame>(m_frames.begin(), m_frames.end());
}
