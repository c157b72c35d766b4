#include "eventfilter.h"

namespace {
bool containsWildcards(const QString &type)
{
    return type.contains(QLatin1Char('*')) || type.contains(QLatin1Char('?'));
}
} // namespace

EventFilter::EventFilter(const QString &type, const QColor &color, bool visible)
    : color(color), visible(visible)
{
    setType(type);
}

void EventFilter::setType(const QString &value)
{
    type = value;
    hasWildcards = containsWildcards(value);
}

bool EventFilter::matches(const QString &eventType) const
{
    if (type.isEmpty())
        return true;
    if (hasWildcards)
        return wildcardMatch(type, eventType);
    return type == eventType;
}

EventFilter EventFilter::fromMap(const QVariantMap &map)
{
    EventFilter filter;
    filter.setType(map.value(QStringLiteral("type")).toString());
    const QVariant color = map.value(QStringLiteral("color"));
    if (color.userType() == QMetaType::QColor)
        filter.color = color.value<QColor>();
    else
        filter.color = QColor(color.toString());
    filter.visible = map.value(QStringLiteral("visible")).toBool();
    return filter;
}

int EventFilter::choose(const QVector<EventFilter> &filters, const QString &eventType)
{
    if (filters.isEmpty())
        return -1;
    int chosen = 0;
    for (int i = 1; i < filters.size(); ++i) {
        if (filters.at(i).matches(eventType))
            chosen = i;
    }
    return chosen;
}

bool EventFilter::wildcardMatch(const QString &pattern, const QString &text)
{
    const int patternSize = pattern.size();
    const int textSize = text.size();
    int p = 0;
    int t = 0;
    int retryPattern = -1;
    int retryText = -1;
    while (t < textSize) {
        if (p < patternSize && pattern.at(p) == QLatin1Char('*')) {
            while (p < patternSize && pattern.at(p) == QLatin1Char('*'))
                ++p;
            if (p == patternSize)
                return true;
            retryPattern = p;
            retryText = t;
            continue;
        }
        if (p < patternSize && (pattern.at(p) == QLatin1Char('?') || pattern.at(p) == text.at(t))) {
            ++p;
            ++t;
            continue;
        }
        if (retryPattern < 0)
            return false;
        p = retryPattern;
        t = ++retryText;
    }
    while (p < patternSize && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == patternSize;
}

QDataStream &operator<<(QDataStream &stream, const EventFilter &filter)
{
    return stream << filter.type << filter.color << filter.visible;
}

QDataStream &operator>>(QDataStream &stream, EventFilter &filter)
{
    QString type;
    stream >> type >> filter.color >> filter.visible;
    filter.setType(type);
    return stream;
}
