// AudioOutput in a real session: a clip of 48 kHz audio, handed out as fast as it is asked for,
// reaches a real Qt Multimedia device (alsa-lib's null device behind its file plugin) at the
// clock's pace, byte for byte, converted where the device refuses float; a pause and a stop
// silence the device and a restart resumes it; another rate than 1 keeps the pace and plays
// nothing; without a device the audio is consumed at the clock's pace after one warning.
#include "alsatestdevices.h"
#include "clipsourcenode.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/audiooutputnode.h"
#include "multimedia/nodes/mfframes.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtEndian>
#include <QtTest>

#include <tuple>

using namespace nyx::multimedia;

namespace {

constexpr int Frames = 1920;                   // 40 ms at 48 kHz, stereo
constexpr qint64 BufferTime = 400000;          // 100 ns
constexpr qint64 BytesPerSecond16 = 48000 * 4; // 16-bit stereo

QStringList g_warnings;
QtMessageHandler g_previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "Multimedia.AudioOutput") == 0)
        g_warnings.append(message);
    g_previous(type, context, message);
}

// The integer behind sample k of buffer i: distinct first samples per buffer, and beyond the 16-bit
// range in float clips, so that clipping shows.
int sampleValue(int buffer, int k, bool isFloat)
{
    const int n = buffer * 997 + k * 13;
    return isFloat ? n % 80000 - 40000 : qint16(n);
}

struct Clip
{
    CComPtr<IMFMediaType> type;
    QVector<CComPtr<IMFSample>> samples;
    QVector<QByteArray> onDevice; // what each buffer must be on a device taking 16-bit or float
};

Clip makeClip(int buffers, bool isFloat, bool deviceTakes16Bit)
{
    Clip clip;
    clip.type = pcmMediaType(48000, 2);
    if (isFloat) {
        clip.type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float);
        clip.type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 32);
    }
    for (int i = 0; i < buffers; ++i) {
        QByteArray bytes(Frames * 2 * (isFloat ? 4 : 2), '\0');
        QByteArray asInt16(Frames * 2 * 2, '\0');
        for (int k = 0; k < Frames * 2; ++k) {
            const int n = sampleValue(i, k, isFloat);
            if (isFloat)
                qToLittleEndian<float>(float(n) / 32768.0f, bytes.data() + 4 * k);
            else
                qToLittleEndian<qint16>(qint16(n), bytes.data() + 2 * k);
            qToLittleEndian<qint16>(qint16(qBound(-32768, n, 32767)), asInt16.data() + 2 * k);
        }
        clip.samples.append(sampleFromBytes(bytes, i * BufferTime, BufferTime));
        clip.onDevice.append(isFloat && deviceTakes16Bit ? asInt16 : bytes);
    }
    return clip;
}

// How many whole buffers of the clip the played bytes are, in order and none twice; -1 when they
// are anything else.
int buffersIn(const QByteArray &played, const QVector<QByteArray> &buffers)
{
    const int size = buffers.value(0).size();
    if (size == 0 || played.size() % size != 0)
        return -1;
    int next = 0;
    for (int at = 0; at < played.size(); at += size) {
        const QByteArray chunk = played.mid(at, size);
        while (next < buffers.size() && buffers[next] != chunk)
            ++next;
        if (next == buffers.size())
            return -1;
        ++next;
    }
    return played.size() / size;
}

struct Run
{
    QQmlEngine engine;
    std::unique_ptr<QObject> object;
    MediaSession *session = nullptr;
    AudioOutputNode *output = nullptr;
};

// Plays once the output is built and has chosen its device, or warned that there is none: looking
// for one may take longer than the first buffers wait (under the sanitizers), and they would be
// dropped.
std::unique_ptr<Run> play(const Clip &clip, double rate, bool device)
{
    auto run = std::make_unique<Run>();
    run->engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
    QQmlComponent component(&run->engine);
    component.setData(QByteArray("import QtQml 2.2\nimport Multimedia 1.0\nimport AudioTest 1.0\n"
                                 "MediaSession { property alias clip: src; "
                                 "property alias output: out; rate: ") +
                          QByteArray::number(rate) +
                          "\n  ClipSource { id: src }\n  AudioOutput { id: out }\n"
                          "  NodeConnection { from: src.output; to: out.input } }",
                      QUrl());
    run->object.reset(component.create());
    if (!run->object) {
        qWarning() << component.errorString();
        return nullptr;
    }
    run->session = qobject_cast<MediaSession *>(run->object.get());
    run->output = run->object->property("output").value<AudioOutputNode *>();
    run->object->property("clip").value<ClipSourceNode *>()->setClip(clip.type, clip.samples);
    if (!QTest::qWaitFor(
            [&] {
                return run->output->status() == MediaNode::StatusReady &&
                       (device ? !run->output->deviceName().isEmpty() : !g_warnings.isEmpty());
            },
            20000))
        return nullptr;
    run->session->play();
    if (!QTest::qWaitFor([&] { return run->session->isPlaying(); }, 20000))
        return nullptr;
    return run;
}

qint64 ms(qint64 bytes, qint64 perSecond)
{
    return bytes * 1000 / perSecond;
}

} // namespace

class tst_AudioOutputNode : public QObject
{
    Q_OBJECT

