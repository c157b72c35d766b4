// JudgeDesk's answers and its test faults, through its TCP end.

#include "referee/messagewire.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include "testenvironment.h"

namespace wire = nyx::referee::wire;

namespace {
// One running JudgeDesk and a connection to it.
struct Desk
{
    QProcess process;
    QTcpSocket socket;
    QByteArray buffer;
    qint32 number = 0;

    bool start(const QString &dir, const QStringList &extra)
    {
        process.setProgram(tundra::test::binDir() + "/JudgeDesk");
        process.setArguments(
            QStringList{"--config", dir + "/desk.json", "--listen", "127.0.0.1", "--port", "0"} + extra);
        process.start();
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return false;
        const auto m =
            QRegularExpression("listening on port (\\d+)").match(QString::fromUtf8(process.readLine()));
        if (!m.hasMatch())
            return false;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m.captured(1).toUInt()));
        return socket.waitForConnected(5000);
    }
    ~Desk()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    void ask(const QString &text, const QString &target = QStringLiteral("JudgeDesk"))
    {
        socket.write(wire::frame(wire::encodeRequest({++number, target, "TUNDRA2_test", text})));
        socket.flush();
    }
    // The answers that arrive within ms.
    QStringList answers(int ms = 300)
    {
        QStringList list;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            socket.waitForReadyRead(20);
            buffer += socket.readAll();
            QByteArray payload;
            while (wire::takeFrame(buffer, &payload) == 1) {
                wire::Answer a;
                if (wire::decodeAnswer(payload, &a) && a.queue == "TUNDRA2_test" &&
                    a.sourceQueue == "JudgeDesk")
                    list << a.text;
            }
        }
        return list;
    }
    QString askOne(const QString &text)
    {
        ask(text);
        const QStringList list = answers();
        return list.size() == 1 ? list[0] : QStringLiteral("<%1 answers>").arg(list.size());
    }
};
// StateChange and Count of an "Events" header, {-1, -1} for any other text.
QPair<qint64, int> header(const QString &text)
{
    const auto m =
        QRegularExpression(
            QStringLiteral("^<JudgeDesk><Events StateChange=\"(\\d+)\" Count=\"(\\d+)\"/></JudgeDesk>$"))
            .match(text);
    return m.hasMatch() ? qMakePair(m.captured(1).toLongLong(), m.captured(2).toInt()) : qMakePair(-1LL, -1);
}
} // namespace

