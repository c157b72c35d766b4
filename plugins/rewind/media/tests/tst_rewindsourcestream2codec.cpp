// Codec-compressed video streams of other recorders played through RewindSourceMF: MJPG frames come
// out as the reference decode in NV12 with the field order of their "FieldOrder" records, unusable
// stored formats are refused, a frame of another size never overruns, frame step repeats a frame.

#include "decodingtesthelpers.h"

#include "codecs/storedformats.h"
#include "rewindsourcestream2codec.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace decodingtest;
using playbacktest::Player;
using playbacktest::Recording;

namespace {
constexpr LONGLONG kFrame = 400000;
int g_counter = 0;

QByteArray videoFormat(LONG width, LONG height, DWORD compression = MAKEFOURCC('M', 'J', 'P', 'G'),
                       DWORD size = sizeof(BITMAPINFOHEADER))
{
    BITMAPINFOHEADER h{};
    h.biSize = size;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 16;
    h.biCompression = compression;
    return bytes(&h, sizeof h);
}

QByteArray fieldOrder(qint32 order)
{
    return bytes(&order, sizeof order);
}

struct Mjpg
{
    mediasamples::Encoded encoded;
    std::vector<QByteArray> reference; // NV12 through YUY2, as the stream converts
};

Mjpg encodeMjpg(int width, int height, int frames, int firstNumber = 0)
{
    mediasamples::EncoderSettings s;
    s.codec = "mjpeg";
    s.format = AV_PIX_FMT_YUVJ422P;
    s.width = width;
    s.height = height;
    s.frames = frames;
    s.firstNumber = firstNumber;
    Mjpg m;
    m.encoded = mediasamples::encode(s);
    for (const auto &p : mediasamples::decodeAll(AV_CODEC_ID_MJPEG, m.encoded.packets, {}, width, height))
        m.reference.push_back(
            mediasamples::yuy2ToNv12(mediasamples::convert(p.get(), AV_PIX_FMT_YUYV422), width, height));
    return m;
}

bool record(Recording *r, const Attributes &a, const QVector<Record> &records)
{
    return createStream(r, QStringLiteral("codec-%1").arg(++g_counter), 3, a) &&
           SUCCEEDED(writeRecords(r, records));
}

QVector<Record> frames(const Mjpg &m, LONGLONG offset = 0)
{
    QVector<Record> out;
    for (std::size_t i = 0; i < m.encoded.packets.size(); ++i) {
        Record rec;
        rec.time = kBase + offset + LONGLONG(i) * kFrame;
        rec.data[QStringLiteral("Video_1")] = m.encoded.packets[i];
        out.append(rec);
    }
    return out;
}

Attributes mjpgAttributes(int width, int height)
{
    Attributes a;
    a.frameRate = 25;
    a.blobs[QStringLiteral("VideoFormat")] = videoFormat(width, height);
    return a;
}

} // namespace

class tst_RewindSourceStream2Codec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void decodesWithFieldOrder();
    void storedFormatRefused_data();
    void storedFormatRefused();
    void largerFrameNeverOverruns();
    void skipsByRateAndQuality_data();
    void skipsByRateAndQuality();
    void frameStepShowsCurrentFrame();

private:
    QTemporaryDir m_root;
    Mjpg m_clip;
};

void tst_RewindSourceStream2Codec::initTestCase()
{
    QVERIFY(m_root.isValid());
    QLoggingCategory::setFilterRules(
        QStringLiteral("Multimedia.Rewind.*.debug=false\nMultimedia.Rewind.*.info=false"));
    archivetest::useRoot(m_root.path());
    av_log_set_level(AV_LOG_ERROR);
    m_clip = encodeMjpg(320, 240, 40);
    QCOMPARE(int(m_clip.reference.size()), 40);
}

