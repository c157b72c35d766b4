// The capture board's QML nodes in a real media session: what a session plays into an output
// appears on the input of the same number (read by a capture input as the server would), the test
// picture returns when the session stops, and a bad capture URL is an error status.
#include "collectornode.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/tonegenerator.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/mfframes.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <mutex>

using namespace nyx::multimedia;

namespace {

// What a capture input shows, per frame: its own test picture, a running line, or another input's
// test picture (a strip with a time that is not the frame's own).
enum class Seen
{
    TestPicture,
    RunningLine,
    OtherPicture,
    Unknown
};

Seen classify(const Nv12Frame &f)
{
    if (const auto strip = TimeStrip::read(f))
        return qint64(*strip) == f.time ? Seen::TestPicture : Seen::OtherPicture;
    // The running line: a dark row with one narrow bright band.
    const uchar *row = f.y() + qsizetype(f.height / 2) * f.width;
    int bright = 0, dark = 0;
    for (int x = 0; x < f.width; ++x) {
        bright += row[x] > 200;
        dark += qAbs(row[x] - RunningLine::BackgroundLuma) < 8;
    }
    if (bright > 0 && bright <= 24 && dark >= f.width - 24)
        return Seen::RunningLine;
    return Seen::Unknown;
}

struct Watch
{
    std::mutex mutex;
    QVector<Seen> seen;
    KXVideoInput::FrameCallback callback()
    {
        return [this](const Nv12Frame &f) {
            const Seen s = classify(f);
            std::lock_guard<std::mutex> lock(mutex);
            seen.append(s);
        };
    }
    int count(Seen s, int from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(std::count(seen.begin() + qMin(from, seen.size()), seen.end(), s));
    }
    int size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
};

} // namespace

class tst_KXNodes : public QObject
{
    Q_OBJECT
private:
    QQmlEngine *m_engine = nullptr;

