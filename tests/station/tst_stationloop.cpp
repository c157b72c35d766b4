// The station's real programs together, as the run command starts them: the supervisor
// TundraRecorder with its server and client processes, the stand-in referee JudgeDesk, the test
// signal application Lockstep feeding the capture board, and Fakecast sending remote events over
// loopback UDP. What the programs record is read back from the archive and decoded; what the client
// shows is read from its window on the X display.

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <climits>
#include <signal.h>
#include <testenvironment.h>

#include "archive/archiveserver.h"
#include "archive/iarchivereader.h"
#include "archive/iarchivestream.h"
#include "com/com.h"
#include "multimedia/engines/h264decoder.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/kx/kxaddress.h"
#include "multimedia/kx/kxloopback.h"
#include "stationtest.h"
#include "win32/filetime.h"

using namespace stationtest;
using namespace nyx::multimedia;

namespace {
constexpr int kWait = 60000;
// For what follows within a second: a failed QTRY waits three times this long before it reports.
constexpr int kEventWait = 20000;
constexpr qint64 kSecond = 10000000; // FILETIME units
const QStringList kCameraStreams{"Cam1", "Cam2", "Cam3", "Cam4"};

qint64 now()
{
    return qint64(nyx::win32::systemTimeAsFileTime());
}

QString xdotool(const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString windowNamed(const QString &title)
{
    // A program's first window takes a while on a busy machine (Mesa's software rendering).
    return xdotool({"search", "--sync", "--onlyvisible", "--name", title}, 90000).split('\n').value(0);
}

// Pixels of exactly this colour (within the rounding of a 24-bit display) in a picture.
int pixelsOf(const QImage &image, QColor colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            count += qAbs(qRed(row[x]) - colour.red()) <= 2 && qAbs(qGreen(row[x]) - colour.green()) <= 2 &&
                     qAbs(qBlue(row[x]) - colour.blue()) <= 2;
    }
    return count;
}

// The left edge of the running line in a decoded picture, or -1 when the picture is anything else:
// a picture carrying a time strip, or not one bright line of the line's width on the dark ground,
// at the same place in every row sampled.
int runningLineX(const Nv12Frame &f, const RunningLine &line)
{
    if (TimeStrip::read(f))
        return -1;
    int x = -1;
    for (int y : {f.height / 4, f.height / 2, f.height * 3 / 4}) {
        const uchar *row = f.y() + qsizetype(y) * f.width;
        int first = -1, last = -1, dark = 0;
        for (int i = 0; i < f.width; ++i) {
            if (row[i] > 200) {
                last = i;
                first = first < 0 ? i : first;
            }
            dark += qAbs(row[i] - RunningLine::BackgroundLuma) <= 10;
        }
        const int width = last - first + 1;
        if (first < 0 || qAbs(width - line.lineWidth()) > 2 || dark < f.width - 3 * line.lineWidth() ||
            (x >= 0 && qAbs(first - x) > 1))
            return -1;
        x = first;
    }
    return x;
}

// The index of the running line's frame whose line starts at x, or -1 when no frame of a crossing
// puts it there.
int crossingIndex(const RunningLine &line, int x)
{
    const int framesPerCrossing = int(2 * kSecond / line.frameDuration());
    for (int i = 0; i < framesPerCrossing; ++i)
        if (qAbs(line.lineX(i) - x) <= 1)
            return i;
    return -1;
}

// Reads the archive the station records into (the test process opens it as another reader).
class Archive
{
public:
    bool open()
    {
        if (FAILED(m_server.CoCreateInstance(CLSID_RewindServer)))
            return false;
        for (int i = 0; i < 400 && m_server->IsReady() == E_PENDING; ++i)
            QThread::msleep(50);
        return m_server->IsReady() == S_OK;
    }

    // The time of the newest frame of a stream of the storage "Station" (0: none).
    qint64 newest(const QString &name)
    {
        Stream s = stream(name);
        LONGLONG time = 0;
        if (!s.reader || FAILED(s.reader->FindFrame(LLONG_MAX, nyx::archive::FindAtOrBefore, &time, nullptr,
                                                    nullptr, nullptr, 0)))
            return 0;
        s.reader->ReleaseFrame();
        return time;
    }

