#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>

class QQuickItem;
class QQuickWindow;

// Keeps items of a hidden, never-shown window polished and synchronised.
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

    QQuickWindow *m_hiddenWindow;
    QSet<QQuickWindow *> m_followed;
    bool m_updateQueued = false;
};
