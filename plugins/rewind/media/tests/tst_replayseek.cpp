// A replay started at a position shows the frame at that position first: a recorded H.264 stream
// (real libx264, each frame's index burned in as a time strip) in a real archive folder, played
// through RewindSource -> VideoDecoder -> a paced output by the media session. The frames from the
// key frame up to the position are decoded but never shown (counted apart), at rate 0 the frame
// stays the only one shown, and a frame step shows exactly the next or previous frame.

#include "mediasession.h"
#include "nodeconnection.h"
#include "playbacktesthelpers.h"
#include "replaytypes.h"
#include "rewindsource.h"
#include "shownframes.h"
#include "stream.h"
#include "workerharness.h"

#include "archivetime.h"
#include "com/guid.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/nodes/videodecodernode.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace playbacktest;
using namespace nyx::multimedia;

namespace {
constexpr int kFrames = 75; // three GOPs of 25
constexpr int kGop = 25;
// A live recording's frames come a little late now and then: frames 7, 17, 27 ... begin 5 ms after
// their slot, leaving a gap after the frame before them (whose duration is one slot).
LONGLONG frameTime(int i)
{
    return kBase + i * kFrame + (i % 10 == 7 ? 50000 : 0);
}

QString shownText(const ShownFrames::Counts &c, int target)
{
    QStringList shown;
    for (int frame : c.shown)
        shown << QString::number(frame);
    return QStringLiteral("shown [%1] for frame %2, %3 passed over")
        .arg(shown.join(QLatin1Char(' ')))
        .arg(target)
        .arg(c.prerolled);
}

QString qmlTime(LONGLONG fileTime)
{
    return QStringLiteral("new Date(%1)")
        .arg(fromWin32FileTime(static_cast<quint64>(fileTime)).toMSecsSinceEpoch());
}
} // namespace

class tst_ReplaySeek : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void showsTheFrameAtThePosition_data();
    void showsTheFrameAtThePosition();
    void seeksAgainWhileReading();
    void pausedReplayPlaysANewRange();

private:
    // Starts the replay at a position counted in frames (25 per second) at the rate.
    void playAt(double index, double rate)
    {
        m_session->setRate(rate);
        m_session->setPosition(index * 0.04);
        m_session->play();
    }

    QTemporaryDir m_root;
    std::unique_ptr<WorkerHarness> m_harness;
    Recording m_recording;
    Stream *m_stream = nullptr;
    QQmlEngine *m_engine = nullptr;
    MediaSession *m_session = nullptr;
    ShownFrames *m_shown = nullptr;
};

void tst_ReplaySeek::initTestCase()
{
    QVERIFY(m_root.isValid());
    archivetest::useRoot(m_root.path());
    QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.Rewind.*.debug=false\n"
                                                    "Multimedia.MediaSession.debug=false"));
    registerReplayTypes("ReplayTest");
    m_harness = std::make_unique<WorkerHarness>();
    m_harness->start(20);

    // Three seconds of 640x360 H.264, a key frame every second, frame i carrying i in its strip.
    H264EncoderSettings settings;
    settings.width = 640;
    settings.height = 360;
    settings.bitRate = 2000000;
    H264Encoder encoder;
    QVERIFY(encoder.open(settings));
    QVector<Frame> frames;
    for (int i = 0; i < kFrames; ++i) {
        Nv12Frame picture = Nv12Frame::create(640, 360);
        picture.fill(uchar(40 + i * 2), 128, 128);
        TimeStrip::draw(picture, quint64(i));
        picture.time = i * kFrame;
        picture.duration = kFrame;
        const QVector<H264Packet> packets = encoder.encode(picture);
        QCOMPARE(packets.size(), 1);
        Frame f;
        f.time = frameTime(i);
        f.key = packets.first().keyFrame;
        QCOMPARE(f.key, i % kGop == 0);
        f.width = 640;
        f.height = 360;
        f.bytes = packets.first().data;
        frames.append(f);
    }
    QVERIFY(m_recording.create(QStringLiteral("seek")));
    QCOMPARE(m_recording.writeAll(frames), S_OK);

    m_stream = new Stream(m_recording.server, nyx::com::toQUuid(m_recording.storage),
                          nyx::com::toQUuid(m_recording.id), false, QStringLiteral("seek"), m_harness->timer,
                          m_harness->thread);
    m_engine = new QQmlEngine(this);
    m_engine->rootContext()->setContextProperty(QStringLiteral("recorded"), m_stream);
    QQmlComponent component(m_engine);
    component.setData(QStringLiteral("import ReplayTest 1.0\n"
                                     "MediaSession {\n"
                                     "  RewindSource { id: source; stream: recorded; from: %1; to: %2 }\n"
                                     "  VideoDecoder { id: decoder }\n"
                                     "  ShownFrames { id: shown }\n"
                                     "  NodeConnection { from: source.videoOutput; to: decoder.videoInput }\n"
                                     "  NodeConnection { from: decoder.output; to: shown.videoInput }\n"
                                     "}\n")
                          .arg(qmlTime(kBase), qmlTime(kBase + kFrames * kFrame))
                          .toUtf8(),
                      QUrl());
    m_session = qobject_cast<MediaSession *>(component.create());
    QVERIFY2(m_session, qPrintable(component.errorString()));
    m_shown = m_session->findChild<ShownFrames *>();
    QVERIFY(m_shown);
    // The graph is ready once the source has read the stream's type and the decoder made its output.
    QTRY_VERIFY_WITH_TIMEOUT(m_shown->status() == MediaNode::StatusReady, 30000);
}

