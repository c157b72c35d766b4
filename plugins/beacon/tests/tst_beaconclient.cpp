// BeaconClient over real loopback sockets: a sender socket plays the remote event source and a
// listener on the feedback port collects the acknowledgements.
#include "beacon/beaconprotocol.h"
#include "beaconclient.h"
#include "koi8parser.h"
#include "protocolevent.h"

#include "testenvironment.h"

#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {
const QHostAddress kFirst(QStringLiteral("127.0.0.1"));
const QHostAddress kSecond(QStringLiteral("127.0.0.2"));

quint16 freePort()
{
    QUdpSocket probe;
    if (!probe.bind(kFirst, 0))
        return 0;
    return probe.localPort();
}

QByteArray eventText(int n)
{
    return QStringLiteral("ABC%1: 09:15:00 (21:45:00) %1 #event %1").arg(n).toLatin1();
}

QByteArray eventPacket(quint32 packet, int records = 1, quint32 type = beacon::kTypeEvent)
{
    QVector<QByteArray> texts;
    for (int i = 0; i < records; ++i)
        texts.append(eventText(i));
    return beacon::makeEventPacket(type, packet, texts);
}

struct Event
{
    QString source;
    QTime timeMoscow;
    QTime timeOnBoard;
    QString value;
    QString description;
};

// One remote sender: a socket on its own loopback address and a listener for its feedback.
struct Peer
{
    QUdpSocket socket;
    QUdpSocket feedback;
};
} // namespace

