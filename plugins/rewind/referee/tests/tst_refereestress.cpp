// The GUI thread creates events, copies tables and takes flags while scans stream in.

#include "fakereferee.h"
#include "refereelink.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {
constexpr quint64 kT0 = 0x01DB'8000'0000'0000ULL;

// A referee that answers at once on the link thread and keeps the created events.
struct ScriptedReferee
{
    std::mutex mutex;
    QVector<QPair<quint64, QString>> events; // time, comment
    int stateChange = 1;
    QSet<QString> created;

    void respond(FakeReferee &referee, const FakeReferee::Request &r)
    {
        static const QRegularExpression range(QStringLiteral("^EventRange\\((\\d+)\\)\\((\\d+)\\)$"));
        static const QRegularExpression info(QStringLiteral("^EventInfo(\\d+)$"));
        static const QRegularExpression create(
            QStringLiteral("^CreateEvent1_Goal\\(Hi(\\w{8})\\)\\(Lo(\\w{8})\\)(.*)$"));
        QStringList answers;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (r.text == "TimeInfo") {
                answers << "<JudgeDesk><TimeInfo/></JudgeDesk>";
            } else if (r.text == "EventTypes") {
                answers << xml::types({"Goal", "Foul"});
            } else if (r.text == "CameraInfo") {
                answers << xml::cameras(xml::cam(1, "A", "{11111111-2222-3333-4444-555555555555}", kT0,
                                                 kT0 + quint64(stateChange)));
            } else if (r.text == "EventCount") {
                ++stateChange; // a moving list: every burst scans
                answers << xml::header(stateChange, events.size());
            } else if (auto m = create.match(r.text); m.hasMatch()) {
                const quint64 time =
                    (m.captured(1).toULongLong(nullptr, 16) << 32) | m.captured(2).toULongLong(nullptr, 16);
                created.insert(m.captured(3));
                auto it = std::lower_bound(events.begin(), events.end(), qMakePair(time, QString()));
                events.insert(it, qMakePair(time, m.captured(3)));
            } else {
                int first = -1, count = 0;
                if (auto m = range.match(r.text); m.hasMatch()) {
                    first = m.captured(1).toInt();
                    count = m.captured(2).toInt();
                } else if (auto m = info.match(r.text); m.hasMatch()) {
                    first = m.captured(1).toInt();
                    count = 1;
                }
                // Split into answers of two events, as a referee may.
                for (int i = first; first >= 0 && i < first + count && i < events.size(); i += 2) {
                    QString body;
                    for (int j = i; j < std::min(i + 2, first + count) && j < events.size(); ++j)
                        body += xml::event(j, "Goal", events[j].second, events[j].first, "0:01");
                    answers << xml::events(body);
                }
            }
        }
        for (const QString &a : answers)
            referee.transport->deliver(r.replyQueue, a);
    }
};
} // namespace

class tst_RefereeStress : public QObject
{
    Q_OBJECT

private slots:
    void guiThreadAgainstStreamingScans()
    {
        DebugCapture quiet;
        FakeReferee referee;
        ScriptedReferee script;
        {
            std::lock_guard<std::mutex> lock(script.mutex);
            for (int i = 0; i < 40; ++i)
                script.events.push_back(
                    qMakePair(kT0 + quint64(i) * 10000000, QStringLiteral("seed %1").arg(i)));
        }
        referee.setAutoResponder([&](const FakeReferee::Request &r) { script.respond(referee, r); });

        CRefereeLink link;
        link.setTimerPeriod(2);
        link.Init("localhost", 3, 4, false);
        QTRY_VERIFY(link.IsAlive() && link.typesReceived && link.eventsReceived);

        QSet<QString> madeHere;
        int changes = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; timer.elapsed() < 2500; ++i) {
            if (i % 7 == 0) {
                std::uint64_t time = kT0 + 500000000ULL + quint64(i) * 1000000;
                const QString comment = QStringLiteral("made %1").arg(i);
                if (link.CreateEvent("Goal", comment, time))
                    madeHere.insert(comment);
            }
            const auto events = link.GetEvents();
            for (std::size_t k = 1; k < events.size(); ++k)
                QVERIFY(events[k - 1].time < events[k].time);
            QVERIFY(link.GetCameras().size() <= 1);
            QVERIFY(link.GetEventTypes().size() <= 2);
            changes +=
                link.eventsChanged.exchange(0) + link.camsChanged.exchange(0) + link.typesChanged.exchange(0);
            link.GetArchiveStart();
            link.IsAlive();
            QThread::usleep(200);
        }
        QVERIFY(madeHere.size() > 10);
        QVERIFY(changes > 0);
        // Every created event reached the referee, and the table holds all of them.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                std::lock_guard<std::mutex> lock(script.mutex);
                return script.created.contains(madeHere);
            }(),
            10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QSet<QString> inTable;
                for (const RefereeEvent &e : link.GetEvents())
                    inTable.insert(e.comment);
                return inTable.contains(madeHere);
            }(),
            10000);
    }
};

QTEST_GUILESS_MAIN(tst_RefereeStress)
#include "tst_refereestress.moc"
