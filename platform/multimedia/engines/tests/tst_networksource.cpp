// The network source: clips written here with libavformat (libx264 inside) come back picture for
// picture with the encoder's own NAL units and key flags; a missing file, a dropped connection and a
// silent server make it reconnect, and stop() never hangs on the network.
#include "h264testdecoder.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/networksource.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"

#include "testenvironment.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

extern "C" {
#include <libavformat/avformat.h>
}

#include <mutex>

using namespace nyx::multimedia;
using namespace nyx::multimedia::test;

namespace {

QVector<H264Packet> encodeClip(int frames)
{
    H264Encoder encoder;
    H264EncoderSettings settings;
    settings.width = 640;
    settings.height = 360;
    settings.preset = QStringLiteral("ultrafast");
    if (!encoder.open(settings))
        return {};
    RunningLine line(640, 360, 25, 1);
    QVector<H264Packet> packets;
    for (int i = 0; i < frames; ++i) {
        Nv12Frame f = line.frame(i);
        TimeStrip::draw(f, quint64(f.time));
        packets += encoder.encode(f);
    }
    return packets;
}

// Writes the packets into a container file with libavformat; the SPS/PPS of the first key frame
// become the stream's parameter sets.
bool writeClip(const QString &path, const char *format, const QVector<H264Packet> &packets)
{
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, format, QFile::encodeName(path).constData()) < 0)
        return false;
    AVStream *st = avformat_new_stream(oc, nullptr);
    st->time_base = AVRational{1, 25};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_H264;
    st->codecpar->width = 640;
    st->codecpar->height = 360;
    QByteArray sets;
    for (const QByteArray &nal : nalUnits(packets.first().data))
        if ((nal[0] & 0x1f) == 7 || (nal[0] & 0x1f) == 8)
            sets += QByteArray("\0\0\0\1", 4) + nal;
    st->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    memcpy(st->codecpar->extradata, sets.constData(), sets.size());
    st->codecpar->extradata_size = sets.size();
    bool ok = avio_open(&oc->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(oc, nullptr) >= 0;
    AVPacket *pkt = av_packet_alloc();
    for (const H264Packet &p : packets) {
        if (!ok)
            break;
        ok = av_new_packet(pkt, p.data.size()) >= 0;
        memcpy(pkt->data, p.data.constData(), p.data.size());
        pkt->pts = pkt->dts = av_rescale_q(p.time, AVRational{1, 10000000}, st->time_base);
        pkt->duration = av_rescale_q(p.duration, AVRational{1, 10000000}, st->time_base);
        pkt->flags = p.keyFrame ? AV_PKT_FLAG_KEY : 0;
        pkt->stream_index = st->index;
        ok = ok && av_interleaved_write_frame(oc, pkt) >= 0;
    }
    av_packet_free(&pkt);
    ok = ok && av_write_trailer(oc) >= 0;
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    return ok;
}

// What the source delivered, collected from its thread.
struct Collector
{
    std::mutex mutex;
    QVector<H264Packet> packets;
    QVector<int> connections; // index into packets where each connection began
    QVector<NetworkSource::Status> statuses;
    NetworkSource::Format format;

    NetworkSource::Callbacks callbacks()
    {
        NetworkSource::Callbacks cb;
        cb.packet = [this](const H264Packet &p, bool discontinuity) {
            std::lock_guard<std::mutex> lock(mutex);
            if (discontinuity)
                connections.append(packets.size());
            packets.append(p);
        };
        cb.status = [this](NetworkSource::Status s, const QString &) {
            std::lock_guard<std::mutex> lock(mutex);
            statuses.append(s);
        };
        cb.format = [this](const NetworkSource::Format &f) {
            std::lock_guard<std::mutex> lock(mutex);
            format = f;
        };
        return cb;
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
    int connectionCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return connections.size();
    }
};

// The NAL units of a packet without access-unit delimiters, which the MPEG-TS muxer adds.
QByteArrayList payload(const QByteArray &annexB)
{
    QByteArrayList units = nalUnits(annexB);
    units.erase(
        std::remove_if(units.begin(), units.end(), [](const QByteArray &u) { return (u[0] & 0x1f) == 9; }),
        units.end());
    return units;
}

// Compares delivered packets with the encoder's: the same NAL units byte for byte, the same key flags
// and the same times (relative to the first, within the container's rounding).
void compareStreams(const QVector<H264Packet> &got, const QVector<H264Packet> &expected)
{
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i) {
        QVERIFY2(payload(got[i].data) == payload(expected[i].data),
                 qPrintable(QStringLiteral("packet %1").arg(i)));
        QCOMPARE(got[i].keyFrame, expected[i].keyFrame);
        QVERIFY(qAbs((got[i].time - got[0].time) - (expected[i].time - expected[0].time)) <= 10000);
    }
}

} // namespace

