// EventModel: rows and roles from an attached collection, the board-time mapping.

#include "eventcollection.h"
#include "eventmodel.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QFontMetricsF>
#include <QtTest>

namespace {
QVariantMap makeEvent(double time, const QString &type, double boardTime = -1)
{
    return {{"time", time}, {"type", type}, {"boardTime", boardTime}};
}

QVariantMap makeFilter(const QString &type, const QString &color, bool visible)
{
    return {{"type", type}, {"color", color}, {"visible", visible}};
}

QByteArray timestampsSnapshot(const QVector<EventTimestamp> &timestamps)
{
    return EventTimestamp::toSnapshot(timestamps);
}

QStringList rowTypes(const EventModel &model)
{
    QStringList types;
    for (int row = 0; row < model.rowCount(); ++row)
        types << model.getValue(row, "type").toString();
    return types;
}
} // namespace

class tst_EventModel : public QObject
{
    Q_OBJECT

private slots:
    void boardTime_data();
    void boardTime();
    void boardTimeFollowsTimestampSignals();

    void rolesAndIndexes();
    void missingFilterHasNoColour();
    void followsCollectionUnderTester();
    void replacingAndLosingCollection();
    void maxNameWidth();
};

void tst_EventModel::boardTime_data()
{
    QTest::addColumn<QVector<EventTimestamp>>("timestamps");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("expected");

    const QVector<EventTimestamp> one{{0, 500}};
    const QVector<EventTimestamp> midnight{{0, 86399000}, {10000, 9000}};
    const QVector<EventTimestamp> jitter{{0, 50000}, {10000, 49500}};
    const QVector<EventTimestamp> steady{{1000, 10000}, {3000, 12000}, {5000, 14000}};

    QTest::newRow("no timestamps") << QVector<EventTimestamp>() << 12345.0 << 0.0;
    QTest::newRow("before the only one wraps below 0") << one << -1000.0 << 86399500.0;
    QTest::newRow("after the only one") << one << 2000.0 << 2500.0;
    QTest::newRow("at the only one") << one << 0.0 << 500.0;
    QTest::newRow("before the first") << steady << 0.0 << 9000.0;
    QTest::newRow("at the first") << steady << 1000.0 << 10000.0;
    QTest::newRow("between") << steady << 2000.0 << 11000.0;
    QTest::newRow("at a middle one") << steady << 3000.0 << 12000.0;
    QTest::newRow("between later") << steady << 4500.0 << 13500.0;
    QTest::newRow("after the last") << steady << 10000.0 << 19000.0;
    QTest::newRow("across midnight") << midnight << 5000.0 << 4000.0;
    QTest::newRow("across midnight early") << midnight << 500.0 << 86399500.0;
    QTest::newRow("across midnight late") << midnight << 9990.0 << 8990.0;
    QTest::newRow("after midnight pair") << midnight << 11000.0 << 10000.0;
    QTest::newRow("small step back flattened") << jitter << 5000.0 << 50000.0;
    QTest::newRow("small step back at end") << jitter << 10000.0 << 50000.0;
    QTest::newRow("after the last wraps past midnight")
        << QVector<EventTimestamp>{{0, 86399000}} << 2000.0 << 1000.0;
    QTest::newRow("duplicate times use the first of them")
        << QVector<EventTimestamp>{{0, 100}, {1000, 2000}, {1000, 7000}} << 1000.0 << 2000.0;
}

void tst_EventModel::boardTime()
{
    QFETCH(QVector<EventTimestamp>, timestamps);
    QFETCH(double, time);
    QFETCH(double, expected);
    EventModel model;
    QSignalSpy changed(&model, &EventModel::timestampsChanged);
    model.onTimestampsChanged(timestampsSnapshot(timestamps));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.timestampCount(), timestamps.size());
    QCOMPARE(model.getBoardTime(time), expected);
}

void tst_EventModel::boardTimeFollowsTimestampSignals()
{
    EventCollection collection;
    EventModel model;
    model.setEventCollection(&collection);
    QSignalSpy changed(&model, &EventModel::timestampsChanged);
    collection.addEvent(makeEvent(0, "A", 86399000));
    collection.addEvent(makeEvent(100, "A", 5)); // too close to count
    collection.addEvent(makeEvent(10000, "A", 9000));
    QTRY_COMPARE(model.timestampCount(), 2);
    QCOMPARE(model.getBoardTime(5000), 4000.0);

    // A reload replaces the list as a whole.
    collection.setEvents({makeEvent(0, "A", 500)});
    QTRY_COMPARE(model.timestampCount(), 1);
    QCOMPARE(model.getBoardTime(-1000), 86399500.0);
}

