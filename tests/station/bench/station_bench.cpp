// The station under its run command's configuration, measured in one run: what recording the
// capture board's four 1080p25 inputs and its stereo input costs the server process, how long a
// click on an event takes to show the replayed frames, and how late a 10 ms timer runs on the GUI
// thread of the server's and the client's screens while they record and replay.
//
// Everything lives in a temporary folder (data, settings, archive) and talks to JudgeDesk on the
// loopback address. Without a display it runs itself again under xvfb-run.

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <signal.h>
#include <stdexcept>
#include <unistd.h>

#include "../stationscreen.h"
#include "../stationtest.h"
#include "archive/archiveserver.h"
#include "com/com.h"
#include "multimedia/engines/h264decoder.h"
#include "multimedia/engines/timestrip.h"
#include "win32/filetime.h"

#include <testenvironment.h>

namespace {
using namespace stationtest;
using nyx::multimedia::TimeStrip::area;
using tundra::test::binDir;

constexpr int kWait = 60000;
constexpr qint64 kFrame = 400000; // one frame at 25 fps, in 100 ns

// The run's settings, from its command line (see usage()).
struct Settings
{
    int inputs = 4;                             // video inputs recorded, four per KX788 board
    int recordingSecs = 0;                      // the recording window; 0: STATION_BENCH_SECONDS or 60
    QString picture = QStringLiteral("camera"); // the board's picture
    bool replaying = false;                     // the client replays four cameras during the recording window
} g_settings;

const char *usage()
{
    return "usage: station_bench [--inputs N] [--minutes M] [--picture camera|test] [--replaying]\n"
           "  --inputs N   record N video inputs (1-32, default 4), four per KX788 board, and board\n"
           "               1's stereo input 1\n"
           "  --minutes M  length of the recording window (default STATION_BENCH_SECONDS or 60 s);\n"
           "               resident memory is reported at 1, 5 and 30 minutes of recording\n"
           "  --picture P  the capture board's picture: camera (default; a camera's detail and motion,\n"
           "               which the targets hold on) or test (the still test picture)\n"
           "  --replaying  the client's screen replays the first four cameras all through the\n"
           "               recording window (each minute's range from 15 s before its start)\n";
}

// Cam1 .. CamN: the video inputs' streams; the first four are the referee's cameras.
QStringList videoStreams()
{
    QStringList names;
    for (int i = 1; i <= g_settings.inputs; ++i)
        names << QStringLiteral("Cam%1").arg(i);
    return names;
}
int boardCount()
{
    return (g_settings.inputs + 3) / 4;
}
// The audio stream: board 1's stereo input 1 (the server records one audio source).
QStringList audioStreams()
{
    return {QStringLiteral("Audio1")};
}
const QString kAudioStream = QStringLiteral("Audio1");

// Seconds of the recording window: --minutes, else STATION_BENCH_SECONDS (default 60).
int recordingSeconds()
{
    if (g_settings.recordingSecs > 0)
        return g_settings.recordingSecs;
    const int s = qEnvironmentVariableIntValue("STATION_BENCH_SECONDS");
    return s > 0 ? s : 60;
}
constexpr int kStallSeconds = 30;
// One click per frame position of a 25-frame GOP (the events lie 51 frames apart).
constexpr int kClicks = 25;
constexpr qint64 kAudioBlock = 100000; // 10 ms, in 100 ns

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The report goes to the standard output the benchmark was started with; what the programs and
// the plugins loaded here log goes to a file of the run, shown when the run fails.
FILE *g_report = stdout;

void say(const char *format, ...) __attribute__((format(printf, 1, 2)));
void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(g_report, format, args);
    va_end(args);
    std::fflush(g_report);
}

// Ends the run: the programs it started and its files go on the way out.
[[noreturn]] void fail(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}

// Set by Ctrl+C (or SIGTERM): the run ends at its next wait, stopping what it started.
volatile sig_atomic_t g_interrupted = 0;

void interrupt(int)
{
    g_interrupted = 1;
}

// Waits until done() or the timeout, false on timeout, running the event loop all the while (not
// in steps with sleeps between, which would make the GUI thread late itself).
template <typename F> bool waitFor(F done, int timeoutMs = kWait)
{
    QElapsedTimer elapsed;
    elapsed.start();
    if (!g_interrupted && !done()) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (g_interrupted || elapsed.elapsed() >= timeoutMs || done())
                loop.quit();
        });
        poll.start();
        loop.exec();
    }
    if (g_interrupted)
        fail(QStringLiteral("interrupted"));
    return done();
}

// Runs the event loop for ms.
void sleepFor(int ms)
{
    waitFor([] { return false; }, ms);
}

double fileTimeToMs(qint64 ft)
{
    return double(ft - qint64(nyx::win32::kUnixEpochFileTime)) / 10000.0;
}
qint64 msToFileTime(double ms)
{
    return qint64(ms * 10000.0) + qint64(nyx::win32::kUnixEpochFileTime);
}

// ---- figures -----------------------------------------------------------------------------------

double percentile(QVector<double> values, double p)
{
    if (values.isEmpty())
        return qQNaN();
    std::sort(values.begin(), values.end());
    const int at = qBound(0, int(std::ceil(p * values.size())) - 1, values.size() - 1);
    return values[at];
}

struct Figure
{
    QString name;
    double value;
    QString unit;
    double target; // NaN: none set
};
QVector<Figure> g_figures;

void report(const QString &name, double value, const QString &unit, double target = qQNaN())
{
    g_figures.append({name, value, unit, target});
    QString line = QStringLiteral("  %1: %2 %3").arg(name, -40).arg(value, 0, 'f', 2).arg(unit);
    if (!qIsNaN(target))
        line += QStringLiteral("  (target %1 %2, ratio %3)")
                    .arg(target, 0, 'f', 2)
                    .arg(unit)
                    .arg(target > 0 ? QString::number(value / target, 'f', 2) : QStringLiteral("-"));
    say("%s\n", qPrintable(line));
}

