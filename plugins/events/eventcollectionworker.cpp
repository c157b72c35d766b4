#include "eventcollectionworker.h"

#include <QDir>
#include <QSaveFile>
#include <QtDebug>

#include <cmath>

namespace {
// Events closer than this to the last timestamp add nothing to the board-time mapping.
constexpr double kTimestampSpacingMs = 300.0;
} // namespace

EventCollectionWorker::EventCollectionWorker(QObject *parent) : QObject(parent) {}

EventCollectionWorker::~EventCollectionWorker() = default;

QString EventCollectionWorker::fileName() const
{
    return m_fileUrl.toLocalFile();
}

void EventCollectionWorker::setFileUrl(const QUrl &value)
{
    m_fileUrl = value;
    m_file.close();

    const QString path = fileName();
    const int slash = path.lastIndexOf(QLatin1Char('/'), path.size() - 2);
    if (slash > 0)
        QDir().mkpath(path.left(slash));

    m_file.setFileName(path);
    load();
    rebuildTimestamps();
    openForAppending();
    refilter();
    emit loaded();
}

void EventCollectionWorker::setEvents(const QVariantList &data)
{
    m_events.clear();
    m_events.reserve(data.size());
    for (const QVariant &element : data)
        m_events.append(EventRecord::fromMap(element.toMap()));
    rebuildTimestamps();
    openForAppending();
    refilter();
    emit loaded();
}

void EventCollectionWorker::setFilters(const QVariantList &data)
{
    m_filters.clear();
    m_filters.reserve(data.size());
    for (const QVariant &element : data)
        m_filters.append(EventFilter::fromMap(element.toMap()));
    refilter();
}

void EventCollectionWorker::addEvent(const QVariantMap &data)
{
    const EventRecord event = EventRecord::fromMap(data);
    m_events.append(event);
    appendToFile(event);

    if (offerTimestamp(event))
        emit timestampAdded(m_timestamps.constLast());

    const int filterIndex = EventFilter::choose(m_filters, event.type);
    if (filterIndex < 0 || !m_filters.at(filterIndex).visible)
        return;
    const FilteredEvent filteredEvent(event, m_events.size() - 1, filterIndex);
    m_filteredEvents.append(filteredEvent);
    emit filteredEventAdded(filteredEvent);
}

void EventCollectionWorker::setComment(int index, const QString &value)
{
    if (index < 0 || index >= m_filteredEvents.size())
        return;
    FilteredEvent &filteredEvent = m_filteredEvents[index];
    if (filteredEvent.comment == value)
        return;
    filteredEvent.comment = value;
    if (filteredEvent.index >= 0 && filteredEvent.index < m_events.size())
        m_events[filteredEvent.index].comment = value;
    emit commentChanged(index, value);
    rewriteFile();
}

void EventCollectionWorker::requestData()
{
    emit timestampsChanged(EventTimestamp::toSnapshot(m_timestamps));
    emit requestedDataReady(FilteredEvent::toSnapshot(m_filteredEvents));
}

void EventCollectionWorker::load()
{
    m_events.clear();
    if (!m_file.exists())
        return;
    if (!m_file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << "Failed to open events file" << m_fileUrl.toString();
        m_file.close();
        return;
    }
    EventRecord event;
    while (!m_file.atEnd()) {
        const QByteArray line = m_file.readLine();
        if (line.isEmpty() && m_file.error() != QFileDevice::NoError)
            break;
        if (EventRecord::fromLine(line, &event))
            m_events.append(event);
    }
    m_file.close();
}

void EventCollectionWorker::openForAppending()
{
    if (m_fileUrl.isEmpty())
        return;
    // Reopening an already open QFile fails; close first so the file stays usable.
    m_file.close();
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCritical().noquote() << "Failed to open events file" << m_fileUrl.toString();
        m_file.close();
    }
}

void EventCollectionWorker::appendToFile(const EventRecord &event)
{
    if (m_fileUrl.isEmpty() || !m_file.isOpen())
        return;
    m_file.write(QByteArray(1, '\n') + event.toLine());
    m_file.flush();
}

void EventCollectionWorker::rewriteFile()
{
    if (m_fileUrl.isEmpty())
        return;
    QSaveFile saveFile(fileName());
    if (!saveFile.open(QIODevice::WriteOnly)) {
        qCritical().noquote() << "Can't write to" << m_fileUrl.toString();
        return;
    }
    m_file.close();
    for (const EventRecord &event : qAsConst(m_events)) {
        saveFile.write(QByteArray(1, '\n'));
        saveFile.write(event.toLine());
    }
    // On a failed commit the old file stays as it was; appending continues on it.
    if (!saveFile.commit())
        qCritical().noquote() << "Can't write to" << m_fileUrl.toString();
    openForAppending();
}

bool EventCollectionWorker::offerTimestamp(const EventRecord &event)
{
    if (event.boardTime < -0.5)
        return false;
    if (!m_timestamps.isEmpty() && std::abs(m_timestamps.constLast().time - event.time) < kTimestampSpacingMs)
        return false;
    m_timestamps.append({event.time, event.boardTime});
    return true;
}

void EventCollectionWorker::rebuildTimestamps()
{
    m_timestamps.clear();
    for (const EventRecord &event : qAsConst(m_events))
        offerTimestamp(event);
    emit timestampsChanged(EventTimestamp::toSnapshot(m_timestamps));
}

void EventCollectionWorker::refilter()
{
    m_filteredEvents.clear();
    if (!m_filters.isEmpty()) {
        for (int i = 0; i < m_events.size(); ++i) {
            const EventRecord &event = m_events.at(i);
            const int filterIndex = EventFilter::choose(m_filters, event.type);
            if (filterIndex >= 0 && m_filters.at(filterIndex).visible)
                m_filteredEvents.append(FilteredEvent(event, i, filterIndex));
        }
    }
    emit filtered(m_filteredEvents, FilteredEvent::toSnapshot(m_filteredEvents), m_filters);
}
