// Event records, filters, the wildcard match and the snapshots that cross threads.

#include "eventfilter.h"
#include "eventmetatypes.h"
#include "eventrecord.h"
#include "eventtimestamp.h"
#include "filteredevent.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_EventTypes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerEventMetaTypes(); }

    void recordFromMap_data();
    void recordFromMap();
    void recordFromJsonDefaults();
    void lineIsCompactWithSortedKeys();
    void parseLine_data();
    void parseLine();

    void wildcardMatch_data();
    void wildcardMatch();
    void chooseFilter_data();
    void chooseFilter();
    void filterFromMap();

    void filteredEventSnapshot();
    void filteredEventSnapshotBytes();
    void timestampAndFilterSnapshots();
    void metaTypesStreamThroughVariant();
};

void tst_EventTypes::recordFromMap_data()
{
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("boardTime");
    QTest::addColumn<QString>("type");

    QTest::newRow("empty map") << QVariantMap{} << 0.0 << -1.0 << QString();
    QTest::newRow("board time 0 kept")
        << QVariantMap{{"time", 5}, {"boardTime", 0}, {"type", "Goal"}} << 5.0 << 0.0 << "Goal";
    QTest::newRow("board time not a number")
        << QVariantMap{{"time", 7.5}, {"boardTime", "noon"}, {"type", "Foul"}} << 7.5 << -1.0 << "Foul";
    QTest::newRow("numeric texts convert")
        << QVariantMap{{"time", "1200"}, {"boardTime", "3600000"}, {"type", 12}} << 1200.0 << 3600000.0
        << "12";
}

void tst_EventTypes::recordFromMap()
{
    QFETCH(QVariantMap, map);
    QFETCH(double, time);
    QFETCH(double, boardTime);
    QFETCH(QString, type);
    const EventRecord record = EventRecord::fromMap(map);
    QCOMPARE(record.time, time);
    QCOMPARE(record.boardTime, boardTime);
    QCOMPARE(record.type, type);
    QVERIFY(record.comment.isEmpty());
    QVERIFY(record.color.isEmpty());
}

void tst_EventTypes::recordFromJsonDefaults()
{
    const EventRecord empty = EventRecord::fromJson(QJsonObject());
    QCOMPARE(empty.time, 0.0);
    QCOMPARE(empty.boardTime, -1.0);
    QVERIFY(empty.type.isEmpty());

    // Wrongly typed values fall back to the defaults instead of being coerced.
    const EventRecord odd = EventRecord::fromJson(
        QJsonObject{{"time", "12"}, {"boardTime", "x"}, {"type", 3}, {"comment", "c"}, {"color", "#ff0000"}});
    QCOMPARE(odd.time, 0.0);
    QCOMPARE(odd.boardTime, -1.0);
    QVERIFY(odd.type.isEmpty());
    QCOMPARE(odd.comment, QStringLiteral("c"));
    QCOMPARE(odd.color, QStringLiteral("#ff0000"));
}

void tst_EventTypes::lineIsCompactWithSortedKeys()
{
    EventRecord record;
    record.time = 1500;
    record.boardTime = 43200123.5;
    record.type = QStringLiteral("Goal");
    record.color = QStringLiteral("red");
    record.comment = QStringLiteral("Ударил \"в\" угол");
    const QByteArray line = record.toLine();
    QCOMPARE(line, QByteArray(R"({"boardTime":43200123.5,"color":"red","comment":"Ударил \"в\" угол",)"
                              R"("time":1500,"type":"Goal"})"));
    EventRecord back;
    QVERIFY(EventRecord::fromLine(line, &back));
    QCOMPARE(back, record);
}

void tst_EventTypes::parseLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("type");

    QTest::newRow("event") << QByteArray(R"({"time":10,"type":"Goal"})") << true << 10.0 << "Goal";
    QTest::newRow("crlf") << QByteArray("{\"time\":11,\"type\":\"Foul\"}\r\n") << true << 11.0 << "Foul";
    QTest::newRow("only type") << QByteArray(R"({"type":"Goal"})") << true << 0.0 << "Goal";
    QTest::newRow("only time") << QByteArray(R"({"time":3})") << true << 3.0 << QString();
    QTest::newRow("empty") << QByteArray() << false << 0.0 << QString();
    QTest::newRow("blank") << QByteArray(" \t\r\n") << false << 0.0 << QString();
    QTest::newRow("broken") << QByteArray(R"({"time":10,"type":)") << false << 0.0 << QString();
    QTest::newRow("empty array") << QByteArray("[]") << false << 0.0 << QString();
    QTest::newRow("array") << QByteArray("[1]") << false << 0.0 << QString();
    QTest::newRow("empty object") << QByteArray("{}") << false << 0.0 << QString();
    QTest::newRow("unrelated object")
        << QByteArray(R"({"comment":"x","color":"red"})") << false << 0.0 << QString();
    QTest::newRow("wrongly typed keys")
        << QByteArray(R"({"time":"10","type":5})") << false << 0.0 << QString();
    QTest::newRow("two objects") << QByteArray(R"({"time":1}{"time":2})") << false << 0.0 << QString();
}

