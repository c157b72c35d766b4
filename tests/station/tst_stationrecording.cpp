// What the server's screen says about the recording when the archive or the referee application
// fails, read from the tiles of the real screens, with the real plugins, JudgeDesk and an archive
// root on a file system of its own (a small tmpfs, made read-only through a bind mount): a full
// disk, a root that becomes writable, and the referee application stopping and coming back.

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QQuickItem>
#include <QSettings>
#include <QStorageInfo>
#include <QtTest>
#include <testenvironment.h>

#include "stationscreen.h"
#include "stationtest.h"

using namespace stationtest;

namespace {
constexpr int kWait = 90000;
const QStringList kStreams{"Cam1", "Cam2", "Audio1"};
constexpr qint64 kUnixEpochFileTime = 116444736000000000LL;

qint64 fileTimeToMs(qint64 fileTime)
{
    return (fileTime - kUnixEpochFileTime) / 10000;
}

// Runs a command to its end; its error output goes to *error.
bool run(const QString &program, const QStringList &arguments, QString *error = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (error)
        *error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return ok;
}

bool archivectl(const QStringList &arguments)
{
    return run(tundra::test::binDir() + QStringLiteral("/archivectl"), arguments);
}

QList<QQuickItem *> sourceTiles(const Screen &screen)
{
    QList<QQuickItem *> items;
    collectItems(screen.window()->contentItem(), &items);
    QList<QQuickItem *> tiles;
    for (QQuickItem *item : qAsConst(items))
        if (item->property("chainFile").isValid())
            tiles << item;
    return tiles;
}

QString statusText(QQuickItem *tile)
{
    QObject *label = tile->findChild<QObject *>(QStringLiteral("statusText"));
    return label ? label->property("text").toString() : QString();
}

// Every tile in the state, its status text holding the words.
bool allTiles(const QList<QQuickItem *> &tiles, const QString &state, const QString &words)
{
    for (QQuickItem *tile : tiles)
        if (tile->property("recordingState").toString() != state || !statusText(tile).contains(words))
            return false;
    return !tiles.isEmpty();
}

QString describe(const QList<QQuickItem *> &tiles)
{
    QStringList texts;
    for (QQuickItem *tile : tiles)
        texts << tile->property("name").toString() + ": " + statusText(tile);
    return texts.join("; ");
}

qint64 streamFrames(QQuickItem *tile)
{
    QObject *stream = tile->property("stream").value<QObject *>();
    return stream ? stream->property("frameCount").toLongLong() : -1;
}

// The first frame of the newest sequence of the stream, in Unix milliseconds; 0 without one.
qint64 newestSequenceStartMs(const QString &stream)
{
    const QList<Sequence> sequences = archiveSequences("Station", stream);
    return sequences.isEmpty() || sequences.last().frames == 0 ? 0 : fileTimeToMs(sequences.last().first);
}
} // namespace

class TestStationRecording : public QObject
{
    Q_OBJECT

    QString m_dir;
    QString m_root;     // the tmpfs
    QString m_readOnly; // a bind mount of it, made read-only and writable again
    bool m_mounted = false;
    bool m_bound = false;
    QProcess m_desk;
    quint16 m_deskPort = 0;

