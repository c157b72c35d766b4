// The capture board's inputs: frame pacing and times, the strip of every frame, the moving test
// picture, the stereo tone, and the loopback from an output written by another process.
#include "multimedia/engines/h264decoder.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/kx/kxstereoinput.h"
#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/testpicture.h"
#include "multimedia/kx/tonegenerator.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <mutex>
#include <signal.h>

using namespace nyx::multimedia;
Q_DECLARE_METATYPE(TestPicture::Style)

namespace {

KXAddress address(const char *url)
{
    return *KXAddress::parse(QUrl(QString::fromLatin1(url)));
}

// What an input delivered, reduced to what the checks need (whole frames would not fit in memory).
struct FrameLog
{
    struct Entry
    {
        qint64 time;
        std::optional<quint64> strip;
        uchar boxLuma;  // the middle of the test picture's box
        uchar lineLuma; // the middle of a running line frame's line, if the strip says it is one
    };
    std::mutex mutex;
    QVector<Entry> entries;
    qint64 stopAfter = std::numeric_limits<qint64>::max();
    quint64 loopBase = 0;
    TestPicture geometry{QString(), 1920, 1080, 25};
    RunningLine line{1920, 1080, 25, 1};

    KXVideoInput::FrameCallback callback()
    {
        return [this](const Nv12Frame &f) {
            Entry e{f.time, TimeStrip::read(f), 0, 0};
            std::lock_guard<std::mutex> lock(mutex);
            const QRect box = geometry.boxRect(entries.size());
            e.boxLuma = f.y()[box.center().y() * f.width + box.center().x()];
            if (e.strip && loopBase && *e.strip >= loopBase) {
                const int x = line.lineX(qint64(*e.strip - loopBase)) + line.lineWidth() / 2;
                e.lineLuma = f.y()[540 * f.width + x];
            }
            if (f.time < stopAfter)
                entries.append(e);
        };
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return entries.size();
    }
    QVector<Entry> snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }
};

} // namespace

