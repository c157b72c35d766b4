#pragma once
// The frames a player has around its current position: a few behind it and more ahead, within the
// bounds of the played range. Written on the stream's queue, read from the GUI thread.

#include "multimedia/hnstime.h"

#include <QVector>
#include <deque>
#include <mutex>

class FrameHistory
{
public:
    struct Frame
    {
        HnsTime sampleTime; // relative to the start of the played range
        HnsTime frameTime;  // absolute archive time
        bool operator==(const Frame &o) const
        {
            return sampleTime == o.sampleTime && frameTime == o.frameTime;
        }
    };

    // A window of back + 1 + forward frames: back frames behind the current one and forward ahead.
    FrameHistory(int back, int forward, qint64 begin, qint64 end);

    void clear();
    // Appends a frame; the oldest frames beyond the window are dropped. Frames outside the bounds
    // are ignored.
    void pushBack(const Frame &frame);
    // Prepends a frame while the window has room.
    void pushFront(const Frame &frame);
    int backLimit() const { return m_back; }
    int forwardLimit() const { return m_forward; }
    void setBounds(qint64 begin, qint64 end);
    qint64 begin() const;
    qint64 end() const;
    QVector<Frame> frames() const;

private:
    bool inBounds(const Frame &frame) const;
    std::size_t capacity() const { return static_cast<std::size_t>(m_back) + 1 + m_forward; }

    const int m_back;
    const int m_forward;
    mutable std::mutex m_mutex;
    qint64 m_begin;
    qint64 m_end;
    std::deque<Frame> m_frames;
};
