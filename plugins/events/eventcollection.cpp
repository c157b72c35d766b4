#include "eventcollection.h"

#include "eventcollectionworker.h"
#include "eventmetatypes.h"

#include <algorithm>

namespace {
// Half width of the window around previewTime.
constexpr double kPreviewWindowMs = 1000.0;
} // namespace

EventCollection::EventCollection(QObject *parent) : QObject(parent)
{
    registerEventMetaTypes();
    m_worker = new EventCollectionWorker;
    connect(m_worker, &EventCollectionWorker::loaded, this, &EventCollection::onLoaded);
    connect(m_worker, &EventCollectionWorker::filtered, this, &EventCollection::onFiltered);
    connect(m_worker, &EventCollectionWorker::filteredEventAdded, this,
            &EventCollection::onFilteredEventAdded);
    connect(m_worker, &EventCollectionWorker::requestedDataReady, this,
            &EventCollection::onRequestedDataReady);
    connect(m_worker, &EventCollectionWorker::commentChanged, this, &EventCollection::onCommentChanged);
    connect(m_worker, &EventCollectionWorker::timestampAdded, this, &EventCollection::timestampAdded);
    connect(m_worker, &EventCollectionWorker::timestampsChanged, this, &EventCollection::timestampsChanged);
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("EventCollection"));
    m_thread.start();
}

EventCollection::~EventCollection()
{
    // Quit from inside the worker's queue, behind every call already queued, so an event added
    // just before destruction still reaches the file.
    QThread *thread = &m_thread;
    QMetaObject::invokeMethod(
        m_worker, [thread] { thread->quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_worker;
}

void EventCollection::setFileUrl(const QUrl &value)
{
    if (m_fileUrl == value)
        return;
    m_fileUrl = value;
    m_filteredEvents.clear();
    updatePreview();
    emit filtered(QByteArray(), m_filters);
    setStatus(Loading);
    QMetaObject::invokeMethod(m_worker, "setFileUrl", Qt::AutoConnection, Q_ARG(QUrl, value));
    emit fileUrlChanged();
}

void EventCollection::setEvents(const QVariantList &value)
{
    setStatus(Loading);
    m_events = value;
    QMetaObject::invokeMethod(m_worker, "setEvents", Qt::AutoConnection, Q_ARG(QVariantList, value));
    emit eventsChanged();
}

void EventCollection::setPreviewTime(double value)
{
    if (m_previewTime == value) // a NaN never compares equal, so it always counts as a change
        return;
    m_previewTime = value;
    updatePreview();
    emit previewTimeChanged();
}

void EventCollection::setFilters(const QVariantList &value)
{
    setStatus(Filtering);
    m_filterData = value;
    QMetaObject::invokeMethod(m_worker, "setFilters", Qt::AutoConnection, Q_ARG(QVariantList, value));
}

void EventCollection::addEvent(const QVariantMap &data)
{
    QMetaObject::invokeMethod(m_worker, "addEvent", Qt::AutoConnection, Q_ARG(QVariantMap, data));
}

void EventCollection::setComment(int index, const QString &value)
{
    QMetaObject::invokeMethod(m_worker, "setComment", Qt::AutoConnection, Q_ARG(int, index),
                              Q_ARG(QString, value));
}

void EventCollection::requestData()
{
    QMetaObject::invokeMethod(m_worker, "requestData", Qt::AutoConnection);
}

void EventCollection::onLoaded()
{
    setStatus(Ready);
}

void EventCollection::onFiltered(const QVector<FilteredEvent> &filteredEvents,
                                 const QByteArray &filteredEventsData, const QVector<EventFilter> &filters)
{
    m_filteredEvents = filteredEvents;
    m_filters = filters;
    updatePreview();
    emit filtered(filteredEventsData, m_filters);
    if (m_status == Filtering)
        setStatus(Ready);
}

void EventCollection::onFilteredEventAdded(const FilteredEvent &filteredEvent)
{
    m_filteredEvents.append(filteredEvent);
    updatePreview();
    emit filteredEventAdded(filteredEvent);
}

void EventCollection::onRequestedDataReady(const QByteArray &filteredEventsData)
{
    emit filtered(filteredEventsData, m_filters);
}

void EventCollection::onCommentChanged(int index, const QString &value)
{
    if (index < 0 || index >= m_filteredEvents.size())
        return;
    m_filteredEvents[index].comment = value;
    updatePreview();
    emit commentChanged(index, value);
}

void EventCollection::setStatus(Status value)
{
    if (m_status == value)
        return;
    m_status = value;
    emit statusChanged();
}

void EventCollection::updatePreview()
{
    const bool wasEmpty = m_previewedEvents.isEmpty();
    m_previewedEvents.clear();
    if (!m_filteredEvents.isEmpty() && m_previewTime >= 0) {
        const double from = m_previewTime - kPreviewWindowMs;
        const double to = m_previewTime + kPreviewWindowMs;
        auto it = std::lower_bound(m_filteredEvents.cbegin(), m_filteredEvents.cend(), from,
                                   [](const FilteredEvent &event, double time) { return event.time < time; });
        for (; it != m_filteredEvents.cend() && m_previewedEvents.size() < kMaxPreviewedEventCount &&
               it->time <= to;
             ++it)
            m_previewedEvents.append(QVariant::fromValue(*it));
    }
    if (!(wasEmpty && m_previewedEvents.isEmpty()))
        emit previewedEventsChanged();
}
