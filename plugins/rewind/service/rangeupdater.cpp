#include "rangeupdater.h"

#include "archivemetatypes.h"
#include "archivetime.h"

namespace {
bool sameTime(const QDateTime &a, const QDateTime &b)
{
    return a.isNull() == b.isNull() && a == b;
}
} // namespace

RangeUpdater::RangeUpdater(const QDateTime &timeFrom, const QDateTime &timeTo)
    : m_timeFrom(timeFrom), m_timeTo(timeTo)
{
    registerRewindServiceMetaTypes();
}

void RangeUpdater::updateTimeFrom(QDateTime time)
{
    if (sameTime(time, m_timeFrom))
        return;
    m_timeFrom = time;
    m_size = -1;
    m_dirty = true;
    emit rangeChanged();
}

void RangeUpdater::updateTimeTo(QDateTime time)
{
    if (sameTime(time, m_timeTo))
        return;
    m_timeTo = time;
    m_size = -1;
    m_dirty = true;
    emit rangeChanged();
}

void RangeUpdater::resetMeasurement()
{
    m_size = -1;
    m_dirty = true;
    m_lastInterval.reset();
}

bool RangeUpdater::update(IArchiveRangeInfo *rangeInfo, quint64 streamTimeFrom, quint64 streamTimeTo)
{
    if (!rangeInfo) {
        setSize(-1);
        return false;
    }
    const quint64 from = toWin32FileTime(m_timeFrom, 0);
    const quint64 to = toWin32FileTime(m_timeTo, kOpenFileTimeEnd);

    const auto previous = m_lastInterval;
    m_lastInterval = std::make_pair(streamTimeFrom, streamTimeTo);

    // A known size stays valid while the range lies inside the stream or the stream did not move.
    // An empty range is asked again on every refresh: frames a recorder has just written may not
    // have been visible when the stream's end passed the range, and playback waits for a size.
    if (!m_dirty && m_size > 0) {
        const bool inside = streamTimeFrom < from && streamTimeTo > to;
        const bool unmoved =
            previous && previous->first == streamTimeFrom && previous->second == streamTimeTo;
        if (inside || unmoved)
            return false;
    }

    LONGLONG size = 0;
    if (FAILED(rangeInfo->GetRangeSize(from, to, &size))) {
        setSize(-1);
        return false;
    }
    m_dirty = false;
    return setSize(size < 0 ? -1 : size);
}

bool RangeUpdater::setSize(qlonglong size)
{
    if (size == m_size)
        return false;
    m_size = size;
    emit sizeChanged(m_size, m_timeFrom, m_timeTo);
    return true;
}