void tst_EventTypes::parseLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    QFETCH(double, time);
    QFETCH(QString, type);
    EventRecord record;
    record.comment = QStringLiteral("untouched");
    QCOMPARE(EventRecord::fromLine(line, &record), accepted);
    if (accepted) {
        QCOMPARE(record.time, time);
        QCOMPARE(record.type, type);
        QVERIFY(record.comment.isEmpty());
    } else {
        QCOMPARE(record.comment, QStringLiteral("untouched"));
    }
}

void tst_EventTypes::wildcardMatch_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("match");

    QTest::newRow("G* Goal") << "G*"
                             << "Goal" << true;
    QTest::newRow("G* G") << "G*"
                          << "G" << true;
    QTest::newRow("G* goal (case)") << "G*"
                                    << "goal" << false;
    QTest::newRow("G* Foul") << "G*"
                             << "Foul" << false;
    QTest::newRow("a?c abc") << "a?c"
                             << "abc" << true;
    QTest::newRow("a?c ac") << "a?c"
                            << "ac" << false;
    QTest::newRow("a?c abbc") << "a?c"
                              << "abbc" << false;
    QTest::newRow("a?c aBc") << "a?c"
                             << "aBc" << true;
    QTest::newRow("A?C abc (case)") << "A?C"
                                    << "abc" << false;
    QTest::newRow("*b bab") << "*b"
                            << "bab" << true;
    QTest::newRow("*b ba") << "*b"
                           << "ba" << false;
    QTest::newRow("*a*b bab") << "*a*b"
                              << "bab" << true;
    QTest::newRow("b*b bab") << "b*b"
                             << "bab" << true;
    QTest::newRow("b**b bb") << "b**b"
                             << "bb" << true;
    QTest::newRow("* anything") << "*"
                                << "anything" << true;
    QTest::newRow("* empty") << "*"
                             << "" << true;
    QTest::newRow("ab* ab") << "ab*"
                            << "ab" << true;
    QTest::newRow("ab*** ab") << "ab***"
                              << "ab" << true;
    QTest::newRow("? empty") << "?"
                             << "" << false;
    QTest::newRow("empty pattern empty text") << ""
                                              << "" << true;
    QTest::newRow("empty pattern text") << ""
                                        << "Goal" << false;
    QTest::newRow("*?* a") << "*?*"
                           << "a" << true;
    QTest::newRow("*?* empty") << "*?*"
                               << "" << false;
    QTest::newRow("retry after partial match") << "*aab"
                                               << "aaab" << true;
    QTest::newRow("cyrillic") << "Г?л"
                              << "Гол" << true;
}

void tst_EventTypes::wildcardMatch()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, match);
    QCOMPARE(EventFilter::wildcardMatch(pattern, text), match);
}

void tst_EventTypes::chooseFilter_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("chosen");

    const QStringList goal{"", "Goal", "G*"};
    QTest::newRow("no filters") << QStringList() << "Goal" << -1;
    QTest::newRow("one filter decides all") << QStringList{"Foul"} << "Goal" << 0;
    QTest::newRow("later match wins") << goal << "Goal" << 2;
    QTest::newRow("no match falls to 0") << goal << "Foul" << 0;
    QTest::newRow("wildcard only") << goal << "G" << 2;
    QTest::newRow("exact is case-sensitive") << QStringList{"*", "goal"} << "Goal" << 0;
    QTest::newRow("filter 0 never tested") << QStringList{"Goal", "Foul"} << "Goal" << 0;
    QTest::newRow("empty later filter matches all") << QStringList{"x", "Goal", ""} << "Goal" << 2;
    QTest::newRow("question mark") << QStringList{"", "a?c"} << "abc" << 1;
}

void tst_EventTypes::chooseFilter()
{
    QFETCH(QStringList, patterns);
    QFETCH(QString, type);
    QFETCH(int, chosen);
    QVector<EventFilter> filters;
    for (const QString &pattern : qAsConst(patterns))
        filters.append(EventFilter(pattern, Qt::red, true));
    QCOMPARE(EventFilter::choose(filters, type), chosen);
}

void tst_EventTypes::filterFromMap()
{
    const EventFilter named = EventFilter::fromMap({{"type", "G*"}, {"color", "red"}, {"visible", true}});
    QCOMPARE(named.type, QStringLiteral("G*"));
    QVERIFY(named.hasWildcards);
    QCOMPARE(named.color, QColor(Qt::red));
    QVERIFY(named.visible);

    const EventFilter hex = EventFilter::fromMap({{"type", "Goal"}, {"color", "#80ff0000"}});
    QVERIFY(!hex.hasWildcards);
    QCOMPARE(hex.color, QColor::fromRgba(0x80ff0000));
    QVERIFY2(!hex.visible, "a filter without \"visible\" hides its events");

    const EventFilter question = EventFilter::fromMap({{"type", "a?c"}, {"color", QColor(Qt::blue)}});
    QVERIFY(question.hasWildcards);
    QCOMPARE(question.color, QColor(Qt::blue));

    QVERIFY(!EventFilter::fromMap({{"color", "not a colour"}}).color.isValid());
    QVERIFY(!EventFilter::fromMap({}).color.isValid());
}

