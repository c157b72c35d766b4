#pragma once

#include <QHostAddress>
#include <QObject>

class QUdpSocket;

// Reads the receiver's feedback datagrams, dropping some of them to play a lossy network.
// Lives on the receiver thread.
class EventReceiver : public QObject
{
    Q_OBJECT

public:
    EventReceiver(const QHostAddress &address, quint16 port, QObject *parent = nullptr);

    bool isBound() const;

signals:
    void eventReceived(uint packet, uint status);

public slots:
    void receiveEvent();

private:
    QUdpSocket *m_socket;
};
