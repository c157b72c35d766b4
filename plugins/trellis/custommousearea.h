#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <private/qquickevents_p_p.h>

// Swallows every event of a source object and lets QML post synthetic mouse and wheel events to the
// window of a target item.
class CustomMouseArea : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QObject *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QObject *target READ target WRITE setTarget NOTIFY targetChanged)
public:
    explicit CustomMouseArea(QObject *parent = nullptr);

    QObject *source() const { return m_source; }
    void setSource(QObject *source);
    QObject *target() const { return m_target; }
    void setTarget(QObject *target);

    // Mouse press, release, double click, move and wheel events only; anything else is refused.
    Q_INVOKABLE bool sendEvent(int type, double x, double y, int button, int wheel);

signals:
    void sourceChanged();
    void targetChanged();
    void eventReceived(QQuickMouseEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Guarded, so that a destroyed source or target reads as unset.
    QPointer<QObject> m_source;
    QPointer<QQuickItem> m_target;
};