// The machine's load average over 1, 5 and 15 minutes, to be read beside every figure.
QByteArray loadAverage()
{
    return readFile(QStringLiteral("/proc/loadavg")).split(' ').mid(0, 3).join(' ');
}

// ---- the archive -------------------------------------------------------------------------------

Sequence newestSequence(const QString &stream)
{
    const QList<Sequence> sequences = archiveSequences(QStringLiteral("Station"), stream);
    return sequences.isEmpty() ? Sequence() : sequences.last();
}

// Reads a video stream's stored frames: their times, key-frame marks and, decoded, the time strip
// the capture board drew into them.
class ArchiveProbe
{
public:
    bool open(const QString &streamName)
    {
        nyx::archive::registerArchiveServer();
        if (FAILED(m_server.CoCreateInstance(CLSID_RewindServer)) || !m_server)
            return false;
        HRESULT hr;
        while ((hr = m_server->IsReady()) == E_PENDING)
            QThread::msleep(20);
        if (FAILED(hr))
            return false;
        if (!findInStorages(streamName))
            return false;
        CComPtr<IArchiveStream> stream;
        if (FAILED(m_server->OpenStream(m_id, &stream)))
            return false;
        m_data = channel(stream, QStringLiteral("Video_H264"));
        m_mark = channel(stream, QStringLiteral("KeyFrame"));
        CComPtr<IUnknown> unknown;
        return m_data && SUCCEEDED(m_server->CreateReader(&unknown)) &&
               SUCCEEDED(unknown.QueryInterface(&m_reader)) &&
               SUCCEEDED(m_reader->Open(m_id, nyx::archive::ReaderModeShared));
    }

    // Times of the key frames in [from, to].
    QVector<qint64> keyFrames(qint64 from, qint64 to)
    {
        QVector<qint64> keys;
        LONGLONG t = from;
        while (t <= to) {
            LONGLONG frameTime = 0, number = 0;
            if (m_reader->FindFrameInRange(t, to, 1, &frameTime, &number, 0) != S_OK)
                break;
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            if (m_mark && SUCCEEDED(m_reader->ReadChannelBlob(m_mark, &bytes, &length)) && length == 0)
                keys.append(frameTime);
            m_reader->ReleaseFrame();
            t = frameTime + 1;
        }
        return keys;
    }

    // The strip of the key frame stored at exactly `time`.
    std::optional<quint64> stripAt(qint64 time)
    {
        LONGLONG frameTime = 0;
        if (FAILED(m_reader->FindFrame(time, nyx::archive::FindAtOrAfter, &frameTime, nullptr, nullptr,
                                       nullptr, 0)) ||
            frameTime != time)
            return std::nullopt;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        QByteArray unit;
        if (SUCCEEDED(m_reader->ReadChannelData(m_data, &bytes, &length)))
            unit = QByteArray(reinterpret_cast<const char *>(bytes), int(length));
        m_reader->ReleaseFrame();
        nyx::multimedia::H264Decoder decoder;
        if (unit.isEmpty() || !decoder.open())
            return std::nullopt;
        QVector<nyx::multimedia::DecodedFrame> pictures = decoder.decode(unit, time, kFrame, 0);
        pictures += decoder.drain();
        if (pictures.isEmpty())
            return std::nullopt;
        return nyx::multimedia::TimeStrip::read(pictures.first().frame);
    }

private:
    static QString name(const WCHAR *field)
    {
        int n = 0;
        while (n < nyx::archive::kNameUnits && field[n])
            ++n;
        return QString::fromUtf16(field, n);
    }

    bool findInStorages(const QString &streamName)
    {
        DWORD count = 0;
        if (FAILED(m_server->GetStorageCount(&count)) || count == 0)
            return false;
        std::vector<ArchiveStorageRecord> storages(count);
        DWORD n = 0;
        if (FAILED(m_server->GetStorages(storages.data(), count, &n)))
            return false;
        for (DWORD i = 0; i < n; ++i) {
            if (name(storages[i].name) != QLatin1String("Station"))
                continue;
            DWORD streamCount = 0;
            if (FAILED(m_server->GetStreamCount(storages[i].storageId, &streamCount)) || streamCount == 0)
                continue;
            std::vector<ArchiveStreamHead> streams(streamCount);
            DWORD m = 0;
            if (FAILED(m_server->GetStreams(storages[i].storageId, streams.data(), streamCount, &m)))
                continue;
            for (DWORD j = 0; j < m; ++j)
                if (name(streams[j].name) == streamName) {
                    m_id = streams[j].streamId;
                    return true;
                }
        }
        return false;
    }

    static DWORD channel(IArchiveStream *stream, const QString &channelName)
    {
        CComBSTR text(channelName);
        BYTE flag = 0;
        DWORD id = 0;
        return SUCCEEDED(stream->FindChannel(text, &flag, &id)) ? id : 0;
    }

    CComPtr<IRewindServer> m_server;
    CComPtr<IArchiveReader> m_reader;
    GUID m_id{};
    DWORD m_data = 0;
    DWORD m_mark = 0;
};

// ---- processes ---------------------------------------------------------------------------------

// CPU time and memory of a process, from /proc.
struct ProcessSample
{
    double cpuSeconds = 0; // user + system
    double rssMiB = 0;
    double peakRssMiB = 0; // the high-water mark since the process started
};

std::optional<ProcessSample> sampleProcess(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    // After the command's closing parenthesis: state is field 3, utime 14 and stime 15.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    ProcessSample s;
    s.cpuSeconds = double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    for (const QByteArray &line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmRSS:")
            s.rssMiB = parts[1].toDouble() / 1024;
        else if (parts.size() >= 2 && parts[0] == "VmHWM:")
            s.peakRssMiB = parts[1].toDouble() / 1024;
    }
    return s;
}