void tst_RewindSourceStream2Codec::decodesWithFieldOrder()
{
    QVector<Record> records = frames(m_clip);
    // Upper field first until frame 10 (no record), progressive from 10, lower first from 20, upper
    // first again from 30; a record of another size or value changes nothing.
    records[10].blobs[QStringLiteral("FieldOrder")] = fieldOrder(-1);
    records[15].blobs[QStringLiteral("FieldOrder")] = fieldOrder(7);
    records[20].blobs[QStringLiteral("FieldOrder")] = fieldOrder(0);
    records[25].blobs[QStringLiteral("FieldOrder")] = QByteArray(2, '\1');
    records[30].blobs[QStringLiteral("FieldOrder")] = fieldOrder(1);
    Recording r;
    QVERIFY(record(&r, mjpgAttributes(320, 240), records));

    // Captured with the sample's flags: the player keeps bytes and times only.
    struct Flags
    {
        UINT32 interlaced, bottomFirst, singleField, clean;
    };
    QVector<Flags> flags;
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    auto *codec = dynamic_cast<CRewindSourceStream2Codec *>(p.source->stream().get());
    QVERIFY(codec);
    QCOMPARE(codec->interlaceMode(), 3u);
    QCOMPARE(MFGetAttributeUINT32(currentType(p.source), MF_MT_INTERLACE_MODE, 0), 3u);
    p.source->setQuality(1.0);
    p.streamEvents->onEvent = [&, previous = p.streamEvents->onEvent](sourcetest::Event &e) {
        if (e.type == MEMediaSample) {
            CComPtr<IMFSample> s;
            e.object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&s));
            flags.append({MFGetAttributeUINT32(s, MFSampleExtension_Interlaced, 9),
                          MFGetAttributeUINT32(s, MFSampleExtension_BottomFieldFirst, 9),
                          MFGetAttributeUINT32(s, MFSampleExtension_SingleField, 9),
                          MFGetAttributeUINT32(s, MFSampleExtension_CleanPoint, 9)});
        }
        previous(e);
    };
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 40);
    for (int i = 0; i < 40; ++i) {
        QVERIFY2(p.samples[i].bytes == m_clip.reference[std::size_t(i)], qPrintable(QString::number(i)));
        QCOMPARE(p.samples[i].time, i * kFrame);
        QCOMPARE(p.samples[i].duration, kFrame);
        const bool progressive = i >= 10 && i < 20;
        const bool bottomFirst = i >= 20 && i < 30;
        QCOMPARE(flags[i].interlaced, progressive ? 0u : 1u);
        QCOMPARE(flags[i].bottomFirst, progressive || bottomFirst ? 1u : 0u);
        QCOMPARE(flags[i].singleField, 0u);
        QCOMPARE(flags[i].clean, 1u);
    }
}

void tst_RewindSourceStream2Codec::storedFormatRefused_data()
{
    QTest::addColumn<double>("frameRate");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<HRESULT>("expected");
    const HRESULT invalid = nyx::codecs::kInvalidFormat;
    QTest::newRow("frame rate 0") << 0.0 << videoFormat(320, 240) << invalid;
    QTest::newRow("frame rate 5000") << 5000.0 << videoFormat(320, 240) << invalid;
    QTest::newRow("frame rate 1e-300") << 1e-300 << videoFormat(320, 240) << invalid;
    QTest::newRow("no frame rate") << -1.0 << videoFormat(320, 240) << HRESULT_FROM_WIN32(1168);
    QTest::newRow("negative width") << 25.0 << videoFormat(-320, 240) << invalid;
    QTest::newRow("odd height") << 25.0 << videoFormat(320, 241) << invalid;
    QTest::newRow("negative height") << 25.0 << videoFormat(320, -240) << invalid;
    QTest::newRow("huge size") << 25.0 << videoFormat(0x40000000, 0x40000000) << invalid;
    QTest::newRow("header larger than its blob")
        << 25.0 << videoFormat(320, 240, MAKEFOURCC('M', 'J', 'P', 'G'), 400) << invalid;
    QTest::newRow("no codec for it") << 25.0 << videoFormat(320, 240, MAKEFOURCC('X', 'Y', 'Z', 'W'))
                                     << HRESULT(E_INVALIDARG);
}

