#include "eventmodel.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kDayMs = 86400000.0;
// A board clock that goes back by more than this between two timestamps has passed midnight;
// a smaller step back is jitter and is flattened.
constexpr double kMidnightStepMs = 1000.0;
} // namespace

EventModel::EventModel(QObject *parent)
    : QAbstractListModel(parent), m_roleNames{{TimeRole, "time"},
                                              {BoardTimeRole, "boardTime"},
                                              {TypeRole, "type"},
                                              {CommentRole, "comment"},
                                              {ColorRole, "color"}},
      m_fontMetrics(m_nameFont)
{
    for (auto it = m_roleNames.cbegin(); it != m_roleNames.cend(); ++it)
        m_roleNumbers.insert(QString::fromLatin1(it.value()), it.key());
}

EventModel::~EventModel() = default;

void EventModel::setEventCollection(QObject *value)
{
    if (m_eventCollection == value)
        return;
    if (m_eventCollection)
        m_eventCollection->disconnect(this);

    beginResetModel();
    m_rows.clear();
    m_filters.clear();
    endResetModel();
    setMaxNameWidth(0);

    m_eventCollection = value;
    if (value) {
        connect(value, SIGNAL(filtered(QByteArray, QVector<EventFilter>)), this,
                SLOT(onFiltered(QByteArray, QVector<EventFilter>)));
        connect(value, SIGNAL(filteredEventAdded(FilteredEvent)), this,
                SLOT(onFilteredEventAdded(FilteredEvent)));
        connect(value, SIGNAL(commentChanged(int, QString)), this, SLOT(onCommentChanged(int, QString)));
        connect(value, SIGNAL(timestampAdded(EventTimestamp)), this, SLOT(onTimeStampAdded(EventTimestamp)));
        connect(value, SIGNAL(timestampsChanged(QByteArray)), this, SLOT(onTimestampsChanged(QByteArray)));
        QMetaObject::invokeMethod(value, "requestData", Qt::AutoConnection);
    }
    emit eventCollectionChanged();
}

void EventModel::setNameFont(const QFont &value)
{
    m_nameFont = value;
    m_fontMetrics = QFontMetricsF(m_nameFont);
    emit nameFontChanged();
}

int EventModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant EventModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || index.column() != 0 || index.row() < 0 ||
        index.row() >= m_rows.size())
        return QVariant();
    const FilteredEvent &row = m_rows.at(index.row());
    switch (role) {
    case TimeRole:
        return row.time;
    case BoardTimeRole:
        return row.boardTime;
    case TypeRole:
        return row.type;
    case CommentRole:
        return row.comment;
    case ColorRole:
        // The filters may have been replaced since the row was made: no such filter, no colour.
        if (row.filterIndex < 0 || row.filterIndex >= m_filters.size())
            return QColor();
        return m_filters.at(row.filterIndex).color;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> EventModel::roleNames() const
{
    return m_roleNames;
}

QVariant EventModel::getValue(int index, const QString &roleName) const
{
    const auto it = m_roleNumbers.constFind(roleName);
    if (it == m_roleNumbers.cend())
        return QVariant();
    return data(this->index(index, 0), it.value());
}

int EventModel::toOriginalIndex(int index) const
{
    if (index < 0 || index >= m_rows.size())
        return -1;
    return m_rows.at(index).index;
}

int EventModel::fromOriginalIndex(int index) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).index == index)
            return row;
    }
    return -1;
}

double EventModel::getBoardTime(double time) const
{
    if (m_timestamps.isEmpty())
        return 0;
    const auto next =
        std::lower_bound(m_timestamps.cbegin(), m_timestamps.cend(), time,
                         [](const EventTimestamp &timestamp, double t) { return timestamp.time < t; });
    double result;
    if (next == m_timestamps.cbegin()) {
        result = time + (next->boardTime - next->time);
    } else if (next == m_timestamps.cend()) {
        const EventTimestamp &previous = m_timestamps.constLast();
        result = time + (previous.boardTime - previous.time);
    } else {
        const EventTimestamp &previous = *(next - 1);
        if (previous.time == next->time) {
            result = previous.boardTime;
        } else {
            double nextBoardTime = next->boardTime;
            if (previous.boardTime > nextBoardTime) {
                if (previous.boardTime - nextBoardTime > kMidnightStepMs)
                    nextBoardTime += kDayMs;
                else
                    nextBoardTime = previous.boardTime;
            }
            const double f = (time - previous.time) / (next->time - previous.time);
            result = (1 - f) * previous.boardTime + f * nextBoardTime;
        }
    }
    result = std::fmod(result, kDayMs);
    if (result < 0)
        result += kDayMs;
    return result;
}

void EventModel::onFiltered(const QByteArray &filteredEventsData, const QVector<EventFilter> &filters)
{
    beginResetModel();
    m_rows = FilteredEvent::fromSnapshot(filteredEventsData);
    m_filters = filters;
    double width = 0;
    for (const FilteredEvent &row : qAsConst(m_rows))
        width = std::max(width, nameWidth(row.type));
    endResetModel();
    setMaxNameWidth(width);
}

void EventModel::onFilteredEventAdded(const FilteredEvent &filteredEvent)
{
    const int row = m_rows.size();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(filteredEvent);
    endInsertRows();
    const double width = nameWidth(filteredEvent.type);
    if (width > m_maxNameWidth)
        setMaxNameWidth(width);
    emit rowAdded();
}

void EventModel::onCommentChanged(int index, const QString &value)
{
    if (index < 0 || index >= m_rows.size())
        return;
    m_rows[index].comment = value;
    const QModelIndex changed = this->index(index, 0);
    emit dataChanged(changed, changed, {CommentRole});
}

void EventModel::onTimeStampAdded(const EventTimestamp &timestamp)
{
    m_timestamps.append(timestamp);
    emit timestampsChanged();
}

void EventModel::onTimestampsChanged(const QByteArray &timestampsData)
{
    m_timestamps = EventTimestamp::fromSnapshot(timestampsData);
    emit timestampsChanged();
}

void EventModel::setMaxNameWidth(double value)
{
    if (m_maxNameWidth == value)
        return;
    m_maxNameWidth = value;
    emit maxNameWidthChanged();
}

double EventModel::nameWidth(const QString &name) const
{
    return m_fontMetrics.horizontalAdvance(name);
}
