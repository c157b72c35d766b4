#include "eventreceiver.h"

#include "beacon/beaconprotocol.h"

#include <QDebug>
#include <QUdpSocket>

#include <cstdlib>
#include <ctime>

EventReceiver::EventReceiver(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent), m_socket(new QUdpSocket(this))
{
    if (!m_socket->bind(address, port)) {
        // Without feedback every packet is resent for ever; say why.
        qWarning().noquote() << QStringLiteral("Can't bind the feedback socket to %1:%2: %3")
                                    .arg(address.toString())
                                    .arg(port)
                                    .arg(m_socket->errorString());
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &EventReceiver::receiveEvent);
}

bool EventReceiver::isBound() const
{
    return m_socket->state() == QAbstractSocket::BoundState;
}

void EventReceiver::receiveEvent()
{
    srand(static_cast<unsigned>(time(nullptr)));
    while (m_socket->hasPendingDatagrams()) {
        QByteArray datagram(static_cast<int>(qMax<qint64>(m_socket->pendingDatagramSize(), 0)),
                            Qt::Uninitialized);
        const qint64 read = m_socket->readDatagram(datagram.data(), datagram.size());
        if (read < 0) {
            qDebug("Failed to read UDP datagram!");
            return;
        }
        if (read < beacon::kFeedbackSize) {
            qDebug().noquote() << QStringLiteral("Feedback datagram of %1 bytes is too short!").arg(read);
            continue;
        }
        const beacon::PacketHeader header = beacon::readHeader(datagram.constData());
        if (!beacon::isKnownType(header.type)) {
            qDebug("Invalid packet header!");
            return;
        }
        if (header.length != static_cast<quint64>(read)) {
            qDebug().noquote() << QStringLiteral("Feedback datagram of %1 bytes claims %2 bytes!")
                                      .arg(read)
                                      .arg(header.length);
            continue;
        }
        const quint32 status = beacon::readWord(datagram.constData(), beacon::kOffsetStatus);
        if (rand() % 100 < 6) {
            qDebug("Ololo! Lost a package :^)");
            return;
        }
        emit eventReceived(header.packet, status);
    }
}
