// EventCollection on the GUI thread with its worker on a thread of its own.

#include "eventcollection.h"
#include "testenvironment.h"

#include <QFile>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {
QVariantMap makeEvent(double time, const QString &type, double boardTime = -1)
{
    return {{"time", time}, {"type", type}, {"boardTime", boardTime}};
}

const QVariantList kShowAll{QVariantMap{{"type", ""}, {"color", "red"}, {"visible", true}}};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QList<double> previewTimes(const EventCollection &collection)
{
    QList<double> times;
    for (const QVariant &v : collection.previewedEvents())
        times << v.value<FilteredEvent>().time;
    return times;
}

bool waitReady(EventCollection &collection)
{
    return QTest::qWaitFor([&] { return collection.status() == EventCollection::Ready; }, 10000);
}
} // namespace

class tst_EventCollection : public QObject
{
    Q_OBJECT

private slots:
    void statusAndSameUrlLoadsOnce();
    void filtersRightAfterFileUrl();
    void addedEventsForwarded();
    void previewWindow();
    void previewEmptyEmitsOnce();
    void setCommentBothSides();
    void destructionDrainsWorker();
    void setEventsAfterFileUrlKeepsAppending();
};

void tst_EventCollection::statusAndSameUrlLoadsOnce()
{
    const QString path = tundra::test::freshDir("sameurl") + "/events.json";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\n{\"time\":1,\"type\":\"A\",\"boardTime\":100}\n{\"time\":2000,\"type\":\"B\","
                   "\"boardTime\":2100}");
    }
    EventCollection collection;
    collection.setFilters(kShowAll);
    QVERIFY(waitReady(collection));

    QSignalSpy urlChanged(&collection, &EventCollection::fileUrlChanged);
    QSignalSpy filtered(&collection, &EventCollection::filtered);
    QSignalSpy timestamps(&collection, &EventCollection::timestampsChanged);
    collection.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(collection.status(), EventCollection::Loading);
    QCOMPARE(filtered.count(), 1);
    QVERIFY2(filtered.at(0).at(0).toByteArray().isEmpty(), "attached models empty at once");
    collection.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(urlChanged.count(), 1);

    QVERIFY(waitReady(collection));
    QVERIFY(tundra::test::waitForCount(filtered, 2));
    QTest::qWait(50);
    QCOMPARE(filtered.count(), 2);
    QCOMPARE(timestamps.count(), 1);
    QCOMPARE(FilteredEvent::fromSnapshot(filtered.last().at(0).toByteArray()).size(), 2);
    QCOMPARE(EventTimestamp::fromSnapshot(timestamps.last().at(0).toByteArray()).size(), 2);
    QCOMPARE(filtered.last().at(1).value<QVector<EventFilter>>().size(), 1);
}

void tst_EventCollection::filtersRightAfterFileUrl()
{
    const QString path = tundra::test::freshDir("filtering") + "/events.json";
    EventCollection collection;
    QList<int> statuses;
    connect(&collection, &EventCollection::statusChanged, this, [&] { statuses << collection.status(); });
    collection.setFileUrl(QUrl::fromLocalFile(path));
    collection.setFilters(kShowAll);
    QCOMPARE(collection.status(), EventCollection::Filtering);
    QVERIFY(waitReady(collection));
    QCOMPARE(statuses.first(), int(EventCollection::Loading));
    QCOMPARE(statuses.at(1), int(EventCollection::Filtering));
    QCOMPARE(statuses.last(), int(EventCollection::Ready));

    QSignalSpy eventsChanged(&collection, &EventCollection::eventsChanged);
    const QVariantList events{makeEvent(1, "A")};
    collection.setEvents(events);
    QCOMPARE(collection.status(), EventCollection::Loading);
    collection.setEvents(events);
    QCOMPARE(eventsChanged.count(), 2);
    QCOMPARE(collection.events(), events);
    QVERIFY(waitReady(collection));
}

void tst_EventCollection::addedEventsForwarded()
{
    EventCollection collection;
    collection.setFilters(kShowAll);
    QSignalSpy added(&collection, &EventCollection::filteredEventAdded);
    QSignalSpy timestamp(&collection, &EventCollection::timestampAdded);
    collection.addEvent(makeEvent(1000, "Goal", 5000));
    collection.addEvent(makeEvent(1100, "Foul", 5100));
    QVERIFY(tundra::test::waitForCount(added, 2));
    QCOMPARE(added.at(1).at(0).value<FilteredEvent>().type, QStringLiteral("Foul"));
    QCOMPARE(added.at(1).at(0).value<FilteredEvent>().index, 1);
    QCOMPARE(timestamp.count(), 1);
    QCOMPARE(timestamp.at(0).at(0).value<EventTimestamp>(), (EventTimestamp{1000, 5000}));

    QSignalSpy filtered(&collection, &EventCollection::filtered);
    QSignalSpy timestamps(&collection, &EventCollection::timestampsChanged);
    collection.requestData();
    QVERIFY(tundra::test::waitForCount(filtered, 1));
    QCOMPARE(timestamps.count(), 1);
    QCOMPARE(FilteredEvent::fromSnapshot(filtered.at(0).at(0).toByteArray()).size(), 2);
}

