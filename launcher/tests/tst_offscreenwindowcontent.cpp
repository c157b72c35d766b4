#include "offscreenwindowcontent.h"
#include "offscreenwindowcontentfactory.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVector3D>
#include <QtTest>
#include <memory>

class tst_OffscreenWindowContent : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QQuickItem> makeItem(QQmlEngine &engine)
    {
        QQmlComponent component(&engine);
        component.setData("import QtQuick 2.0\nRectangle { width: 20; height: 10; color: \"red\" }", QUrl());
        std::unique_ptr<QQuickItem> item(qobject_cast<QQuickItem *>(component.create()));
        return item;
    }

private slots:
    void attachFlipsTheWindowAndTakesTheItem()
    {
        QQmlEngine engine;
        QQuickWindow window;
        std::unique_ptr<QQuickItem> item = makeItem(engine);
        QVERIFY(item);
        QQuickItem *content = window.contentItem();
        QQmlListReference transforms(content, "transform");
        QVERIFY(transforms.isValid());
        const int before = transforms.count();

        IOffscreenWindowContent *interface = createOffscreenWindowContent(item.get());
        QVERIFY(interface);
        QPointer<QObject> object = dynamic_cast<QObject *>(interface);
        QVERIFY(object);
        QVERIFY(!object->parent());
        QCOMPARE(object->qt_metacast("OffscreenWindowContent"), static_cast<void *>(object.data()));
        QCOMPARE(object->qt_metacast("IOffscreenWindowContent"), static_cast<void *>(interface));
        QCOMPARE(qobject_cast<IOffscreenWindowContent *>(object.data()), interface);

        interface->attachToWindow(&window);
        QCOMPARE(transforms.count(), before + 1);
        QObject *scale = transforms.at(before);
        QVERIFY(scale->inherits("QQuickScale"));
        QCOMPARE(scale->property("yScale").toReal(), -1.0);
        QCOMPARE(scale->property("xScale").toReal(), 1.0);
        QCOMPARE(scale->property("origin").value<QVector3D>(), QVector3D());
        QCOMPARE(scale->parent(), content);
        QCOMPARE(item->parentItem(), content);
        QCOMPARE(item->window(), &window);

        // The library deletes the object through its interface; the item stays.
        delete interface;
        QVERIFY(!object);
        QCOMPARE(item->parentItem(), content);
    }

    void itemWithoutAnEngineIsOnlyReparented()
    {
        QQuickWindow window;
        QQuickItem item;
        QQmlListReference transforms(window.contentItem(), "transform");
        const int before = transforms.count();
        std::unique_ptr<IOffscreenWindowContent> content(createOffscreenWindowContent(&item));
        content->attachToWindow(&window);
        QCOMPARE(transforms.count(), before);
        QCOMPARE(item.parentItem(), window.contentItem());
        item.setParentItem(nullptr);
    }

    void nullItemDoesNothing()
    {
        QQuickWindow window;
        QQmlListReference transforms(window.contentItem(), "transform");
        const int before = transforms.count();
        std::unique_ptr<IOffscreenWindowContent> content(createOffscreenWindowContent(nullptr));
        content->attachToWindow(&window);
        QCOMPARE(transforms.count(), before);
        QVERIFY(window.contentItem()->childItems().isEmpty());
    }

    void flipTransformAppendsEachTime()
    {
        QQmlEngine engine;
        QQuickItem target;
        QVERIFY(addFlipTransform(&engine, &target));
        QVERIFY(addFlipTransform(&engine, &target));
        QCOMPARE(QQmlListReference(&target, "transform").count(), 2);
        QVERIFY(!addFlipTransform(nullptr, &target));
        QVERIFY(!addFlipTransform(&engine, nullptr));
    }
};

QTEST_MAIN(tst_OffscreenWindowContent)
#include "tst_offscreenwindowcontent.moc"