void tst_ReplaySeek::cleanupTestCase()
{
    delete m_session;
    delete m_stream;
}

void tst_ReplaySeek::showsTheFrameAtThePosition_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("position"); // in frames
    QTest::addColumn<int>("target");
    const struct
    {
        const char *name;
        double position;
        int target;
    } positions[] = {
        {"on a key frame", 25, 25},
        {"mid GOP", 37.5, 37},
        {"at a frame's start mid GOP", 38, 38},
        {"last frame of a GOP", 49, 49},
        {"first GOP", 3.25, 3},
        {"late frame's start", 47.125, 47},
        // In the gap before a late frame: the frame before it is still the one shown there.
        {"gap before a late frame", 47.05, 46},
    };
    for (double rate : {0.0, 1.0, 2.0}) {
        for (const auto &p : positions)
            QTest::addRow("rate %g, %s", rate, p.name) << rate << p.position << p.target;
    }
}

void tst_ReplaySeek::showsTheFrameAtThePosition()
{
    QFETCH(double, rate);
    QFETCH(double, position);
    QFETCH(int, target);
    const int keyFrame = target - target % kGop;

    m_shown->reset();
    m_shown->setPrerollCost(rate > 0 ? 20 : 0);
    playAt(position, rate);
    QTRY_VERIFY_WITH_TIMEOUT(!m_shown->counts().shown.isEmpty(), 20000);
    if (rate == 0) {
        // The clock stands: the frame stays the only one shown.
        QTest::qWait(500);
        ShownFrames::Counts c = m_shown->counts();
        QVERIFY2(c.shown == QVector<int>{target}, qPrintable(shownText(c, target)));
        QCOMPARE(c.prerolled, target - keyFrame);
        QCOMPARE(c.late, 0);

        // Frame steps: exactly the next, then exactly the previous frame (mid-frame, as a late
        // frame begins after its slot).
        for (int step : {1, -1}) {
            m_shown->reset();
            playAt(target + step + 0.5, 0);
            QTRY_VERIFY_WITH_TIMEOUT(!m_shown->counts().shown.isEmpty(), 20000);
            QTest::qWait(300);
            c = m_shown->counts();
            QVERIFY2(c.shown == QVector<int>{target + step}, qPrintable(shownText(c, target + step)));
            QCOMPARE(c.prerolled, (target + step) % kGop);
        }
        m_session->stop();
        return;
    }

    // Playing on: the frame at the position first, then the ones after it in order, the frames
    // before it passed over as preroll, never shown. Passing over each costs 20 ms here (up to
    // half a second): the clock must wait for it, or the frames after the first come late.
    const int wanted = qMin(15, kFrames - target);
    QTRY_VERIFY_WITH_TIMEOUT(m_shown->counts().shown.size() >= wanted / int(rate), 20000);
    m_session->stop();
    const ShownFrames::Counts c = m_shown->counts();
    QCOMPARE(c.shown.first(), target);
    QCOMPARE(c.prerolled, target - keyFrame);
    for (int i = 1; i < c.shown.size(); ++i)
        QVERIFY2(c.shown[i] > c.shown[i - 1], qPrintable(QString::number(i)));
    // Smooth after the seek: the clock waited for the preroll, so the first frames are shown at
    // their time, not late in a burst (a clock that ran on would be 20 ms a preroll frame ahead).
    // A busy machine may hold a frame up a little, and lose one or two.
    const qint64 worst = *std::max_element(c.lateMs.begin(), c.lateMs.begin() + qMin(5, c.lateMs.size()));
    QVERIFY2(worst < 150, qPrintable(QString("a frame %1 ms late").arg(worst)));
    QVERIFY2(c.late <= 2, qPrintable(QString("%1 late drops").arg(c.late)));
}

