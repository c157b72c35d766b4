#pragma once
// A program's main QML file loaded in an engine of its own, as the program loads it, with every
// warning it gives; shared by the station's end-to-end tests and its benchmark.

#include "stationtest.h"

#include "multimedia/engines/timestrip.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <memory>
#include <optional>

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

// The time strip drawn by the capture board's test picture, read from what a video view shows in a
// picture of the window: the frame's part of the view, scaled back to the frame's size, as luma.
inline std::optional<quint64> shownStripTime(const QImage &window, QQuickItem *view)
{
    const QSize frame = view->property("frameSize").toSize();
    if (frame.isEmpty())
        return std::nullopt;
    const QRectF item = view->mapRectToScene(QRectF(0, 0, view->width(), view->height()));
    const QSizeF fitted = QSizeF(frame).scaled(item.size(), Qt::KeepAspectRatio);
    const QRectF shown(item.x() + (item.width() - fitted.width()) / 2,
                       item.y() + (item.height() - fitted.height()) / 2, fitted.width(), fitted.height());
    const qreal dpr = window.devicePixelRatio();
    const QImage part = window.copy(QRectF(shown.topLeft() * dpr, shown.size() * dpr).toRect())
                            .scaled(frame, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_Grayscale8);
    // Full-range grey back to the video range the strip is drawn in.
    QByteArray luma(frame.width() * frame.height(), 0);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            luma[y * frame.width() + x] = char(16 + part.constScanLine(y)[x] * 219 / 255);
    return nyx::multimedia::TimeStrip::read(reinterpret_cast<const uchar *>(luma.constData()), frame.width(),
                                            frame.width(), frame.height());
}

} // namespace stationtest
