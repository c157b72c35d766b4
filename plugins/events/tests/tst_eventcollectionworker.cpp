// The worker and its events file, driven directly in a temporary folder.

#include "eventcollectionworker.h"
#include "eventmetatypes.h"
#include "testenvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {
QVariantMap makeEvent(double time, const QString &type, double boardTime = -1,
                      const QString &comment = QString(), const QString &color = QString())
{
    QVariantMap map{{"time", time}, {"type", type}, {"boardTime", boardTime}};
    if (!comment.isNull())
        map.insert("comment", comment);
    if (!color.isNull())
        map.insert("color", color);
    return map;
}

QVariantMap filter(const QString &type, const QString &color, bool visible)
{
    return {{"type", type}, {"color", color}, {"visible", visible}};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), qint64(data.size()));
}

QVector<FilteredEvent> lastFiltered(const QSignalSpy &spy)
{
    return spy.last().at(0).value<QVector<FilteredEvent>>();
}

QVector<EventTimestamp> lastTimestamps(const QSignalSpy &spy)
{
    return EventTimestamp::fromSnapshot(spy.last().at(0).toByteArray());
}

QStringList types(const QVector<FilteredEvent> &events)
{
    QStringList result;
    for (const FilteredEvent &e : events)
        result << e.type;
    return result;
}
} // namespace

class tst_EventCollectionWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerEventMetaTypes(); }

    // Opening and loading
    void newFileInMissingFolders();
    void exactBytesAndReload();
    void loadSkipsBadLines();
    void unreadableFileIsLoggedAndKeepsWorking();
    void emptyUrlTouchesNoDisk();

    // Timestamps
    void timestampSpacing();
    void timestampsRebuiltOnLoad();

    // Filtering
    void filtersHideAndColourEvents();
    void noFiltersStoresButShowsNothing();
    void requestDataOrder();

    // Comments
    void setCommentOutOfRangeOrUnchanged();
    void setCommentRewritesAndAppendsContinue();
    void setCommentKeepsFileWhenRewriteImpossible();

    // Mended faults
    void setEventsAfterFileUrlKeepsAppending();
    void setEventsKeepsOldLinesUntilRewrite();
};

void tst_EventCollectionWorker::newFileInMissingFolders()
{
    const QString dir = tundra::test::freshDir("missing");
    const QString path = dir + "/a/b/c/events.json";
    EventCollectionWorker worker;
    QStringList order;
    connect(&worker, &EventCollectionWorker::timestampsChanged, this, [&] { order << "timestampsChanged"; });
    connect(&worker, &EventCollectionWorker::filtered, this, [&] { order << "filtered"; });
    connect(&worker, &EventCollectionWorker::loaded, this, [&] { order << "loaded"; });
    QSignalSpy filtered(&worker, &EventCollectionWorker::filtered);

    worker.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(order, QStringList({"timestampsChanged", "filtered", "loaded"}));
    QVERIFY(QFileInfo(dir + "/a/b/c").isDir());
    QVERIFY2(QFileInfo::exists(path), "the append open creates the file");
    QCOMPARE(QFileInfo(path).size(), 0);
    QVERIFY(lastFiltered(filtered).isEmpty());
    QVERIFY(filtered.last().at(1).toByteArray().size() == 4); // an empty vector: just its count
}

