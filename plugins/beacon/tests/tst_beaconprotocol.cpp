// The bytes on the wire, checked against layouts written out by hand.
#include "beacon/beaconprotocol.h"

#include <QtTest>

namespace {
QByteArray zeros(int count)
{
    return QByteArray(count, '\0');
}

QByteArray record(const QByteArray &text)
{
    return text + zeros(128 - text.size());
}
} // namespace

class TestBeaconProtocol : public QObject
{
    Q_OBJECT

private slots:
    void eventPacketWithThreeRecords()
    {
        const QByteArray expected = QByteArray::fromHex("00020000"   // type 512
                                                        "c0010000")  // total length 448
                                    + zeros(20)                      //
                                    + QByteArray::fromHex("07000000" // packet 7
                                                          "03000000" // record count
                                                          "03000000" // record count again
                                                          "00000000") +
                                    zeros(20) + record("ABC") + record(QByteArray("\xe1\xe2\xe3", 3)) +
                                    record("#");
        const QByteArray packet = beacon::makeEventPacket(
            beacon::kTypeEvent, 7, {QByteArray("ABC"), QByteArray("\xe1\xe2\xe3"), QByteArray("#")});
        QCOMPARE(packet.size(), 448);
        QCOMPARE(packet.toHex(), expected.toHex());

        const beacon::PacketHeader header = beacon::readHeader(packet.constData());
        QCOMPARE(header.type, 512u);
        QCOMPARE(header.length, 448u);
        QCOMPARE(header.packet, 7u);
    }

    void headerOnlyPacket()
    {
        const QByteArray expected = QByteArray::fromHex("02020000"
                                                        "40000000") +
                                    zeros(20) + QByteArray::fromHex("04030201") + zeros(32);
        QCOMPARE(beacon::makeHeaderOnlyPacket(0x01020304).toHex(), expected.toHex());
    }

    void feedbackPacket()
    {
        const QByteArray expected = QByteArray::fromHex("03020000"
                                                        "44000000") +
                                    zeros(20) +
                                    QByteArray::fromHex("9d000000"    // packet 157
                                                        "00000000"    //
                                                        "01000000"    //
                                                        "01000000") + //
                                    zeros(20) +
                                    QByteArray::fromHex("78563412"); // status
        QCOMPARE(beacon::makeFeedbackPacket(157, 0x12345678).toHex(), expected.toHex());
    }

    void recordTextIsCutToLeaveItsNul()
    {
        const QByteArray record = beacon::makeRecord(QByteArray(200, 'x'));
        QCOMPARE(record.size(), 128);
        QCOMPARE(record.left(127), QByteArray(127, 'x'));
        QCOMPARE(record.at(127), '\0');
    }

    void typeRange()
    {
        QVERIFY(!beacon::isKnownType(511));
        QVERIFY(beacon::isKnownType(512));
        QVERIFY(beacon::isKnownType(515));
        QVERIFY(!beacon::isKnownType(516));
    }
};

QTEST_APPLESS_MAIN(TestBeaconProtocol)
#include "tst_beaconprotocol.moc"
