// Playback through the media session, from QML: a RewindSource feeding a RewindSink records a
// copy of an archive range into another stream. The copy holds the same bytes with the same
// spacing of times and the media type change before its frame, at any rate and start position.

#include "mediasession.h"
#include "nodeconnection.h"
#include "playbacktesthelpers.h"
#include "rewindsink.h"
#include "rewindsource.h"
#include "stream.h"
#include "workerharness.h"

#include "archivetime.h"
#include "com/guid.h"
#include "multimedia/nodepin.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

using namespace playbacktest;

namespace {
struct Copied
{
    LONGLONG time = 0;
    QByteArray bytes;
    QSize size; // of the media-type record, when the frame has one
};

// Every frame of a stream, in order, with its data record and media-type record.
QVector<Copied> readBack(IRewindServer *server, const GUID &id)
{
    QVector<Copied> out;
    CComPtr<IArchiveStream> stream;
    if (FAILED(server->OpenStream(id, &stream)))
        return out;
    const DWORD data = archivetest::channel(stream, rewindchannels::kVideoDataChannel, 0);
    const DWORD types = archivetest::channel(stream, rewindchannels::kVideoMediaTypeChannel, 1);
    CComPtr<IArchiveReader> reader = archivetest::openReader(server, id);
    LONGLONG t = 0;
    while (reader && reader->FindFrame(t + 1, 1, &t, nullptr, nullptr, nullptr, 0) == S_OK) {
        Copied c;
        c.time = t;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(reader->ReadChannelData(data, &bytes, &length)))
            c.bytes = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<int>(length));
        if (reader->ReadChannelBlob(types, &bytes, &length) == S_OK && length) {
            CComPtr<IMFMediaType> type;
            MFCreateMediaType(&type);
            UINT32 w = 0, h = 0;
            if (SUCCEEDED(MFInitAttributesFromBlob(type, bytes, length)) &&
                SUCCEEDED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &w, &h)))
                c.size = QSize(int(w), int(h));
        }
        reader->ReleaseFrame();
        out.append(c);
    }
    return out;
}

QString qmlTime(LONGLONG fileTime)
{
    return QStringLiteral("new Date(%1)")
        .arg(fromWin32FileTime(static_cast<quint64>(fileTime)).toMSecsSinceEpoch());
}

int g_counter = 0;
} // namespace

class tst_RewindPlayback : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void copiesThroughTheSession_data();
    void copiesThroughTheSession();
    void startsANewRangeWhilePlaying();

private:
    // A recording of the frames and a fresh stream beside it (the sink stores its media type keys),
    // each as the service hands it to QML, in the engine's context as sourceStream and copyStream.
    struct Copying
    {
        Recording original;
        CComPtr<IRewindServer> server;
        GUID copyId = GUID_NULL;
        std::unique_ptr<Stream> source;
        std::unique_ptr<Stream> copy;
    };
    void prepareCopy(const QVector<Frame> &all, QQmlEngine *engine, Copying *copying);

    QTemporaryDir m_root;
    std::unique_ptr<WorkerHarness> m_harness;
};

void tst_RewindPlayback::prepareCopy(const QVector<Frame> &all, QQmlEngine *engine, Copying *c)
{
    QVERIFY(c->original.create(QStringLiteral("original-%1").arg(++g_counter)));
    QCOMPARE(c->original.writeAll(all), S_OK);
    c->server = archivetest::server();
    QVERIFY(SUCCEEDED(archivetest::createStream(c->server, c->original.storage,
                                                QStringLiteral("copy-%1").arg(g_counter), &c->copyId)));
    c->source = std::make_unique<Stream>(c->original.server, nyx::com::toQUuid(c->original.storage),
                                         nyx::com::toQUuid(c->original.id), false, QStringLiteral("original"),
                                         m_harness->timer, m_harness->thread);
    c->copy = std::make_unique<Stream>(c->server, nyx::com::toQUuid(c->original.storage),
                                       nyx::com::toQUuid(c->copyId), false, QStringLiteral("copy"),
                                       m_harness->timer, m_harness->thread);
    engine->rootContext()->setContextProperty(QStringLiteral("sourceStream"), c->source.get());
    engine->rootContext()->setContextProperty(QStringLiteral("copyStream"), c->copy.get());
}

