#pragma once
// The archive service's surroundings for its tests: an in-process referee that answers from a
// scripted state, the scripted archive server registered under the real class, and fast timing.

#include "fakereferee.h"
#include "fakerewindserver.h"
#include "rewindservice.h"

#include "archive/irewindserver.h"
#include "com/com.h"

#include <QRegularExpression>
#include <QStringList>
#include <functional>
#include <mutex>

namespace svc {
constexpr quint64 kMs = 10000; // FILETIME units per millisecond
// 2024-01-01 00:00:00 UTC
constexpr quint64 kT0 = 133485408000000000ULL;
constexpr int kWait = 15000;

struct Camera
{
    QString name;
    QUuid stream;
    quint64 begin = 0;
    quint64 end = 0;
};

struct Event
{
    QString type;
    QString comment;
    quint64 time = 0;
};

// Answers the link's requests from its state; "silent" drops every answer.
class ScriptedReferee
{
public:
    ScriptedReferee()
    {
        referee.setAutoResponder([this](const FakeReferee::Request &r) { respond(r); });
    }

    void setCameras(const QList<Camera> &list, int playAudioCam = 1)
    {
        std::lock_guard<std::mutex> lock(mutex);
        cameras = list;
        audioCam = playAudioCam;
    }
    void setTypes(const QStringList &list)
    {
        std::lock_guard<std::mutex> lock(mutex);
        types = list;
    }
    void setEvents(const QList<Event> &list)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events = list;
        ++stateChange;
    }
    // Leaves camera requests unanswered while the rest is answered.
    void setCamerasAnswered(bool on)
    {
        std::lock_guard<std::mutex> lock(mutex);
        camerasAnswered = on;
    }
    void setSilent(bool on)
    {
        std::lock_guard<std::mutex> lock(mutex);
        silent = on;
    }
    // Every camera's end moves on by step on each camera answer (the cameras are writing).
    void setEndStep(quint64 step)
    {
        std::lock_guard<std::mutex> lock(mutex);
        endStep = step;
    }
    QStringList requests(const QString &prefix)
    {
        QStringList list;
        for (const QString &t : referee.texts())
            if (t.startsWith(prefix))
                list << t;
        return list;
    }

    FakeReferee referee;

private:
    void respond(const FakeReferee::Request &r)
    {
        QString answer;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (silent)
                return;
            static const QRegularExpression range(QStringLiteral("^EventRange\\((\\d+)\\)\\((\\d+)\\)$"));
            static const QRegularExpression info(QStringLiteral("^EventInfo(\\d+)$"));
            if (r.text == QLatin1String("TimeInfo")) {
                answer = QStringLiteral("<JudgeDesk><TimeInfo/></JudgeDesk>");
            } else if (r.text == QLatin1String("CameraInfo")) {
                if (!camerasAnswered)
                    return;
                QString body;
                for (int i = 0; i < cameras.size(); ++i) {
                    cameras[i].end += endStep;
                    const Camera &c = cameras[i];
                    body += xml::cam(i + 1, c.name, c.stream.toString().toUpper(), c.begin, c.end);
                }
                answer = xml::cameras(body, audioCam);
            } else if (r.text == QLatin1String("EventTypes")) {
                answer = xml::types(types);
            } else if (r.text == QLatin1String("EventCount") ||
                       r.text.startsWith(QLatin1String("CreateEvent"))) {
                answer = xml::header(stateChange, events.size());
            } else if (auto m = range.match(r.text); m.hasMatch()) {
                answer = eventsXml(m.captured(1).toInt(), m.captured(2).toInt());
            } else if (auto m2 = info.match(r.text); m2.hasMatch()) {
                answer = eventsXml(m2.captured(1).toInt(), 1);
            }
        }
        if (!answer.isEmpty())
            referee.transport->deliver(r.replyQueue, answer);
    }
    QString eventsXml(int first, int count) const
    {
        QString body;
        for (int i = first; i < first + count && i < events.size(); ++i)
            body += xml::event(i, events[i].type, events[i].comment, events[i].time);
        return xml::events(body);
    }

    std::mutex mutex;
    QList<Camera> cameras;
    int audioCam = 1;
    QStringList types;
    QList<Event> events;
    int stateChange = 1;
    quint64 endStep = 0;
    bool silent = false;
    bool camerasAnswered = true;
};

// The scripted archive server as CoCreateInstance hands it out.
struct ArchiveRegistration
{
    ArchiveRegistration()
        : server(fake::Server::create()),
          registration(CLSID_RewindServer,
                       [s = server](REFIID riid, void **object) { return s->QueryInterface(riid, object); })
    {
    }
    CComPtr<fake::Server> server;
    nyx::com::ClassRegistration registration;
};

inline RewindService::Timing fastTiming()
{
    RewindService::Timing t;
    t.tickMs = 20;
    t.readinessRetryMs = 10;
    t.linkTimerMs = 20;
    return t;
}
} // namespace svc
