// Recording into a real archive (in a temporary folder) through RewindSink: a file:// clip from the
// network source arrives frame for frame, and a capture input encoded by the H.264 node is stored
// without a gap (every stored picture decodes to its capture picture).
#include "cliptools.h"
#include "h264testdecoder.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/mediasession.h"
#include "rewindsink.h"
#include "sinktesthelpers.h"
#include "stream.h"

#include "testenvironment.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

using namespace nyx::multimedia;
using namespace mediatest;

class tst_Recording : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_root;
    QSharedPointer<QThread> m_worker;
    int m_streams = 0;

    struct Graph
    {
        ArchiveStream archive;
        std::unique_ptr<Stream> stream;
        std::unique_ptr<QQmlEngine> engine;
        std::unique_ptr<MediaSession> session;
    };

    void build(Graph *graph, const QByteArray &nodes)
    {
        graph->archive = makeArchiveStream(QStringLiteral("Camera %1").arg(++m_streams));
        QVERIFY(graph->archive.stream);
        graph->stream =
            std::make_unique<Stream>(graph->archive.server, QUuid(), nyx::com::toQUuid(graph->archive.id),
                                     false, QStringLiteral("Camera"), nullptr, m_worker);
        graph->engine = std::make_unique<QQmlEngine>();
        graph->engine->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        graph->engine->rootContext()->setContextProperty(QStringLiteral("recordStream"), graph->stream.get());
        QQmlComponent component(graph->engine.get());
        component.setData("import QtQml 2.2\nimport Multimedia 1.0\nimport Multimedia.KXExt 1.0\n"
                          "import RecordingTest 1.0\nMediaSession { autoPlay: true\n" +
                              nodes + "\nRewindSink { id: sink; stream: recordStream } }",
                          QUrl());
        graph->session.reset(qobject_cast<MediaSession *>(component.create()));
        QVERIFY2(graph->session, qPrintable(component.errorString()));
    }
    QVector<StoredFrame> stored(const Graph &graph)
    {
        return readBack(graph.archive, rewindchannels::kVideoDataChannel,
                        rewindchannels::kVideoMediaTypeChannel);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        archivetest::useRoot(m_root.path());
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("rec") + QByteArray::number(QCoreApplication::applicationPid()));
        m_worker.reset(new QThread);
        m_worker->start();
        qmlRegisterType<RewindSink>("RecordingTest", 1, 0, "RewindSink");
        qmlRegisterUncreatableType<Stream>("RecordingTest", 1, 0, "Stream",
                                           QStringLiteral("from the service"));
    }
    void cleanupTestCase()
    {
        m_worker->quit();
        m_worker->wait();
    }

    void clipFrameForFrame()
    {
        const QVector<H264Packet> clip = test::encodeClip(60);
        const QString path = tundra::test::freshDir(QStringLiteral("clips")) + QStringLiteral("/clip.mp4");
        QVERIFY(test::writeClip(path, "mp4", clip));
        Graph graph;
        build(&graph, "NetworkSource { id: src; url: \"" + QUrl::fromLocalFile(path).toEncoded() +
                          "\" }\nNodeConnection { from: src.output; to: sink.input }");
        QTRY_COMPARE_WITH_TIMEOUT(stored(graph).size(), clip.size(), 30000);
        graph.session->stop();
        const QVector<StoredFrame> frames = stored(graph);
        QCOMPARE(frames.size(), clip.size());
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY2(test::nalUnits(frames[i].data) == test::nalUnits(clip[i].data),
                     qPrintable(QStringLiteral("frame %1").arg(i)));
            QCOMPARE(frames[i].hasMark, clip[i].keyFrame);
            QCOMPARE(frames[i].time - frames[0].time, clip[i].time - clip[0].time);
        }
        QCOMPARE(graph.session->sinkErrors(), 0);
    }

    void encodedCapture()
    {
        Graph graph;
        build(&graph, "KXSource { id: src; url: \"kx:///KX788 Board 1 Input 4\" }\n"
                      "H264Encoder { id: enc; preset: \"ultrafast\" }\n"
                      "NodeConnection { from: src.output; to: enc.videoInput }\n"
                      "NodeConnection { from: enc.output; to: sink.input }");
        QTRY_VERIFY_WITH_TIMEOUT(stored(graph).size() >= 60, 30000);
        graph.session->stop();
        const QVector<StoredFrame> frames = stored(graph);
        QVERIFY(frames.first().hasMark);
        // A picture missing between the encoder and the archive would break the pictures after it.
        test::H264TestDecoder decoder;
        QVector<qint64> strips;
        for (const StoredFrame &f : frames) {
            H264Packet p;
            p.data = f.data;
            for (const test::DecodedPicture &pic : decoder.decode(p)) {
                const auto strip = TimeStrip::read(reinterpret_cast<const uchar *>(pic.luma.constData()),
                                                   pic.width, pic.width, pic.height);
                QVERIFY2(strip, qPrintable(QStringLiteral("picture %1").arg(strips.size())));
                strips.append(qint64(*strip));
            }
            QCOMPARE(f.hasMark, test::nalTypes(f.data).contains(5));
        }
        QCOMPARE(strips.size(), frames.size());
        for (int i = 1; i < frames.size(); ++i) {
            QVERIFY(strips[i] > strips[i - 1] && (strips[i] - strips[i - 1]) % 400000 == 0);
            // Stored times keep the capture's spacing.
            QCOMPARE(frames[i].time - frames[i - 1].time, strips[i] - strips[i - 1]);
        }
        QCOMPARE(graph.session->sinkErrors(), 0);
    }
};

QTEST_MAIN(tst_Recording)
#include "tst_recording.moc"