// A started program that is ended with the benchmark, however it ends.
class Child
{
public:
    Child()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead, [this] { m_output += m_process.readAll(); });
    }
    ~Child() { stop(); }

    bool start(const QString &program, const QStringList &arguments)
    {
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000);
    }
    // Asks it to quit (SIGINT, as Ctrl+C does) and kills it if it does not.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGINT);
        if (!m_process.waitForFinished(20000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    const QByteArray &output() const { return m_output; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// ---- the screens -------------------------------------------------------------------------------

QList<QQuickItem *> itemsWith(QQuickItem *root, const char *property)
{
    QList<QQuickItem *> all, found;
    collectItems(root, &all);
    for (QQuickItem *item : qAsConst(all))
        if (item->property(property).isValid())
            found << item;
    return found;
}

// How late a 10 ms timer fires on the thread that runs it: the GUI thread here.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_late.append(qMax<double>(0, double(now - m_last) / 1e6 - kIntervalMs));
            m_last = now;
        });
    }
    void run(int seconds)
    {
        m_late.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
        sleepFor(seconds * 1000);
        m_timer.stop();
    }
    double maxMs() const
    {
        return m_late.isEmpty() ? qQNaN() : *std::max_element(m_late.begin(), m_late.end());
    }
    double p99Ms() const { return percentile(m_late, 0.99); }
    int ticks() const { return m_late.size(); }

private:
    static constexpr int kIntervalMs = 10;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QVector<double> m_late;
};

// The frames a video view shows: each one's time on the screen (the swap that put it there) and
// the time strip read back from the window's pixels where the view draws it.
class FrameWatch : public QObject
{
public:
    struct Shown
    {
        qint64 ns = 0; // since the clock's start
        std::optional<quint64> strip;
    };

    FrameWatch(QQuickWindow *window, QQuickItem *view, const QElapsedTimer *clock)
        : m_window(window), m_view(view), m_clock(clock)
    {
        m_presented = presented();
        // The basic render loop renders on this thread: the view's counter and the window's
        // pixels are read between its rendering and its swap.
        connect(window, &QQuickWindow::afterRendering, this, &FrameWatch::capture, Qt::DirectConnection);
        connect(window, &QQuickWindow::frameSwapped, this, &FrameWatch::swapped, Qt::DirectConnection);
    }
    const QVector<Shown> &shown() const { return m_shown; }
    int presented() const { return m_view->property("framesPresented").toInt(); }

private:
    void capture()
    {
        const int now = presented();
        if (now == m_presented)
            return;
        m_presented = now;
        m_pending = Shown{0, readStrip()};
        m_hasPending = true;
    }
    void swapped()
    {
        if (!m_hasPending)
            return;
        m_pending.ns = m_clock->nsecsElapsed();
        m_shown.append(m_pending);
        m_hasPending = false;
    }

    // Reads the strip's band of the frame where the view draws it, scales it back to the
    // frame's size and reads it as luma in the video range the strip is drawn in.
    std::optional<quint64> readStrip() const
    {
        QOpenGLContext *context = QOpenGLContext::currentContext();
        const QSize frame = m_view->property("frameSize").toSize();
        const QRect band = area(frame.width(), frame.height());
        if (!context || band.isEmpty())
            return std::nullopt;
        const QRectF item = m_view->mapRectToScene(QRectF(0, 0, m_view->width(), m_view->height()));
        const QSizeF fitted = QSizeF(frame).scaled(item.size(), Qt::KeepAspectRatio);
        const qreal dpr = m_window->effectiveDevicePixelRatio();
        const qreal scale = fitted.width() / frame.width() * dpr;
        const int x = qRound((item.x() + (item.width() - fitted.width()) / 2) * dpr);
        const int y = qRound((item.y() + (item.height() - fitted.height()) / 2) * dpr);
        const int w = qRound(fitted.width() * dpr);
        const int h = qMax(2, qCeil((band.bottom() + 1) * scale));
        QImage pixels(w, h, QImage::Format_RGBA8888);
        const int windowHeight = qRound(m_window->height() * dpr);
        context->functions()->glReadPixels(x, windowHeight - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                                           pixels.bits());
        const QImage grey =
            pixels.mirrored()
                .scaled(frame.width(), band.bottom() + 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_Grayscale8);
        // Only the band's rows are read: the plane needs no more than them.
        QByteArray luma(frame.width() * (band.bottom() + 1), 0);
        for (int row = 0; row <= band.bottom(); ++row)
            for (int col = 0; col < frame.width(); ++col)
                luma[row * frame.width() + col] = char(16 + grey.constScanLine(row)[col] * 219 / 255);
        return nyx::multimedia::TimeStrip::read(reinterpret_cast<const uchar *>(luma.constData()),
                                                frame.width(), frame.width(), frame.height());
    }

    QQuickWindow *m_window;
    QQuickItem *m_view;
    const QElapsedTimer *m_clock;
    int m_presented = 0;
    Shown m_pending;
    bool m_hasPending = false;
    QVector<Shown> m_shown;
};

quint16 freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

// ---- the run -----------------------------------------------------------------------------------

class StationBench
{
public:
    explicit StationBench(const QString &root) : m_root(root) {}

    void run()
    {
        setUp();
        measureRecording();
        measureReplay();
        measureReplayRates();
        measureServerScreen();
    }

    ~StationBench()
    {
        m_client.engine.reset();
        m_server.engine.reset();
        m_recorder.stop();
        m_desk.stop();
        // The capture board's loopback segments of this run's namespace.
        const QString prefix = QStringLiteral("nyx-kx-") + qEnvironmentVariable("NYX_KX_NAMESPACE") + '-';
        for (const QString &name : QDir(QStringLiteral("/dev/shm")).entryList({prefix + '*'}, QDir::Files))
            QFile::remove(QStringLiteral("/dev/shm/") + name);
    }

private:
    QString configDir() const
    {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Nyx/TundraRecorder");
    }