class TestBeaconClient : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BeaconClient> m_client;
    Peer m_peers[2];
    quint16 m_portControl = 0;
    quint16 m_portFeedback = 0;
    QVector<Event> m_events;
    qint64 m_now = 1'000'000;

    Peer &peer(int i) { return m_peers[i]; }

    void send(const QByteArray &datagram, int from = 0, quint16 port = 0)
    {
        const qint64 written = peer(from).socket.writeDatagram(datagram, kFirst, port ? port : m_portControl);
        QCOMPARE(written, qint64(datagram.size()));
    }

    // Feedback datagrams that arrived for a peer so far (after the event loop ran).
    QVector<QByteArray> takeFeedback(int of = 0)
    {
        QVector<QByteArray> result;
        QUdpSocket &socket = peer(of).feedback;
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(static_cast<int>(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(datagram.data(), datagram.size());
            result.append(datagram);
        }
        return result;
    }

    // Waits for the next feedback to a peer and returns its packet number word.
    quint32 nextFeedback(int of = 0)
    {
        QUdpSocket &socket = peer(of).feedback;
        if (!socket.hasPendingDatagrams())
            socket.waitForReadyRead(5000);
        const QVector<QByteArray> all = takeFeedback(of);
        if (all.size() != 1) {
            qWarning() << "expected one feedback, got" << all.size();
            return 0xDEADBEEF;
        }
        return beacon::readWord(all.first().constData(), beacon::kOffsetPacket);
    }

    // Everything sent before has been handled once the second peer's header-only packet is
    // acknowledged: the receiver reads its socket in order and loopback delivers at once.
    void barrier()
    {
        send(beacon::makeHeaderOnlyPacket(0), 1);
        QTRY_VERIFY_WITH_TIMEOUT(peer(1).feedback.hasPendingDatagrams(), 5000);
        takeFeedback(1);
    }

    // Sends a packet, waits until it is acknowledged and returns the acknowledged number.
    quint32 deliver(const QByteArray &datagram, int from = 0)
    {
        send(datagram, from);
        QDeadlineTimer deadline(5000);
        while (!peer(from).feedback.hasPendingDatagrams() && !deadline.hasExpired())
            QTest::qWait(1);
        return nextFeedback(from);
    }

private slots:
    void init()
    {
        m_events.clear();
        m_now = 1'000'000;
        m_portFeedback = 0;
        for (int i = 0; i < 2; ++i) {
            const QHostAddress address = i == 0 ? kFirst : kSecond;
            QVERIFY(peer(i).socket.bind(address, 0));
            // The receiver answers on the same feedback port for every sender address.
            QVERIFY(peer(i).feedback.bind(address, m_portFeedback));
            m_portFeedback = peer(i).feedback.localPort();
        }
        m_portControl = freePort();
        QVERIFY(m_portControl);

        m_client = std::make_unique<BeaconClient>();
        m_client->setPortControl(m_portControl);
        m_client->setAddrLocal(kFirst.toString());
        m_client->setPortFeedback(m_portFeedback);
        m_client->setClock([this] { return m_now; });
        m_client->componentComplete();
        connect(m_client.get(), &BeaconClient::eventReceived, this, [this](ProtocolEvent *event) {
            m_events.append({event->source(), event->timeMoscow(), event->timeOnBoard(), event->value(),
                             event->description()});
            delete event;
        });
    }

    void cleanup()
    {
        m_client.reset();
        for (Peer &p : m_peers) {
            p.socket.close();
            p.feedback.close();
        }
    }

    void defaults()
    {
        BeaconClient client;
        QCOMPARE(client.portControl(), 5952u);
        QCOMPARE(client.portFeedback(), 5951u);
        QCOMPARE(client.status(), BeaconClient::StatusOk);
        QVERIFY(!QHostAddress(client.addrLocal()).isNull());
    }

    void zeroAndThreeRecords()
    {
        QCOMPARE(deliver(eventPacket(0, 0)), 0u);
        QVERIFY(m_events.isEmpty());

        send(eventPacket(1, 3));
        QTRY_VERIFY_WITH_TIMEOUT(peer(0).feedback.hasPendingDatagrams(), 5000);
        const QVector<QByteArray> feedback = takeFeedback();
        QCOMPARE(feedback.size(), 1);
        QCOMPARE(feedback.first().toHex(), QByteArray("0302000044000000"
                                                      "0000000000000000000000000000000000000000"
                                                      "01000000000000000100000001000000"
                                                      "0000000000000000000000000000000000000000"
                                                      "00000000"));
        QCOMPARE(m_events.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_events[i].source, QStringLiteral("ABC%1").arg(i));
            QCOMPARE(m_events[i].timeMoscow, QTime(9, 15));
            QCOMPARE(m_events[i].timeOnBoard, QTime(21, 45));
            QCOMPARE(m_events[i].value, QStringLiteral("%1 ").arg(i));
            QCOMPARE(m_events[i].description, QStringLiteral("event %1").arg(i));
        }
    }

    void unknownTypes_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::newRow("511") << 511u;
        QTest::newRow("516") << 516u;
        QTest::newRow("0") << 0u;
    }

    void unknownTypes()
    {
        QFETCH(quint32, type);
        QTest::ignoreMessage(QtDebugMsg, "Invalid packet header!");
        send(eventPacket(0, 1, type));
        barrier();
        QVERIFY(takeFeedback().isEmpty());
        QVERIFY(m_events.isEmpty());
    }

    void malformedDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("message");

        QByteArray shortLength = eventPacket(0, 3);
        beacon::writeWord(shortLength.data(), beacon::kOffsetLength, 320);
        QByteArray longLength = eventPacket(0, 2);
        beacon::writeWord(longLength.data(), beacon::kOffsetLength, 448);
        QByteArray oddSized = eventPacket(0, 1) + QByteArray(100, 'x');
        beacon::writeWord(oddSized.data(), beacon::kOffsetLength, static_cast<quint32>(oddSized.size()));
        QByteArray headerOnlyLong = beacon::makeHeaderOnlyPacket(0) + QByteArray(128, '\0');
        QByteArray headerOnlyLongWord = headerOnlyLong;
        beacon::writeWord(headerOnlyLongWord.data(), beacon::kOffsetLength, 192);
        QByteArray headerOnlyShortWord = beacon::makeHeaderOnlyPacket(0);
        beacon::writeWord(headerOnlyShortWord.data(), beacon::kOffsetLength, 192);

        QTest::newRow("empty") << QByteArray() << "shorter than the header";
        QTest::newRow("shorter than header") << eventPacket(0, 0).left(63) << "shorter than the header";
        QTest::newRow("length word below size")
            << shortLength << "part of a datagram is missing!  448 out of 320 bytes";
        QTest::newRow("length word above size")
            << longLength << "part of a datagram is missing!  320 out of 448 bytes";
        QTest::newRow("partial record") << oddSized << "are not whole records";
        QTest::newRow("header-only with payload") << headerOnlyLong << "part of a datagram is missing";
        QTest::newRow("header-only with payload and its length")
            << headerOnlyLongWord << "a header-only packet of 192 bytes";
        QTest::newRow("header-only missing payload")
            << headerOnlyShortWord << "part of a datagram is missing";
        QTest::newRow("feedback datagram") << beacon::makeFeedbackPacket(0, 0) << "are not whole records";
    }

    void malformedDatagrams()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, message);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(message)));
        send(datagram);
        barrier();
        QVERIFY(takeFeedback().isEmpty());
        QVERIFY(m_events.isEmpty());

        // Nothing of the sender's state changed: its first real packet still counts as new.
        QCOMPARE(deliver(eventPacket(0, 1)), 0u);
        QCOMPARE(m_events.size(), 1);
    }

    void feedbackTypeIsHandledLikeAnEventPacket()
    {
        QCOMPARE(deliver(eventPacket(4, 2, beacon::kTypeFeedback)), 4u);
        QCOMPARE(m_events.size(), 2);
    }

    void duplicateGivesEventsOnceAndTwoFeedbacks()
    {
        const QByteArray datagram = eventPacket(9, 2);
        send(datagram);
        send(datagram);
        barrier();
        const QVector<QByteArray> feedback = takeFeedback();
        QCOMPARE(feedback.size(), 2);
        for (const QByteArray &f : feedback)
            QCOMPARE(beacon::readWord(f.constData(), beacon::kOffsetPacket), 9u);
        QCOMPARE(m_events.size(), 2);
    }

    void firstPacketOfSenderIsAcceptedWhateverItsNumber()
    {
        QCOMPARE(deliver(eventPacket(0xFFFFFFFEu)), 0xFFFFFFFEu);
        QCOMPARE(m_events.size(), 1);
        QCOMPARE(deliver(eventPacket(0xFFFFFFFFu)), 0xFFFFFFFFu);
        QCOMPARE(m_events.size(), 2);
    }

    void oldPacketAndRestart()
    {
        for (quint32 n = 58; n <= 157; ++n)
            QCOMPARE(deliver(eventPacket(n, 0)), n);

        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  0 / 157");
        m_now += 4000;
        QCOMPARE(deliver(eventPacket(0, 2)), 157u);
        QVERIFY(m_events.isEmpty());

        // With 100 entries already held, packet 0 is the smallest key and leaves the history at
        // once, so entry 58 stays the nearest: exactly 5000 ms after it is not yet a restart.
        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  0 / 157");
        m_now += 1000;
        QCOMPARE(deliver(eventPacket(0, 2)), 157u);
        QVERIFY(m_events.isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  0 / 157");
        QTest::ignoreMessage(QtDebugMsg, "Restarting sender  127.0.0.1");
        m_now += 1;
        QCOMPARE(deliver(eventPacket(0, 2)), 0u);
        QCOMPARE(m_events.size(), 2);

        // The restarted sender counts on from 0.
        QCOMPARE(deliver(eventPacket(1, 1)), 1u);
        QCOMPARE(m_events.size(), 3);
    }

    void nearestHistoryEntryDecides_data()
    {
        QTest::addColumn<bool>("smallerKeyIsOld");
        QTest::addColumn<quint32>("acknowledged");
        QTest::newRow("tie goes to the smaller key, which is old") << true << 10u;
        QTest::newRow("tie goes to the smaller key, which is recent") << false << 12u;
    }

    void nearestHistoryEntryDecides()
    {
        QFETCH(bool, smallerKeyIsOld);
        QFETCH(quint32, acknowledged);
        // Keys 8 and 12 lie at the same distance from packet 10.
        const qint64 start = m_now;
        m_now = smallerKeyIsOld ? start : start + 6000;
        QCOMPARE(deliver(eventPacket(8)), 8u);
        m_now = smallerKeyIsOld ? start + 6000 : start;
        QCOMPARE(deliver(eventPacket(12)), 12u);
        m_events.clear();

        m_now = start + 6001;
        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  10 / 12");
        if (smallerKeyIsOld)
            QTest::ignoreMessage(QtDebugMsg, "Restarting sender  127.0.0.1");
        QCOMPARE(deliver(eventPacket(10)), acknowledged);
        QCOMPARE(m_events.size(), smallerKeyIsOld ? 1 : 0);
    }

    void distanceAcrossHalfTheNumberRange()
    {
        // Packet 5 lies 2^31 away from 0x80000005 and 21 away from 0xFFFFFFF0 (around the wrap);
        // the old entry 0xFFFFFFF0 is the nearest and restarts the sender.
        QCOMPARE(deliver(eventPacket(0x80000005u, 0)), 0x80000005u);
        QCOMPARE(deliver(eventPacket(0xFFFFFFF0u, 0)), 0xFFFFFFF0u);
        m_now += 4000;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Old packet detected!  2147483653 / "));
        QCOMPARE(deliver(eventPacket(0x80000005u, 0)), 0xFFFFFFF0u);

        m_now += 2000;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Old packet detected!  5 / "));
        QTest::ignoreMessage(QtDebugMsg, "Restarting sender  127.0.0.1");
        QCOMPARE(deliver(eventPacket(5)), 5u);
        QCOMPARE(m_events.size(), 1);
    }

    void historyHoldsAtMostOneHundredPackets()
    {
        // Packet 0 is the only old entry; once 101 numbers were seen it must have been dropped,
        // so a late copy of packet 0 is judged by entry 1, which is recent: no restart.
        QCOMPARE(deliver(eventPacket(0, 0)), 0u);
        m_now += 4000;
        for (quint32 n = 1; n <= 100; ++n)
            QCOMPARE(deliver(eventPacket(n, 0)), n);
        m_now += 2000;
        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  0 / 100");
        QCOMPARE(deliver(eventPacket(0, 1)), 100u);
        QVERIFY(m_events.isEmpty());
    }

    void noFeedbackForTypeWithoutFeedback()
    {
        send(eventPacket(3, 2, beacon::kTypeEventNoFeedback));
        barrier();
        QVERIFY(takeFeedback().isEmpty());
        QCOMPARE(m_events.size(), 2);

        // A header-only packet emits nothing and is acknowledged.
        QCOMPARE(deliver(beacon::makeHeaderOnlyPacket(4)), 4u);
        QCOMPARE(m_events.size(), 2);
    }

    void failedFeedbackIsLoggedAndNotRetried()
    {
        // Port 0 is no destination: the write fails, the packet itself still counts.
        m_client->setPortFeedback(0);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Failed to send UDP datagram!  \\S"));
        send(eventPacket(6, 1));
        QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 1, 5000);

        // Nothing goes out later on its own; the sender resends after the lost feedback, which
        // is acknowledged now without a second event.
        m_client->setPortFeedback(m_portFeedback);
        barrier();
        QVERIFY(takeFeedback().isEmpty());
        QCOMPARE(deliver(eventPacket(6, 1)), 6u);
        QCOMPARE(m_events.size(), 1);
    }

    void sendersKeepSeparateNumbering()
    {
        QCOMPARE(deliver(eventPacket(5), 0), 5u);
        QCOMPARE(deliver(eventPacket(3), 1), 3u);
        QCOMPARE(m_events.size(), 2);

        QTest::ignoreMessage(QtDebugMsg, "Old packet detected!  4 / 5");
        QCOMPARE(deliver(eventPacket(4), 0), 5u);
        QCOMPARE(deliver(eventPacket(4), 1), 4u);
        QCOMPARE(m_events.size(), 3);
        QVERIFY(takeFeedback(0).isEmpty());
    }

    void rebindsOnlyOnChange()
    {
        QSignalSpy portChanged(m_client.get(), &BeaconClient::portControlChanged);
        // A datagram waiting in the socket survives setting the values it already has.
        send(eventPacket(1));
        m_client->setPortControl(m_portControl);
        m_client->setAddrLocal(kFirst.toString());
        QCOMPARE(portChanged.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 1, 5000);
        QCOMPARE(nextFeedback(), 1u);

        const quint16 oldPort = m_portControl;
        m_portControl = freePort();
        QVERIFY(m_portControl != oldPort);
        m_client->setPortControl(m_portControl);
        QCOMPARE(portChanged.count(), 1);
        send(eventPacket(2), 0, oldPort);
        QCOMPARE(deliver(eventPacket(3)), 3u);
        QCOMPARE(m_events.size(), 2);
        QVERIFY(takeFeedback().isEmpty());
    }

    void bindFailureIsReported()
    {
        QUdpSocket occupant;
        QVERIFY(occupant.bind(kFirst, 0));
        const quint16 taken = occupant.localPort();
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("Can't bind to 127.0.0.1 : %1").arg(taken)));
        m_client->setPortControl(taken);
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("Can't bind to 127.0.0.1 : %1").arg(taken)));
        QVERIFY(!m_client->updateReceivingSocket());

        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("Can't bind to 300.1.1.1 : %1").arg(taken)));
        m_client->setAddrLocal(QStringLiteral("300.1.1.1"));

        // The next change binds again.
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("Can't bind to 300.1.1.1 : %1").arg(m_portControl)));
        m_client->setPortControl(m_portControl);
        m_client->setAddrLocal(kFirst.toString());
        QVERIFY(m_client->updateReceivingSocket());
        QCOMPARE(deliver(eventPacket(0)), 0u);
    }

    void unparsableRecordIsLoggedAndSkipped()
    {
        const QByteArray datagram = beacon::makeEventPacket(
            beacon::kTypeEvent, 0, {QByteArray("no event here"), eventText(1), QByteArray(200, 'z')});
        QTest::ignoreMessage(QtDebugMsg, "Failed to parse event:  no event here");
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable(QStringLiteral("Failed to parse event:  ") + QString(127, 'z')));
        QCOMPARE(deliver(datagram), 0u);
        QCOMPARE(m_events.size(), 1);
        QCOMPARE(m_events.first().source, QStringLiteral("ABC1"));
    }

    void decoderFailureDropsTheDatagram_data()
    {
        QTest::addColumn<qint64>("result");
        QTest::newRow("failure") << qint64(-1);
        QTest::newRow("no progress") << qint64(0);
    }

    void decoderFailureDropsTheDatagram()
    {
        // A decoder that fails (or takes nothing) must end the read rather than spin on it.
        struct StuckParser final : StringParameterParser
        {
            qint64 result = 0;
            int calls = 0;
            qint64 parse(const char *, size_t) override
            {
                ++calls;
                return result;
            }
            QVector<QString> takeStrings() override { return {}; }
            void reset() override {}
        };
        QFETCH(qint64, result);
        auto parser = std::make_shared<StuckParser>();
        parser->result = result;
        m_client->setParser(parser);
        QTest::ignoreMessage(QtDebugMsg, "Can't process event: the records could not be decoded!");
        send(eventPacket(0, 2));
        barrier();
        QCOMPARE(parser->calls, 1);
        QVERIFY(takeFeedback().isEmpty());
        QVERIFY(m_events.isEmpty());

        m_client->setParser(nullptr);
        QTest::ignoreMessage(QtDebugMsg, "No string parser!");
        const QByteArray datagram = eventPacket(0, 2);
        m_client->processDatagram(datagram.constData(), datagram.size(), kFirst);
        m_client->setParser(std::make_shared<KOI8Parser>());
        barrier();
        QVERIFY(takeFeedback().isEmpty());
        QVERIFY(m_events.isEmpty());
    }

    void senderTableIsBounded()
    {
        // Forged source addresses, fed straight into the receiver; their feedback goes to
        // loopback addresses that nobody listens on.
        const QByteArray datagram = eventPacket(7);
        auto forged = [](int i) { return QHostAddress(0x7F010000u + static_cast<quint32>(i)); };
        for (int i = 0; i < BeaconClient::kMaxSenders; ++i) {
            m_client->processDatagram(datagram.constData(), datagram.size(), forged(i));
            ++m_now;
        }
        QCOMPARE(m_client->senderCount(), BeaconClient::kMaxSenders);
        QCOMPARE(m_events.size(), BeaconClient::kMaxSenders);

        // One more sender pushes out the one heard from longest ago, and only that one.
        m_client->processDatagram(datagram.constData(), datagram.size(), forged(1000));
        QCOMPARE(m_client->senderCount(), BeaconClient::kMaxSenders);
        m_events.clear();
        m_client->processDatagram(datagram.constData(), datagram.size(), forged(1));
        QVERIFY(m_events.isEmpty()); // still known: a duplicate
        m_client->processDatagram(datagram.constData(), datagram.size(), forged(0));
        QCOMPARE(m_events.size(), 1); // forgotten: new again

        // After a long silence a new sender clears out all silent ones.
        m_now += BeaconClient::kSenderExpiryMs + 1;
        m_client->processDatagram(datagram.constData(), datagram.size(), forged(2000));
        QCOMPARE(m_client->senderCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBeaconClient)
#include "tst_beaconclient.moc"
