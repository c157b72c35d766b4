#pragma once
// QML face of the event collection: runs an EventCollectionWorker on its own thread and mirrors
// the worker's filtered list on the GUI thread.

#include "eventfilter.h"
#include "eventtimestamp.h"
#include "filteredevent.h"

#include <QObject>
#include <QThread>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

class EventCollectionWorker;

class EventCollection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl fileUrl READ fileUrl WRITE setFileUrl NOTIFY fileUrlChanged)
    Q_PROPERTY(QVariantList events READ events WRITE setEvents NOTIFY eventsChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(double previewTime READ previewTime WRITE setPreviewTime NOTIFY previewTimeChanged)
    Q_PROPERTY(QVariantList previewedEvents READ previewedEvents NOTIFY previewedEventsChanged)
    Q_PROPERTY(int maxPreviewedEventCount READ maxPreviewedEventCount CONSTANT)
    // QML needs a reader to accept the property; it gives back the list last written.
    Q_PROPERTY(QVariantList filters READ filters WRITE setFilters)

public:
    enum Status
    {
        Ready = 0,
        Loading = 1,
        Filtering = 2
    };
    Q_ENUM(Status)

    explicit EventCollection(QObject *parent = nullptr);
    ~EventCollection() override;

    QUrl fileUrl() const { return m_fileUrl; }
    void setFileUrl(const QUrl &value);
    QVariantList events() const { return m_events; }
    void setEvents(const QVariantList &value);
    Status status() const { return m_status; }
    double previewTime() const { return m_previewTime; }
    void setPreviewTime(double value);
    QVariantList previewedEvents() const { return m_previewedEvents; }
    int maxPreviewedEventCount() const { return kMaxPreviewedEventCount; }
    QVariantList filters() const { return m_filterData; }
    void setFilters(const QVariantList &value);

    Q_INVOKABLE void addEvent(const QVariantMap &data);
    Q_INVOKABLE void setComment(int index, const QString &value);

signals:
    void fileUrlChanged();
    void eventsChanged();
    void previewTimeChanged();
    void previewedEventsChanged();
    void filtered(const QByteArray &filteredEventsData, const QVector<EventFilter> &filters);
    void filteredEventAdded(const FilteredEvent &filteredEvent);
    void commentChanged(int index, const QString &value);
    void timestampAdded(const EventTimestamp &timestamp);
    void timestampsChanged(const QByteArray &timestampsData);
    void statusChanged();

public slots:
    void requestData();
    void onLoaded();
    void onFiltered(const QVector<FilteredEvent> &filteredEvents, const QByteArray &filteredEventsData,
                    const QVector<EventFilter> &filters);
    void onFilteredEventAdded(const FilteredEvent &filteredEvent);
    void onRequestedDataReady(const QByteArray &filteredEventsData);
    void onCommentChanged(int index, const QString &value);

private:
    static constexpr int kMaxPreviewedEventCount = 5;

    void setStatus(Status value);
    void updatePreview();

    QUrl m_fileUrl;
    Status m_status = Ready;
    QThread m_thread;
    EventCollectionWorker *m_worker = nullptr;
    QVector<FilteredEvent> m_filteredEvents;
    QVector<EventFilter> m_filters;
    double m_previewTime = -1.0;
    QVariantList m_events;
    QVariantList m_previewedEvents;
    QVariantList m_filterData;
};
