// Replay as the operator works it, on the real client window with keys and mouse, against what the
// server program has just recorded from the capture board: the frame on screen is read back from
// the time strip the board drew into it, so every check is against the picture itself.

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QtTest>
#include <optional>
#include <signal.h>
#include <testenvironment.h>

#include "archive/archiveserver.h"
#include "com/com.h"
#include "multimedia/engines/h264decoder.h"
#include "stationscreen.h"
#include "stationtest.h"
#include "win32/filetime.h"

using namespace stationtest;

namespace {
constexpr int kWait = 60000;
constexpr qint64 kFrame = 400000; // 100 ns
constexpr double kFrameMs = 40;
const QStringList kCameraStreams{"Cam1", "Cam2", "Cam3", "Cam4"};
// Recorded before the replays start: the fastest one (rate 10 for 6 s) needs a minute of it.
constexpr int kRecordedSeconds = 75;

double fileTimeToMs(qint64 ft)
{
    return double(ft - qint64(nyx::win32::kUnixEpochFileTime)) / 10000.0;
}

QString fieldText(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

// The time strip of the stored key frame at `time` of a stream, decoded from the archive itself:
// the board's strip and the recording's times differ by a constant for the whole sequence.
std::optional<quint64> storedStrip(const QString &streamName, qint64 time)
{
    nyx::archive::registerArchiveServer();
    CComPtr<IRewindServer> server;
    if (FAILED(server.CoCreateInstance(CLSID_RewindServer)))
        return std::nullopt;
    while (server->IsReady() == E_PENDING)
        QThread::msleep(20);
    DWORD count = 0;
    server->GetStorageCount(&count);
    std::vector<ArchiveStorageRecord> storages(count);
    if (count == 0 || FAILED(server->GetStorages(storages.data(), count, &count)))
        return std::nullopt;
    // The recorder may have made a storage of the same name beside the one made beforehand: the
    // stream that has the frame.
    CComPtr<IArchiveStream> stream;
    CComPtr<IArchiveReader> reader;
    DWORD channel = 0;
    LONGLONG frameTime = 0;
    for (DWORD i = 0; i < count && !reader; ++i) {
        DWORD streamCount = 0;
        server->GetStreamCount(storages[i].storageId, &streamCount);
        std::vector<ArchiveStreamHead> streams(streamCount);
        if (streamCount == 0 ||
            FAILED(server->GetStreams(storages[i].storageId, streams.data(), streamCount, &streamCount)))
            continue;
        for (DWORD j = 0; j < streamCount && !reader; ++j) {
            if (fieldText(streams[j].name) != streamName)
                continue;
            const GUID id = streams[j].streamId;
            CComPtr<IUnknown> unknown;
            CComBSTR name(QStringLiteral("Video_H264"));
            BYTE flag = 0;
            stream = nullptr;
            if (FAILED(server->OpenStream(id, &stream)) ||
                FAILED(stream->FindChannel(name, &flag, &channel)) ||
                FAILED(server->CreateReader(&unknown)) || FAILED(unknown.QueryInterface(&reader)) ||
                FAILED(reader->Open(id, nyx::archive::ReaderModeShared)) ||
                reader->FindFrame(time, nyx::archive::FindAtOrAfter, &frameTime, nullptr, nullptr, nullptr,
                                  0) != S_OK)
                reader = nullptr;
        }
    }
    if (!reader) {
        return std::nullopt;
    }
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    QByteArray unit;
    if (frameTime == time && SUCCEEDED(reader->ReadChannelData(channel, &bytes, &length)))
        unit = QByteArray(reinterpret_cast<const char *>(bytes), int(length));
    reader->ReleaseFrame();
    nyx::multimedia::H264Decoder decoder;
    if (unit.isEmpty() || !decoder.open()) {
        qWarning("%s: frame at %lld (asked %lld) holds %d bytes", qPrintable(streamName), qint64(frameTime),
                 qint64(time), int(unit.size()));
        return std::nullopt;
    }
    QVector<nyx::multimedia::DecodedFrame> pictures = decoder.decode(unit, time, kFrame, 0);
    pictures += decoder.drain();
    if (pictures.isEmpty())
        qWarning("%s: the frame at %lld does not decode: %s", qPrintable(streamName), qint64(time),
                 qPrintable(decoder.errorString()));
    return pictures.isEmpty() ? std::nullopt : nyx::multimedia::TimeStrip::read(pictures.first().frame);
}
} // namespace

class TestStationReplay : public QObject
{
    Q_OBJECT

