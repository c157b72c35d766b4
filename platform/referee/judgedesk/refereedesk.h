#pragma once
// The referee's side of the conversation: its cameras, event types and events, and the XML
// answers to the link's requests. Events live in a file of JSON lines and grow with created
// events and with events typed on the console; every change moves StateChange.

#include "deskconfig.h"

class CameraArchive;

#include <QObject>
#include <QStringList>
#include <QVector>

struct DeskEvent
{
    QString type;
    QString comment;
    quint64 time = 0;      // FILETIME
    qint64 boardTime = -1; // milliseconds of the day, -1 for none
};

class RefereeDesk : public QObject
{
    Q_OBJECT

public:
    // Without an archive the cameras report their configured times.
    explicit RefereeDesk(const DeskConfig &config, CameraArchive *archive = nullptr,
                         QObject *parent = nullptr);

    // False while the answer to the request waits for the archive; answersReady() follows. A camera
    // request binds the archive when it is not bound.
    bool isAnswerReady(const QString &request);
    // Reads the events file (a missing file is an empty list).
    bool loadEvents(QString *error);
    // The answers to one request, in order; a range may be split into answers of at most
    // splitSize events (0: one answer). An unknown request has no answer.
    QStringList answer(const QString &request, int splitSize = 0);
    // Adds an event (an equal time replaces it), saves the file and moves StateChange.
    void addEvent(const DeskEvent &event);
    // A console line "<type> [comment]": the event gets the current time. False for an unknown type.
    bool addConsoleEvent(const QString &line, QString *message);

    const QVector<DeskEvent> &events() const { return m_events; }
    int stateChange() const { return m_stateChange; }

signals:
    void eventAdded(const QString &description);
    // Answers that waited for the archive can be made now.
    void answersReady();

private:
    QString timeInfo() const;
    QString cameraInfo();
    QString eventTypes() const;
    QString eventCount() const;
    QStringList eventRange(int first, int count, int splitSize) const;
    QString eventElement(int index) const;
    QString createEvent(const QString &request);
    bool saveEvents() const;

    DeskConfig m_config;
    CameraArchive *m_archive;
    quint64 m_startTime;
    QVector<DeskEvent> m_events;
    int m_stateChange = 1; // moves on with every change
};
