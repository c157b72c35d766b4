// The decoder node in a media session, fed the way a recording plays back (prepared H.264 samples,
// each when asked for): every picture comes out once, with its sample's time, duration and
// attributes, its pixels those of a plain libavcodec decode; a seek (a discontinuity) starts over
// cleanly; NV12 passes through byte for byte.
#include "clipsourcenode.h"
#include "collectornode.h"
#include "h264testdecoder.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/mfframes.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

using namespace nyx::multimedia;

namespace {
// A recording's sample position, as playback sets it.
constexpr GUID SamplePosition = {
    0x804F2791, 0x0E4D, 0x43DD, {0xBB, 0x0A, 0x00, 0x38, 0xD3, 0xB7, 0x18, 0x0D}};
constexpr int Width = 320, Height = 240, Frames = 50;
constexpr qint64 FrameTime = 400000;

Nv12Frame picture(int index)
{
    Nv12Frame f;
    f.width = Width;
    f.height = Height;
    QByteArray bytes(Width * Height * 3 / 2, '\0');
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            bytes[y * Width + x] = char((x + y + index * 6) & 0xff);
    for (int y = 0; y < Height / 2; ++y)
        for (int x = 0; x < Width; ++x)
            bytes[(Height + y) * Width + x] =
                char(x % 2 ? 128 + (y + index) % 64 : 96 + (x / 2 + index) % 64);
    // A block that moves, so that every picture differs from its neighbours.
    for (int y = 100; y < 140; ++y)
        for (int x = 0; x < 40; ++x)
            bytes[y * Width + (x + index * 5) % Width] = char(235);
    f.data = bytes;
    f.time = index * FrameTime;
    f.duration = FrameTime;
    return f;
}
} // namespace

class tst_VideoDecoderNode : public QObject
{
    Q_OBJECT

    // Plays the samples through ClipSource -> VideoDecoder -> Collector; returns what arrived.
    QVector<CollectorNode::Received> play(IMFMediaType *type, const QVector<CComPtr<IMFSample>> &samples,
                                          int expected, const QByteArray &decoderSettings = {},
                                          double rate = 1.0)
    {
        QQmlEngine engine;
        engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        QQmlComponent component(&engine);
        component.setData(
            "import QtQml 2.2\nimport Multimedia 1.0\nimport DecoderTest 1.0\n"
            "MediaSession { autoPlay: true; property alias clip: src; property alias collector: sink\n"
            "  property alias decoder: dec\n"
            "  ClipSource { id: src }\n"
            "  VideoDecoder { id: dec; " +
                decoderSettings +
                " }\n"
                "  Collector { id: sink }\n"
                "  NodeConnection { from: src.output; to: dec.videoInput }\n"
                "  NodeConnection { from: dec.output; to: sink.input } }",
            QUrl());
        std::unique_ptr<QObject> object(component.create());
        if (!object) {
            qWarning() << component.errorString();
            return {};
        }
        auto *session = qobject_cast<MediaSession *>(object.get());
        auto *collector = session->property("collector").value<CollectorNode *>();
        // Before the clip makes the graph ready: the session starts at this rate.
        session->setRate(rate);
        session->property("clip").value<ClipSourceNode *>()->setClip(type, samples);
        auto *decoder = session->property("decoder").value<MediaNode *>();
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(session->isPlaying(), 20000);
            // The output's type carries the frame size and rate.
            CComPtr<IMFMediaType> out = decoder->getOutput(0)->getMfMediaType();
            QVERIFY(out);
            UINT32 w = 0, h = 0, num = 0, den = 0;
            QVERIFY(SUCCEEDED(MFGetAttributeSize(out, MF_MT_FRAME_SIZE, &w, &h)));
            QVERIFY(SUCCEEDED(MFGetAttributeRatio(out, MF_MT_FRAME_RATE, &num, &den)));
            QCOMPARE(int(w), Width);
            QCOMPARE(int(h), Height);
            QCOMPARE(num * 1.0 / den, 25.0);
            QTRY_VERIFY_WITH_TIMEOUT(collector->segmentEnds() >= 1, 60000);
        }();
        const QVector<CollectorNode::Received> received = collector->received();
        if (received.size() != expected)
            qWarning() << "received" << received.size() << "of" << expected;
        session->stop();
        return received;
    }

