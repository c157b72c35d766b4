// The archive media source against a real archive folder: recorded samples come back byte for
// byte with their times, types and attributes; seeks land on key frames; the end, gaps, live end
// times, rates, and playing a stream that another process is still recording.

#include "playbacktesthelpers.h"

#include "com/guid.h"
#include "multimedia/hnstime.h"
#include "rewindsourcestream.h"
#include "win32/debugoutput.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <mutex>

using namespace playbacktest;

namespace {
int g_streamCounter = 0;
QString uniqueName(const char *prefix)
{
    return QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(++g_streamCounter);
}

QSize frameSize(IMFMediaType *type)
{
    UINT32 w = 0, h = 0;
    MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &w, &h);
    return QSize(int(w), int(h));
}

// The samples of frames[first..last] must have come, in order, with their bytes and times.
bool checkFrames(const QVector<Played> &played, const QVector<Frame> &frames, int first, int last,
                 LONGLONG from)
{
    if (played.size() != last - first + 1) {
        qWarning() << "played" << played.size() << "frames, expected" << last - first + 1;
        return false;
    }
    for (int i = 0; i < played.size(); ++i) {
        const Frame &f = frames[first + i];
        const Played &p = played[i];
        if (p.bytes != f.bytes || p.time != f.time - from || p.position != f.time || p.duration != kFrame) {
            qWarning() << "sample" << i << "differs: time" << p.time << "position" << p.position << "expected"
                       << f.time - from << f.time;
            return false;
        }
    }
    return true;
}

// Child process: records frames into an existing stream while the parent plays it.
int recordChild(const QStringList &args)
{
    GUID id = GUID_NULL;
    if (args.size() < 4 || !nyx::com::parseGuid(args[1], &id))
        return 2;
    const int count = args[2].toInt();
    const int intervalMs = args[3].toInt();
    Recording r;
    if (!r.open(id))
        return 3;
    const QVector<Frame> all = frames(count);
    if (FAILED(r.startWriter(all.first().time)))
        return 4;
    for (const Frame &f : all) {
        if (FAILED(r.write(f)))
            return 5;
        QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
    return SUCCEEDED(r.stopWriter()) ? 0 : 6;
}
} // namespace

class tst_RewindSourceMF : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void mediaTypeChangeComesBeforeItsSample();
    void withoutKeyFrameFailsToOpen_data();
    void withoutKeyFrameFailsToOpen();
    void seekFillsTheHistory();
    void messages();
    void heldSamplesLoseNoFrame();
    void deletedStreamAnswersOnce();
    void endTimeMovedBeforePositionEndsAtOnce();
    void liveEnd_data();
    void liveEnd();
    void gaps_data();
    void gaps();
    void playsWhileAnotherProcessRecords();

private:
    QTemporaryDir m_root;
};

void tst_RewindSourceMF::initTestCase()
{
    QVERIFY(m_root.isValid());
    QLoggingCategory::setFilterRules(QStringLiteral("Multimedia.Rewind.RewindSource.debug=false"));
    archivetest::useRoot(m_root.path());
}

void tst_RewindSourceMF::roundTrip_data()
{
    QTest::addColumn<int>("firstKey");
    QTest::addColumn<LONGLONG>("from");
    QTest::addColumn<LONGLONG>("to");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<LONGLONG>("offset");    // of the frames from kBase
    QTest::addColumn<UINT64>("archiveTime"); // stored in every sample's attributes; 0: the frame's time
    // The frame past the end is delivered before the end of stream.
    QTest::newRow("whole") << 0 << kBase << kBase + 10 * kSecond << 0 << 249 << LONGLONG(0) << UINT64(0);
    QTest::newRow("from mid GOP") << 0 << kBase + 15 * kSecond / 10 << kBase + 3 * kSecond << 25 << 76
                                  << LONGLONG(0) << UINT64(0);
    QTest::newRow("before first key frame")
        << 5 << kBase << kBase + 2 * kSecond << 5 << 51 << LONGLONG(0) << UINT64(0);
    QTest::newRow("open end") << 0 << kBase + 9 * kSecond << LONGLONG(INT64_MAX) << 225 << 249 << LONGLONG(0)
                              << UINT64(0);
    // Times from the file anywhere up to the limit play, and nothing beyond it is taken for a time.
    const LONGLONG last = INT64_MAX - kBase - 249 * kFrame;
    QTest::newRow("last frame at the last archive time")
        << 0 << kBase + last << LONGLONG(INT64_MAX) << 0 << 249 << last << UINT64(0);
    QTest::newRow("stored times past the limit")
        << 0 << kBase << kBase + 10 * kSecond << 0 << 249 << LONGLONG(0) << (UINT64(1) << 63) + 5;
}

