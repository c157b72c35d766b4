#pragma once
// A visible Qt Quick scene with the plugin import path, shown and rendered once.

#include "testenvironment.h"

#include <QColor>
#include <QImage>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>

#include <dlfcn.h>
#include <link.h>
#include <memory>

namespace tundra::test {

inline QImage quadrantImage(int size, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, size, format);
    const int h = size / 2;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            QColor c = y < h ? (x < h ? QColor(255, 0, 0) : QColor(0, 255, 0))
                             : (x < h ? QColor(0, 0, 255) : QColor(255, 255, 0));
            image.setPixelColor(x, y, c);
        }
    }
    return image;
}

// The GL driver is unloaded when the X connection closes; a leak it leaves then has no module name
// and escapes the suppressions. Pinning the loaded driver libraries keeps their names in leak reports.
inline void pinGlDriverLibraries()
{
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            const QByteArray name(info->dlpi_name);
            if (name.contains("dri") || name.contains("gallium") || name.contains("LLVM") ||
                name.contains("GLX"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

class QuickScene
{
public:
    explicit QuickScene(const QByteArray &qml, const QSize &size = QSize(400, 300))
    {
        view.engine()->addImportPath(binDir() + QStringLiteral("/plugins"));
        view.setColor(Qt::black);
        QQmlComponent component(view.engine());
        component.setData(qml, QUrl(QStringLiteral("file:///scene.qml")));
        if (!component.isReady())
            errors = component.errorString();
        root = qobject_cast<QQuickItem *>(component.create());
        if (!root) {
            errors += component.errorString();
            return;
        }
        root->setParentItem(view.contentItem());
        view.resize(size);
        view.setPosition(0, 0);
    }
    ~QuickScene() { delete root; }

    bool show()
    {
        if (!root)
            return false;
        QSignalSpy frames(&view, &QQuickWindow::frameSwapped);
        view.show();
        const bool shown = QTest::qWaitForWindowExposed(&view) && waitForCount(frames, 1);
        pinGlDriverLibraries();
        return shown;
    }
    bool renderFrame()
    {
        QSignalSpy frames(&view, &QQuickWindow::frameSwapped);
        view.update();
        return waitForCount(frames, 1);
    }
    QObject *find(const char *name) const { return root->findChild<QObject *>(QLatin1String(name)); }
    QQuickItem *item(const char *name) const { return qobject_cast<QQuickItem *>(find(name)); }
    QVariant call(const char *function, const QVariant &a = {}, const QVariant &b = {},
                  const QVariant &c = {}, const QVariant &d = {})
    {
        QVariant result;
        QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a),
                                  Q_ARG(QVariant, b), Q_ARG(QVariant, c), Q_ARG(QVariant, d));
        return result;
    }

    QQuickView view;
    QQuickItem *root = nullptr;
    QString errors;
};

} // namespace tundra::test
