// The H.264 encoder: its stream decodes with libavcodec to the pictures given (read back through
// their time strips), with an IDR picture and in-band SPS/PPS exactly once per second.
#include "h264testdecoder.h"
#include "multimedia/engines/h264decoder.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"

#include <QtTest>

using namespace nyx::multimedia;
using namespace nyx::multimedia::test;

class tst_H264Encoder : public QObject
{
    Q_OBJECT
private slots:
    void stream_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("rateNum");
        QTest::addColumn<QString>("preset");
        QTest::addColumn<int>("frames");
        QTest::newRow("1080p25 superfast") << 1920 << 1080 << 25 << "superfast" << 60;
        QTest::newRow("360p25 ultrafast") << 640 << 360 << 25 << "ultrafast" << 80;
        QTest::newRow("360p30 ultrafast") << 640 << 360 << 30 << "ultrafast" << 70;
    }
    void stream()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, rateNum);
        QFETCH(QString, preset);
        QFETCH(int, frames);

        H264Encoder encoder;
        H264EncoderSettings settings;
        settings.width = width;
        settings.height = height;
        settings.frameRateNumerator = rateNum;
        settings.preset = preset;
        QVERIFY2(encoder.open(settings), qPrintable(encoder.errorString()));
        QCOMPARE(encoder.settings().gopLength, rateNum);

        RunningLine line(width, height, rateNum, 1);
        H264TestDecoder decoder;
        QVERIFY2(decoder.error.isEmpty(), qPrintable(decoder.error));
        const qint64 origin = 638000000000000000; // a FILETIME-sized time, as the station stamps frames
        QVector<qint64> times;
        QVector<DecodedPicture> pictures;
        for (int i = 0; i < frames; ++i) {
            Nv12Frame frame = line.frame(i);
            frame.time = origin + frame.time;
            TimeStrip::draw(frame, quint64(frame.time));
            times.append(frame.time);
            const QVector<H264Packet> packets = encoder.encode(frame);
            QVERIFY2(encoder.errorString().isEmpty(), qPrintable(encoder.errorString()));
            // Zero latency: every frame comes out at once, as one packet.
            QCOMPARE(packets.size(), 1);
            const H264Packet &p = packets.first();
            QCOMPARE(p.time, frame.time);
            const bool expectKey = i % rateNum == 0;
            QVERIFY2(p.keyFrame == expectKey, qPrintable(QStringLiteral("frame %1").arg(i)));
            const QVector<int> types = nalTypes(p.data);
            QVERIFY(p.data.startsWith(QByteArray("\0\0\0\1", 4)) ||
                    p.data.startsWith(QByteArray("\0\0\1", 3)));
            QCOMPARE(types.contains(7) && types.contains(8), expectKey);
            QCOMPARE(types.contains(5), expectKey);
            QCOMPARE(H264Decoder::isKeyFrame(p.data), expectKey);
            if (expectKey)
                QVERIFY(types.indexOf(7) < types.indexOf(5) && types.indexOf(8) < types.indexOf(5));
            pictures += decoder.decode(p);
        }
        QVERIFY(encoder.flush().isEmpty());
        pictures += decoder.flush();
        QCOMPARE(pictures.size(), frames);
        for (int i = 0; i < frames; ++i) {
            const DecodedPicture &pic = pictures[i];
            QCOMPARE(pic.width, width);
            QCOMPARE(pic.height, height);
            const auto strip =
                TimeStrip::read(reinterpret_cast<const uchar *>(pic.luma.constData()), width, width, height);
            QVERIFY2(strip.has_value(), qPrintable(QStringLiteral("picture %1 has no strip").arg(i)));
            QCOMPARE(qint64(*strip), times[i]);
            QCOMPARE(pic.time, times[i]);
            // The picture itself survives too: the running line is where it was drawn.
            const int x = line.lineX(i) + line.lineWidth() / 2;
            const int row = height / 2;
            QVERIFY(qAbs(int(uchar(pic.luma[row * width + x])) - RunningLine::LineLuma) < 40);
        }
    }

    void badInput_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("rateNum");
        QTest::addColumn<QString>("preset");
        QTest::newRow("odd width") << 641 << 360 << 25 << "ultrafast";
        QTest::newRow("no size") << 0 << 0 << 25 << "ultrafast";
        QTest::newRow("no rate") << 640 << 360 << 0 << "ultrafast";
        QTest::newRow("unknown preset") << 640 << 360 << 25 << "warp-speed";
    }
    void badInput()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, rateNum);
        QFETCH(QString, preset);
        H264Encoder encoder;
        H264EncoderSettings settings{width, height, rateNum, 1, 0, 1000000, preset, 0};
        QVERIFY(!encoder.open(settings));
        QVERIFY(!encoder.errorString().isEmpty());
        QVERIFY(!encoder.isOpen());
        QVERIFY(encoder.encode(Nv12Frame::create(640, 360)).isEmpty());
    }

    void wrongFrameSize()
    {
        H264Encoder encoder;
        H264EncoderSettings settings;
        settings.width = 640;
        settings.height = 360;
        QVERIFY(encoder.open(settings));
        QVERIFY(encoder.encode(RunningLine(320, 180, 25, 1).frame(0)).isEmpty());
        QVERIFY(!encoder.errorString().isEmpty());
        QCOMPARE(encoder.encode(RunningLine(640, 360, 25, 1).frame(0)).size(), 1);
    }
};

QTEST_APPLESS_MAIN(tst_H264Encoder)
#include "tst_h264encoder.moc"
