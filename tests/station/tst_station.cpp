// The station's server and client screens, loaded by a real QML engine with the built plugins,
// against the stand-in referee JudgeDesk in its own process and a real archive that another
// process records into.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSettings>
#include <QUdpSocket>
#include <QtTest>
#include <memory>
#include <optional>
#include <signal.h>
#include <testenvironment.h>

#include "stationscreen.h"
#include "stationtest.h"

using namespace stationtest;

namespace {
constexpr int kWait = 60000;
// Each camera stream holds two recorded sequences of this many seconds.
constexpr int kSequenceSeconds = 4;
const QStringList kCameraStreams{"Cam1", "Cam2", "Cam3", "Cam4"};

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

    QString m_dir;
    QString m_configDir;
    QProcess m_desk;
    quint16 m_deskPort = 0;

    bool startDesk(quint16 port)
    {
        m_deskPort = startJudgeDesk(&m_desk, m_dir + "/judgedesk.json", port);
        return m_deskPort != 0;
    }

    void stopDesk()
    {
        if (m_desk.state() == QProcess::NotRunning)
            return;
        m_desk.kill();
        m_desk.waitForFinished(10000);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
        QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
        m_dir = tundra::test::freshDir(QStringLiteral("station"));
        qputenv("TUNDRA_ARCHIVE_ROOT", (m_dir + QStringLiteral("/archive")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "100");
        // A board of its own: another station run on this machine neither sees nor feeds its outputs.
        qputenv("NYX_KX_NAMESPACE", "station" + QByteArray::number(QCoreApplication::applicationPid()));
        m_configDir = tundra::test::dataDir() + QStringLiteral("/data/Nyx/TundraRecorder");
        QDir(m_configDir).removeRecursively();
        QVERIFY(QDir().mkpath(m_configDir));

        // Only the virtual board: four video inputs and one stereo input.
        QJsonArray videos;
        for (int i = 1; i <= 4; ++i)
            videos.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                      {"source", QStringLiteral("@url kx:///KX788 Board 1 Input %1").arg(i)},
                                      {"rewind", kCameraStreams[i - 1]}});
        QVERIFY(writeJson(m_configDir + "/available_videos.json",
                          {{"video", videos},
                           {"audio", QJsonArray{QJsonObject{{"name", "Board audio"},
                                                            {"source", "@url kx:///KX788 Board 1 Stereo 1"},
                                                            {"rewind", "Audio1"}}}}}));
        QJsonArray cameras;
        for (int i = 1; i <= 4; ++i)
            cameras.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                       {"stream", kCameraStreams[i - 1]},
                                       {"playAudio", false}});
        // The board's sound goes into a stream of its own: an archive stream keeps one kind of
        // media, so it cannot share a camera's.
        cameras.append(QJsonObject{{"name", "Board audio"}, {"stream", "Audio1"}, {"playAudio", true}});
        QVERIFY(
            writeJson(m_dir + "/judgedesk.json",
                      {{"storage", "Station"},
                       {"cameras", cameras},
                       {"eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "0000FF"}},
                                                 QJsonObject{{"name", "Foul"}, {"background", "00FFFF"}}}},
                       {"eventsFile", "events.jsonl"}}));

        // JudgeDesk makes the storage and the camera streams; another process records into them.
        QVERIFY(startDesk(0));
        QFile ini(m_configDir + "/rewind.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("ZEMBLA=127.0.0.1:" + QByteArray::number(m_deskPort) + "\n");
        ini.close();

        QProcess frames;
        QElapsedTimer timer;
        timer.start();
        do {
            frames.start(tundra::test::binDir() + QStringLiteral("/../tests/stationframes"),
                         {"Station", kCameraStreams.join(','), QString::number(kSequenceSeconds), "3"});
            QVERIFY(frames.waitForFinished(60000));
            // JudgeDesk may not have made the streams yet.
        } while (frames.exitCode() != 0 && timer.elapsed() < 20000 && (QTest::qWait(500), true));
        QVERIFY2(frames.exitCode() == 0, frames.readAllStandardError().constData());
        for (const QString &stream : kCameraStreams) {
            const QList<Sequence> sequences = archiveSequences("Station", stream);
            QCOMPARE(sequences.size(), 2);
            for (const Sequence &sequence : sequences) {
                QCOMPARE(sequence.frames, qint64(kSequenceSeconds * 25));
                QCOMPARE(sequence.lost(25), qint64(0));
            }
        }
    }

    void cleanupTestCase() { stopDesk(); }

    // The server finds the archive stream of every configured source once the service has bound
    // the archive, shows the frames recorded in each, and finds them again after the referee
    // application has gone away and come back.
    void serverFindsEveryStream()
    {
        Screen server;
        QVERIFY(server.load(QStringLiteral("/server/qml/main.qml")));
        QTRY_COMPARE_WITH_TIMEOUT(server.property("foundStreams").toInt(), 5, kWait);
        QCOMPARE(server.property("configuredStreams").toInt(), 5);

        const QVariantList videos = server.property("videoStreams").toList();
        QCOMPARE(videos.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(videos[i].value<QObject *>()->property("name").toString(), kCameraStreams[i]);
        // The audio side of the stream of the camera that plays audio.
        QObject *audio = server.property("audioStream").value<QObject *>();
        QVERIFY(audio);
        QCOMPARE(audio->property("name").toString(), QStringLiteral("Audio1"));
        QVERIFY(!videos.contains(QVariant::fromValue(audio)));

        // Every video tile counts the frames of both recorded sequences.
        QList<QQuickItem *> tiles;
        collectItems(server.window()->contentItem(), &tiles);
        int videoTiles = 0;
        for (QQuickItem *tile : tiles) {
            if (!tile->property("chainFile").isValid() || tile->property("audio").toBool())
                continue;
            ++videoTiles;
            QTRY_COMPARE_WITH_TIMEOUT(tile->property("recordedFrames").toInt(), 2 * kSequenceSeconds * 25,
                                      kWait);
            // A chain that cannot be built says why.
            QVERIFY(tile->property("chainAvailable").toBool() ||
                    !tile->property("chainError").toString().isEmpty());
        }
        QCOMPARE(videoTiles, 4);
        QVERIFY(server.window()->grabWindow().save(tundra::test::dataDir() + QStringLiteral("/server.png")));

        // The referee application goes away: the archive closes and its streams are gone; it
        // comes back: the same sources find the new stream objects.
        stopDesk();
        QTRY_COMPARE_WITH_TIMEOUT(server.evaluate("RewindService.status").toInt(), 2, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(server.property("foundStreams").toInt(), 0, kWait);
        QVERIFY(startDesk(m_deskPort));
        QTRY_COMPARE_WITH_TIMEOUT(server.property("foundStreams").toInt(), 5, kWait);
        QCOMPARE(server.property("audioStream").value<QObject *>()->property("name").toString(),
                 QStringLiteral("Audio1"));
        QVERIFY2(server.warnings.isEmpty(), qPrintable(server.warnings.join('\n')));
    }

    // Recording: every input grows its stream at 25 frames per second without a lost frame.
    // Needs the media types; until they are built the server says they are missing.
    void serverRecordsEveryInput()
    {
        // FILETIME of the load: the server's own sequences start after it.
        const qint64 loaded =
            (QDateTime::currentDateTimeUtc().toMSecsSinceEpoch() + 11644473600000LL) * 10000;
        Screen server;
        QVERIFY(server.load(QStringLiteral("/server/qml/main.qml")));
        QTRY_COMPARE_WITH_TIMEOUT(server.property("foundStreams").toInt(), 5, kWait);
        QList<QQuickItem *> items;
        collectItems(server.window()->contentItem(), &items);
        QList<QQuickItem *> tiles;
        for (QQuickItem *item : items)
            if (item->property("chainFile").isValid())
                tiles << item;
        QCOMPARE(tiles.size(), 5);
        for (QQuickItem *tile : qAsConst(tiles))
            if (!tile->property("chainAvailable").toBool())
                QSKIP(qPrintable("media types missing: " + tile->property("chainError").toString()));

        for (QQuickItem *tile : qAsConst(tiles))
            QTRY_COMPARE_WITH_TIMEOUT(tile->property("status").toInt(), 3, kWait);
        const auto newest = [](const QString &stream) {
            const QList<Sequence> sequences = archiveSequences("Station", stream);
            return sequences.isEmpty() ? Sequence() : sequences.last();
        };
        // The server's own sequence starts after everything recorded before it.
        QHash<QString, Sequence> start;
        for (const QString &stream : kCameraStreams + QStringList{"Audio1"})
            QTRY_VERIFY_WITH_TIMEOUT(
                (start[stream] = newest(stream)).first > loaded && start[stream].frames > 0, kWait);
        // A minute of recording: 25 frames a second on every input, every frame time there.
        QTest::qWait(60000);
        for (const QString &stream : kCameraStreams) {
            const Sequence now = newest(stream);
            QCOMPARE(now.first, start[stream].first); // still the same sequence
            QVERIFY2(now.frames - start[stream].frames >= 60 * 25 - 50, qPrintable(stream));
            // Every frame time from the first to the last is there, also on a busy machine.
            QVERIFY2(now.lost(25) == 0, qPrintable(QStringLiteral("%1 lost %2 of %3 frames")
                                                       .arg(stream)
                                                       .arg(now.lost(25))
                                                       .arg(now.frames + now.lost(25))));
        }
        QVERIFY(newest("Audio1").frames > start["Audio1"].frames);
    }

    // The client lists the archive, shows the recorded sequences and the referee's events,
    // sends an event marked at the replay position to JudgeDesk and shows it when it comes
    // back, and keeps the remote events that arrive over UDP in its events file.
    void clientShowsArchiveAndEvents()
    {
        const quint16 control = freeUdpPort();
        const quint16 feedback = freeUdpPort();
        {
            QSettings settings;
            settings.setValue("Beacon/address", "127.0.0.1");
            settings.setValue("Beacon/portControl", control);
            settings.setValue("Beacon/portFeedback", feedback);
        }
        const QString eventsFile = m_dir + QStringLiteral("/remote/events.jsonl");
        Screen client;
        QVERIFY(client.load(QStringLiteral("/client/qml/main.qml"), {{"eventsFile", eventsFile}}));
        QQuickWindow *window = client.window();

        QObject *browser = client.child("streamBrowser");
        QVERIFY(browser);
        QTRY_VERIFY_WITH_TIMEOUT(browser->property("storageNames").toStringList().contains("Station"), kWait);
        // The sound stream is no camera: it is not offered, and it stays out of the views.
        QTRY_COMPARE_WITH_TIMEOUT(
            browser->property("streamNames").toStringList(),
            QStringList({"Station/Cam1", "Station/Cam2", "Station/Cam3", "Station/Cam4"}), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(client.evaluate("audioStream ? audioStream.name : ''").toString(),
                                  QStringLiteral("Audio1"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(client.property("cameras").toList().size(), 4, kWait);
        QObject *timeline = client.child("timeline");
        // The seeded sequences and those the server recorded in the tests before.
        int sequences = 0;
        for (const QString &stream : kCameraStreams)
            sequences += archiveSequences("Station", stream).size();
        QVERIFY(sequences >= 8);
        QTRY_COMPARE_WITH_TIMEOUT(timeline->property("shownSequences").toInt(), sequences, kWait);

        // An event typed at JudgeDesk's console shows in the referee's list.
        QObject *events = client.child("eventPanel");
        QVERIFY(events);
        m_desk.write("Goal typed at the desk\n");
        QTRY_VERIFY_WITH_TIMEOUT(events->property("refereeCount").toInt() >= 1, kWait);
        const int before = events->property("refereeCount").toInt();

        // Replay from inside the second sequence, pause, and mark a foul there.
        const QDateTime end = client.evaluate("cameras[0].endTime").toDateTime();
        QVERIFY(end.isValid());
        const double at = double(end.toMSecsSinceEpoch() - 2000);
        QMetaObject::invokeMethod(window, "replayAt", Q_ARG(QVariant, at));
        // The operator's keys: Space pauses, Right steps two frames of 40 ms forward.
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window, kWait));
        QTest::keyClick(window, Qt::Key_Space);
        QVERIFY(client.property("paused").toBool());
        // The frame on screen: the one at the replay's start (which may begin a frame before it) or later.
        const double paused = client.property("anchorTime").toDouble();
        QVERIFY2(paused >= at - 40 && paused < at + kWait, qPrintable(QString::number(paused - at)));
        QTest::keyClick(window, Qt::Key_Right);
        QTest::keyClick(window, Qt::Key_Right);
        const double position = client.property("anchorTime").toDouble();
        QCOMPARE(position, paused + 80);

        client.child("markType")->setProperty("currentIndex", 1);
        client.child("markComment")->setProperty("text", "marked in the client");
        auto *button = client.child<QQuickItem>("markEventButton");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), kWait);
        QTest::mouseClick(window, Qt::LeftButton, {},
                          button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(readFile(m_dir + "/events.jsonl").contains("marked in the client"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(events->property("refereeCount").toInt() == before + 1, kWait);
        QVariantMap marked;
        for (const QVariant &e : client.evaluate("RewindService.eventList").toList())
            if (e.toMap().value("comment").toString() == QLatin1String("marked in the client"))
                marked = e.toMap();
        QCOMPARE(marked.value("type").toString(), QStringLiteral("Foul"));
        const double start =
            double(client.evaluate("RewindService.startTime").toDateTime().toMSecsSinceEpoch());
        QVERIFY2(qAbs(marked.value("time").toDouble() - (position - start)) <= 1,
                 qPrintable(QString("event at %1 ms, replay at %2 ms")
                                .arg(marked.value("time").toDouble())
                                .arg(position - start)));

        // Remote events over loopback UDP: shown, and kept in the events file.
        QProcess fakecast;
        fakecast.setWorkingDirectory(tundra::test::binDir());
        fakecast.start(tundra::test::binDir() + "/Fakecast",
                       {"-ar", "127.0.0.1", "-vs", "127.0.0.1", "-pf", QString::number(feedback), "-pc",
                        QString::number(control)});
        QVERIFY(fakecast.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(events->property("remoteCount").toInt() >= 1, kWait);
        fakecast.kill();
        fakecast.waitForFinished(10000);
        const QList<QByteArray> lines = readFile(eventsFile).trimmed().split('\n');
        QVERIFY(!lines.isEmpty());
        const QJsonObject stored = QJsonDocument::fromJson(lines.last()).object();
        QVERIFY2(stored.contains("boardTime") && !stored.value("type").toString().isEmpty(),
                 lines.last().constData());

        // A picture of the screen for the record.
        const QImage shot = window->grabWindow();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(tundra::test::dataDir() + QStringLiteral("/client.png")));

        // The operator leaves out Cam2; the choice outlasts the referee application's restart,
        // which makes every stream object anew.
        QList<QQuickItem *> items;
        collectItems(window->contentItem(), &items);
        QQuickItem *cam2 = nullptr;
        for (QQuickItem *item : items)
            if (item->property("stream").isValid() &&
                item->property("text").toString() == QLatin1String("Cam2"))
                cam2 = item;
        QVERIFY(cam2);
        QTest::mouseClick(window, Qt::LeftButton, {},
                          cam2->mapToScene(QPointF(cam2->width() / 2, cam2->height() / 2)).toPoint());
        const auto cameraNames = [&] {
            QStringList names;
            for (const QVariant &camera : client.property("cameras").toList())
                names << camera.value<QObject *>()->property("name").toString();
            return names;
        };
        QCOMPARE(cameraNames(), QStringList({"Cam1", "Cam3", "Cam4"}));
        // With room for a fourth camera, the sound stream is still refused as one.
        QMetaObject::invokeMethod(window, "toggleCamera",
                                  Q_ARG(QVariant, client.evaluate("streamNamed('Audio1')")),
                                  Q_ARG(QVariant, true));
        QCOMPARE(cameraNames(), QStringList({"Cam1", "Cam3", "Cam4"}));
        QList<QQuickItem *> offered;
        collectItems(window->contentItem(), &offered);
        for (QQuickItem *item : offered)
            QVERIFY(!item->property("stream").isValid() ||
                    item->property("text").toString() != QLatin1String("Audio1"));
        QPointer<QObject> firstCamera = client.property("cameras").toList().first().value<QObject *>();
        stopDesk();
        QTRY_VERIFY_WITH_TIMEOUT(!firstCamera, kWait);
        QVERIFY(startDesk(m_deskPort));
        QTRY_COMPARE_WITH_TIMEOUT(cameraNames(), QStringList({"Cam1", "Cam3", "Cam4"}), kWait);
        QVERIFY2(client.warnings.isEmpty(), qPrintable(client.warnings.join('\n')));
    }

    // The client replays ten seconds of camera 1 that the server has just recorded from the
    // board: the frames shown carry the board's time strip of the replayed times.
    void clientReplaysRecordedCamera()
    {
        Screen server;
        QVERIFY(server.load(QStringLiteral("/server/qml/main.qml")));
        const qint64 loaded =
            (QDateTime::currentDateTimeUtc().toMSecsSinceEpoch() + 11644473600000LL) * 10000;
        Sequence recorded;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QList<Sequence> sequences = archiveSequences("Station", kCameraStreams[0]);
                recorded = sequences.isEmpty() ? Sequence() : sequences.last();
                return recorded.first > loaded - 600000000LL && recorded.frames >= 14 * 25;
            }(),
            2 * kWait);

        Screen client;
        QVERIFY(client.load(QStringLiteral("/client/qml/main.qml"),
                            {{"eventsFile", m_dir + QStringLiteral("/replay/events.jsonl")}}));
        QQuickWindow *window = client.window();
        QTRY_COMPARE_WITH_TIMEOUT(client.property("cameras").toList().size(), 4, kWait);
        QQuickItem *view = nullptr;
        QList<QQuickItem *> items;
        collectItems(window->contentItem(), &items);
        for (QQuickItem *item : items)
            if (item->property("framesPresented").isValid() && item->isVisible() && !view)
                view = item; // the first view: camera 1
        QVERIFY(view);

        // FILETIME to milliseconds since the epoch.
        const double from = double(recorded.first / 10000 - 11644473600000LL) + 2000;
        // A range long enough that the step of five seconds below stays inside it however long a
        // loaded machine takes to show the first frame.
        client.window()->setProperty("rangeLength", 30000);
        QMetaObject::invokeMethod(window, "replayAt", Q_ARG(QVariant, from));
        QTRY_VERIFY_WITH_TIMEOUT(view->property("framesPresented").toInt() > 0, kWait);
        // The board's sound, recorded beside the pictures, plays with them at rate 1.
        QObject *speaker = client.child("replaySpeaker");
        QVERIFY(speaker);
        QTRY_VERIFY_WITH_TIMEOUT(speaker->property("buffersPlayed").toInt() > 10, kWait);
        const auto showAt = [&](int frames, double *position) -> std::optional<quint64> {
            const int before = view->property("framesPresented").toInt();
            QMetaObject::invokeMethod(window, "stepFrames", Q_ARG(QVariant, frames));
            *position = client.property("anchorTime").toDouble();
            if (!QTest::qWaitFor(
                    [&] {
                        return view->property("framesPresented").toInt() > before &&
                               shownStripTime(window->grabWindow(), view).has_value();
                    },
                    kWait))
                return std::nullopt;
            // The frame held stays: read it again once the view has settled.
            QTest::qWait(500);
            return shownStripTime(window->grabWindow(), view);
        };
        double first = 0, second = 0;
        const std::optional<quint64> a = showAt(0, &first);
        const std::optional<quint64> b = showAt(5 * 25, &second);
        QVERIFY(a && b);
        // The position follows the frame on screen: five seconds on, within a frame.
        QVERIFY2(qAbs(second - first - 5000.0) <= 40, qPrintable(QString::number(second - first)));
        // Five seconds apart in the replay, five seconds apart in the board's own time (within a frame).
        const qint64 apart = qint64(*b - *a);
        QVERIFY2(qAbs(apart - 50000000LL) <= 400000,
                 qPrintable(QString("frames %1 (100 ns) apart").arg(apart)));
        QVERIFY(window->grabWindow().save(tundra::test::dataDir() + QStringLiteral("/client-replay.png")));
        QVERIFY2(client.warnings.isEmpty(), qPrintable(client.warnings.join('\n')));
    }

    // The real station as the run command starts it: the supervisor starts the server and the
    // client, both bind the archive while JudgeDesk runs; a server killed outright is started
    // again and binds again; Ctrl+C closes everything in order, each window keeping its place.
    void realStationUnderSupervisor()
    {
        QVERIFY(m_desk.state() == QProcess::Running);
        QSettings().remove("Windows");
        // The output outlives the process, whose last words may still arrive as it is destroyed.
        QByteArray output;
        QProcess station;
        station.setProcessChannelMode(QProcess::MergedChannels);
        connect(&station, &QProcess::readyRead, this, [&] { output += station.readAll(); });
        const QByteArray bound = "JudgeDesk is ACTIVE now";
        station.start(tundra::test::binDir() + "/TundraRecorder",
                      {"--events_file", m_dir + "/station/remote_events.jsonl", "--locale", "en"});
        QVERIFY(station.waitForStarted(10000));
        // On a failure, what the programs said last tells why they did not bind.
        QTRY_VERIFY2_WITH_TIMEOUT(output.count(bound) >= 2, output.right(6000).constData(), kWait);
        const QString serverProgram = tundra::test::binDir() + "/TundraRecorderServer";
        const QString clientProgram = tundra::test::binDir() + "/TundraRecorderClient";
        QTRY_COMPARE_WITH_TIMEOUT(childrenRunning(station.processId(), serverProgram).size(), 1, kWait);
        QCOMPARE(childrenRunning(station.processId(), clientProgram).size(), 1);

        // The server records: the newest sequence of every camera stream grows.
        const auto newest = [](const QString &stream) {
            const QList<Sequence> sequences = archiveSequences("Station", stream);
            return sequences.isEmpty() ? Sequence() : sequences.last();
        };
        QHash<QString, Sequence> recording;
        for (const QString &stream : kCameraStreams) {
            const Sequence first = newest(stream);
            QTRY_VERIFY_WITH_TIMEOUT((recording[stream] = newest(stream)).first != first.first ||
                                         recording[stream].frames > first.frames + 25,
                                     kWait);
        }

        // Killed outright mid-recording: what was committed before stays, and the restarted
        // server records again in a new sequence. Each process says so once per binding.
        const int bindings = output.count(bound);
        const qint64 server = childrenRunning(station.processId(), serverProgram).first();
        for (const QString &stream : kCameraStreams)
            recording[stream] = newest(stream);
        QCOMPARE(::kill(pid_t(server), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(output.count(bound) > bindings, kWait);
        const QList<qint64> restarted = childrenRunning(station.processId(), serverProgram);
        QCOMPARE(restarted.size(), 1);
        QVERIFY(restarted.first() != server);
        for (const QString &stream : kCameraStreams) {
            const Sequence before = recording[stream];
            QTRY_VERIFY_WITH_TIMEOUT(newest(stream).first > before.last && newest(stream).frames > 25, kWait);
            // The sequence cut by the kill holds every frame seen before it, and every one of
            // them reads back whole.
            Sequence cut;
            for (const Sequence &sequence : archiveSequences("Station", stream))
                if (sequence.first == before.first)
                    cut = sequence;
            QVERIFY2(cut.frames >= before.frames && cut.last >= before.last, qPrintable(stream));
            // (Frames missing inside a sequence are serverRecordsEveryInput's concern: here the
            // kill must cost nothing that was committed before it.)
            QProcess dump;
            dump.start(tundra::test::binDir() + QStringLiteral("/archivectl"),
                       {"dump", "Station", stream, "--from", QString::number(cut.first), "--to",
                        QString::number(cut.last), "--limit", QString::number(cut.frames + 10)});
            QVERIFY(dump.waitForFinished(kWait));
            const QByteArray frames = dump.readAllStandardOutput();
            QVERIFY2(dump.exitCode() == 0, dump.readAllStandardError().constData());
            QCOMPARE(qint64(frames.count("\nframe ") + (frames.startsWith("frame ") ? 1 : 0)), cut.frames);
        }

        QCOMPARE(::kill(pid_t(station.processId()), SIGINT), 0);
        QVERIFY(station.waitForFinished(kWait));
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.exitCode(), 0);
        QSettings settings;
        settings.sync();
        QVERIFY(settings.contains("Windows/server/width"));
        QVERIFY(settings.contains("Windows/client/width"));
    }

    // The programs themselves load their main QML (testing mode, with the launcher's set-up).
    void programsLoadTheirQml_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("test");
        QTest::addColumn<QString>("locale");
        // Russian texts are longer: the screens must hold them as well.
        for (const char *locale : {"en", "ru"}) {
            QTest::addRow("server %s", locale) << "TundraRecorderServer"
                                               << "tst_serverqml.qml" << QString(locale);
            QTest::addRow("client %s", locale) << "TundraRecorderClient"
                                               << "tst_clientqml.qml" << QString(locale);
        }
    }
    void programsLoadTheirQml()
    {
        QFETCH(QString, program);
        QFETCH(QString, test);
        QFETCH(QString, locale);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(tundra::test::binDir() + "/" + program,
                      {"--testing", buildDir() + "/tests/station/" + test, "--locale", locale});
        QVERIFY(process.waitForFinished(120000));
        // The referee link's dumps hold NUL characters: without them the whole output shows.
        const QByteArray output = process.readAll().replace('\0', ' ');
        QVERIFY2(process.exitCode() == 0 && output.contains("0 failed"), output.constData());
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
