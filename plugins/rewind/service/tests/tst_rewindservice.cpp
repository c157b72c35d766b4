// The archive service object against an in-process referee and the scripted archive server:
// binding and closing with the referee, figures derived from the camera table, change signals,
// storage creation and deletion, events, lookups, the archive description, and shutdown.

#include "servicefixture.h"

#include "archivetime.h"
#include "drive.h"
#include "rewindconfiguration.h"
#include "storage.h"
#include "storagestats.h"
#include "stream.h"

#include "archive/archivefaults.h"
#include "win32/filetime.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>
#include <memory>
#include <testenvironment.h>

using namespace svc;

namespace {
template <class T> int listCount(QQmlListProperty<T> list)
{
    return list.count(&list);
}
template <class T> T *listAt(QQmlListProperty<T> list, int index)
{
    return list.at(&list, index);
}
} // namespace

class TestRewindService : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<DebugCapture> m_debug;
    std::unique_ptr<ScriptedReferee> m_referee;
    std::unique_ptr<ArchiveRegistration> m_archive;
    QUuid m_station, m_other, m_cam1, m_cam2, m_cam3;

    fake::Server &server() { return *m_archive->server.p; }

    // Two storages: "Station" holds Cam1 and Cam2, "Other" holds Cam3.
    void fillArchive()
    {
        server().setDriveMask(1);
        server().setDrive(0, fake::DriveInfo{1000000, 600000, 400000, QStringLiteral("D0")});
        m_station = server().addStorage(QStringLiteral("Station"));
        m_other = server().addStorage(QStringLiteral("Other"));
        m_cam1 = server().addStream(m_station, QStringLiteral("Cam1"));
        m_cam2 = server().addStream(m_station, QStringLiteral("Cam2"));
        m_cam3 = server().addStream(m_other, QStringLiteral("Cam3"));
        CRewindStorageStats a{}, b{};
        a.dataSizeOnDisk = 5000;
        b.dataSizeOnDisk = 700;
        server().setStorageStats(m_station, a);
        server().setStorageStats(m_other, b);
    }

    void refereeTables()
    {
        m_referee->setCameras({Camera{QStringLiteral("A"), m_cam1, kT0 + 1000 * kMs, kT0 + 61000 * kMs},
                               Camera{QStringLiteral("B"), m_cam2, kT0, kT0 + 30000 * kMs},
                               Camera{QStringLiteral("C"), m_cam3, kT0 + 5000 * kMs, kT0 + 20000 * kMs},
                               Camera{QStringLiteral("Gone"), QUuid::createUuid(), kT0 - 9000 * kMs, kT0}});
        m_referee->setTypes({QStringLiteral("Goal"), QStringLiteral("Foul")});
        m_referee->setEvents({Event{QStringLiteral("Foul"), QStringLiteral("early"), kT0 - 2000 * kMs},
                              Event{QStringLiteral("Goal"), QStringLiteral("first"), kT0 + 1500 * kMs}});
    }

