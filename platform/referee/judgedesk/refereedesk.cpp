#include "refereedesk.h"

#include "cameraarchive.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTime>
#include <algorithm>

namespace {
constexpr quint64 kUnixEpochFileTime = 116444736000000000ULL;

quint64 toFileTime(const QDateTime &time)
{
    return kUnixEpochFileTime + static_cast<quint64>(time.toMSecsSinceEpoch()) * 10000ULL;
}

QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

QString boardTimeText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg((ms % 1000) / 100);
}

QString attribute(const QString &value)
{
    return value.toHtmlEscaped();
}
} // namespace

RefereeDesk::RefereeDesk(const DeskConfig &config, CameraArchive *archive, QObject *parent)
    : QObject(parent), m_config(config), m_archive(archive),
      m_startTime(toFileTime(QDateTime::currentDateTimeUtc()))
{
    if (m_archive)
        connect(m_archive, &CameraArchive::settled, this, &RefereeDesk::answersReady);
    // A restarted desk must not repeat a StateChange that a link still remembers from before the
    // restart, or the link would take a changed list for the one it read: count on from the clock.
    const QDateTime base(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    m_stateChange = static_cast<int>(std::max<qint64>(1, base.secsTo(QDateTime::currentDateTimeUtc())));
}

bool RefereeDesk::isAnswerReady(const QString &request)
{
    if (!m_archive || request != QLatin1String("CameraInfo"))
        return true;
    m_archive->open();
    return !m_archive->isOpening();
}

bool RefereeDesk::loadEvents(QString *error)
{
    m_events.clear();
    QFile file(m_config.eventsFile);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    int line = 0;
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine().trimmed();
        ++line;
        if (bytes.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        DeskEvent event;
        event.type = o.value(QLatin1String("type")).toString();
        event.comment = o.value(QLatin1String("comment")).toString();
        event.time = o.value(QLatin1String("time")).toString().toULongLong();
        event.boardTime = static_cast<qint64>(o.value(QLatin1String("boardTime")).toDouble(-1));
        if (event.type.isEmpty() || event.time == 0) {
            *error = QStringLiteral("%1:%2: an event needs a type and a time").arg(file.fileName()).arg(line);
            return false;
        }
        m_events.push_back(event);
    }
    std::stable_sort(m_events.begin(), m_events.end(),
                     [](const DeskEvent &a, const DeskEvent &b) { return a.time < b.time; });
    return true;
}

bool RefereeDesk::saveEvents() const
{
    QSaveFile file(m_config.eventsFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const DeskEvent &e : m_events) {
        QJsonObject o;
        o.insert(QLatin1String("type"), e.type);
        o.insert(QLatin1String("comment"), e.comment);
        o.insert(QLatin1String("time"), QString::number(e.time));
        o.insert(QLatin1String("boardTime"), static_cast<double>(e.boardTime));
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    }
    return file.commit();
}

void RefereeDesk::addEvent(const DeskEvent &event)
{
    auto it = std::find_if(m_events.begin(), m_events.end(),
                           [&](const DeskEvent &e) { return e.time >= event.time; });
    if (it != m_events.end() && it->time == event.time)
        *it = event;
    else
        m_events.insert(it, event);
    ++m_stateChange;
    if (!saveEvents())
        qWarning("JudgeDesk: cannot write the events file %s", qPrintable(m_config.eventsFile));
    emit eventAdded(QStringLiteral("%1 '%2' at 0x%3").arg(event.type, event.comment).arg(event.time, 0, 16));
}

bool RefereeDesk::addConsoleEvent(const QString &line, QString *message)
{
    const QString text = line.trimmed();
    if (text.isEmpty())
        return false;
    const int space = text.indexOf(QLatin1Char(' '));
    const QString typeName = space < 0 ? text : text.left(space);
    const QString comment = space < 0 ? QString() : text.mid(space + 1).trimmed();
    for (const DeskEventType &type : m_config.eventTypes) {
        if (type.name.compare(typeName, Qt::CaseInsensitive) == 0) {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            addEvent(
                DeskEvent{type.name, comment, toFileTime(now), QTime::currentTime().msecsSinceStartOfDay()});
            return true;
        }
    }
    *message = QStringLiteral("unknown event type '%1'").arg(typeName);
    return false;
}

QStringList RefereeDesk::answer(const QString &request, int splitSize)
{
    static const QRegularExpression info(QStringLiteral("^EventInfo(\\d+)$"));
    static const QRegularExpression range(QStringLiteral("^EventRange\\((\\d+)\\)\\((\\d+)\\)$"));
    if (request == QLatin1String("TimeInfo"))
        return {timeInfo()};
    if (request == QLatin1String("CameraInfo"))
        return {cameraInfo()};
    if (request == QLatin1String("EventTypes"))
        return {eventTypes()};
    if (request == QLatin1String("EventCount"))
        return {eventCount()};
    if (request.startsWith(QLatin1String("CreateEvent")))
        return {createEvent(request)};
    QRegularExpressionMatch m = info.match(request);
    if (m.hasMatch())
        return eventRange(m.captured(1).toInt(), 1, splitSize);
    m = range.match(request);
    if (m.hasMatch())
        return eventRange(m.captured(1).toInt(), m.captured(2).toInt(), splitSize);
    return {};
}

QString RefereeDesk::timeInfo() const
{
    const quint64 now = toFileTime(QDateTime::currentDateTimeUtc());
    return QStringLiteral("<JudgeDesk><TimeInfo THi=\"%1\" TLo=\"%2\"/></JudgeDesk>")
        .arg(hex8(static_cast<quint32>(now >> 32)), hex8(static_cast<quint32>(now)));
}

QString RefereeDesk::cameraInfo()
{
    int playAudioCam = 1;
    for (int i = 0; i < m_config.cameras.size(); ++i) {
        if (m_config.cameras[i].playAudio) {
            playAudioCam = i + 1;
            break;
        }
    }
    const quint64 now = toFileTime(QDateTime::currentDateTimeUtc());
    // The streams' recorded spans; a stream with nothing recorded reports 0 for both times. A camera
    // whose stream cannot be read reports its configured times.
    QVector<CameraTimes> times(m_config.cameras.size());
    if (m_archive)
        m_archive->readCameras(&times);
    QString text = QStringLiteral("<JudgeDesk><Cameras PlayAudioCam=\"%1\">").arg(playAudioCam);
    for (int i = 0; i < m_config.cameras.size(); ++i) {
        const DeskCamera &c = m_config.cameras[i];
        quint64 begin = times[i].begin;
        quint64 end = times[i].end;
        if (!times[i].fromArchive) {
            begin = c.begin.isValid() ? toFileTime(c.begin) : m_startTime;
            end = c.end.isValid() ? toFileTime(c.end) : now;
        }
        const QUuid id = !times[i].id.isNull() ? times[i].id : c.streamId;
        text += QStringLiteral(
                    "<Cam Num=\"%1\" Name=\"%2\" Id=\"%3\" TBeginHi=\"%4\" TBeginLo=\"%5\" TEndHi=\"%6\" "
                    "TEndLo=\"%7\"/>")
                    .arg(i + 1)
                    .arg(attribute(c.name), id.toString().toUpper(), hex8(static_cast<quint32>(begin >> 32)),
                         hex8(static_cast<quint32>(begin)), hex8(static_cast<quint32>(end >> 32)),
                         hex8(static_cast<quint32>(end)));
    }
    return text + QStringLiteral("</Cameras></JudgeDesk>");
}

QString RefereeDesk::eventTypes() const
{
    QString text = QStringLiteral("<JudgeDesk><EventTypes>");
    for (const DeskEventType &t : m_config.eventTypes)
        text += QStringLiteral("<Type Name=\"%1\" Txt=\"%2\" Bg=\"%3\"/>")
                    .arg(attribute(t.name), t.textColor, t.backgroundColor);
    return text + QStringLiteral("</EventTypes></JudgeDesk>");
}

QString RefereeDesk::eventCount() const
{
    return QStringLiteral("<JudgeDesk><Events StateChange=\"%1\" Count=\"%2\"/></JudgeDesk>")
        .arg(m_stateChange)
        .arg(m_events.size());
}

QString RefereeDesk::eventElement(int index) const
{
    const DeskEvent &e = m_events[index];
    QString text =
        QStringLiteral("<Event Index=\"%1\" Name=\"%2\" Comment=\"%3\"><Time THi=\"%4\" TLo=\"%5\"/>")
            .arg(index)
            .arg(attribute(e.type), attribute(e.comment), hex8(static_cast<quint32>(e.time >> 32)),
                 hex8(static_cast<quint32>(e.time)));
    if (e.boardTime >= 0)
        text += QStringLiteral("<FromStart>%1</FromStart>").arg(boardTimeText(e.boardTime));
    return text + QStringLiteral("</Event>");
}

QStringList RefereeDesk::eventRange(int first, int count, int splitSize) const
{
    QStringList answers;
    const int last = std::min<qint64>(static_cast<qint64>(first) + count, m_events.size());
    if (first < 0 || first >= last)
        return {};
    const int chunk = splitSize > 0 ? splitSize : last - first;
    for (int start = first; start < last; start += chunk) {
        QString text = QStringLiteral("<JudgeDesk>");
        for (int i = start; i < std::min(start + chunk, last); ++i)
            text += eventElement(i);
        answers << text + QStringLiteral("</JudgeDesk>");
    }
    return answers;
}

QString RefereeDesk::createEvent(const QString &request)
{
    // CreateEvent<type index>_<type name>(Hi<8 hex>)(Lo<8 hex>)<comment>
    static const QRegularExpression pattern(
        QStringLiteral("^CreateEvent(\\d+)_(.*)\\(Hi([0-9A-Fa-f]{8})\\)\\(Lo([0-9A-Fa-f]{8})\\)(.*)$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = pattern.match(request);
    if (m.hasMatch()) {
        const quint64 time =
            (m.captured(3).toULongLong(nullptr, 16) << 32) | m.captured(4).toULongLong(nullptr, 16);
        if (time != 0)
            addEvent(DeskEvent{m.captured(2), m.captured(5), time, -1});
    }
    // The new count at once, so the creator reads its event back without waiting for a burst.
    return eventCount();
}