// Seeks that follow each other before the previous one showed anything (an operator dragging
// along the timeline): what the source read for an earlier one never answers the last one, and
// the decoder starts the last one at its key frame.
void tst_ReplaySeek::seeksAgainWhileReading()
{
    for (int round = 0; round < 8; ++round) {
        for (double rate : {0.0, 2.0})
            for (int target : {60, 13, 49 - round})
                playAt(target + 0.5, rate);
        // Counted from a stop on: what the seeks before it passed over is theirs.
        m_session->stop();
        m_shown->reset();
        const int target = 30 + round * 2;
        playAt(target + 0.5, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!m_shown->counts().shown.isEmpty(), 20000);
        QTest::qWait(200);
        const ShownFrames::Counts c = m_shown->counts();
        QVERIFY2(c.shown == QVector<int>{target}, qPrintable(shownText(c, target)));
        QCOMPARE(c.prerolled, target % kGop);
    }
    m_session->stop();
}

// The operator pauses a replay and picks events one after the other: the source gets a new range
// (made anew) and the replay starts again, often while the decoder is still decoding from the key
// frame for the start before. A restart stops the graph first and waits for the hand-overs under
// way; one that caught the decoder with a picture must not wait for a consumer that is gone (such
// a wait runs out only after 2 s) before it starts again, and the frame at the last position shows
// as soon as it is decoded. A stop and a start take milliseconds, a GOP of these frames decodes in
// well under 100 ms, and the whole path takes about 300 ms with four cameras on a machine loaded
// with builds: 1.5 s leaves room to spare and still tells a wait that ran out.
void tst_ReplaySeek::pausedReplayPlaysANewRange()
{
    auto *source = m_session->findChild<RewindSource *>();
    QVERIFY(source);
    const QDateTime end = fromWin32FileTime(static_cast<quint64>(kBase + kFrames * kFrame));
    const auto msSince = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
            .count();
    };
    m_shown->setPrerollCost(0);
    playAt(0, 1);
    // A new range of the same stream has its format: the decoder keeps what it made for it.
    auto *decoder = m_session->findChild<VideoDecoderNode *>();
    QVERIFY(decoder && decoder->output()->mfNode());
    const CComPtr<IMFTopologyNode> decoding = decoder->output()->mfNode();
    for (int round = 0; round < 10; ++round) {
        // Paused while playing, the decoder holding a picture for the paused output.
        QTRY_VERIFY_WITH_TIMEOUT(!m_shown->counts().shown.isEmpty(), 20000);
        m_session->pause();
        QTest::qWait(100);

        // A range from the first or the second key frame in turn, the target one frame further
        // into its GOP each round.
        const int from = round % 2 ? kGop : 0;
        const int target = from + 1 + round * 2;
        source->setFrom(fromWin32FileTime(static_cast<quint64>(frameTime(from))));
        source->setTo(end);
        playAt(target - from + 0.5, 1);
        QTRY_VERIFY_WITH_TIMEOUT(source->status() == MediaNode::StatusReady, 20000);
        // Restarts a few milliseconds apart: some stop the decoder in the middle of a picture.
        for (int restart = 0; restart < 6; ++restart) {
            QTest::qWait(restart * 4);
            m_shown->reset();
            const auto clicked = std::chrono::steady_clock::now();
            playAt(target - from + 0.5, 2);
            const qint64 restartMs = msSince(clicked);
            QVERIFY2(restartMs < 1500,
                     qPrintable(QStringLiteral("round %1: a restart took %2 ms").arg(round).arg(restartMs)));
        }
        const auto clicked = std::chrono::steady_clock::now();
        m_shown->reset();
        playAt(target - from + 0.5, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!m_shown->counts().shown.isEmpty(), 20000);
        const ShownFrames::Counts c = m_shown->counts();
        const qint64 ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(c.firstShown - clicked).count();
        QVERIFY2(c.shown.first() == target, qPrintable(shownText(c, target)));
        QVERIFY2(ms < 1500,
                 qPrintable(QStringLiteral("round %1: first frame after %2 ms").arg(round).arg(ms)));
        QVERIFY2(decoder->output()->mfNode() == decoding, "the decoder was made anew");
    }
    m_session->stop();
    source->setFrom(fromWin32FileTime(static_cast<quint64>(kBase)));
    source->setTo(end);
}

QTEST_MAIN(tst_ReplaySeek)
#include "tst_replayseek.moc"
