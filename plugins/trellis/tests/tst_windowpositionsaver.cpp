// WindowPositionSaver on real windows: first run, restore on a second run, fitting into the screen,
// unusable stored values and the empty name.

#include "testenvironment.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QSettings>
#include <QWindow>
#include <QtTest>

#include <memory>

using namespace tundra::test;

namespace {
const QByteArray kWindow = R"(
import QtQuick 2.15
import QtQuick.Window 2.15
import Trellis 1.0
Window {
    id: w; x: 100; y: 120; width: 300; height: 200
    property alias saver: saver
    WindowPositionSaver { id: saver; window: w; name: windowName; autoLoad: windowAutoLoad }
}
)";

// One run of a program: the engine loads the window and applies the launcher's show rule.
struct Run
{
    explicit Run(const QString &name, bool autoLoad = true)
    {
        engine.addImportPath(binDir() + QStringLiteral("/plugins"));
        engine.rootContext()->setContextProperty(QStringLiteral("windowName"), name);
        engine.rootContext()->setContextProperty(QStringLiteral("windowAutoLoad"), autoLoad);
        QQmlComponent component(&engine);
        component.setData(kWindow, QUrl(QStringLiteral("file:///window.qml")));
        window.reset(qobject_cast<QWindow *>(component.create()));
        if (!window)
            qWarning() << component.errorString();
        else if (!window->isVisible() && !window->property("nyxHide").toBool())
            window->show();
    }
    QObject *saver() const { return window->property("saver").value<QObject *>(); }

    QQmlEngine engine;
    std::unique_ptr<QWindow> window;
};

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

void store(const QString &name, const QVariantMap &values)
{
    QSettings settings;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(QStringLiteral("Windows/%1/%2").arg(name, it.key()), it.value());
}
} // namespace

class tst_WindowPositionSaver : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void firstRunShowsOnNextTurnWithQmlGeometry();
    void secondRunRestoresPositionSizeVisibility();
    void savesOnceAtClose();
    void savesWhenTheApplicationQuits();
    void hiddenWindowIsNotSaved();
    void offScreenRectangleIsFitted_data();
    void offScreenRectangleIsFitted();
    void maximizedOnStoredScreen();
    void savedOnAnotherScreenSize_data();
    void savedOnAnotherScreenSize();
    void unusableVisibilityShowsNormally_data();
    void unusableVisibilityShowsNormally();
    void emptyNameStoresNothing();
    void autoLoadOffKeepsWindowHidden();
};

void tst_WindowPositionSaver::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_windowpositionsaver"));
}

void tst_WindowPositionSaver::init()
{
    QSettings().clear();
}

void tst_WindowPositionSaver::firstRunShowsOnNextTurnWithQmlGeometry()
{
    Run run(QStringLiteral("main"));
    QVERIFY(run.window);
    QCOMPARE(run.window->property("nyxHide"), QVariant(true));
    QVERIFY(!run.window->isVisible()); // the launcher left it alone
    QTRY_VERIFY(run.window->isVisible());
    QCOMPARE(run.window->visibility(), QWindow::Windowed);
    QCOMPARE(run.window->geometry(), QRect(100, 120, 300, 200));
}

void tst_WindowPositionSaver::secondRunRestoresPositionSizeVisibility()
{
    {
        Run first(QStringLiteral("main"));
        QTRY_VERIFY(first.window->isVisible());
        first.window->setGeometry(150, 160, 320, 240);
        QTRY_COMPARE(first.window->geometry(), QRect(150, 160, 320, 240));
        first.window->close();
    }
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("Windows/main/x")).toInt(), 150);
    QCOMPARE(settings.value(QStringLiteral("Windows/main/y")).toInt(), 160);
    QCOMPARE(settings.value(QStringLiteral("Windows/main/width")).toInt(), 320);
    QCOMPARE(settings.value(QStringLiteral("Windows/main/height")).toInt(), 240);
    QCOMPARE(settings.value(QStringLiteral("Windows/main/screen")).toInt(), 0);
    QCOMPARE(settings.value(QStringLiteral("Windows/main/visibility")).toInt(), int(QWindow::Windowed));

    Run second(QStringLiteral("main"));
    QVERIFY(!second.window->isVisible());
    QTRY_VERIFY(second.window->isVisible());
    QCOMPARE(second.window->geometry(), QRect(150, 160, 320, 240));
    QCOMPARE(second.window->visibility(), QWindow::Windowed);
}