    // The run command's configuration: the boards' video inputs and board 1's stereo input, each
    // into a stream of its own, and JudgeDesk with a camera on each of the first four video streams
    // and on the audio stream.
    void setUp()
    {
        if (!QDir().mkpath(configDir()))
            fail("cannot make " + configDir());
        QJsonArray videos, cameras, audios;
        const QStringList streams = videoStreams();
        for (int i = 1; i <= streams.size(); ++i) {
            videos.append(QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)},
                                      {"source", QStringLiteral("@url kx:///KX788 Board %1 Input %2")
                                                     .arg((i - 1) / 4 + 1)
                                                     .arg((i - 1) % 4 + 1)},
                                      {"rewind", streams[i - 1]}});
            if (i <= 4)
                cameras.append(
                    QJsonObject{{"name", QStringLiteral("Camera %1").arg(i)}, {"stream", streams[i - 1]}});
        }
        audios.append(QJsonObject{{"name", "Board audio"},
                                  {"source", "@url kx:///KX788 Board 1 Stereo 1"},
                                  {"rewind", kAudioStream}});
        cameras.append(QJsonObject{{"name", "Board audio"}, {"stream", kAudioStream}, {"playAudio", true}});
        QJsonArray types;
        for (const auto &[name, colour] :
             {std::pair{"Goal", "0000FF"}, {"Foul", "00FFFF"}, {"Offside", "00FF00"}})
            types.append(QJsonObject{{"name", name}, {"text", "FFFFFF"}, {"background", colour}});
        if (!writeFile(configDir() + "/available_videos.json",
                       QJsonDocument(QJsonObject{{"video", videos}, {"audio", audios}}).toJson()) ||
            !writeFile(m_root + "/judgedesk.json", QJsonDocument(QJsonObject{{"storage", "Station"},
                                                                             {"cameras", cameras},
                                                                             {"eventTypes", types},
                                                                             {"eventsFile", "events.jsonl"}})
                                                       .toJson()))
            fail("cannot write the configuration");

        // The whole run fits without the storage wrapping round: 8 GB, or 1.5 MB a second an input
        // (the encoder's 8 Mbit/s cap with room) for long or wide runs.
        const qint64 size =
            qMax(8LL << 30, qint64(g_settings.inputs) * (recordingSeconds() + 600) * 1500000LL);
        QProcess ctl;
        ctl.start(binDir() + "/archivectl", {"ensure", "Station", (videoStreams() + audioStreams()).join(','),
                                             "--size", QString::number(size)});
        if (!ctl.waitForFinished(kWait) || ctl.exitCode() != 0)
            fail("archivectl ensure: " + QString::fromUtf8(ctl.readAllStandardError()));

        if (!m_desk.start(binDir() + "/JudgeDesk",
                          {"--config", m_root + "/judgedesk.json", "--listen", "127.0.0.1", "--port", "0"}))
            fail("JudgeDesk did not start");
        QRegularExpressionMatch port;
        waitFor([&] {
            port = QRegularExpression("listening on port (\\d+)").match(QString::fromUtf8(m_desk.output()));
            return port.hasMatch();
        });
        if (!port.hasMatch())
            fail("JudgeDesk did not listen: " + QString::fromUtf8(m_desk.output()));
        if (!writeFile(configDir() + "/rewind.ini", "ZEMBLA=127.0.0.1:" + port.captured(1).toLatin1() + "\n"))
            fail("cannot write rewind.ini");
        // Remote events on the loopback address only, on ports of our own.
        QSettings settings;
        settings.setValue("Beacon/address", "127.0.0.1");
        settings.setValue("Beacon/portControl", freeUdpPort());
        settings.setValue("Beacon/portFeedback", freeUdpPort());
        settings.sync();
        say("JudgeDesk on 127.0.0.1:%s; data in %s\n", qPrintable(port.captured(1)), qPrintable(m_root));
    }

    // The server program records: its CPU and memory over a steady window (memory also at 1, 5
    // and 30 minutes of recording), and the video frames and audio blocks stored and lost.
    void measureRecording()
    {
        const qint64 started = msToFileTime(double(QDateTime::currentMSecsSinceEpoch()));
        if (!m_recorder.start(binDir() + "/TundraRecorderServer", {"--locale", "en"}))
            fail("TundraRecorderServer did not start");
        QElapsedTimer sinceStart;
        sinceStart.start();
        if (!waitFor([&] { return m_recorder.output().contains("JudgeDesk is ACTIVE now"); }))
            fail("the server did not bind the archive:\n" + QString::fromUtf8(m_recorder.output()));
        const double boundAfter = sinceStart.elapsed() / 1000.0;
        const QStringList videos = videoStreams(), audios = audioStreams();
        for (const QString &stream : videos + audios)
            if (!waitFor([&] {
                    const Sequence s = newestSequence(stream);
                    return s.first > started && s.frames > 0;
                }))
                fail("the server does not record " + stream + ":\n" + QString::fromUtf8(m_recorder.output()));
        QElapsedTimer recording; // since every input records
        recording.start();
        const double recordingAfter = sinceStart.elapsed() / 1000.0;
        say("\nRecording %d video inputs and %d stereo inputs (TundraRecorderServer, pid %lld): bound after "
            "%.1f s, all inputs recording after %.1f s; settling 10 s, then a %d s window\n",
            int(videos.size()), int(audios.size()), m_recorder.pid(), boundAfter, recordingAfter,
            recordingSeconds());
        sleepFor(10000);

        int presentedBefore = 0, droppedBefore = 0;
        if (g_settings.replaying) {
            QQuickItem *view = clientView();
            replayRecent();
            sleepFor(3000);
            presentedBefore = view->property("framesPresented").toInt();
            droppedBefore = view->property("framesDropped").toInt();
        }
        QHash<QString, Sequence> before;
        for (const QString &stream : videos + audios)
            before[stream] = newestSequence(stream);
        const std::optional<ProcessSample> first = sampleProcess(m_recorder.pid());
        QElapsedTimer window;
        window.start();
        QVector<double> rss;
        // Resident memory at these minutes of recording, and a line a minute in long runs.
        const QVector<int> marks{1, 5, 30};
        QMap<int, double> rssAt;
        const bool longRun = recordingSeconds() >= 300;
        std::optional<ProcessSample> minuteBefore = first;
        qint64 nextMinute = 60000, nextReplay = 30000;
        while (window.elapsed() < recordingSeconds() * 1000) {
            sleepFor(1000);
            if (g_settings.replaying && window.elapsed() >= nextReplay) {
                replayRecent();
                nextReplay += 30000;
            }
            const auto s = sampleProcess(m_recorder.pid());
            if (!s)
                continue;
            rss << s->rssMiB;
            for (int minute : marks)
                if (!rssAt.contains(minute) && recording.elapsed() >= minute * 60000LL)
                    rssAt[minute] = s->rssMiB;
            if (longRun && window.elapsed() >= nextMinute) {
                say("  minute %lld of recording: %.0f MiB resident, %.2f cores over the last minute "
                    "(load average %s)\n",
                    recording.elapsed() / 60000, s->rssMiB,
                    minuteBefore ? (s->cpuSeconds - minuteBefore->cpuSeconds) / 60.0 : qQNaN(),
                    loadAverage().constData());
                minuteBefore = s;
                nextMinute += 60000;
            }
        }
        const std::optional<ProcessSample> last = sampleProcess(m_recorder.pid());
        const double seconds = window.elapsed() / 1000.0;
        if (!first || !last || !m_recorder.running())
            fail("the server ended during the window:\n" + QString::fromUtf8(m_recorder.output()));
        const QByteArray load = loadAverage();

        // Per stream: the frames (10 ms blocks for audio) added to its sequence against the times its
        // last frame moved on by (a time missing is a lost frame or block).
        const auto count = [&](const QString &stream, qint64 unit, const char *what) {
            const Sequence after = newestSequence(stream);
            const Sequence was = before[stream];
            const qint64 stored = after.frames - was.frames;
            const qint64 expected = (after.last - was.last) / unit;
            const qint64 missing = after.first == was.first ? expected - stored : -1;
            say("  %s: %lld %s stored in the window for the %lld it spanned, %s\n", qPrintable(stream),
                stored, what, expected,
                missing < 0 ? "a new sequence began (the recording broke off)"
                            : qPrintable(QStringLiteral("%1 lost").arg(missing)));
            return missing < 0 ? expected : missing;
        };
        qint64 lost = 0, blocksLost = 0;
        for (const QString &stream : videos)
            lost += count(stream, kFrame, "frames");
        for (const QString &stream : audios)
            blocksLost += count(stream, kAudioBlock, "10 ms blocks");
        say("  (load average at the window's end: %s)\n", load.constData());
        if (g_settings.replaying)
            say("  the client replayed 4 cameras all the while: camera 1 showed %d frames, dropped %d\n",
                m_view->property("framesPresented").toInt() - presentedBefore,
                m_view->property("framesDropped").toInt() - droppedBefore);
        report(QStringLiteral("recording CPU, %1 inputs (cores)").arg(videos.size()),
               (last->cpuSeconds - first->cpuSeconds) / seconds, "cores", videos.size() == 4 ? 2.0 : qQNaN());
        report("recording resident memory, steady", percentile(rss, 0.5), "MiB");
        report("recording resident memory, peak", last->peakRssMiB, "MiB");
        for (int minute : marks)
            if (rssAt.contains(minute))
                report(QStringLiteral("resident memory at %1 min of recording").arg(minute), rssAt[minute],
                       "MiB");
        if (rssAt.contains(5) && rssAt.contains(30))
            report("resident memory, 30th against 5th minute", rssAt[30] / rssAt[5], "x", 1.10);
        report(QStringLiteral("recording frames lost (%1 inputs)").arg(videos.size()), double(lost), "frames",
               0);
        report(QStringLiteral("recording audio blocks lost (%1 inputs)").arg(audios.size()),
               double(blocksLost), "blocks", 0);
    }

    // The client's screen, loaded once and shown: camera 1's view.
    QQuickItem *clientView()
    {
        if (m_view)
            return m_view;
        if (!m_client.load("/client/qml/main.qml", {{"eventsFile", m_root + "/client-events.jsonl"}}))
            fail("the client's screen did not load");
        QQuickWindow *window = m_client.window();
        window->show();
        if (!QTest::qWaitForWindowExposed(window, kWait))
            fail("the client's window is not shown");
        if (!waitFor([&] {
                return m_client.property("cameras").toList().size() == 4 &&
                       m_client.evaluate("RewindService.startTime").toDateTime().isValid() &&
                       m_client.evaluate("RewindService.eventTypes.length").toInt() > 0;
            }))
            fail("the client found no cameras or referee");
        QQuickItem *view = nullptr;
        for (QQuickItem *item : itemsWith(window->contentItem(), "framesPresented"))
            if (item->isVisible() && !view)
                view = item; // camera 1
        if (!view)
            fail("the client shows no video view");
        if (window->rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL)
            fail("the view's pixels are read back through OpenGL: run on a display with OpenGL");

        m_view = view;
        return view;
    }

    // Replays the four cameras from 15 s ago, a minute's range, as an operator does while the
    // station records.
    void replayRecent()
    {
        m_client.window()->setProperty("rangeLength", 60000);
        QMetaObject::invokeMethod(m_client.window(), "replayAt",
                                  Q_ARG(QVariant, double(QDateTime::currentMSecsSinceEpoch() - 15000)));
    }

    // The client's screen, with the server program still recording: clicks on events in the
    // referee's list, then steady replay for the GUI thread's stalls.
    void measureReplay()
    {
        QQuickItem *view = clientView();
        QQuickWindow *window = m_client.window();

        // The events: one every 2040 ms of camera 1's recording, so that the replayed position
        // (the event less the client's pre-roll) falls one frame further into its GOP each time,
        // in the middle of a frame.
        // (A short recording window leaves the sequence too short for them at first.)
        const double span = 5000 + kClicks * 2040 + m_client.property("preRoll").toDouble() + 1000;
        Sequence sequence;
        waitFor(
            [&] {
                sequence = newestSequence(videoStreams().first());
                return fileTimeToMs(sequence.last) - fileTimeToMs(sequence.first) > span;
            },
            120000);
        ArchiveProbe probe;
        if (!probe.open(videoStreams().first()))
            fail("cannot read Cam1 from the archive");
        const std::optional<quint64> firstStrip = probe.stripAt(sequence.first);
        if (!firstStrip)
            fail("no time strip in Cam1's first stored frame");
        // A stored frame's time less the strip drawn into it: the same for the whole sequence.
        const qint64 stripToFileTime = sequence.first - qint64(*firstStrip);
        const double preRoll = m_client.property("preRoll").toDouble();
        const double origin =
            double(m_client.evaluate("RewindService.startTime").toDateTime().toMSecsSinceEpoch());
        const double firstMs = std::floor(fileTimeToMs(sequence.first)) + 1; // within the first frame
        QVector<double> targets;                                             // ms since the epoch
        for (int i = 0; i < kClicks; ++i) {
            const double target = firstMs + 5000 + i * 2040 + 20;
            if (msToFileTime(target + preRoll) >= sequence.last)
                fail("Cam1's recording is too short for the events");
            targets << target;
            m_client.evaluate(
                QStringLiteral("RewindService.setEvent({type: \"Goal\", comment: \"bench %1\", time: %2})")
                    .arg(i)
                    .arg(qint64(target + preRoll - origin)));
        }
        auto *list = m_client.child<QQuickItem>("refereeEvents");
        if (!list || !waitFor([&] { return list->property("count").toInt() >= kClicks; }))
            fail("the events did not come back from JudgeDesk");
        const QVector<qint64> keys = probe.keyFrames(sequence.first, msToFileTime(targets.last() + 1000));

        say("\nReplay latency: %d clicks on the referee's events, camera 1's view (4 cameras replayed)\n",
            kClicks);
        say("  %-5s %-13s %-15s %-13s %-14s\n", "click", "into GOP", "first frame", "shown frame",
            "target frame");
        // STATION_BENCH_VERBOSE: every frame shown after each click (time, frames from the target).
        const bool verbose = qEnvironmentVariableIsSet("STATION_BENCH_VERBOSE");
        QVector<double> toFirst, toTarget;
        int exact = 0;
        for (int i = 0; i < kClicks; ++i) {
            pauseAndSettle(view);
            QQuickItem *row = eventRow(list, targets[i] + preRoll);
            if (!row)
                fail(QStringLiteral("event %1 is not in the list").arg(i));
            const qint64 targetTime = msToFileTime(targets[i]);
            // The frame at the target: the last stored frame time at or before it.
            const qint64 targetFrame = sequence.first + (targetTime - sequence.first) / kFrame * kFrame;
            qint64 key = sequence.first;
            for (qint64 k : keys)
                if (k <= targetFrame)
                    key = k;
            const int droppedBefore = view->property("framesDropped").toInt();
            QElapsedTimer clock;
            FrameWatch watch(window, view, &clock);
            clock.start();
            QTest::mouseClick(window, Qt::LeftButton, {},
                              row->mapToScene(QPointF(row->width() / 2, row->height() / 2)).toPoint());
            const auto atTarget = [&](const FrameWatch::Shown &s) {
                return s.strip && qint64(*s.strip) + stripToFileTime >= targetFrame - kFrame / 2;
            };
            waitFor([&] { return std::any_of(watch.shown().begin(), watch.shown().end(), atTarget); }, 10000);
            const QVector<FrameWatch::Shown> &shown = watch.shown();
            if (qAbs(m_client.property("replayFrom").toDouble() - targets[i]) > 1)
                fail(QStringLiteral("click %1 replays from %2, not %3")
                         .arg(i)
                         .arg(m_client.property("replayFrom").toDouble(), 0, 'f')
                         .arg(targets[i], 0, 'f'));
            QString firstText = "none", shownText = "-", targetText = "none";
            if (!shown.isEmpty()) {
                toFirst << shown.first().ns / 1e6;
                firstText = QStringLiteral("%1 ms").arg(shown.first().ns / 1e6, 0, 'f', 1);
                if (shown.first().strip)
                    shownText =
                        QStringLiteral("%1 frames")
                            .arg(double(qint64(*shown.first().strip) + stripToFileTime - targetFrame) /
                                     kFrame,
                                 0, 'f', 0);
            }
            const auto hit = std::find_if(shown.begin(), shown.end(), atTarget);
            if (hit != shown.end()) {
                toTarget << hit->ns / 1e6;
                const qint64 off = qint64(*hit->strip) + stripToFileTime - targetFrame;
                exact += qAbs(off) < kFrame / 2;
                targetText =
                    QStringLiteral("%1 ms%2")
                        .arg(hit->ns / 1e6, 0, 'f', 1)
                        .arg(qAbs(off) < kFrame / 2 ? QString()
                                                    : QStringLiteral(" (%1 frames late)").arg(off / kFrame));
            }
            if (verbose) {
                QStringList trace;
                for (const FrameWatch::Shown &s : shown)
                    trace << QStringLiteral("%1ms:%2")
                                 .arg(s.ns / 1e6, 0, 'f', 0)
                                 .arg(s.strip ? QString::number(
                                                    double(qint64(*s.strip) + stripToFileTime - targetFrame) /
                                                        kFrame,
                                                    'f', 1)
                                              : QStringLiteral("?"));
                say("        shown: %s; dropped %d\n", qPrintable(trace.join(' ')),
                    view->property("framesDropped").toInt() - droppedBefore);
            }
            say("  %-5d %-13s %-15s %-13s %-14s\n", i + 1,
                qPrintable(QStringLiteral("%1 frames").arg((targetFrame - key) / kFrame)),
                qPrintable(firstText), qPrintable(shownText), qPrintable(targetText));
        }
        say("  (\"shown frame\": the first frame shown, in frames from the target; \"target frame\": the "
            "first frame shown at the target or past it; %d of %d exactly at it)\n",
            exact, int(toTarget.size()));
        report("click to first frame shown, median", percentile(toFirst, 0.5), "ms", 300);
        report("click to first frame shown, max", percentile(toFirst, 1.0), "ms");
        report("click to frame at the target, median", percentile(toTarget, 0.5), "ms", 300);
        report("click to frame at the target, max", percentile(toTarget, 1.0), "ms");
        report("clicks that never showed the target", double(kClicks - toTarget.size()), "clicks", 0);

        // Steady replay of all four cameras (a minute's range) while the server records.
        pauseAndSettle(view);
        m_client.window()->setProperty("rangeLength", 60000);
        QMetaObject::invokeMethod(window, "replayAt", Q_ARG(QVariant, firstMs + 5000));
        if (!waitFor([&] {
                return view->property("framesPresented").toInt() > 0 && !m_client.property("paused").toBool();
            }))
            fail("the replay does not start");
        sleepFor(3000);
        const int presentedBefore = view->property("framesPresented").toInt();
        const int droppedBefore = view->property("framesDropped").toInt();
        StallMeter meter;
        meter.run(kStallSeconds);
        say("\nClient screen's GUI thread, %d s replaying 4 cameras (camera 1 showed %d frames, dropped %d) "
            "while the server program records; %d ticks\n",
            kStallSeconds, view->property("framesPresented").toInt() - presentedBefore,
            view->property("framesDropped").toInt() - droppedBefore, meter.ticks());
        report("client GUI thread stall, max", meter.maxMs(), "ms", 100);
        report("client GUI thread stall, 99th percentile", meter.p99Ms(), "ms", 100);
        m_client.engine.reset();
        m_view = nullptr;
    }

    // The pictures against the clock at fast rates, with four cameras replayed and with one: how
    // fast the times of the frames camera 1's view shows advance against the wall clock (the slope
    // of their time strips over 5 s), which a rate of 10 must keep as well as one of 2.
    void measureReplayRates()
    {
        if (!m_client.load("/client/qml/main.qml", {{"eventsFile", m_root + "/client-events.jsonl"}}))
            fail("the client's screen did not load");
        QQuickWindow *window = m_client.window();
        window->show();
        if (!QTest::qWaitForWindowExposed(window, kWait) ||
            !waitFor([&] { return m_client.property("cameras").toList().size() == 4; }))
            fail("the client found no cameras");
        QQuickItem *view = nullptr;
        for (QQuickItem *item : itemsWith(window->contentItem(), "framesPresented"))
            if (item->isVisible() && !view)
                view = item;
        const Sequence sequence = newestSequence(videoStreams().first());
        const double from = fileTimeToMs(sequence.first) + 2000;
        if (!view || fileTimeToMs(sequence.last) - from < 70000)
            fail("no view, or Cam1's recording is too short for the rates");
        window->setProperty("rangeLength", 300000);
        say("\nReplay rates: camera 1's pictures against the wall clock over 5 s\n");
        for (const int cameras : {4, 1}) {
            if (cameras == 1)
                for (const QVariant &camera : m_client.property("cameras").toList().mid(1))
                    QMetaObject::invokeMethod(window, "toggleCamera", Q_ARG(QVariant, camera),
                                              Q_ARG(QVariant, false));
            for (const double rate : {2.0, 4.0, 10.0}) {
                QMetaObject::invokeMethod(window, "setRate", Q_ARG(QVariant, rate));
                QMetaObject::invokeMethod(window, "replayAt", Q_ARG(QVariant, from));
                if (!waitFor([&] { return m_client.property("frameShown").toBool(); }))
                    fail("the replay shows nothing");
                sleepFor(1000); // past the start
                QElapsedTimer clock;
                FrameWatch watch(window, view, &clock);
                clock.start();
                sleepFor(5000);
                QVector<double> wall, media;
                for (const FrameWatch::Shown &s : watch.shown())
                    if (s.strip) {
                        wall << s.ns / 1e6;
                        media << double(*s.strip) / 1e4;
                    }
                double slope = qQNaN();
                if (wall.size() >= 3) {
                    double mw = 0, mm = 0, num = 0, den = 0;
                    for (int i = 0; i < wall.size(); ++i) {
                        mw += wall[i] / wall.size();
                        mm += media[i] / wall.size();
                    }
                    for (int i = 0; i < wall.size(); ++i) {
                        num += (wall[i] - mw) * (media[i] - mm);
                        den += (wall[i] - mw) * (wall[i] - mw);
                    }
                    slope = num / den;
                }
                say("  rate %4.1f, %d camera%s: %d frames shown, %.1f s of recording in 5 s\n", rate, cameras,
                    cameras > 1 ? "s" : "", int(wall.size()),
                    wall.size() >= 2 ? (media.last() - media.first()) / 1000 : 0.0);
                report(QStringLiteral("effective rate at %1 (%2 camera%3)")
                           .arg(rate)
                           .arg(cameras)
                           .arg(cameras > 1 ? "s" : ""),
                       slope, "x", rate);
            }
        }
        QMetaObject::invokeMethod(window, "togglePause");
        m_client.engine.reset();
    }

    // The server's screen in this process (the server program stopped first): it records the
    // same inputs while a timer measures its GUI thread.
    void measureServerScreen()
    {
        m_recorder.stop();
        if (!m_server.load("/server/qml/main.qml"))
            fail("the server's screen did not load");
        m_server.window()->show();
        const int streams = int(videoStreams().size() + audioStreams().size());
        if (!waitFor([&] { return m_server.property("foundStreams").toInt() == streams; }))
            fail("the server's screen found no streams");
        QList<QQuickItem *> tiles = itemsWith(m_server.window()->contentItem(), "chainFile");
        if (tiles.size() != streams)
            fail(QStringLiteral("the server's screen shows %1 sources").arg(tiles.size()));
        for (QQuickItem *tile : qAsConst(tiles))
            if (!waitFor([&] { return tile->property("status").toInt() == 3; }))
                fail("a source does not record: " + tile->property("chainError").toString());
        sleepFor(10000);
        const Sequence before = newestSequence(videoStreams().first());
        StallMeter meter;
        meter.run(kStallSeconds);
        const Sequence after = newestSequence(videoStreams().first());
        say("\nServer screen's GUI thread, %d s recording %d inputs and audio (Cam1 stored %lld frames); "
            "%d ticks\n",
            kStallSeconds, int(videoStreams().size()), after.frames - before.frames, meter.ticks());
        report("server GUI thread stall, max", meter.maxMs(), "ms", 100);
        report("server GUI thread stall, 99th percentile", meter.p99Ms(), "ms", 100);
        m_server.engine.reset();
    }

    // Holds the replay (Space, as the operator pauses) and waits until the view shows no new frame.
    // STATION_BENCH_CLICK says how the replay stands when the operator clicks: "paused" (the
    // default), "ended" (the previous replay has played its range out) or "playing".
    void pauseAndSettle(QQuickItem *view)
    {
        const QString mode = qEnvironmentVariable("STATION_BENCH_CLICK", QStringLiteral("paused"));
        if (mode == QLatin1String("playing"))
            return;
        QQuickWindow *window = m_client.window();
        if (mode != QLatin1String("ended") && !qIsNaN(m_client.property("replayFrom").toDouble()) &&
            !m_client.property("paused").toBool())
            QMetaObject::invokeMethod(window, "togglePause");
        int last = -1;
        for (int i = 0; i < 100; ++i) {
            const int now = view->property("framesPresented").toInt();
            if (now == last)
                return;
            last = now;
            sleepFor(300);
        }
    }

    // The row of the referee's list for the event at `time`, scrolled into view.
    QQuickItem *eventRow(QQuickItem *list, double time)
    {
        const int count = list->property("count").toInt();
        for (int index = 0; index < count; ++index) {
            QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, index),
                                      Q_ARG(int, 4 /* Contain */));
            sleepFor(0);
            for (QQuickItem *row : itemsWith(list, "time"))
                if (row->isVisible() && qAbs(row->property("time").toDouble() - time) < 1) {
                    const QRectF shown = row->mapRectToItem(list, QRectF(0, 0, row->width(), row->height()));
                    if (shown.top() >= 0 && shown.bottom() <= list->height())
                        return row;
                }
        }
        return nullptr;
    }

    QString m_root;
    Child m_desk;
    Child m_recorder;
    Screen m_client;
    Screen m_server;
    QQuickItem *m_view = nullptr; // camera 1's view on the client's screen
};
} // namespace