    bool startDesk(quint16 port)
    {
        // Its log goes to a file beside the archive, never into a pipe nobody empties.
        m_desk.setStandardErrorFile(m_dir + QStringLiteral("/judgedesk.log"), QIODevice::Append);
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
    void unmount()
    {
        // Lazily: the archive of this process may still hold files there a moment longer.
        if (m_bound && run("umount", {"-l", m_readOnly}))
            m_bound = false;
        if (m_mounted && run("umount", {"-l", m_root}))
            m_mounted = false;
    }

    // The server's screen with its source tiles, which need the media types.
    void loadServer(Screen *server, QList<QQuickItem *> *tiles)
    {
        QVERIFY(server->load(QStringLiteral("/server/qml/main.qml")));
        QTRY_COMPARE_WITH_TIMEOUT(server->property("foundStreams").toInt(), 3, kWait);
        *tiles = sourceTiles(*server);
        QCOMPARE(tiles->size(), 3);
        for (QQuickItem *tile : qAsConst(*tiles))
            QVERIFY2(tile->property("chainAvailable").toBool(),
                     qPrintable(tile->property("chainError").toString()));
    }

public:
    ~TestStationRecording() override
    {
        stopDesk();
        unmount();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
        QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
        // The archive's debug listing of every sequence would bury what the test says.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        const QString dir = tundra::test::dataDir() + QStringLiteral("/stationrecording");
        // Mounts a run that was killed left behind.
        run("umount", {"-l", dir + QStringLiteral("/archive-readonly")});
        run("umount", {"-l", dir + QStringLiteral("/archive")});
        m_dir = tundra::test::freshDir(QStringLiteral("stationrecording"));
        m_root = m_dir + QStringLiteral("/archive");
        m_readOnly = m_dir + QStringLiteral("/archive-readonly");
        QVERIFY(QDir().mkpath(m_root) && QDir().mkpath(m_readOnly));
        QString error;
        if (!run("mount", {"-t", "tmpfs", "-o", "size=64m", "tmpfs", m_root}, &error))
            QSKIP(qPrintable(
                "the archive root needs a file system of its own, and mounting one was refused: " + error));
        m_mounted = true;
        qputenv("TUNDRA_ARCHIVE_ROOT", m_root.toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "100");
        // A board of its own: another station run on this machine neither sees nor feeds its outputs.
        qputenv("NYX_KX_NAMESPACE", "recording" + QByteArray::number(QCoreApplication::applicationPid()));
        const QString config = tundra::test::dataDir() + QStringLiteral("/data/Nyx/TundraRecorder");
        QDir(config).removeRecursively();
        QVERIFY(QDir().mkpath(config));

        // Two board inputs and the board's sound.
        QJsonArray videos;
        QJsonArray cameras;
        for (int i = 1; i <= 2; ++i) {
            videos.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                      {"source", QStringLiteral("@url kx:///KX788 Board 1 Input %1").arg(i)},
                                      {"rewind", kStreams[i - 1]}});
            cameras.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                       {"stream", kStreams[i - 1]},
                                       {"playAudio", false}});
        }
        cameras.append(QJsonObject{{"name", "Board audio"}, {"stream", "Audio1"}, {"playAudio", true}});
        QVERIFY(writeJson(config + "/available_videos.json",
                          {{"video", videos},
                           {"audio", QJsonArray{QJsonObject{{"name", "Board audio"},
                                                            {"source", "@url kx:///KX788 Board 1 Stereo 1"},
                                                            {"rewind", "Audio1"}}}}}));
        QVERIFY(
            writeJson(m_dir + "/judgedesk.json",
                      {{"storage", "Station"},
                       {"cameras", cameras},
                       {"eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "0000FF"}}}},
                       {"eventsFile", "events.jsonl"}}));
        QVERIFY(startDesk(0));
        QFile ini(config + "/rewind.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("ZEMBLA=127.0.0.1:" + QByteArray::number(m_deskPort) + "\n");
        ini.close();
        QSettings settings;
        settings.setValue("Beacon/address", "127.0.0.1");
        settings.setValue("Beacon/portControl", freeUdpPort());
        settings.setValue("Beacon/portFeedback", freeUdpPort());
        // JudgeDesk makes the storage and the streams.
        QTRY_VERIFY_WITH_TIMEOUT(archivectl({"info", "Station", "Audio1"}), kWait);
    }

    void cleanupTestCase()
    {
        stopDesk();
        unmount();
    }

    // The archive's disk fills up: every tile says so within moments of the last frame stored,
    // with its cause; a stream deleted elsewhere makes room, and the tiles record again, in new
    // sequences whose frames grow.
    void fullDiskShowsAndRecordingComesBackAfterADelete()
    {
        Screen server;
        QList<QQuickItem *> tiles;
        loadServer(&server, &tiles);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "recording", "recording"), qPrintable(describe(tiles)),
                                  kWait);

        // Another storage takes the rest of the disk while the server records.
        QVERIFY(archivectl({"create-storage", "Filler"}));
        QStringList fillers;
        for (int i = 1; i <= 8 && QStorageInfo(m_root).bytesAvailable() > 1024 * 1024; ++i) {
            const qint64 free = QStorageInfo(m_root).bytesAvailable();
            const QString name = QStringLiteral("Old%1").arg(i);
            if (!archivectl({"create-stream", "Filler", name}))
                break; // the disk is full already
            fillers << name;
            // Two sequences of `seconds` at 25 frames of 2000 bytes: a little more than is free.
            const qint64 seconds = qMax<qint64>(1, free / (50 * 2000) + 1);
            run(tundra::test::binDir() + QStringLiteral("/../tests/stationframes"),
                {"Filler", name, QString::number(seconds), "1"});
        }
        QVERIFY(!fillers.isEmpty());

        // Each tile turns to "disk full"; when, measured from the last frame its stream holds.
        QHash<QQuickItem *, qint64> shownAt;
        QElapsedTimer waited;
        waited.start();
        while (shownAt.size() < tiles.size() && waited.elapsed() < kWait) {
            for (QQuickItem *tile : qAsConst(tiles))
                if (!shownAt.contains(tile) && tile->property("recordingState").toString() == "failed" &&
                    statusText(tile).contains("disk full"))
                    shownAt[tile] = QDateTime::currentMSecsSinceEpoch();
            QTest::qWait(50);
        }
        QVERIFY2(shownAt.size() == tiles.size(), qPrintable(describe(tiles)));
        for (int i = 0; i < tiles.size(); ++i) {
            const QList<Sequence> sequences = archiveSequences("Station", kStreams[i]);
            QVERIFY(!sequences.isEmpty());
            const qint64 lag = shownAt[tiles[i]] - fileTimeToMs(sequences.last().last);
            qInfo("%s: \"disk full\" shown %lld ms after the last frame stored", qPrintable(kStreams[i]),
                  lag);
            // Moments, not a poll's worth: generous for a loaded machine.
            QVERIFY2(lag < 10000, qPrintable(QString::number(lag)));
        }
        QHash<QQuickItem *, qint64> framesWhileFull;
        QHash<QString, int> sequencesWhileFull;
        for (int i = 0; i < tiles.size(); ++i) {
            framesWhileFull[tiles[i]] = streamFrames(tiles[i]);
            sequencesWhileFull[kStreams[i]] = archiveSequences("Station", kStreams[i]).size();
        }

        const qint64 deleted = QDateTime::currentMSecsSinceEpoch();
        for (const QString &name : qAsConst(fillers))
            QVERIFY(archivectl({"delete-stream", "Filler", name}));
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "recording", "recording"), qPrintable(describe(tiles)),
                                  kWait);
        qInfo("recording shown again %lld ms after the delete",
              QDateTime::currentMSecsSinceEpoch() - deleted);
        for (int i = 0; i < tiles.size(); ++i) {
            // Frames grow again. (Whether they go on in a sequence begun while the disk was full, when
            // a checkpoint freed a few pages, or in a new one depends on that moment; the sink's own
            // tests check the new sequence.)
            QTRY_VERIFY_WITH_TIMEOUT(streamFrames(tiles[i]) > framesWhileFull[tiles[i]] + 50, kWait);
            QVERIFY2(archiveSequences("Station", kStreams[i]).size() >= sequencesWhileFull[kStreams[i]],
                     qPrintable(kStreams[i]));
        }
        QVERIFY2(server.warnings.isEmpty(), qPrintable(server.warnings.join('\n')));
    }

    // A server started while the archive root is read-only says so, and records once the root can
    // be written, without a restart.
    void readOnlyRootRecordsOnceWritable()
    {
        // The streams have been recorded into before (their media types are stored), as a
        // station's streams are when their root turns read-only.
        for (const QString &stream : kStreams)
            QVERIFY2(!archiveSequences("Station", stream).isEmpty(), qPrintable(stream));
        QString error;
        if (!run("mount", {"--bind", m_root, m_readOnly}, &error))
            QSKIP(qPrintable("bind mount refused: " + error));
        m_bound = true;
        QVERIFY2(run("mount", {"-o", "remount,bind,ro", m_readOnly}, &error), qPrintable(error));
        qputenv("TUNDRA_ARCHIVE_ROOT", m_readOnly.toLocal8Bit());
        const auto restoreRoot =
            qScopeGuard([this]() { qputenv("TUNDRA_ARCHIVE_ROOT", m_root.toLocal8Bit()); });
        QHash<QString, qint64> before;
        for (const QString &stream : kStreams)
            before[stream] = archiveSequences("Station", stream).size();

        Screen server;
        QList<QQuickItem *> tiles;
        loadServer(&server, &tiles);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "failed", "archive read-only"), qPrintable(describe(tiles)),
                                  kWait);
        // It keeps trying and fails, storing nothing.
        QTest::qWait(5000);
        QVERIFY2(allTiles(tiles, "failed", "archive read-only"), qPrintable(describe(tiles)));
        for (const QString &stream : kStreams)
            QCOMPARE(archiveSequences("Station", stream).size(), before[stream]);

        QVERIFY2(run("mount", {"-o", "remount,bind,rw", m_readOnly}, &error), qPrintable(error));
        const qint64 writable = QDateTime::currentMSecsSinceEpoch();
        // The sinks try again every 2 s; the archive opens its catalog and storage for writing at
        // the first attempt after the remount, in this process.
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "recording", "recording"), qPrintable(describe(tiles)),
                                  20000);
        qInfo("recording shown %lld ms after the root became writable",
              QDateTime::currentMSecsSinceEpoch() - writable);
        for (const QString &stream : kStreams) {
            QCOMPARE(archiveSequences("Station", stream).size(), before[stream] + 1);
            const qint64 start = newestSequenceStartMs(stream) - writable;
            qInfo("%s: first frame stored %lld ms after the root became writable", qPrintable(stream), start);
            QVERIFY2(start < 10000, qPrintable(QString::number(start)));
        }
        QVERIFY2(server.warnings.isEmpty(), qPrintable(server.warnings.join('\n')));
    }

    // JudgeDesk stops: the archive closes as it must, and both screens say that the referee
    // application is not answering and since when; it comes back, and recording resumes by itself.
    void refereeAbsenceShownOnBothScreensAndRecordingResumes()
    {
        Screen server;
        QList<QQuickItem *> tiles;
        loadServer(&server, &tiles);
        if (QTest::currentTestFailed())
            return;
        Screen client;
        QVERIFY(client.load(QStringLiteral("/client/qml/main.qml"),
                            {{"eventsFile", m_dir + "/client/events.jsonl"}}));
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "recording", "recording"), qPrintable(describe(tiles)),
                                  kWait);
        QObject *serverReferee = server.child("refereeState");
        QObject *clientReferee = client.child("refereeState");
        QVERIFY(serverReferee && clientReferee);
        // The client's service has its own link: it hears the referee a moment after it loads.
        QTRY_VERIFY_WITH_TIMEOUT(!serverReferee->property("visible").toBool(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!clientReferee->property("visible").toBool(), kWait);

        const QDateTime stopped = QDateTime::currentDateTime();
        stopDesk();
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "referee", "referee application not answering since"),
                                  qPrintable(describe(tiles)), kWait);
        for (const Screen *screen : {&server, &client}) {
            QObject *label = screen->child("refereeState");
            QTRY_VERIFY_WITH_TIMEOUT(label->property("visible").toBool(), kWait);
            // Since its last answer: a moment before it was stopped.
            const QDateTime since = screen->evaluate("RewindService.refereeSilentSince").toDateTime();
            QVERIFY2(since >= stopped.addSecs(-5) && since <= stopped.addSecs(1),
                     qPrintable(since.toString()));
            QVERIFY2(label->property("text").toString().contains(since.toString("HH:mm:ss")),
                     qPrintable(label->property("text").toString()));
        }

        const qint64 restarted = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(startDesk(m_deskPort));
        QTRY_VERIFY2_WITH_TIMEOUT(allTiles(tiles, "recording", "recording"), qPrintable(describe(tiles)),
                                  kWait);
        qInfo("recording shown again %lld ms after JudgeDesk restarted",
              QDateTime::currentMSecsSinceEpoch() - restarted);
        for (const QString &stream : kStreams)
            qInfo("%s: first frame stored %lld ms after JudgeDesk restarted", qPrintable(stream),
                  newestSequenceStartMs(stream) - restarted);
        QTRY_VERIFY_WITH_TIMEOUT(!serverReferee->property("visible").toBool(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!clientReferee->property("visible").toBool(), kWait);
        QVERIFY2(server.warnings.isEmpty(), qPrintable(server.warnings.join('\n')));
    }
};

QTEST_MAIN(TestStationRecording)
#include "tst_stationrecording.moc"