void tst_EventModel::rolesAndIndexes()
{
    EventCollection collection;
    collection.setFilters({makeFilter("", "gray", true), makeFilter("G*", "#00ff00", true),
                           makeFilter("Hidden", "red", false)});
    collection.setEvents({makeEvent(10, "Goal", 100), makeEvent(20, "Hidden"), makeEvent(30, "Foul", 300)});
    EventModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setEventCollection(&collection);
    QTRY_COMPARE(model.rowCount(), 2);

    const QHash<int, QByteArray> roles = model.roleNames();
    QCOMPARE(roles.size(), 5);
    QCOMPARE(roles.value(257), QByteArray("time"));
    QCOMPARE(roles.value(258), QByteArray("boardTime"));
    QCOMPARE(roles.value(259), QByteArray("type"));
    QCOMPARE(roles.value(260), QByteArray("comment"));
    QCOMPARE(roles.value(261), QByteArray("color"));

    QCOMPARE(model.getValue(0, "time").toDouble(), 10.0);
    QCOMPARE(model.getValue(0, "boardTime").toDouble(), 100.0);
    QCOMPARE(model.getValue(0, "type").toString(), QStringLiteral("Goal"));
    QCOMPARE(model.getValue(0, "color").value<QColor>(), QColor("#00ff00"));
    QCOMPARE(model.getValue(1, "color").value<QColor>(), QColor("gray"));
    QCOMPARE(model.data(model.index(1, 0), 260).toString(), QString());
    QVERIFY(!model.getValue(0, "colour").isValid());
    QVERIFY(!model.getValue(2, "type").isValid());
    QVERIFY(!model.getValue(-1, "type").isValid());
    QVERIFY(!model.data(model.index(0, 0), Qt::DisplayRole).isValid());

    QCOMPARE(model.toOriginalIndex(0), 0);
    QCOMPARE(model.toOriginalIndex(1), 2);
    QCOMPARE(model.toOriginalIndex(2), -1);
    QCOMPARE(model.toOriginalIndex(-1), -1);
    QCOMPARE(model.fromOriginalIndex(2), 1);
    QCOMPARE(model.fromOriginalIndex(1), -1); // hidden by its filter
    QCOMPARE(model.fromOriginalIndex(7), -1);

    QSignalSpy dataChanged(&model, &QAbstractItemModel::dataChanged);
    collection.setComment(1, "late tackle");
    QVERIFY(tundra::test::waitForCount(dataChanged, 1));
    QCOMPARE(dataChanged.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(dataChanged.at(0).at(2).value<QVector<int>>(), QVector<int>({260}));
    QCOMPARE(model.getValue(1, "comment").toString(), QStringLiteral("late tackle"));
    model.onCommentChanged(5, "nothing");
    QCOMPARE(dataChanged.count(), 1);
}

void tst_EventModel::missingFilterHasNoColour()
{
    EventModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    FilteredEvent unfiltered;
    unfiltered.type = QStringLiteral("A");
    FilteredEvent beyond(EventRecord(), 1, 3);
    FilteredEvent known(EventRecord(), 2, 0);
    model.onFiltered(FilteredEvent::toSnapshot({unfiltered, beyond, known}),
                     {EventFilter("", Qt::red, true)});
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.getValue(0, "color").userType(), int(QMetaType::QColor));
    QVERIFY(!model.getValue(0, "color").value<QColor>().isValid());
    QVERIFY(!model.getValue(1, "color").value<QColor>().isValid());
    QCOMPARE(model.getValue(2, "color").value<QColor>(), QColor(Qt::red));

    // An added row may name a filter that a later filter change took away.
    model.onFiltered(QByteArray(), {});
    model.onFilteredEventAdded(known);
    QVERIFY(!model.getValue(0, "color").value<QColor>().isValid());
}

