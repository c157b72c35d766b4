// Fakecast as a process: its command line, and a run against a BeaconClient in a QML engine.
#include "testenvironment.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QTextCodec>
#include <QUdpSocket>
#include <QtTest>

#include <map>
#include <memory>

namespace {
const QByteArray kUsage = "Usage: Fakecast.exe\n"
                          "\t-ar <AR address>\n"
                          "\t-vs <VS address>\n"
                          "\t-pf <port feedback>\n"
                          "\t-pc <port control>\n";

QString program()
{
    return tundra::test::binDir() + QStringLiteral("/Fakecast");
}

quint16 freePort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHost), 0) ? probe.localPort() : 0;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

QByteArray koi8(const QString &text)
{
    return QTextCodec::codecForName("KOI8-R")->fromUnicode(text);
}
} // namespace

class TestFakecast : public QObject
{
    Q_OBJECT

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("feedback port alone") << QStringList{"-pf", "5951"};
        QTest::newRow("AR address that does not parse")
            << QStringList{"-ar", "10.0.0.256", "-pf", "5951", "-pc", "5952"};
        QTest::newRow("option without value") << QStringList{"-pf", "5951", "-pc"};
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(program(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardOutput(), kUsage);
    }

    void refusesMissingOrEmptyTexts()
    {
        const QString dir = tundra::test::freshDir(QStringLiteral("no-texts"));
        const QStringList arguments{"-pf", QString::number(freePort()), "-pc", QString::number(freePort())};
        for (int round = 0; round < 2; ++round) {
            if (round == 1)
                writeFile(dir + QStringLiteral("/koi8_strings.txt"), "\n\n");
            QProcess process;
            process.setWorkingDirectory(dir);
            process.start(program(), arguments);
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 1);
            QVERIFY(process.readAllStandardError().contains("koi8_strings.txt"));
        }
    }

    void sendsEventsToBeaconClient()
    {
        const QString dir = tundra::test::freshDir(QStringLiteral("run"));
        const QStringList lines{QString::fromUtf8("Гол!"), QString::fromUtf8("Удар в створ ворот"),
                                QString::fromUtf8("Замена ") + QString(150, QLatin1Char('z'))};
        QByteArray file;
        for (const QString &line : lines)
            file += koi8(line) + "\n";
        writeFile(dir + QStringLiteral("/koi8_strings.txt"), file);

        const quint16 control = freePort();
        const quint16 feedback = freePort();
        QVERIFY(control && feedback && control != feedback);

        QQmlEngine engine;
        engine.addImportPath(tundra::test::binDir() + QStringLiteral("/plugins"));
        QQmlComponent component(&engine);
        component.setData(QStringLiteral(R"(
            import Beacon 1.0
            BeaconClient {
                portControl: %1
                addrLocal: "127.0.0.1"
                portFeedback: %2
                property var received: []
                onEventReceived: received.push([event.source, event.description,
                                                Qt.formatTime(event.timeOnBoard, "hh:mm:ss")])
            })")
                              .arg(control)
                              .arg(feedback)
                              .toUtf8(),
                          QUrl(QStringLiteral("file:///fakecast-test.qml")));
        std::unique_ptr<QObject> client(component.create());
        QVERIFY2(client, qPrintable(component.errorString()));

        QProcess fakecast;
        fakecast.setWorkingDirectory(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
        fakecast.setProcessEnvironment(env);
        fakecast.setProcessChannelMode(QProcess::SeparateChannels);
        fakecast.start(program(), {"-ar", "127.0.0.1", "-vs", "127.0.0.1", "-pf", QString::number(feedback),
                                   "-pc", QString::number(control)});
        QVERIFY(fakecast.waitForStarted(10000));

        // Packet number -> record count, and the acknowledged numbers, from Fakecast's log.
        static const QRegularExpression sentLine(
            "^TestMessage: (\\d+) packet datagram sent \\((\\d+)\\) bytes\\.$");
        static const QRegularExpression ackLine("^Received feedback on (\\d+) packet!$");
        std::map<uint, int> records;
        QVector<uint> sentOrder;
        QVector<uint> acknowledged;
        QByteArray log;
        auto readLog = [&] {
            log += fakecast.readAllStandardError();
            int end = 0;
            while ((end = log.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(log.left(end));
                log.remove(0, end + 1);
                QRegularExpressionMatch m = sentLine.match(line);
                if (m.hasMatch()) {
                    const uint number = m.captured(1).toUInt();
                    const int count = (m.captured(2).toInt() - 64) / 128;
                    const auto known = records.find(number);
                    QVERIFY2(known == records.end() || known->second == count, qPrintable(line));
                    // Once acknowledged, a packet is never sent again.
                    QVERIFY2(!acknowledged.contains(number), qPrintable(line));
                    records[number] = count;
                    sentOrder.append(number);
                }
                m = ackLine.match(line);
                if (m.hasMatch())
                    acknowledged.append(m.captured(1).toUInt());
            }
        };

        // Wait for two acknowledged packets and a later one.
        QDeadlineTimer deadline(150000);
        while (!deadline.hasExpired() && !(acknowledged.size() >= 2 && records.size() >= 3 &&
                                           !sentOrder.isEmpty() && sentOrder.last() > acknowledged.first())) {
            QTest::qWait(100);
            readLog();
            if (QTest::currentTestFailed())
                break;
        }
        QVERIFY2(acknowledged.size() >= 2, log.constData());
        QVERIFY(QTest::qWaitFor([&] { return fakecast.state() == QProcess::Running; }, 100));

        fakecast.write("xq");
        QVERIFY(fakecast.waitForFinished(20000));
        QCOMPARE(fakecast.exitStatus(), QProcess::NormalExit);
        QCOMPARE(fakecast.exitCode(), 0);
        readLog();

        // Numbers go up by one, every packet's records arrive exactly once.
        uint expectedNumber = 0;
        int expectedEvents = 0;
        for (const auto &[number, count] : records) {
            QCOMPARE(number, expectedNumber++);
            expectedEvents += count;
        }
        QTRY_COMPARE_WITH_TIMEOUT(client->property("received").toList().size(), expectedEvents, 5000);

        static const QRegularExpression source(QString::fromUtf8("^[А-Я]{3}[1-9][0-9]{2}$"));
        const QVariantList received = client->property("received").toList();
        for (const QVariant &item : received) {
            const QStringList event = item.toStringList();
            QVERIFY2(source.match(event[0]).hasMatch(), qPrintable(event[0]));
            QVERIFY(QTime::fromString(event[2], "hh:mm:ss").isValid());
            // Long lines go out in pieces, cut again to fit the record: every description is
            // part of one of the lines.
            QVERIFY2(std::any_of(
                         lines.begin(), lines.end(),
                         [&](const QString &line) { return !event[1].isEmpty() && line.contains(event[1]); }),
                     qPrintable(event[1]));
            QVERIFY(event[1].size() < 127);
        }
    }
};

QTEST_GUILESS_MAIN(TestFakecast)
#include "tst_fakecast.moc"