void tst_EventCollectionWorker::exactBytesAndReload()
{
    const QString path = tundra::test::freshDir("bytes") + "/events.json";
    {
        EventCollectionWorker worker;
        worker.setFileUrl(QUrl::fromLocalFile(path));
        worker.addEvent(makeEvent(1000, "Goal", 36000000, "first", "red"));
        // Flushed at once: another reader sees it while the worker still holds the file.
        QCOMPARE(readAll(path),
                 QByteArray("\n{\"boardTime\":36000000,\"color\":\"red\",\"comment\":\"first\","
                            "\"time\":1000,\"type\":\"Goal\"}"));
        worker.addEvent({{"time", 2500.5}, {"type", "Фол"}});
    }
    const QByteArray expected =
        "\n{\"boardTime\":36000000,\"color\":\"red\",\"comment\":\"first\",\"time\":1000,"
        "\"type\":\"Goal\"}"
        "\n{\"boardTime\":-1,\"color\":\"\",\"comment\":\"\",\"time\":2500.5,\"type\":\"" +
        QStringLiteral("Фол").toUtf8() + "\"}";
    QCOMPARE(readAll(path), expected);

    EventCollectionWorker reader;
    reader.setFilters({filter("", "blue", true)});
    QSignalSpy filtered(&reader, &EventCollectionWorker::filtered);
    reader.setFileUrl(QUrl::fromLocalFile(path));
    const QVector<FilteredEvent> events = lastFiltered(filtered);
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].time, 1000.0);
    QCOMPARE(events[0].boardTime, 36000000.0);
    QCOMPARE(events[0].type, QStringLiteral("Goal"));
    QCOMPARE(events[0].comment, QStringLiteral("first"));
    QCOMPARE(events[0].color, QStringLiteral("red"));
    QCOMPARE(events[1].time, 2500.5);
    QCOMPARE(events[1].boardTime, -1.0);
    QCOMPARE(events[1].type, QStringLiteral("Фол"));
    QCOMPARE(events[1].index, 1);
    // Reloading writes nothing.
    QCOMPARE(readAll(path), expected);
}

void tst_EventCollectionWorker::loadSkipsBadLines()
{
    const QString path = tundra::test::freshDir("badlines") + "/events.json";
    writeFile(path, "\n{\"time\":1,\"type\":\"A\"}\r\n"
                    "{\"time\":2,\"type\":\n" // cut short
                    "\r\n"
                    "   \n"
                    "[]\n"
                    "[1]\n"
                    "{}\n"
                    "{\"comment\":\"no time, no type\"}\n"
                    "\"text\"\n"
                    "42\n"
                    "null\n"
                    "garbage\xff\xfe\n"
                    "{\"type\":\"B\",\"time\":3}\r\n"
                    "\n\n"
                    "{\"time\":4,\"type\":\"C\"}");
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    QSignalSpy filtered(&worker, &EventCollectionWorker::filtered);
    worker.setFileUrl(QUrl::fromLocalFile(path));
    const QVector<FilteredEvent> events = lastFiltered(filtered);
    QCOMPARE(types(events), QStringList({"A", "B", "C"}));
    QCOMPARE(events[1].time, 3.0);
    QCOMPARE(events[2].index, 2);

    // New events go after the last line and reload cleanly together with the old ones.
    worker.addEvent(makeEvent(5, "D"));
    EventCollectionWorker reader;
    reader.setFilters({filter("", "red", true)});
    QSignalSpy reloaded(&reader, &EventCollectionWorker::filtered);
    reader.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(types(lastFiltered(reloaded)), QStringList({"A", "B", "C", "D"}));
}

void tst_EventCollectionWorker::unreadableFileIsLoggedAndKeepsWorking()
{
    // A folder where the file should be: it can be neither read nor opened for appending.
    const QString path = tundra::test::freshDir("unreadable") + "/events.json";
    QVERIFY(QDir().mkpath(path));
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    QSignalSpy loaded(&worker, &EventCollectionWorker::loaded);
    QSignalSpy added(&worker, &EventCollectionWorker::filteredEventAdded);
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression("^Failed to open events file file://.*events.json$"));
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression("^Failed to open events file file://.*events.json$"));
    worker.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(loaded.count(), 1);
    worker.addEvent(makeEvent(1, "A"));
    QCOMPARE(added.count(), 1);
    QVERIFY(QFileInfo(path).isDir());
}

