// H.264 streams of other recorders played through RewindSourceMF: NV12 samples equal a reference
// decode, seeks land on any frame, key-frame-only play and the skip table deliver the right frames,
// frame step shows the current frame again, busy and undecodable answers, a resolution change.

#include "decodingtesthelpers.h"

#include "codecs/codechooks.h"
#include "playbacktuning.h"
#include "rewindsourcestream2avc.h"

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <functional>

using namespace decodingtest;
using playbacktest::Player;
using playbacktest::Recording;

namespace {
constexpr LONGLONG kFrame = 400000;
int g_counter = 0;

struct Clip
{
    int width = 320;
    int height = 240;
    mediasamples::Encoded encoded;
    std::vector<QByteArray> reference; // NV12 pictures in display order
};

Clip makeClip(int width, int height, int frames, int firstNumber = 0)
{
    Clip c;
    c.width = width;
    c.height = height;
    mediasamples::EncoderSettings s;
    s.width = width;
    s.height = height;
    s.frames = frames;
    s.firstNumber = firstNumber;
    c.encoded = mediasamples::encode(s);
    for (const auto &picture : mediasamples::decodeAll(AV_CODEC_ID_H264, c.encoded.packets))
        c.reference.push_back(mediasamples::convert(picture.get(), AV_PIX_FMT_NV12));
    return c;
}

// How a recorder lays the frames out: the time of the n-th frame, whether it is marked a key frame
// (given whether it is one), and the frames left out at the start.
struct Layout
{
    std::function<LONGLONG(int)> time = [](int n) { return kBase + n * kFrame; };
    std::function<bool(int, bool)> mark = [](int, bool key) { return key; };
    int skip = 0;
};

// Writes the clips one after the other as a type 7 stream: access units in "Video_1", key frames marked.
bool record(Recording *r, const QVector<const Clip *> &clips, const Layout &layout = {})
{
    if (!createStream(r, QStringLiteral("avc-%1").arg(++g_counter), 7, {}))
        return false;
    QVector<Record> records;
    int n = 0;
    for (const Clip *c : clips)
        for (std::size_t i = 0; i < c->encoded.packets.size(); ++i, ++n) {
            if (n < layout.skip)
                continue;
            Record rec;
            rec.time = layout.time(n);
            rec.data[QStringLiteral("Video_1")] = c->encoded.packets[i];
            if (layout.mark(n, c->encoded.keys[i]))
                rec.blobs[QStringLiteral("KeyFrame")] = QByteArray();
            records.append(rec);
        }
    return SUCCEEDED(writeRecords(r, records));
}

int numberOf(const playbacktest::Played &p, int width)
{
    return mediasamples::readNumber(reinterpret_cast<const uint8_t *>(p.bytes.constData()), width, width);
}

QVector<int> numbers(const QVector<playbacktest::Played> &played, int width)
{
    QVector<int> out;
    for (const auto &p : played)
        out.append(numberOf(p, width));
    return out;
}
} // namespace

class tst_RewindSourceStream2AVC : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { PlaybackTuning::current() = PlaybackTuning(); }
    void decodesAsReference();
    void seeks_data();
    void seeks();
    void framePattern_data();
    void framePattern();
    void frameStepShowsCurrentFrame();
    void busyAndUndecodable();
    void playsWhatCanBePlayed_data();
    void playsWhatCanBePlayed();
    void frameStepPassesOverUndecodableFrames();
    void resolutionChangeRenewsType();
    void decoderChoiceOutOfRange();

private:
    QTemporaryDir m_root;
    Clip m_clip;
};

void tst_RewindSourceStream2AVC::initTestCase()
{
    QVERIFY(m_root.isValid());
    QLoggingCategory::setFilterRules(
        QStringLiteral("Multimedia.Rewind.*.debug=false\nMultimedia.Rewind.*.info=false"));
    archivetest::useRoot(m_root.path());
    av_log_set_level(AV_LOG_ERROR);
    m_clip = makeClip(320, 240, 100);
    QCOMPARE(int(m_clip.reference.size()), 100);
}

