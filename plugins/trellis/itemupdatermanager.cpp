#include "itemupdatermanager.h"

#include "luster/luster.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QQuickItem>
#include <QQuickRenderControl>
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
        // Luster's context must outlive the hidden scene graph: its post routine runs after ours.
        Luster::init();
        g_instance = new ItemUpdaterManager;
        qAddPostRoutine(deleteInstance);
    }
    return g_instance;
}

ItemUpdaterManager::ItemUpdaterManager()
    : m_renderControl(new QQuickRenderControl), m_hiddenWindow(new QQuickWindow(m_renderControl))
{
    connect(QSGRenderLoop::instance(), &QSGRenderLoop::timeToIncubate, this,
            &ItemUpdaterManager::updateScene);
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
    // The scene graph's resources are released in its context, before the window goes.
    if (m_sceneGraphReady)
        Luster::makeOwnCurrent();
    delete m_renderControl;
    delete m_hiddenWindow;
}

bool ItemUpdaterManager::ensureSceneGraph()
{
    QOpenGLContext *context = Luster::makeOwnCurrent();
    if (!context)
        return false;
    if (!m_sceneGraphReady) {
        m_renderControl->initialize(context);
        m_sceneGraphReady = true;
    }
    return true;
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
    if (ensureSceneGraph())
        m_renderControl->sync();
    emit m_hiddenWindow->afterAnimating();
    emit m_hiddenWindow->beforeRendering();
}
