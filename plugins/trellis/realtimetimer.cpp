#include "realtimetimer.h"

#include "trellislogging.h"

RealtimeTimer::RealtimeTimer(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &RealtimeTimer::triggered);
}

void RealtimeTimer::setInterval(int msec)
{
    if (msec == m_timer.interval())
        return;
    if (msec < 0) {
        qCWarning(lcTrellis) << "RealtimeTimer: refused negative interval" << msec;
        return;
    }
    m_timer.start(msec);
    emit intervalChanged();
}