void tst_RewindSourceStream2AVC::decodesAsReference()
{
    Recording r;
    QVERIFY(record(&r, {&m_clip}));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QVERIFY(dynamic_cast<CRewindSourceStream2AVC *>(p.source->stream().get()));
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 100);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(p.samples[i].time, i * kFrame);
        QCOMPARE(p.samples[i].position, kBase + i * kFrame);
        QCOMPARE(p.samples[i].duration, kFrame);
        QVERIFY2(p.samples[i].bytes == m_clip.reference[std::size_t(i)], qPrintable(QString::number(i)));
    }
    CComPtr<IMFMediaType> type = currentType(p.source);
    QVERIFY(type);
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    QVERIFY(subtype == MFVideoFormat_NV12);
    QCOMPARE(frameSize(type), QSize(320, 240));
    UINT32 num = 0, den = 0;
    MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &num, &den);
    QCOMPARE(num / den, 25u);
    QCOMPARE(MFGetAttributeUINT32(type, MF_MT_INTERLACE_MODE, 0), 2u);
}

void tst_RewindSourceStream2AVC::seeks_data()
{
    QTest::addColumn<int>("frame");
    QTest::addColumn<LONGLONG>("offset");
    QTest::newRow("key frame") << 50 << 50 * kFrame;
    QTest::newRow("B-frame mid GOP") << 37 << 37 * kFrame;
    QTest::newRow("between two frames") << 61 << 61 * kFrame + kFrame / 2;
    QTest::newRow("last frame") << 99 << 99 * kFrame;
}

void tst_RewindSourceStream2AVC::seeks()
{
    QFETCH(int, frame);
    QFETCH(LONGLONG, offset);
    Recording r;
    QVERIFY(record(&r, {&m_clip}));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(10 * kFrame), S_OK);
    QVERIFY(take(p, 3));
    QCOMPARE(numberOf(p.samples[0], 320), 10);
    // A seek while playing: the frame at the time comes next, decoded right, and play goes on from it.
    QCOMPARE(p.start(offset), S_OK);
    p.samples.clear();
    p.streamEvents->drain();
    p.samples.clear();
    QVERIFY(take(p, 2));
    QVERIFY(!p.samples.isEmpty());
    QCOMPARE(p.samples[0].position, kBase + frame * kFrame);
    QVERIFY(p.samples[0].bytes == m_clip.reference[std::size_t(frame)]);
    if (frame < 99)
        QVERIFY(p.samples[1].bytes == m_clip.reference[std::size_t(frame + 1)]);
}

void tst_RewindSourceStream2AVC::framePattern_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<float>("rate");
    QTest::addColumn<double>("quality");
    QTest::addColumn<bool>("force");
    QTest::addColumn<int>("step"); // 0: key frames only
    QTest::newRow("preview quality, 720") << 720 << 1.0f << 0.04 << false << 4;
    QTest::newRow("preview quality, 480") << 480 << 1.0f << 0.04 << false << 4;
    QTest::newRow("view quality, 720") << 720 << 1.0f << 0.3 << false << 2;
    QTest::newRow("view quality, 480: counts as full") << 480 << 1.0f << 0.3 << false << 1;
    QTest::newRow("full quality") << 720 << 1.0f << 0.6 << false << 1;
    QTest::newRow("rate 0.5") << 720 << 0.5f << 0.04 << false << 1;
    QTest::newRow("rate 1.5, view quality") << 720 << 1.5f << 0.3 << false << 2;
    QTest::newRow("rate 2: key frames") << 480 << 2.0f << 0.6 << false << 0;
    QTest::newRow("rate 10: key frames") << 480 << 10.0f << 0.6 << false << 0;
    QTest::newRow("forced preview: key frames") << 480 << 1.0f << 0.04 << true << 0;
    QTest::newRow("forced preview at rate 0.5: every frame") << 480 << 0.5f << 0.04 << true << 1;
}

