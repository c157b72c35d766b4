// Record decoding and the text-to-event step.
#include "beaconclient.h"
#include "koi8parser.h"
#include "protocolevent.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
QByteArray record(const QByteArray &text)
{
    QByteArray r = text.left(128);
    r.append(QByteArray(128 - r.size(), '\0'));
    return r;
}
} // namespace

class TestEventParsing : public QObject
{
    Q_OBJECT

private slots:
    void decodesKoi8r()
    {
        KOI8Parser parser;
        // 0xE1 is the capital A of the Cyrillic alphabet, 0xC1 its small letter; 0xFF is Ъ.
        const QByteArray bytes = record("\xe1\xc1\xff ok");
        QCOMPARE(parser.parse(bytes.constData(), static_cast<size_t>(bytes.size())), qint64(128));
        const QVector<QString> strings = parser.takeStrings();
        QCOMPARE(strings.size(), 1);
        QCOMPARE(strings.first(),
                 QString(QChar(0x0410)) + QChar(0x0430) + QChar(0x042A) + QStringLiteral(" ok"));
        QVERIFY(parser.takeStrings().isEmpty());
    }

    void keepsPartialRecordUntilReset()
    {
        KOI8Parser parser;
        QByteArray bytes = record("one") + record("two") + QByteArray(44, 'p');
        QCOMPARE(parser.parse(bytes.constData(), 300), qint64(300));
        QCOMPARE(parser.takeStrings(), (QVector<QString>{"one", "two"}));

        // The 44 pending bytes start the next record.
        const QByteArray rest(84, '\0');
        parser.parse(rest.constData(), static_cast<size_t>(rest.size()));
        QCOMPARE(parser.takeStrings(), QVector<QString>{QString(44, QLatin1Char('p'))});

        parser.parse(bytes.constData(), 300);
        parser.reset();
        QVERIFY(parser.takeStrings().isEmpty());
        // After the reset a new record starts at byte 0 again.
        const QByteArray three = record("three");
        parser.parse(three.constData(), 128);
        QCOMPARE(parser.takeStrings(), QVector<QString>{"three"});
    }

    void recordWithoutNulEndsAtItsLastByte()
    {
        KOI8Parser parser;
        const QByteArray bytes = QByteArray(128, 'a') + QByteArray(128, 'b');
        parser.parse(bytes.constData(), static_cast<size_t>(bytes.size()));
        QCOMPARE(parser.takeStrings(), (QVector<QString>{QString(128, 'a'), QString(128, 'b')}));
    }

    void parsesEventFields()
    {
        ProtocolEvent event;
        QVERIFY(BeaconClient::parseEvent(QStringLiteral("ABC123: 09:15:00 (21:45:00) 42 #goal"), &event));
        QCOMPARE(event.source(), QStringLiteral("ABC123"));
        QCOMPARE(event.timeMoscow(), QTime(9, 15, 0));
        QCOMPARE(event.timeOnBoard(), QTime(21, 45, 0));
        QCOMPARE(event.value(), QStringLiteral("42 "));
        QCOMPARE(event.description(), QStringLiteral("goal"));
    }

    void splitsAtLastHash()
    {
        ProtocolEvent event;
        QVERIFY(BeaconClient::parseEvent(QStringLiteral("XYZ1: 00:00:01 (23:59:59) 5 #x#y"), &event));
        QCOMPARE(event.value(), QStringLiteral("5 #x"));
        QCOMPARE(event.description(), QStringLiteral("y"));
        QCOMPARE(event.timeOnBoard(), QTime(23, 59, 59));
    }

    void cyrillicSourceAndDescription()
    {
        KOI8Parser parser;
        const QByteArray bytes = record("\xe1\xe2\xf7"
                                        "512: 10:00:00 (17:30:00) 7 #\xe7\xcf\xcc\n");
        parser.parse(bytes.constData(), 128);
        ProtocolEvent event;
        QVERIFY(BeaconClient::parseEvent(parser.takeStrings().first(), &event));
        QCOMPARE(event.source(), QString::fromUtf8("АБВ512"));
        QCOMPARE(event.description(), QString::fromUtf8("Гол"));
    }

    void invalidTimeIsStillAnEvent()
    {
        ProtocolEvent event;
        QVERIFY(BeaconClient::parseEvent(QStringLiteral("ABC1: 25:00:00 (9:5:1) 3 #late"), &event));
        QVERIFY(!event.timeMoscow().isValid());
        QVERIFY(!event.timeOnBoard().isValid()); // single digits do not fit hh:mm:ss
        QCOMPARE(event.description(), QStringLiteral("late"));
    }

    void lineEnds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("LF") << QStringLiteral("ABC1: 01:02:03 (04:05:06) 9 #save\n");
        QTest::newRow("CRLF") << QStringLiteral("ABC1: 01:02:03 (04:05:06) 9 #save\r\n");
        QTest::newRow("LF then more") << QStringLiteral("ABC1: 01:02:03 (04:05:06) 9 #save\nnext line");
    }

    void lineEnds()
    {
        QFETCH(QString, text);
        ProtocolEvent event;
        QVERIFY(BeaconClient::parseEvent(text, &event));
        QCOMPARE(event.description(), QStringLiteral("save"));
        QCOMPARE(event.value(), QStringLiteral("9 "));
    }

    void notAnEvent_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("no colon") << QStringLiteral("ABC1 09:15:00 (21:45:00) 42 #goal");
        QTest::newRow("no parenthesised time") << QStringLiteral("ABC1: 09:15:00 21:45:00 42 #goal");
        QTest::newRow("no hash") << QStringLiteral("ABC1: 09:15:00 (21:45:00) 42 goal");
        QTest::newRow("nothing after hash") << QStringLiteral("ABC1: 09:15:00 (21:45:00) 42 #\n");
    }

    void notAnEvent()
    {
        QFETCH(QString, text);
        ProtocolEvent event;
        QVERIFY(!BeaconClient::parseEvent(text, &event));
        QVERIFY(event.source().isEmpty());
    }

    void settersSignalOnlyOnChange()
    {
        ProtocolEvent event;
        QSignalSpy source(&event, &ProtocolEvent::sourceChanged);
        QSignalSpy board(&event, &ProtocolEvent::timeOnBoardChanged);
        event.setSource("a");
        event.setSource("a");
        event.setTimeOnBoard(QTime(1, 2, 3));
        event.setTimeOnBoard(QTime(1, 2, 3));
        QCOMPARE(source.count(), 1);
        QCOMPARE(board.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEventParsing)
#include "tst_eventparsing.moc"
