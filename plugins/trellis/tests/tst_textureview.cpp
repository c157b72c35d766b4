// TextureView and the providers: what a view draws is checked by sampling a grab of the window.

#include "quickscene.h"
#include "testenvironment.h"

#include <QSGTextureProvider>
#include <QtTest>

using namespace tundra::test;

namespace {
const QByteArray kScene = R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    width: 400; height: 300
    property QImageTexture quad: QImageTexture { objectName: "quad" }
    TextureView { objectName: "whole"; x: 0; y: 0; source: quad }
    TextureView { id: part; objectName: "part"; x: 100; y: 0; width: 64; height: 64; source: quad; sourceRect: Qt.rect(16, 0, 16, 16) }
    TextureView { objectName: "halfSelect"; x: 200; y: 0; width: 64; height: 64; source: quad; sourceRect: Qt.rect(0, 0, -9999999, 50) }
    TextureView { objectName: "empty"; x: 300; y: 0; width: 64; height: 64; source: quad; sourceRect: Qt.rect(0, 0, 0, 10) }
    TextureView { objectName: "chained"; x: 0; y: 100; width: 64; height: 64; source: part }
    TextureView { objectName: "fromLayer"; x: 100; y: 100; width: 64; height: 64; source: layered; sourceRect: Qt.rect(0, 32, 32, 32) }
    TextureProviderItem { objectName: "forwarder"; textureProvider: layered }
    TextureView { objectName: "viaForwarder"; x: 200; y: 100; width: 64; height: 64; source: forwarderRef }
    property Item forwarderRef
    Rectangle {
        id: layered; x: 300; y: 100; width: 64; height: 64; layer.enabled: true
        Rectangle { x: 0; y: 0; width: 32; height: 32; color: "#ff0000" }
        Rectangle { x: 32; y: 0; width: 32; height: 32; color: "#00ff00" }
        Rectangle { x: 0; y: 32; width: 32; height: 32; color: "#0000ff" }
        Rectangle { x: 32; y: 32; width: 32; height: 32; color: "#ffff00" }
    }
}
)";

QColor at(const QImage &grab, int x, int y)
{
    return grab.pixelColor(x, y);
}
} // namespace

class tst_TextureView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void wholeTextureAndImplicitSize();
    void subRectangleStretched();
    void eitherSideAtWholeSelectsWholeTexture();
    void zeroSizedRectangleDrawsNothing();
    void viewAsProviderPassesWholeTexture();
    void layerSourceAndForwardingItem();
    void sourceRectChangeRedraws();
    void imageTextureSignalsEverySet();
    void uncreatableProviderCanBePassed();
    void layerItemSourceResolvedOnceInWindow();
    void providerCyclesShowNothing();
    void nodeDiesWithItsView_data();
    void nodeDiesWithItsView();

private:
    QImage grab();
    bool softwareBackend() const
    {
        return scene->view.rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    }
    std::unique_ptr<QuickScene> scene;
};

void tst_TextureView::initTestCase()
{
    scene = std::make_unique<QuickScene>(kScene);
    QVERIFY2(scene->root, qPrintable(scene->errors));
    scene->root->setProperty("forwarderRef", QVariant::fromValue(scene->find("forwarder")));
    scene->find("quad")->setProperty("source", quadrantImage(32));
    QVERIFY(scene->show());
}

void tst_TextureView::cleanupTestCase()
{
    scene.reset();
}

QImage tst_TextureView::grab()
{
    scene->renderFrame();
    return scene->view.grabWindow();
}

void tst_TextureView::wholeTextureAndImplicitSize()
{
    QQuickItem *whole = scene->item("whole");
    QCOMPARE(whole->implicitWidth(), 32.0);
    QCOMPARE(whole->implicitHeight(), 32.0);
    QCOMPARE(whole->width(), 32.0);
    const QImage g = grab();
    QCOMPARE(at(g, 8, 8), QColor(255, 0, 0));
    QCOMPARE(at(g, 24, 8), QColor(0, 255, 0));
    QCOMPARE(at(g, 8, 24), QColor(0, 0, 255));
    QCOMPARE(at(g, 24, 24), QColor(255, 255, 0));
    QCOMPARE(at(g, 40, 8), QColor(0, 0, 0)); // outside the view: background
}

