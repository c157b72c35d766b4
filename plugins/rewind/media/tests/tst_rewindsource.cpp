// The RewindSource node from QML over a real archive folder: the creation checks and their texts,
// waiting for data, the build on the stream's worker thread, its outputs, the live end time and
// the quality handed to a new source.

#include "playbacktesthelpers.h"
#include "range.h"
#include "rewindsource.h"
#include "rewindsourcemf.h"
#include "stream.h"
#include "workerharness.h"

#include "archivetime.h"
#include "com/guid.h"
#include "multimedia/nodepin.h"
#include "win32/debugoutput.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>
#include <mutex>

using namespace playbacktest;

namespace {
QDateTime toDateTime(LONGLONG fileTime)
{
    return fromWin32FileTime(static_cast<quint64>(fileTime));
}

QString qmlTime(LONGLONG fileTime)
{
    return QStringLiteral("new Date(%1)").arg(toDateTime(fileTime).toMSecsSinceEpoch());
}

int g_counter = 0;
} // namespace

class tst_RewindSource : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void creationChecks_data();
    void creationChecks();
    void waitsForDataThenBuilds();
    void outputs_data();
    void outputs();
    void failedBuildIsAnError();
    void liveEndAndQuality();
    void rebuildResetsOutputs();

private:
    // A stream object for a recording, polled by the harness' worker thread.
    Stream *makeStream(const Recording &r, bool isAudio)
    {
        auto *s = new Stream(r.server, nyx::com::toQUuid(r.storage), nyx::com::toQUuid(r.id), isAudio,
                             QStringLiteral("s%1").arg(++g_counter), m_harness->timer, m_harness->thread);
        m_streams.append(s);
        return s;
    }
    RewindSource *load(const QString &body, Stream *stream)
    {
        m_engine->rootContext()->setContextProperty(QStringLiteral("testStream"), stream);
        QQmlComponent component(m_engine.get());
        component.setData(("import Rewind 1.0\nRewindSource {\n" + body + "\n}\n").toUtf8(), QUrl());
        auto *node = qobject_cast<RewindSource *>(component.create());
        if (!node)
            qWarning() << component.errors();
        m_nodes.append(node);
        return node;
    }
    QString debugText()
    {
        std::lock_guard<std::mutex> lock(m_debugMutex);
        return m_debug;
    }

    QTemporaryDir m_root;
    std::unique_ptr<WorkerHarness> m_harness;
    std::unique_ptr<QQmlEngine> m_engine;
    QList<QPointer<RewindSource>> m_nodes;
    QList<Stream *> m_streams;
    std::mutex m_debugMutex;
    QString m_debug;
};

void tst_RewindSource::initTestCase()
{
    QVERIFY(m_root.isValid());
    archivetest::useRoot(m_root.path());
    QLoggingCategory::setFilterRules(QStringLiteral(
        "Multimedia.Rewind.RewindSource.debug=false\nMultimedia.Rewind.RewindService.debug=false"));
    qmlRegisterType<RewindSource>("Rewind", 1, 0, "RewindSource");
    qmlRegisterType<Range>("Rewind", 1, 0, "Range");
    qmlRegisterUncreatableType<Stream>("Rewind", 1, 0, "Stream", QStringLiteral("made by the service"));
    qmlRegisterUncreatableType<NodeOutput>("Rewind", 1, 0, "NodeOutput", QStringLiteral("made by nodes"));
    nyx::win32::setDebugOutputSink([this](const std::string &text) {
        std::lock_guard<std::mutex> lock(m_debugMutex);
        m_debug += QString::fromStdString(text);
    });
    m_harness = std::make_unique<WorkerHarness>();
    m_harness->start(20);
    m_engine = std::make_unique<QQmlEngine>();
}

void tst_RewindSource::cleanup()
{
    for (auto &node : m_nodes)
        delete node.data();
    m_nodes.clear();
    qDeleteAll(m_streams);
    m_streams.clear();
    std::lock_guard<std::mutex> lock(m_debugMutex);
    m_debug.clear();
}

