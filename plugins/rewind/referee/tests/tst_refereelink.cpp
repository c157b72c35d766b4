// The referee link against an in-process referee: requests, answers, tables, flags and the scan.

#include "fakereferee.h"
#include "refereelink.h"

#include <QRegularExpression>
#include <QtTest>
#include <memory>

namespace {
const QString kId1 = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
const QString kId2 = QStringLiteral("{66666666-7777-8888-9999-AAAAAAAAAAAA}");
const QString kId3 = QStringLiteral("{BBBBBBBB-CCCC-DDDD-EEEE-FFFFFFFFFFFF}");
constexpr quint64 kT0 = 0x01DB'0000'0000'0000ULL;
constexpr quint64 kMs = 10000; // FILETIME units per millisecond
const QStringList kBurst = {QStringLiteral("EventTypes"), QStringLiteral("CameraInfo"),
                            QStringLiteral("EventCount")};

QString timeInfo()
{
    return QStringLiteral("<JudgeDesk><TimeInfo/></JudgeDesk>");
}

// A scan of n events of type Goal at kT0 + i ms, answered range by range.
QString eventsBody(int first, int count, const QString &type = QStringLiteral("Goal"))
{
    QString body;
    for (int i = first; i < first + count; ++i)
        body += xml::event(i, type, QStringLiteral("c%1").arg(i), kT0 + quint64(i) * 100 * kMs);
    return body;
}

QList<QPair<int, int>> ranges(const QStringList &requests)
{
    static const QRegularExpression range(QStringLiteral("^EventRange\\((\\d+)\\)\\((\\d+)\\)$"));
    static const QRegularExpression info(QStringLiteral("^EventInfo(\\d+)$"));
    QList<QPair<int, int>> list;
    for (const QString &r : requests) {
        auto m = range.match(r);
        if (m.hasMatch())
            list << qMakePair(m.captured(1).toInt(), m.captured(2).toInt());
        m = info.match(r);
        if (m.hasMatch())
            list << qMakePair(m.captured(1).toInt(), 1);
    }
    return list;
}

// Answers every event request in requests (and the ones they cause) until the scan is done.
void answerAll(FakeReferee &referee, CRefereeLink &link, QStringList requests,
               const QString &type = QStringLiteral("Goal"))
{
    for (int guard = 0; guard < 100; ++guard) {
        const auto list = ranges(requests);
        if (list.isEmpty())
            return;
        requests.clear();
        for (const auto &r : list)
            requests += referee.answerAndSettle(link, xml::events(eventsBody(r.first, r.second, type)));
    }
}
} // namespace

