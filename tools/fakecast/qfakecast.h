#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QVector>

// Drives the test sender: a timer on the main thread asks the sender thread for packets and
// the receiver thread passes feedback back to it.
class QFakecast : public QObject
{
    Q_OBJECT

public:
    QFakecast(quint16 portFeedback, quint16 portControl, const QHostAddress &vsAddress,
              const QHostAddress &arAddress, QVector<QByteArray> lines, QObject *parent = nullptr);
    ~QFakecast() override;

signals:
    void generateEvent();
    void forwardFeedback(uint packetNum, uint status);

public slots:
    void start();
    void stop();
    void onTick();
    void onFeedbackReceived(uint packetNum, uint status);

private:
    QThread m_senderThread;
    QThread m_receiverThread;
    QTimer m_timer;
    quint16 m_portFeedback;
    quint16 m_portControl;
    QHostAddress m_arAddress;
    QHostAddress m_vsAddress;
    QVector<QByteArray> m_lines;
};