void tst_WindowPositionSaver::savesOnceAtClose()
{
    Run run(QStringLiteral("once"));
    QTRY_VERIFY(run.window->isVisible());
    run.window->setGeometry(10, 20, 200, 100);
    QTRY_COMPARE(run.window->geometry(), QRect(10, 20, 200, 100));
    QMetaObject::invokeMethod(run.saver(), "save");
    run.window->setGeometry(30, 40, 220, 110);
    QTRY_COMPARE(run.window->geometry(), QRect(30, 40, 220, 110));
    run.window->close();
    QCOMPARE(QSettings().value(QStringLiteral("Windows/once/x")).toInt(), 10);
    QCOMPARE(QSettings().value(QStringLiteral("Windows/once/width")).toInt(), 200);
}

void tst_WindowPositionSaver::savesWhenTheApplicationQuits()
{
    Run run(QStringLiteral("quitting"));
    QTRY_VERIFY(run.window->isVisible());
    run.window->setGeometry(70, 80, 230, 130);
    QTRY_COMPARE(run.window->geometry(), QRect(70, 80, 230, 130));
    QVERIFY(QSettings().value(QStringLiteral("Windows/quitting/width")).isNull());
    // The window is never closed: quitting alone saves it.
    QVERIFY(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit"));
    QCOMPARE(QSettings().value(QStringLiteral("Windows/quitting/x")).toInt(), 70);
    QCOMPARE(QSettings().value(QStringLiteral("Windows/quitting/width")).toInt(), 230);
    QVERIFY(run.window->isVisible());
}

void tst_WindowPositionSaver::hiddenWindowIsNotSaved()
{
    Run run(QStringLiteral("hidden"), false);
    QMetaObject::invokeMethod(run.saver(), "save");
    QVERIFY(QSettings().allKeys().isEmpty());
    // Not counted as saved: once shown, a save writes.
    run.window->setGeometry(50, 60, 250, 150);
    run.window->show();
    QTRY_VERIFY(run.window->isVisible());
    QMetaObject::invokeMethod(run.saver(), "save");
    QCOMPARE(QSettings().value(QStringLiteral("Windows/hidden/width")).toInt(), 250);
}

void tst_WindowPositionSaver::offScreenRectangleIsFitted_data()
{
    const QRect area = available();
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("larger than the screen") << QRect(5000, -3000, 3000, 2000) << area;
    QTest::newRow("past the bottom right") << QRect(area.right() - 100, area.bottom() - 50, 300, 200)
                                           << QRect(area.right() - 299, area.bottom() - 199, 300, 200);
    QTest::newRow("past the top left")
        << QRect(-400, -300, 300, 200) << QRect(area.left(), area.top(), 300, 200);
    QTest::newRow("huge coordinates")
        << QRect(2147483000, -2147483000, 300, 200) << QRect(area.right() - 299, area.top(), 300, 200);
}

void tst_WindowPositionSaver::offScreenRectangleIsFitted()
{
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    store(QStringLiteral("fit"), {{QStringLiteral("x"), stored.x()},
                                  {QStringLiteral("y"), stored.y()},
                                  {QStringLiteral("width"), stored.width()},
                                  {QStringLiteral("height"), stored.height()},
                                  {QStringLiteral("screen"), 7}, // no such screen: the primary one
                                  {QStringLiteral("visibility"), 2}});
    Run run(QStringLiteral("fit"));
    QTRY_VERIFY(run.window->isVisible());
    QTRY_COMPARE(run.window->geometry(), expected);
}

void tst_WindowPositionSaver::maximizedOnStoredScreen()
{
    store(QStringLiteral("max"), {{QStringLiteral("x"), 10},
                                  {QStringLiteral("y"), 10},
                                  {QStringLiteral("width"), 100},
                                  {QStringLiteral("height"), 100},
                                  {QStringLiteral("screen"), 0},
                                  {QStringLiteral("visibility"), 4}});
    Run run(QStringLiteral("max"));
    QTRY_VERIFY(run.window->isVisible());
    QCOMPARE(run.window->visibility(), QWindow::Maximized);
    QCOMPARE(run.window->screen(), QGuiApplication::screens().at(0));
    QTRY_COMPARE(run.window->geometry(), available().marginsRemoved(run.window->frameMargins()));
}

void tst_WindowPositionSaver::savedOnAnotherScreenSize_data()
{
    const QRect area = available();
    // (The platforms' screens have even sizes, so the quarter below is exact.)
    const int w = area.width(), h = area.height();
    QTest::addColumn<QRect>("storedArea");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("filled a small screen: fills this one")
        << QRect(0, 0, 640, 360) << QRect(0, 0, 640, 360) << area;
    QTest::newRow("lower right quarter of a big screen: the same quarter here")
        << QRect(-500, 40, 2 * w, 2 * h) << QRect(-500 + w, 40 + h, w, h)
        << QRect(area.x() + w / 2, area.y() + h / 2, w / 2, h / 2);
    QTest::newRow("beyond the small screen's edge: within this one")
        << QRect(0, 0, 640, 360) << QRect(600, 300, 640, 360) << area;
}

void tst_WindowPositionSaver::savedOnAnotherScreenSize()
{
    QFETCH(QRect, storedArea);
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    store(QStringLiteral("other"), {{QStringLiteral("x"), stored.x()},
                                    {QStringLiteral("y"), stored.y()},
                                    {QStringLiteral("width"), stored.width()},
                                    {QStringLiteral("height"), stored.height()},
                                    {QStringLiteral("areaX"), storedArea.x()},
                                    {QStringLiteral("areaY"), storedArea.y()},
                                    {QStringLiteral("areaWidth"), storedArea.width()},
                                    {QStringLiteral("areaHeight"), storedArea.height()},
                                    {QStringLiteral("visibility"), 2}});
    Run run(QStringLiteral("other"));
    QTRY_VERIFY(run.window->isVisible());
    QTRY_COMPARE(run.window->geometry(), expected);
    // Saving records the area it now lies in, so the next run on this screen keeps the size.
    run.window->close();
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("Windows/other/areaWidth")).toInt(),
             available().marginsRemoved(run.window->frameMargins()).width());
    QCOMPARE(settings.value(QStringLiteral("Windows/other/width")).toInt(), expected.width());
}