    // The pictures of count frames from the first key frame at or after from, each with its frame's
    // archive time; fewer when frames are missing or do not decode.
    QVector<Nv12Frame> pictures(const QString &name, qint64 from, int count)
    {
        QVector<Nv12Frame> pictures;
        Stream s = stream(name);
        H264Decoder decoder;
        LONGLONG time = 0;
        if (!s.reader || !decoder.open() ||
            FAILED(s.reader->FindFrame(from, nyx::archive::FindAtOrAfter, &time, nullptr, nullptr, nullptr,
                                       s.keyFrame)))
            return {};
        for (int i = 0; i < count; ++i) {
            if (i > 0 && FAILED(s.reader->FindFrame(time + 1, nyx::archive::FindAtOrAfter, &time, nullptr,
                                                    nullptr, nullptr, 0)))
                break;
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            if (FAILED(s.reader->ReadChannelData(s.video, &bytes, &length)))
                return {};
            const QByteArray unit(reinterpret_cast<const char *>(bytes), int(length));
            s.reader->ReleaseFrame();
            for (const DecodedFrame &d : decoder.decode(unit, time, kSecond / 25, quint64(i)))
                pictures.append(d.frame);
        }
        for (const DecodedFrame &d : decoder.drain())
            pictures.append(d.frame);
        return pictures;
    }

private:
    struct Stream
    {
        CComPtr<IArchiveReader> reader;
        DWORD video = 0;
        DWORD keyFrame = 0;
    };

    Stream stream(const QString &name)
    {
        Stream s;
        GUID id{};
        CComPtr<IArchiveStream> archiveStream;
        CComPtr<IUnknown> unknown;
        if (!find(name, &id) || FAILED(m_server->OpenStream(id, &archiveStream)) ||
            FAILED(m_server->CreateReader(&unknown)) || FAILED(unknown.QueryInterface(&s.reader)) ||
            FAILED(s.reader->Open(id, nyx::archive::ReaderModeShared)))
            return {};
        BYTE flag = 0;
        CComBSTR video(QStringLiteral("Video_H264")), keyFrame(QStringLiteral("KeyFrame"));
        if (FAILED(archiveStream->FindChannel(video, &flag, &s.video)) ||
            FAILED(archiveStream->FindChannel(keyFrame, &flag, &s.keyFrame)))
            return {};
        return s;
    }

    static QString text(const WCHAR *field)
    {
        int n = 0;
        while (n < nyx::archive::kNameUnits && field[n])
            ++n;
        return QString::fromUtf16(field, n);
    }

    bool find(const QString &name, GUID *id)
    {
        DWORD count = 0;
        if (FAILED(m_server->GetStorageCount(&count)) || count == 0)
            return false;
        std::vector<ArchiveStorageRecord> storages(count);
        if (FAILED(m_server->GetStorages(storages.data(), count, &count)))
            return false;
        for (DWORD i = 0; i < count; ++i) {
            DWORD streamCount = 0;
            if (text(storages[i].name) != QLatin1String("Station") ||
                FAILED(m_server->GetStreamCount(storages[i].storageId, &streamCount)) || streamCount == 0)
                continue;
            std::vector<ArchiveStreamHead> streams(streamCount);
            if (FAILED(
                    m_server->GetStreams(storages[i].storageId, streams.data(), streamCount, &streamCount)))
                continue;
            for (DWORD j = 0; j < streamCount; ++j)
                if (text(streams[j].name) == name) {
                    *id = streams[j].streamId;
                    return true;
                }
        }
        return false;
    }

    CComPtr<IRewindServer> m_server;
};

// Ends a program the way Ctrl+C does, killing it when it does not end; the children a supervisor
// leaves behind are killed too, so that a failed case does not hold the next one's single instance.
bool interrupt(QProcess *process, const QStringList &childPrograms = {})
{
    if (process->state() == QProcess::NotRunning)
        return false;
    QHash<qint64, QByteArray> children; // pid, command line
    for (const QString &program : childPrograms)
        for (qint64 pid : childrenRunning(process->processId(), tundra::test::binDir() + "/" + program))
            children[pid] = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
    ::kill(pid_t(process->processId()), SIGINT);
    const bool ended = process->waitForFinished(kWait);
    if (!ended) {
        process->kill();
        process->waitForFinished(10000);
    }
    // Only a child still running the same program: its number may have gone to another process.
    for (auto it = children.cbegin(); it != children.cend(); ++it)
        if (readFile(QStringLiteral("/proc/%1/cmdline").arg(it.key())) == it.value())
            ::kill(pid_t(it.key()), SIGKILL);
    return ended && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

// A program the test started, interrupted when the test leaves it.
struct Program
{
    QProcess process;
    QByteArray output; // everything it printed, also after it ended
    QStringList children;

    ~Program() { interrupt(&process, children); }
    bool start(const QString &name, const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, [this] { output += process.readAll(); });
        process.start(tundra::test::binDir() + "/" + name, arguments);
        return process.waitForStarted(10000);
    }
    bool stop() { return interrupt(&process, children); }
};

// The supervisor, as the run command starts it.
struct Station : Program
{
    Station() { children = QStringList{"TundraRecorderServer", "TundraRecorderClient"}; }
    bool start(const QStringList &arguments)
    {
        return Program::start("TundraRecorder", arguments + QStringList{"--locale", "en"});
    }
    // Both the server and the client have bound the archive.
    bool bound() const { return output.count("JudgeDesk is ACTIVE now") >= 2; }
};
} // namespace

