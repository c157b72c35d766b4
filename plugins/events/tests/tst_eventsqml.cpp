// The VelmorMediaRecorderPlugin module as QML loads it: a real engine, the built plugin.

#include "testenvironment.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

class tst_EventsQml : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void collectionFeedsModel();
    void typesAndEnums();

private:
    std::unique_ptr<QObject> create(const QByteArray &qml);
    std::unique_ptr<QQmlEngine> m_engine;
};

void tst_EventsQml::init()
{
    m_engine = std::make_unique<QQmlEngine>();
    m_engine->addImportPath(tundra::test::binDir() + "/plugins");
}

std::unique_ptr<QObject> tst_EventsQml::create(const QByteArray &qml)
{
    QQmlComponent component(m_engine.get());
    component.setData(qml, QUrl::fromLocalFile(tundra::test::dataDir() + "/test.qml"));
    std::unique_ptr<QObject> object(component.create());
    if (!object)
        qWarning().noquote() << component.errorString();
    return object;
}

void tst_EventsQml::collectionFeedsModel()
{
    const QString path = tundra::test::freshDir("qml") + "/events/today.json";
    const QByteArray qml =
        "import QtQml 2.2\n"
        "import VelmorMediaRecorderPlugin 1.0\n"
        "QtObject {\n"
        "  property EventCollection collection: EventCollection {\n"
        "    fileUrl: '" +
        QUrl::fromLocalFile(path).toEncoded() +
        "'\n"
        "    filters: [ {type: '', color: 'gray', visible: true},\n"
        "               {type: 'G*', color: '#00ff00', visible: true},\n"
        "               {type: 'Hidden', color: 'red', visible: false} ]\n"
        "  }\n"
        "  property EventModel model: EventModel { eventCollection: collection }\n"
        "  property int rows: 0\n"
        "  property var connections: Connections {\n"
        "    target: model\n"
        "    function onRowAdded() { rows = model.rowCount() }\n"
        "  }\n"
        "  function add(time, type, boardTime) {\n"
        "    collection.addEvent({time: time, type: type, boardTime: boardTime, comment: 'c'})\n"
        "  }\n"
        "  function preview(time) { collection.previewTime = time;\n"
        "    return collection.previewedEvents.map(function(e) { return e.type + '@' + e.time }) }\n"
        "}\n";
    std::unique_ptr<QObject> root = create(qml);
    QVERIFY(root);
    QObject *collection = root->property("collection").value<QObject *>();
    auto model = qobject_cast<QAbstractItemModel *>(root->property("model").value<QObject *>());
    QVERIFY(collection);
    QVERIFY(model);
    QTRY_COMPARE(collection->property("status").toInt(), 0);

    QVERIFY(QMetaObject::invokeMethod(root.get(), "add", Q_ARG(QVariant, 1000), Q_ARG(QVariant, "Goal"),
                                      Q_ARG(QVariant, 36000000)));
    QVERIFY(QMetaObject::invokeMethod(root.get(), "add", Q_ARG(QVariant, 1500), Q_ARG(QVariant, "Hidden"),
                                      Q_ARG(QVariant, -1)));
    QVERIFY(QMetaObject::invokeMethod(root.get(), "add", Q_ARG(QVariant, 2000), Q_ARG(QVariant, "Foul"),
                                      Q_ARG(QVariant, 36001000)));
    QTRY_COMPARE(model->rowCount(), 2);
    QTRY_COMPARE(root->property("rows").toInt(), 2);

    QVariant value;
    QVERIFY(QMetaObject::invokeMethod(model, "getValue", Q_RETURN_ARG(QVariant, value), Q_ARG(int, 0),
                                      Q_ARG(QString, "type")));
    QCOMPARE(value.toString(), QStringLiteral("Goal"));
    QVERIFY(QMetaObject::invokeMethod(model, "getValue", Q_RETURN_ARG(QVariant, value), Q_ARG(int, 0),
                                      Q_ARG(QString, "color")));
    QCOMPARE(value.value<QColor>(), QColor("#00ff00"));
    QVERIFY(QMetaObject::invokeMethod(model, "getValue", Q_RETURN_ARG(QVariant, value), Q_ARG(int, 1),
                                      Q_ARG(QString, "color")));
    QCOMPARE(value.value<QColor>(), QColor("gray"));
    int original = -2;
    QVERIFY(QMetaObject::invokeMethod(model, "toOriginalIndex", Q_RETURN_ARG(int, original), Q_ARG(int, 1)));
    QCOMPARE(original, 2);

    QTRY_COMPARE(model->property("timestampCount").toInt(), 2);
    double boardTime = 0;
    QVERIFY(QMetaObject::invokeMethod(model, "getBoardTime", Q_RETURN_ARG(double, boardTime),
                                      Q_ARG(double, 1500)));
    QCOMPARE(boardTime, 36000500.0);

    QVariant preview;
    QVERIFY(QMetaObject::invokeMethod(root.get(), "preview", Q_RETURN_ARG(QVariant, preview),
                                      Q_ARG(QVariant, 1200)));
    QCOMPARE(preview.toStringList(), QStringList({"Goal@1000", "Foul@2000"}));

    // Everything added, hidden or not, is in the file the collection created.
    root.reset();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QCOMPARE(data.count('\n'), 3);
    QVERIFY(data.startsWith(
        "\n{\"boardTime\":36000000,\"color\":\"\",\"comment\":\"c\",\"time\":1000,\"type\":\"Goal\"}"));
    QVERIFY(data.contains("\"type\":\"Hidden\""));
}

void tst_EventsQml::typesAndEnums()
{
    std::unique_ptr<QObject> root =
        create("import QtQml 2.2\n"
               "import VelmorMediaRecorderPlugin 1.0\n"
               "QtObject {\n"
               "  property EventCollection collection: EventCollection {}\n"
               "  property var statuses: [EventCollection.Ready, EventCollection.Loading,\n"
               "                          EventCollection.Filtering]\n"
               "  property int maxPreview: collection.maxPreviewedEventCount\n"
               "  property real preview: collection.previewTime\n"
               "  property real width: model.maxNameWidth\n"
               "  property EventModel model: EventModel {}\n"
               "}\n");
    QVERIFY(root);
    QCOMPARE(root->property("statuses").toList(), QVariantList({0, 1, 2}));
    QCOMPARE(root->property("maxPreview").toInt(), 5);
    QCOMPARE(root->property("preview").toDouble(), -1.0);
    QCOMPARE(root->property("width").toDouble(), 0.0);

    QQmlComponent wrongVersion(m_engine.get());
    wrongVersion.setData("import VelmorMediaRecorderPlugin 2.0\nimport QtQml 2.2\nQtObject {}\n",
                         QUrl::fromLocalFile(tundra::test::dataDir() + "/v2.qml"));
    QVERIFY(wrongVersion.isError());
}

QTEST_MAIN(tst_EventsQml)
#include "tst_eventsqml.moc"
