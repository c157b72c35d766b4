#pragma once
// List model of the filtered events of an EventCollection, with the filter colours and the
// mapping of recording time to the board's time of day.

#include "eventfilter.h"
#include "eventtimestamp.h"
#include "filteredevent.h"

#include <QAbstractListModel>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPointer>
#include <QVector>

class EventModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(
        QObject *eventCollection READ eventCollection WRITE setEventCollection NOTIFY eventCollectionChanged)
    Q_PROPERTY(double maxNameWidth READ maxNameWidth NOTIFY maxNameWidthChanged)
    Q_PROPERTY(QFont nameFont READ nameFont WRITE setNameFont NOTIFY nameFontChanged)
    Q_PROPERTY(int timestampCount READ timestampCount NOTIFY timestampsChanged)

public:
    enum Role
    {
        TimeRole = Qt::UserRole + 1,
        BoardTimeRole,
        TypeRole,
        CommentRole,
        ColorRole
    };

    explicit EventModel(QObject *parent = nullptr);
    ~EventModel() override;

    QObject *eventCollection() const { return m_eventCollection; }
    void setEventCollection(QObject *value);
    double maxNameWidth() const { return m_maxNameWidth; }
    QFont nameFont() const { return m_nameFont; }
    void setNameFont(const QFont &value);
    int timestampCount() const { return m_timestamps.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE QVariant getValue(int index, const QString &roleName) const;
    Q_INVOKABLE int toOriginalIndex(int index) const;
    Q_INVOKABLE int fromOriginalIndex(int index) const;
    Q_INVOKABLE double getBoardTime(double time) const;

signals:
    void eventCollectionChanged();
    void rowAdded();
    void maxNameWidthChanged();
    void nameFontChanged();
    void timestampsChanged();

public slots:
    void onFiltered(const QByteArray &filteredEventsData, const QVector<EventFilter> &filters);
    void onFilteredEventAdded(const FilteredEvent &filteredEvent);
    void onCommentChanged(int index, const QString &value);
    void onTimeStampAdded(const EventTimestamp &timestamp);
    void onTimestampsChanged(const QByteArray &timestampsData);

private:
    void setMaxNameWidth(double value);
    double nameWidth(const QString &name) const;

    QHash<int, QByteArray> m_roleNames;
    QHash<QString, int> m_roleNumbers;
    QPointer<QObject> m_eventCollection;
    QVector<FilteredEvent> m_rows;
    QVector<EventFilter> m_filters;
    QVector<EventTimestamp> m_timestamps;
    double m_maxNameWidth = 0;
    QFont m_nameFont;
    QFontMetricsF m_fontMetrics;
};
