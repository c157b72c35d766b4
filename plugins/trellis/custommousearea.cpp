#include "custommousearea.h"

#include "trellislogging.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QQuickWindow>
#include <QWheelEvent>

#include <cmath>

CustomMouseArea::CustomMouseArea(QObject *parent) : QObject(parent) {}

void CustomMouseArea::setSource(QObject *source)
{
    if (source == m_source)
        return;
    if (m_source)
        m_source->removeEventFilter(this);
    m_source = source;
    if (source)
        source->installEventFilter(this);
    emit sourceChanged();
}

void CustomMouseArea::setTarget(QObject *target)
{
    auto *item = qobject_cast<QQuickItem *>(target);
    if (target && !item)
        qCWarning(lcTrellis) << "CustomMouseArea: target should be an item:" << target;
    if (item == m_target)
        return;
    m_target = item;
    emit targetChanged();
}

bool CustomMouseArea::eventFilter(QObject *watched, QEvent *event)
{
    if (m_target && watched == m_source &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseMove) &&
        lcTrellis().isInfoEnabled()) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        qCInfo(lcTrellis) << "---send" << event->type() << mouse->localPos() << mouse->screenPos()
                          << mouse->buttons() << mouse->button() << mouse->modifiers();
    }
    // A deferred delete is no input: swallowing it would keep a destroyed QML object alive for ever.
    if (event->type() == QEvent::DeferredDelete)
        return false;
    return true;
}

bool CustomMouseArea::sendEvent(int type, double x, double y, int button, int wheel)
{
    if (!m_target || !m_target->window())
        return false;
    if (!std::isfinite(x) || !std::isfinite(y)) {
        qCWarning(lcTrellis) << "CustomMouseArea: refused event at" << x << y;
        return false;
    }
    QQuickWindow *window = m_target->window();
    const QPointF pos(x, y);
    const QPointF global = QPointF(window->mapToGlobal(QPoint(0, 0))) + pos;
    const auto mouseButton = Qt::MouseButton(button);
    QEvent *event = nullptr;
    switch (type) {
    case QEvent::Wheel:
        event = new QWheelEvent(pos, global, QPoint(), QPoint(0, wheel), Qt::MouseButtons(button),
                                Qt::NoModifier, Qt::NoScrollPhase, false);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        event = new QMouseEvent(QEvent::Type(type), pos, pos, global, mouseButton, Qt::MouseButtons(button),
                                Qt::NoModifier);
        break;
    default:
        qCWarning(lcTrellis) << "CustomMouseArea: refused event type" << type;
        return false;
    }
    QCoreApplication::postEvent(window, event);
    return true;
}