    QObject *create(const QByteArray &qml)
    {
        QQmlComponent component(m_engine);
        component.setData(
            "import QtQml 2.2\nimport Multimedia 1.0\nimport Multimedia.KXExt 1.0\nimport KXTest 1.0\n" + qml,
            QUrl());
        QObject *object = component.create();
        if (!object)
            qWarning().noquote() << component.errorString();
        return object;
    }

private slots:
    void initTestCase()
    {
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("nodes") + QByteArray::number(QCoreApplication::applicationPid()));
        qmlRegisterType<CollectorNode>("KXTest", 1, 0, "Collector");
        m_engine = new QQmlEngine(this);
        m_engine->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
    }
    void cleanupTestCase()
    {
        delete m_engine;
        const QString prefix = kxLoopbackSegmentName(QString()).mid(1);
        QDir shm(QStringLiteral("/dev/shm"));
        for (const QString &name : shm.entryList({prefix + QLatin1Char('*')}, QDir::Files))
            shm.remove(name);
    }

    void outputs()
    {
        std::unique_ptr<QObject> o(
            create("QtObject { property var names: KX.outputs.map(function(o) { return o.name }) }"));
        QVERIFY(o);
        QCOMPARE(o->property("names").toStringList(),
                 (QStringList{"KX788 Board 1 Output 1", "KX788 Board 1 Output 2", "KX788 Board 1 Output 3",
                              "KX788 Board 1 Output 4"}));
    }

    void loopback_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("expected");
        QTest::newRow("running line into output 2")
            << QByteArray("RunningLineSource { frameSize: Qt.size(1920, 1080); frameRateNumerator: 25; "
                          "frameRateDenominator: 1 }")
            << 2 << int(Seen::RunningLine);
        QTest::newRow("small running line into output 4")
            << QByteArray("RunningLineSource { frameSize: Qt.size(640, 360); frameRateNumerator: 50; "
                          "frameRateDenominator: 1 }")
            << 4 << int(Seen::RunningLine);
        QTest::newRow("input 1 into output 3")
            << QByteArray("KXSource { url: \"kx:///KX788 Board 1 Input 1\" }") << 3
            << int(Seen::OtherPicture);
    }
    void loopback()
    {
        QFETCH(QByteArray, source);
        QFETCH(int, output);
        QFETCH(int, expected);
        const QString input = QStringLiteral("kx:///KX788 Board 1 Input %1").arg(output);
        KXVideoInput capture(*KXAddress::parse(QUrl(input)), nullptr, {300});
        Watch watch;
        QVERIFY(capture.start(watch.callback()));
        QTRY_VERIFY_WITH_TIMEOUT(watch.count(Seen::TestPicture) >= 5, 20000);

        std::unique_ptr<QObject> session(
            create("MediaSession { autoPlay: true\n" + source.replace("{ ", "{ id: src; ") +
                   "\nKXSink { id: sink; output: KX.outputs[" + QByteArray::number(output - 1) +
                   "] }\nNodeConnection { from: src.output; to: sink.videoInput } }"));
        QVERIFY(session);
        auto *media = qobject_cast<MediaSession *>(session.get());
        QVERIFY(media);
        QTRY_VERIFY_WITH_TIMEOUT(media->isPlaying(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(watch.count(Seen(expected)) >= 25, 20000);

        // Unplugged: the test picture is back at once (the sink closes the output when it stops).
        media->setEnabled(false);
        QTRY_VERIFY_WITH_TIMEOUT(!media->isPlaying(), 20000);
        const int stoppedAt = watch.size() + 2;
        QTRY_VERIFY_WITH_TIMEOUT(watch.count(Seen::TestPicture, stoppedAt) >= 10, 20000);
        QCOMPARE(watch.count(Seen(expected), stoppedAt + 15), 0);
        session.reset();
        capture.stop();
        QCOMPARE(watch.count(Seen::Unknown), 0);
        QVERIFY(capture.loopbackFrames() >= 25);
    }

    // A stereo input in a session: 16-bit stereo blocks of 10 ms, stamped 10 ms apart, the left channel
    // carrying its tone.
    void stereo()
    {
        std::unique_ptr<QObject> session(
            create("MediaSession { autoPlay: true; property alias collector: sink\n"
                   "  KXSource { id: src; url: \"kx:///KX322 Board 1 Input 1 Stereo\" }\n"
                   "  Collector { id: sink }\n"
                   "  NodeConnection { from: src.output; to: sink.input } }"));
        QVERIFY(session);
        auto *collector = session->property("collector").value<CollectorNode *>();
        QTRY_VERIFY_WITH_TIMEOUT(collector->received().size() >= 150, 30000);
        qobject_cast<MediaSession *>(session.get())->stop();
        const QVector<CollectorNode::Received> blocks = collector->received();
        int contiguous = 0;
        for (int i = 0; i < blocks.size(); ++i) {
            QCOMPARE(blocks[i].bytes.size(), 480 * 4);
            if (i > 0) {
                const qint64 step = blocks[i].time - blocks[i - 1].time;
                QVERIFY(step > 0 && qAbs(step - qRound64(double(step) / 100000) * 100000) <= 1);
                contiguous += qAbs(step - 100000) <= 1;
            }
        }
        // A consumer that keeps up misses (almost) nothing at the clock's pace.
        QVERIFY2(contiguous >= blocks.size() * 9 / 10, qPrintable(QString::number(contiguous)));
        // Each block is a stretch of the tone: the left channel crosses zero upwards ten times in 10 ms.
        const auto *s = reinterpret_cast<const qint16 *>(blocks[5].bytes.constData());
        int crossings = 0;
        for (int i = 1; i < 480; ++i)
            crossings += s[2 * (i - 1)] < 0 && s[2 * i] >= 0;
        QVERIFY(qAbs(crossings - ToneGenerator::LeftHz / 100) <= 1);
    }

    // A captured frame travels as a sample over its own bytes: the encoder's and the preview's
    // frames share them, and a frame written on afterwards is a copy that leaves the sample alone.
    void framesShared()
    {
        Nv12Frame frame = Nv12Frame::create(64, 32);
        frame.fill(100, 110, 120);
        frame.time = 1234;
        frame.duration = 400000;
        CComPtr<IMFSample> sample = sampleFromFrame(frame);
        QVERIFY(sample);
        const CComPtr<IMFMediaType> type = nv12MediaType(64, 32, 25, 1);
        Nv12Frame out = frameFromSample(sample, type);
        QCOMPARE(out.data.constData(), frame.data.constData());
        QCOMPARE(out.time, 1234);
        QCOMPARE(out.duration, 400000);
        CComPtr<IMFMediaBuffer> buffer;
        QVERIFY(SUCCEEDED(sample->GetBufferByIndex(0, &buffer)));
        BYTE *bytes = nullptr;
        DWORD length = 0;
        QVERIFY(SUCCEEDED(buffer->Lock(&bytes, nullptr, &length)));
        QCOMPARE(reinterpret_cast<const char *>(bytes), frame.data.constData());
        QCOMPARE(qsizetype(length), Nv12Frame::byteSize(64, 32));
        QVERIFY(SUCCEEDED(buffer->Unlock()));
        QVERIFY(FAILED(buffer->SetCurrentLength(length + 1)));
        out.y()[0] = 7; // detaches
        QCOMPARE(sampleBytes(sample).at(0), char(100));
        QCOMPARE(frameFromSample(sample, type).data, frame.data);
        // The bytes of other samples are still copied.
        const QByteArray packet("abc");
        QVERIFY(sampleBytes(sampleFromBytes(packet, 0, 0)).constData() != packet.constData());
        QCOMPARE(sampleBytes(sampleFromBytes(packet, 0, 0)), packet);
    }

    void badUrls_data()
    {
        QTest::addColumn<QByteArray>("qml");
        QTest::newRow("unknown board") << QByteArray("KXSource { url: \"kx:///KX999 Board 1 Input 1\" }");
        QTest::newRow("no such input") << QByteArray("KXSource { url: \"kx:///KX788 Board 1 Input 9\" }");
        QTest::newRow("no such output") << QByteArray("KXSink { output: \"KX788 Board 1 Output 7\" }");
    }
    void badUrls()
    {
        QFETCH(QByteArray, qml);
        // The sink builds only once a type is connected: give it one from a running line.
        std::unique_ptr<QObject> session(create(
            "MediaSession { property alias node: node\nRunningLineSource { id: src; frameSize: "
            "Qt.size(640, 360) }\n" +
            qml.replace("{ ", "{ id: node; ") +
            (qml.startsWith("KXSink") ? "\nNodeConnection { from: src.output; to: node.videoInput }" : "") +
            " }"));
        QVERIFY(session);
        auto *node = session->property("node").value<QObject *>();
        QVERIFY(node);
        QTRY_COMPARE_WITH_TIMEOUT(node->property("status").toInt(), 4, 10000);
    }
};

QTEST_MAIN(tst_KXNodes)
#include "tst_kxnodes.moc"
