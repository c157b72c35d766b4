#include "input.h"

#include <QCursor>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>

Input::Input(QObject *parent) : QObject(parent) {}

Qt::KeyboardModifiers Input::queryKeyboardModifiers() const
{
    return QGuiApplication::queryKeyboardModifiers();
}

void Input::setMouseCursorPosition(int x, int y)
{
    QCursor::setPos(x, y);
}

void Input::setMouseCursorPosition(QQuickItem *item, int x, int y)
{
    if (!item || !item->window() || !item->window()->contentItem())
        return;
    const QPointF inContent = item->mapToItem(item->window()->contentItem(), QPointF(x, y));
    QCursor::setPos(inContent.toPoint() + item->window()->geometry().topLeft());
}
