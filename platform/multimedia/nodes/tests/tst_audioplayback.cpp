// The sound device's side of the audio output: what waits for a device that takes nothing stays
// within its bound and reaches the device in order once it plays again; the float/16-bit
// conversions for devices that refuse the stream's format.
#include "alsatestdevices.h"
#include "multimedia/nodes/audioplayback.h"
#include "multimedia/nodes/pcmconvert.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace nyx::multimedia;

class tst_AudioPlayback : public QObject
{
    Q_OBJECT

    AlsaTestDevices m_devices;

    static QByteArray floats(std::initializer_list<float> values)
    {
        QByteArray bytes;
        for (float value : values) {
            char raw[4];
            qToLittleEndian<float>(value, raw);
            bytes.append(raw, 4);
        }
        return bytes;
    }

private slots:
    void floatToInt16_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("silence") << 0.0f << 0;
        QTest::newRow("half") << 0.5f << 16384;
        QTest::newRow("negative quarter") << -0.25f << -8192;
        QTest::newRow("one step") << 1.0f / 32768 << 1;
        QTest::newRow("under half a step") << 0.4f / 32768 << 0;
        QTest::newRow("over half a step down") << -0.6f / 32768 << -1;
        QTest::newRow("full scale down") << -1.0f << -32768;
        QTest::newRow("full scale up clips") << 1.0f << 32767;
        QTest::newRow("over full scale") << 1.5f << 32767;
        QTest::newRow("under full scale") << -2.0f << -32768;
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << 32767;
        QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 0;
    }
    void floatToInt16()
    {
        QFETCH(float, value);
        QFETCH(int, expected);
        // Between two other samples, so that a wrong stride or byte order shows.
        const QByteArray out = nyx::multimedia::floatToInt16(floats({0.25f, value, -0.25f}) + "xy");
        QCOMPARE(out.size(), 6); // the partial sample is left out
        QCOMPARE(int(qFromLittleEndian<qint16>(out.constData())), 8192);
        QCOMPARE(int(qFromLittleEndian<qint16>(out.constData() + 2)), expected);
        QCOMPARE(int(qFromLittleEndian<qint16>(out.constData() + 4)), -8192);
    }

    void int16SurvivesFloat()
    {
        QByteArray all(65536 * 2, '\0');
        for (int v = -32768; v <= 32767; ++v)
            qToLittleEndian<qint16>(qint16(v), all.data() + 2 * (v + 32768));
        const QByteArray asFloat = int16ToFloat(all);
        QCOMPARE(qFromLittleEndian<float>(asFloat.constData()), -1.0f);
        QCOMPARE(qFromLittleEndian<float>(asFloat.constData() + 4 * (32768 + 16384)), 0.5f);
        QCOMPARE(nyx::multimedia::floatToInt16(asFloat), all);
    }

    void boundedWhileTheDeviceTakesNothing()
    {
        const QString missing = m_devices.missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        AlsaTestDevices::use("tundra_file");
        m_devices.forget();
        QAudioFormat format;
        format.setCodec(QStringLiteral("audio/pcm"));
        format.setByteOrder(QAudioFormat::LittleEndian);
        format.setSampleRate(48000);
        format.setChannelCount(2);
        format.setSampleSize(16);
        format.setSampleType(QAudioFormat::SignedInt);
        const int bufferBytes = format.bytesForDuration(40000);
        QByteArray accepted;
        {
            AudioPlayback playback(format);
            playback.start();
            QTRY_COMPARE_WITH_TIMEOUT(playback.deviceName(), QStringLiteral("tundra_file"), 10000);
            playback.pause();
            int refused = 0;
            for (int i = 0; i < 20; ++i) {
                const QByteArray buffer(bufferBytes, char('A' + i));
                if (playback.write(buffer))
                    accepted += buffer;
                else
                    ++refused;
            }
            QCOMPARE(accepted.size(), format.bytesForDuration(AudioPlayback::MaxQueuedMs * 1000));
            QCOMPARE(refused, 20 - AudioPlayback::MaxQueuedMs / 40);
            QCOMPARE(playback.bytesWritten(), qint64(0));
            playback.start();
            QTRY_COMPARE_WITH_TIMEOUT(playback.bytesWritten(), qint64(accepted.size()), 10000);
            // Room again once the device took them.
            QVERIFY(playback.write(QByteArray(bufferBytes, 'z')));
            accepted += QByteArray(bufferBytes, 'z');
            QTRY_COMPARE_WITH_TIMEOUT(playback.bytesWritten(), qint64(accepted.size()), 10000);
        }
        QCOMPARE(m_devices.played(), accepted);
    }
};

QTEST_MAIN(tst_AudioPlayback)
#include "tst_audioplayback.moc"
