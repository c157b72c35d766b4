#include "eventrecord.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace {
const QString kTime = QStringLiteral("time");
const QString kBoardTime = QStringLiteral("boardTime");
const QString kType = QStringLiteral("type");
const QString kColor = QStringLiteral("color");
const QString kComment = QStringLiteral("comment");
} // namespace

EventRecord EventRecord::fromMap(const QVariantMap &map)
{
    EventRecord record;
    record.time = map.value(kTime).toDouble();
    bool ok = false;
    const double boardTime = map.value(kBoardTime).toDouble(&ok);
    record.boardTime = ok ? boardTime : -1;
    record.type = map.value(kType).toString();
    record.color = map.value(kColor).toString();
    record.comment = map.value(kComment).toString();
    return record;
}

EventRecord EventRecord::fromJson(const QJsonObject &object)
{
    EventRecord record;
    record.time = object.value(kTime).toDouble(0);
    record.boardTime = object.value(kBoardTime).toDouble(-1);
    record.type = object.value(kType).toString();
    record.color = object.value(kColor).toString();
    record.comment = object.value(kComment).toString();
    return record;
}

QJsonObject EventRecord::toJson() const
{
    QJsonObject object;
    object.insert(kTime, time);
    object.insert(kBoardTime, boardTime);
    object.insert(kType, type);
    object.insert(kColor, color);
    object.insert(kComment, comment);
    return object;
}

QByteArray EventRecord::toLine() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

bool EventRecord::fromLine(const QByteArray &line, EventRecord *record)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    // Valid JSON that is not an event (an array, an unrelated object) must not become an empty
    // event at time 0.
    if (!object.value(kTime).isDouble() && !object.value(kType).isString())
        return false;
    *record = fromJson(object);
    return true;
}

bool operator==(const EventRecord &a, const EventRecord &b)
{
    return a.time == b.time && a.boardTime == b.boardTime && a.type == b.type && a.color == b.color &&
           a.comment == b.comment;
}
