#pragma once
// Measures one Range on the worker thread of the stream it is registered with.

#include "archive/iarchivestream.h"

#include <QDateTime>
#include <QObject>
#include <optional>
#include <utility>

class RangeUpdater : public QObject
{
    Q_OBJECT
public:
    RangeUpdater(const QDateTime &timeFrom = QDateTime(), const QDateTime &timeTo = QDateTime());

    qlonglong size() const { return m_size; }
    QDateTime timeFrom() const { return m_timeFrom; }
    QDateTime timeTo() const { return m_timeTo; }

    // Measures the range if the stream interval or the bounds moved; true when the size changed.
    bool update(IArchiveRangeInfo *rangeInfo, quint64 streamTimeFrom, quint64 streamTimeTo);
    // Forgets the last measurement, so that the next update asks the archive.
    void resetMeasurement();

signals:
    void sizeChanged(qlonglong size, QDateTime timeFrom, QDateTime timeTo);
    void rangeChanged();

private:
    Q_INVOKABLE void updateTimeFrom(QDateTime time);
    Q_INVOKABLE void updateTimeTo(QDateTime time);
    bool setSize(qlonglong size);

    qlonglong m_size = -1;
    QDateTime m_timeFrom;
    QDateTime m_timeTo;
    bool m_dirty = false;
    std::optional<std::pair<quint64, quint64>> m_lastInterval;
};
