#pragma once
// Owns the event list, the filters, the board-time timestamps and the events file of one
// EventCollection. Lives on the collection's thread; entered only through queued calls.

#include "eventfilter.h"
#include "eventrecord.h"
#include "eventtimestamp.h"
#include "filteredevent.h"

#include <QFile>
#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

class EventCollectionWorker : public QObject
{
    Q_OBJECT

public:
    explicit EventCollectionWorker(QObject *parent = nullptr);
    ~EventCollectionWorker() override;

signals:
    void loaded();
    void filtered(const QVector<FilteredEvent> &filteredEvents, const QByteArray &filteredEventsData,
                  const QVector<EventFilter> &filters);
    void filteredEventAdded(const FilteredEvent &filteredEvent);
    void requestedDataReady(const QByteArray &filteredEventsData);
    void commentChanged(int index, const QString &value);
    void timestampAdded(const EventTimestamp &timestamp);
    void timestampsChanged(const QByteArray &timestampsData);

public slots:
    void setFileUrl(const QUrl &value);
    void setEvents(const QVariantList &data);
    void setFilters(const QVariantList &data);
    void addEvent(const QVariantMap &data);
    void setComment(int index, const QString &value);
    void requestData();

private:
    void load();
    void openForAppending();
    void appendToFile(const EventRecord &event);
    void rewriteFile();
    bool offerTimestamp(const EventRecord &event);
    void rebuildTimestamps();
    void refilter();
    QString fileName() const;

    QUrl m_fileUrl;
    QVector<EventRecord> m_events;
    QVector<FilteredEvent> m_filteredEvents;
    QVector<EventTimestamp> m_timestamps;
    QVector<EventFilter> m_filters;
    QFile m_file;
};
