// The network source: clips written here with libavformat (libx264 inside) come back picture for
// picture with the encoder's own NAL units and key flags; a missing file, a dropped connection and a
// silent server make it reconnect, stop() never hangs on the network, and a named pipe, a device or a
// folder named by a file:// URL fails the source at once.
#include "cliptools.h"
#include "craftedh264.h"
#include "h264testdecoder.h"
#include "multimedia/engines/h264decoder.h"
#include "multimedia/engines/h264encoder.h"
#include "multimedia/engines/networksource.h"
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"

#include "testenvironment.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <mutex>

#include <sys/stat.h>

using namespace nyx::multimedia;
using namespace nyx::multimedia::test;

namespace {

// What the source delivered, collected from its thread.
struct Collector
{
    std::mutex mutex;
    QVector<H264Packet> packets;
    QVector<int> connections; // index into packets where each connection began
    QVector<NetworkSource::Status> statuses;
    QStringList messages;
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
        cb.status = [this](NetworkSource::Status s, const QString &message) {
            std::lock_guard<std::mutex> lock(mutex);
            statuses.append(s);
            messages.append(message);
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

    // Opening a named pipe waits for a writer and reading a device may wait for ever, out of the
    // interrupt callback's reach: what is not a regular file fails the source, and stop() returns.
    void notARegularFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << m_dir + QStringLiteral("/camera.fifo") << "a named pipe";
        QTest::newRow("folder") << m_dir << "a folder";
        QTest::newRow("device") << "/dev/zero"
                                << "a device";
    }
    void notARegularFile()
    {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        if (path.endsWith(QLatin1String(".fifo")))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(kind)));
        Collector c;
        NetworkSource source(QUrl::fromLocalFile(path), c.callbacks(), {50, 60000});
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(source.status(), NetworkSource::Status::Failed, 20000);
        QElapsedTimer timer;
        timer.start();
        source.stop();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(c.statuses.value(1), NetworkSource::Status::Failed);
        QCOMPARE(c.messages.value(1),
                 path + QStringLiteral(" is ") + kind + QStringLiteral(", not a regular file"));
        QCOMPARE(source.reconnectCount(), 0);
        QCOMPARE(c.count(), 0);
    }

    // A camera announcing 16000 x 16000 pictures (a 2 KB file of a few access units): the source
    // refuses it with the reason and delivers nothing, and the live decoder decodes none of its units.
    void hugePicturesRefused()
    {
        const QByteArray unit = craftedh264::accessUnit(16000, 16000);
        const QString path = m_dir + QStringLiteral("/huge.h264");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4; ++i)
            f.write(unit);
        f.close();
        Collector c;
        QString reason;
        auto callbacks = c.callbacks();
        callbacks.status = [&](NetworkSource::Status s, const QString &text) {
            std::lock_guard<std::mutex> lock(c.mutex);
            c.statuses.append(s);
            if (s == NetworkSource::Status::Failed)
                reason = text;
        };
        NetworkSource source(QUrl::fromLocalFile(path), callbacks, {50, 5000});
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(source.status(), NetworkSource::Status::Failed, 20000);
        QCOMPARE(c.count(), 0);
        {
            std::lock_guard<std::mutex> lock(c.mutex);
            QVERIFY2(reason.contains(QStringLiteral("16000x16000")), qPrintable(reason));
        }
        source.stop();

        H264Decoder decoder;
        QVERIFY(decoder.open());
        for (int i = 0; i < 4; ++i) {
            QVERIFY(decoder.decode(unit, i * 400000, 400000, quint64(i)).isEmpty());
            QVERIFY2(decoder.errorString().contains(QStringLiteral("16000x16000")),
                     qPrintable(decoder.errorString()));
        }
        // A stream of an allowed size still decodes on the same decoder.
        QVector<DecodedFrame> pictures;
        for (const H264Packet &p : m_clip)
            pictures += decoder.decode(p.data, p.time, p.duration, 0);
        pictures += decoder.drain();
        QCOMPARE(pictures.size(), m_clip.size());
        QCOMPARE(pictures.first().frame.width, 640);
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
