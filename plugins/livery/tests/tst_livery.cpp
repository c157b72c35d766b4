// The Livery module: the controls style it selects and the palette colours QML sets through it.

#include "testenvironment.h"

#include <QGuiApplication>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QWidget>
#endif
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

using namespace tundra::test;

namespace {
const QByteArray kSetter = R"(
import QtQml 2.15
import Livery 1.0
QtObject {
    function set(group, role, color) { return SystemPalleteSetter.setColor(group, role, color) }
    readonly property int all: SystemPalleteSetter.All
    readonly property int active: SystemPalleteSetter.Active
    readonly property int highlight: SystemPalleteSetter.Highlight
    readonly property int background: SystemPalleteSetter.Background
    readonly property int base: SystemPalleteSetter.Base
    readonly property int noRole: SystemPalleteSetter.NoRole
}
)";

const QByteArray kControls = R"(
import QtQuick 2.15
import Livery 1.0
import QtQuick.Controls 2.15
ApplicationWindow {
    width: 200; height: 200
    Column {
        Button { objectName: "button"; text: "Record" }
        Label { objectName: "label"; text: "Camera 1" }
        Slider { objectName: "slider" }
    }
}
)";
} // namespace

class tst_Livery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void styleVariableOverwritten();
    void colorReachesAllGroups();
    void secondColorKeepsFirst();
    void outOfRangeRefused_data();
    void outOfRangeRefused();
    void controlsApplicationUsesStyle();

private:
    bool set(int group, int role, const QColor &color);
    QQmlEngine engine;
    std::unique_ptr<QObject> setter;
};

void tst_Livery::initTestCase()
{
    QCOMPARE(qgetenv("QT_QUICK_CONTROLS_STYLE"), QByteArray("Material"));
    engine.addImportPath(binDir() + QStringLiteral("/plugins"));
    QQmlComponent component(&engine);
    component.setData(kSetter, QUrl(QStringLiteral("file:///setter.qml")));
    setter.reset(component.create());
    QVERIFY2(setter, qPrintable(component.errorString()));
    QCOMPARE(setter->property("all").toInt(), 5);
    QCOMPARE(setter->property("highlight").toInt(), 12);
    QCOMPARE(setter->property("background").toInt(), 10);
}

bool tst_Livery::set(int group, int role, const QColor &color)
{
    QVariant result;
    QMetaObject::invokeMethod(setter.get(), "set", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, group),
                              Q_ARG(QVariant, role), Q_ARG(QVariant, color));
    return result.toBool();
}

void tst_Livery::styleVariableOverwritten()
{
    QCOMPARE(qgetenv("QT_QUICK_CONTROLS_STYLE"), QByteArray("NyxStyle"));
}

void tst_Livery::colorReachesAllGroups()
{
    QSignalSpy changed(qGuiApp, &QGuiApplication::paletteChanged);
    QVERIFY(set(5, QPalette::Highlight, Qt::red));
    const QPalette palette = QGuiApplication::palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(palette.color(group, QPalette::Highlight), QColor(Qt::red));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.last().at(0).value<QPalette>().color(QPalette::Disabled, QPalette::Highlight),
             QColor(Qt::red));
    // The same colour again still announces the palette, once.
    QVERIFY(set(5, QPalette::Highlight, Qt::red));
    QCOMPARE(changed.count(), 2);
#ifdef QT_WIDGETS_LIB
    // The programs run a QApplication: widgets made from now on, and those already there, follow.
    QVERIFY(qobject_cast<QApplication *>(QCoreApplication::instance()));
    QWidget existing;
    QVERIFY(set(5, QPalette::Highlight, Qt::blue));
    QCOMPARE(QApplication::palette(&existing).color(QPalette::Highlight), QColor(Qt::blue));
    QCOMPARE(existing.palette().color(QPalette::Highlight), QColor(Qt::blue));
    QWidget later;
    QCOMPARE(later.palette().color(QPalette::Highlight), QColor(Qt::blue));
    QCOMPARE(changed.count(), 3);
#endif
}

void tst_Livery::secondColorKeepsFirst()
{
    QVERIFY(set(5, QPalette::Highlight, Qt::red));
    QVERIFY(set(0, QPalette::Base, QColor(1, 2, 3)));
    const QPalette palette = QGuiApplication::palette();
    QCOMPARE(palette.color(QPalette::Active, QPalette::Highlight), QColor(Qt::red));
    QCOMPARE(palette.color(QPalette::Active, QPalette::Base), QColor(1, 2, 3));
    QVERIFY(palette.color(QPalette::Disabled, QPalette::Base) != QColor(1, 2, 3));
}

void tst_Livery::outOfRangeRefused_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("role");
    QTest::newRow("NColorGroups") << 3 << int(QPalette::Window);
    QTest::newRow("group past All") << 6 << int(QPalette::Window);
    QTest::newRow("negative group") << -1 << int(QPalette::Window);
    QTest::newRow("NoRole") << 0 << 17;
    QTest::newRow("NColorRoles") << 0 << 20;
    QTest::newRow("role far out") << 5 << 1000;
    QTest::newRow("negative role") << 5 << -2;
}

void tst_Livery::outOfRangeRefused()
{
    QFETCH(int, group);
    QFETCH(int, role);
    const QPalette before = QGuiApplication::palette();
    QSignalSpy changed(qGuiApp, &QGuiApplication::paletteChanged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("SystemPalleteSetter: refused colour group"));
    QVERIFY(!set(group, role, Qt::green));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(QGuiApplication::palette(), before);
}

void tst_Livery::controlsApplicationUsesStyle()
{
    QQmlEngine app;
    app.addImportPath(binDir() + QStringLiteral("/plugins"));
    QQmlComponent component(&app);
    component.setData(kControls, QUrl(QStringLiteral("file:///main.qml")));
    std::unique_ptr<QObject> window(component.create());
    QVERIFY2(window, qPrintable(component.errorString()));
    QObject *button = window->findChild<QObject *>(QStringLiteral("button"));
    QObject *label = window->findChild<QObject *>(QStringLiteral("label"));
    QVERIFY(button && label && window->findChild<QObject *>(QStringLiteral("slider")));
    QCOMPARE(button->property("nyxStyle").toString(), QStringLiteral("NyxStyle"));
    QCOMPARE(label->property("nyxStyle").toString(), QStringLiteral("NyxStyle"));
}

QTEST_MAIN(tst_Livery)
#include "tst_livery.moc"
