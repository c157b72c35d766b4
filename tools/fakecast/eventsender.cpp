#include "eventsender.h"

#include "beacon/beaconprotocol.h"

#include <QDateTime>
#include <QDebug>
#include <QUdpSocket>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {
constexpr qint64 kMaxDatagramPiece = 8192;
}

EventSender::EventSender(const QHostAddress &address, quint16 port, QVector<QByteArray> lines,
                         QObject *parent)
    : QObject(parent), m_socket(new QUdpSocket(this)), m_address(address), m_port(port),
      m_lines(std::move(lines))
{
}

QByteArray EventSender::makeRecordText(const QByteArray &line)
{
    const QDateTime t1 = QDateTime::currentDateTime().addSecs(-10800);
    const QDateTime t2 = t1.addSecs(45000);
    const QByteArray time1 = t1.toString(QStringLiteral("hh:mm:ss")).toLatin1();
    const QByteArray time2 = t2.toString(QStringLiteral("hh:mm:ss")).toLatin1();
    // KOI8-R capital letters are the bytes 0xE0 to 0xFF.
    const char a = static_cast<char>(rand() % 32 - 32);
    const char b = static_cast<char>(rand() % 32 - 32);
    const char c = static_cast<char>(rand() % 32 - 32);
    const int number = rand() % 900 + 100;
    const int value = rand() % 100;
    // snprintf cuts a long line so that the text and its NUL fit the record.
    char text[beacon::kRecordSize] = {};
    std::snprintf(text, sizeof text, "%c%c%c%d: %s (%s) %d #%s", a, b, c, number, time1.constData(),
                  time2.constData(), value, line.constData());
    return QByteArray(text);
}

QByteArray EventSender::buildPacket()
{
    const int count = rand() % 3 + 1;
    const quint32 type = rand() % 100 >= 75 ? beacon::kTypeEventNoFeedback : beacon::kTypeEvent;
    QVector<QByteArray> texts;
    for (int i = 0; i < count; ++i) {
        const QByteArray &line = m_lines.at(rand() % m_lines.size());
        texts.append(makeRecordText(line));
    }
    return beacon::makeEventPacket(type, m_packetNumber, texts);
}

void EventSender::sendEvent()
{
    srand(static_cast<unsigned>(time(nullptr)));
    if (m_lines.isEmpty())
        return;
    const quint32 number = m_packetNumber;
    if (m_ready) {
        m_lastPacket = buildPacket();
        if (beacon::readHeader(m_lastPacket.constData()).type == beacon::kTypeEventNoFeedback)
            ++m_packetNumber; // nobody acknowledges it: delivered as sent
        else
            m_ready = false;
    }

    qint64 written = 0;
    for (qint64 offset = 0; offset < m_lastPacket.size(); offset += kMaxDatagramPiece) {
        const QByteArray piece =
            m_lastPacket.mid(static_cast<int>(offset), static_cast<int>(kMaxDatagramPiece));
        const qint64 result = m_socket->writeDatagram(piece, m_address, m_port);
        if (result < 0) {
            // The next tick sends the packet again.
            qDebug().noquote() << QStringLiteral("TestMessage: failed to send datagram! ") +
                                      m_socket->errorString();
            return;
        }
        written += result;
    }
    qDebug().noquote()
        << QStringLiteral("TestMessage: %1 packet datagram sent (%2) bytes.").arg(number).arg(written);
}

void EventSender::receiveFeedback(uint packet, uint status)
{
    Q_UNUSED(status)
    if (packet != m_packetNumber || m_ready)
        return;
    qDebug().noquote() << QStringLiteral("Received feedback on %1 packet!").arg(packet);
    ++m_packetNumber;
    m_ready = true;
}
