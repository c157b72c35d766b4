// The pieces of the test sender: command line, event texts and the sender's packet cycle.
#include "beacon/beaconprotocol.h"
#include "eventlines.h"
#include "eventreceiver.h"
#include "eventsender.h"
#include "fakecastoptions.h"

#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include "testenvironment.h"

class TestFakecastParts : public QObject
{
    Q_OBJECT

private:
    static QStringList args(const QString &line)
    {
        return QStringList{"Fakecast"} + line.split(' ', Qt::SkipEmptyParts);
    }

private slots:
    void optionsDefaultToLoopback()
    {
        FakecastOptions options;
        QVERIFY(FakecastOptions::parse(args("-pf 5951 -pc 5952"), &options));
        QCOMPARE(options.arAddress, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(options.vsAddress, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(options.portFeedback, quint16(5951));
        QCOMPARE(options.portControl, quint16(5952));
    }

    void optionsTakeTheirLastValue()
    {
        FakecastOptions options;
        QVERIFY(FakecastOptions::parse(args("x -ar 10.0.0.1 -pf 1 -ar 127.0.0.5 -vs 127.0.0.6 -pc 2 -pf 3 y"),
                                       &options));
        QCOMPARE(options.arAddress, QHostAddress("127.0.0.5"));
        QCOMPARE(options.vsAddress, QHostAddress("127.0.0.6"));
        QCOMPARE(options.portFeedback, quint16(3));
        QCOMPARE(options.portControl, quint16(2));
    }

    void badOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("nothing") << "";
        QTest::newRow("feedback port only") << "-pf 5951";
        QTest::newRow("control port only") << "-pc 5952";
        QTest::newRow("bad AR address") << "-ar 1.2.3.456 -pf 5951 -pc 5952";
        QTest::newRow("bad VS address") << "-vs nowhere -pf 5951 -pc 5952";
        QTest::newRow("port 0") << "-pf 0 -pc 5952";
        QTest::newRow("port too large") << "-pf 65536 -pc 5952";
        QTest::newRow("port not a number") << "-pf abc -pc 5952";
        QTest::newRow("last option without value") << "-pf 5951 -pc 5952 -ar";
        QTest::newRow("port option without value") << "-pf 5951 -pc";
    }

    void badOptions()
    {
        QFETCH(QString, line);
        QVERIFY(!FakecastOptions::parse(args(line), nullptr));
    }

    void linesKeepTerminatorsAndAreCut()
    {
        const QByteArray longLine = QByteArray(300, 'L') + "\r\n";
        const QVector<QByteArray> lines = eventlines::split("one\r\n\n   \r\n" + longLine + "last");
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QByteArray("one\r\n"));
        QCOMPARE(lines[1], QByteArray(127, 'L'));
        QCOMPARE(lines[2], QByteArray(127, 'L'));
        QCOMPARE(lines[3], QByteArray(46, 'L') + "\r\n");
        QCOMPARE(lines[4], QByteArray("last"));
    }

    void missingOrEmptyFile()
    {
        const QString dir = tundra::test::freshDir("lines");
        QString error;
        QVERIFY(eventlines::read(dir + "/koi8_strings.txt", &error).isEmpty());
        QVERIFY2(error.contains("koi8_strings.txt"), qPrintable(error));

        QFile empty(dir + "/koi8_strings.txt");
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.write("\n\r\n  \n");
        empty.close();
        error.clear();
        QVERIFY(eventlines::read(empty.fileName(), &error).isEmpty());
        QVERIFY2(error.contains("no event text"), qPrintable(error));
    }

    void recordTextFitsItsRecord()
    {
        static const QRegularExpression pattern(
            "^[\\xe0-\\xff]{3}[1-9][0-9]{2}: \\d\\d:\\d\\d:\\d\\d \\(\\d\\d:\\d\\d:\\d\\d\\) \\d{1,2} #");
        const QByteArray shortText = EventSender::makeRecordText("goal\n");
        QVERIFY(shortText.endsWith(" #goal\n"));
        QVERIFY2(pattern.match(QString::fromLatin1(shortText)).hasMatch(), shortText.constData());

        const QByteArray longText = EventSender::makeRecordText(QByteArray(127, 'x'));
        QCOMPARE(longText.size(), beacon::kMaxRecordText);
        QVERIFY(longText.endsWith("xxxx"));
        QVERIFY(pattern.match(QString::fromLatin1(longText)).hasMatch());
    }

