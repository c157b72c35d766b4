// Off-screen rendering: OffscreenItem grabs, the hidden window of ItemUpdater kept current after the
// frames of a visible window, and ItemToQImage reading a provider's texture.

#include "luster/luster.h"
#include "quickscene.h"
#include "testenvironment.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QtTest>

using namespace tundra::test;

namespace {
const QByteArray kScene = R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    width: 400; height: 300
    OffscreenItem {
        objectName: "inScene"; x: 0; y: 0; width: 200; height: 100
        Rectangle { objectName: "fill"; anchors.fill: parent; color: "#00ff00"
            Rectangle { width: parent.width; height: 50; color: "#ff0000" } }
    }
    property OffscreenItem hidden: OffscreenItem {
        objectName: "hidden"; width: 120; height: 80
        Rectangle { anchors.fill: parent; color: "#0000ff"
            Rectangle { width: 60; height: parent.height; color: "#ffffff" } }
    }
    property OffscreenItem empty: OffscreenItem { objectName: "empty"; width: 0; height: 0 }
    property Item scaled: scaledItem
    property Item text: fitted
    ItemUpdater {
        objectName: "updater"
        Item {
            id: scaledItem; objectName: "scaled"; scale: 2
            ItemSizeMeashurer { id: meashurer; objectName: "meashurer"; width: 10; height: 5 }
            Text { id: fitted; objectName: "fitted"; width: 60; height: 20; text: "Fitted text";
                   font.pointSize: 72; fontSizeMode: Text.Fit; minimumPointSize: 2 }
        }
    }
    TextFontSizeMeashurer { objectName: "fontMeashurer"; textItem: fitted }
    ItemToQImage { objectName: "toImage" }
    Image { objectName: "image"; x: 250; y: 0; width: 40; height: 20; source: imageUrl; smooth: false }
    property url imageUrl
    function grab(item, a, b, c) { return item.grabToImage() }
}
)";
} // namespace

class tst_OffscreenItem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void grabInSceneIsUprightAndSized();
    void grabOfHiddenItem();
    void grabWithoutTextureIsNull();
    void innerItemFollowsSize();
    void hiddenItemsUpdatedAfterVisibleFrames();
    void itemUpdaterAdoptsAndReleases();
    void itemToQImage();
    void itemToQImageChecksErrorsAfterSignal();

private:
    QImage grabOf(const char *name);
    std::unique_ptr<QuickScene> scene;
};

void tst_OffscreenItem::initTestCase()
{
    const QString png = freshDir(QStringLiteral("offscreen")) + QStringLiteral("/image.png");
    QImage image(4, 2, QImage::Format_ARGB32);
    image.fill(QColor(0, 0, 255));
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(3, 1, QColor(10, 20, 30, 40));
    QVERIFY(image.save(png));
    scene = std::make_unique<QuickScene>(kScene);
    QVERIFY2(scene->root, qPrintable(scene->errors));
    scene->root->setProperty("imageUrl", QUrl::fromLocalFile(png));
    // No window has rendered yet: the hidden window is synchronised and its items grabbed all the same.
    const QImage early = grabOf("hidden");
    QCOMPARE(early.size(), QSize(120, 80));
    QCOMPARE(early.pixelColor(10, 10), QColor(255, 255, 255));
    QCOMPARE(early.pixelColor(100, 70), QColor(0, 0, 255));
    QVERIFY(scene->show());
}

void tst_OffscreenItem::cleanupTestCase()
{
    scene.reset();
}

QImage tst_OffscreenItem::grabOf(const char *name)
{
    QObject *item = scene->root->property(name).value<QObject *>();
    if (!item)
        item = scene->find(name);
    return scene->call("grab", QVariant::fromValue(item)).value<QImage>();
}

void tst_OffscreenItem::grabInSceneIsUprightAndSized()
{
    QQuickItem *fill = scene->item("fill");
    QVERIFY(fill);
    QCOMPARE(fill->width(), 200.0);
    QCOMPARE(fill->height(), 100.0);
    const QImage image = grabOf("inScene");
    QCOMPARE(image.size(), QSize(200, 100));
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    QCOMPARE(image.pixelColor(10, 10), QColor(255, 0, 0));
    QCOMPARE(image.pixelColor(190, 40), QColor(255, 0, 0));
    QCOMPARE(image.pixelColor(10, 90), QColor(0, 255, 0));
}