void tst_RewindPlayback::initTestCase()
{
    QVERIFY(m_root.isValid());
    archivetest::useRoot(m_root.path());
    QLoggingCategory::setFilterRules(QStringLiteral(
        "Multimedia.Rewind.RewindSource.debug=false\nMultimedia.Rewind.RewindService.debug=false\n"
        "Multimedia.Rewind.sink.debug=false\nMultimedia.MediaSession.debug=false"));
    qmlRegisterType<MediaSession>("Rewind", 1, 0, "MediaSession");
    qmlRegisterType<NodeConnection>("Rewind", 1, 0, "NodeConnection");
    qmlRegisterType<RewindSource>("Rewind", 1, 0, "RewindSource");
    qmlRegisterType<RewindSink>("Rewind", 1, 0, "RewindSink");
    qmlRegisterUncreatableType<Stream>("Rewind", 1, 0, "Stream", QStringLiteral("made by the service"));
    qmlRegisterUncreatableType<NodeOutput>("Rewind", 1, 0, "NodeOutput", QStringLiteral("made by nodes"));
    qmlRegisterUncreatableType<NodeInput>("Rewind", 1, 0, "NodeInput", QStringLiteral("made by nodes"));
    m_harness = std::make_unique<WorkerHarness>();
    m_harness->start(20);
}

void tst_RewindPlayback::copiesThroughTheSession_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("position");
    QTest::addColumn<LONGLONG>("from");
    QTest::addColumn<int>("first");
    QTest::newRow("rate 1") << 1.0 << 0.0 << kBase << 0;
    QTest::newRow("rate 2") << 2.0 << 0.0 << kBase << 0;
    QTest::newRow("rate 0.5") << 0.5 << 0.0 << kBase << 0;
    // Scrubbing: the clock stands, the rateless sink still takes what it asks for.
    QTest::newRow("rate 0") << 0.0 << 0.0 << kBase << 0;
    // 1.5 s in: the GOP that starts at 1.0 s.
    QTest::newRow("start at a position") << 1.0 << 1.5 << kBase << 25;
    QTest::newRow("from mid GOP") << 1.0 << 0.0 << kBase + 15 * kSecond / 10 << 25;
}

void tst_RewindPlayback::copiesThroughTheSession()
{
    QFETCH(double, rate);
    QFETCH(double, position);
    QFETCH(LONGLONG, from);
    QFETCH(int, first);
    QVector<Frame> all = frames(100);
    for (int i = 50; i < all.size(); ++i) {
        all[i].width = 320;
        all[i].height = 180;
    }
    Copying copying;
    QQmlEngine engine;
    prepareCopy(all, &engine, &copying);
    if (QTest::currentTestFailed())
        return;
    const CComPtr<IRewindServer> &server = copying.server;
    const GUID copyId = copying.copyId;
    QQmlComponent component(&engine);
    component.setData(QStringLiteral("import Rewind 1.0\n"
                                     "MediaSession {\n"
                                     "  autoPlay: true; rate: %1; position: %2\n"
                                     "  RewindSource { id: source; stream: sourceStream; from: %3; to: %4 }\n"
                                     "  RewindSink { id: sink; stream: copyStream }\n"
                                     "  NodeConnection { from: source.videoOutput; to: sink.input }\n"
                                     "}\n")
                          .arg(rate)
                          .arg(position)
                          .arg(qmlTime(from), qmlTime(kBase + 4 * kSecond))
                          .toUtf8(),
                      QUrl());
    std::unique_ptr<QObject> session(component.create());
    QVERIFY2(session, qPrintable(component.errorString()));
    QSignalSpy errors(session.get(), SIGNAL(error(int)));

    const int expected = all.size() - first;
    QVector<Copied> copy;
    QElapsedTimer elapsed;
    elapsed.start();
    QTRY_VERIFY_WITH_TIMEOUT((copy = readBack(server, copyId)).size() >= expected, 60000);
    // The archive sink is rateless: nothing paces it, whatever the rate (4 s of media at rate 0.5
    // would take 8 s played out).
    if (rate > 0 && rate <= 1)
        QVERIFY2(elapsed.elapsed() < 4000 / rate, qPrintable(QString::number(elapsed.elapsed())));
    // The session's rate reached the source.
    auto *node = session->findChild<RewindSource *>();
    QVERIFY(node && node->source());
    CComPtr<IMFRateControl> rateControl;
    QCOMPARE(node->source()->QueryInterface(IID_IMFRateControl, reinterpret_cast<void **>(&rateControl)),
             S_OK);
    float sourceRate = -1;
    QCOMPARE(rateControl->GetRate(nullptr, &sourceRate), S_OK);
    QCOMPARE(double(sourceRate), rate);
    rateControl.Release();
    QMetaObject::invokeMethod(session.get(), "stop");
    session.reset();
    copy = readBack(server, copyId);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(copy.size(), expected);
    for (int i = 0; i < copy.size(); ++i) {
        const Frame &f = all[first + i];
        QVERIFY2(copy[i].bytes == f.bytes, qPrintable(QString::number(i)));
        QCOMPARE(copy[i].time - copy[0].time, f.time - all[first].time);
        if (f.key)
            QCOMPARE(copy[i].size, QSize(int(f.width), int(f.height)));
    }
}

