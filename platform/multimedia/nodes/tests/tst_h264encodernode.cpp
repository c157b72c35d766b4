// The encoder node in a media session: a capture input's pictures come out as H.264 that decodes
// with libavcodec to the same pictures (their strips), each sample at its frame's presentation time,
// with clean points exactly on the IDR pictures, one per second.
#include "h264testdecoder.h"
#include "multimedia/engines/timestrip.h"
#include "multimedia/medianode.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <mutex>

using namespace nyx::multimedia;

namespace {
struct Received
{
    QByteArray bytes;
    qint64 time = 0;
    bool cleanPoint = false;
};
std::mutex g_mutex;
QVector<Received> g_received;
} // namespace

// A test sink that keeps every H.264 sample it gets.
class CollectorNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *input READ input CONSTANT)
public:
    explicit CollectorNode(QObject *parent = nullptr) : MediaNode(parent)
    {
        setInputCount(1);
        connect(input(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
    }
    ~CollectorNode() override
    {
        clearMfNodes();
        if (m_sink)
            m_sink->Shutdown();
    }
    NodeInput *input() const { return getInput(0); }
    void cancel() override {}
    void create() override
    {
        if (m_sink || !input()->getConnectedMfMediaType())
            return;
        LiveSinkSpec spec;
        spec.subtype = MFVideoFormat_H264;
        spec.consume = [](IMFSample *sample, IMFMediaType *) {
            Received r;
            r.bytes = sampleBytes(sample);
            LONGLONG time = 0;
            sample->GetSampleTime(&time);
            r.time = time;
            UINT32 clean = 0;
            r.cleanPoint = SUCCEEDED(sample->GetUINT32(MFSampleExtension_CleanPoint, &clean)) && clean;
            std::lock_guard<std::mutex> lock(g_mutex);
            g_received.append(r);
            return S_OK;
        };
        m_sink = createLiveSink(spec);
        CComPtr<IMFStreamSink> stream;
        CComPtr<IMFTopologyNode> node;
        m_sink->GetStreamSinkByIndex(0, &stream);
        MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &node);
        node->SetObject(stream);
        addMfNode(node);
        input()->setMfNode(node, 0);
        setStatus(StatusReady);
    }

private:
    CComPtr<IMFMediaSink> m_sink;
};

class tst_H264EncoderNode : public QObject
{
    Q_OBJECT
private slots:
    void encodesCapture()
    {
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("enc") + QByteArray::number(QCoreApplication::applicationPid()));
        qmlRegisterType<CollectorNode>("EncoderTest", 1, 0, "Collector");
        QQmlEngine engine;
        engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.2\nimport Multimedia 1.0\nimport Multimedia.KXExt 1.0\n"
                          "import EncoderTest 1.0\n"
                          "MediaSession { autoPlay: true\n"
                          "  KXSource { id: src; url: \"kx:///KX788 Board 1 Input 2\" }\n"
                          "  H264Encoder { id: enc; preset: \"ultrafast\" }\n"
                          "  Collector { id: sink }\n"
                          "  NodeConnection { from: src.output; to: enc.videoInput }\n"
                          "  NodeConnection { from: enc.output; to: sink.input } }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        auto *session = qobject_cast<MediaSession *>(object.get());
        QTRY_VERIFY_WITH_TIMEOUT(session->isPlaying(), 20000);
        auto count = [] {
            std::lock_guard<std::mutex> lock(g_mutex);
            return g_received.size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(count() >= 80, 30000);
        session->stop();
        object.reset();
        QVector<Received> received;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            received = g_received;
        }

        // The stream starts with a key frame and decodes to the capture's own pictures.
        QVERIFY(received.first().cleanPoint);
        test::H264TestDecoder decoder;
        QVector<qint64> strips;
        for (const Received &r : received) {
            H264Packet p;
            p.data = r.bytes;
            p.time = r.time;
            for (const test::DecodedPicture &pic : decoder.decode(p)) {
                const auto strip = TimeStrip::read(reinterpret_cast<const uchar *>(pic.luma.constData()),
                                                   pic.width, pic.width, pic.height);
                QVERIFY(strip);
                strips.append(qint64(*strip));
            }
            // Clean points are exactly the IDR pictures, with SPS/PPS in front.
            const QVector<int> types = test::nalTypes(r.bytes);
            QCOMPARE(r.cleanPoint, types.contains(5));
            QCOMPARE(r.cleanPoint, types.contains(7) && types.contains(8));
        }
        QCOMPARE(strips.size(), received.size());
        // Presentation times follow the capture's clock: the same offset for every picture.
        const qint64 offset = received.first().time - strips.first();
        int fullGops = 0;
        int sinceKey = -1;
        for (int i = 0; i < received.size(); ++i) {
            QVERIFY(qAbs(received[i].time - strips[i] - offset) <= 1);
            if (i > 0) {
                const qint64 step = strips[i] - strips[i - 1];
                QVERIFY(step > 0 && step % 400000 == 0);
                if (step != 400000)
                    sinceKey = -1; // a frame was missed upstream: this GOP cannot be counted
            }
            if (received[i].cleanPoint) {
                if (sinceKey == 25)
                    ++fullGops;
                QVERIFY2(sinceKey == -1 || sinceKey == 25, qPrintable(QString::number(sinceKey)));
                sinceKey = 1;
            } else if (sinceKey > 0) {
                ++sinceKey;
                QVERIFY(sinceKey <= 25);
            }
        }
        QVERIFY(fullGops >= 1);
    }
};

QTEST_MAIN(tst_H264EncoderNode)
#include "tst_h264encodernode.moc"
