#pragma once
// A program's main QML file loaded in an engine of its own, as the program loads it, with every
// warning it gives; shared by the station's end-to-end tests and its benchmark.

#include "stationtest.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <memory>

#include <testenvironment.h>

namespace stationtest {

struct Screen
{
    std::unique_ptr<QQmlApplicationEngine> engine;
    QStringList warnings;

    bool load(const QString &mainFile, const QVariantMap &initial = {})
    {
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->addImportPath(tundra::test::binDir() + QStringLiteral("/plugins"));
        QObject::connect(engine.get(), &QQmlEngine::warnings, [this](const QList<QQmlError> &list) {
            for (const QQmlError &e : list)
                warnings << e.toString();
        });
        engine->setInitialProperties(initial);
        engine->load(QUrl::fromLocalFile(buildDir() + mainFile));
        return window() != nullptr;
    }
    QQuickWindow *window() const
    {
        return !engine || engine->rootObjects().isEmpty()
                   ? nullptr
                   : qobject_cast<QQuickWindow *>(engine->rootObjects()[0]);
    }
    QVariant property(const char *name) const { return window()->property(name); }
    QVariant evaluate(const QString &expression) const
    {
        // In the window's own context, with its file's imports.
        QQmlExpression e(qmlContext(window()), window(), expression);
        return e.evaluate();
    }
    template <typename T = QObject> T *child(const QString &name) const
    {
        return window()->findChild<T *>(name);
    }
};

// Every item below item, delegates of views and repeaters included.
inline void collectItems(QQuickItem *item, QList<QQuickItem *> *items)
{
    for (QQuickItem *child : item->childItems()) {
        items->append(child);
        collectItems(child, items);
    }
}

} // namespace stationtest
