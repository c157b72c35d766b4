#pragma once
// Lines typed on JudgeDesk's console.

#include <QObject>
#include <QSocketNotifier>

class ConsoleReader : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleReader(QObject *parent = nullptr);

signals:
    void lineRead(const QString &line);

private:
    void readInput();

    QSocketNotifier m_notifier;
    QByteArray m_buffer;
};
