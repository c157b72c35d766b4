#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QVector>

class QUdpSocket;

// Builds event packets and sends them to the receiver under test, resending the last packet
// until its feedback arrives. Lives on the sender thread.
class EventSender : public QObject
{
    Q_OBJECT

public:
    EventSender(const QHostAddress &address, quint16 port, QVector<QByteArray> lines,
                QObject *parent = nullptr);

    quint32 packetNumber() const { return m_packetNumber; }

    // One record text: at most 127 bytes, so the record keeps its terminating NUL.
    static QByteArray makeRecordText(const QByteArray &line);

public slots:
    void sendEvent();
    void receiveFeedback(uint packet, uint status);

private:
    QByteArray buildPacket();

    QUdpSocket *m_socket;
    QHostAddress m_address;
    quint16 m_port;
    quint32 m_packetNumber = 0;
    bool m_ready = true;
    QByteArray m_lastPacket;
    QVector<QByteArray> m_lines;
};