void tst_OffscreenItem::grabOfHiddenItem()
{
    QQuickItem *hidden = scene->root->property("hidden").value<QQuickItem *>();
    QVERIFY(hidden);
    QVERIFY(hidden->window());
    QVERIFY(hidden->window() != &scene->view);
    QVERIFY(!hidden->window()->isVisible());
    const QImage image = grabOf("hidden");
    QCOMPARE(image.size(), QSize(120, 80));
    QCOMPARE(image.pixelColor(10, 10), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(100, 70), QColor(0, 0, 255));
}

void tst_OffscreenItem::grabWithoutTextureIsNull()
{
    QVERIFY(grabOf("empty").isNull());
}

void tst_OffscreenItem::innerItemFollowsSize()
{
    QQuickItem *item = scene->item("inScene");
    QQuickItem *fill = scene->item("fill");
    item->setWidth(150);
    QCOMPARE(fill->width(), 150.0);
    // An item of a visible window is synchronised with that window's next frame.
    QVERIFY(scene->renderFrame());
    QCOMPARE(grabOf("inScene").size(), QSize(150, 100));
    item->setWidth(200);
    // A hidden one is synchronised by the grab itself.
    QQuickItem *hidden = scene->root->property("hidden").value<QQuickItem *>();
    hidden->setHeight(40);
    QCOMPARE(grabOf("hidden").size(), QSize(120, 40));
    hidden->setHeight(80);
}

void tst_OffscreenItem::hiddenItemsUpdatedAfterVisibleFrames()
{
    QObject *meashurer = scene->find("meashurer");
    QCOMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(20, 10));
    QSignalSpy changed(meashurer, SIGNAL(windowSpaceSizeChanged()));
    // A scale change moves no size signal: only a synchronisation of the hidden window sees it.
    scene->root->property("scaled").value<QQuickItem *>()->setScale(3);
    QVERIFY(scene->renderFrame());
    QTRY_COMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(30, 15));
    QCOMPARE(changed.count(), 1);
    scene->root->property("scaled").value<QQuickItem *>()->setRotation(90);
    QVERIFY(scene->renderFrame());
    QTest::qWait(50);
    QCOMPARE(meashurer->property("windowSpaceSize").toSizeF(), QSizeF(30, 15));
    QCOMPARE(changed.count(), 1);

    // The hidden window's frame signals drive the font measurement of a fitted Text.
    QObject *font = scene->find("fontMeashurer");
    QVERIFY(scene->renderFrame());
    QTRY_VERIFY(font->property("fontPointSize").toDouble() > 0);
    QVERIFY(font->property("fontPointSize").toDouble() < 72);
    QSignalSpy fontChanged(font, SIGNAL(fontPointSizeChanged()));
    font->setProperty("textItem", QVariant::fromValue<QObject *>(nullptr));
    QCOMPARE(font->property("fontPointSize").toDouble(), 0.0);
    QCOMPARE(fontChanged.count(), 1);
}

void tst_OffscreenItem::itemUpdaterAdoptsAndReleases()
{
    QObject *updater = scene->find("updater");
    QQuickItem *scaled = scene->root->property("scaled").value<QQuickItem *>();
    QQuickWindow *hiddenWindow = scaled->window();
    QVERIFY(hiddenWindow);
    QCOMPARE(scaled->parentItem(), hiddenWindow->contentItem());
    QSignalSpy changed(updater, SIGNAL(itemChanged()));

    // An item that meanwhile got another parent keeps it.
    QQuickItem elsewhere;
    scaled->setParentItem(&elsewhere);
    updater->setProperty("item", QVariant::fromValue<QQuickItem *>(nullptr));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(scaled->parentItem(), &elsewhere);

    updater->setProperty("item", QVariant::fromValue(scaled));
    QCOMPARE(scaled->parentItem(), hiddenWindow->contentItem());
    updater->setProperty("item", QVariant::fromValue<QQuickItem *>(nullptr));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(scaled->parentItem(), nullptr);
    updater->setProperty("item", QVariant::fromValue(scaled));
}

