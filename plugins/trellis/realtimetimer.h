#pragma once

#include <QObject>
#include <QTimer>

// A repeating timer that starts when its interval is first set and runs until it is destroyed.
class RealtimeTimer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval NOTIFY intervalChanged)
public:
    explicit RealtimeTimer(QObject *parent = nullptr);

    int interval() const { return m_timer.interval(); }
    void setInterval(int msec);
    bool isActive() const { return m_timer.isActive(); }

signals:
    void intervalChanged();
    void triggered();

private:
    QTimer m_timer;
};
