// The H.264 decoder and colour converter objects on a real archive folder, against a reference decode
// of the same access units with libavcodec and libswscale.

#include "archivesample.h"
#include "codecs/codechooks.h"
#include "codecs/codecs.h"
#include "com/com.h"
#include "craftedh264.h"
#include "mediasamples.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <numeric>
#include <random>

using namespace archivesample;
namespace hooks = nyx::codecs::hooks;

namespace {
constexpr LONGLONG kFrame = 400000; // 25 fps in 100 ns
constexpr int kWidth = 320, kHeight = 240;
constexpr int kGuard = 256;

LONGLONG frameTime(int n)
{
    return kBase + n * kFrame;
}

std::vector<Record> records(const mediasamples::Encoded &encoded, int first = 0, int count = -1)
{
    std::vector<Record> result;
    const int end = count < 0 ? int(encoded.packets.size()) : first + count;
    for (int i = first; i < end; ++i)
        result.push_back({frameTime(i), encoded.packets[i], encoded.keys[i]});
    return result;
}

QByteArray digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

struct Decoder
{
    CComPtr<IH264Decoder> decoder;
    CComPtr<IColorConverter> converter;
    HRESULT configured = E_FAIL;

    explicit Decoder(const GUID &stream)
    {
        decoder.CoCreateInstance(CLSID_H264Decoder);
        converter.CoCreateInstance(CLSID_ColorConverter);
        CComPtr<IH264DecoderConfig> config;
        if (decoder && SUCCEEDED(decoder.QueryInterface(&config)))
            configured = config->configure(0, -1, 0, &stream, 2, 24, 1);
    }
    // Decodes the frame at the time and converts it to NV12 in a buffer of exactly width x height; a guard
    // behind it must stay as it was (libswscale carries no sanitizer checks).
    HRESULT nv12(LONGLONG time, QByteArray *out, DecodedFrame *record = nullptr, int width = kWidth,
                 int height = kHeight)
    {
        DecodedFrame frame{};
        HRESULT hr = decoder->decodeFrame(time, &frame);
        if (record)
            *record = frame;
        if (hr != S_OK)
            return hr;
        const int size = width * height * 3 / 2;
        QByteArray buffer(size + kGuard, '\x5A');
        BYTE *planes[4] = {reinterpret_cast<BYTE *>(buffer.data()),
                           reinterpret_cast<BYTE *>(buffer.data()) + width * height, nullptr, nullptr};
        const UINT32 pitches[4] = {UINT32(width), UINT32(width), 0, 0};
        hr = converter->convert(planes, pitches, frame.planes, frame.pitches, frame.width, frame.height, 24,
                                frame.format);
        if (buffer.mid(size) != QByteArray(kGuard, '\x5A'))
            return E_UNEXPECTED;
        *out = buffer.left(size);
        return hr;
    }
};
} // namespace

