#pragma once

#include <QObject>

class QQuickItem;

// Keyboard and mouse-cursor functions for QML.
class Input : public QObject
{
    Q_OBJECT
public:
    explicit Input(QObject *parent = nullptr);

    Q_INVOKABLE Qt::KeyboardModifiers queryKeyboardModifiers() const;
    Q_INVOKABLE void setMouseCursorPosition(int x, int y);
    Q_INVOKABLE void setMouseCursorPosition(QQuickItem *item, int x, int y);
};