    void resendsUntilItsFeedbackArrives()
    {
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress(QHostAddress::LocalHost), 0));
        EventSender sender(QHostAddress::LocalHost, listener.localPort(), {QByteArray("text\n")});
        auto next = [&listener]() -> QByteArray {
            if (!listener.hasPendingDatagrams())
                listener.waitForReadyRead(5000);
            QByteArray datagram(static_cast<int>(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(datagram.data(), datagram.size());
            return datagram;
        };

        quint32 expected = 0;
        for (int round = 0; round < 6; ++round) {
            sender.sendEvent();
            const QByteArray packet = next();
            QVERIFY(packet.size() >= beacon::kHeaderSize + beacon::kRecordSize);
            const beacon::PacketHeader header = beacon::readHeader(packet.constData());
            const quint32 count = beacon::readWord(packet.constData(), beacon::kOffsetRecordCount);
            QVERIFY(count >= 1 && count <= 3);
            QCOMPARE(header.length, quint32(packet.size()));
            QCOMPARE(header.length, beacon::kHeaderSize + beacon::kRecordSize * count);
            QCOMPARE(beacon::readWord(packet.constData(), beacon::kOffsetRecordCountAgain), count);
            QCOMPARE(header.packet, expected);
            for (quint32 i = 0; i < count; ++i)
                QCOMPARE(
                    packet.at(beacon::kHeaderSize + beacon::kRecordSize * int(i) + beacon::kMaxRecordText),
                    '\0');

            if (header.type == beacon::kTypeEventNoFeedback) {
                // Delivered as sent: the next packet carries the next number.
                ++expected;
                QCOMPARE(sender.packetNumber(), expected);
                continue;
            }
            QCOMPARE(header.type, beacon::kTypeEvent);
            // No feedback, or feedback for another number: the same bytes again.
            sender.sendEvent();
            QCOMPARE(next(), packet);
            sender.receiveFeedback(expected + 1, 0);
            sender.sendEvent();
            QCOMPARE(next(), packet);
            sender.receiveFeedback(expected, 0);
            // A second copy of the same feedback does not skip a number.
            sender.receiveFeedback(expected + 1, 0);
            ++expected;
            QCOMPARE(sender.packetNumber(), expected);
        }
    }

    void feedbackReaderRefusesMalformedDatagrams()
    {
        const QHostAddress loopback(QHostAddress::LocalHost);
        quint16 port = 0;
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(loopback, 0));
            port = probe.localPort();
        }
        EventReceiver receiver(loopback, port);
        QVERIFY(receiver.isBound());
        QSignalSpy feedback(&receiver, &EventReceiver::eventReceived);

        QByteArray shortFeedback = beacon::makeFeedbackPacket(1, 0).left(beacon::kHeaderSize);
        beacon::writeWord(shortFeedback.data(), beacon::kOffsetLength, beacon::kHeaderSize);
        QByteArray wrongLength = beacon::makeFeedbackPacket(2, 0);
        beacon::writeWord(wrongLength.data(), beacon::kOffsetLength, 100);
        QByteArray wrongType = beacon::makeFeedbackPacket(3, 0);
        beacon::writeWord(wrongType.data(), beacon::kOffsetType, 516);
        QTest::ignoreMessage(QtDebugMsg, "Feedback datagram of 64 bytes is too short!");
        QTest::ignoreMessage(QtDebugMsg, "Feedback datagram of 68 bytes claims 100 bytes!");
        QTest::ignoreMessage(QtDebugMsg, "Invalid packet header!");

        QUdpSocket sender;
        for (const QByteArray &datagram : {shortFeedback, wrongLength, wrongType})
            QCOMPARE(sender.writeDatagram(datagram, loopback, port), qint64(datagram.size()));
        // The reader drops a few feedbacks on purpose, so the good one goes again until it passes.
        const QByteArray good = beacon::makeFeedbackPacket(7, 3);
        QDeadlineTimer deadline(30000);
        while (feedback.isEmpty() && !deadline.hasExpired()) {
            QCOMPARE(sender.writeDatagram(good, loopback, port), qint64(good.size()));
            feedback.wait(200);
        }
        QVERIFY(!feedback.isEmpty());
        for (const QList<QVariant> &arguments : feedback) {
            QCOMPARE(arguments.at(0).toUInt(), 7u);
            QCOMPARE(arguments.at(1).toUInt(), 3u);
        }
    }
};

QTEST_GUILESS_MAIN(TestFakecastParts)
#include "tst_fakecastparts.moc"
