#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>

class QQuickItem;
class QQuickRenderControl;
class QQuickWindow;

// Keeps items of a hidden, never-shown window polished and synchronised. The hidden window's scene
// graph runs on the GUI thread with Luster's own context, whatever render loop the visible windows
// use, and is usable before any window has rendered.
class ItemUpdaterManager : public QObject
{
    Q_OBJECT
public:
    static ItemUpdaterManager *instance();
    ~ItemUpdaterManager() override;

    void addItem(QQuickItem *item);
    void removeItem(QQuickItem *item);
    QQuickWindow *hiddenWindow() const { return m_hiddenWindow; }

public slots:
    void updateScene();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ItemUpdaterManager();
    void followWindow(QQuickWindow *window);
    bool ensureSceneGraph();

    QQuickRenderControl *m_renderControl;
    QQuickWindow *m_hiddenWindow;
    bool m_sceneGraphReady = false;
    QSet<QQuickWindow *> m_followed;
    bool m_updateQueued = false;
};
