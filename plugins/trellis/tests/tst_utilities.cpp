// The small utility types on a real window: measuring, cursor placement, synthetic mouse and wheel
// events, and image files.

#include "quickscene.h"
#include "testenvironment.h"

#include <QCursor>
#include <QWheelEvent>
#include <QtTest>

using namespace tundra::test;

namespace {
const QByteArray kScene = R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    width: 400; height: 300
    Item {
        objectName: "scaler"; x: 50; y: 50; scale: 2; transformOrigin: Item.TopLeft
        ItemSizeMeashurer { objectName: "meashurer"; width: 100; height: 50 }
    }
    Item { objectName: "spot"; x: 10; y: 20; width: 5; height: 5 }
    MouseArea { objectName: "source"; x: 200; y: 200; width: 50; height: 50; hoverEnabled: true
                property int presses: 0; onPressed: presses++ }
    CustomMouseArea { objectName: "custom" }
    TextFontSizeMeashurer { objectName: "font" }
    function imageSize(url, a, b, c) { return ImageUtils.getImageSize(url) }
    function loadImage(url, a, b, c) { return ImageUtils.loadImage(url) }
    function saveImage(url, image, a, b) { return ImageUtils.saveImage(url, image) }
    function difference(a, b, c, d) { return ImageUtils.getImageDifference(a, b) }
    function cursorTo(item, x, y, d) { Input.setMouseCursorPosition(item, x, y) }
    function modifiers(a, b, c, d) { return Input.queryKeyboardModifiers() }
}
)";

class EventRecorder : public QObject
{
public:
    QList<QEvent::Type> types;
    QPointF position;
    QPoint angleDelta;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Wheel: {
            auto *wheel = static_cast<QWheelEvent *>(event);
            types.append(event->type());
            position = wheel->position();
            angleDelta = wheel->angleDelta();
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::MouseButtonDblClick:
            types.append(event->type());
            position = static_cast<QMouseEvent *>(event)->localPos();
            break;
        default:
            break;
        }
        return false;
    }
};
} // namespace

class tst_Utilities : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void itemSizeInWindowSpace();
    void cursorPlacedOverItem();
    void sendEventPostsMouseAndWheelOnly();
    void sourceEventsAreSwallowed();
    void destroyedTargetReadsAsUnset();
    void watchedSourceCanStillBeDestroyed();
    void fontMeashurerWithoutWindow();
    void imageFiles();
    void imageDifference();

private:
    std::unique_ptr<QuickScene> scene;
};

void tst_Utilities::initTestCase()
{
    scene = std::make_unique<QuickScene>(kScene);
    QVERIFY2(scene->root, qPrintable(scene->errors));
    scene->view.setFramePosition(QPoint(100, 200));
    QVERIFY(scene->show());
}

void tst_Utilities::cleanupTestCase()
{
    scene.reset();
}

void tst_Utilities::itemSizeInWindowSpace()
{
    QObject *meashurer = scene->find("meashurer");
    QCOMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(200, 100));
    QSignalSpy changed(meashurer, SIGNAL(windowSpaceSizeChanged()));
    scene->item("scaler")->setRotation(90);
    QVERIFY(scene->renderFrame());
    QCOMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(200, 100));
    QCOMPARE(changed.count(), 0);
    scene->item("scaler")->setScale(3);
    QVERIFY(scene->renderFrame());
    QCOMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(300, 150));
    QCOMPARE(changed.count(), 1);
    scene->item("scaler")->setScale(2);
    scene->item("scaler")->setRotation(0);
}

void tst_Utilities::cursorPlacedOverItem()
{
    const QPoint origin = scene->view.geometry().topLeft();
    scene->call("cursorTo", QVariant::fromValue(scene->item("spot")), 0, 0);
    QTRY_COMPARE(QCursor::pos(), origin + QPoint(10, 20));
    scene->call("cursorTo", QVariant::fromValue(scene->item("spot")), 3, 4);
    QTRY_COMPARE(QCursor::pos(), origin + QPoint(13, 24));
    // No item: nothing moves.
    scene->call("cursorTo", QVariant::fromValue<QQuickItem *>(nullptr), 50, 50);
    QTest::qWait(20);
    QCOMPARE(QCursor::pos(), origin + QPoint(13, 24));
    QCOMPARE(scene->call("modifiers").toInt(), int(Qt::NoModifier));
}