int main(int argc, char *argv[])
{
    // Without a display: again, on a virtual one of the run command's size.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (qEnvironmentVariableIsSet("STATION_BENCH_XVFB")) {
            std::fprintf(stderr, "station_bench: no display\n");
            return 1;
        }
        qputenv("STATION_BENCH_XVFB", "1");
        std::vector<char *> args{const_cast<char *>("xvfb-run"), const_cast<char *>("-a"),
                                 const_cast<char *>("-s"),
                                 const_cast<char *>("-screen 0 1920x1080x24 -nolisten tcp")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        std::perror("station_bench: xvfb-run");
        return 1;
    }

    // Every file of the run in one temporary folder, the board's loopback in a namespace of its own.
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/station-bench-XXXXXX"));
    if (!root.isValid())
        return 1;
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name,
                (root.path() + '/' + QString::fromLatin1(name).section('_', 1, 1).toLower()).toLocal8Bit());
    qputenv("TUNDRA_ARCHIVE_ROOT", (root.path() + QStringLiteral("/archive")).toLocal8Bit());
    qputenv("NYX_KX_NAMESPACE", QByteArray("stationbench") + QByteArray::number(getpid()));
    // The programs' render loop (their launcher's default).
    if (qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");

    // The report on the standard output as started; all other output into the run's log.
    const QString log = root.path() + QStringLiteral("/output.log");
    const int logFd = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int reportFd = ::dup(STDOUT_FILENO);
    if (logFd < 0 || reportFd < 0 || !(g_report = ::fdopen(reportFd, "w")))
        return 1;
    ::dup2(logFd, STDOUT_FILENO);
    ::dup2(logFd, STDERR_FILENO);
    ::close(logFd);

    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        bool ok = i + 1 < arguments.size();
        const int value = ok ? arguments[i + 1].toInt(&ok) : 0;
        if (arguments[i] == QLatin1String("--replaying")) {
            g_settings.replaying = true;
            continue;
        }
        if (arguments[i] == QLatin1String("--inputs") && ok && value >= 1 && value <= 32)
            g_settings.inputs = value;
        else if (arguments[i] == QLatin1String("--minutes") && ok && value >= 1)
            g_settings.recordingSecs = value * 60;
        else if (arguments[i] == QLatin1String("--picture") && i + 1 < arguments.size() &&
                 (arguments[i + 1] == QLatin1String("camera") || arguments[i + 1] == QLatin1String("test")))
            g_settings.picture = arguments[i + 1];
        else {
            say("%s", usage());
            return 2;
        }
        ++i;
    }
    // The boards the inputs need (the server started here inherits the setting).
    qputenv("NYX_KX_VIDEO_BOARDS", QByteArray::number(boardCount()));
    qputenv("NYX_KX_PICTURE", g_settings.picture.toLatin1());
    ::signal(SIGINT, interrupt);
    ::signal(SIGTERM, interrupt);
    QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
    QCoreApplication::setApplicationName(QStringLiteral("TundraRecorder"));
    say("station_bench: %d cores, load average %s; %d inputs, %s picture, recording window %d s\n",
        QThread::idealThreadCount(), loadAverage().constData(), g_settings.inputs,
        qPrintable(g_settings.picture), recordingSeconds());
    try {
        StationBench bench(root.path());
        bench.run();
    } catch (const std::exception &e) {
        // The end of the log says what the programs and the plugins said last.
        std::fflush(stdout);
        std::fflush(stderr);
        const QList<QByteArray> lines = readFile(log).split('\n');
        say("\nstation_bench failed: %s\nThe log's last lines:\n", e.what());
        for (int i = qMax(0, lines.size() - 60); i < lines.size(); ++i)
            say("  | %s\n", lines[i].constData());
        return 1;
    }
    say("\nSummary\n");
    for (const Figure &f : qAsConst(g_figures)) {
        say("  %-42s %9.2f %-7s", qPrintable(f.name), f.value, qPrintable(f.unit));
        if (!qIsNaN(f.target))
            say(" target %7.2f  ratio %s", f.target,
                f.target > 0 ? qPrintable(QString::number(f.value / f.target, 'f', 2)) : "-");
        say("\n");
    }
    return 0;
}