void tst_RewindSourceStream2AVC::framePattern()
{
    QFETCH(int, height);
    QFETCH(float, rate);
    QFETCH(double, quality);
    QFETCH(bool, force);
    QFETCH(int, step);
    static QMap<int, Clip> clips;
    if (!clips.contains(height))
        clips[height] = makeClip(height * 4 / 3, height, 60);
    const Clip &clip = clips[height];
    PlaybackTuning::current().Force2IFrame4Preview = force;
    Recording r;
    QVERIFY(record(&r, {&clip}));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(quality);
    QCOMPARE(p.rateControl()->SetRate(FALSE, rate), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QVector<int> expected;
    for (int i = 0; i < 60; i += step ? step : 25)
        expected.append(i);
    QCOMPARE(numbers(p.samples, clip.width), expected);
    for (const auto &s : p.samples) {
        const int n = numberOf(s, clip.width);
        QCOMPARE(s.position, kBase + n * kFrame);
        QVERIFY(s.bytes == clip.reference[std::size_t(n)]);
    }
}

void tst_RewindSourceStream2AVC::frameStepShowsCurrentFrame()
{
    Recording r;
    QVERIFY(record(&r, {&m_clip}));
    Player p;
    const LONGLONG from = kBase + 30 * kFrame;
    QCOMPARE(p.open(r, from, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(5 * kFrame), S_OK);
    QVERIFY(take(p, 4));
    QCOMPARE(p.samples.size(), 4);
    const playbacktest::Played last = p.samples.last();
    QCOMPARE(numberOf(last, 320), 38);
    QVERIFY(frameStepTwice(p));
    for (int i = 4; i < 6; ++i) {
        QCOMPARE(p.samples[i].position, last.position);
        QCOMPARE(p.samples[i].time, 5 * kFrame); // the requested position
        QVERIFY(p.samples[i].bytes == last.bytes);
    }
    // Play goes on from there.
    QCOMPARE(p.rateControl()->SetRate(FALSE, 1.0f), S_OK);
    QVERIFY(take(p, 1));
    QCOMPARE(numberOf(p.samples.last(), 320), 39);
}

void tst_RewindSourceStream2AVC::busyAndUndecodable()
{
    Recording r;
    QVERIFY(record(&r, {&m_clip}));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(take(p, 1));
    QCOMPARE(numberOf(p.samples[0], 320), 0);

    // Busy a few times: the frame still comes, decoded right.
    std::vector<LONGLONG> asked;
    std::mutex mutex;
    {
        int busy = 3;
        nyx::codecs::hooks::ScopedDecodeHook hook([&](LONGLONG t) {
            std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(t);
            return busy-- > 0 ? E_PENDING : S_OK;
        });
        QVERIFY(take(p, 1));
    }
    QCOMPARE(int(asked.size()), 4);
    QCOMPARE(asked.front(), kBase + kFrame);
    QCOMPARE(asked.back(), kBase + kFrame);
    QVERIFY(p.samples[1].bytes == m_clip.reference[1]);

    // Nothing decodable in 100 tries, each a frame further back: the frame is passed over.
    asked.clear();
    {
        nyx::codecs::hooks::ScopedDecodeHook hook([&](LONGLONG t) {
            std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(t);
            return asked.size() <= 100 ? S_FALSE : S_OK;
        });
        QVERIFY(take(p, 1));
    }
    QCOMPARE(int(asked.size()), 101);
    for (int i = 0; i < 100; ++i)
        QCOMPARE(asked[std::size_t(i)], kBase + 2 * kFrame - i * kFrame);
    QCOMPARE(asked[100], kBase + 3 * kFrame);
    QCOMPARE(numberOf(p.samples[2], 320), 3);
    QVERIFY(p.samples[2].bytes == m_clip.reference[3]);

    // Busy for longer than one read tries (a stream being recorded): the request is served again and
    // the frame comes when the decoder is ready.
    asked.clear();
    {
        nyx::codecs::hooks::ScopedDecodeHook hook([&](LONGLONG t) {
            std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(t);
            return asked.size() <= 150 ? E_PENDING : S_OK;
        });
        QVERIFY(take(p, 1, 30000));
    }
    QCOMPARE(int(asked.size()), 151);
    QVERIFY(std::all_of(asked.begin(), asked.end(), [](LONGLONG t) { return t == kBase + 4 * kFrame; }));
    QCOMPARE(p.samples.size(), 4);
    QVERIFY(p.samples[3].bytes == m_clip.reference[4]);
}

void tst_RewindSourceStream2AVC::playsWhatCanBePlayed_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QVector<int>>("expected"); // empty: all 100 frames
    QVector<int> odd;
    for (int i = 1; i < 100; i += 2)
        odd.append(i);
    // The second frame of each pair is the one shown at their time.
    QTest::newRow("frames sharing their times in pairs") << 0 << odd;
    QTest::newRow("key-frame mark on a P frame only, IDRs unmarked") << 1 << QVector<int>();
    QTest::newRow("last frame at the last archive time") << 2 << QVector<int>();
}

void tst_RewindSourceStream2AVC::playsWhatCanBePlayed()
{
    QFETCH(int, layout);
    QFETCH(QVector<int>, expected);
    Layout l;
    if (layout == 0)
        l.time = [](int n) { return kBase + (n / 2) * 2 * kFrame; };
    if (layout == 1)
        l.mark = [](int n, bool) { return n == 3; };
    if (layout == 2)
        l.time = [](int n) { return INT64_MAX - (99 - n) * kFrame; };
    // What could not be shown is said.
    if (layout == 0)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("frames sharing their times")));
    if (layout == 1)
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("marks frame \\d+ .* holds no intra picture")));
    const LONGLONG from = l.time(0);
    if (expected.isEmpty())
        for (int i = 0; i < 100; ++i)
            expected.append(i);
    Recording r;
    QVERIFY(record(&r, {&m_clip}, l));
    Player p;
    QCOMPARE(p.open(r, from, LONGLONG(INT64_MAX)), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(numbers(p.samples, 320), expected);
    for (const auto &s : p.samples) {
        const int n = numberOf(s, 320);
        QCOMPARE(s.position, l.time(n));
        QVERIFY(s.bytes == m_clip.reference[std::size_t(n)]);
    }
}