void tst_TextureView::subRectangleStretched()
{
    QQuickItem *part = scene->item("part");
    QCOMPARE(part->implicitWidth(), 16.0);
    QCOMPARE(part->implicitHeight(), 16.0);
    const QImage g = grab();
    for (int y : {2, 32, 61})
        for (int x : {102, 132, 161})
            QCOMPARE(at(g, x, y), QColor(0, 255, 0));
}

void tst_TextureView::eitherSideAtWholeSelectsWholeTexture()
{
    QQuickItem *view = scene->item("halfSelect");
    QCOMPARE(view->implicitWidth(), 32.0);
    const QImage g = grab();
    QCOMPARE(at(g, 210, 10), QColor(255, 0, 0));
    QCOMPARE(at(g, 250, 10), QColor(0, 255, 0));
    QCOMPARE(at(g, 210, 50), QColor(0, 0, 255));
    QCOMPARE(at(g, 250, 50), QColor(255, 255, 0));
}

void tst_TextureView::zeroSizedRectangleDrawsNothing()
{
    const QImage g = grab();
    QCOMPARE(at(g, 310, 10), QColor(0, 0, 0));
    QCOMPARE(at(g, 350, 50), QColor(0, 0, 0));
}

void tst_TextureView::viewAsProviderPassesWholeTexture()
{
    QQuickItem *part = scene->item("part");
    QVERIFY(part->isTextureProvider());
    QVERIFY(part->textureProvider());
    QCOMPARE(part->textureProvider()->texture()->textureSize(), QSize(32, 32));
    const QImage g = grab();
    QCOMPARE(at(g, 10, 110), QColor(255, 0, 0));
    QCOMPARE(at(g, 50, 110), QColor(0, 255, 0));
    QCOMPARE(at(g, 10, 150), QColor(0, 0, 255));
    QCOMPARE(at(g, 50, 150), QColor(255, 255, 0));
}

void tst_TextureView::layerSourceAndForwardingItem()
{
    if (softwareBackend())
        QSKIP("The software backend shows a layer's texture only in the layer's own item");
    const QImage g = grab();
    // Texels (0, 32)..(32, 64) of the layer: its lower-left (blue) quadrant.
    QCOMPARE(at(g, 110, 110), QColor(0, 0, 255));
    QCOMPARE(at(g, 150, 150), QColor(0, 0, 255));
    // Through a TextureProviderItem the whole layer is shown, upright.
    QCOMPARE(at(g, 210, 110), QColor(255, 0, 0));
    QCOMPARE(at(g, 250, 110), QColor(0, 255, 0));
    QCOMPARE(at(g, 210, 150), QColor(0, 0, 255));
    QCOMPARE(at(g, 250, 150), QColor(255, 255, 0));
}

void tst_TextureView::sourceRectChangeRedraws()
{
    QQuickItem *part = scene->item("part");
    QSignalSpy changed(part, SIGNAL(sourceRectChanged()));
    part->setProperty("sourceRect", QRectF(0, 16, 16, 16));
    part->setProperty("sourceRect", QRectF(0, 16, 16, 16));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(at(grab(), 132, 32), QColor(0, 0, 255));
    part->setProperty("sourceRect", QRectF(16, 0, 16, 16));
    QCOMPARE(at(grab(), 132, 32), QColor(0, 255, 0));
}

void tst_TextureView::imageTextureSignalsEverySet()
{
    QObject *quad = scene->find("quad");
    QSignalSpy source(quad, SIGNAL(sourceChanged()));
    QSignalSpy texture(quad, SIGNAL(textureChanged()));
    const QImage image = quadrantImage(32);
    quad->setProperty("source", image);
    quad->setProperty("source", image);
    QCOMPARE(source.count(), 2);
    QCOMPARE(texture.count(), 2);
    // A new image size reaches the views that follow the provider.
    quad->setProperty("source", quadrantImage(40));
    QCOMPARE(scene->item("whole")->implicitWidth(), 40.0);
    const QImage g = grab();
    QCOMPARE(at(g, 30, 30), QColor(255, 255, 0));
    quad->setProperty("source", image);
    QCOMPARE(scene->item("whole")->implicitWidth(), 32.0);
}

void tst_TextureView::uncreatableProviderCanBePassed()
{
    QQmlComponent bad(scene->view.engine());
    bad.setData("import Trellis 1.0\nQSGTextureProvider {}", QUrl());
    QVERIFY(bad.isError());
    QQmlComponent good(scene->view.engine());
    good.setData(
        "import QtQuick 2.15\nimport Trellis 1.0\nItem { property QSGTextureProvider p: QImageTexture {} "
        "property QSGTextureProvider q: p }",
        QUrl());
    std::unique_ptr<QObject> object(good.create());
    QVERIFY2(object, qPrintable(good.errorString()));
    QVERIFY(object->property("q").value<QObject *>());
    QCOMPARE(object->property("q").value<QObject *>(), object->property("p").value<QObject *>());
}