    AlsaTestDevices m_devices;
    QString m_missing;

private slots:
    void initTestCase()
    {
        qmlRegisterType<ClipSourceNode>("AudioTest", 1, 0, "ClipSource");
        m_missing = m_devices.missing();
        g_previous = qInstallMessageHandler(capture);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previous); }

    void playsAtTheClocksPace_data()
    {
        QTest::addColumn<QByteArray>("device");
        QTest::addColumn<bool>("isFloat");
        QTest::addColumn<double>("rate");
        QTest::newRow("16-bit") << QByteArray("tundra_file") << false << 1.0;
        QTest::newRow("float") << QByteArray("tundra_file") << true << 1.0;
        QTest::newRow("float to a 16-bit device") << QByteArray("tundra_int16") << true << 1.0;
        QTest::newRow("rate 2 is silent") << QByteArray("tundra_file") << false << 2.0;
    }
    void playsAtTheClocksPace()
    {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(m_missing));
        QFETCH(QByteArray, device);
        QFETCH(bool, isFloat);
        QFETCH(double, rate);
        constexpr int Buffers = 50; // 2 s
        const Clip clip = makeClip(Buffers, isFloat, device == "tundra_int16");
        const qint64 bufferBytes = clip.samples.isEmpty() ? 0 : sampleBytes(clip.samples[0]).size();
        const qint64 perSecond = bufferBytes * 25;
        AlsaTestDevices::use(device);
        m_devices.forget();
        g_warnings.clear();
        std::unique_ptr<Run> run = play(clip, rate, true);
        QVERIFY(run);
        AudioOutputNode *output = run->output;
        QElapsedTimer timer;
        timer.start();
        // Never ahead of the clock: what reached the device is no more than the time played so far.
        QTest::qWait(800);
        const qint64 early = ms(output->deviceBytesWritten(), perSecond);
        QVERIFY2(early <= timer.elapsed() + 300, qPrintable(QString::number(early)));
        QVERIFY(QTest::qWaitFor([&] { return output->buffersPlayed() + output->buffersDropped() >= Buffers; },
                                30000));
        const qint64 elapsed = timer.elapsed();
        const int played = output->buffersPlayed();
        qInfo() << device << "rate" << rate << ":" << elapsed << "ms," << played << "played";
        QVERIFY(played >= Buffers - 5); // a busy machine may make a few late
        if (rate != 1.0) {
            // Paced by the clock (2 s of sound in 1 s); a loaded machine may make it late, never early.
            QVERIFY2(elapsed >= 700 && elapsed <= 4000, qPrintable(QString::number(elapsed)));
            QCOMPARE(output->deviceBytesWritten(), qint64(0));
            QVERIFY(g_warnings.isEmpty());
            return;
        }
        QVERIFY2(elapsed >= 1500 && elapsed <= 6000, qPrintable(QString::number(elapsed)));
        QTRY_COMPARE_WITH_TIMEOUT(output->deviceBytesWritten(), played * bufferBytes, 10000);
        QCOMPARE(output->deviceName(), QString::fromLatin1(device));
        // The device counts what it took as processed: the duration played, in its own format.
        QVERIFY(qAbs(output->deviceProcessedUSecs() / 1000 - played * 40) <= 40);
        QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join('\n')));
        run.reset(); // closes the device: its file is complete
        QCOMPARE(buffersIn(m_devices.played(), clip.onDevice), played);
    }

    void pauseAndStopSilenceTheDevice()
    {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(m_missing));
        AlsaTestDevices::use("tundra_file");
        std::unique_ptr<Run> run = play(makeClip(200, false, false), 1.0, true); // 8 s
        QVERIFY(run);
        AudioOutputNode *output = run->output;
        QTRY_VERIFY_WITH_TIMEOUT(output->deviceBytesWritten() >= BytesPerSecond16 / 2, 10000);
        struct Step
        {
            const char *name;
            void (MediaSession::*call)();
        };
        for (const Step &step : {Step{"pause", &MediaSession::pause}, Step{"stop", &MediaSession::stop}}) {
            (run->session->*step.call)();
            // What was under way when it came lands (a busy machine may take a while), then nothing.
            const auto counts = [output] {
                return std::make_tuple(output->buffersPlayed(), output->deviceBytesWritten(),
                                       output->deviceProcessedUSecs());
            };
            auto before = counts();
            QVERIFY2(QTest::qWaitFor(
                         [&] {
                             QTest::qWait(300);
                             const auto now = counts();
                             const bool settled = now == before;
                             before = now;
                             return settled;
                         },
                         10000),
                     step.name);
            QTest::qWait(1000);
            QVERIFY2(counts() == before, step.name);
            const qint64 written = std::get<1>(before), processed = std::get<2>(before);
            run->session->play();
            QTRY_VERIFY_WITH_TIMEOUT(output->deviceBytesWritten() >= written + BytesPerSecond16 / 4, 10000);
            QVERIFY2(output->deviceProcessedUSecs() > processed, step.name);
        }
        QCOMPARE(output->deviceName(), QStringLiteral("tundra_file"));
    }

    void consumesAtTheClocksPaceWithoutADevice()
    {
        AlsaTestDevices::use("tundra_no_such_device");
        constexpr int Buffers = 50;
        g_warnings.clear();
        std::unique_ptr<Run> run = play(makeClip(Buffers, false, false), 1.0, false);
        QVERIFY(run);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(QTest::qWaitFor(
            [&] { return run->output->buffersPlayed() + run->output->buffersDropped() >= Buffers; }, 30000));
        QVERIFY2(timer.elapsed() >= 1500 && timer.elapsed() <= 6000,
                 qPrintable(QString::number(timer.elapsed())));
        QVERIFY(run->output->buffersPlayed() >= Buffers - 5);
        QCOMPARE(run->output->deviceBytesWritten(), qint64(0));
        QVERIFY(run->output->deviceName().isEmpty());
        QCOMPARE(g_warnings.size(), 1);
        QVERIFY2(g_warnings[0].contains("tundra_no_such_device"), qPrintable(g_warnings[0]));
    }
};

QTEST_MAIN(tst_AudioOutputNode)
#include "tst_audiooutputnode.moc"