class tst_KXInputs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // A board of this test's own: parallel test runs must not see each other's outputs.
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("test") + QByteArray::number(QCoreApplication::applicationPid()));
    }
    void cleanupTestCase()
    {
        const QString prefix = kxLoopbackSegmentName(QString()).mid(1);
        QDir shm(QStringLiteral("/dev/shm"));
        for (const QString &name : shm.entryList({prefix + QLatin1Char('*')}, QDir::Files))
            shm.remove(name);
    }

    // Thirty seconds of an input on a clock that runs as fast as the input can go.
    void thirtySeconds()
    {
        const qint64 origin = 638000000000000000;
        VirtualMediaClock clock(origin);
        KXVideoInput input(address("kx:///KX788 Board 1 Input 3"), &clock);
        FrameLog log;
        log.stopAfter = origin + 30 * 10000000LL;
        QVERIFY(input.start(log.callback()));
        QTRY_VERIFY_WITH_TIMEOUT(clock.now() > log.stopAfter, 120000);
        input.stop();
        const QVector<FrameLog::Entry> e = log.snapshot();
        QCOMPARE(e.size(), 750);
        QCOMPARE(e.first().time, origin);
        for (int i = 0; i < e.size(); ++i) {
            QVERIFY2(e[i].strip.has_value(), qPrintable(QStringLiteral("frame %1 has no strip").arg(i)));
            QCOMPARE(qint64(*e[i].strip), e[i].time);
            if (i)
                QCOMPARE(e[i].time - e[i - 1].time, KXVideoInput::FrameDuration);
            QCOMPARE(int(e[i].boxLuma), 235); // the box is where frame i puts it: the picture moves
        }
        QCOMPARE(input.framesSkipped(), 0);
        QCOMPARE(input.loopbackFrames(), 0);
    }

    // The same on the real clock, with limits a loaded machine keeps.
    void realTime()
    {
        KXVideoInput input(address("kx:///KX788 Board 1 Input 1"));
        FrameLog log;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(input.start(log.callback()));
        QTest::qWait(2000);
        input.stop();
        const qint64 elapsed = timer.elapsed();
        const QVector<FrameLog::Entry> e = log.snapshot();
        const qint64 expected = elapsed / 40;
        // Generous: a loaded machine may stall the thread for a while; the exact count is thirtySeconds' job.
        QVERIFY2(qAbs(e.size() + input.framesSkipped() - expected) <= 10,
                 qPrintable(QStringLiteral("%1 frames + %2 skipped in %3 ms")
                                .arg(e.size())
                                .arg(input.framesSkipped())
                                .arg(elapsed)));
        for (int i = 1; i < e.size(); ++i) {
            const qint64 gap = e[i].time - e[i - 1].time;
            QVERIFY(gap > 0 && gap % KXVideoInput::FrameDuration == 0);
            QCOMPARE(qint64(*e[i].strip), e[i].time);
        }
        // Every slot from the start to the last frame was either delivered or counted as skipped.
        QCOMPARE((e.last().time - input.startTime()) / KXVideoInput::FrameDuration + 1,
                 e.size() + input.framesSkipped());
    }

    // The burned-in clock tells the frame's own time, as the strip does: its frame digits turn to
    // "00" exactly as its seconds change, and two inputs that started apart show the same text for
    // the same frame time.
    void clockTextFollowsFrameTime()
    {
        const qint64 origin = 638000000000000000 + 1234567; // not on a whole second
        const qint64 end = origin + 5 * 10000000LL;
        TestPicture geometry{QString(), KXVideoInput::Width, KXVideoInput::Height, KXVideoInput::FrameRate};
        const QRect digitsRect = geometry.frameDigitsRect();
        QRect secondsRect = geometry.clockRect();
        secondsRect.setRight(digitsRect.left() - 1);
        QVERIFY(!secondsRect.isEmpty() && !digitsRect.isEmpty());
        const auto region = [](const Nv12Frame &f, const QRect &r) {
            QByteArray bytes;
            for (int y = r.top(); y <= r.bottom(); ++y)
                bytes.append(reinterpret_cast<const char *>(f.y()) + qsizetype(y) * f.width + r.left(),
                             r.width());
            return bytes;
        };
        struct Shown
        {
            std::optional<quint64> strip;
            QByteArray seconds, digits;
        };
        std::mutex mutex;
        QMap<qint64, Shown> shown[2];
        const auto collect = [&](int input) {
            return [&, input](const Nv12Frame &f) {
                Shown s{TimeStrip::read(f), region(f, secondsRect), region(f, digitsRect)};
                std::lock_guard<std::mutex> lock(mutex);
                if (f.time < end)
                    shown[input].insert(f.time, s);
            };
        };
        // The second input starts seven frames later: its frame numbers differ from the first's.
        VirtualMediaClock clockA(origin), clockB(origin + 7 * KXVideoInput::FrameDuration);
        KXVideoInput a(address("kx:///KX788 Board 1 Input 1"), &clockA);
        KXVideoInput b(address("kx:///KX788 Board 1 Input 2"), &clockB);
        QVERIFY(a.start(collect(0)));
        QVERIFY(b.start(collect(1)));
        QTRY_VERIFY_WITH_TIMEOUT(clockA.now() > end && clockB.now() > end, 120000);
        a.stop();
        b.stop();
        QCOMPARE(shown[0].size(), 125);
        QCOMPARE(shown[1].size(), 118);

        // "00" as the board draws it on a whole second.
        const QByteArray zero =
            region(geometry.render(3, 0, QDateTime::fromMSecsSinceEpoch(1700000000000)), digitsRect);
        int turns = 0;
        const QList<qint64> times = shown[0].keys();
        for (int i = 0; i < times.size(); ++i) {
            const Shown &now = shown[0][times[i]];
            QCOMPARE(qint64(now.strip.value_or(0)), times[i]);
            if (i == 0)
                continue;
            const Shown &before = shown[0][times[i - 1]];
            const bool turned = now.seconds != before.seconds;
            turns += turned;
            QVERIFY2(now.digits != before.digits,
                     qPrintable(QStringLiteral("frame %1 repeats its digits").arg(i)));
            QVERIFY2(turned == (now.digits == zero),
                     qPrintable(QStringLiteral("frame %1: seconds %2, frame digits %3")
                                    .arg(i)
                                    .arg(turned ? "changed" : "kept")
                                    .arg(now.digits == zero ? "00" : "not 00")));
        }
        QVERIFY2(turns >= 4, qPrintable(QString::number(turns))); // in five seconds
        for (auto it = shown[1].cbegin(); it != shown[1].cend(); ++it) {
            const Shown other = shown[0].value(it.key());
            QVERIFY2(other.seconds == it.value().seconds && other.digits == it.value().digits,
                     qPrintable(QStringLiteral("the inputs disagree at %1").arg(it.key())));
        }
    }

    void wrongKind()
    {
        KXVideoInput video(address("kx:///KX322 Board 1 Stereo 1"));
        QVERIFY(!video.start([](const Nv12Frame &) {}));
        KXStereoInput audio(address("kx:///KX788 Board 1 Input 1"));
        QVERIFY(!audio.start([](const PcmBlock &) {}));
    }

    void stereoTone()
    {
        const qint64 origin = 1000;
        VirtualMediaClock clock(origin);
        KXStereoInput input(address("kx:///KX322 Board 1 Input 1 Stereo"), &clock);
        std::mutex mutex;
        QVector<PcmBlock> blocks;
        const qint64 end = origin + 10 * 10000000LL;
        QVERIFY(input.start([&](const PcmBlock &b) {
            std::lock_guard<std::mutex> lock(mutex);
            if (b.time < end)
                blocks.append(b);
        }));
        QTRY_VERIFY_WITH_TIMEOUT(clock.now() > end + 10000000, 60000);
        input.stop();
        std::lock_guard<std::mutex> lock(mutex);
        // Ten seconds are 480000 sample pairs, in contiguous blocks stamped from the clock.
        QCOMPARE(blocks.size(), 1000);
        QByteArray all;
        for (int i = 0; i < blocks.size(); ++i) {
            QCOMPARE(blocks[i].data.size(), KXStereoInput::BlockFrames * 4);
            QCOMPARE(blocks[i].time, origin + qint64(i) * 100000);
            QCOMPARE(blocks[i].firstSample, qint64(i) * KXStereoInput::BlockFrames);
            all += blocks[i].data;
        }
        // Each channel carries its own tone: count rising zero crossings per second, and check that the
        // waveform has no seams at the block joins (each step stays within the sine's steepest slope).
        const auto *s = reinterpret_cast<const qint16 *>(all.constData());
        const qint64 pairs = all.size() / 4;
        for (int channel = 0; channel < 2; ++channel) {
            const int hz = channel ? ToneGenerator::RightHz : ToneGenerator::LeftHz;
            const double maxStep = 2 * M_PI * hz / ToneGenerator::SampleRate * ToneGenerator::Amplitude + 2;
            int crossings = 0;
            for (qint64 i = 1; i < pairs; ++i) {
                const int a = s[2 * (i - 1) + channel], b = s[2 * i + channel];
                crossings += a < 0 && b >= 0;
                QVERIFY(qAbs(b - a) <= maxStep);
            }
            QVERIFY2(qAbs(crossings - hz * 10) <= 1, qPrintable(QString::number(crossings)));
        }
    }

    // Two seconds of each picture style through the encoder at its 8 Mbit/s cap: every frame keeps
    // its box and its strip (also once decoded), and the camera style changes nearly every pixel from
    // one frame to the next, so it costs the encoder several times the bits of the still test picture.
    void pictureStyles_data()
    {
        QTest::addColumn<TestPicture::Style>("style");
        QTest::addColumn<double>("minMbits");
        QTest::addColumn<double>("maxMbits");
        QTest::addColumn<double>("minChanged"); // the share of luma bytes unlike the frame before
        QTest::newRow("test") << TestPicture::Style::Test << 0.0 << 2.0 << 0.0;
        QTest::newRow("camera") << TestPicture::Style::Camera << 5.0 << 10.0 << 0.8;
    }
    void pictureStyles()
    {
        QFETCH(TestPicture::Style, style);
        QFETCH(double, minMbits);
        QFETCH(double, maxMbits);
        QFETCH(double, minChanged);
        TestPicture picture(QStringLiteral("KX788 Board 1 Input 1"), 1920, 1080, 25, style);
        H264EncoderSettings settings;
        settings.preset = QStringLiteral("ultrafast");
        H264Encoder encoder;
        H264Decoder decoder;
        QVERIFY(encoder.open(settings));
        QVERIFY(decoder.open());
        const qint64 origin = 638000000000000000;
        const QDateTime wall = QDateTime::currentDateTime();
        qint64 bytes = 0;
        int decoded = 0;
        Nv12Frame before;
        for (int i = 0; i < 50; ++i) {
            Nv12Frame f = picture.render(i, origin + i * 400000LL, wall.addMSecs(i * 40));
            f.time = origin + i * 400000LL;
            f.duration = 400000;
            QCOMPARE(TimeStrip::read(f), std::optional<quint64>(f.time));
            const QRect box = picture.boxRect(i);
            QCOMPARE(int(f.y()[box.center().y() * f.width + box.center().x()]), 235);
            if (!before.isNull()) {
                int changed = 0;
                for (int p = 0; p < f.width * f.height; p += 7)
                    changed += f.y()[p] != before.y()[p];
                QVERIFY2(changed >= minChanged * (f.width * f.height / 7),
                         qPrintable(QString::number(changed)));
            }
            before = f;
            for (const H264Packet &packet : encoder.encode(f)) {
                bytes += packet.data.size();
                for (const DecodedFrame &d : decoder.decode(packet.data, packet.time, packet.duration, 0)) {
                    QCOMPARE(TimeStrip::read(d.frame), std::optional<quint64>(d.frame.time));
                    ++decoded;
                }
            }
        }
        QVERIFY(decoded >= 45);
        const double mbits = bytes * 8 / 2.0 / 1e6;
        QVERIFY2(mbits >= minMbits && mbits <= maxMbits, qPrintable(QString::number(mbits)));
    }

    // A reader held up (the clock jumps on while it works on block 100): the input delivers the
    // blocks it missed afterwards, each with its own samples and time, for up to two seconds; what
    // is older is skipped and counted. Delivered and skipped blocks together cover the span.
    void stereoCatchUp_data()
    {
        QTest::addColumn<qint64>("stall");
        QTest::addColumn<qint64>("skipped");
        QTest::newRow("500 ms") << 5000000LL << 0LL;
        QTest::newRow("2 s, the window's edge") << 20000000LL << 0LL;
        // 5 s late at block 101: 499 blocks behind, 200 of them made up.
        QTest::newRow("5 s") << 50000000LL << 299LL;
    }
    void stereoCatchUp()
    {
        QFETCH(qint64, stall);
        QFETCH(qint64, skipped);
        const qint64 origin = 5000;
        VirtualMediaClock clock(origin);
        KXStereoInput input(address("kx:///KX788 Board 1 Stereo 2"), &clock);
        std::mutex mutex;
        QVector<PcmBlock> blocks;
        const qint64 end = origin + 10 * 10000000LL;
        QVERIFY(input.start([&](const PcmBlock &b) {
            if (b.firstSample == 100 * KXStereoInput::BlockFrames)
                clock.advance(stall);
            std::lock_guard<std::mutex> lock(mutex);
            if (b.time < end)
                blocks.append(b);
        }));
        QTRY_VERIFY_WITH_TIMEOUT(clock.now() > end + 10000000, 60000);
        input.stop();
        std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(input.blocksSkipped(), skipped);
        QCOMPARE(input.stalls(), qint64(skipped ? 1 : 0));
        QCOMPARE(blocks.size() + skipped, qint64(1000));
        qint64 holes = 0;
        for (int i = 0; i < blocks.size(); ++i) {
            QCOMPARE(blocks[i].time, origin + blocks[i].firstSample * 10000000 / ToneGenerator::SampleRate);
            QCOMPARE(blocks[i].data, ToneGenerator::block(blocks[i].firstSample, KXStereoInput::BlockFrames));
            if (i)
                holes += (blocks[i].firstSample - blocks[i - 1].firstSample) / KXStereoInput::BlockFrames - 1;
        }
        QCOMPARE(holes, skipped);
    }

    // Another program plays into output 2: input 2 shows its frames while input 1 keeps its test
    // picture; when the writer stops (or dies), input 2 returns to its test picture.
    void loopback_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("writer ends") << false;
        QTest::newRow("writer killed") << true;
    }
    void loopback()
    {
        QFETCH(bool, kill);
        const quint64 base = 1ull << 60;
        KXVideoInput input2(address("kx:///KX788 Board 1 Input 2"), nullptr, {300});
        KXVideoInput input1(address("kx:///KX788 Board 1 Input 1"), nullptr, {300});
        FrameLog log2, log1;
        log2.loopBase = base;
        QVERIFY(input2.start(log2.callback()));
        QVERIFY(input1.start(log1.callback()));

        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kx_loopback_writer"),
                     {QStringLiteral("KX788 Board 1 Output 2"),
                      kill ? QStringLiteral("-1") : QStringLiteral("75"), QString::number(base)});
        QVERIFY(writer.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(input2.loopbackFrames() >= 25, 20000);
        if (kill) {
            ::kill(pid_t(writer.processId()), SIGKILL);
        }
        QVERIFY(writer.waitForFinished(30000));
        if (!kill)
            QCOMPARE(writer.exitCode(), 0);
        // The test picture is back: frames whose strip is their own time again.
        const int after = log2.count();
        QTRY_VERIFY_WITH_TIMEOUT(log2.count() > after + 25, 20000);
        input2.stop();
        input1.stop();

        const QVector<FrameLog::Entry> e2 = log2.snapshot();
        int looped = 0;
        quint64 lastLooped = 0;
        for (const FrameLog::Entry &e : e2) {
            QVERIFY(e.strip);
            if (*e.strip >= base) {
                ++looped;
                QVERIFY(*e.strip >= lastLooped); // never older than what was shown before
                lastLooped = *e.strip;
                QCOMPARE(int(e.lineLuma), int(RunningLine::LineLuma)); // the writer's running line
            } else {
                QCOMPARE(qint64(*e.strip), e.time);
            }
        }
        QVERIFY(looped >= 25);
        QVERIFY(qint64(*e2.last().strip) == e2.last().time);
        QCOMPARE(input1.loopbackFrames(), 0);
        for (const FrameLog::Entry &e : log1.snapshot())
            QCOMPARE(qint64(*e.strip), e.time);
    }

    // A reader sees only complete frames while a writer overwrites the slots as fast as it can.
    void noTornFrames()
    {
        const QString output = QStringLiteral("KX788 Board 1 Output 4");
        KXLoopbackWriter writer(output);
        KXLoopbackReader reader(output);
        QVERIFY(writer.isValid());
        QVERIFY(!reader.latest(1000)); // nothing written yet
        std::atomic<bool> done{false};
        std::thread t([&] {
            RunningLine line(1920, 1080, 25, 1);
            for (int i = 0; !done; ++i) {
                Nv12Frame f = line.frame(i % 50);
                f.fill(uchar(16 + i % 200), 128, 128); // uniform luma: a torn copy shows two values
                f.time = i;
                writer.write(f);
            }
        });
        int checked = 0;
        QElapsedTimer timer;
        timer.start();
        while (checked < 200 && timer.elapsed() < 20000) {
            quint64 seq = 0;
            auto f = reader.latest(1000, &seq);
            if (!f)
                continue;
            const uchar first = f->y()[0];
            QCOMPARE(first, uchar(16 + f->time % 200));
            QCOMPARE(f->y()[f->width * f->height - 1], first);
            QCOMPARE(f->y()[f->width * f->height / 2 + 7], first);
            ++checked;
        }
        done = true;
        t.join();
        QCOMPARE(checked, 200);
    }
};

QTEST_MAIN(tst_KXInputs)
#include "tst_kxinputs.moc"