void tst_TextureView::layerItemSourceResolvedOnceInWindow()
{
    QQmlComponent component(scene->view.engine());
    component.setData(R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    property Item view: TextureView { x: 0; y: 200; width: 40; height: 40; source: outside }
    property Item outside: Rectangle { width: 20; height: 20; color: "#ff00ff"; layer.enabled: true }
}
)",
                      QUrl());
    std::unique_ptr<QObject> holder(component.create());
    QVERIFY2(holder, qPrintable(component.errorString()));
    auto *view = holder->property("view").value<QQuickItem *>();
    auto *outside = holder->property("outside").value<QQuickItem *>();
    QVERIFY(view && outside);
    outside->setParentItem(scene->root);
    outside->setPosition(QPointF(350, 250));
    view->setParentItem(scene->root);
    const QImage g = grab();
    if (!softwareBackend())
        QCOMPARE(at(g, 20, 220), QColor(255, 0, 255));
    view->setParentItem(nullptr);
    outside->setParentItem(nullptr);
}

void tst_TextureView::providerCyclesShowNothing()
{
    QQmlComponent component(scene->view.engine());
    component.setData(R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    x: 0; y: 240; width: 100; height: 40
    TextureView { objectName: "a"; width: 20; height: 20; source: b }
    TextureView { id: b; objectName: "b"; x: 30; width: 20; height: 20 }
    TextureProviderItem { id: c; objectName: "c"; textureProvider: d }
    TextureProviderItem { id: d; objectName: "d"; textureProvider: c }
    TextureView { objectName: "viaItems"; x: 60; width: 20; height: 20; source: c }
}
)",
                      QUrl());
    std::unique_ptr<QQuickItem> holder(qobject_cast<QQuickItem *>(component.create()));
    QVERIFY2(holder, qPrintable(component.errorString()));
    holder->setParentItem(scene->root);
    auto *a = holder->findChild<QQuickItem *>(QStringLiteral("a"));
    auto *b = holder->findChild<QQuickItem *>(QStringLiteral("b"));
    auto *c = holder->findChild<QQuickItem *>(QStringLiteral("c"));
    QVERIFY(a && b && c);
    // Views showing each other, and items forwarding to each other, resolve to no texture.
    b->setProperty("source", QVariant::fromValue(a));
    QVERIFY(!a->textureProvider()->texture());
    QVERIFY(!b->textureProvider()->texture());
    QVERIFY(!c->textureProvider());
    QCOMPARE(a->implicitWidth(), 0.0);
    const QImage g = grab();
    QCOMPARE(at(g, 10, 250), QColor(0, 0, 0));
    QCOMPARE(at(g, 40, 250), QColor(0, 0, 0));
    QCOMPARE(at(g, 70, 250), QColor(0, 0, 0));
    holder->setParentItem(nullptr);
}

void tst_TextureView::nodeDiesWithItsView_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("drawn in the window") << true;
    QTest::newRow("asked for its provider only") << false;
}

void tst_TextureView::nodeDiesWithItsView()
{
    QFETCH(bool, shown);
    QQmlComponent component(scene->view.engine());
    component.setData("import QtQuick 2.15\nimport Trellis 1.0\n"
                      "TextureView { y: 200; width: 30; height: 30; source: texture\n"
                      "  property QImageTexture texture: QImageTexture {} }",
                      QUrl());
    auto *view = qobject_cast<QQuickItem *>(component.create());
    QVERIFY2(view, qPrintable(component.errorString()));
    view->property("texture").value<QObject *>()->setProperty("source", quadrantImage(8));
    if (shown) {
        view->setParentItem(scene->root);
        QVERIFY(scene->renderFrame());
    }
    // The node is the view's provider; it belongs to the scene graph once drawn, else to the view.
    const QPointer<QSGTextureProvider> node = view->textureProvider();
    QVERIFY(node);
    if (shown)
        QCOMPARE(at(grab(), 2, 202), QColor(255, 0, 0));
    delete view;
    if (shown)
        QVERIFY(scene->renderFrame());
    QTRY_VERIFY(node.isNull());
}

QTEST_MAIN(tst_TextureView)
#include "tst_textureview.moc"