void tst_RewindSourceMF::roundTrip()
{
    QFETCH(int, firstKey);
    QFETCH(LONGLONG, from);
    QFETCH(LONGLONG, to);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(LONGLONG, offset);
    QFETCH(UINT64, archiveTime);
    Recording r;
    QVERIFY(r.create(uniqueName("roundtrip")));
    QVector<Frame> all = frames(250, offset, 25, firstKey);
    for (Frame &f : all)
        f.archiveTime = archiveTime;
    QCOMPARE(r.writeAll(all), S_OK);

    Player p;
    QCOMPARE(p.open(r, from, to), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QVERIFY(checkFrames(p.samples, all, first, last, from));
    p.streamEvents->drain();
    QCOMPARE(p.streamEvents->count(MEEndOfStream), 1);
    QVERIFY(p.streamEvents->indexOf(MEMediaSample, p.streamEvents->indexOf(MEEndOfStream)) < 0);
    QVERIFY(p.sourceEvents->waitForType(MEEndOfPresentation));

    // The stored media type is what the stream offers.
    CComPtr<IMFPresentationDescriptor> descriptor;
    QCOMPARE(p.source->CreatePresentationDescriptor(&descriptor), S_OK);
    BOOL selected = FALSE;
    CComPtr<IMFStreamDescriptor> sd;
    CComPtr<IMFMediaTypeHandler> handler;
    CComPtr<IMFMediaType> type;
    QCOMPARE(descriptor->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    QCOMPARE(sd->GetMediaTypeHandler(&handler), S_OK);
    QCOMPARE(handler->GetCurrentMediaType(&type), S_OK);
    BOOL equal = FALSE;
    QCOMPARE(type->Compare(r.mediaType(all[first]), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &equal), S_OK);
    QVERIFY(equal);
}

void tst_RewindSourceMF::mediaTypeChangeComesBeforeItsSample()
{
    Recording r;
    QVERIFY(r.create(uniqueName("resize")));
    QVector<Frame> all = frames(100);
    for (int i = 50; i < all.size(); ++i) {
        all[i].width = 320;
        all[i].height = 180;
    }
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QVERIFY(checkFrames(p.samples, all, 0, 99, kBase));
    // Announced once, just before frame 50, the first one recorded with the new size.
    QCOMPARE(p.formatChanges.size(), 1);
    QCOMPARE(p.formatChanges[0].first, 50);
    QCOMPARE(p.formatChanges[0].second, QSize(320, 180));
    auto *stream = static_cast<CRewindSourceStream *>(p.source->stream().get());
    QCOMPARE(frameSize(stream->currentType()), QSize(320, 180));
}

void tst_RewindSourceMF::withoutKeyFrameFailsToOpen_data()
{
    QTest::addColumn<int>("gop");
    QTest::addColumn<int>("firstKey");
    QTest::newRow("no key frame") << 0 << 0;
    QTest::newRow("first key frame beyond the read window") << 25 << 275;
}

void tst_RewindSourceMF::withoutKeyFrameFailsToOpen()
{
    QFETCH(int, gop);
    QFETCH(int, firstKey);
    Recording r;
    QVERIFY(r.create(uniqueName("nokey")));
    QCOMPARE(r.writeAll(frames(300, 0, gop, firstKey)), S_OK);
    Player p;
    // The archive's "not found" or E_FAIL: either way no source that looks ready.
    QVERIFY(FAILED(p.open(r, kBase, kBase + 20 * kSecond)));
    QVERIFY(!p.source->stream());
    QVERIFY(!p.source->frameHistory());
    QCOMPARE(p.source->setEndTime(kBase), E_POINTER);
}

void tst_RewindSourceMF::seekFillsTheHistory()
{
    Recording r;
    QVERIFY(r.create(uniqueName("history")));
    const QVector<Frame> all = frames(100);
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    // Into frame 60: two frames back, the frame itself and two ahead.
    QCOMPARE(p.start(60 * kFrame + kFrame / 2), S_OK);
    QVector<FrameHistory::Frame> expected;
    for (int i = 58; i <= 62; ++i)
        expected.append({HnsTime(all[i].time - kBase), HnsTime(all[i].time)});
    QCOMPARE(p.source->frameHistory()->frames(), expected);
    // Playing goes on from the key frame at 50.
    QVERIFY(p.playToEnd(3, 1));
    QCOMPARE(p.samples.first().position, all[50].time);
}

namespace {
QStringList g_messages;
QtMessageHandler g_previous = nullptr;
void keepMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg)
        g_messages.append(text);
    g_previous(type, context, text);
}
} // namespace

