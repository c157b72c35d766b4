#include "range.h"

#include "archivemetatypes.h"
#include "objectdeleter.h"
#include "rangeupdater.h"
#include "stream.h"
#include "streamupdater.h"

#include <QThread>

namespace {
bool sameTime(const QDateTime &a, const QDateTime &b)
{
    return a.isNull() == b.isNull() && a == b;
}
} // namespace

Range::Range(QObject *parent) : QObject(parent)
{
    registerRewindServiceMetaTypes();
    attachUpdater(makeThreadShared(new RangeUpdater));
}

Range::~Range()
{
    if (m_stream && m_stream->updater())
        QMetaObject::invokeMethod(m_stream->updater().data(), "removeRangeFromList", Qt::AutoConnection,
                                  Q_ARG(QSharedPointer<RangeUpdater>, m_updater));
}

void Range::attachUpdater(const QSharedPointer<RangeUpdater> &updater)
{
    if (m_updater)
        disconnect(m_updater.data(), nullptr, this, nullptr);
    m_updater = updater;
    // By signature: a functor connection leaks its slot object in Qt 5 when the receiver is
    // destroyed here while the worker emits.
    connect(m_updater.data(), SIGNAL(sizeChanged(qlonglong, QDateTime, QDateTime)), this,
            SLOT(onSizeChanged(qlonglong, QDateTime, QDateTime)));
}

void Range::setStream(Stream *stream)
{
    if (stream == m_stream.data())
        return;
    if (m_stream && m_stream->updater())
        QMetaObject::invokeMethod(m_stream->updater().data(), "removeRangeFromList", Qt::AutoConnection,
                                  Q_ARG(QSharedPointer<RangeUpdater>, m_updater));
    m_stream = stream;
    if (stream) {
        QThread *target = stream->thread() ? stream->thread().data() : stream->updater()->thread();
        if (m_registered ||
            (m_updater->thread() != target && m_updater->thread() != QThread::currentThread())) {
            // An updater that served another stream may still have a report for it on its way here,
            // and stays listed by a destroyed stream's updater that someone still holds; it may also
            // live on a thread from which only that thread could move it. Start over with a fresh one,
            // whose reports alone are taken.
            auto fresh = makeThreadShared(new RangeUpdater(m_from, m_to));
            fresh->moveToThread(target);
            attachUpdater(fresh);
        } else if (m_updater->thread() != target) {
            m_updater->moveToThread(target);
        }
        QMetaObject::invokeMethod(stream->updater().data(), "addRangeToList", Qt::AutoConnection,
                                  Q_ARG(QSharedPointer<RangeUpdater>, m_updater));
        m_registered = true;
    }
    setSize(-1);
    emit streamChanged();
}

void Range::setFrom(const QDateTime &time)
{
    if (sameTime(time, m_from))
        return;
    m_from = time;
    QMetaObject::invokeMethod(m_updater.data(), "updateTimeFrom", Qt::AutoConnection, Q_ARG(QDateTime, time));
    setSize(-1);
    emit timeFromChanged();
}

void Range::setTo(const QDateTime &time)
{
    if (sameTime(time, m_to))
        return;
    m_to = time;
    QMetaObject::invokeMethod(m_updater.data(), "updateTimeTo", Qt::AutoConnection, Q_ARG(QDateTime, time));
    setSize(-1);
    emit timeToChanged();
}

void Range::onSizeChanged(qlonglong size, QDateTime timeFrom, QDateTime timeTo)
{
    // Only from the current updater: a report of one this range has since left (a measurement of
    // its previous stream, still queued) comes without a sender, its connection being gone.
    if (sender() != m_updater.data())
        return;
    // Measured for bounds that have changed since: wait for the measurement of the new ones.
    if (!sameTime(timeFrom, m_from) || !sameTime(timeTo, m_to))
        return;
    setSize(size);
}

void Range::setSize(qlonglong size)
{
    if (size == m_size)
        return;
    m_size = size;
    emit sizeChanged();
}
