#include "beaconclient.h"

#include "addressenumerator.h"
#include "beaconprotocol.h"
#include "koi8parser.h"
#include "protocolevent.h"

#include <QDateTime>
#include <QDebug>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QUdpSocket>

namespace {
QString defaultLocalAddress()
{
    const QStringList addresses = AddressEnumerator().addresses();
    // A station without any network keeps working on the loopback address.
    return addresses.isEmpty() ? QHostAddress(QHostAddress::LocalHost).toString() : addresses.first();
}

// Reads "hh:mm:ss". The common case is decoded by hand: QTime::fromString consults the time
// zone database on every call, which costs more than the rest of the receive path.
QTime timeOfDay(const QString &text)
{
    auto digit = [&text](int i) { return text.at(i).unicode() - u'0'; };
    auto isDigit = [&text](int i) {
        return text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
    };
    if (text.size() == 8 && text.at(2) == QLatin1Char(':') && text.at(5) == QLatin1Char(':') && isDigit(0) &&
        isDigit(1) && isDigit(3) && isDigit(4) && isDigit(6) && isDigit(7)) {
        const int hours = digit(0) * 10 + digit(1);
        const int minutes = digit(3) * 10 + digit(4);
        const int seconds = digit(6) * 10 + digit(7);
        return QTime::isValid(hours, minutes, seconds) ? QTime(hours, minutes, seconds) : QTime();
    }
    return QTime::fromString(text, QStringLiteral("hh:mm:ss"));
}

// Distance between two packet numbers on the 32-bit circle.
quint32 packetDistance(quint32 a, quint32 b)
{
    const quint32 forward = a - b;
    const quint32 backward = b - a;
    return qMin(forward, backward);
}
} // namespace

BeaconClient::BeaconClient(QObject *parent)
    : QObject(parent), m_sendSocket(new QUdpSocket(this)), m_receiveSocket(new QUdpSocket(this)),
      m_parser(std::make_shared<KOI8Parser>()), m_addrLocal(defaultLocalAddress()),
      m_portControl(beacon::kDefaultPortControl), m_portFeedback(beacon::kDefaultPortFeedback),
      m_clock(&QDateTime::currentMSecsSinceEpoch)
{
    connect(this, &BeaconClient::addrLocalChanged, this, &BeaconClient::updateReceivingSocket);
    connect(this, &BeaconClient::portControlChanged, this, &BeaconClient::updateReceivingSocket);
}

BeaconClient::~BeaconClient() = default;

void BeaconClient::setAddrLocal(const QString &address)
{
    if (m_addrLocal == address)
        return;
    m_addrLocal = address;
    emit addrLocalChanged();
}

void BeaconClient::setPortControl(uint port)
{
    if (m_portControl == port)
        return;
    m_portControl = port;
    emit portControlChanged();
}

void BeaconClient::setPortFeedback(uint port)
{
    if (m_portFeedback == port)
        return;
    m_portFeedback = port;
    emit portFeedbackChanged();
}

void BeaconClient::setStatus(ErrorMask status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void BeaconClient::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock(&QDateTime::currentMSecsSinceEpoch);
}

void BeaconClient::classBegin() {}

void BeaconClient::componentComplete()
{
    if (m_receiveSocket->state() != QAbstractSocket::BoundState)
        updateReceivingSocket();
    connect(m_receiveSocket, &QUdpSocket::readyRead, this, &BeaconClient::readData, Qt::UniqueConnection);
}

bool BeaconClient::updateReceivingSocket()
{
    if (m_receiveSocket->state() == QAbstractSocket::BoundState)
        m_receiveSocket->abort();
    // An address that does not parse must not fall back to every interface.
    const QHostAddress address(m_addrLocal);
    if (address.isNull() || !m_receiveSocket->bind(address, static_cast<quint16>(m_portControl))) {
        qDebug().noquote() << "Can't bind to" << m_addrLocal << ":" << m_portControl;
        return false;
    }
    return true;
}

void BeaconClient::readData()
{
    if (!m_receiveSocket->hasPendingDatagrams())
        return;
    const qint64 pending = qMax<qint64>(m_receiveSocket->pendingDatagramSize(), 0);
    QByteArray buffer(static_cast<int>(pending), Qt::Uninitialized);
    QHostAddress sender;
    quint16 senderPort = 0;
    const qint64 read = m_receiveSocket->readDatagram(buffer.data(), buffer.size(), &sender, &senderPort);
    if (read < 0) {
        qDebug("Failed to read UDP datagram!");
        return;
    }
    if (sender.isNull()) {
        qDebug("Invalid sender address!");
        return;
    }
    if (read < buffer.size())
        qDebug() << read << " is less than " << buffer.size() << "!!";
    processDatagram(buffer.constData(), read, sender);
}

