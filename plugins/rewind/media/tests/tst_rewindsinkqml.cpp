// RewindSink in QML: its statuses, and recordings through a MediaSession from a test source node
// into a real archive.
#include "archive/archivefaults.h"
#include "multimedia/mediasession.h"
#include "rewindsink.h"
#include "sinktesthelpers.h"
#include "stream.h"
#include "testsourcenode.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace mediatest;

namespace {
const char *const kGraph = R"(
import QtQml 2.2
import Multimedia 1.0
import RewindTest 1.0
MediaSession {
    id: session
    autoPlay: true
    property alias sink: sink
    property alias source: source
    TestSourceNode { id: source; width: sourceWidth }
    RewindSink { id: sink; stream: recordStream }
    NodeConnection { from: source.output; to: sink.input }
}
)";
// One source feeding two recorders.
const char *const kFanOut = R"(
import QtQml 2.2
import Multimedia 1.0
import RewindTest 1.0
MediaSession {
    property alias first: first
    property alias second: second
    TestSourceNode { id: source }
    RewindSink { id: first; stream: firstStream }
    RewindSink { id: second; stream: secondStream }
    NodeConnection { from: source.output; to: first.input }
    NodeConnection { from: source.output; to: second.input }
}
)";

} // namespace

class TestRewindSinkQml : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QSharedPointer<QThread> m_worker;
    QVector<EncodedFrame> m_frames;
    int m_streams = 0;

    struct Graph
    {
        ArchiveStream archive;
        std::unique_ptr<Stream> stream;
        std::unique_ptr<QQmlEngine> engine;
        std::unique_ptr<MediaSession> session;
        RewindSink *sink = nullptr;
        QVector<int> statuses;
    };

    void build(Graph *graph, int sourceWidth = 320, const ArchiveStream *existing = nullptr)
    {
        graph->archive =
            existing ? *existing : makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        QVERIFY(graph->archive.stream);
        graph->stream =
            std::make_unique<Stream>(graph->archive.server, QUuid(), nyx::com::toQUuid(graph->archive.id),
                                     false, QStringLiteral("Recorder"), nullptr, m_worker);
        graph->engine = std::make_unique<QQmlEngine>();
        graph->engine->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        graph->engine->rootContext()->setContextProperty(QStringLiteral("recordStream"), graph->stream.get());
        graph->engine->rootContext()->setContextProperty(QStringLiteral("sourceWidth"), sourceWidth);
        QQmlComponent component(graph->engine.get());
        component.setData(kGraph, QUrl());
        // Created in two steps so that the sink's statuses are seen from the start.
        QObject *object = component.beginCreate(graph->engine->rootContext());
        QVERIFY2(object, qPrintable(component.errorString()));
        graph->session.reset(qobject_cast<MediaSession *>(object));
        graph->sink = graph->session->property("sink").value<RewindSink *>();
        QVERIFY(graph->sink);
        graph->statuses << graph->sink->status();
        connect(graph->sink, &MediaNode::statusChanged, this,
                [graph]() { graph->statuses << graph->sink->status(); });
        component.completeCreate();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        archivetest::useRoot(m_root.path());
        m_worker.reset(new QThread);
        m_worker->start();
        qmlRegisterType<RewindSink>("RewindTest", 1, 0, "RewindSink");
        qmlRegisterType<TestSourceNode>("RewindTest", 1, 0, "TestSourceNode");
        qmlRegisterUncreatableType<Stream>("RewindTest", 1, 0, "Stream", QStringLiteral("from the service"));
        m_frames = encodeH264(320, 240, 50);
        QCOMPARE(m_frames.size(), 50);
        TestSourceNode::setFrames(m_frames);
    }
    void cleanup() { nyx::archive::faults::clear(); }
    void cleanupTestCase()
    {
        m_worker->quit();
        m_worker->wait();
    }

    void recordsThroughTheSession()
    {
        Graph graph;
        build(&graph);
        QTRY_COMPARE_WITH_TIMEOUT(graph.sink->status(), int(MediaNode::StatusReady), 20000);
        QCOMPARE(graph.statuses, (QVector<int>{0, 2, 3}));
        QTRY_VERIFY_WITH_TIMEOUT(graph.session->isPlaying(), 10000);
        // The source ends after its frames; the recording holds every one of them.
        QTRY_COMPARE_WITH_TIMEOUT(
            readBack(graph.archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            m_frames.size(), 20000);
        graph.session->stop();
        const auto frames = readBack(graph.archive, rewindchannels::kVideoDataChannel,
                                     rewindchannels::kVideoMediaTypeChannel);
        for (int n = 0; n < frames.size(); ++n) {
            QCOMPARE(frames[n].data, m_frames[n].bytes);
            QCOMPARE(frames[n].time, frames.first().time + n * kFrameDuration);
            QCOMPARE(frames[n].hasMark, m_frames[n].key);
        }
        QCOMPARE(graph.session->sinkErrors(), 0);
        QVERIFY(!TestSourceNode::requestedOnGuiThread());
    }

    void recordsAgainAfterAStop()
    {
        Graph graph;
        build(&graph);
        QTRY_VERIFY_WITH_TIMEOUT(graph.session->isPlaying(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(
            readBack(graph.archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            m_frames.size(), 20000);
        graph.session->stop();
        graph.session->play();
        // The second run starts the writer again and records the source from its start.
        QTRY_COMPARE_WITH_TIMEOUT(
            readBack(graph.archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            2 * m_frames.size(), 20000);
        QCOMPARE(graph.session->sinkErrors(), 0);
    }

    void refusedTypeEndsInError()
    {
        auto archive = makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        {
            Sink audio;
            QCOMPARE(audio.create(archive, audioType(false)), S_OK);
        }
        // One critical line, with the sink's own refusal in words.
        QTest::ignoreMessage(QtCriticalMsg,
                             "RewindSink: The archive stream records PCM audio; this H.264 video "
                             "input cannot be recorded into it (0xc00d36bd)");
        Graph graph;
        build(&graph, 320, &archive);
        QTRY_COMPARE_WITH_TIMEOUT(graph.sink->status(), int(MediaNode::StatusError), 20000);
        QCOMPARE(graph.statuses, (QVector<int>{0, 2, 4}));
        QVERIFY(!graph.session->isPlaying());
    }

    // A sink the archive refuses (a read-only root, a stream it cannot open) says why and is built
    // again every few seconds, logging the failure once; it records as soon as the archive lets it.
    void refusedSinkIsBuiltAgainUntilItRecords_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<HRESULT>("hr");
        QTest::newRow("read-only") << int(nyx::archive::faults::Operation::CreateWriter) << E_ACCESSDENIED;
        QTest::newRow("stream not opened") << int(nyx::archive::faults::Operation::OpenStream) << E_FAIL;
        QTest::newRow("disk full") << int(nyx::archive::faults::Operation::StreamWriteRecord)
                                   << HRESULT_FROM_WIN32(112);
    }
    void refusedSinkIsBuiltAgainUntilItRecords()
    {
        QFETCH(int, operation);
        QFETCH(HRESULT, hr);
        const auto archive = makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        nyx::archive::faults::fail(nyx::archive::faults::Operation(operation), hr);
        QTest::ignoreMessage(
            QtCriticalMsg,
            qPrintable(QStringLiteral("RewindSink: Error (0x%1)").arg(quint32(hr), 8, 16, QChar('0'))));
        Graph graph;
        build(&graph, 320, &archive);
        QTRY_COMPARE_WITH_TIMEOUT(graph.sink->status(), int(MediaNode::StatusError), 20000);
        QCOMPARE(graph.sink->error(), hr);
        // Two more tries fail without another log line.
        QTRY_VERIFY_WITH_TIMEOUT(graph.statuses.count(int(MediaNode::StatusError)) >= 3, 20000);
        nyx::archive::faults::clear();
        QTRY_COMPARE_WITH_TIMEOUT(graph.sink->status(), int(MediaNode::StatusReady), 20000);
        QCOMPARE(graph.sink->error(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            readBack(graph.archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            m_frames.size(), 20000);
    }

    void sameStreamTwiceChangesOnce()
    {
        Graph graph;
        build(&graph);
        QSignalSpy spy(graph.sink, &RewindSink::streamChanged);
        graph.sink->setStream(graph.stream.get());
        QCOMPARE(spy.count(), 0);
        graph.sink->setStream(nullptr);
        QCOMPARE(spy.count(), 1);
        QTRY_COMPARE(graph.sink->status(), int(MediaNode::StatusNone));
    }

    void unconnectedInputKeepsItsStatus()
    {
        auto archive = makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        Stream stream(archive.server, QUuid(), nyx::com::toQUuid(archive.id), false, QStringLiteral("R"),
                      nullptr, m_worker);
        RewindSink sink;
        sink.setStream(&stream);
        QTest::qWait(50);
        QCOMPARE(sink.status(), int(MediaNode::StatusNone));
        QVERIFY(!sink.input()->isBound());
    }

    // A sink that falls behind misses samples; the other one records every sample.
    void slowSinkNeverSlowsTheOther()
    {
        auto firstArchive = makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        auto secondArchive = makeArchiveStream(QStringLiteral("Recorder %1").arg(++m_streams));
        Stream firstStream(firstArchive.server, QUuid(), nyx::com::toQUuid(firstArchive.id), false,
                           QStringLiteral("A"), nullptr, m_worker);
        Stream secondStream(secondArchive.server, QUuid(), nyx::com::toQUuid(secondArchive.id), false,
                            QStringLiteral("B"), nullptr, m_worker);
        QQmlEngine engine;
        engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        engine.rootContext()->setContextProperty(QStringLiteral("firstStream"), &firstStream);
        engine.rootContext()->setContextProperty(QStringLiteral("secondStream"), &secondStream);
        QQmlComponent component(&engine);
        component.setData(kFanOut, QUrl());
        std::unique_ptr<MediaSession> session(qobject_cast<MediaSession *>(component.create()));
        QVERIFY2(session, qPrintable(component.errorString()));
        auto *first = session->property("first").value<RewindSink *>();
        auto *second = session->property("second").value<RewindSink *>();
        QTRY_COMPARE_WITH_TIMEOUT(first->status(), int(MediaNode::StatusReady), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(second->status(), int(MediaNode::StatusReady), 20000);
        QVERIFY(session->isGraphReady());
        auto *slow = static_cast<RewindSinkStream *>(second->input()->streamSink().p);
        auto blocker = std::make_unique<QueueBlocker>(slow);
        session->play();
        QTRY_COMPARE_WITH_TIMEOUT(
            readBack(firstArchive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            m_frames.size(), 20000);
        // The blocked sink (its start waits behind the block) asked for nothing and missed samples.
        QTRY_VERIFY_WITH_TIMEOUT(session->missedSamples() > 0, 10000);
        blocker.reset();
        session->stop();
        const auto slowFrames = readBack(secondArchive, rewindchannels::kVideoDataChannel,
                                         rewindchannels::kVideoMediaTypeChannel);
        // Every sample went to one sink or was counted as missed by the other.
        QCOMPARE(slowFrames.size() + session->missedSamples(), qint64(m_frames.size()));
        QCOMPARE(session->sinkErrors(), 0);
    }

    void lockstepTestSessionStillLoads()
    {
        QQmlEngine engine;
        engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        QQmlComponent component(
            &engine, QUrl::fromLocalFile(QStringLiteral(TUNDRA_SOURCE_DIR "/lockstep/qml/TestSession.qml")));
        std::unique_ptr<QObject> session(component.create());
        QVERIFY2(session, qPrintable(component.errorString()));
        QVERIFY(qobject_cast<MediaSession *>(session.get()));
    }
};

QTEST_MAIN(TestRewindSinkQml)
#include "tst_rewindsinkqml.moc"