class tst_RefereeLink : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_clock = std::make_unique<FakeClock>();
        m_debug = std::make_unique<DebugCapture>();
    }
    void cleanup()
    {
        m_debug.reset();
        m_clock.reset();
    }

    void startBurstNumbersRequestsAndNamesTheReplyQueue()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        QCOMPARE(referee.texts(), kBurst);
        QCOMPARE(referee.tick(link), QStringList());
        for (int i = 0; i < 4; ++i) {
            const auto r = referee.request(i);
            QCOMPARE(r.number, i + 1);
            QCOMPARE(r.targetQueue, QStringLiteral("JudgeDesk"));
            QCOMPARE(r.host, QStringLiteral("localhost"));
            QVERIFY2(
                QRegularExpression(QStringLiteral("^TUNDRA2_[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                                  "[0-9a-f]{12}$"))
                    .match(r.replyQueue)
                    .hasMatch(),
                qPrintable(r.replyQueue));
        }
        QCOMPARE(referee.request(3).text, QStringLiteral("TimeInfo"));
        QVERIFY(m_debug->text().contains(QStringLiteral("CRefereeLink::START MESSAGE LOOP >>>")));
        QVERIFY(m_debug->text().contains(QStringLiteral("CRefereeLink::CoCreateInstance return 0x0")));
        QVERIFY2(QRegularExpression(
                     QStringLiteral("CRefereeLink::CreateQueue return 0x0, error=0, ptr=0x[0-9A-F]+\n"))
                     .match(m_debug->text())
                     .hasMatch(),
                 qPrintable(m_debug->text()));
    }

    void withoutAnswersTheBurstRepeatsAfterElevenTicks()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(referee.tick(link), QStringList());
        referee.tick(link);
        QVERIFY(referee.waitForTotal(3 + 11 + 3));
        QCOMPARE(referee.texts(3 + 11), kBurst);
        QVERIFY(!link.IsAlive());
    }

    void aliveBelowFiveSecondsAcrossTheTickWrap_data()
    {
        QTest::addColumn<DWORD>("start");
        QTest::newRow("plain") << DWORD(1000000);
        QTest::newRow("wrap") << DWORD(0xFFFFF000u);
    }
    void aliveBelowFiveSecondsAcrossTheTickWrap()
    {
        QFETCH(DWORD, start);
        m_clock->set(start);
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(!link.IsAlive());
        QVERIFY(startLink(referee, link));
        QVERIFY(!link.IsAlive());
        // Leading white space: not an answer of JudgeDesk.
        referee.answerAndSettle(link, QStringLiteral(" <JudgeDesk><TimeInfo/></JudgeDesk>"));
        QVERIFY(!link.IsAlive());
        referee.answerAndSettle(link, timeInfo());
        QVERIFY(link.IsAlive());
        m_clock->set(start + 4999);
        QVERIFY(link.IsAlive());
        m_clock->set(start + 5000);
        QVERIFY(!link.IsAlive());
    }

    void realTimerSendsTimeInfoEverySecond()
    {
        m_clock.reset(); // the steady clock
        FakeReferee referee;
        referee.setAutoResponder([&referee](const FakeReferee::Request &r) {
            if (r.text == QLatin1String("TimeInfo"))
                referee.transport->deliver(r.replyQueue, timeInfo());
        });
        CRefereeLink link;
        link.Init(QStringLiteral("localhost"), 5, 10, true);
        QVERIFY(referee.waitForTotal(3 + 2, 5000));
        QCOMPARE(referee.texts(3).mid(0, 2), QStringList({"TimeInfo", "TimeInfo"}));
        QTRY_VERIFY(link.IsAlive());
        QTRY_VERIFY(
            m_debug->text().contains(QStringLiteral("SendMesage('TimeInfo') to JudgeDesk successfully")));
    }

    void failedSendIsReportedAndNotRetried()
    {
        FakeReferee referee;
        referee.setAvailable(false);
        CRefereeLink link;
        link.setTimerPeriod(24u * 3600 * 1000);
        link.Init(QStringLiteral("localhost"), 5, 10, false);
        QTRY_COMPARE(m_debug->count(QStringLiteral("to JudgeDesk with ERROR")), 3);
        // HRESULT_FROM_WIN32(ERROR_CONNECTION_REFUSED), the error value, then the status.
        QVERIFY2(m_debug->text().contains(QStringLiteral(
                     "CRefereeLink::SendMesage('EventTypes') to JudgeDesk with ERROR : res=0x800704C9, "
                     "result=0x4C9, errCode=0.\n")),
                 qPrintable(m_debug->text()));
        QTRY_VERIFY(link.window() != nullptr);
        referee.setAvailable(true);
        QCOMPARE(referee.tick(link), QStringList());
        QCOMPARE(referee.texts(), QStringList({"TimeInfo"}));
        QCOMPARE(referee.request(0).number, 4); // failed sends used their numbers
    }

    void camerasFillTheTableAndFlags()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::cameras(xml::cam(1, "A", kId1, kT0 + 5, kT0 + 100) +
                                                       xml::cam(2, "B", kId2, kT0 + 2, kT0 + 200),
                                                   2));
        QCOMPARE(link.camsReceived.load(), BYTE(1));
        QCOMPARE(link.camsChanged.exchange(0), BYTE(1));
        QCOMPARE(link.GetArchiveStart(), kT0 + 2);
        auto cams = link.GetCameras();
        QCOMPARE(int(cams.size()), 2);
        QCOMPARE(cams[0].name, QStringLiteral("A"));
        QCOMPARE(nyx::com::toString(cams[1].streamId), kId2);
        QCOMPARE(cams[1].end, kT0 + 200);
        QVERIFY(!cams[0].playAudio);
        QVERIFY(cams[1].playAudio);
        QCOMPARE(cams[0].receiveTick, m_clock->get());
        QVERIFY(m_debug->text().contains(QStringLiteral("CRefereeLink::SetCamInfo(changed):")));

        // Same cameras, B grew and A was renamed: replaced, writing on B only, no change.
        referee.answerAndSettle(link, xml::cameras(xml::cam(1, "A renamed", kId1, kT0 + 5, kT0 + 100) +
                                                   xml::cam(2, "B", kId2, kT0 + 2, kT0 + 300)));
        QCOMPARE(link.camsChanged.exchange(0), BYTE(0));
        cams = link.GetCameras();
        QCOMPARE(cams[0].name, QStringLiteral("A renamed"));
        QCOMPARE(cams[0].writing, 0);
        QCOMPARE(cams[1].writing, 1);

        // A different stream is a change; an answer holding TimeInfo as well reads no cameras.
        referee.answerAndSettle(link,
                                QStringLiteral("<JudgeDesk><TimeInfo/><Cameras>%1</Cameras></JudgeDesk>")
                                    .arg(xml::cam(1, "X", kId3, 1, 2)));
        QCOMPARE(link.camsChanged.exchange(0), BYTE(0));
        referee.answerAndSettle(link, xml::cameras(xml::cam(1, "A", kId3, kT0 + 5, kT0 + 100) +
                                                   xml::cam(2, "B", kId2, kT0 + 2, kT0 + 300)));
        QCOMPARE(link.camsChanged.exchange(0), BYTE(1));
    }

    void camerasOutOfOrderAndSkippedEntries()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::cameras(xml::cam(2, "second", kId2, kT0 + 20, kT0 + 30) +
                                                   xml::cam(1, "first", kId1, kT0 + 10, kT0 + 30)));
        QVERIFY(m_debug->text().contains(QStringLiteral("camera[0].num = 2 (must be 1)")));
        QVERIFY(m_debug->text().contains(QStringLiteral("camera[1].num = 1 (must be 2)")));
        auto cams = link.GetCameras();
        QCOMPARE(cams[0].name, QStringLiteral("first"));
        QCOMPARE(cams[1].name, QStringLiteral("second"));
        QCOMPARE(link.GetArchiveStart(), kT0 + 10);

        // Missing Num, an unbraced Id and a Num out of range stay empty and do not pull the start to 0.
        const QString noNum = QStringLiteral("<Cam Name=\"n\" Id=\"%1\" TBeginLo=\"1\"/>").arg(kId1);
        const QString badId =
            xml::cam(2, "bad", QStringLiteral("11111111-2222-3333-4444-555555555555"), 1, 2);
        const QString outOfRange = xml::cam(9, "far", kId2, 1, 2);
        referee.answerAndSettle(
            link, xml::cameras(noNum + badId + outOfRange + xml::cam(4, "ok", kId3, kT0 + 7, kT0 + 9)));
        cams = link.GetCameras();
        QCOMPARE(int(cams.size()), 4);
        QVERIFY(cams[0].name.isEmpty() && cams[1].name.isEmpty() && cams[2].name.isEmpty());
        QCOMPARE(cams[3].name, QStringLiteral("ok"));
        QCOMPARE(link.GetArchiveStart(), kT0 + 7);
        QVERIFY(m_debug->text().contains(QStringLiteral("camera[2].num = 9 (must be 3)")));
    }

    void eventTypesKeepTheirPositions()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(
            link,
            QStringLiteral("<JudgeDesk><EventTypes><Type Name=\" Type A \" Txt=\"0x1F\"/><Type Name=\"  \"/>"
                           "<Type Name=\"Type C\" Bg=\"1 f\"/></EventTypes></JudgeDesk>"));
        auto types = link.GetEventTypes();
        QCOMPARE(int(types.size()), 2);
        QCOMPARE(types[0].index, 1);
        QCOMPARE(types[0].name, QStringLiteral("Type A"));
        QCOMPARE(types[0].nameLength, 6);
        QCOMPARE(types[0].textColor, 31);
        QCOMPARE(types[0].backgroundColor, 0);
        QCOMPARE(types[1].index, 3);
        QCOMPARE(types[1].textColor, 0xFFFFFF);
        QCOMPARE(types[1].backgroundColor, 31);
        QCOMPARE(link.typesReceived.load(), BYTE(1));
        QCOMPARE(link.typesChanged.exchange(0), BYTE(1));
        // The same table again: received, not changed.
        link.typesReceived = 0;
        referee.answerAndSettle(
            link, QStringLiteral("<JudgeDesk><EventTypes><Type Name=\"Type A\" Txt=\"1f\"/><Type Name=\"\"/>"
                                 "<Type Name=\"Type C\" Bg=\"1F\"/></EventTypes></JudgeDesk>"));
        QCOMPARE(link.typesReceived.load(), BYTE(1));
        QCOMPARE(link.typesChanged.load(), BYTE(0));
    }

    void scanChunking_data()
    {
        QTest::addColumn<int>("readCount");
        QTest::addColumn<int>("readSize");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("first");
        QTest::newRow("25 in three ranges")
            << 5 << 10 << 25 << QStringList{"EventRange(0)(10)", "EventRange(10)(10)", "EventRange(20)(5)"};
        QTest::newRow("21 ends with one")
            << 5 << 10 << 21 << QStringList{"EventRange(0)(10)", "EventRange(10)(10)", "EventInfo20"};
        QTest::newRow("size 0 asks one by one")
            << 3 << 0 << 5 << QStringList{"EventInfo0", "EventInfo1", "EventInfo2"};
        QTest::newRow("count 1 keeps one in flight") << 1 << 10 << 25 << QStringList{"EventRange(0)(10)"};
        QTest::newRow("count above the chunks")
            << 9 << 10 << 15 << QStringList{"EventRange(0)(10)", "EventRange(10)(5)"};
    }
    void scanChunking()
    {
        QFETCH(int, readCount);
        QFETCH(int, readSize);
        QFETCH(int, count);
        QFETCH(QStringList, first);
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link, readCount, readSize));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(3, count)), first);
        // Each answer asks for the next chunk; the table holds every event at the end.
        answerAll(referee, link, first);
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
        QCOMPARE(int(link.GetEvents().size()), count);
        QCOMPARE(link.eventsChanged.exchange(0), BYTE(1));
        QVERIFY(m_debug->text().contains(QStringLiteral("FINISH successfully")));
    }

    void countZeroFinishesAtOnceAndSameStateChangeAsksNothing()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(4, 0)), QStringList());
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
        QVERIFY(link.GetEvents().empty());
        QCOMPARE(referee.answerAndSettle(link, xml::header(5, 2)), QStringList({"EventRange(0)(2)"}));
        answerAll(referee, link, {"EventRange(0)(2)"});
        QCOMPARE(int(link.GetEvents().size()), 2);
        link.eventsChanged = 0;
        QCOMPARE(referee.answerAndSettle(link, xml::header(5, 2)), QStringList());
        QVERIFY(m_debug->text().contains(QStringLiteral("FINISH - nothing changed")));
        QCOMPARE(link.eventsChanged.load(), BYTE(0));
        QCOMPARE(int(link.GetEvents().size()), 2);
    }

    void eventAnswersBuildASortedTableByType()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal", "Foul"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(1, 6)), QStringList({"EventRange(0)(6)"}));
        const QString body = xml::event(0, "goal kick", "late", kT0 + 50 * kMs, "1:02:03.4") +
                             xml::event(1, "FOUL", "a&amp;gt;b", kT0 + 10 * kMs, "2:05") +
                             xml::event(2, "Offside", "unknown type", kT0 + 20 * kMs) +
                             xml::event(3, "Goal", "no time", 0) +
                             xml::event(4, "Goal", "same time, first", kT0 + 30 * kMs, "x") +
                             xml::event(5, "Goal", "same time, later", kT0 + 30 * kMs, "7");
        referee.answerAndSettle(link, xml::events(body));
        const auto events = link.GetEvents();
        QCOMPARE(int(events.size()), 3);
        QCOMPARE(events[0].typeIndex, 2);
        QCOMPARE(events[0].typeName, QStringLiteral("Foul"));
        QCOMPARE(events[0].comment, QStringLiteral("a>b"));
        QCOMPARE(events[0].boardTime, qint64(125000));
        QCOMPARE(events[1].comment, QStringLiteral("same time, later"));
        QCOMPARE(events[1].boardTime, qint64(7000));
        QCOMPARE(events[2].typeName, QStringLiteral("Goal"));
        QCOMPARE(events[2].boardTime, qint64(3723400));
        QVERIFY(m_debug->text().contains(QStringLiteral("Wrang board time format from ZEMBLA2: 'x'")));
        QVERIFY(m_debug->text().contains(QStringLiteral("CRefereeLink::UpdateEventList(changed):")));
    }

    void scanWaitsThreeSecondsThenTimesOutAndScansAgain()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        const QStringList asked = referee.answerAndSettle(link, xml::header(8, 25));
        QCOMPARE(asked.size(), 3);
        const DWORD askedAt = m_clock->get();
        referee.answerAndSettle(link, xml::events(eventsBody(0, 10)));
        referee.answerAndSettle(link, xml::events(eventsBody(20, 5)));
        m_clock->set(askedAt + 3000);
        referee.tick(link);
        QCOMPARE(link.eventsReceived.load(), BYTE(0));
        m_clock->set(askedAt + 3001);
        referee.tick(link);
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
        QVERIFY(m_debug->text().contains(QStringLiteral("don't receive answer for 1/25 events !!!")));
        QCOMPARE(int(link.GetEvents().size()), 15); // the answered ones
        // Not complete: the same StateChange is read again, and this time in full.
        const QStringList again = referee.answerAndSettle(link, xml::header(8, 25));
        QCOMPARE(again.size(), 3);
        answerAll(referee, link, again);
        QCOMPARE(int(link.GetEvents().size()), 25);
    }

    void eventAnswerOutsideAScanIsIgnored()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        referee.answerAndSettle(link, xml::header(2, 3));
        answerAll(referee, link, {"EventRange(0)(3)"});
        QCOMPARE(int(link.GetEvents().size()), 3);
        link.eventsChanged = 0;
        link.eventsReceived = 0;
        // A late rest of a range after the scan finished.
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(1, 1))), QStringList());
        QCOMPARE(int(link.GetEvents().size()), 3);
        QCOMPARE(link.eventsChanged.load(), BYTE(0));
        QCOMPARE(link.eventsReceived.load(), BYTE(0));
    }

    void clearEmptiesTablesAndTheEventsAreReadAgain()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        referee.answerAndSettle(link, xml::cameras(xml::cam(1, "A", kId1, kT0, kT0 + 1)));
        referee.answerAndSettle(link, xml::header(5, 2));
        answerAll(referee, link, {"EventRange(0)(2)"});
        link.Clear();
        QVERIFY(link.GetEvents().empty() && link.GetCameras().empty() && link.GetEventTypes().empty());
        QCOMPARE(link.camsReceived.load() + link.typesReceived.load() + link.eventsReceived.load(), 0);
        QCOMPARE(link.camsChanged.load() + link.typesChanged.load() + link.eventsChanged.load(), 0);
        QCOMPARE(link.GetArchiveStart(), kT0); // kept
        referee.answerAndSettle(link, xml::types({"Goal"}));
        const QStringList asked = referee.answerAndSettle(link, xml::header(5, 2));
        QCOMPARE(asked, QStringList({"EventRange(0)(2)"}));
        answerAll(referee, link, asked);
        QCOMPARE(int(link.GetEvents().size()), 2);
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
    }

    void malformedAnswersKeepTheTables_data()
    {
        QTest::addColumn<QString>("answer");
        const QString full = xml::cameras(xml::cam(1, "Z", kId3, 1, 2));
        QTest::newRow("truncated") << full.left(full.size() / 2);
        QTest::newRow("cut before the end") << full.left(full.size() - 3);
        QTest::newRow("mismatched end") << QString(full).replace("</JudgeDesk>", "</JudgeDesks>");
        QTest::newRow("unknown entity") << QStringLiteral("<JudgeDesk><Cameras>&nbsp;</Cameras></JudgeDesk>");
        QTest::newRow("two roots closed early") << QStringLiteral("<JudgeDesk></root><Cameras/></JudgeDesk>");
    }
    void malformedAnswersKeepTheTables()
    {
        QFETCH(QString, answer);
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::cameras(xml::cam(1, "A", kId1, kT0, kT0 + 1)));
        link.camsChanged = 0;
        link.camsReceived = 0;
        referee.answerAndSettle(link, answer);
        QCOMPARE(int(link.GetCameras().size()), 1);
        QCOMPARE(link.GetCameras()[0].name, QStringLiteral("A"));
        QCOMPARE(link.camsReceived.load(), BYTE(0));
        QVERIFY(m_debug->text().contains(QStringLiteral("malformed answer dropped")));
        // Still working afterwards.
        QCOMPARE(referee.tick(link), QStringList());
    }

    void unknownAnswerIsReported()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, QStringLiteral("<JudgeDesk><Weather/></JudgeDesk>"));
        QVERIFY(m_debug->text().contains(QStringLiteral(
            "CRefereeLink::JudgeDesk_Answer='<JudgeDesk><Weather/></JudgeDesk>' is UNKNOWN !!!")));
    }

    void hugeCountIsCapped()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link, 5, 2 * CRefereeLink::kMaxEventCount));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(9, 2000000000)),
                 QStringList({"EventRange(0)(100000)"}));
        // An index beyond the buffer lands in its last slot; the link goes on working.
        const QString body =
            xml::event(0, "Goal", "first", kT0) + xml::event(1999999999, "Goal", "last", kT0 + kMs);
        QCOMPARE(referee.answerAndSettle(link, xml::events(body)), QStringList());
        QCOMPARE(referee.answerAndSettle(link, xml::header(10, 1)), QStringList({"EventInfo0"}));
        // A count beyond 32 bits is as large as the cap, not an empty list.
        const QString overflow =
            QStringLiteral("<JudgeDesk><Events StateChange=\"11\" Count=\"3000000000\"/></JudgeDesk>");
        QCOMPARE(referee.answerAndSettle(link, overflow), QStringList({"EventRange(0)(100000)"}));
    }

    void splitRangesCompleteWhenEveryEventArrived()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link, 2, 4));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(1, 6)),
                 QStringList({"EventRange(0)(4)", "EventRange(4)(2)"}));
        // The first range in two answers: the scan goes on only after the second.
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(0, 2))), QStringList());
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(4, 2))), QStringList());
        QCOMPARE(link.eventsReceived.load(), BYTE(0));
        // A repeated index does not count twice.
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(2, 1) + eventsBody(2, 1))),
                 QStringList());
        QCOMPARE(link.eventsReceived.load(), BYTE(0));
        referee.answerAndSettle(link, xml::events(eventsBody(3, 1)));
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
        QCOMPARE(int(link.GetEvents().size()), 6);
    }

    void anEarlyAnswerDoesNotStandInForTheRequestedOne()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link, 1, 2));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        QCOMPARE(referee.answerAndSettle(link, xml::header(1, 4)), QStringList({"EventRange(0)(2)"}));
        // Index 2 arrives before it was asked for (left over from an abandoned scan).
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(2, 1))), QStringList());
        QCOMPARE(referee.answerAndSettle(link, xml::events(eventsBody(0, 2))),
                 QStringList({"EventRange(2)(2)"}));
        referee.answerAndSettle(link, xml::events(eventsBody(2, 2)));
        QCOMPARE(link.eventsReceived.load(), BYTE(1));
        QCOMPARE(int(link.GetEvents().size()), 4);
    }

    void createdEventIsSentWhenIdleWithCleanComment()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal", "Foul"}));
        referee.answerAndSettle(link, xml::header(1, 0));
        std::uint64_t time = 0x01DB1234ABCD5678ULL;
        const int before = referee.total();
        QVERIFY(link.CreateEvent(QStringLiteral("foul play"), QStringLiteral(" Foul (left)_2 "), time));
        QCOMPARE(time, 0x01DB1234ABCD5678ULL);
        const auto events = link.GetEvents();
        QCOMPARE(int(events.size()), 1);
        QCOMPARE(events[0].typeName, QStringLiteral("Foul"));
        QCOMPARE(events[0].comment, QStringLiteral("Foul {left} 2"));
        QCOMPARE(events[0].boardTime, qint64(-1));
        QCOMPARE(link.eventsChanged.load(), BYTE(0));
        QCOMPARE(referee.tick(link, before),
                 QStringList({"CreateEvent2_Foul(Hi01DB1234)(LoABCD5678)Foul {left} 2"}));
        QVERIFY(m_debug->text().contains(QStringLiteral("\nCreateEvent::CreateEvent2_Foul(Hi01DB1234)")));
        QVERIFY(!link.CreateEvent(QStringLiteral("Offside"), QString(), time));
        QCOMPARE(int(link.GetEvents().size()), 1);
    }

    void createdEventSnapsToANearEvent()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        referee.answerAndSettle(link, xml::header(1, 3));
        const QString body = xml::event(0, "Goal", "a", kT0) + xml::event(1, "Goal", "b", kT0 + 2 * kMs) +
                             xml::event(2, "Goal", "far", kT0 + 100 * kMs);
        referee.answerAndSettle(link, xml::events(body));
        QCOMPARE(int(link.GetEvents().size()), 3);
        std::uint64_t time = kT0 + 1 * kMs; // 1 ms from both: the later one wins
        QVERIFY(link.CreateEvent("Goal", "x", time));
        QCOMPARE(time, kT0 + 2 * kMs);
        auto events = link.GetEvents();
        QCOMPARE(int(events.size()), 3);
        QCOMPARE(events[1].comment, QStringLiteral("x"));
        time = kT0 + 97 * kMs; // 3 ms away: no snap
        QVERIFY(link.CreateEvent("Goal", "y", time));
        QCOMPARE(time, kT0 + 97 * kMs);
        QCOMPARE(int(link.GetEvents().size()), 4);
    }

    void createdEventsWaitForTheScanAndSurviveIt()
    {
        FakeReferee referee;
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, xml::types({"Goal"}));
        const QStringList asked = referee.answerAndSettle(link, xml::header(1, 25));
        QCOMPARE(asked.size(), 3);
        std::uint64_t time = kT0 + 5000 * kMs;
        const int before = referee.total();
        QVERIFY(link.CreateEvent("Goal", "made here", time));
        QCOMPARE(referee.tick(link, before), QStringList()); // held back
        QStringList more = referee.answerAndSettle(link, xml::events(eventsBody(0, 10)));
        more += referee.answerAndSettle(link, xml::events(eventsBody(10, 10)));
        QVERIFY(!more.join(',').contains("CreateEvent"));
        more = referee.answerAndSettle(link, xml::events(eventsBody(20, 5)));
        QCOMPARE(more.size(), 1);
        QVERIFY(more[0].startsWith("CreateEvent1_Goal("));
        const auto events = link.GetEvents();
        QCOMPARE(int(events.size()), 26);
        QCOMPARE(events.back().comment, QStringLiteral("made here"));
    }

    void createEventNeedsARunningLink()
    {
        std::uint64_t time = kT0;
        {
            CRefereeLink idle;
            QVERIFY(!idle.CreateEvent("Goal", "x", time));
        }
        nyx::com::ClassRegistration failing(CLSID_MessageQueueServer,
                                            [](REFIID, void **) { return REGDB_E_CLASSNOTREG; });
        CRefereeLink link;
        link.Init("localhost", 5, 10, false);
        QTRY_COMPARE(link.stopFlag.load(), BYTE(1));
        QVERIFY(!link.IsAlive());
        QVERIFY(!link.CreateEvent("Goal", "x", time));
        QVERIFY(m_debug->text().contains(QStringLiteral("CRefereeLink::CoCreateInstance return 0x80040154")));
    }

    void stopsAtAnyMomentAndAfterAFailedMessageLoop()
    {
        FakeReferee referee;
        for (int i = 0; i < 20; ++i) {
            CRefereeLink link;
            link.Init("localhost", 5, 10, false);
            if (i % 2)
                QThread::usleep(200 * i);
        } // each destructor joins
        CRefereeLink link;
        QVERIFY(startLink(referee, link));
        referee.answerAndSettle(link, timeInfo());
        QVERIFY(link.IsAlive());
        QVERIFY(nyx::win32::injectGetMessageFailure(link.window()));
        QTRY_COMPARE(link.stopFlag.load(), BYTE(1));
        QVERIFY(!link.IsAlive());
        QVERIFY(m_debug->text().contains(QStringLiteral("FINISH MESSAGE LOOP")));
    }

    void aSecondLinkInTheProcessWorks()
    {
        FakeReferee referee;
        {
            CRefereeLink first;
            QVERIFY(startLink(referee, first));
        }
        CRefereeLink second;
        CRefereeLink third;
        QVERIFY(startLink(referee, second));
        QVERIFY(startLink(referee, third));
        referee.answerAndSettle(second, timeInfo());
        QVERIFY(second.IsAlive());
        QVERIFY(!third.IsAlive());
        QVERIFY(m_debug->text().contains(QStringLiteral("RegisterClass return 0, error=1410")));
    }

private:
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<DebugCapture> m_debug;
};

QTEST_GUILESS_MAIN(tst_RefereeLink)
#include "tst_refereelink.moc"