void tst_RewindSource::creationChecks_data()
{
    QTest::addColumn<bool>("withStream");
    QTest::addColumn<QString>("times");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("debugger");
    const QString from = QStringLiteral("from: ") + qmlTime(kBase + kSecond);
    QTest::newRow("no stream") << false << from << "RewindSource::create ERROR #1 - No stream"
                               << "\n\nRewindSource::create ERROR #1 - NO STREAM\n\n";
    QTest::newRow("no times") << true << QString() << "RewindSource::create ERROR #2 - Empty times"
                              << "\n\nRewindSource::create ERROR #2 - EMPTY TIMES\n\n";
    const QString wrong = "RewindSource::create ERROR #3 - wrang times: to < from";
    const QString wrongDebugger = "\n\nRewindSource::create ERROR #3 - WRANG TIMES: TO < FROM\n\n";
    QTest::newRow("to equals from") << true << from + "; to: " + qmlTime(kBase + kSecond) << wrong
                                    << wrongDebugger;
    QTest::newRow("to before from") << true << from + "; to: " + qmlTime(kBase) << wrong << wrongDebugger;
}

void tst_RewindSource::creationChecks()
{
    QFETCH(bool, withStream);
    QFETCH(QString, times);
    QFETCH(QString, log);
    QFETCH(QString, debugger);
    Recording r;
    QVERIFY(r.create(QStringLiteral("checks-%1").arg(++g_counter)));
    QCOMPARE(r.writeAll(frames(50)), S_OK);
    Stream *stream = makeStream(r, false);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(log));
    RewindSource *node =
        load((withStream ? QStringLiteral("stream: testStream\n") : QString()) + times, stream);
    QVERIFY(node);
    // A complete range first, so that the wrong one cannot be waiting for a size instead.
    QTRY_VERIFY(debugText().contains(debugger));
    QCOMPARE(node->status(), int(MediaNode::StatusNone));
    QVERIFY(!node->source());
}

void tst_RewindSource::waitsForDataThenBuilds()
{
    Recording r;
    QVERIFY(r.create(QStringLiteral("wait-%1").arg(++g_counter)));
    QCOMPARE(r.writeAll(frames(25)), S_OK); // one second, before the played range
    Stream *stream = makeStream(r, false);
    // Open-ended: measured on every refresh of the stream.
    RewindSource *node = load("stream: testStream; from: " + qmlTime(kBase + 5 * kSecond), stream);
    QVERIFY(node);
    QTRY_COMPARE(node->range()->size(), 0LL);
    QCOMPARE(node->status(), int(MediaNode::StatusCreating));
    QVERIFY(!node->source());

    QCOMPARE(r.writeAll(frames(100, 5 * kSecond, 25, 0, 200)), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(node->range()->size() > 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusReady), 20000);
    QVERIFY(node->source());
    QVERIFY(node->range()->size() > 0);
    QVERIFY(node->videoOutput());
    QVERIFY(node->videoOutput()->isBound());
}

void tst_RewindSource::outputs_data()
{
    QTest::addColumn<bool>("audio");
    QTest::newRow("video only") << false;
    QTest::newRow("audio only") << true;
}

void tst_RewindSource::outputs()
{
    QFETCH(bool, audio);
    Recording r;
    QVERIFY(r.create(QStringLiteral("outputs-%1").arg(++g_counter), audio));
    QCOMPARE(r.writeAll(frames(50)), S_OK);
    // The stored type decides, whatever the Stream object's audio flag says.
    Stream *stream = makeStream(r, !audio);
    RewindSource *node =
        load("stream: testStream; from: " + qmlTime(kBase) + "; to: " + qmlTime(kBase + 2 * kSecond), stream);
    QVERIFY(node);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusReady), 20000);
    QCOMPARE(node->outputCount(), 1);
    NodeOutput *present = audio ? node->audioOutput() : node->videoOutput();
    QVERIFY(present);
    QCOMPARE(present, node->getOutput(0));
    QVERIFY(present->isBound());
    QVERIFY(!(audio ? node->videoOutput() : node->audioOutput()));
    CComPtr<IMFMediaType> type = present->getMfMediaType();
    QVERIFY(type);
    GUID major = GUID_NULL;
    QCOMPARE(type->GetMajorType(&major), S_OK);
    QVERIFY(major == (audio ? MFMediaType_Audio : MFMediaType_Video));
}

