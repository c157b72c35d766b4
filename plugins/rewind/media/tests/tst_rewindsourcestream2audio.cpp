// Raw audio streams of other recorders played through RewindSourceMF: stored blocks at rate 1,
// silence of the same lengths at other rates (skipping blocks at 2), times snapped to the previous
// block's end, the stored format checked, frame step repeating a block.

#include "decodingtesthelpers.h"

#include "codecs/storedformats.h"
#include "rewindsourcestream2audio.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace decodingtest;
using playbacktest::Player;
using playbacktest::Recording;

namespace {
constexpr LONGLONG kBlock = 200000; // 20 ms
int g_counter = 0;

QByteArray waveFormat(WORD tag, WORD channels, DWORD rate, WORD bits, QByteArray extra = {})
{
    WAVEFORMATEX w{};
    w.wFormatTag = tag;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = bits;
    w.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    w.cbSize = static_cast<WORD>(extra.size());
    return bytes(&w, sizeof w) + extra;
}

// 20 ms stereo 16-bit blocks at 48 kHz (3840 bytes); jitter moves the stored times off the grid.
QVector<Record> blocks(int n, LONGLONG jitter = 0)
{
    QVector<Record> out;
    for (int i = 0; i < n; ++i) {
        Record r;
        r.time = kBase + i * kBlock + (i % 2 ? jitter : -jitter);
        const auto payload = archivetest::payload(i, 3840);
        r.data[QStringLiteral("Audio_1")] = bytes(payload.data(), int(payload.size()));
        out.append(r);
    }
    return out;
}

bool record(Recording *r, const QByteArray &format, const QVector<Record> &records)
{
    Attributes a;
    a.blobs[QStringLiteral("AudioFormat")] = format;
    // Stream type 7 too: the audio flag chooses the class.
    return createStream(r, QStringLiteral("audio-%1").arg(++g_counter), 7, a) &&
           SUCCEEDED(writeRecords(r, records));
}
} // namespace

class tst_RewindSourceStream2Audio : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void rates_data();
    void rates();
    void timesSnapToPreviousEnd();
    void storedFormat_data();
    void storedFormat();
    void frameStepRepeatsBlock();

private:
    QTemporaryDir m_root;
};

void tst_RewindSourceStream2Audio::initTestCase()
{
    QVERIFY(m_root.isValid());
    QLoggingCategory::setFilterRules(
        QStringLiteral("Multimedia.Rewind.*.debug=false\nMultimedia.Rewind.*.info=false"));
    archivetest::useRoot(m_root.path());
}

void tst_RewindSourceStream2Audio::rates_data()
{
    QTest::addColumn<float>("rate");
    QTest::addColumn<bool>("data");
    QTest::addColumn<int>("step");
    QTest::newRow("1") << 1.0f << true << 1;
    QTest::newRow("0.5: silence") << 0.5f << false << 1;
    QTest::newRow("1.5: silence") << 1.5f << false << 1;
    QTest::newRow("1.75: silence, every second block") << 1.75f << false << 2;
    QTest::newRow("2: silence, every second block") << 2.0f << false << 2;
    QTest::newRow("4: silence, every fourth block") << 4.0f << false << 4;
}

void tst_RewindSourceStream2Audio::rates()
{
    QFETCH(float, rate);
    QFETCH(bool, data);
    QFETCH(int, step);
    const QVector<Record> stored = blocks(40);
    Recording r;
    QVERIFY(record(&r, waveFormat(1, 2, 48000, 16), stored));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond, true), S_OK);
    QVERIFY(dynamic_cast<CRewindSourceStream2Audio *>(p.source->stream().get()));
    QCOMPARE(p.rateControl()->SetRate(FALSE, rate), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 40 / step);
    for (int i = 0; i < p.samples.size(); ++i) {
        const int n = i * step;
        const QByteArray &block = stored[n].data[QStringLiteral("Audio_1")];
        QCOMPARE(p.samples[i].bytes, data ? block : QByteArray(block.size(), '\0'));
        QCOMPARE(p.samples[i].position, stored[n].time);
        QCOMPARE(p.samples[i].time, n * kBlock);
        QCOMPARE(p.samples[i].duration, kBlock);
    }
}