void tst_Utilities::sendEventPostsMouseAndWheelOnly()
{
    QObject *custom = scene->find("custom");
    EventRecorder recorder;
    scene->view.installEventFilter(&recorder);
    auto send = [&](int type, double x, double y, int button, int wheel) {
        bool sent = false;
        QMetaObject::invokeMethod(custom, "sendEvent", Q_RETURN_ARG(bool, sent), Q_ARG(int, type),
                                  Q_ARG(double, x), Q_ARG(double, y), Q_ARG(int, button), Q_ARG(int, wheel));
        return sent;
    };
    QVERIFY(!send(QEvent::Wheel, 50, 60, 0, 120)); // no target yet
    custom->setProperty("target", QVariant::fromValue(scene->item("spot")));

    QVERIFY(send(QEvent::Wheel, 50, 60, 0, 120));
    QTRY_COMPARE(recorder.types, QList<QEvent::Type>{QEvent::Wheel});
    QCOMPARE(recorder.position, QPointF(50, 60));
    QCOMPARE(recorder.angleDelta, QPoint(0, 120));

    recorder.types.clear();
    QVERIFY(send(QEvent::MouseButtonPress, 210, 210, Qt::LeftButton, 0));
    QVERIFY(send(QEvent::MouseButtonRelease, 210, 210, Qt::LeftButton, 0));
    QTRY_COMPARE(recorder.types.size(), 2);
    QCOMPARE(recorder.types.at(0), QEvent::MouseButtonPress);
    QCOMPARE(recorder.position, QPointF(210, 210));
    QTRY_COMPARE(scene->find("source")->property("presses").toInt(), 1);

    // Anything but mouse and wheel types, and positions that are no numbers, are refused.
    recorder.types.clear();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused event type 6"));
    QVERIFY(!send(QEvent::KeyPress, 10, 10, 0, 0));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused event type 19"));
    QVERIFY(!send(QEvent::Close, 10, 10, 0, 0));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused event at"));
    QVERIFY(!send(QEvent::MouseMove, qQNaN(), 10, 0, 0));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused event at"));
    QVERIFY(!send(QEvent::Wheel, 10, qInf(), 0, 0));
    QTest::qWait(50);
    QVERIFY(recorder.types.isEmpty());
    QVERIFY(scene->view.isVisible());
    scene->view.removeEventFilter(&recorder);
}

void tst_Utilities::sourceEventsAreSwallowed()
{
    QObject *custom = scene->find("custom");
    QObject *source = scene->find("source");
    custom->setProperty("source", QVariant::fromValue(source));
    const int before = source->property("presses").toInt();
    QTest::mouseClick(&scene->view, Qt::LeftButton, Qt::NoModifier, QPoint(220, 220));
    QTest::qWait(20);
    QCOMPARE(source->property("presses").toInt(), before);
    custom->setProperty("source", QVariant::fromValue<QObject *>(nullptr));
    QTest::mouseClick(&scene->view, Qt::LeftButton, Qt::NoModifier, QPoint(220, 220));
    QTRY_COMPARE(source->property("presses").toInt(), before + 1);
}

void tst_Utilities::destroyedTargetReadsAsUnset()
{
    QObject *custom = scene->find("custom");
    auto *target = new QQuickItem(scene->root);
    custom->setProperty("target", QVariant::fromValue(target));
    delete target;
    QCOMPARE(custom->property("target").value<QObject *>(), nullptr);
    bool sent = true;
    QMetaObject::invokeMethod(custom, "sendEvent", Q_RETURN_ARG(bool, sent), Q_ARG(int, QEvent::Wheel),
                              Q_ARG(double, 1), Q_ARG(double, 1), Q_ARG(int, 0), Q_ARG(int, 120));
    QVERIFY(!sent);
}