// The replay's jump to an event: a new range while the session plays (or has played a range out)
// makes the source anew a moment later, and the start asked for at once must play the new range
// from its key frame, not the old source.
void tst_RewindPlayback::startsANewRangeWhilePlaying()
{
    const QVector<Frame> all = frames(100);
    Copying copying;
    QQmlEngine engine;
    prepareCopy(all, &engine, &copying);
    if (QTest::currentTestFailed())
        return;
    const CComPtr<IRewindServer> &server = copying.server;
    const GUID copyId = copying.copyId;
    QQmlComponent component(&engine);
    component.setData(QStringLiteral("import Rewind 1.0\n"
                                     "MediaSession {\n"
                                     "  autoPlay: true\n"
                                     "  property alias from: source.from\n"
                                     "  RewindSource { id: source; stream: sourceStream; from: %1; to: %2 }\n"
                                     "  RewindSink { id: sink; stream: copyStream }\n"
                                     "  NodeConnection { from: source.videoOutput; to: sink.input }\n"
                                     "}\n")
                          .arg(qmlTime(kBase), qmlTime(kBase + 4 * kSecond))
                          .toUtf8(),
                      QUrl());
    std::unique_ptr<QObject> session(component.create());
    QVERIFY2(session, qPrintable(component.errorString()));
    QSignalSpy errors(session.get(), SIGNAL(error(int)));
    QTRY_COMPARE_WITH_TIMEOUT(readBack(server, copyId).size(), all.size(), 60000);

    // 2.5 s in: the GOP that starts at 2 s, as the client asks for it (range, then play at 0).
    session->setProperty("from", fromWin32FileTime(quint64(kBase + 25 * kSecond / 10)));
    session->setProperty("position", 0.0);
    QMetaObject::invokeMethod(session.get(), "play");
    QVector<Copied> copy;
    QTRY_VERIFY_WITH_TIMEOUT((copy = readBack(server, copyId)).size() >= all.size() + 50, 60000);
    // Whatever else ran meanwhile, nothing more comes once the new range has played out.
    QTest::qWait(500);
    copy = readBack(server, copyId);
    QCOMPARE(copy.size(), all.size() + 50);
    for (int i = 0; i < 50; ++i)
        QVERIFY2(copy[all.size() + i].bytes == all[50 + i].bytes, qPrintable(QString::number(i)));
    QCOMPARE(errors.count(), 0);
    session.reset();
}

QTEST_MAIN(tst_RewindPlayback)
#include "tst_rewindplayback.moc"
