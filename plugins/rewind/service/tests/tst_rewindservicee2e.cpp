// The archive service against the stand-in referee JudgeDesk in its own process over TCP, both on
// one real archive root: JudgeDesk's cameras and their streams, event types, created events, and
// closing when JudgeDesk goes away.

#include "rewindconfiguration.h"
#include "rewindservice.h"
#include "storage.h"
#include "stream.h"

#include "win32/debugoutput.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <testenvironment.h>

namespace {
constexpr int kWait = 20000;

bool hasComment(const QVariantList &events, const QString &comment)
{
    for (const QVariant &e : events)
        if (e.toMap().value(QStringLiteral("comment")).toString() == comment)
            return true;
    return false;
}
} // namespace

class TestRewindServiceE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        nyx::win32::setDebugOutputSink([](const std::string &) {});
    }
    void cleanupTestCase() { nyx::win32::setDebugOutputSink({}); }

    void serviceFollowsJudgeDesk()
    {
        const QString dir = tundra::test::freshDir(QStringLiteral("e2e"));
        qputenv("XDG_DATA_HOME", (dir + QStringLiteral("/data")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_ROOT", (dir + QStringLiteral("/archive")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "100");
        QJsonObject config{
            {"storage", "Station"},
            {"cameras", QJsonArray{QJsonObject{{"name", "Main"}, {"stream", "Camera 1"}, {"playAudio", true}},
                                   QJsonObject{{"name", "Goal line"}, {"stream", "Camera 2"}}}},
            {"eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "0000FF"}},
                                      QJsonObject{{"name", "Foul"}, {"background", "00FFFF"}}}},
            {"eventsFile", "events.jsonl"}};
        QFile file(dir + QStringLiteral("/judgedesk.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(config).toJson());
        file.close();

        QProcess desk;
        desk.setProgram(tundra::test::binDir() + QStringLiteral("/JudgeDesk"));
        desk.setArguments({"--config", dir + "/judgedesk.json", "--listen", "127.0.0.1", "--port", "0"});
        desk.start();
        QVERIFY2(desk.waitForStarted(5000), qPrintable(desk.errorString()));
        QVERIFY(desk.waitForReadyRead(10000));
        const QString banner = QString::fromUtf8(desk.readLine());
        const QRegularExpressionMatch m = QRegularExpression("listening on port (\\d+)").match(banner);
        QVERIFY2(m.hasMatch(), qPrintable(banner));

        QDir().mkpath(RewindConfiguration::folder());
        QFile ini(RewindConfiguration::settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("ZEMBLA=127.0.0.1:" + m.captured(1).toLatin1() + "\nReadEventCount=2\nReadEventSize=2\n");
        ini.close();

        RewindService::Timing timing;
        timing.tickMs = 100;
        timing.linkTimerMs = 100;
        RewindService service(timing);
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Reading, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(service.isBound(), kWait); // the server starts for 100 ms

        // JudgeDesk's storage and streams, read by this process from the shared archive.
        QTRY_VERIFY_WITH_TIMEOUT(
            service.link().camsReceived.load() && service.link().GetCameras().size() == 2, kWait);
        const std::vector<RefereeCamera> cameras = service.link().GetCameras();
        const QUuid mainStream = nyx::com::toQUuid(cameras[0].streamId);
        QVERIFY(!mainStream.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(service.getStreamByGuid(mainStream), kWait);
        Stream *stream = service.getStreamByGuid(mainStream);
        QCOMPARE(stream->name(), QStringLiteral("Camera 1"));
        Storage *station = service.getStorageByGuid(stream->storageGuid());
        QVERIFY(station);
        QCOMPARE(station->name(), QStringLiteral("Station"));

        QTRY_VERIFY_WITH_TIMEOUT(service.getAvailableTypes().size() == 2, kWait);
        QCOMPARE(service.getAvailableTypes()[0].toMap()["name"].toString(), QStringLiteral("Goal"));
        QCOMPARE(service.getAvailableTypes()[0].toMap()["color"].value<QColor>(), QColor(0xff, 0, 0));

        QTRY_VERIFY_WITH_TIMEOUT(!service.getArchiveCollection()["archives"].toList().isEmpty(), kWait);
        const QVariantMap description = service.getArchiveCollection()["archives"].toList()[0].toMap();
        const QVariantList elements = description["recordingSettings"].toMap()["elements"].toList();
        QCOMPARE(elements.size(), 3); // two cameras, one of them playing audio
        QCOMPARE(elements[2].toMap()["type"].toInt(), 1);
        QCOMPARE(elements[2].toMap()["storage"].toUuid(), station->guid());
        QCOMPARE(service.audio().name, QStringLiteral("Camera 1"));

        // An event made here comes back in JudgeDesk's list.
        QTRY_VERIFY_WITH_TIMEOUT(service.link().eventsReceived.load(), kWait);
        QSignalSpy listChanged(&service, &RewindService::eventListChanged);
        service.setEvent({{QStringLiteral("type"), QStringLiteral("Foul")},
                          {QStringLiteral("comment"), QStringLiteral("from the station")}});
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile f(dir + QStringLiteral("/events.jsonl"));
                return f.open(QIODevice::ReadOnly) && f.readAll().contains("from the station");
            }(),
            kWait);
        QTRY_VERIFY_WITH_TIMEOUT(hasComment(service.getEventList(), QStringLiteral("from the station")),
                                 kWait);

        // An event made at JudgeDesk's console reaches QML as a change of the list.
        listChanged.clear();
        desk.write("Goal typed at the desk\n");
        QTRY_VERIFY_WITH_TIMEOUT(listChanged.count() >= 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(hasComment(service.getEventList(), QStringLiteral("typed at the desk")),
                                 kWait);

        // JudgeDesk goes away: five seconds later the service closes.
        const QUuid stationId = station->guid();
        desk.kill();
        QVERIFY(desk.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(service.status(), RewindService::Closing, kWait);
        QVERIFY(!service.isBound());
        QTRY_VERIFY_WITH_TIMEOUT(!service.getStorageByGuid(stationId), kWait);
    }
};

QTEST_MAIN(TestRewindServiceE2E)
#include "tst_rewindservicee2e.moc"
