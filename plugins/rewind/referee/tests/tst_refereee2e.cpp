// The link against the stand-in referee application JudgeDesk in its own process, over TCP.

#include "refereelink.h"

#include "win32/debugoutput.h"
#include "win32/filetime.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <mutex>

#include "testenvironment.h"

namespace {
const QString kCam1 = QStringLiteral("{0A1B2C3D-0000-4000-8000-000000000001}");
const QString kCam2 = QStringLiteral("{0A1B2C3D-0000-4000-8000-000000000002}");
constexpr quint64 kT0 = 0x01DB'4000'0000'0000ULL;

QStringList g_warnings;
std::mutex g_warningsMutex;
void keepWarning(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    std::lock_guard<std::mutex> lock(g_warningsMutex);
    if (type == QtWarningMsg)
        g_warnings.append(text);
}

bool hasComment(const std::vector<RefereeEvent> &events, const QString &comment)
{
    for (const RefereeEvent &e : events)
        if (e.comment == comment)
            return true;
    return false;
}
} // namespace

class tst_RefereeE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        nyx::win32::setDebugOutputSink([](const std::string &) {});
        m_dir = tundra::test::freshDir(QStringLiteral("judgedesk"));
        QJsonObject config;
        config.insert("cameras",
                      QJsonArray{
                          QJsonObject{{"name", "Main"}, {"stream", kCam1}, {"begin", "2026-01-01T08:00:00Z"}},
                          QJsonObject{{"name", "Goal line"}, {"stream", kCam2}, {"playAudio", true}},
                      });
        config.insert("eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "0000FF"}},
                                               QJsonObject{{"name", "Foul"}, {"text", "00FF00"}}});
        config.insert("eventsFile", "events.jsonl");
        QFile file(m_dir + "/judgedesk.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(config).toJson());
        file.close();
        QFile events(m_dir + "/events.jsonl");
        QVERIFY(events.open(QIODevice::WriteOnly));
        for (int i = 0; i < 3; ++i)
            events.write(QJsonDocument(QJsonObject{{"type", i == 1 ? "Foul" : "Goal"},
                                                   {"comment", QStringLiteral("stored %1").arg(i)},
                                                   {"time", QString::number(kT0 + quint64(i) * 10000000)},
                                                   {"boardTime", 60000 * (i + 1)}})
                             .toJson(QJsonDocument::Compact) +
                         "\n");
    }

    void cleanupTestCase() { nyx::win32::setDebugOutputSink({}); }

    void linkReadsAndWritesThroughJudgeDesk()
    {
        QProcess desk;
        desk.setProgram(tundra::test::binDir() + "/JudgeDesk");
        desk.setArguments({"--config", m_dir + "/judgedesk.json", "--listen", "127.0.0.1", "--port", "0"});
        desk.start();
        QVERIFY2(desk.waitForStarted(5000), qPrintable(desk.errorString()));
        QVERIFY(desk.waitForReadyRead(5000));
        const QString banner = QString::fromUtf8(desk.readLine());
        const QRegularExpressionMatch m = QRegularExpression("listening on port (\\d+)").match(banner);
        QVERIFY2(m.hasMatch(), qPrintable(banner));

        CRefereeLink link;
        link.setTimerPeriod(100); // a burst every 1.1 s
        link.Init(QStringLiteral("127.0.0.1:") + m.captured(1), 2, 2, false);
        QTRY_VERIFY_WITH_TIMEOUT(
            link.IsAlive() && link.camsReceived && link.typesReceived && link.eventsReceived, 10000);

        const auto cameras = link.GetCameras();
        QCOMPARE(int(cameras.size()), 2);
        QCOMPARE(cameras[0].name, QStringLiteral("Main"));
        QCOMPARE(nyx::com::toString(cameras[0].streamId), kCam1);
        QCOMPARE(cameras[1].name, QStringLiteral("Goal line"));
        QVERIFY(!cameras[0].playAudio);
        QVERIFY(cameras[1].playAudio);
        const quint64 begin =
            nyx::win32::kUnixEpochFileTime +
            quint64(QDateTime::fromString("2026-01-01T08:00:00Z", Qt::ISODate).toMSecsSinceEpoch()) * 10000;
        QCOMPARE(cameras[0].begin, begin);
        QCOMPARE(link.GetArchiveStart(), begin);
        QVERIFY(cameras[1].end >= cameras[1].begin);

        const auto types = link.GetEventTypes();
        QCOMPARE(int(types.size()), 2);
        QCOMPARE(types[0].name, QStringLiteral("Goal"));
        QCOMPARE(types[0].backgroundColor, 0xFF);
        QCOMPARE(types[1].textColor, 0xFF00);

        auto events = link.GetEvents();
        QCOMPARE(int(events.size()), 3);
        QCOMPARE(events[1].typeName, QStringLiteral("Foul"));
        QCOMPARE(events[1].comment, QStringLiteral("stored 1"));
        QCOMPARE(events[1].time, kT0 + 10000000);
        QCOMPARE(events[2].boardTime, qint64(180000));

        // A created event reaches JudgeDesk's list and comes back in a scan.
        std::uint64_t time = kT0 + 50000000;
        QVERIFY(link.CreateEvent(QStringLiteral("goal"), QStringLiteral(" made (here)_now "), time));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile(m_dir + "/events.jsonl").exists() &&
                [&] {
                    QFile f(m_dir + "/events.jsonl");
                    return f.open(QIODevice::ReadOnly) && f.readAll().contains("made {here} now");
                }(),
            10000);
        link.Clear(); // only JudgeDesk can give it back now
        QTRY_VERIFY_WITH_TIMEOUT(link.eventsReceived && hasComment(link.GetEvents(), "made {here} now"),
                                 10000);
        events = link.GetEvents();
        QCOMPARE(int(events.size()), 4);
        QCOMPARE(events[3].time, time);
        QCOMPARE(events[3].typeIndex, 1);

        // An event typed on JudgeDesk's console arrives with the next burst.
        desk.write("Foul typed by hand\n");
        QTRY_VERIFY_WITH_TIMEOUT(hasComment(link.GetEvents(), "typed by hand"), 10000);

        // Without JudgeDesk the link stops being alive.
        desk.kill();
        QVERIFY(desk.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!link.IsAlive(), 10000);
        QVERIFY(link.stopFlag == 0);
    }

    // A referee host that names no host and port fails every send the same way: the link's
    // debugger output repeats the error, and the log says once what is wrong with the setting.
    void unusableHostIsNamedOnce_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("problem");
        QTest::newRow("port not a number") << ":notaport"
                                           << "the port \"notaport\" is not a number from 1 to 65535";
        QTest::newRow("port too large") << "desk:99999"
                                        << "the port \"99999\" is not a number from 1 to 65535";
        QTest::newRow("empty") << ""
                               << "no host is named";
    }
    void unusableHostIsNamedOnce()
    {
        QFETCH(QString, host);
        QFETCH(QString, problem);
        std::atomic<int> failedSends{0};
        nyx::win32::setDebugOutputSink([&](const std::string &text) {
            if (text.find("with ERROR") != std::string::npos)
                ++failedSends;
        });
        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
        {
            CRefereeLink link;
            link.setTimerPeriod(100);
            link.Init(host, 2, 2, false);
            QTRY_VERIFY_WITH_TIMEOUT(failedSends >= 3, 20000);
        }
        qInstallMessageHandler(previous);
        nyx::win32::setDebugOutputSink([](const std::string &) {});
        const QStringList expected{
            QStringLiteral(
                "The referee host \"%1\" cannot be used: %2. Nothing reaches the referee until it is "
                "set as host or host:port.")
                .arg(host, problem)};
        std::lock_guard<std::mutex> lock(g_warningsMutex);
        QCOMPARE(g_warnings, expected);
    }

private:
    QString m_dir;
};

QTEST_GUILESS_MAIN(tst_RefereeE2E)
#include "tst_refereee2e.moc"
