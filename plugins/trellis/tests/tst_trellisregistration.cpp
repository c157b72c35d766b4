// The Trellis module as QML sees it: every type under its name, creatable or singleton as registered.

#include "testenvironment.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

using namespace tundra::test;

class tst_TrellisRegistration : public QObject
{
    Q_OBJECT
private slots:
    void creatableTypes_data();
    void creatableTypes();
    void singletons_data();
    void singletons();
    void textureProviderIsUncreatable();
    void singletonPerEngine();
    void stateChangesListAppliesAll();
    void realtimeTimer();

private:
    std::unique_ptr<QObject> create(QQmlEngine &engine, const QByteArray &qml, QString *error = nullptr);
};

std::unique_ptr<QObject> tst_TrellisRegistration::create(QQmlEngine &engine, const QByteArray &qml,
                                                         QString *error)
{
    engine.addImportPath(binDir() + QStringLiteral("/plugins"));
    QQmlComponent component(&engine);
    component.setData(qml, QUrl(QStringLiteral("file:///test.qml")));
    std::unique_ptr<QObject> object(component.isReady() ? component.create() : nullptr);
    if (error)
        *error = component.errorString();
    return object;
}

void tst_TrellisRegistration::creatableTypes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("className");
    QTest::newRow("TextureView") << "TextureView"
                                 << "TextureView";
    QTest::newRow("QImageTexture") << "QImageTexture"
                                   << "QImageTexture";
    QTest::newRow("ItemToQImage") << "ItemToQImage"
                                  << "ItemToQImage";
    QTest::newRow("ItemSizeMeashurer") << "ItemSizeMeashurer"
                                       << "ItemSizeMeashurer";
    QTest::newRow("CustomMouseArea") << "CustomMouseArea"
                                     << "CustomMouseArea";
    QTest::newRow("StateChangesList") << "StateChangesList"
                                      << "StateChangesList";
    QTest::newRow("OffscreenItem") << "OffscreenItem"
                                   << "OffscreenItem";
    QTest::newRow("ItemUpdater") << "ItemUpdater"
                                 << "ItemUpdater";
    QTest::newRow("TextFontSizeMeashurer") << "TextFontSizeMeashurer"
                                           << "TextFontSizeMeashurer";
    QTest::newRow("RealtimeTimer") << "RealtimeTimer"
                                   << "RealtimeTimer";
    QTest::newRow("WindowPositionSaver") << "WindowPositionSaver"
                                         << "WindowPositionSaver";
    QTest::newRow("TextureProviderItem") << "TextureProviderItem"
                                         << "TextureProviderItem";
}

void tst_TrellisRegistration::creatableTypes()
{
    QFETCH(QString, type);
    QFETCH(QString, className);
    QQmlEngine engine;
    QString error;
    auto object = create(engine, "import Trellis 1.0\n" + type.toLatin1() + " {}", &error);
    QVERIFY2(object, qPrintable(error));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()).section(QLatin1Char('_'), 0, 0),
             className);
    // Nothing else under a misspelt name.
    if (type.contains(QLatin1String("Meashurer"))) {
        QString misspelt = type;
        misspelt.replace(QLatin1String("Meashurer"), QLatin1String("Measurer"));
        QVERIFY(!create(engine, "import Trellis 1.0\n" + misspelt.toLatin1() + " {}"));
    }
}

void tst_TrellisRegistration::singletons_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("Input") << "Input";
    QTest::newRow("ImageUtils") << "ImageUtils";
    QTest::newRow("ColorPicker") << "ColorPicker";
}

void tst_TrellisRegistration::singletons()
{
    QFETCH(QString, type);
    QQmlEngine engine;
    QString error;
    auto object =
        create(engine,
               "import QtQml 2.15\nimport Trellis 1.0\nQtObject { property QtObject a: " + type.toLatin1() +
                   "; property QtObject b: " + type.toLatin1() + " }",
               &error);
    QVERIFY2(object, qPrintable(error));
    QObject *a = object->property("a").value<QObject *>();
    QVERIFY(a);
    QCOMPARE(a, object->property("b").value<QObject *>());
    QCOMPARE(QLatin1String(a->metaObject()->className()), type);
    QVERIFY(!create(engine, "import Trellis 1.0\n" + type.toLatin1() + " {}"));
}

void tst_TrellisRegistration::textureProviderIsUncreatable()
{
    QQmlEngine engine;
    QString error;
    QVERIFY(!create(engine, "import Trellis 1.0\nQSGTextureProvider {}", &error));
    // The engine substitutes its own text only for an empty reason.
    QVERIFY2(error.endsWith(QLatin1String(" Element is not creatable.\n")), qPrintable(error));
    auto holder = create(engine,
                         "import QtQml 2.15\nimport Trellis 1.0\nQtObject { property QSGTextureProvider p: "
                         "QImageTexture {} }",
                         &error);
    QVERIFY2(holder, qPrintable(error));
    QVERIFY(holder->property("p").value<QObject *>());
}

void tst_TrellisRegistration::singletonPerEngine()
{
    QQmlEngine first;
    QQmlEngine second;
    const QByteArray qml =
        "import QtQml 2.15\nimport Trellis 1.0\nQtObject { property QtObject p: ColorPicker }";
    auto a = create(first, qml);
    auto b = create(second, qml);
    QVERIFY(a && b);
    QVERIFY(a->property("p").value<QObject *>());
    QVERIFY(a->property("p").value<QObject *>() != b->property("p").value<QObject *>());
}

void tst_TrellisRegistration::stateChangesListAppliesAll()
{
    QQmlEngine engine;
    QString error;
    auto item = create(engine, R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    id: root
    property int a: 1
    property string b: "off"
    states: State {
        name: "on"
        StateChangesList {
            objectName: "list"
            PropertyChanges { target: root; a: 2 }
            PropertyChanges { target: root; b: "on" }
        }
    }
}
)",
                       &error);
    QVERIFY2(item, qPrintable(error));
    item->setProperty("state", QStringLiteral("on"));
    QCOMPARE(item->property("a").toInt(), 2);
    QCOMPARE(item->property("b").toString(), QStringLiteral("on"));
    item->setProperty("state", QString());
    QCOMPARE(item->property("a").toInt(), 1);
    QCOMPARE(item->property("b").toString(), QStringLiteral("off"));
}

void tst_TrellisRegistration::realtimeTimer()
{
    QQmlEngine engine;
    auto timer = create(engine, "import Trellis 1.0\nRealtimeTimer {}");
    QVERIFY(timer);
    QSignalSpy triggered(timer.get(), SIGNAL(triggered()));
    QSignalSpy changed(timer.get(), SIGNAL(intervalChanged()));
    QTest::qWait(50);
    QCOMPARE(triggered.count(), 0); // not running before the first interval
    timer->setProperty("interval", 20);
    QCOMPARE(changed.count(), 1);
    QVERIFY(waitForCount(triggered, 3));
    timer->setProperty("interval", 20);
    QCOMPARE(changed.count(), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused negative interval"));
    timer->setProperty("interval", -5);
    QCOMPARE(timer->property("interval").toInt(), 20);
    const int before = triggered.count();
    QVERIFY(waitForCount(triggered, before + 2));
}

QTEST_MAIN(tst_TrellisRegistration)
#include "tst_trellisregistration.moc"