void tst_RewindSource::failedBuildIsAnError()
{
    Recording r;
    QVERIFY(r.create(QStringLiteral("nokey-%1").arg(++g_counter)));
    QCOMPARE(r.writeAll(frames(50, 0, 0)), S_OK); // no key frame: no media type to play with
    Stream *stream = makeStream(r, false);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^createRewindSource, step=3 ERROR:"));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^RewindSource:"));
    RewindSource *node =
        load("stream: testStream; from: " + qmlTime(kBase) + "; to: " + qmlTime(kBase + 2 * kSecond), stream);
    QVERIFY(node);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusError), 20000);
    QVERIFY(!node->videoOutput());
}

void tst_RewindSource::liveEndAndQuality()
{
    Recording r;
    QVERIFY(r.create(QStringLiteral("live-%1").arg(++g_counter)));
    QCOMPARE(r.writeAll(frames(100)), S_OK);
    Stream *stream = makeStream(r, false);
    RewindSource *node = load("stream: testStream; quality: 0.75; from: " + qmlTime(kBase) +
                                  "; to: " + qmlTime(kBase + 2 * kSecond),
                              stream);
    QVERIFY(node);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusReady), 20000);
    auto *source = dynamic_cast<RewindSourceMF *>(node->source().p);
    QVERIFY(source && source->stream());
    // The quality QML set reaches the new source, not the configured default.
    QCOMPARE(source->stream()->quality(), 0.75f);
    QSignalSpy quality(node, &RewindSource::qualityChanged);
    node->setQuality(0.75);
    QCOMPARE(quality.count(), 0);

    // A live end: the same source, its stream's end moved on its queue.
    QSignalSpy to(node, &RewindSource::timeToChanged);
    QSignalSpy status(node, &MediaNode::statusChanged);
    node->setTo(toDateTime(kBase + 3 * kSecond));
    QCOMPARE(to.count(), 1);
    QTRY_COMPARE(source->stream()->endTime(), kBase + 3 * kSecond);
    QTest::qWait(100);
    QCOMPARE(node->source().p, static_cast<nyx::ISource *>(source));
    QCOMPARE(status.count(), 0);
}

void tst_RewindSource::rebuildResetsOutputs()
{
    Recording video;
    QVERIFY(video.create(QStringLiteral("rebuild-v-%1").arg(++g_counter)));
    QCOMPARE(video.writeAll(frames(50)), S_OK);
    Recording audio;
    QVERIFY(audio.create(QStringLiteral("rebuild-a-%1").arg(++g_counter), true));
    QCOMPARE(audio.writeAll(frames(50)), S_OK);
    Stream *videoStream = makeStream(video, false);
    Stream *audioStream = makeStream(audio, true);
    RewindSource *node = load(
        "stream: testStream; from: " + qmlTime(kBase) + "; to: " + qmlTime(kBase + 2 * kSecond), videoStream);
    QVERIFY(node);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusReady), 20000);
    const CComPtr<nyx::ISource> first = node->source();
    QVERIFY(node->videoOutput());

    node->setStream(audioStream);
    QTRY_VERIFY_WITH_TIMEOUT(node->source() && node->source() != first, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(node->status(), int(MediaNode::StatusReady), 20000);
    QVERIFY(!node->videoOutput());
    QCOMPARE(node->audioOutput(), node->getOutput(0));
    // The old source was disabled: it answers no more requests.
    CComPtr<IMFMediaSource> old;
    first->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void **>(&old));
    CComPtr<IMFPresentationDescriptor> descriptor;
    QCOMPARE(old->CreatePresentationDescriptor(&descriptor), S_OK);
    const auto position = nyx::mf::PropVariant::fromInt64(0);
    QCOMPARE(old->Start(descriptor, nullptr, &position), MF_E_INVALIDREQUEST);
}

QTEST_MAIN(tst_RewindSource)
#include "tst_rewindsource.moc"
