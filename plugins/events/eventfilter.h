#pragma once
// One filter entry: which event types it decides, their colour and whether they are shown.

#include <QColor>
#include <QDataStream>
#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <QVector>

struct EventFilter
{
    QString type;              // may hold '*' and '?'
    bool hasWildcards = false; // derived from type
    QColor color;
    bool visible = false;

    EventFilter() = default;
    EventFilter(const QString &type, const QColor &color, bool visible);

    void setType(const QString &value);
    bool matches(const QString &eventType) const;

    static EventFilter fromMap(const QVariantMap &map);

    // Filter 0 is the catch-all and is never tested; among 1..n-1 the last match wins.
    // Returns -1 when there are no filters.
    static int choose(const QVector<EventFilter> &filters, const QString &eventType);

    // Case-sensitive match over UTF-16 units; '?' is any one unit, '*' any run.
    static bool wildcardMatch(const QString &pattern, const QString &text);
};

QDataStream &operator<<(QDataStream &stream, const EventFilter &filter);
QDataStream &operator>>(QDataStream &stream, EventFilter &filter);

Q_DECLARE_METATYPE(EventFilter)