void tst_RewindSourceStream2Audio::timesSnapToPreviousEnd()
{
    // 0.02 ms off the grid either way (0.04 ms between neighbours): placed at the previous block's end;
    // 0.2 ms off: kept.
    for (LONGLONG jitter : {LONGLONG(200), LONGLONG(2000)}) {
        const QVector<Record> stored = blocks(10, jitter);
        Recording r;
        QVERIFY(record(&r, waveFormat(1, 2, 48000, 16), stored));
        Player p;
        QCOMPARE(p.open(r, kBase - kBlock, kBase + 10 * kSecond, true), S_OK);
        QCOMPARE(p.start(0), S_OK);
        QVERIFY(p.playToEnd());
        QCOMPARE(p.samples.size(), 10);
        for (int i = 1; i < 10; ++i) {
            const LONGLONG expected =
                jitter < 1000 ? p.samples[i - 1].time + kBlock : stored[i].time - (kBase - kBlock);
            QCOMPARE(p.samples[i].time, expected);
        }
    }
}

void tst_RewindSourceStream2Audio::storedFormat_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<HRESULT>("expected");
    const HRESULT invalid = nyx::codecs::kInvalidFormat;
    QTest::newRow("shorter than 18 bytes") << waveFormat(1, 2, 48000, 16).left(16) << invalid;
    QByteArray noRate = waveFormat(1, 2, 48000, 16);
    std::memset(noRate.data() + 8, 0, 4);
    QTest::newRow("average byte rate 0") << noRate << invalid;
    QTest::newRow("no channels") << waveFormat(1, 0, 48000, 16) << invalid;
    QTest::newRow("with extra format bytes")
        << waveFormat(0xFFFE, 2, 48000, 16, QByteArray(22, '\x11')) << HRESULT(S_OK);
    QTest::newRow("six channels") << waveFormat(1, 6, 48000, 16) << HRESULT(S_OK);
}

void tst_RewindSourceStream2Audio::storedFormat()
{
    QFETCH(QByteArray, format);
    QFETCH(HRESULT, expected);
    Recording r;
    QVERIFY(record(&r, format, blocks(5)));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond, true), expected);
    if (FAILED(expected)) {
        QVERIFY(!p.source->stream());
        return;
    }
    const auto *wave = reinterpret_cast<const WAVEFORMATEX *>(format.constData());
    CComPtr<IMFMediaType> type = currentType(p.source);
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    QVERIFY(subtype == (wave->wFormatTag == 1 ? MFAudioFormat_PCM : MFAudioFormat_Float));
    QCOMPARE(MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0), std::min<UINT32>(wave->nChannels, 2));
    QCOMPARE(MFGetAttributeUINT32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), UINT32(wave->nAvgBytesPerSec));
    QCOMPARE(MFGetAttributeUINT32(type, MF_MT_AUDIO_BLOCK_ALIGNMENT, 0), UINT32(wave->nBlockAlign));
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 5);
    // Durations from the stored byte rate, rounded.
    const LONGLONG duration = (3840LL * 10000000 + wave->nAvgBytesPerSec / 2) / wave->nAvgBytesPerSec;
    QCOMPARE(p.samples[0].duration, duration);
}

void tst_RewindSourceStream2Audio::frameStepRepeatsBlock()
{
    const QVector<Record> stored = blocks(20);
    Recording r;
    QVERIFY(record(&r, waveFormat(1, 2, 48000, 16), stored));
    Player p;
    QCOMPARE(p.open(r, kBase + 5 * kBlock, kBase + 10 * kSecond, true), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(take(p, 3));
    QCOMPARE(p.samples.last().position, stored[7].time);
    QVERIFY(frameStepTwice(p));
    for (int i = 3; i < 5; ++i) {
        QCOMPARE(p.samples[i].position, stored[7].time);
        QCOMPARE(p.samples[i].bytes, QByteArray(3840, '\0')); // silence away from rate 1
    }
}

QTEST_GUILESS_MAIN(tst_RewindSourceStream2Audio)
#include "tst_rewindsourcestream2audio.moc"
