#include "itemupdatermanager.h"

#include "luster/luster.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <private/qquickwindow_p.h>
#include <private/qsgrenderloop_p.h>

namespace {
ItemUpdaterManager *g_instance = nullptr;

void deleteInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

// Deletes a manager that outlived the application object when the plugin library is unloaded.
struct InstanceGuard
{
    ~InstanceGuard()
    {
        if (g_instance && !QCoreApplication::instance())
            deleteInstance();
    }
} g_guard;
} // namespace

ItemUpdaterManager *ItemUpdaterManager::instance()
{
    if (!g_instance) {
        g_instance = new ItemUpdaterManager;
        qAddPostRoutine(deleteInstance);
    }
    return g_instance;
}

ItemUpdaterManager::ItemUpdaterManager() : m_hiddenWindow(new QQuickWindow)
{
    QSGRenderLoop *loop = QSGRenderLoop::instance();
    connect(loop, &QSGRenderLoop::timeToIncubate, this, &ItemUpdaterManager::updateScene);
    // Known to the render loop (it never renders a window that is not exposed), the hidden window keeps
    // the shared scene-graph context alive until its own nodes are released when it is deleted.
    loop->show(m_hiddenWindow);
    // The basic render loop never announces spare time, so the hidden scene is also brought up to date
    // after every frame of a visible Qt Quick window.
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    const auto windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
            followWindow(quickWindow);
    }
}

ItemUpdaterManager::~ItemUpdaterManager()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    delete m_hiddenWindow;
}

void ItemUpdaterManager::followWindow(QQuickWindow *window)
{
    if (!window || window == m_hiddenWindow || m_followed.contains(window))
        return;
    m_followed.insert(window);
    connect(window, &QObject::destroyed, this, [this, window] { m_followed.remove(window); });
    connect(window, &QQuickWindow::frameSwapped, this, [this] {
        // Queued: the frame's render pass is over before the hidden scene is synchronised.
        if (m_updateQueued)
            return;
        m_updateQueued = true;
        QMetaObject::invokeMethod(this, &ItemUpdaterManager::updateScene, Qt::QueuedConnection);
    });
}

bool ItemUpdaterManager::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Show || event->type() == QEvent::Expose) && watched->isWindowType()) {
        if (auto *window = qobject_cast<QQuickWindow *>(watched))
            followWindow(window);
    }
    return QObject::eventFilter(watched, event);
}

void ItemUpdaterManager::addItem(QQuickItem *item)
{
    if (item)
        item->setParentItem(m_hiddenWindow->contentItem());
}

void ItemUpdaterManager::removeItem(QQuickItem *item)
{
    if (item && item->parentItem() == m_hiddenWindow->contentItem())
        item->setParentItem(nullptr);
}

void ItemUpdaterManager::updateScene()
{
    m_updateQueued = false;
    QQuickWindowPrivate *d = QQuickWindowPrivate::get(m_hiddenWindow);
    d->polishItems();
    // Synchronising needs the scene graph's context, which exists once a visible window has rendered.
    if (Luster::makeCurrent())
        d->syncSceneGraph();
    emit m_hiddenWindow->afterAnimating();
    emit m_hiddenWindow->beforeRendering();
}
