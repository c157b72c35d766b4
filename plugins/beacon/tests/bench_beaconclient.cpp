// Acknowledged events per second: a sender that waits for each feedback, against BeaconClient
// and against a plain QUdpSocket request-reply loop, both over loopback in one run.
// Usage: beacon_bench [seconds of the receiver's burst, default 10]
// Exits with 1 when an acknowledged event was not emitted (or emitted twice).
#include "beacon/beaconprotocol.h"
#include "beaconclient.h"
#include "protocolevent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>

#include <cstdio>
#include <future>
#include <thread>

namespace {
const QHostAddress kLoopback(QStringLiteral("127.0.0.1"));

struct SenderResult
{
    quint64 acknowledged = 0;
    quint64 resends = 0;
    double seconds = 0;
};

// A sender thread with its own sockets: it reports its feedback port, waits for the go, then
// sends one-record event packets to port, each after the previous one was acknowledged, for
// the given time, and finally stops the main thread's event loop.
class Sender
{
public:
    explicit Sender(int seconds) : m_seconds(seconds)
    {
        m_thread = std::thread([this] { run(); });
        m_feedbackPort = m_portPromise.get_future().get();
    }

    quint16 feedbackPort() const { return m_feedbackPort; }

    SenderResult runAgainst(QCoreApplication &app, quint16 port)
    {
        m_app = &app;
        m_port = port;
        m_go.set_value();
        app.exec();
        m_thread.join();
        return m_result;
    }

private:
    void run()
    {
        QUdpSocket feedback;
        feedback.bind(kLoopback, 0);
        m_portPromise.set_value(feedback.localPort());
        m_go.get_future().wait();

        QUdpSocket socket;
        socket.bind(kLoopback, 0);
        const QByteArray text("ABC123: 09:15:00 (21:45:00) 42 #benchmark event");
        QByteArray reply(beacon::kFeedbackSize, '\0');
        QElapsedTimer clock;
        clock.start();
        quint32 number = 0;
        while (clock.elapsed() < m_seconds * 1000) {
            const QByteArray packet = beacon::makeEventPacket(beacon::kTypeEvent, number, {text});
            bool acknowledged = false;
            while (!acknowledged) {
                socket.writeDatagram(packet, kLoopback, m_port);
                QElapsedTimer wait;
                wait.start();
                while (!acknowledged && wait.elapsed() < 500) {
                    if (!feedback.hasPendingDatagrams() && !feedback.waitForReadyRead(500))
                        break;
                    const qint64 read = feedback.readDatagram(reply.data(), reply.size());
                    acknowledged = read == beacon::kFeedbackSize &&
                                   beacon::readWord(reply.constData(), beacon::kOffsetPacket) == number;
                }
                if (!acknowledged)
                    ++m_result.resends;
            }
            ++m_result.acknowledged;
            ++number;
        }
        m_result.seconds = clock.elapsed() / 1000.0;
        QMetaObject::invokeMethod(m_app, &QCoreApplication::quit, Qt::QueuedConnection);
    }

    int m_seconds;
    std::thread m_thread;
    std::promise<quint16> m_portPromise;
    std::promise<void> m_go;
    quint16 m_feedbackPort = 0;
    quint16 m_port = 0;
    QCoreApplication *m_app = nullptr;
    SenderResult m_result;
};
} // namespace

// The plain request-reply loop over QUdpSocket, answering the way the receiver does.
static SenderResult runPlain(QCoreApplication &app, int seconds)
{
    Sender sender(seconds);
    QUdpSocket server;
    server.bind(kLoopback, 0);
    QUdpSocket replySocket;
    const quint16 feedbackPort = sender.feedbackPort();
    QObject::connect(&server, &QUdpSocket::readyRead, [&] {
        while (server.hasPendingDatagrams()) {
            QByteArray datagram(static_cast<int>(server.pendingDatagramSize()), '\0');
            QHostAddress from;
            server.readDatagram(datagram.data(), datagram.size(), &from);
            if (datagram.size() < beacon::kHeaderSize)
                continue;
            const quint32 number = beacon::readWord(datagram.constData(), beacon::kOffsetPacket);
            replySocket.writeDatagram(beacon::makeFeedbackPacket(number, 0), from, feedbackPort);
        }
    });
    return sender.runAgainst(app, server.localPort());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 10;

    // The plain loop runs before and after the receiver, half the time each, so that a change
    // in machine load during the run weighs on both sides alike.
    SenderResult before = runPlain(app, qMax(1, seconds / 2));

    // The receiver in one burst.
    SenderResult beaconRun;
    quint64 events = 0;
    {
        Sender sender(seconds);
        quint16 control = 0;
        {
            QUdpSocket probe;
            probe.bind(kLoopback, 0);
            control = probe.localPort();
        }
        BeaconClient client;
        client.setPortControl(control);
        client.setAddrLocal(kLoopback.toString());
        client.setPortFeedback(sender.feedbackPort());
        client.componentComplete();
        QObject::connect(&client, &BeaconClient::eventReceived, [&](ProtocolEvent *event) {
            ++events;
            delete event;
        });
        beaconRun = sender.runAgainst(app, control);
    }

    SenderResult after = runPlain(app, qMax(1, seconds / 2));
    SenderResult plain;
    plain.acknowledged = before.acknowledged + after.acknowledged;
    plain.resends = before.resends + after.resends;
    plain.seconds = before.seconds + after.seconds;
    const double plainRate = plain.acknowledged / plain.seconds;
    const double beaconRate = beaconRun.acknowledged / beaconRun.seconds;
    const quint64 lost = beaconRun.acknowledged > events ? beaconRun.acknowledged - events : 0;
    std::printf("plain QUdpSocket request-reply: %llu replies in %.2f s = %.0f/s (resends %llu)\n",
                static_cast<unsigned long long>(plain.acknowledged), plain.seconds, plainRate,
                static_cast<unsigned long long>(plain.resends));
    std::printf(
        "BeaconClient: %llu acknowledged packets, %llu events in %.2f s = %.0f events/s (resends %llu)\n",
        static_cast<unsigned long long>(beaconRun.acknowledged), static_cast<unsigned long long>(events),
        beaconRun.seconds, beaconRate, static_cast<unsigned long long>(beaconRun.resends));
    std::printf("ratio BeaconClient / plain: %.2f (target >= 0.50)\n", beaconRate / plainRate);
    std::printf("events lost: %llu, duplicated: %llu\n", static_cast<unsigned long long>(lost),
                static_cast<unsigned long long>(
                    events > beaconRun.acknowledged ? events - beaconRun.acknowledged : 0));
    return lost == 0 && events == beaconRun.acknowledged ? 0 : 1;
}