private slots:
    void init()
    {
        const QString data = tundra::test::freshDir(QString::fromLatin1(QTest::currentTestFunction()));
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_ROOT", (data + QStringLiteral("/archive")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "0");
        QDir().mkpath(RewindConfiguration::folder());
        QFile json(RewindConfiguration::sourcesFile());
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(
            "{\"video\":[{\"name\":\"One\",\"source\":\"kx:///KX788 Board 1 Input 1\",\"rewind\":\"Cam1\","
            "\"decoder\":\"NV3\"},{\"name\":\"Two\",\"source\":\"kx:///KX788 Board 1 Input "
            "2\",\"rewind\":\"Cam2\"}]}");
        json.close();
        m_clock = std::make_unique<FakeClock>();
        m_debug = std::make_unique<DebugCapture>();
        m_referee = std::make_unique<ScriptedReferee>();
        m_archive = std::make_unique<ArchiveRegistration>();
        fillArchive();
        refereeTables();
    }
    void cleanup()
    {
        m_archive.reset();
        m_referee.reset();
        m_debug.reset();
        m_clock.reset();
        nyx::archive::faults::clear();
    }

    void bindsWhileRefereeAnswersAndClosesWhenItStops()
    {
        m_referee->setSilent(true);
        const QDateTime started = QDateTime::currentDateTime();
        RewindService service(fastTiming());
        QSignalSpy status(&service, &RewindService::statusChanged);
        QSignalSpy referee(&service, &RewindService::refereeAnsweringChanged);
        QSignalSpy storages(&service, &RewindService::storagesChanged);
        QSignalSpy drives(&service, &RewindService::drivesChanged);
        QSignalSpy archive(&service, &RewindService::archiveChanged);
        QSignalSpy types(&service, &RewindService::eventTypesChanged);
        QSignalSpy events(&service, &RewindService::eventListChanged);
        QCOMPARE(service.status(), RewindService::Closing);
        QTest::qWait(200);
        QCOMPARE(service.status(), RewindService::Closing);
        QVERIFY(!service.isBound());
        QCOMPARE(service.minimumStorageSize(), 0ULL); // no server: logged, 0
        // Never answered: silent since the service started.
        QVERIFY(!service.isRefereeAnswering());
        QVERIFY(service.refereeSilentSince() >= started.addMSecs(-1000));
        QVERIFY(service.refereeSilentSince() <= QDateTime::currentDateTime());

        m_referee->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QVERIFY(service.isBound());
        QVERIFY(service.isRefereeAnswering());
        QCOMPARE(referee.count(), 1);
        QVERIFY(m_debug->text().contains(QStringLiteral("JudgeDesk is ACTIVE now -- Init Rewind Service")));
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QCOMPARE(listCount(service.storages()), 2);
        QCOMPARE(listCount(service.drives()), 1);
        QVERIFY(storages.count() > 0);
        QVERIFY(drives.count() > 0);
        // The camera without a stream still counts for the archive's times.
        QTRY_COMPARE(service.startTime(), fromWin32FileTime(kT0 - 9000 * kMs));
        QTRY_COMPARE(service.duration(), 70000ULL);
        QTRY_VERIFY(archive.count() >= 1);
        QTRY_VERIFY(types.count() >= 1);
        QTRY_VERIFY(events.count() >= 1);
        QCOMPARE(service.status(), RewindService::Reading);
        QVERIFY(m_debug->text().contains(QStringLiteral("!!! Archive start time was CHANGED from")));

        // Five seconds without an answer.
        m_referee->setSilent(true);
        storages.clear();
        drives.clear();
        m_clock->advance(6000);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Closing, kWait);
        QVERIFY(!service.isBound());
        // Silent since its last answer, six seconds of the clock before now.
        QVERIFY(!service.isRefereeAnswering());
        QCOMPARE(referee.count(), 2);
        QVERIFY(service.refereeSilentSince() <= QDateTime::currentDateTime().addMSecs(-5500));
        QVERIFY(service.refereeSilentSince() >= started.addMSecs(-7000));
        QVERIFY(m_debug->text().contains(QStringLiteral("JudgeDesk is NOT active -- Close Rewind Service")));
        QTRY_VERIFY(storages.count() >= 1);
        QTRY_VERIFY(drives.count() >= 1);
        QCOMPARE(listCount(service.storages()), 0);
        QCOMPARE(listCount(service.drives()), 0);
        QVERIFY(service.link().GetCameras().empty());
        QCOMPARE(service.getArchiveCollection().value(QStringLiteral("archives")).toList().size(), 0);
        QCOMPARE(service.getEventList().size(), 0);

        // And binds again when the referee is back.
        m_referee->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(listCount(service.storages()), 2, kWait);
        QVERIFY(status.count() >= 3);
        QVERIFY(service.isRefereeAnswering());
        QCOMPARE(referee.count(), 3);
    }

    void figuresWaitForTheCameraTable()
    {
        m_referee->setCamerasAnswered(false);
        RewindService service(fastTiming());
        QSignalSpy start(&service, &RewindService::startTimeChanged);
        QSignalSpy duration(&service, &RewindService::durationChanged);
        QSignalSpy disk(&service, &RewindService::diskSizeChanged);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QVERIFY(service.isBound());
        QTRY_COMPARE_WITH_TIMEOUT(listCount(service.storages()), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.link().typesReceived.load(), kWait);
        QTest::qWait(200);
        QVERIFY(!service.startTime().isValid());
        QCOMPARE(service.duration(), 0ULL);
        QCOMPARE(service.diskSize(), 0ULL);
        QCOMPARE(start.count() + duration.count() + disk.count(), 0);

        m_referee->setCamerasAnswered(true);
        QTRY_COMPARE_WITH_TIMEOUT(service.diskSize(), 5700ULL, kWait);
        QCOMPARE(start.count(), 1);
        QVERIFY(duration.count() >= 1);
        QCOMPARE(disk.count(), 1);
    }

    void writingCamerasAndDuration()
    {
        RewindService service(fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QSignalSpy duration(&service, &RewindService::durationChanged);

        m_referee->setEndStep(100 * kMs);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Writing, kWait);
        QVERIFY(duration.count() >= 1);
        // No more camera answers: the duration runs on with the tick count.
        m_referee->setSilent(true);
        QTest::qWait(300);
        const qulonglong before = service.duration();
        m_clock->advance(1000);
        QCOMPARE(service.duration(), before + 1000);

        m_referee->setSilent(false);
        m_referee->setEndStep(0);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);

        // A status written from QML is corrected by the next poll.
        duration.clear();
        service.setStatus(RewindService::Writing);
        QCOMPARE(service.status(), RewindService::Writing);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QVERIFY(duration.count() >= 1);
    }

    void eventTypesAndEvents()
    {
        m_referee->setSilent(true);
        RewindService service(fastTiming());
        // Not alive: the four default types and no events.
        QVariantList types = service.getAvailableTypes();
        QCOMPARE(types.size(), 4);
        const QColor defaults[] = {QColor(0, 0, 0), QColor(255, 0, 0), QColor(0, 255, 0),
                                   QColor(255, 255, 0)};
        for (int n = 0; n < 4; ++n) {
            QCOMPARE(types[n].toMap()["name"].toString(), QStringLiteral("Type %1").arg(n + 1));
            QCOMPARE(types[n].toMap()["color"].value<QColor>(), defaults[n]);
        }
        QCOMPARE(service.getEventList().size(), 0);

        m_referee->setSilent(false);
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.link().eventsReceived.load() && service.getEventList().size() == 2,
                                 kWait);
        types = service.getAvailableTypes();
        QCOMPARE(types.size(), 2);
        QCOMPARE(types[0].toMap()["name"].toString(), QStringLiteral("Goal"));
        QCOMPARE(types[1].toMap()["name"].toString(), QStringLiteral("Foul"));
        QCOMPARE(types[0].toMap()["color"].value<QColor>(), QColor(0x1f, 0, 0, 255));
        QCOMPARE(service.property("eventTypes").toList(), types);

        const QVariantList events = service.getEventList();
        QCOMPARE(service.startTime(), fromWin32FileTime(kT0 - 9000 * kMs));
        const QVariantMap early = events[0].toMap();
        const QVariantMap first = events[1].toMap();
        QCOMPARE(early["type"].toString(), QStringLiteral("Foul"));
        QCOMPARE(early["comment"].toString(), QStringLiteral("early"));
        QCOMPARE(early["time"].toLongLong(), 7000LL);
        QCOMPARE(first["time"].toLongLong(), 10500LL);
        QCOMPARE(first["boardTime"].type(), QVariant::Double);
        QCOMPARE(first["boardTime"].toDouble(), -1.0);
        QCOMPARE(service.property("eventList").toList(), events);

        // A new event reaches QML as a change of the list.
        QSignalSpy changed(&service, &RewindService::eventListChanged);
        m_referee->setEvents({Event{QStringLiteral("Foul"), QStringLiteral("early"), kT0 - 2000 * kMs},
                              Event{QStringLiteral("Goal"), QStringLiteral("first"), kT0 + 1500 * kMs},
                              Event{QStringLiteral("Goal"), QStringLiteral("late"), kT0 + 90000 * kMs}});
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 1 && service.getEventList().size() == 3, kWait);
    }

    void eventMapsFromTheStartTime()
    {
        RewindService service(fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        RefereeEvent before{1, QStringLiteral("Goal"), QStringLiteral("x"), kT0 - 10000 * kMs, 3600000};
        RefereeEvent after{2, QStringLiteral("Foul"), QString(), kT0 - 9000 * kMs + 1500 * kMs + 9999, -1};
        const QVariantList maps = service.eventsToVariantList({before, after});
        QCOMPARE(maps[0].toMap()["time"].toLongLong(), -1000LL);
        QCOMPARE(maps[0].toMap()["boardTime"].toDouble(), 3600000.0);
        QCOMPARE(maps[1].toMap()["time"].toLongLong(), 1500LL);
        QCOMPARE(maps[1].toMap().keys(), QStringList({"boardTime", "comment", "time", "type"}));
    }

    void archiveDescription()
    {
        RewindService service(fastTiming());
        QCOMPARE(service.getArchiveCollection().keys(), QStringList({"archives"}));
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.link().eventsReceived.load(), kWait);
        const QVariantList archives =
            service.getArchiveCollection().value(QStringLiteral("archives")).toList();
        QCOMPARE(archives.size(), 1);
        const QVariantMap d = archives[0].toMap();
        QCOMPARE(d["name"].toString(), QStringLiteral("Current Training"));
        QCOMPARE(d["creationDate"].toDateTime(), fromWin32FileTime(kT0 - 9000 * kMs));
        QCOMPARE(d["duration"].toLongLong(), 70000LL);
        QCOMPARE(d["eventsUrl"].toString(), QString());
        QCOMPARE(d["events"].toList().size(), 2);
        const QVariantList elements = d["recordingSettings"].toMap()["elements"].toList();
        // Three cameras with streams, then the audio camera (the first).
        QCOMPARE(elements.size(), 4);
        const QVariantMap e1 = elements[0].toMap();
        QCOMPARE(e1["bitrate"].toInt(), 5000);
        QCOMPARE(e1["hardware"].toBool(), false);
        QCOMPARE(e1["type"].toInt(), 0);
        QCOMPARE(e1["source"].toUrl(), QUrl(QStringLiteral("kx:///KX788 Board 1 Input 1")));
        QCOMPARE(e1["storage"].toUuid(), m_station);
        QCOMPARE(elements[1].toMap()["source"].toUrl(), QUrl(QStringLiteral("kx:///KX788 Board 1 Input 2")));
        QCOMPARE(elements[2].toMap()["source"].toUrl(), QUrl(QStringLiteral("Cam3")));
        QCOMPARE(elements[2].toMap()["storage"].toUuid(), m_other);
        const QVariantMap audio = elements[3].toMap();
        QCOMPARE(audio["bitrate"].toInt(), 1000);
        QCOMPARE(audio["type"].toInt(), 1);
        QCOMPARE(audio["storage"].toUuid(), m_station);
        QCOMPARE(audio["source"].toUrl(), QUrl(QStringLiteral("kx:///KX322 Board 1 Stereo 1")));
        // The audio source is now named after the camera that plays audio.
        QCOMPARE(service.getAvailableAudios()[0].toMap()["name"].toString(), QStringLiteral("Cam1"));
        QVERIFY(m_debug->text().contains(QStringLiteral("   Cam=Gone stream=NULL\n")));
        QVERIFY(m_debug->text().contains(QStringLiteral("   Cam=A stream=Pointer\n")));

        // No camera with a stream; an empty table.
        const QVariantMap none = service.FillArchive(
            {RefereeCamera{QStringLiteral("X"), GUID_NULL, kT0, kT0 + 2000 * kMs, 0, 0, true}}, {});
        QCOMPARE(none["recordingSettings"].toMap()["elements"].toList().size(), 0);
        QCOMPARE(none["duration"].toLongLong(), 2000LL);
        const QVariantMap empty = service.FillArchive({}, {});
        QVERIFY(empty["creationDate"].toDateTime().isNull());
        QCOMPARE(empty["duration"].toLongLong(), 0LL);

        // Two audio cameras: the audio source ends named after the second.
        RefereeCamera a{QStringLiteral("A"), nyx::com::fromQUuid(m_cam1), kT0, kT0, 0, 0, true};
        RefereeCamera c{QStringLiteral("C"), nyx::com::fromQUuid(m_cam3), kT0, kT0, 0, 0, true};
        const QVariantMap two = service.FillArchive({a, c}, {});
        QCOMPARE(two["recordingSettings"].toMap()["elements"].toList().size(), 4);
        QCOMPARE(service.audio().name, QStringLiteral("Cam3"));
    }

    void streamLookups()
    {
        RewindService service(fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        Stream *byGuid = service.getStreamByGuid(m_cam2);
        QVERIFY(byGuid);
        QCOMPARE(byGuid->name(), QStringLiteral("Cam2"));
        QVERIFY(!service.getStreamByGuid(QUuid::createUuid()));
        QCOMPARE(service.getStorageByGuid(m_other)->name(), QStringLiteral("Other"));
        QVERIFY(!service.getStorageByGuid(QUuid()));

        Stream *video = service.getStreamByName(QStringLiteral("kx:///KX788 Board 1 Input 1"));
        QVERIFY(video);
        QCOMPARE(video->name(), QStringLiteral("Cam1"));
        QVERIFY(!video->isAudio());
        QCOMPARE(video->decoderKind(), 1);
        QCOMPARE(video->decoderIndex(), 5);
        Stream *two = service.getStreamByName(QStringLiteral("kx:///KX788 Board 1 Input 2"));
        QVERIFY(two);
        QCOMPARE(two->decoderKind(), -1);

        // The audio URL names the audio source, "Audio" until the description renames it.
        QVERIFY(!service.getStreamByName(QStringLiteral("kx:///KX322 Board 1 Stereo 1 (Audio)")));
        service.getArchiveCollection();
        Stream *audio = service.getStreamByName(QStringLiteral("kx:///KX322 Board 1 Stereo 1 (Audio)"));
        QVERIFY(audio);
        QVERIFY(audio->isAudio());
        QCOMPARE(audio->name(), QStringLiteral("Cam1"));
        QCOMPARE(audio->guid(), m_cam1);

        QTest::ignoreMessage(
            QtInfoMsg, QRegularExpression(QStringLiteral("getStreamByName ERROR from url='kx:///Nothing'")));
        QVERIFY(!service.getStreamByName(QStringLiteral("kx:///Nothing")));
    }

    void createAndDeleteStorages()
    {
        RewindService service(fastTiming());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(
                                                "Rewind failed to create storage: .*Null pointer")));
        QVERIFY(!service.createStorage(QStringLiteral("Early"), nullptr, 1));
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QCOMPARE(listCount(service.drives()), 1);
        Drive *drive = listAt(service.drives(), 0);
        QVERIFY(drive);

        server().resetCalls();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(
                                                "Rewind failed to create storage: .*Invalid drive")));
        QVERIFY(!service.createStorage(QStringLiteral("NoDrive"), nullptr, 1 << 20));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(
                                                "Rewind failed to create storage: .*Name is too long")));
        QVERIFY(!service.createStorage(QString(256, QLatin1Char('n')), drive, 1 << 20));
        QCOMPARE(server().calls(fake::Op::CreateStorage), 0);

        QSignalSpy changed(&service, &RewindService::storagesChanged);
        const QString longName(255, QLatin1Char('L'));
        Storage *created = service.createStorage(longName, drive, 1LL << 30);
        QVERIFY(created);
        QCOMPARE(server().calls(fake::Op::CreateStorage), 1);
        QCOMPARE(created->name(), longName);
        QCOMPARE(service.getStorageByGuid(created->guid()), created);
        QCOMPARE(listCount(service.storages()), 3);
        QVERIFY(changed.count() >= 1);

        QTest::ignoreMessage(QtCriticalMsg, "Failed to delete 'null' storage");
        QVERIFY(!service.deleteStorage(nullptr));
        const QUuid id = created->guid();
        // Refused by the server (being recorded): reported, and the storage stays.
        server().fail(fake::Op::DeleteStorage, HRESULT_FROM_WIN32(32));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("failed to delete storage")));
        QVERIFY(!service.deleteStorage(created));
        QCOMPARE(service.getStorageByGuid(id), created);
        QCOMPARE(listCount(service.storages()), 3);
        server().clearFailures();

        QVERIFY(service.deleteStorage(created));
        QCOMPARE(server().deletedStorages(), QList<QUuid>({id, id}));
        QVERIFY(!service.getStorageByGuid(id));
        QCOMPARE(listCount(service.storages()), 2);
        // The next ticks agree.
        QTest::qWait(200);
        QCOMPARE(listCount(service.storages()), 2);
    }

    void setEventGoesToTheReferee()
    {
        RewindService service(fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.link().typesReceived.load(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(service.getEventList().size(), 2, kWait);
        const quint64 start = kT0 - 9000 * kMs;
        auto hex = [](quint64 v) { return QStringLiteral("(Hi%1)(Lo%2)").arg(xml::hexHi(v), xml::hexLo(v)); };
        QSignalSpy listChanged(&service, &RewindService::eventListChanged);
        service.setEvent({{QStringLiteral("type"), QStringLiteral("Goal")},
                          {QStringLiteral("comment"), QStringLiteral("header")},
                          {QStringLiteral("time"), 1500.9}});
        // Shown at once, before the referee has answered.
        QCOMPARE(listChanged.count(), 1);
        const QVariantMap created{{QStringLiteral("type"), QStringLiteral("Goal")},
                                  {QStringLiteral("comment"), QStringLiteral("header")},
                                  {QStringLiteral("time"), qint64(1500)},
                                  {QStringLiteral("boardTime"), -1.0}};
        QVERIFY2(service.getEventList().contains(created),
                 qPrintable(QVariant(service.getEventList()).toJsonDocument().toJson()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_referee->requests(QStringLiteral("CreateEvent")).isEmpty(), kWait);
        QCOMPARE(m_referee->requests(QStringLiteral("CreateEvent")).value(0),
                 QStringLiteral("CreateEvent1_Goal") + hex(start + 1500 * kMs) + QStringLiteral("header"));

        // Without a usable time the event is at the current time; a time given but unusable is
        // reported.
        const quint64 now = nyx::win32::systemTimeAsFileTime();
        const QVariant times[] = {QVariant(),        QVariant(QStringLiteral("soon")),
                                  QVariant(qQNaN()), QVariant(qInf()),
                                  QVariant(-qInf()), QVariant(1e300)};
        for (const QVariant &time : times) {
            QVariantMap e{{QStringLiteral("type"), QStringLiteral("Foul")},
                          {QStringLiteral("comment"), QStringLiteral("now")}};
            if (time.isValid()) {
                e.insert(QStringLiteral("time"), time);
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QStringLiteral("not a time of this archive")));
            }
            service.setEvent(e);
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_referee->requests(QStringLiteral("CreateEvent2_Foul")).size() == 6, kWait);
        for (const QString &text : m_referee->requests(QStringLiteral("CreateEvent2_Foul"))) {
            static const QRegularExpression re(QStringLiteral("\\(Hi([0-9A-F]{8})\\)\\(Lo([0-9A-F]{8})\\)"));
            const auto m = re.match(text);
            QVERIFY(m.hasMatch());
            const quint64 t =
                (m.captured(1).toULongLong(nullptr, 16) << 32) | m.captured(2).toULongLong(nullptr, 16);
            QVERIFY2(t >= now - 60000 * kMs && t <= now + 60000 * kMs, qPrintable(text));
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("did not take the event of type \"Nope\"")));
        service.setEvent({{QStringLiteral("type"), QStringLiteral("Nope")}});
    }

    void twoServicesEachWithTheirOwnLink()
    {
        auto first = std::make_unique<RewindService>(fastTiming());
        RewindService second(fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(first->diskSize() == 5700 && second.diskSize() == 5700, kWait);
        QVERIFY(first->link().ownQueueName() != second.link().ownQueueName());
        QVERIFY(listAt(first->storages(), 0) != listAt(second.storages(), 0));
        first.reset();
        // The other one goes on ticking and sees a new storage.
        server().addStorage(QStringLiteral("Later"));
        QTRY_COMPARE_WITH_TIMEOUT(listCount(second.storages()), 3, kWait);
        QCOMPARE(second.status(), RewindService::Reading);
    }

    void destroyedWhileTicking()
    {
        for (int round = 0; round < 4; ++round) {
            RewindService service(fastTiming());
            QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
            QTRY_VERIFY_WITH_TIMEOUT(service.getStreamByGuid(m_cam1), kWait);
            Stream *stream = service.getStreamByGuid(m_cam1);
            QCOMPARE(stream->name(), QStringLiteral("Cam1"));
            QTest::qWait(15 * round);
        }
        // Destroyed before it ever bound.
        RewindService early(fastTiming());
    }

    void serverReadinessIsRetried()
    {
        m_archive.reset(); // the real archive server under a temporary root, starting for 300 ms
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "300");
        RewindService service(fastTiming());
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.isBound(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(listCount(service.drives()) >= 1, kWait);
        QVERIFY(service.minimumStorageSize() > 0);
        QSignalSpy changed(&service, &RewindService::storagesChanged);
        Storage *created = service.createStorage(QStringLiteral("Real"), listAt(service.drives(), 0),
                                                 qlonglong(service.minimumStorageSize()));
        QVERIFY(created);
        QCOMPARE(created->name(), QStringLiteral("Real"));
        QVERIFY(service.deleteStorage(created));
    }

    void serverThatNeverGetsReadyIsAskedAgainAtEachPoll()
    {
        m_archive.reset();
        nyx::archive::faults::fail(nyx::archive::faults::Operation::IsReady, E_PENDING);
        RewindService service(fastTiming());
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QTest::qWait(300);
        QVERIFY(!service.isBound());
        nyx::archive::faults::clear();
        QTRY_VERIFY_WITH_TIMEOUT(service.isBound(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(listCount(service.drives()) >= 1, kWait);
    }

    void startingServerNeverHoldsTheGuiThread()
    {
        m_archive.reset(); // the real archive server, starting for 4 s
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "4000");
        RewindService::Timing timing = fastTiming();
        timing.readinessRetryMs = 100;
        QElapsedTimer sinceStart;
        sinceStart.start();
        RewindService service(timing);

        // A GUI-thread timer measures how long the thread goes without turning its event loop.
        // A poll that waited for the server would show the whole start-up, and so would polls
        // that sleep between readiness checks while the next ones queue up behind them; the bound
        // allows for a loaded machine. The binding poll itself waits for the worker and is not
        // counted.
        QElapsedTimer sinceTurn;
        sinceTurn.start();
        qint64 longestPending = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!service.isBound())
                longestPending = qMax(longestPending, sinceTurn.elapsed());
            sinceTurn.restart();
        });
        watch.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(service.isBound(), kWait);
        QVERIFY2(sinceStart.elapsed() >= 3900, "the server was not pending");
        QVERIFY2(longestPending < 1000, qPrintable(QString::number(longestPending)));
        QCOMPARE(service.status(), RewindService::Reading);
        QTRY_VERIFY_WITH_TIMEOUT(listCount(service.drives()) >= 1, kWait);
    }

    void statusFollowsTheRefereeWithoutABinding()
    {
        // A server class that hands out no object: the binding never comes about.
        nyx::com::ClassRegistration none(CLSID_RewindServer, [](REFIID, void **) { return E_OUTOFMEMORY; });
        RewindService service(fastTiming());
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QVERIFY(!service.isBound());
        m_referee->setSilent(true);
        m_clock->advance(6000);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Closing, kWait);
        m_referee->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
    }

    void shutdownReleasesEveryServerReference_data()
    {
        QTest::addColumn<bool>("bind");
        QTest::addColumn<int>("callDelayMs");
        QTest::newRow("never bound") << false << 0;
        QTest::newRow("bound") << true << 0;
        QTest::newRow("bound, mid-tick") << true << 40;
    }
    void shutdownReleasesEveryServerReference()
    {
        QFETCH(bool, bind);
        QFETCH(int, callDelayMs);
        const ULONG before = server().refCount();
        m_referee->setSilent(!bind);
        {
            RewindService service(fastTiming());
            if (bind) {
                QTRY_VERIFY_WITH_TIMEOUT(service.diskSize() == 5700, kWait);
                QTRY_VERIFY_WITH_TIMEOUT(service.getStreamByGuid(m_cam3), kWait);
                QVERIFY(server().refCount() > before);
            } else {
                QTest::qWait(100);
            }
            server().setCallDelay(callDelayMs);
            if (callDelayMs > 0) {
                server().resetCalls();
                QTRY_VERIFY_WITH_TIMEOUT(!server().callLog().isEmpty(), kWait);
            }
        }
        // No event loop runs after the destructor: nothing may be left to a deferred delete.
        QCOMPARE(server().refCount(), before);
    }
};

QTEST_MAIN(TestRewindService)
#include "tst_rewindservice.moc"