void tst_RewindSourceMF::messages()
{
    std::string debugger;
    std::mutex mutex;
    nyx::win32::setDebugOutputSink([&](const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex);
        debugger += text;
    });
    g_messages.clear();
    g_previous = qInstallMessageHandler(keepMessage);

    // Nothing recorded: the seek finds no frame on either side.
    Recording empty;
    QVERIFY(empty.create(uniqueName("empty")));
    Player nothing;
    QVERIFY(FAILED(nothing.open(empty, kBase, kBase + kSecond)));
    const QString when = QDateTime::fromMSecsSinceEpoch((kBase - 116444736000000000LL) / 10000, Qt::UTC)
                             .toString(QStringLiteral("yyyy-MM-dd_hh:mm:ss.zzz"));

    Recording r;
    QVERIFY(r.create(uniqueName("messages")));
    QCOMPARE(r.writeAll(frames(30)), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + kSecond / 2), S_OK);
    p.source->setQuality(0.5);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    Player whole;
    QCOMPARE(whole.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QCOMPARE(whole.start(0), S_OK);
    QVERIFY(whole.playToEnd());
    qInstallMessageHandler(g_previous);
    nyx::win32::setDebugOutputSink({});

    QVERIFY2(debugger.find(("+-+ CRewindSourceStreamBase::SeekToPosition #1 to time:" + when +
                            " ERROR=0x80070490/-2147023728.\n")
                               .toStdString()) != std::string::npos,
             debugger.c_str());
    QVERIFY(debugger.find("\n!!! RewindSource end of stream !!!\n\n") != std::string::npos);
    // Past the end: frame 13 at 0.52 s against the end at 0.5 s.
    QVERIFY(g_messages.contains(
        QStringLiteral("\n!!! RewindSource end of stream 0:00:00.520>0:00:00.500 !!!\n")));
    QVERIFY(g_messages.indexOf(QRegularExpression(
                QStringLiteral("^CRewindSourceStreamBase\\[0x[0-9A-F]+\\]::SetQuality 0\\.500$"))) >= 0);
    // The real end, after frame 29.
    QVERIFY2(g_messages.contains(QStringLiteral("RewindSource end of stream! 0:00:01.160")),
             qPrintable(g_messages.join('|')));
}

void tst_RewindSourceMF::deletedStreamAnswersOnce()
{
    Recording r;
    QVERIFY(r.create(uniqueName("deleted")));
    QCOMPARE(r.writeAll(frames(250)), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd(1, 10));
    r.stream.Release();
    QCOMPARE(r.server->DeleteStream(r.id), S_OK);
    // The waiting request gets its answer (the end or an error), once, and nothing follows it.
    auto answers = [&] { return p.streamEvents->count(MEEndOfStream) + p.streamEvents->count(MEError); };
    QVERIFY(p.streamEvents->waitFor([&] { return answers() > 0; }));
    const int samples = p.samples.size();
    p.request(2);
    QTest::qWait(300);
    p.streamEvents->drain();
    QCOMPARE(answers(), 1);
    QCOMPARE(p.samples.size(), samples);
}

void tst_RewindSourceMF::heldSamplesLoseNoFrame()
{
    Recording r;
    QVERIFY(r.create(uniqueName("held")));
    const QVector<Frame> all = frames(12);
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QCOMPARE(p.start(0), S_OK);
    // Five samples in the pool: the other requests wait while all five are held.
    p.hold = true;
    p.request(12);
    QVERIFY(p.streamEvents->waitFor([&] { return p.samples.size() == 5; }));
    QTest::qWait(100);
    p.streamEvents->drain();
    QCOMPARE(p.samples.size(), 5);
    p.hold = false;
    p.held.clear();
    QVERIFY(p.streamEvents->waitFor([&] { return p.samples.size() == 12; }));
    QVERIFY(checkFrames(p.samples, all, 0, 11, kBase));
}

void tst_RewindSourceMF::endTimeMovedBeforePositionEndsAtOnce()
{
    Recording r;
    QVERIFY(r.create(uniqueName("moveend")));
    const QVector<Frame> all = frames(250);
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, kBase + 10 * kSecond), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd(3, 40));
    QCOMPARE(p.source->setEndTime(kBase + kSecond / 2), S_OK);
    QVERIFY(p.streamEvents->waitFor([&] { return p.ended(); }));
    const int atEnd = p.samples.size();
    QVERIFY(atEnd < 250);
    QVERIFY(checkFrames(p.samples, all, 0, atEnd - 1, kBase));
    QCOMPARE(p.source->stream()->RequestSample(nullptr), MF_E_END_OF_STREAM);
    QTest::qWait(100);
    p.streamEvents->drain();
    QCOMPARE(p.samples.size(), atEnd);
    QCOMPARE(p.streamEvents->count(MEEndOfStream), 1);
}