void tst_Utilities::watchedSourceCanStillBeDestroyed()
{
    QObject *custom = scene->find("custom");
    QQmlComponent component(scene->view.engine());
    component.setData("import QtQuick 2.15\nMouseArea {}", QUrl());
    QPointer<QObject> source(component.create());
    QVERIFY(source);
    custom->setProperty("source", QVariant::fromValue(source.data()));
    // Everything the source would receive is swallowed, but it can still be destroyed later (as
    // QML's destroy() does).
    source->deleteLater();
    QTRY_VERIFY(source.isNull());
    QCOMPARE(custom->property("source").value<QObject *>(), nullptr);
}

void tst_Utilities::fontMeashurerWithoutWindow()
{
    QObject *font = scene->find("font");
    QQmlComponent component(scene->view.engine());
    component.setData("import QtQuick 2.15\nText { text: \"Hello\"; font.pointSize: 20 }", QUrl());
    std::unique_ptr<QObject> text(component.create());
    QVERIFY(text);
    font->setProperty("textItem", QVariant::fromValue(text.get()));
    QMetaObject::invokeMethod(font, "updateFontSize");
    QCOMPARE(font->property("fontPointSize").toDouble(), 0.0);
    // In the window it measures once per frame.
    qobject_cast<QQuickItem *>(text.get())->setParentItem(scene->root);
    QVERIFY(scene->renderFrame());
    QTRY_COMPARE(font->property("fontPointSize").toDouble(), 20.0);
    font->setProperty("textItem", QVariant::fromValue<QObject *>(nullptr));
    QCOMPARE(font->property("fontPointSize").toDouble(), 0.0);
}

void tst_Utilities::imageFiles()
{
    const QString dir = freshDir(QStringLiteral("images"));
    const QUrl png = QUrl::fromLocalFile(dir + QStringLiteral("/a.png"));
    QImage image(7, 3, QImage::Format_ARGB32);
    image.fill(QColor(10, 20, 30, 255));
    QCOMPARE(scene->call("saveImage", png, image).toBool(), true);
    QCOMPARE(scene->call("saveImage", QUrl(), image).toBool(), false);
    QCOMPARE(scene->call("saveImage", png, QImage()).toBool(), false);
    QCOMPARE(scene->call("imageSize", png).toSize(), QSize(7, 3));
    QCOMPARE(scene->call("imageSize", QUrl()).toSize(), QSize(0, 0));
    QCOMPARE(scene->call("imageSize", QUrl::fromLocalFile(dir + QStringLiteral("/missing.png"))).toSize(),
             QSize(-1, -1));
    const QImage loaded = scene->call("loadImage", png).value<QImage>();
    QCOMPARE(loaded.format(), QImage::Format_RGBA8888);
    QCOMPARE(loaded.pixelColor(6, 2), QColor(10, 20, 30));
    QVERIFY(scene->call("loadImage", QUrl()).value<QImage>().isNull());
    QVERIFY(scene->call("loadImage", QUrl::fromLocalFile(dir + QStringLiteral("/missing.png")))
                .value<QImage>()
                .isNull());
}

void tst_Utilities::imageDifference()
{
    QImage black(2, 1, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage oneWhite = black;
    oneWhite.setPixelColor(1, 0, Qt::white);
    QCOMPARE(scene->call("difference", black, black).toDouble(), 0.0);
    QCOMPARE(scene->call("difference", black, oneWhite).toDouble(), 97537.5);
    QCOMPARE(scene->call("difference", QImage(2, 2, QImage::Format_RGB32), QImage(2, 3, QImage::Format_RGB32))
                 .toDouble(),
             1000000.0);
    QCOMPARE(scene->call("difference", QImage(), QImage()).toDouble(), 0.0);
    // A large image of maximal differences: the sum must not overflow or round.
    QImage big1(3000, 3000, QImage::Format_RGB32);
    big1.fill(Qt::black);
    QImage big2(3000, 3000, QImage::Format_RGB32);
    big2.fill(Qt::white);
    QCOMPARE(scene->call("difference", big1, big2).toDouble(), 3.0 * 255 * 255);
}

QTEST_MAIN(tst_Utilities)
#include "tst_utilities.moc"