void tst_EventCollection::previewWindow()
{
    EventCollection collection;
    collection.setFilters(kShowAll);
    QVariantList events;
    for (double t : {3500.0, 4000.0, 4200.0, 4500.0, 5000.0, 5100.0, 5900.0, 6001.0})
        events << makeEvent(t, "A");
    collection.setEvents(events);
    QVERIFY(waitReady(collection));
    QSignalSpy previewed(&collection, &EventCollection::previewedEventsChanged);
    QSignalSpy timeChanged(&collection, &EventCollection::previewTimeChanged);
    collection.setPreviewTime(5000);
    QCOMPARE(previewTimes(collection), QList<double>({4000, 4200, 4500, 5000, 5100}));
    QCOMPARE(collection.maxPreviewedEventCount(), 5);
    QCOMPARE(previewed.count(), 1);

    collection.setPreviewTime(5000);
    QCOMPARE(timeChanged.count(), 1);
    collection.setPreviewTime(7001);
    QCOMPARE(previewTimes(collection), QList<double>({6001}));
    collection.setPreviewTime(7002);
    QVERIFY(previewTimes(collection).isEmpty());

    // A new event inside the window shows at once.
    collection.setPreviewTime(8000);
    const int before = previewed.count();
    collection.addEvent(makeEvent(8500, "B"));
    QVERIFY(tundra::test::waitForCount(previewed, before + 1));
    QCOMPARE(previewTimes(collection), QList<double>({8500}));
    QCOMPARE(collection.previewedEvents().at(0).value<FilteredEvent>().type, QStringLiteral("B"));
}

void tst_EventCollection::previewEmptyEmitsOnce()
{
    EventCollection collection;
    collection.setFilters(kShowAll);
    collection.setEvents({makeEvent(100, "A")});
    QVERIFY(waitReady(collection));
    QSignalSpy previewed(&collection, &EventCollection::previewedEventsChanged);
    QSignalSpy timeChanged(&collection, &EventCollection::previewTimeChanged);
    collection.setPreviewTime(-1);
    QCOMPARE(timeChanged.count(), 0);
    collection.setPreviewTime(-5);
    QCOMPARE(timeChanged.count(), 1);
    QCOMPARE(previewed.count(), 0);

    collection.setPreviewTime(100);
    QCOMPARE(previewed.count(), 1);
    collection.setPreviewTime(-1);
    QCOMPARE(previewed.count(), 2);
    QVERIFY(collection.previewedEvents().isEmpty());

    collection.setPreviewTime(std::nan(""));
    collection.setPreviewTime(std::nan(""));
    QCOMPARE(timeChanged.count(), 5);
    QCOMPARE(previewed.count(), 2);
}

void tst_EventCollection::setCommentBothSides()
{
    const QString path = tundra::test::freshDir("comment") + "/events.json";
    EventCollection collection;
    collection.setFilters(kShowAll);
    collection.setFileUrl(QUrl::fromLocalFile(path));
    QSignalSpy added(&collection, &EventCollection::filteredEventAdded);
    collection.addEvent(makeEvent(1, "A"));
    QVERIFY(tundra::test::waitForCount(added, 1));
    const QByteArray before = readAll(path);

    QSignalSpy changed(&collection, &EventCollection::commentChanged);
    collection.setComment(1, "beyond");
    collection.setComment(0, "kept");
    QVERIFY(tundra::test::waitForCount(changed, 1));
    QTest::qWait(50);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 0);
    QVERIFY(!readAll(path).contains("beyond"));
    QVERIFY(readAll(path).contains("\"comment\":\"kept\""));
    QVERIFY(before != readAll(path));

    collection.setPreviewTime(1);
    QCOMPARE(collection.previewedEvents().at(0).value<FilteredEvent>().comment, QStringLiteral("kept"));
    // A late answer for a row that no longer exists is dropped.
    collection.onCommentChanged(3, "stale");
    QCOMPARE(changed.count(), 1);
}

void tst_EventCollection::destructionDrainsWorker()
{
    const QString path = tundra::test::freshDir("drain") + "/events.json";
    for (int round = 0; round < 20; ++round) {
        auto collection = std::make_unique<EventCollection>();
        collection->setFileUrl(QUrl::fromLocalFile(path));
        for (int i = 0; i < 10; ++i)
            collection->addEvent(makeEvent(round * 10000 + i * 1000, QStringLiteral("R%1").arg(round)));
        collection.reset();
    }
    const QByteArray data = readAll(path);
    QCOMPARE(data.count('\n'), 200);
    QVERIFY(data.contains("\"time\":199000,\"type\":\"R19\""));
}

void tst_EventCollection::setEventsAfterFileUrlKeepsAppending()
{
    const QString path = tundra::test::freshDir("setevents") + "/events.json";
    {
        EventCollection collection;
        collection.setFilters(kShowAll);
        collection.setFileUrl(QUrl::fromLocalFile(path));
        collection.setEvents({makeEvent(1, "FromList")});
        collection.addEvent(makeEvent(2, "Added"));
    }
    const QByteArray data = readAll(path);
    QVERIFY2(data.contains("\"type\":\"Added\""), data.constData());
    QVERIFY(!data.contains("FromList"));
}

QTEST_GUILESS_MAIN(tst_EventCollection)
#include "tst_eventcollection.moc"