void tst_EventModel::followsCollectionUnderTester()
{
    const QString path = tundra::test::freshDir("tester") + "/events.json";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\n{\"time\":1,\"type\":\"Old\"}");
    }
    EventCollection collection;
    EventModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setEventCollection(&collection);
    collection.setFilters({makeFilter("", "red", true)});
    collection.setFileUrl(QUrl::fromLocalFile(path));
    QTRY_COMPARE(rowTypes(model), QStringList({"Old"}));

    QSignalSpy rowAdded(&model, &EventModel::rowAdded);
    for (int i = 0; i < 5; ++i)
        collection.addEvent(makeEvent(100 + i, QStringLiteral("E%1").arg(i)));
    QVERIFY(tundra::test::waitForCount(rowAdded, 5));
    QCOMPARE(rowTypes(model), QStringList({"Old", "E0", "E1", "E2", "E3", "E4"}));
    QCOMPARE(model.toOriginalIndex(5), 5);

    collection.setFilters({makeFilter("", "red", false), makeFilter("E?", "blue", true)});
    QTRY_COMPARE(model.rowCount(), 5);
    QCOMPARE(model.getValue(0, "color").value<QColor>(), QColor("blue"));
    QCOMPARE(model.fromOriginalIndex(1), 0);

    // A new file empties the model at once, then fills it from the new file.
    const QString other = tundra::test::freshDir("tester2") + "/events.json";
    collection.setFileUrl(QUrl::fromLocalFile(other));
    QCOMPARE(model.rowCount(), 0);
    QTRY_COMPARE(collection.status(), EventCollection::Ready);
    collection.addEvent(makeEvent(1, "E9"));
    QTRY_COMPARE(rowTypes(model), QStringList({"E9"}));
}

void tst_EventModel::replacingAndLosingCollection()
{
    EventCollection first;
    first.setFilters({makeFilter("", "red", true)});
    first.setEvents({makeEvent(1, "First")});
    auto second = new EventCollection;
    second->setFilters({makeFilter("", "red", true)});
    second->setEvents({makeEvent(1, "Second", 100), makeEvent(2, "Second")});

    EventModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy collectionChanged(&model, &EventModel::eventCollectionChanged);
    model.setEventCollection(&first);
    QTRY_COMPARE(rowTypes(model), QStringList({"First"}));
    model.setEventCollection(&first);
    QCOMPARE(collectionChanged.count(), 1);

    model.setEventCollection(second);
    QCOMPARE(model.rowCount(), 0);
    QTRY_COMPARE(rowTypes(model), QStringList({"Second", "Second"}));
    QTRY_COMPARE(model.timestampCount(), 1);

    // The old collection no longer reaches the model.
    first.addEvent(makeEvent(3, "Stray"));
    QTest::qWait(100);
    QCOMPARE(model.rowCount(), 2);

    delete second;
    QCOMPARE(model.eventCollection(), nullptr);
    QCOMPARE(model.rowCount(), 2);
    model.setEventCollection(&first);
    QTRY_COMPARE(rowTypes(model), QStringList({"First", "Stray"}));
    model.setEventCollection(nullptr);
    QCOMPARE(model.rowCount(), 0);
}

void tst_EventModel::maxNameWidth()
{
    EventModel model;
    QFont font;
    font.setPixelSize(40);
    QSignalSpy fontChanged(&model, &EventModel::nameFontChanged);
    model.setNameFont(font);
    model.setNameFont(font);
    QCOMPARE(fontChanged.count(), 2);
    const QFontMetricsF metrics(font);

    FilteredEvent shortName;
    shortName.type = QStringLiteral("ab");
    FilteredEvent longName;
    longName.type = QStringLiteral("a much longer name");
    QSignalSpy widthChanged(&model, &EventModel::maxNameWidthChanged);
    model.onFiltered(FilteredEvent::toSnapshot({shortName}), {});
    QCOMPARE(model.maxNameWidth(), metrics.horizontalAdvance("ab"));
    model.onFilteredEventAdded(longName);
    QCOMPARE(model.maxNameWidth(), metrics.horizontalAdvance("a much longer name"));
    QCOMPARE(widthChanged.count(), 2);
    model.onFilteredEventAdded(shortName);
    QCOMPARE(widthChanged.count(), 2);
    model.onFiltered(FilteredEvent::toSnapshot({shortName}), {});
    QCOMPARE(model.maxNameWidth(), metrics.horizontalAdvance("ab"));
    QVERIFY(metrics.horizontalAdvance("ab") > 0);
}

QTEST_MAIN(tst_EventModel)
#include "tst_eventmodel.moc"