void tst_EventTypes::filteredEventSnapshot()
{
    EventRecord record;
    record.time = 1234.5;
    record.boardTime = 86399999;
    record.type = QStringLiteral("Goal");
    record.color = QStringLiteral("green");
    record.comment = QStringLiteral("Комментарий");
    const QVector<FilteredEvent> events{FilteredEvent(record, 7, 2), FilteredEvent(EventRecord(), 8, -1)};

    const QVector<FilteredEvent> back = FilteredEvent::fromSnapshot(FilteredEvent::toSnapshot(events));
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].time, 1234.5);
    QCOMPARE(back[0].boardTime, 86399999.0);
    QCOMPARE(back[0].type, QStringLiteral("Goal"));
    QCOMPARE(back[0].comment, QStringLiteral("Комментарий"));
    QCOMPARE(back[0].index, 7);
    QCOMPARE(back[0].filterIndex, 2);
    QVERIFY2(back[0].color.isEmpty(), "the colour text does not travel");
    QCOMPARE(back[1].boardTime, -1.0);
    QCOMPARE(back[1].filterIndex, -1);

    QVERIFY(FilteredEvent::fromSnapshot(QByteArray()).isEmpty());
}

void tst_EventTypes::filteredEventSnapshotBytes()
{
    EventRecord record;
    record.time = 1;
    record.boardTime = -1;
    record.type = QStringLiteral("A");
    const QByteArray data = FilteredEvent::toSnapshot({FilteredEvent(record, 3, 1)});
    // Count, two big-endian doubles, "A" as UTF-16, a null comment, then index and filter index.
    const QByteArray expected = QByteArray::fromHex("00000001"
                                                    "3ff0000000000000"
                                                    "bff0000000000000"
                                                    "000000020041"
                                                    "ffffffff"
                                                    "00000003"
                                                    "00000001");
    QCOMPARE(data.toHex(), expected.toHex());
}

void tst_EventTypes::timestampAndFilterSnapshots()
{
    const QVector<EventTimestamp> timestamps{{0, 500}, {1000.25, 86399000}};
    QCOMPARE(EventTimestamp::fromSnapshot(EventTimestamp::toSnapshot(timestamps)), timestamps);
    QCOMPARE(EventTimestamp::toSnapshot({{1, 2}}).size(), 4 + 16);

    QByteArray data;
    {
        QDataStream out(&data, QIODevice::WriteOnly);
        out << QVector<EventFilter>{EventFilter("G*", QColor(1, 2, 3), true),
                                    EventFilter("Goal", QColor(), false)};
    }
    QVector<EventFilter> filters;
    QDataStream in(data);
    in >> filters;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(filters.size(), 2);
    QCOMPARE(filters[0].type, QStringLiteral("G*"));
    QVERIFY2(filters[0].hasWildcards, "derived again on reading");
    QCOMPARE(filters[0].color, QColor(1, 2, 3));
    QVERIFY(filters[0].visible);
    QVERIFY(!filters[1].hasWildcards);
    QVERIFY(!filters[1].color.isValid());
    QVERIFY(!filters[1].visible);
}

void tst_EventTypes::metaTypesStreamThroughVariant()
{
    for (const char *name : {"FilteredEvent", "QVector<FilteredEvent>", "QVector<EventFilter>",
                             "EventTimestamp", "QVector<EventTimestamp>"})
        QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);

    FilteredEvent event;
    event.time = 42;
    event.type = QStringLiteral("Goal");
    event.index = 5;
    QByteArray data;
    {
        QDataStream out(&data, QIODevice::WriteOnly);
        out << QVariant::fromValue(event);
    }
    QDataStream in(data);
    QVariant variant;
    in >> variant;
    QCOMPARE(variant.userType(), qMetaTypeId<FilteredEvent>());
    QCOMPARE(variant.value<FilteredEvent>().index, 5);

    // The gadget's properties are what QML reads from a previewed event.
    const QMetaObject &meta = FilteredEvent::staticMetaObject;
    QCOMPARE(meta.propertyCount(), 3);
    QCOMPARE(meta.property(0).readOnGadget(&event).toDouble(), 42.0);
    QCOMPARE(meta.property(1).readOnGadget(&event).toString(), QStringLiteral("Goal"));
    QCOMPARE(QByteArray(meta.property(2).name()), QByteArray("comment"));
}

QTEST_APPLESS_MAIN(tst_EventTypes)
#include "tst_eventtypes.moc"