void tst_RewindSourceStream2Codec::storedFormatRefused()
{
    QFETCH(double, frameRate);
    QFETCH(QByteArray, format);
    QFETCH(HRESULT, expected);
    Attributes a;
    a.frameRate = frameRate;
    a.blobs[QStringLiteral("VideoFormat")] = format;
    Recording r;
    QVERIFY(record(&r, a, frames(m_clip)));
    HRESULT hr = E_FAIL;
    CComPtr<RewindSourceMF> source(new RewindSourceMF(hr));
    QCOMPARE(source->initialize(r.server, r.stream, false, -1, 0, kBase, kBase + kSecond), expected);
    QVERIFY(!source->stream());
    source->Shutdown();
}

void tst_RewindSourceStream2Codec::largerFrameNeverOverruns()
{
    // Frames 20.. are stored at twice the size the format says: the codec refuses them and the
    // previous picture is shown again, within the sample's buffer.
    const Mjpg larger = encodeMjpg(640, 480, 10, 20);
    QVector<Record> records = frames(m_clip).mid(0, 20) + frames(larger, 20 * kFrame);
    Recording r;
    QVERIFY(record(&r, mjpgAttributes(320, 240), records));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 30);
    for (int i = 0; i < 30; ++i)
        QVERIFY(p.samples[i].bytes == m_clip.reference[std::size_t(std::min(i, 19))]);
}

void tst_RewindSourceStream2Codec::skipsByRateAndQuality_data()
{
    QTest::addColumn<float>("rate");
    QTest::addColumn<double>("quality");
    QTest::addColumn<int>("step");
    // Height 240 doubles the quality; codec streams have no key-frame-only play.
    QTest::newRow("preview quality") << 1.0f << 0.04 << 4;
    QTest::newRow("view quality, small picture: full") << 1.0f << 0.3 << 1;
    QTest::newRow("view quality") << 1.0f << 0.2 << 2;
    QTest::newRow("rate 2: every second frame") << 2.0f << 1.0 << 2;
    QTest::newRow("rate 3: every third frame") << 3.0f << 1.0 << 3;
}

void tst_RewindSourceStream2Codec::skipsByRateAndQuality()
{
    QFETCH(float, rate);
    QFETCH(double, quality);
    QFETCH(int, step);
    Recording r;
    QVERIFY(record(&r, mjpgAttributes(320, 240), frames(m_clip)));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(quality);
    QCOMPARE(p.rateControl()->SetRate(FALSE, rate), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), (40 + step - 1) / step);
    for (int i = 0; i < p.samples.size(); ++i) {
        QCOMPARE(p.samples[i].position, kBase + i * step * kFrame);
        QVERIFY(p.samples[i].bytes == m_clip.reference[std::size_t(i * step)]);
    }
}

void tst_RewindSourceStream2Codec::frameStepShowsCurrentFrame()
{
    Recording r;
    QVERIFY(record(&r, mjpgAttributes(320, 240), frames(m_clip)));
    Player p;
    QCOMPARE(p.open(r, kBase + 10 * kFrame, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(take(p, 3));
    const playbacktest::Played last = p.samples.last();
    QCOMPARE(last.position, kBase + 12 * kFrame);
    QVERIFY(frameStepTwice(p));
    for (int i = 3; i < 5; ++i) {
        QCOMPARE(p.samples[i].position, last.position);
        QCOMPARE(p.samples[i].time, 0);
        QVERIFY(p.samples[i].bytes == m_clip.reference[12]);
    }
}

QTEST_GUILESS_MAIN(tst_RewindSourceStream2Codec)
#include "tst_rewindsourcestream2codec.moc"