class tst_JudgeDesk : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = tundra::test::freshDir(QStringLiteral("desk_%1").arg(QTest::currentTestFunction()));
        QJsonObject config{
            {"cameras", QJsonArray{QJsonObject{{"name", "Main & <1>"},
                                               {"stream", "{0A1B2C3D-0000-4000-8000-000000000001}"},
                                               {"begin", "2026-01-01T00:00:00Z"},
                                               {"end", "2026-01-01T00:00:01Z"}},
                                   QJsonObject{{"name", "Two"},
                                               {"stream", "{0A1B2C3D-0000-4000-8000-000000000002}"},
                                               {"playAudio", true}}}},
            {"eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "FF"}}}},
        };
        QFile file(m_dir + "/desk.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(config).toJson());
        file.close();
        QFile events(m_dir + "/events.jsonl");
        QVERIFY(events.open(QIODevice::WriteOnly));
        for (int i = 0; i < 5; ++i)
            events.write(
                QStringLiteral("{\"type\":\"Goal\",\"comment\":\"e%1\",\"time\":\"%2\",\"boardTime\":%3}\n")
                    .arg(i)
                    .arg(130000000000000000ULL + quint64(i))
                    .arg(i == 0 ? 3723400 : -1)
                    .toUtf8());
    }

    void answersInTheLinksForms()
    {
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        QVERIFY(desk.askOne("TimeInfo").startsWith("<JudgeDesk><TimeInfo "));
        QCOMPARE(desk.askOne("EventTypes"),
                 QStringLiteral("<JudgeDesk><EventTypes><Type Name=\"Goal\" Txt=\"FFFFFF\" "
                                "Bg=\"FF\"/></EventTypes></JudgeDesk>"));
        const QString cams = desk.askOne("CameraInfo");
        QVERIFY2(
            cams.startsWith(
                "<JudgeDesk><Cameras PlayAudioCam=\"2\"><Cam Num=\"1\" Name=\"Main &amp; &lt;1&gt;\" "
                "Id=\"{0A1B2C3D-0000-4000-8000-000000000001}\" TBeginHi=\"01DC7AB1\" TBeginLo=\"92810000\" "
                "TEndHi=\"01DC7AB1\" TEndLo=\"93199680\"/><Cam Num=\"2\""),
            qPrintable(cams));
        const auto first = header(desk.askOne("EventCount"));
        QVERIFY(first.first > 0);
        QCOMPARE(first.second, 5);
        QCOMPARE(desk.askOne("EventInfo0"),
                 QStringLiteral(
                     "<JudgeDesk><Event Index=\"0\" Name=\"Goal\" Comment=\"e0\"><Time THi=\"01CDDA4F\" "
                     "TLo=\"ACCD0000\"/><FromStart>1:02:03.4</FromStart></Event></JudgeDesk>"));
        desk.ask("EventRange(3)(10)");
        const QStringList range = desk.answers();
        QCOMPARE(range.size(), 1);
        QCOMPARE(range[0].count("<Event "), 2);
        QCOMPARE(desk.askOne("EventRange(9)(2)"), QStringLiteral("<0 answers>"));
        QCOMPARE(desk.askOne("Nonsense"), QStringLiteral("<0 answers>"));
        desk.ask("TimeInfo", "SomeoneElse");
        QVERIFY(desk.answers().isEmpty());

        // A created event joins the list and the file, and the answer is the new header.
        QCOMPARE(header(desk.askOne("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0007)made {here}")),
                 qMakePair(first.first + 1, 6));
        QVERIFY(desk.askOne("EventInfo5").contains("Comment=\"made {here}\""));
        QFile file(m_dir + "/events.jsonl");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 6);

        // An event typed on the console.
        desk.process.write("goal by hand\nOffside nope\n");
        QTRY_COMPARE(header(desk.askOne("EventCount")), qMakePair(first.first + 2, 7));
        QVERIFY(desk.askOne("EventInfo6").contains("Comment=\"by hand\""));
    }

    void faultsFromTheCommandLine()
    {
        Desk desk;
        QVERIFY(desk.start(m_dir, {"--split", "2", "--drop", "EventCount", "--malformed", "CameraInfo",
                                   "--truncate", "EventTypes", "--delay", "TimeInfo", "--delay-ms", "400"}));
        desk.ask("EventRange(0)(5)");
        const QStringList parts = desk.answers();
        QCOMPARE(parts.size(), 3);
        QVERIFY(parts[0].contains("Index=\"0\"") && parts[0].contains("Index=\"1\""));
        QVERIFY(parts[2].contains("Index=\"4\""));
        QCOMPARE(desk.askOne("EventCount"), QStringLiteral("<0 answers>"));
        QVERIFY(desk.askOne("CameraInfo").endsWith("</JudgeDesks>"));
        QVERIFY(!desk.askOne("EventTypes").endsWith("</JudgeDesk>"));
        desk.ask("TimeInfo");
        QVERIFY(desk.answers(200).isEmpty());
        QCOMPARE(desk.answers(1000).size(), 1);
    }

    void controlFileSwitchesFaultsWhileRunning()
    {
        const QString control = m_dir + "/faults.json";
        Desk desk;
        QVERIFY(desk.start(m_dir, {"--control", control}));
        QCOMPARE(desk.answers(0).size(), 0);
        QVERIFY(desk.askOne("TimeInfo").startsWith("<JudgeDesk>"));
        const qint64 stateChange = header(desk.askOne("EventCount")).first;
        QVERIFY(stateChange > 0);
        QFile file(control);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"silent\": true}");
        file.close();
        QCOMPARE(desk.askOne("TimeInfo"), QStringLiteral("<0 answers>"));
        // Requests still take effect while silent.
        desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0009)quiet");
        QVERIFY(desk.answers().isEmpty());
        QTest::qWait(1100); // a new modification time
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"silent\": false, \"split\": 1}");
        file.close();
        QCOMPARE(header(desk.askOne("EventCount")), qMakePair(stateChange + 1, 6));
        desk.ask("EventRange(0)(3)");
        QCOMPARE(desk.answers().size(), 3);
    }

    void aRestartedDeskDoesNotRepeatItsStateChange()
    {
        qint64 before = 0;
        {
            Desk desk;
            QVERIFY(desk.start(m_dir, {}));
            desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0011)one");
            desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0012)two");
            QCOMPARE(desk.answers().size(), 2);
            before = header(desk.askOne("EventCount")).first;
            QVERIFY(before > 0);
        }
        // The number counts on from the clock in seconds: two changes, then a restart seconds later.
        QTest::qWait(2600);
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        const auto after = header(desk.askOne("EventCount"));
        QCOMPARE(after.second, 7);
        QVERIFY2(after.first > before,
                 qPrintable(QStringLiteral("%1 after %2").arg(after.first).arg(before)));
    }

    void badConfigurationIsRefused()
    {
        QFile file(m_dir + "/desk.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"cameras\": [{\"name\": \"x\", \"stream\": \"not a guid\"}]}");
        file.close();
        QProcess p;
        p.start(tundra::test::binDir() + "/JudgeDesk", {"--config", m_dir + "/desk.json", "--port", "0"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("camera 1"));
    }

private:
    QString m_dir;
};

QTEST_GUILESS_MAIN(tst_JudgeDesk)
#include "tst_judgedesk.moc"