void tst_WindowPositionSaver::unusableVisibilityShowsNormally_data()
{
    QTest::addColumn<QVariant>("visibility");
    QTest::addColumn<bool>("warns");
    QTest::newRow("hidden") << QVariant(0) << true;
    QTest::newRow("out of range") << QVariant(42) << true;
    QTest::newRow("negative") << QVariant(-3) << true;
    QTest::newRow("not a number: the default") << QVariant(QStringLiteral("maximized")) << false;
}

void tst_WindowPositionSaver::unusableVisibilityShowsNormally()
{
    QFETCH(QVariant, visibility);
    QFETCH(bool, warns);
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("stored visibility .* is not usable"));
    store(QStringLiteral("vis"), {{QStringLiteral("x"), 200},
                                  {QStringLiteral("y"), 210},
                                  {QStringLiteral("width"), 310},
                                  {QStringLiteral("height"), 220},
                                  {QStringLiteral("visibility"), visibility}});
    Run run(QStringLiteral("vis"));
    QTRY_VERIFY(run.window->isVisible());
    QCOMPARE(run.window->visibility(), QWindow::Windowed);
    QCOMPARE(run.window->geometry(), QRect(200, 210, 310, 220));
}

void tst_WindowPositionSaver::emptyNameStoresNothing()
{
    Run run{QString()};
    QVERIFY(!run.window->property("nyxHide").isValid());
    QVERIFY(run.window->isVisible()); // shown by the launcher's rule
    QMetaObject::invokeMethod(run.saver(), "save");
    run.window->close();
    QVERIFY(QSettings().allKeys().isEmpty());
}

void tst_WindowPositionSaver::autoLoadOffKeepsWindowHidden()
{
    Run run(QStringLiteral("manual"), false);
    QCOMPARE(run.window->property("nyxHide"), QVariant(true));
    QTest::qWait(100);
    QVERIFY(!run.window->isVisible());
    QMetaObject::invokeMethod(run.saver(), "load");
    QVERIFY(run.window->isVisible());
}

QTEST_MAIN(tst_WindowPositionSaver)
#include "tst_windowpositionsaver.moc"