class tst_H264Decoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    CComPtr<IRewindServer> m_server;
    mediasamples::Encoded m_encoded;
    std::vector<QByteArray> m_reference; // NV12 digests in display order
    GUID m_stream = GUID_NULL;

    void checkFrame(Decoder &d, int n)
    {
        QByteArray nv12;
        DecodedFrame record{};
        QCOMPARE(d.nv12(frameTime(n), &nv12, &record), S_OK);
        QCOMPARE(record.frameTime, frameTime(n));
        QCOMPARE(
            mediasamples::readNumber(reinterpret_cast<const uint8_t *>(nv12.constData()), kWidth, kWidth), n);
        QCOMPARE(digest(nv12), m_reference[n]);
    }

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_ERROR);
        QVERIFY(m_root.isValid());
        useRoot(m_root.path());
        m_server = server();
        QVERIFY(m_server);
        m_encoded = mediasamples::encode({});
        QCOMPARE(int(m_encoded.packets.size()), 64);
        for (const auto &picture : mediasamples::decodeAll(AV_CODEC_ID_H264, m_encoded.packets))
            m_reference.push_back(digest(mediasamples::convert(picture.get(), AV_PIX_FMT_NV12)));
        QCOMPARE(int(m_reference.size()), 64);
        m_stream = createStream(m_server, {QStringLiteral("H264")});
        QCOMPARE(writeRecords(m_server, m_stream, records(m_encoded)), S_OK);
    }

    void configureRefusesBadArguments()
    {
        CComPtr<IH264DecoderConfig> config;
        QCOMPARE(config.CoCreateInstance(CLSID_H264Decoder), S_OK);
        const GUID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
        QCOMPARE(config->configure(0, 3, 0, &m_stream, 2, 24, 1), E_INVALIDARG);
        QCOMPARE(config->configure(0, -1, 7, &m_stream, 2, 24, 1), E_INVALIDARG);
        QCOMPARE(config->configure(0, -1, 0, &m_stream, 2, 5, 1), E_INVALIDARG);
        QCOMPARE(config->configure(0, -1, 0, nullptr, 2, 24, 1), E_POINTER);
        QVERIFY(FAILED(config->configure(0, -1, 0, &unknown, 2, 24, 1)));
        CComPtr<IH264Decoder> decoder;
        QCOMPARE(config.QueryInterface(&decoder), S_OK);
        DecodedFrame frame{};
        QCOMPARE(decoder->decodeFrame(frameTime(0), &frame), E_NOT_VALID_STATE);
    }

    void streamInfo_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<bool>("interlaced");
        QTest::addColumn<double>("rate");
        QTest::newRow("rate from the SPS") << -1.0 << false << 25.0;
        QTest::newRow("stored rate wins") << 50.0 << false << 50.0;
        QTest::newRow("stored 0 ignored") << 0.0 << false << 25.0;
        QTest::newRow("stored huge ignored") << 1e9 << false << 25.0;
        QTest::newRow("stored 1e-300 ignored") << 1e-300 << false << 25.0;
        QTest::newRow("interlaced") << -1.0 << true << 25.0;
    }
    void streamInfo()
    {
        QFETCH(double, stored);
        QFETCH(bool, interlaced);
        QFETCH(double, rate);
        mediasamples::EncoderSettings settings;
        settings.frames = 8;
        settings.interlaced = interlaced;
        const auto encoded = mediasamples::encode(settings);
        const GUID stream = createStream(m_server, {QTest::currentDataTag(), 7, stored});
        QCOMPARE(writeRecords(m_server, stream, records(encoded)), S_OK);
        Decoder d(stream);
        QCOMPARE(d.configured, S_OK);
        H264StreamInfo info{};
        QCOMPARE(d.decoder->getStreamInfo(&info), S_OK);
        QCOMPARE(info.frameRate, rate);
        QCOMPARE(info.progressive != 0, !interlaced);
        QCOMPARE(info.width, UINT32(kWidth));
        QCOMPARE(info.height, UINT32(kHeight));
        DecodedFrame record{};
        QByteArray nv12;
        QCOMPARE(d.nv12(frameTime(3), &nv12, &record), S_OK);
        QCOMPARE(record.fieldOrder, interlaced ? 1 : -1);
    }

    // Forward play decodes every frame exactly once and shows each frame's own picture.
    void sequentialPlayDecodesEachFrameOnce_data()
    {
        QTest::addColumn<bool>("dense");
        QTest::newRow("sparse video channel") << false;
        QTest::newRow("dense video channel") << true;
    }
    void sequentialPlayDecodesEachFrameOnce()
    {
        QFETCH(bool, dense);
        GUID stream = m_stream;
        if (dense) {
            stream = createStream(m_server, {QStringLiteral("Dense"), 7, -1, 0});
            QCOMPARE(writeRecords(m_server, stream, records(m_encoded)), S_OK);
        }
        const auto before = hooks::decodedPictures();
        const auto unitsBefore = hooks::decodedAccessUnits();
        Decoder d(stream);
        QCOMPARE(d.configured, S_OK);
        H264StreamInfo info{};
        QCOMPARE(d.decoder->getStreamInfo(&info), S_OK);
        for (int n = 0; n < 64; ++n)
            checkFrame(d, n);
        QCOMPARE(hooks::decodedPictures() - before, 64u);
        QCOMPARE(hooks::decodedAccessUnits() - unitsBefore, 64u);
        // A time between two frames shows the earlier one; the same frame again decodes nothing.
        QByteArray nv12;
        DecodedFrame record{};
        QCOMPARE(d.nv12(frameTime(63) + kFrame / 2, &nv12, &record), S_OK);
        QCOMPARE(record.frameTime, frameTime(63));
        QCOMPARE(hooks::decodedPictures() - before, 64u);
    }

    void seek_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("pictures"); // decoded for the seek
        QTest::newRow("back into the first group") << 40 << 3 << 4;
        QTest::newRow("onto a key frame") << 2 << 50 << 1;
        QTest::newRow("past a key frame") << 2 << 30 << 6;
        QTest::newRow("forward within a group") << 26 << 30 << 4;
        QTest::newRow("same frame") << 30 << 30 << 0;
        QTest::newRow("last frame") << 0 << 63 << 14;
        QTest::newRow("one frame back") << 31 << 30 << 6;
    }
    void seek()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, pictures);
        Decoder d(m_stream);
        QCOMPARE(d.configured, S_OK);
        checkFrame(d, from);
        const auto before = hooks::decodedPictures();
        checkFrame(d, to);
        QCOMPARE(int(hooks::decodedPictures() - before), pictures);
    }

    // Any order of times gives each frame its own picture.
    void shuffledOrder()
    {
        std::vector<int> order(64);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(16));
        Decoder d(m_stream);
        for (int n : order)
            checkFrame(d, n);
    }

    // Key frame after key frame decodes only the key frames once the pattern shows.
    void keyFramesOnly()
    {
        Decoder d(m_stream);
        checkFrame(d, 0);
        for (int n : {25, 50}) {
            const auto before = hooks::decodedAccessUnits();
            checkFrame(d, n);
            QCOMPARE(int(hooks::decodedAccessUnits() - before), 1);
        }
        // Back to forward play from there.
        for (int n = 51; n < 56; ++n)
            checkFrame(d, n);
        checkFrame(d, 25);
        checkFrame(d, 26);
    }

    void noFrameAtTheTime()
    {
        Decoder d(m_stream);
        DecodedFrame frame{};
        QCOMPARE(d.decoder->decodeFrame(kBase - 1, &frame), nyx::codecs::kFrameNotFound);
        QCOMPARE(d.decoder->decodeFrame(frameTime(5), nullptr), E_POINTER);
    }

    // A recording cut in the middle of a group: frames before its first key frame have nothing to
    // decode from; the key frame and what follows decode as in the whole stream.
    void framesBeforeTheFirstKeyFrame()
    {
        const bool marks = QTest::currentDataTag() == QByteArray("marked");
        const GUID stream = createStream(m_server, {QStringLiteral("Cut ") + QTest::currentDataTag()});
        QCOMPARE(writeRecords(m_server, stream, records(m_encoded, 10, 54), nullptr, marks), S_OK);
        Decoder d(stream);
        QCOMPARE(d.configured, S_OK);
        DecodedFrame frame{};
        QCOMPARE(d.decoder->decodeFrame(frameTime(12), &frame), S_FALSE);
        checkFrame(d, 27);
        checkFrame(d, 25);
        QCOMPARE(d.decoder->decodeFrame(frameTime(24), &frame), S_FALSE);
        H264StreamInfo info{};
        QCOMPARE(d.decoder->getStreamInfo(&info), S_OK);
        QCOMPARE(info.width, UINT32(kWidth));
    }
    void framesBeforeTheFirstKeyFrame_data()
    {
        QTest::addColumn<int>("unused");
        QTest::newRow("marked") << 0;
        QTest::newRow("IDR found in the data") << 0;
    }

    // A record without a picture in it (damaged data, or parameter sets only) has no picture to show; its
    // group shows what decodes, and the groups after it their own frames.
    void recordWithoutPicture_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("no start code") << QByteArray(700, '\x3C');
        const QByteArray &key = m_encoded.packets[0];
        const int sei = key.indexOf(QByteArray("\x00\x00\x01\x06", 4));
        QVERIFY(sei > 8);
        QTest::newRow("parameter sets only") << key.left(sei);
    }
    void recordWithoutPicture()
    {
        QFETCH(QByteArray, record);
        std::vector<Record> all = records(m_encoded);
        all[30].video = record;
        const GUID stream = createStream(m_server, {QStringLiteral("Damaged ") + QTest::currentDataTag()});
        QCOMPARE(writeRecords(m_server, stream, all), S_OK);
        Decoder d(stream);
        checkFrame(d, 24);
        DecodedFrame frame{};
        for (int n = 25; n < 50; ++n)
            QCOMPARE(d.decoder->decodeFrame(frameTime(n), &frame), n == 30 ? S_FALSE : S_OK);
        for (int n = 50; n < 64; ++n)
            checkFrame(d, n);
    }

    // A stream announcing pictures larger than 8192 x 4320 (a hostile camera) is refused before a
    // picture of its size is allocated, with the reason said.
    void picturesTooLarge_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("refused");
        QTest::newRow("16000 x 16000") << 16000 << 16000 << true;
        QTest::newRow("8192 x 4336") << 8192 << 4336 << true;
        QTest::newRow("8208 x 16") << 8208 << 16 << true;
        QTest::newRow("4320 x 8192") << 4320 << 8192 << false;
    }
    void picturesTooLarge()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, refused);
        const QByteArray unit = craftedh264::accessUnit(unsigned(width), unsigned(height));
        std::vector<Record> all;
        for (int n = 0; n < 4; ++n)
            all.push_back({frameTime(n), unit, true});
        const GUID stream = createStream(m_server, {QStringLiteral("Huge ") + QTest::currentDataTag()});
        QCOMPARE(writeRecords(m_server, stream, all), S_OK);
        Decoder d(stream);
        QCOMPARE(d.configured, S_OK);
        if (refused)
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QStringLiteral("announces %1x%2 pictures.*larger than the "
                                                                "8192x4320 the decoder takes: refused")
                                                     .arg(width)
                                                     .arg(height)));
        H264StreamInfo info{};
        const HRESULT hr = d.decoder->getStreamInfo(&info);
        QCOMPARE(hr == nyx::codecs::kPictureTooLarge, refused);
        DecodedFrame frame{};
        QCOMPARE(d.decoder->decodeFrame(frameTime(2), &frame) == nyx::codecs::kPictureTooLarge, refused);
    }

    // While the stream is recorded, a frame whose picture needs frames not yet written is pending;
    // once recording stops it decodes.
    void recordedStreamIsPending()
    {
        const GUID stream = createStream(m_server, {QStringLiteral("Recording")});
        CComPtr<IArchiveWriter> writer;
        QCOMPARE(writeRecords(m_server, stream, records(m_encoded, 0, 25), std::addressof(writer)), S_OK);
        Decoder d(stream);
        QCOMPARE(d.configured, S_OK);
        // The archive lists frames once their bytes are on the disk, a moment after they are written.
        DecodedFrame frame{};
        QTRY_COMPARE_WITH_TIMEOUT(d.decoder->decodeFrame(frameTime(24), &frame), E_PENDING, 10000);
        checkFrame(d, 10);
        QCOMPARE(d.decoder->decodeFrame(frameTime(24), &frame), E_PENDING);
        QCOMPARE(writer->Stop(), S_OK);
        checkFrame(d, 23);
        checkFrame(d, 24);
    }

    void hookAnswers_data()
    {
        QTest::addColumn<HRESULT>("forced");
        QTest::newRow("pending") << E_PENDING;
        QTest::newRow("no frame") << S_FALSE;
        QTest::newRow("failure") << E_FAIL;
    }
    void hookAnswers()
    {
        QFETCH(HRESULT, forced);
        Decoder d(m_stream);
        checkFrame(d, 5);
        int asked = 0;
        {
            hooks::ScopedDecodeHook hook([&](LONGLONG time) {
                ++asked;
                return time == frameTime(6) ? forced : S_OK;
            });
            DecodedFrame frame{};
            QCOMPARE(d.decoder->decodeFrame(frameTime(6), &frame), forced);
            QCOMPARE(d.decoder->decodeFrame(frameTime(6), &frame), forced);
            checkFrame(d, 7);
        }
        QCOMPARE(asked, 3);
        // The forced answers left the decoding where it was: going on decodes one picture a frame.
        const auto before = hooks::decodedPictures();
        checkFrame(d, 8);
        QCOMPARE(int(hooks::decodedPictures() - before), 1);
    }

    // A stream whose size grows: the larger frames are refused by a destination sized for the first.
    void largerFrameNeverOverrunsTheDestination()
    {
        mediasamples::EncoderSettings small, large;
        small.frames = large.frames = 5;
        large.width = 640;
        large.height = 480;
        large.firstNumber = 5;
        const auto first = mediasamples::encode(small), second = mediasamples::encode(large);
        std::vector<Record> all = records(first);
        for (int i = 0; i < 5; ++i)
            all.push_back({frameTime(5 + i), second.packets[i], second.keys[i]});
        const GUID stream = createStream(m_server, {QStringLiteral("Growing")});
        QCOMPARE(writeRecords(m_server, stream, all), S_OK);
        Decoder d(stream);
        H264StreamInfo info{};
        QCOMPARE(d.decoder->getStreamInfo(&info), S_OK);
        QCOMPARE(info.width, UINT32(kWidth));

        QByteArray nv12;
        DecodedFrame record{};
        QCOMPARE(d.nv12(frameTime(7), &nv12, &record), E_NOT_SUFFICIENT_BUFFER);
        QCOMPARE(record.width, 640u);
        QCOMPARE(nv12, QByteArray(kWidth * kHeight * 3 / 2, '\x5A'));
        // Sized for the frame, it converts.
        QCOMPARE(d.nv12(frameTime(7), &nv12, &record, 640, 480), S_OK);
        QCOMPARE(mediasamples::readNumber(reinterpret_cast<const uint8_t *>(nv12.constData()), 640, 640), 7);
    }
};

QTEST_GUILESS_MAIN(tst_H264Decoder)
#include "tst_h264decoder.moc"