void tst_RewindSourceMF::liveEnd_data()
{
    QTest::addColumn<LONGLONG>("from");
    QTest::addColumn<int>("played"); // frames taken before the end is set
    QTest::addColumn<LONGLONG>("end");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    const LONGLONG from = kBase + 15 * kSecond / 10;
    // From the key frame before `from` to the first frame past it.
    QTest::newRow("equal to the start") << from << 0 << from << 25 << 38;
    // An end exactly at the frame just shown keeps following: the next frame still comes.
    QTest::newRow("at the current frame") << kBase << 10 << kBase + 9 * kFrame << 0 << 10;
}

void tst_RewindSourceMF::liveEnd()
{
    QFETCH(LONGLONG, from);
    QFETCH(int, played);
    QFETCH(LONGLONG, end);
    QFETCH(int, first);
    QFETCH(int, last);
    Recording r;
    QVERIFY(r.create(uniqueName("liveend")));
    const QVector<Frame> all = frames(250);
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, from, kBase + 10 * kSecond), S_OK);
    QCOMPARE(p.start(0), S_OK);
    p.request(played);
    QVERIFY(p.streamEvents->waitFor([&] { return p.samples.size() == played; }));
    // Applied at once (no request is outstanding), not queued behind the next ones.
    QCOMPARE(p.source->stream()->SetEndTime(end), S_OK);
    QVERIFY(p.playToEnd());
    QVERIFY(checkFrames(p.samples, all, first, last, from));
}

void tst_RewindSourceMF::gaps_data()
{
    QTest::addColumn<LONGLONG>("hole");
    QTest::addColumn<int>("minTicks");
    QTest::addColumn<int>("maxTicks");
    QTest::newRow("read across") << 5 * kSecond << 0 << 0;
    // The window ends 0.4 s short of the next frame: 40 steps of 10 ms.
    QTest::newRow("longer than the window") << 104 * kSecond / 10 << 39 << 41;
}

void tst_RewindSourceMF::gaps()
{
    QFETCH(LONGLONG, hole);
    QFETCH(int, minTicks);
    QFETCH(int, maxTicks);
    Recording r;
    QVERIFY(r.create(uniqueName("gap")));
    QVector<Frame> all = frames(50);
    all += frames(25, 49 * kFrame + hole, 25, 0, 50);
    QCOMPARE(r.writeAll(all), S_OK);
    Player p;
    QCOMPARE(p.open(r, kBase, LONGLONG(INT64_MAX)), S_OK);
    QCOMPARE(p.start(0), S_OK);
    QVERIFY(p.playToEnd());
    QVERIFY(checkFrames(p.samples, all, 0, 74, kBase));
    QVERIFY2(p.ticks >= minTicks && p.ticks <= maxTicks, qPrintable(QString::number(p.ticks)));
}

void tst_RewindSourceMF::playsWhileAnotherProcessRecords()
{
    Recording r;
    QVERIFY(r.create(uniqueName("live")));
    const int count = 100;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--record"), nyx::com::toString(r.id), QString::number(count), QStringLiteral("40")});
    QVERIFY(child.waitForStarted());

    // Start once a second of frames is there, with the end at the newest frame.
    CComPtr<IArchiveReader> reader = archivetest::openReader(r.server, r.id);
    QVERIFY(reader);
    auto newest = [&]() {
        LONGLONG t = 0;
        const HRESULT hr = reader->FindFrame(INT64_MAX, 2, &t, nullptr, nullptr, nullptr, 0);
        reader->ReleaseFrame();
        return hr == S_OK ? t : 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(newest() >= kBase + kSecond, 30000);

    // The reader side creates a channel of its own in the stream the child records.
    DWORD extra = 0;
    CComBSTR extraName(QStringLiteral("Video_1"));
    QVERIFY(SUCCEEDED(r.stream->CreateChannel(extraName, 1, &extra)));
    QVERIFY(extra != 0);

    Player p;
    QCOMPARE(p.open(r, kBase, newest()), S_OK);
    QCOMPARE(p.start(0), S_OK);
    // Paced slower than the recording (20 per second against 25), the end following the recording.
    bool playedWhileRecording = false;
    QElapsedTimer timer;
    timer.start();
    while (p.samples.size() < count && !p.ended() && timer.elapsed() < 60000) {
        if (child.state() == QProcess::Running) {
            p.source->setEndTime(newest());
            p.request(1);
            QThread::msleep(50);
        } else {
            child.waitForFinished();
            p.source->setEndTime(newest());
            p.request(3);
            QThread::msleep(5);
        }
        p.streamEvents->drain();
        playedWhileRecording =
            playedWhileRecording || (!p.samples.isEmpty() && child.state() == QProcess::Running);
    }
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(playedWhileRecording);
    QVERIFY(!p.ended() || p.samples.size() == count);
    QVERIFY(checkFrames(p.samples, frames(count), 0, count - 1, kBase));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QStringLiteral("--record"))
        return recordChild(args);
    tst_RewindSourceMF test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rewindsourcemf.moc"