class TestStationLoop : public QObject
{
    Q_OBJECT

    QString m_dir;
    QProcess m_desk;
    Archive m_archive;

    // Whether output n of the board (1-based) carries frames right now.
    static bool outputPlays(int n)
    {
        const auto address = KXAddress::parse(QUrl(QStringLiteral("kx:///KX788 Board 1 Input %1").arg(n)));
        KXLoopbackReader reader(address->outputName());
        return reader.latest(500).has_value();
    }

    // Waits until every camera stream holds frames beyond a time.
    bool recordedPast(qint64 time)
    {
        return QTest::qWaitFor(
            [&] {
                for (const QString &stream : kCameraStreams)
                    if (m_archive.newest(stream) < time)
                        return false;
                return true;
            },
            2 * kWait);
    }

    // What is wrong with two seconds of a camera's recording from the first key frame after from
    // (empty: nothing) when it must be the running line, moving as RunningLineSource draws it.
    QString runningLineRecorded(const QString &stream, qint64 from)
    {
        const RunningLine line(1920, 1080, 25, 1);
        const QVector<Nv12Frame> pictures = m_archive.pictures(stream, from, 50);
        if (pictures.size() != 50)
            return QString("%1: %2 pictures decoded of 50").arg(stream).arg(pictures.size());
        QSet<int> places;
        for (const Nv12Frame &p : pictures) {
            const int x = runningLineX(p, line);
            if (x < 0 || crossingIndex(line, x) < 0)
                return QString("%1 frame at %2: no running line (%3)").arg(stream).arg(p.time).arg(x);
            places.insert(x);
        }
        // The line crosses the picture once in two seconds: it moves from frame to frame.
        if (places.size() < 20)
            return QString("%1: the line stood at %2 places only").arg(stream).arg(places.size());
        return {};
    }