void tst_EventCollectionWorker::emptyUrlTouchesNoDisk()
{
    const QString dir = tundra::test::freshDir("nourl");
    QVERIFY(QDir::setCurrent(dir));
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    QSignalSpy loaded(&worker, &EventCollectionWorker::loaded);
    worker.setFileUrl(QUrl());
    QCOMPARE(loaded.count(), 1);
    worker.addEvent(makeEvent(1, "A"));
    worker.addEvent(makeEvent(2, "B"));
    QSignalSpy filtered(&worker, &EventCollectionWorker::filtered);
    worker.setFilters({filter("", "red", true)});
    QCOMPARE(lastFiltered(filtered).size(), 2);
    worker.setComment(0, "changed");
    QVERIFY(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void tst_EventCollectionWorker::timestampSpacing()
{
    EventCollectionWorker worker;
    QSignalSpy added(&worker, &EventCollectionWorker::timestampAdded);
    worker.addEvent(makeEvent(0, "A", 1000));
    worker.addEvent(makeEvent(200, "A", 1200));
    worker.addEvent(makeEvent(400, "A", 1400));
    worker.addEvent(makeEvent(1000, "A", 2000));
    worker.addEvent(makeEvent(5000, "A", -1));   // no board time
    worker.addEvent(makeEvent(6000, "A", -0.4)); // rounds to 0: still a board time
    worker.addEvent(makeEvent(7000, "A", -0.6));
    worker.addEvent(makeEvent(5800, "A", 3000)); // within 300 ms of the last kept, going backwards
    QList<double> times;
    for (const QList<QVariant> &args : qAsConst(added))
        times << args.at(0).value<EventTimestamp>().time;
    QCOMPARE(times, QList<double>({0, 400, 1000, 6000}));
    QCOMPARE(added.at(1).at(0).value<EventTimestamp>().boardTime, 1400.0);

    QSignalSpy changed(&worker, &EventCollectionWorker::timestampsChanged);
    worker.requestData();
    const QVector<EventTimestamp> all = lastTimestamps(changed);
    QCOMPARE(all.size(), 4);
    QCOMPARE(all[3], (EventTimestamp{6000, -0.4}));
}

void tst_EventCollectionWorker::timestampsRebuiltOnLoad()
{
    const QString path = tundra::test::freshDir("timestamps") + "/events.json";
    {
        EventCollectionWorker worker;
        worker.setFileUrl(QUrl::fromLocalFile(path));
        for (double t : {0.0, 200.0, 400.0, 1000.0})
            worker.addEvent(makeEvent(t, "A", 50000 + t));
        worker.addEvent(makeEvent(9000, "A", -1));
    }
    EventCollectionWorker worker;
    QSignalSpy changed(&worker, &EventCollectionWorker::timestampsChanged);
    QSignalSpy added(&worker, &EventCollectionWorker::timestampAdded);
    worker.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(added.count(), 0);
    QCOMPARE(lastTimestamps(changed), (QVector<EventTimestamp>{{0, 50000}, {400, 50400}, {1000, 51000}}));

    worker.setEvents({makeEvent(10, "B", 7), makeEvent(20, "B", 8)});
    QCOMPARE(changed.count(), 2);
    QCOMPARE(lastTimestamps(changed), (QVector<EventTimestamp>{{10, 7}}));
}

void tst_EventCollectionWorker::filtersHideAndColourEvents()
{
    EventCollectionWorker worker;
    worker.setEvents(
        {makeEvent(1, "Goal"), makeEvent(2, "Foul"), makeEvent(3, "Gate"), makeEvent(4, "Card")});
    QSignalSpy filtered(&worker, &EventCollectionWorker::filtered);
    QSignalSpy added(&worker, &EventCollectionWorker::filteredEventAdded);

    worker.setFilters({filter("", "gray", true), filter("G*", "green", true), filter("Foul", "red", false)});
    QCOMPARE(filtered.count(), 1);
    QVector<FilteredEvent> events = lastFiltered(filtered);
    QCOMPARE(types(events), QStringList({"Goal", "Gate", "Card"}));
    QCOMPARE(events[0].filterIndex, 1);
    QCOMPARE(events[1].index, 2);
    QCOMPARE(events[2].filterIndex, 0);
    QCOMPARE(FilteredEvent::fromSnapshot(filtered.last().at(1).toByteArray()).size(), 3);
    const auto filters = filtered.last().at(2).value<QVector<EventFilter>>();
    QCOMPARE(filters.size(), 3);
    QCOMPARE(filters[1].color, QColor("green"));

    worker.addEvent(makeEvent(5, "Foul"));
    QCOMPARE(added.count(), 0);
    worker.addEvent(makeEvent(6, "Goal"));
    QCOMPARE(added.count(), 1);
    const auto goal = added.last().at(0).value<FilteredEvent>();
    QCOMPARE(goal.index, 5);
    QCOMPARE(goal.filterIndex, 1);

    // Hiding the catch-all leaves only what a later filter shows.
    worker.setFilters({filter("", "gray", false), filter("Foul", "red", true)});
    QCOMPARE(types(lastFiltered(filtered)), QStringList({"Foul", "Foul"}));
}

void tst_EventCollectionWorker::noFiltersStoresButShowsNothing()
{
    const QString path = tundra::test::freshDir("nofilters") + "/events.json";
    EventCollectionWorker worker;
    QSignalSpy filtered(&worker, &EventCollectionWorker::filtered);
    worker.setFileUrl(QUrl::fromLocalFile(path));
    QSignalSpy added(&worker, &EventCollectionWorker::filteredEventAdded);
    worker.addEvent(makeEvent(1, "Goal"));
    QCOMPARE(added.count(), 0);
    QVERIFY(readAll(path).contains("\"type\":\"Goal\""));
    worker.setFilters({});
    QVERIFY(lastFiltered(filtered).isEmpty());
    worker.setFilters({filter("Anything", "red", true)});
    QCOMPARE(types(lastFiltered(filtered)), QStringList({"Goal"}));
}

void tst_EventCollectionWorker::requestDataOrder()
{
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    worker.addEvent(makeEvent(0, "A", 100));
    worker.addEvent(makeEvent(1000, "B", 1100));
    QStringList order;
    QByteArray events;
    QByteArray timestamps;
    connect(&worker, &EventCollectionWorker::timestampsChanged, this, [&](const QByteArray &data) {
        order << "timestamps";
        timestamps = data;
    });
    connect(&worker, &EventCollectionWorker::requestedDataReady, this, [&](const QByteArray &data) {
        order << "events";
        events = data;
    });
    worker.requestData();
    QCOMPARE(order, QStringList({"timestamps", "events"}));
    QCOMPARE(types(FilteredEvent::fromSnapshot(events)), QStringList({"A", "B"}));
    QCOMPARE(EventTimestamp::fromSnapshot(timestamps).size(), 2);
}

void tst_EventCollectionWorker::setCommentOutOfRangeOrUnchanged()
{
    const QString path = tundra::test::freshDir("comment-same") + "/events.json";
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    worker.setFileUrl(QUrl::fromLocalFile(path));
    worker.addEvent(makeEvent(1, "A", -1, "same"));
    const QByteArray before = readAll(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    const auto inode = QFileInfo(path).fileTime(QFileDevice::FileMetadataChangeTime);

    QSignalSpy changed(&worker, &EventCollectionWorker::commentChanged);
    worker.setComment(-1, "x");
    worker.setComment(1, "x");
    worker.setComment(0, "same");
    QCOMPARE(changed.count(), 0);
    QCOMPARE(readAll(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QCOMPARE(QFileInfo(path).fileTime(QFileDevice::FileMetadataChangeTime), inode);
}

void tst_EventCollectionWorker::setCommentRewritesAndAppendsContinue()
{
    const QString path = tundra::test::freshDir("comment") + "/events.json";
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true), filter("Hidden", "red", false)});
    worker.setFileUrl(QUrl::fromLocalFile(path));
    worker.addEvent(makeEvent(1, "A", 10, "one", "c1"));
    worker.addEvent(makeEvent(2, "Hidden", 20, "h"));
    worker.addEvent(makeEvent(3, "B", 30, "two"));

    QSignalSpy changed(&worker, &EventCollectionWorker::commentChanged);
    worker.setComment(1, "Второй"); // filtered row 1 is the third event
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.last().at(0).toInt(), 1);
    QCOMPARE(changed.last().at(1).toString(), QStringLiteral("Второй"));

    worker.addEvent(makeEvent(4, "C"));
    const QByteArray expected =
        "\n{\"boardTime\":10,\"color\":\"c1\",\"comment\":\"one\",\"time\":1,\"type\":\"A\"}"
        "\n{\"boardTime\":20,\"color\":\"\",\"comment\":\"h\",\"time\":2,\"type\":\"Hidden\"}"
        "\n{\"boardTime\":30,\"color\":\"\",\"comment\":\"" +
        QStringLiteral("Второй").toUtf8() +
        "\",\"time\":3,\"type\":\"B\"}"
        "\n{\"boardTime\":-1,\"color\":\"\",\"comment\":\"\",\"time\":4,\"type\":\"C\"}";
    QCOMPARE(readAll(path), expected);
    QVERIFY2(QDir(QFileInfo(path).path()).entryList(QDir::Files) == QStringList{"events.json"},
             "no temporary file left behind");

    QSignalSpy data(&worker, &EventCollectionWorker::requestedDataReady);
    worker.requestData();
    QCOMPARE(FilteredEvent::fromSnapshot(data.last().at(0).toByteArray()).at(1).comment,
             QStringLiteral("Второй"));
}

void tst_EventCollectionWorker::setCommentKeepsFileWhenRewriteImpossible()
{
    // Move the folder away and put a plain file in its place: the rewrite cannot create its file
    // there (even as root), while the append file, already open, still reaches the moved folder.
    const QString dir = tundra::test::freshDir("rewrite-impossible");
    const QString path = dir + "/events/events.json";
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    worker.setFileUrl(QUrl::fromLocalFile(path));
    worker.addEvent(makeEvent(1, "A", -1, "old"));
    QVERIFY(QDir(dir).rename("events", "moved"));
    writeFile(dir + "/events", "not a folder");

    QSignalSpy changed(&worker, &EventCollectionWorker::commentChanged);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Can't write to file://.*/events/events.json$"));
    worker.setComment(0, "new");
    QCOMPARE(changed.count(), 1);
    worker.addEvent(makeEvent(2, "B"));

    QCOMPARE(readAll(dir + "/moved/events.json"),
             QByteArray("\n{\"boardTime\":-1,\"color\":\"\",\"comment\":\"old\",\"time\":1,\"type\":\"A\"}"
                        "\n{\"boardTime\":-1,\"color\":\"\",\"comment\":\"\",\"time\":2,\"type\":\"B\"}"));
    QCOMPARE(readAll(dir + "/events"), QByteArray("not a folder"));
}

void tst_EventCollectionWorker::setEventsAfterFileUrlKeepsAppending()
{
    const QString path = tundra::test::freshDir("setevents") + "/events.json";
    EventCollectionWorker worker;
    worker.setFileUrl(QUrl::fromLocalFile(path));
    worker.setEvents({makeEvent(1, "Listed")});
    worker.addEvent(makeEvent(2, "Added"));
    worker.setEvents({});
    worker.addEvent(makeEvent(3, "AddedAgain"));
    const QByteArray data = readAll(path);
    QVERIFY2(data.contains("\"type\":\"Added\""), data.constData());
    QVERIFY2(data.contains("\"type\":\"AddedAgain\""), data.constData());
}

void tst_EventCollectionWorker::setEventsKeepsOldLinesUntilRewrite()
{
    const QString path = tundra::test::freshDir("setevents-rewrite") + "/events.json";
    writeFile(path, "\n{\"time\":1,\"type\":\"Old\"}");
    EventCollectionWorker worker;
    worker.setFilters({filter("", "red", true)});
    worker.setFileUrl(QUrl::fromLocalFile(path));
    worker.setEvents({makeEvent(5, "New", -1, "c")});
    QCOMPARE(readAll(path), QByteArray("\n{\"time\":1,\"type\":\"Old\"}"));
    worker.setComment(0, "d");
    QCOMPARE(readAll(path),
             QByteArray("\n{\"boardTime\":-1,\"color\":\"\",\"comment\":\"d\",\"time\":5,\"type\":\"New\"}"));
}

QTEST_GUILESS_MAIN(tst_EventCollectionWorker)
#include "tst_eventcollectionworker.moc"