private slots:
    void initTestCase()
    {
        qmlRegisterType<CollectorNode>("DecoderTest", 1, 0, "Collector");
        qmlRegisterType<ClipSourceNode>("DecoderTest", 1, 0, "ClipSource");
    }

    void decodesEveryPicture()
    {
        H264Encoder encoder;
        H264EncoderSettings settings;
        settings.width = Width;
        settings.height = Height;
        settings.preset = QStringLiteral("ultrafast");
        QVERIFY(encoder.open(settings));
        QVector<H264Packet> packets;
        for (int i = 0; i < Frames; ++i)
            packets += encoder.encode(picture(i));
        packets += encoder.flush();
        QCOMPARE(packets.size(), Frames);
        QVERIFY(packets[25].keyFrame);

        // The clip, then a seek back to the second key frame: the rest again, at later times.
        QVector<CComPtr<IMFSample>> samples;
        QVector<H264Packet> played = packets;
        played += packets.mid(25);
        for (int i = 0; i < played.size(); ++i) {
            H264Packet p = played[i];
            p.time = i * FrameTime;
            played[i].time = p.time;
            CComPtr<IMFSample> s = sampleFromPacket(p);
            s->SetSampleDuration(FrameTime + i); // distinct durations, to see each one kept
            s->SetUINT64(SamplePosition, 1000 + quint64(i));
            if (i == Frames)
                s->SetUINT32(MFSampleExtension_Discontinuity, 1);
            samples.append(s);
        }
        // Reference: a plain decode of each run.
        QVector<test::DecodedPicture> reference;
        {
            test::H264TestDecoder first;
            for (int i = 0; i < Frames; ++i)
                reference += first.decode(played[i]);
            reference += first.flush();
            test::H264TestDecoder second;
            for (int i = Frames; i < played.size(); ++i)
                reference += second.decode(played[i]);
            reference += second.flush();
        }
        QCOMPARE(reference.size(), played.size());

        const auto received = play(h264MediaType(Width, Height, 25, 1), samples, played.size());
        QCOMPARE(received.size(), played.size());
        for (int i = 0; i < received.size(); ++i) {
            const CollectorNode::Received &r = received[i];
            QCOMPARE(r.time, i * FrameTime);
            LONGLONG duration = 0;
            QVERIFY(SUCCEEDED(r.sample->GetSampleDuration(&duration)));
            QCOMPARE(duration, FrameTime + i);
            UINT64 position = 0;
            QVERIFY(SUCCEEDED(r.sample->GetUINT64(SamplePosition, &position)));
            QCOMPARE(position, 1000 + quint64(i));
            QCOMPARE(r.bytes.size(), qsizetype(Width * Height * 3 / 2));
            // Luma exactly as libavcodec decodes it; chroma interleaved close to the source's.
            QVERIFY2(r.bytes.left(Width * Height) == reference[i].luma, qPrintable(QString::number(i)));
            const Nv12Frame source = picture(i < Frames ? i : i - Frames + 25);
            qint64 error = 0;
            for (int k = 0; k < Width * Height / 2; ++k)
                error += qAbs(int(uchar(r.bytes[Width * Height + k])) - int(source.uv()[k]));
            QVERIFY2(error / (Width * Height / 2) <= 4, qPrintable(QString::number(error)));
        }
    }

    // At a fast rate only the key frames are decoded (the others never reach the decoder), at
    // the rate the session's clock has when it starts.
    void decodesKeyFramesOnlyWhenFast_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("keysOnly");
        QTest::newRow("rate 4, from 1.9") << QByteArray("keyFrameOnlyRate: 1.9") << 4.0 << true;
        QTest::newRow("rate 1.5, from 1.9") << QByteArray("keyFrameOnlyRate: 1.9") << 1.5 << false;
        QTest::newRow("rate 10, never") << QByteArray() << 10.0 << false;
        QTest::newRow("rate 1, preview") << QByteArray("keyFramesOnly: true") << 1.0 << true;
        QTest::newRow("frame step, preview") << QByteArray("keyFramesOnly: true") << 0.0 << false;
    }
    void decodesKeyFramesOnlyWhenFast()
    {
        QFETCH(QByteArray, settings);
        QFETCH(double, rate);
        QFETCH(bool, keysOnly);
        H264Encoder encoder;
        H264EncoderSettings encoding;
        encoding.width = Width;
        encoding.height = Height;
        encoding.preset = QStringLiteral("ultrafast");
        QVERIFY(encoder.open(encoding));
        QVector<CComPtr<IMFSample>> samples;
        for (int i = 0; i < Frames; ++i)
            for (const H264Packet &p : encoder.encode(picture(i)))
                samples.append(sampleFromPacket(p));
        QCOMPARE(samples.size(), Frames);
        const auto received =
            play(h264MediaType(Width, Height, 25, 1), samples, keysOnly ? 2 : Frames, settings, rate);
        QList<qint64> times, expected;
        for (const CollectorNode::Received &r : received)
            times << r.time;
        for (int i = 0; i < Frames; i += keysOnly ? 25 : 1)
            expected << i * FrameTime;
        QCOMPARE(times, expected);
    }

    void passesNv12Through()
    {
        QVector<CComPtr<IMFSample>> samples;
        for (int i = 0; i < 10; ++i) {
            CComPtr<IMFSample> s = sampleFromFrame(picture(i));
            s->SetUINT64(SamplePosition, quint64(i));
            samples.append(s);
        }
        const auto received = play(nv12MediaType(Width, Height, 25, 1), samples, samples.size());
        QCOMPARE(received.size(), samples.size());
        for (int i = 0; i < received.size(); ++i) {
            QCOMPARE(received[i].time, i * FrameTime);
            QVERIFY(received[i].bytes == picture(i).data);
            UINT64 position = 99;
            QVERIFY(SUCCEEDED(received[i].sample->GetUINT64(SamplePosition, &position)));
            QCOMPARE(position, quint64(i));
        }
    }
};

QTEST_MAIN(tst_VideoDecoderNode)
#include "tst_videodecodernode.moc"