    // What is wrong with two seconds of a camera's recording from the first key frame after from
    // (empty: nothing) when it must be the board's test picture, whose strip holds the time of its
    // capture: the same distance from the archive time in every frame.
    QString testPictureRecorded(const QString &stream, qint64 from)
    {
        const QVector<Nv12Frame> pictures = m_archive.pictures(stream, from, 50);
        if (pictures.size() != 50)
            return QString("%1: %2 pictures decoded of 50").arg(stream).arg(pictures.size());
        std::optional<qint64> offset;
        for (const Nv12Frame &p : pictures) {
            const std::optional<quint64> strip = TimeStrip::read(p);
            if (!strip)
                return QString("%1 frame at %2: no time strip").arg(stream).arg(p.time);
            offset = offset.value_or(p.time - qint64(*strip));
            if (p.time - qint64(*strip) != *offset)
                return QString("%1 frame at %2: strip %3, %4 from the archive time instead of %5")
                    .arg(stream)
                    .arg(p.time)
                    .arg(*strip)
                    .arg(p.time - qint64(*strip))
                    .arg(*offset);
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed (scripts/setup.sh installs it)");
        QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
        QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
        m_dir = tundra::test::freshDir(QStringLiteral("stationloop"));
        qputenv("TUNDRA_ARCHIVE_ROOT", (m_dir + QStringLiteral("/archive")).toLocal8Bit());
        qputenv("TUNDRA_ARCHIVE_STARTUP_MS", "100");
        // A capture board of its own, shared by Lockstep, the server and this test.
        qputenv("NYX_KX_NAMESPACE", "loop" + QByteArray::number(QCoreApplication::applicationPid()));
        const QString data = tundra::test::dataDir() + QStringLiteral("/data/Nyx/TundraRecorder");
        QDir(data).removeRecursively();
        QVERIFY(QDir().mkpath(data));
        QSettings().clear();

        // The station as the run command sets it up: the board's inputs, JudgeDesk's cameras and
        // event types, the referee link in rewind.ini, remote events on the loopback address.
        QJsonArray videos;
        QJsonArray cameras;
        for (int i = 1; i <= 4; ++i) {
            videos.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                      {"source", QStringLiteral("@url kx:///KX788 Board 1 Input %1").arg(i)},
                                      {"rewind", kCameraStreams[i - 1]}});
            cameras.append(
                QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)}, {"stream", kCameraStreams[i - 1]}});
        }
        QVERIFY(writeJson(data + "/available_videos.json",
                          {{"video", videos},
                           {"audio", QJsonArray{QJsonObject{{"name", "Board audio"},
                                                            {"source", "@url kx:///KX788 Board 1 Stereo 1"},
                                                            {"rewind", "Audio1"}}}}}));
        cameras.append(QJsonObject{{"name", "Board audio"}, {"stream", "Audio1"}, {"playAudio", true}});
        const auto type = [](const char *name, const char *text, const char *background) {
            return QJsonObject{{"name", name}, {"text", text}, {"background", background}};
        };
        QVERIFY(
            writeJson(m_dir + "/judgedesk.json",
                      {{"storage", "Station"},
                       {"cameras", cameras},
                       {"eventTypes",
                        QJsonArray{type("Goal", "FFFFFF", "0000FF"), type("Foul", "000000", "00FFFF"),
                                   type("Offside", "000000", "00FF00"), type("Penalty", "FFFFFF", "FF0000")}},
                       {"eventsFile", "events.jsonl"}}));
        const quint16 port = startJudgeDesk(&m_desk, m_dir + "/judgedesk.json", 0);
        QVERIFY(port);
        QFile ini(data + "/rewind.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("ZEMBLA=127.0.0.1:" + QByteArray::number(port) + "\n");
        ini.close();
        QSettings().setValue("Beacon/address", "127.0.0.1");
        QVERIFY(m_archive.open());
    }

    void cleanupTestCase()
    {
        if (m_desk.state() != QProcess::NotRunning) {
            m_desk.kill();
            m_desk.waitForFinished(10000);
        }
        const QString prefix = kxLoopbackSegmentName(QString()).mid(1);
        QDir shm(QStringLiteral("/dev/shm"));
        for (const QString &name : shm.entryList({prefix + QLatin1Char('*')}, QDir::Files))
            shm.remove(name);
    }

    // Lockstep's first row checked plays the running line into board output 1: the server records
    // it from input 1 in place of that input's test picture, while input 2 keeps its own; unchecked,
    // input 1's test picture is recorded again.
    void lockstepThroughTheServer()
    {
        Station station;
        QVERIFY(station.start({"--events_file", m_dir + "/lockstep/remote_events.jsonl"}));
        QTRY_VERIFY_WITH_TIMEOUT(station.bound(), kWait);
        // Before: input 1 records its test picture.
        const qint64 started = now();
        QVERIFY(recordedPast(started + 4 * kSecond));
        QString fault = testPictureRecorded("Cam1", started);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));

        Program lockstep;
        QVERIFY(lockstep.start("Lockstep", {}));
        const QString window = windowNamed(QStringLiteral("Тестовые Видеосигналы"));
        QVERIFY2(!window.isEmpty(),
                 qPrintable("Lockstep's window did not appear; it said: " +
                            QString::fromUtf8(lockstep.output + lockstep.process.readAll())));
        // Down the check-box column from the header until a click plays into an output: the first
        // box hit is the first row's.
        int hitY = -1;
        int playing = 0;
        for (int y = 8; y < 120 && hitY < 0; y += 6) {
            xdotool({"mousemove", "--window", window, "412", QString::number(y), "click", "1"});
            if (QTest::qWaitFor(
                    [&] {
                        for (int n = 1; n <= 4 && !playing; ++n)
                            playing = outputPlays(n) ? n : 0;
                        return playing != 0;
                    },
                    1500))
                hitY = y;
        }
        QVERIFY2(hitY >= 0, "no click reached a check box");
        QCOMPARE(playing, 1);

        const qint64 checked = now();
        QVERIFY(recordedPast(checked + 4 * kSecond));
        fault = runningLineRecorded("Cam1", checked + kSecond);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        fault = testPictureRecorded("Cam2", checked + kSecond);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));

        xdotool({"mousemove", "--window", window, "412", QString::number(hitY), "click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(!outputPlays(1), kWait);
        const qint64 unchecked = now();
        QVERIFY(recordedPast(unchecked + 4 * kSecond));
        fault = testPictureRecorded("Cam1", unchecked + kSecond);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));

        QVERIFY2(lockstep.stop(), lockstep.output.right(2000).constData());
        QVERIFY2(station.stop(), station.output.right(2000).constData());
    }

    // The referee's and the remote events through the real client: it listens for remote events on
    // the ports of its settings and keeps them in the events file the supervisor's command line
    // names; it shows an event typed at JudgeDesk; an event marked with its keys reaches JudgeDesk.
    void eventsThroughTheRealClient()
    {
        const quint16 control = freeUdpPort();
        const quint16 feedback = freeUdpPort();
        {
            QSettings settings;
            settings.setValue("Beacon/portControl", control);
            settings.setValue("Beacon/portFeedback", feedback);
        }
        const QString eventsFile = m_dir + QStringLiteral("/events/remote_events.jsonl");
        Station station;
        QVERIFY(station.start({"--events_file", eventsFile}));
        QTRY_VERIFY_WITH_TIMEOUT(station.bound(), kWait);
        const QString window = windowNamed(QStringLiteral("TundraRecorder Client"));
        QVERIFY2(!window.isEmpty(), "the client's window did not appear");
        // All of it on the virtual screen and nothing over it (there is no window manager: the
        // server's window, shown as well, would stay where it is), so that a picture of the client's
        // place on the screen holds every pixel of it.
        const QString serverWindow = windowNamed(QStringLiteral("TundraRecorder Server"));
        QVERIFY2(!serverWindow.isEmpty(), "the server's window did not appear");
        xdotool({"windowmove", "--sync", serverWindow, "1275", "0"});
        xdotool({"windowmove", "--sync", window, "0", "0"});
        xdotool({"windowsize", "--sync", window, "1270", "900"});
        xdotool({"windowraise", window});
        QScreen *screen = QGuiApplication::primaryScreen();
        const auto shown = [&](const QColor &colour) {
            return pixelsOf(screen->grabWindow(WId(window.toULongLong())).toImage(), colour);
        };

        // JudgeDesk's colours are BGR: "FF0000" is blue, "0000FF" red. Once the client shows the
        // event types (a filter box in each colour), an event adds its list row's square.
        const QColor penalty(0, 0, 255), goal(255, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(shown(penalty) > 0 && shown(goal) > 0, kWait / 2);
        QTest::qWait(1000);
        const int penalties = shown(penalty);
        m_desk.write("Penalty typed at the desk\n");
        QTRY_VERIFY_WITH_TIMEOUT(shown(penalty) >= penalties + 100, kEventWait);
        QVERIFY(readFile(m_dir + "/events.jsonl").contains("typed at the desk"));

        // The operator's keys: M goes to the comment, Return marks an event of the chosen type.
        const int goals = shown(goal);
        xdotool({"windowfocus", "--sync", window});
        xdotool({"key", "--delay", "100", "m"});
        QTest::qWait(500);
        xdotool({"type", "--delay", "50", "marked in the real client"});
        xdotool({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(readFile(m_dir + "/events.jsonl").contains("marked in the real client"),
                                 kEventWait);
        QJsonObject marked;
        for (const QByteArray &line : readFile(m_dir + "/events.jsonl").split('\n'))
            if (line.contains("marked in the real client"))
                marked = QJsonDocument::fromJson(line).object();
        QCOMPARE(marked.value("type").toString(), QStringLiteral("Goal"));
        // and comes back from JudgeDesk into the client's list
        QTRY_VERIFY_WITH_TIMEOUT(shown(goal) >= goals + 100, kEventWait);
        // A picture of the client for the record.
        QVERIFY(screen->grabWindow(WId(window.toULongLong())).save(tundra::test::dataDir() + "/client.png"));

        // Remote events to the ports of the client's settings land in its events file, and the
        // client answers on the feedback port.
        Program fakecast;
        fakecast.process.setWorkingDirectory(tundra::test::binDir());
        QVERIFY(fakecast.start("Fakecast", {"-ar", "127.0.0.1", "-vs", "127.0.0.1", "-pf",
                                            QString::number(feedback), "-pc", QString::number(control)}));
        QTRY_VERIFY_WITH_TIMEOUT(!readFile(eventsFile).trimmed().isEmpty() &&
                                     fakecast.output.contains("Received feedback"),
                                 kEventWait);
        fakecast.process.kill();
        fakecast.process.waitForFinished(10000);
        for (const QByteArray &line : readFile(eventsFile).trimmed().split('\n')) {
            const QJsonObject stored = QJsonDocument::fromJson(line).object();
            QVERIFY2(stored.contains("boardTime") && !stored.value("type").toString().isEmpty(),
                     line.constData());
        }
        QVERIFY2(station.stop(), station.output.right(2000).constData());
    }
};

QTEST_MAIN(TestStationLoop)
#include "tst_stationloop.moc"