    QString m_dir;
    QProcess m_desk;
    QProcess m_server;
    Screen m_client;
    QQuickItem *m_view = nullptr; // camera 1's
    Sequence m_recorded;          // Cam1's sequence of this run
    qint64 m_stripToFileTime = 0; // a frame's recording time less its strip

    QQuickWindow *window() const { return m_client.window(); }
    double property(const char *name) const { return m_client.property(name).toDouble(); }

    // The recording time of the frame camera 1's view shows, in ms since the epoch, read from its
    // pixels once the view has shown no new frame for half a second.
    std::optional<double> settledFrame()
    {
        int last = -1;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kWait) {
            const int now = m_view->property("framesPresented").toInt();
            if (now == last)
                break;
            last = now;
            QTest::qWait(500);
        }
        return shownFrame();
    }
    std::optional<double> shownFrame()
    {
        const std::optional<quint64> strip = shownStripTime(window()->grabWindow(), m_view);
        if (!strip)
            return std::nullopt;
        return fileTimeToMs(qint64(*strip) + m_stripToFileTime);
    }

    // The operator clicks the timeline at a time (ms since the epoch): the replay starts there.
    void clickTimeline(double time)
    {
        auto *timeline = m_client.child<QQuickItem>("timeline");
        QVERIFY(timeline);
        QVariant x;
        QVERIFY(QMetaObject::invokeMethod(timeline, "toX", Q_RETURN_ARG(QVariant, x), Q_ARG(QVariant, time)));
        const QPoint at = timeline->mapToScene(QPointF(x.toDouble(), 10)).toPoint();
        QTest::mouseClick(window(), Qt::LeftButton, {}, at);
        // Within a pixel of the timeline's five minutes.
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(property("replayFrom") - time) < 1000,
                                  qPrintable(QString("clicked at %1 for %2, replays from %3")
                                                 .arg(at.x())
                                                 .arg(time, 0, 'f')
                                                 .arg(property("replayFrom"), 0, 'f')),
                                  kWait);
        QVERIFY(!m_client.property("paused").toBool());
    }

    // The operator's key on the window, not on the control clicked last (a button takes Space).
    void press(Qt::Key key)
    {
        window()->contentItem()->forceActiveFocus();
        QTest::keyClick(window(), key);
    }

    // A replay from a time, as a click on an event starts it.
    void replayAt(double time)
    {
        QMetaObject::invokeMethod(window(), "replayAt", Q_ARG(QVariant, time));
        QCOMPARE(property("replayFrom"), time);
    }

    // Up and Down change the rate in steps of a quarter.
    void setRateByKeys(double rate)
    {
        while (property("rate") < rate - 0.01)
            press(Qt::Key_Up);
        while (property("rate") > rate + 0.01)
            press(Qt::Key_Down);
        QCOMPARE(property("rate"), rate);
    }

    // The operator ticks or unticks a camera in the stream browser.
    void toggleCamera(const QString &name)
    {
        QList<QQuickItem *> items;
        collectItems(window()->contentItem(), &items);
        for (QQuickItem *item : qAsConst(items))
            if (item->property("stream").isValid() && item->property("text").toString() == name) {
                QTest::mouseClick(window(), Qt::LeftButton, {},
                                  item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
                return;
            }
        QFAIL(qPrintable("no check box for " + name));
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
        QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
        m_dir = tundra::test::freshDir(QStringLiteral("stationreplay"));
        qputenv("TUNDRA_ARCHIVE_ROOT", (m_dir + QStringLiteral("/archive")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "100");
        qputenv("NYX_KX_NAMESPACE", "replay" + QByteArray::number(QCoreApplication::applicationPid()));
        const QString configDir = tundra::test::dataDir() + QStringLiteral("/data/Nyx/TundraRecorder");
        QDir(configDir).removeRecursively();
        QVERIFY(QDir().mkpath(configDir));
        QSettings().clear();

        // The board's sound goes into a stream of its own (a stream keeps one kind of media).
        QJsonArray videos, cameras;
        for (int i = 1; i <= 4; ++i) {
            videos.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                      {"source", QStringLiteral("@url kx:///KX788 Board 1 Input %1").arg(i)},
                                      {"rewind", kCameraStreams[i - 1]}});
            cameras.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                       {"stream", kCameraStreams[i - 1]},
                                       {"playAudio", false}});
        }
        cameras.append(QJsonObject{{"name", "Board audio"}, {"stream", "Audio1"}, {"playAudio", true}});
        QVERIFY(writeJson(configDir + "/available_videos.json",
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
        // Room for the whole run without the storage wrapping round.
        QProcess ctl;
        ctl.start(tundra::test::binDir() + "/archivectl",
                  {"ensure", "Station", (kCameraStreams + QStringList{"Audio1"}).join(','), "--size",
                   QString::number(8LL << 30)});
        QVERIFY(ctl.waitForFinished(kWait));
        QVERIFY2(ctl.exitCode() == 0, ctl.readAllStandardError().constData());
        const quint16 port = startJudgeDesk(&m_desk, m_dir + "/judgedesk.json", 0);
        QVERIFY(port);
        QFile ini(configDir + "/rewind.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("ZEMBLA=127.0.0.1:" + QByteArray::number(port) + "\n");
        ini.close();

        // The server program records the board's four 1080p inputs, and goes on recording while
        // the client replays.
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(m_dir + "/server.log");
        m_server.start(tundra::test::binDir() + "/TundraRecorderServer", {"--locale", "en"});
        QVERIFY(m_server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QList<Sequence> sequences = archiveSequences("Station", kCameraStreams[0]);
                m_recorded = sequences.isEmpty() ? Sequence() : sequences.last();
                return m_recorded.last - m_recorded.first > kRecordedSeconds * 10000000LL;
            }(),
            4 * kWait);
        std::optional<quint64> strip;
        QTRY_VERIFY2_WITH_TIMEOUT((strip = storedStrip(kCameraStreams[0], m_recorded.first)).has_value(),
                                  "no time strip in Cam1's first stored frame", kWait);
        m_stripToFileTime = m_recorded.first - qint64(*strip);

        QVERIFY(m_client.load(QStringLiteral("/client/qml/main.qml"),
                              {{"eventsFile", m_dir + QStringLiteral("/client/events.jsonl")}}));
        window()->show();
        window()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window(), kWait));
        QTRY_COMPARE_WITH_TIMEOUT(m_client.property("cameras").toList().size(), 4, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(m_client.evaluate("RewindService.startTime").toDateTime().isValid(), kWait);
        m_client.window()->setProperty("rangeLength", 300000);
        // The timeline shows the last five minutes: the whole recording.
        QList<QQuickItem *> items;
        collectItems(window()->contentItem(), &items);
        for (QQuickItem *item : qAsConst(items))
            if (item->property("frameTime").isValid() && item->isVisible() && !m_view)
                m_view = item;
        QVERIFY(m_view);
    }

    void cleanupTestCase()
    {
        m_client.engine.reset();
        for (QProcess *process : {&m_server, &m_desk}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            ::kill(pid_t(process->processId()), SIGINT);
            if (!process->waitForFinished(20000)) {
                process->kill();
                process->waitForFinished(10000);
            }
        }
        const QString prefix = "nyx-kx-replay" + QString::number(QCoreApplication::applicationPid()) + '-';
        for (const QString &name : QDir(QStringLiteral("/dev/shm")).entryList({prefix + '*'}, QDir::Files))
            QFile::remove(QStringLiteral("/dev/shm/") + name);
    }

    // After 3 s of replay, Space holds the frame on screen and Right shows the very next one, Left
    // the one before; the position clock shows the frame's time, and a mark made while paused
    // carries it.
    void positionIsTheFrameOnScreen()
    {
        setRateByKeys(1);
        clickTimeline(fileTimeToMs(m_recorded.first) + 5000);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(m_client.property("frameShown").toBool(), kWait);
        QTest::qWait(3000);
        press(Qt::Key_Space);
        QVERIFY(m_client.property("paused").toBool());
        const std::optional<double> held = settledFrame();
        QVERIFY(held);
        QVERIFY2(qAbs(property("replayPosition") - *held) < kFrameMs,
                 qPrintable(
                     QString("position %1 ms from the frame shown").arg(property("replayPosition") - *held)));

        // Each key shows the frame next to the one before: one frame on, two, then one back.
        double previous = *held;
        for (const auto &[key, frames] :
             {std::pair{Qt::Key_Right, 1}, {Qt::Key_Right, 2}, {Qt::Key_Left, 1}}) {
            press(key);
            std::optional<double> shown;
            QTRY_VERIFY_WITH_TIMEOUT((shown = shownFrame()) && *shown != previous, kWait);
            shown = settledFrame();
            QVERIFY(shown);
            QVERIFY2(
                qAbs(*shown - (*held + frames * kFrameMs)) < 1,
                qPrintable(QString("%1 frames on, not %2").arg((*shown - *held) / kFrameMs).arg(frames)));
            QTRY_VERIFY(qAbs(property("replayPosition") - *shown) < 1);
            QVERIFY(qAbs(m_client.child("timeline")->property("replayPosition").toDouble() - *shown) < 1);
            previous = *shown;
        }

        // A mark made now carries the time of the frame on screen (one after the held one).
        m_client.child("markComment")->setProperty("text", "marked on the frame");
        auto *button = m_client.child<QQuickItem>("markEventButton");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), kWait);
        QTest::mouseClick(window(), Qt::LeftButton, {},
                          button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint());
        QVariantMap marked;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QVariant &e : m_client.evaluate("RewindService.eventList").toList())
                    if (e.toMap().value("comment").toString() == QLatin1String("marked on the frame"))
                        marked = e.toMap();
                return !marked.isEmpty();
            }(),
            kWait);
        const double start =
            double(m_client.evaluate("RewindService.startTime").toDateTime().toMSecsSinceEpoch());
        const double at = marked.value("time").toDouble() + start;
        QVERIFY2(qAbs(at - (*held + kFrameMs)) < kFrameMs / 2,
                 qPrintable(QString("marked %1 ms from the frame shown").arg(at - *held - kFrameMs)));
        QVERIFY2(m_client.warnings.isEmpty(), qPrintable(m_client.warnings.join('\n')));
    }

    // At a fast rate the pictures of four cameras keep the clock's pace: the frames shown advance
    // at the rate (the slope of their times against the wall clock, over 5 s).
    void picturesKeepTheRate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("2") << 2.0;
        QTest::newRow("4") << 4.0;
        QTest::newRow("10") << 10.0;
    }
    void picturesKeepTheRate()
    {
        QFETCH(double, rate);
        QCOMPARE(m_client.property("cameras").toList().size(), 4);
        if (!m_client.property("paused").toBool() && !qIsNaN(property("replayFrom")))
            press(Qt::Key_Space);
        setRateByKeys(rate);
        replayAt(fileTimeToMs(m_recorded.first) + 3000);
        QTRY_VERIFY_WITH_TIMEOUT(m_client.property("frameShown").toBool(), kWait);
        // Past the start's pre-roll.
        QTest::qWait(1000);
        QVector<double> wall, media;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            const qint64 before = timer.nsecsElapsed();
            const std::optional<double> shown = shownFrame();
            if (shown) {
                wall << double(before + timer.nsecsElapsed()) / 2e6;
                media << *shown;
            }
            QTest::qWait(100);
        }
        // A picture of the window takes a while on a busy machine: a few points give the slope.
        QVERIFY2(wall.size() >= 4, qPrintable(QString("%1 frames read").arg(wall.size())));
        // Least squares: media milliseconds per wall millisecond.
        double mw = 0, mm = 0;
        for (int i = 0; i < wall.size(); ++i) {
            mw += wall[i] / wall.size();
            mm += media[i] / wall.size();
        }
        double num = 0, den = 0;
        for (int i = 0; i < wall.size(); ++i) {
            num += (wall[i] - mw) * (media[i] - mm);
            den += (wall[i] - mw) * (wall[i] - mw);
        }
        const double measured = num / den;
        qInfo("rate %.2f: pictures advanced at %.2f (%.0f ms of recording in %.0f ms, %d frames read)", rate,
              measured, media.last() - media.first(), wall.last() - wall.first(), int(wall.size()));
        QVERIFY2(qAbs(measured - rate) <= 0.15 * rate,
                 qPrintable(QString("rate %1 shows at %2").arg(rate).arg(measured)));
        // And the position clock stays with the pictures (within a key frame's interval).
        const std::optional<double> last = shownFrame();
        QVERIFY(last);
        QVERIFY2(qAbs(property("replayPosition") - *last) <= 1000 + rate * 200,
                 qPrintable(QString("clock %1 ms from the picture").arg(property("replayPosition") - *last)));
        press(Qt::Key_Space);
        setRateByKeys(1);
    }

    // A camera left out or added during a replay: the replay goes on from where it stood, playing
    // or paused, rather than from the range's start.
    void cameraChangesKeepThePosition_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::newRow("playing") << false;
        QTest::newRow("paused") << true;
    }
    void cameraChangesKeepThePosition()
    {
        QFETCH(bool, paused);
        if (!m_client.property("paused").toBool() && !qIsNaN(property("replayFrom")))
            press(Qt::Key_Space);
        setRateByKeys(1);
        replayAt(fileTimeToMs(m_recorded.first) + 4000);
        const double from = property("replayFrom");
        QTRY_VERIFY_WITH_TIMEOUT(m_client.property("frameShown").toBool(), kWait);
        QTest::qWait(4000);
        if (paused)
            press(Qt::Key_Space);
        std::optional<double> before = paused ? settledFrame() : shownFrame();
        QTRY_VERIFY_WITH_TIMEOUT(before || (before = shownFrame()), kWait);
        QVERIFY(before && *before > from + 2000);

        for (const char *camera : {"Cam2", "Cam2"}) {
            const int cameras = m_client.property("cameras").toList().size();
            const int presented = m_view->property("framesPresented").toInt();
            toggleCamera(camera);
            QTRY_VERIFY(m_client.property("cameras").toList().size() != cameras);
            // The views show frames of the new set of cameras.
            QTRY_VERIFY_WITH_TIMEOUT(
                m_view->property("framesPresented").toInt() > presented + (paused ? 0 : 10), kWait);
            QCOMPARE(m_client.property("paused").toBool(), paused);
            std::optional<double> after = paused ? settledFrame() : shownFrame();
            QTRY_VERIFY_WITH_TIMEOUT(after || (after = shownFrame()), kWait);
            if (paused)
                QVERIFY2(qAbs(*after - *before) < 1,
                         qPrintable(QString("held %1 ms from the frame before").arg(*after - *before)));
            else
                QVERIFY2(*after >= *before - kFrameMs,
                         qPrintable(QString("%1 ms before the frame shown before").arg(*before - *after)));
            QVERIFY2(
                qAbs(property("replayPosition") - *after) < (paused ? 1 : 1000),
                qPrintable(QString("clock %1 ms from the picture").arg(property("replayPosition") - *after)));
        }
        QCOMPARE(m_client.property("cameras").toList().size(), 4);
    }
};

QTEST_MAIN(TestStationReplay)
#include "tst_stationreplay.moc"