class tst_NetworkSource : public QObject
{
    Q_OBJECT
private:
    QVector<H264Packet> m_clip;
    QString m_dir;

private slots:
    void initTestCase()
    {
        m_clip = encodeClip(60);
        QCOMPARE(m_clip.size(), 60);
        m_dir = tundra::test::freshDir(QStringLiteral("clips"));
    }

    void fileClip_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("mp4") << "mp4";
        QTest::newRow("flv") << "flv";
        QTest::newRow("mpegts") << "mpegts";
    }
    void fileClip()
    {
        QFETCH(QString, format);
        const QString path = m_dir + QStringLiteral("/clip with space.") + format;
        QVERIFY(writeClip(path, format.toLatin1().constData(), m_clip));
        Collector c;
        NetworkSource source(QUrl::fromLocalFile(path), c.callbacks());
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(source.status(), NetworkSource::Status::Ended, 20000);
        compareStreams(c.packets, m_clip);
        QCOMPARE(c.connections, QVector<int>{0});
        QCOMPARE(c.format.size, QSize(640, 360));
        QCOMPARE(c.statuses, (QVector<NetworkSource::Status>{NetworkSource::Status::Connecting,
                                                             NetworkSource::Status::Playing,
                                                             NetworkSource::Status::Ended}));
        QCOMPARE(source.reconnectCount(), 0);
    }

    void fileAppears()
    {
        const QString path = m_dir + QStringLiteral("/late.mp4");
        Collector c;
        NetworkSource source(QUrl::fromLocalFile(path), c.callbacks(), {50, 5000});
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(source.reconnectCount() >= 2, 20000);
        QCOMPARE(source.status(), NetworkSource::Status::Reconnecting);
        QCOMPARE(c.count(), 0);
        QVERIFY(writeClip(path + QStringLiteral(".part"), "mp4", m_clip));
        QVERIFY(QFile::rename(path + QStringLiteral(".part"), path));
        QTRY_COMPARE_WITH_TIMEOUT(source.status(), NetworkSource::Status::Ended, 20000);
        compareStreams(c.packets, m_clip);
    }

    void notH264()
    {
        const QString path = m_dir + QStringLiteral("/text.mp4");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is not a video");
        f.close();
        Collector c;
        NetworkSource source(QUrl::fromLocalFile(path), c.callbacks(), {50, 5000});
        source.start();
        // Garbage is a failed connection, retried like a missing file.
        QTRY_VERIFY_WITH_TIMEOUT(source.reconnectCount() >= 1, 20000);
        QCOMPARE(c.count(), 0);
        source.stop();
        QCOMPARE(source.status(), NetworkSource::Status::Idle);
    }

    // A loopback HTTP server that cuts the first connection short: the source reconnects and the
    // second connection plays the whole stream.
    void droppedConnection()
    {
        const QString path = m_dir + QStringLiteral("/live.flv");
        QVERIFY(writeClip(path, "flv", m_clip));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray body = file.readAll();

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        int served = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                const bool cut = served++ == 0;
                connect(s, &QTcpSocket::readyRead, s, [s, cut, &body] {
                    if (!s->readAll().contains("\r\n\r\n") || s->property("answered").toBool())
                        return;
                    s->setProperty("answered", true);
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nConnection: close\r\n\r\n");
                    s->write(cut ? body.left(body.size() / 3) : body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        Collector c;
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/live.flv").arg(server.serverPort()));
        NetworkSource source(url, c.callbacks(), {50, 5000});
        source.start();
        // The end of the second connection's stream is a lost connection too (a camera never ends).
        QTRY_VERIFY_WITH_TIMEOUT(c.connectionCount() >= 3, 30000);
        source.stop();
        const int first = c.connections[0], second = c.connections[1], third = c.connections[2];
        QVERIFY(second - first > 0 && second - first < m_clip.size());
        compareStreams(c.packets.mid(second, third - second), m_clip);
        QVERIFY(c.statuses.contains(NetworkSource::Status::Reconnecting));
        QVERIFY(source.reconnectCount() >= 2);
    }

    // A server that accepts and never answers: stop() interrupts the pending open at once.
    void stopWhileHanging()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        Collector c;
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/silent").arg(server.serverPort()));
        NetworkSource source(url, c.callbacks(), {50, 60000});
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 10000);
        QElapsedTimer timer;
        timer.start();
        source.stop();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(c.count(), 0);
    }

    void unsupportedUrl()
    {
        Collector c;
        NetworkSource source(QUrl(QStringLiteral("kx:///KX788 Board 1 Input 1")), c.callbacks());
        QVERIFY(!NetworkSource::isSupported(source.url()));
        source.start();
        QTRY_COMPARE(source.status(), NetworkSource::Status::Failed);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkSource)
#include "tst_networksource.moc"
