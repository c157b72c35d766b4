// The Beacon module as QML sees it: the built plugin loaded by a real engine.
#include "beacon/beaconprotocol.h"

#include "testenvironment.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QPluginLoader>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

class TestBeaconPlugin : public QObject
{
    Q_OBJECT

private:
    QQmlEngine m_engine;

    std::unique_ptr<QObject> create(const QByteArray &qml)
    {
        QQmlComponent component(&m_engine);
        component.setData(qml, QUrl(QStringLiteral("file:///beacon-test.qml")));
        std::unique_ptr<QObject> object(component.create());
        if (!object)
            qWarning() << component.errors();
        return object;
    }

private slots:
    void initTestCase() { m_engine.addImportPath(tundra::test::binDir() + QStringLiteral("/plugins")); }

    void receivesEventsInQml()
    {
        const QHostAddress loopback(QHostAddress::LocalHost);
        QUdpSocket sender;
        QUdpSocket feedback;
        QVERIFY(sender.bind(loopback, 0));
        QVERIFY(feedback.bind(loopback, 0));
        quint16 control = 0;
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(loopback, 0));
            control = probe.localPort();
        }

        const QByteArray qml = QStringLiteral(R"(
            import Beacon 1.0
            BeaconClient {
                id: client
                addrLocal: "127.0.0.1"
                portControl: %1
                portFeedback: %2
                property int count: 0
                property string source
                property string board
                property string moscow
                property string value
                property string description
                property int autonomous: BeaconClient.ErrorAutonomous
                onEventReceived: {
                    count++
                    source = event.source
                    board = Qt.formatTime(event.timeOnBoard, "hh:mm:ss")
                    moscow = Qt.formatTime(event.timeMoscow, "hh:mm:ss")
                    value = event.value
                    description = event.description
                }
            })")
                                   .arg(control)
                                   .arg(feedback.localPort())
                                   .toUtf8();
        std::unique_ptr<QObject> client = create(qml);
        QVERIFY(client);
        QCOMPARE(client->property("portControl").toUInt(), uint(control));
        QCOMPARE(client->property("autonomous").toInt(), 1);

        const QByteArray datagram =
            beacon::makeEventPacket(beacon::kTypeEvent, 0,
                                    {QByteArray("\xe1\xe2\xe3"
                                                "123: 09:15:00 (21:45:00) 42 #goal\n")});
        QCOMPARE(sender.writeDatagram(datagram, loopback, control), qint64(datagram.size()));
        QTRY_COMPARE_WITH_TIMEOUT(client->property("count").toInt(), 1, 5000);
        QCOMPARE(client->property("source").toString(), QString::fromUtf8("АБЦ123"));
        QCOMPARE(client->property("moscow").toString(), QStringLiteral("09:15:00"));
        QCOMPARE(client->property("board").toString(), QStringLiteral("21:45:00"));
        QCOMPARE(client->property("value").toString(), QStringLiteral("42 "));
        QCOMPARE(client->property("description").toString(), QStringLiteral("goal"));
        QTRY_VERIFY_WITH_TIMEOUT(feedback.hasPendingDatagrams(), 5000);
        QCOMPARE(feedback.pendingDatagramSize(), qint64(beacon::kFeedbackSize));

        QSignalSpy statusChanged(client.get(), SIGNAL(statusChanged()));
        QVERIFY(client->setProperty("status", 1));
        QVERIFY(client->setProperty("status", 1));
        QCOMPARE(statusChanged.count(), 1);
    }

    void pluginMetadata()
    {
        QPluginLoader loader(tundra::test::binDir() + QStringLiteral("/plugins/Beacon/libbeacon.so"));
        const QJsonObject metaData = loader.metaData();
        QCOMPARE(metaData.value(QStringLiteral("IID")).toString(),
                 QStringLiteral("org.qt-project.Qt.QQmlExtensionInterface"));
        QCOMPARE(metaData.value(QStringLiteral("className")).toString(), QStringLiteral("QKeyboardPlugin"));
    }

    void beaconEventIsCreatable()
    {
        std::unique_ptr<QObject> event = create(R"(
            import Beacon 1.0
            BeaconEvent { source: "XYZ1"; value: "3 "; description: "corner" })");
        QVERIFY(event);
        QCOMPARE(event->property("source").toString(), QStringLiteral("XYZ1"));
        QVERIFY(!event->property("timeOnBoard").toTime().isValid());
    }

    void addressEnumeratorListsIpv4WithoutLoopback()
    {
        std::unique_ptr<QObject> holder = create(R"(
            import Beacon 1.0
            BeaconEvent { property var addresses: NetworkAddressEnumerator.addresses })");
        QVERIFY(holder);
        const QStringList addresses = holder->property("addresses").toStringList();
        for (const QString &text : addresses) {
            const QHostAddress address(text);
            QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
            QVERIFY2(!address.isLoopback(), qPrintable(text));
        }
        // Every IPv4 address of an interface that is up and not loopback is listed.
        const auto interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &iface : interfaces) {
            if (!iface.flags().testFlag(QNetworkInterface::IsUp) ||
                iface.flags().testFlag(QNetworkInterface::IsLoopBack))
                continue;
            const auto entries = iface.addressEntries();
            for (const QNetworkAddressEntry &entry : entries) {
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    QVERIFY(addresses.contains(entry.ip().toString()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestBeaconPlugin)
#include "tst_beaconplugin.moc"