void tst_OffscreenItem::itemToQImage()
{
    QObject *reader = scene->find("toImage");
    QQuickItem *image = scene->item("image");
    QSignalSpy changed(reader, SIGNAL(imageChanged()));

    // Nothing read yet: a null image, every pixel transparent with a message.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ItemToQImage: pixel 0 0 lies outside"));
    QColor none;
    QMetaObject::invokeMethod(reader, "getPixel", Q_RETURN_ARG(QColor, none), Q_ARG(int, 0), Q_ARG(int, 0));
    QCOMPARE(none, QColor(Qt::transparent));

    reader->setProperty("source", QVariant::fromValue(image));
    QMetaObject::invokeMethod(reader, "update");
    QCOMPARE(changed.count(), 1);
    const QImage read = reader->property("image").value<QImage>();
    QCOMPARE(read.size(), QSize(4, 2));
    // The framebuffer reader delivers the last texel row first.
    QColor pixel;
    QMetaObject::invokeMethod(reader, "getPixel", Q_RETURN_ARG(QColor, pixel), Q_ARG(int, 0), Q_ARG(int, 1));
    QCOMPARE(pixel, QColor(255, 0, 0));
    QMetaObject::invokeMethod(reader, "getPixel", Q_RETURN_ARG(QColor, pixel), Q_ARG(int, 2), Q_ARG(int, 0));
    QCOMPARE(pixel, QColor(0, 0, 255));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ItemToQImage: pixel 4 0 lies outside"));
    QMetaObject::invokeMethod(reader, "getPixel", Q_RETURN_ARG(QColor, pixel), Q_ARG(int, 4), Q_ARG(int, 0));
    QCOMPARE(pixel, QColor(Qt::transparent));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ItemToQImage: pixel -1 1 lies outside"));
    QMetaObject::invokeMethod(reader, "getPixel", Q_RETURN_ARG(QColor, pixel), Q_ARG(int, -1), Q_ARG(int, 1));
    QCOMPARE(pixel, QColor(Qt::transparent));

    // A source that is no texture provider: warning, null image, still signalled.
    reader->setProperty("source", QVariant::fromValue(scene->item("fill")));
    QTest::ignoreMessage(QtWarningMsg, "ItemToQImage: source should be textureProvider.");
    QMetaObject::invokeMethod(reader, "update");
    QCOMPARE(changed.count(), 2);
    QVERIFY(reader->property("image").value<QImage>().isNull());
}

namespace {
QStringList &criticalLines()
{
    static QStringList lines;
    return lines;
}
void recordCritical(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg)
        criticalLines().append(QLatin1String(context.category) + QLatin1Char('|') + message);
}

// Notes how many errors had been logged when the image was announced.
class SignalProbe : public QObject
{
    Q_OBJECT
public slots:
    void note() { linesAtSignal = criticalLines().size(); }

public:
    int linesAtSignal = -1;
};
} // namespace

void tst_OffscreenItem::itemToQImageChecksErrorsAfterSignal()
{
    QObject *reader = scene->find("toImage");
    auto inject = [] {
        QVERIFY(Luster::makeCurrent());
        QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
        while (f->glGetError() != GL_NO_ERROR) {
        }
        f->glEnable(0x1234);
    };
    const QString expected =
        QStringLiteral("Trellis|OpenGL error [ GL_INVALID_ENUM ]:  ItemToQImage::update");
    SignalProbe probe;
    QVERIFY(connect(reader, SIGNAL(imageChanged()), &probe, SLOT(note())));
    // Without a source nothing is read, yet the pending error is still reported, after the signal.
    reader->setProperty("source", QVariant::fromValue<QQuickItem *>(nullptr));
    inject();
    criticalLines().clear();
    QtMessageHandler previous = qInstallMessageHandler(recordCritical);
    QMetaObject::invokeMethod(reader, "update");
    qInstallMessageHandler(previous);
    QCOMPARE(probe.linesAtSignal, 0);
    QCOMPARE(criticalLines(), QStringList(expected));
    QVERIFY(reader->property("image").value<QImage>().isNull());
}

QTEST_MAIN(tst_OffscreenItem)
#include "tst_offscreenitem.moc"