void BeaconClient::processDatagram(const char *data, qint64 size, const QHostAddress &sender)
{
    if (!m_parser) {
        qDebug("No string parser!");
        return;
    }
    m_parser->reset();

    if (size < beacon::kHeaderSize) {
        qDebug() << "Invalid packet header!" << size << "bytes are shorter than the header.";
        return;
    }
    const beacon::PacketHeader header = beacon::readHeader(data);
    if (!beacon::isKnownType(header.type)) {
        qDebug("Invalid packet header!");
        return;
    }
    if (header.length != static_cast<quint64>(size)) {
        qDebug() << "Can't process event: part of a datagram is missing! " << size << "out of"
                 << header.length << "bytes";
        return;
    }
    const qint64 payload = size - beacon::kHeaderSize;
    if (header.type == beacon::kTypeHeaderOnly && payload != 0) {
        qDebug() << "Can't process event: a header-only packet of" << size << "bytes";
        return;
    }
    if (payload % beacon::kRecordSize != 0) {
        qDebug() << "Can't process event:" << payload << "payload bytes are not whole records";
        return;
    }

    if (header.type != beacon::kTypeHeaderOnly) {
        qint64 consumed = beacon::kHeaderSize;
        while (consumed < size) {
            const qint64 taken = m_parser->parse(data + consumed, static_cast<size_t>(size - consumed));
            if (taken <= 0) {
                qDebug("Can't process event: the records could not be decoded!");
                m_parser->reset();
                return;
            }
            consumed += taken;
        }
    }

    const qint64 now = m_clock();
    SenderState &state = senderFor(sender, now);

    if (header.packet < state.lastPacket && !state.history.empty()) {
        qDebug() << "Old packet detected! " << header.packet << "/" << state.lastPacket;
        auto nearest = state.history.cbegin();
        quint32 best = packetDistance(header.packet, nearest->first);
        for (auto it = std::next(nearest); it != state.history.cend(); ++it) {
            const quint32 distance = packetDistance(header.packet, it->first);
            if (distance < best) {
                best = distance;
                nearest = it;
            }
        }
        if (now - nearest->second > kRestartAfterMs) {
            qDebug().noquote() << "Restarting sender " << sender.toString();
            state.history.clear();
            state.lastPacket = 0;
            state.fresh = true;
        }
    }

    state.history[header.packet] = now;
    if (state.history.size() > static_cast<size_t>(kHistorySize))
        state.history.erase(state.history.begin());

    if (state.fresh || state.lastPacket < header.packet) {
        const QVector<QString> texts = m_parser->takeStrings();
        for (const QString &text : texts) {
            auto *event = new ProtocolEvent;
            if (parseEvent(text, event)) {
                QQmlEngine::setObjectOwnership(event, QQmlEngine::JavaScriptOwnership);
                emit eventReceived(event);
            } else {
                delete event;
                qDebug().noquote() << "Failed to parse event: " << text;
            }
        }
        state.fresh = false;
        state.lastPacket = header.packet;
    }

    if (header.type != beacon::kTypeEventNoFeedback)
        sendFeedback(sender, state.lastPacket);
}

SenderState &BeaconClient::senderFor(const QHostAddress &sender, qint64 now)
{
    auto it = m_senders.find(sender);
    if (it == m_senders.end()) {
        forgetSilentSenders(now);
        it = m_senders.emplace(sender, SenderState{}).first;
    }
    it->second.lastSeen = now;
    return it->second;
}

void BeaconClient::forgetSilentSenders(qint64 now)
{
    for (auto it = m_senders.begin(); it != m_senders.end();) {
        if (now - it->second.lastSeen > kSenderExpiryMs)
            it = m_senders.erase(it);
        else
            ++it;
    }
    if (m_senders.size() < static_cast<size_t>(kMaxSenders))
        return;
    auto quietest = m_senders.begin();
    for (auto it = m_senders.begin(); it != m_senders.end(); ++it) {
        if (it->second.lastSeen < quietest->second.lastSeen)
            quietest = it;
    }
    m_senders.erase(quietest);
}

void BeaconClient::sendFeedback(const QHostAddress &sender, quint32 packet)
{
    const QByteArray datagram = beacon::makeFeedbackPacket(packet, m_feedbackStatus);
    const qint64 written =
        m_sendSocket->writeDatagram(datagram, sender, static_cast<quint16>(m_portFeedback));
    if (written < 0)
        qDebug().noquote() << "Failed to send UDP datagram! " << m_sendSocket->errorString();
    else if (written < datagram.size())
        qDebug() << "Only " << written << " bytes out of " << datagram.size() << " byte datagram were sent!";
}

bool BeaconClient::parseEvent(const QString &text, ProtocolEvent *event)
{
    static const QRegularExpression pattern(QStringLiteral(
        "([^:]+):[\\s]+([\\d]+:[\\d]+:[\\d]+)[\\s]+\\(([\\d]+:[\\d]+:[\\d]+)\\)[\\s]+(.+)#(.+)"));
    if (!event)
        return false;
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    QString description = match.captured(5);
    // A sender reading a file with CRLF line ends leaves the carriage return before the line feed.
    if (description.endsWith(QLatin1Char('\r')))
        description.chop(1);
    event->setSource(match.captured(1));
    event->setTimeMoscow(timeOfDay(match.captured(2)));
    event->setTimeOnBoard(timeOfDay(match.captured(3)));
    event->setValue(match.captured(4));
    event->setDescription(description);
    return true;
}