void tst_RewindSourceStream2AVC::frameStepPassesOverUndecodableFrames()
{
    // A recording cut in a group: its first frames have no key frame before them. A frame step there
    // goes on to the first frame that can be shown, and shows it again on the next step.
    Layout l;
    l.skip = 10;
    Recording r;
    QVERIFY(record(&r, {&m_clip}, l));
    Player p;
    QCOMPARE(p.open(r, kBase + 10 * kFrame, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.rateControl()->SetRate(FALSE, 0.0f), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be decoded.*passed over")));
    QVERIFY(take(p, 1, 30000));
    QVERIFY(take(p, 1, 30000));
    QCOMPARE(p.samples.size(), 2);
    QVERIFY(!p.ended());
    for (const auto &s : p.samples) {
        QCOMPARE(numberOf(s, 320), 25);
        QVERIFY(s.bytes == m_clip.reference[25]);
    }
}

void tst_RewindSourceStream2AVC::resolutionChangeRenewsType()
{
    const Clip larger = makeClip(640, 480, 50, 50);
    Clip first = makeClip(320, 240, 50);
    Recording r;
    QVERIFY(record(&r, {&first, &larger}));
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    p.source->setQuality(1.0);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QCOMPARE(p.samples.size(), 100);
    for (int i = 0; i < 100; ++i) {
        const QByteArray &expected =
            i < 50 ? first.reference[std::size_t(i)] : larger.reference[std::size_t(i - 50)];
        QVERIFY2(p.samples[i].bytes == expected, qPrintable(QString::number(i)));
    }
    QCOMPARE(p.formatChanges.size(), 1);
    QCOMPARE(p.formatChanges[0].first, 50);
    QCOMPARE(p.formatChanges[0].second, QSize(640, 480));
    auto *avc = dynamic_cast<CRewindSourceStream2AVC *>(p.source->stream().get());
    QCOMPARE(avc->width(), 640u);
    QCOMPARE(avc->height(), 480u);
}

void tst_RewindSourceStream2AVC::decoderChoiceOutOfRange()
{
    Recording r;
    QVERIFY(record(&r, {&m_clip}));
    // Kind 9 and index 11 are configured as -1 and 0; the decoder refuses any other value.
    HRESULT hr = E_FAIL;
    CComPtr<RewindSourceMF> source(new RewindSourceMF(hr));
    QCOMPARE(hr, S_OK);
    QCOMPARE(source->initialize(r.server, r.stream, false, 9, 11, kBase, kBase + kSecond), S_OK);
    auto *avc = dynamic_cast<CRewindSourceStream2AVC *>(source->stream().get());
    QVERIFY(avc);
    QCOMPARE(avc->width(), 320u);
    QCOMPARE(avc->frameDuration(), kFrame);
    source->Shutdown();
}

QTEST_GUILESS_MAIN(tst_RewindSourceStream2AVC)
#include "tst_rewindsourcestream2avc.moc"
