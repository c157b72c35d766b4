#include "messagewire.h"

#include <QDataStream>
#include <QtEndian>

namespace nyx::referee::wire {
namespace {
constexpr qint32 kRequestKind = 1;
constexpr qint32 kAnswerKind = 2;
} // namespace

QByteArray encodeRequest(const Request &request)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << kRequestKind << request.number << request.targetQueue << request.replyQueue << request.text;
    return payload;
}

QByteArray encodeAnswer(const Answer &answer)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << kAnswerKind << answer.number << answer.queue << answer.sourceQueue << answer.text;
    return payload;
}

bool decodeRequest(const QByteArray &payload, Request *request)
{
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_5_15);
    qint32 kind = 0;
    in >> kind >> request->number >> request->targetQueue >> request->replyQueue >> request->text;
    return in.status() == QDataStream::Ok && kind == kRequestKind && in.atEnd();
}

bool decodeAnswer(const QByteArray &payload, Answer *answer)
{
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_5_15);
    qint32 kind = 0;
    in >> kind >> answer->number >> answer->queue >> answer->sourceQueue >> answer->text;
    return in.status() == QDataStream::Ok && kind == kAnswerKind && in.atEnd();
}

QByteArray frame(const QByteArray &payload)
{
    QByteArray bytes(kHeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(kMagic, bytes.data());
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), bytes.data() + 4);
    return bytes + payload;
}

bool readHeader(const char *header, quint32 *length)
{
    if (qFromBigEndian<quint32>(header) != kMagic)
        return false;
    *length = qFromBigEndian<quint32>(header + 4);
    return *length <= kMaxPayload;
}

int takeFrame(QByteArray &buffer, QByteArray *payload)
{
    if (buffer.size() < kHeaderSize)
        return 0;
    quint32 length = 0;
    if (!readHeader(buffer.constData(), &length))
        return -1;
    if (static_cast<quint32>(buffer.size()) < kHeaderSize + length)
        return 0;
    *payload = buffer.mid(kHeaderSize, static_cast<int>(length));
    buffer.remove(0, kHeaderSize + static_cast<int>(length));
    return 1;
}

bool splitHostPort(const QString &text, QString *host, quint16 *port, QString *problem)
{
    auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const QString trimmed = text.trimmed();
    const int colon = trimmed.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || trimmed.indexOf(QLatin1Char(':')) != colon) {
        *host = trimmed; // a bare name, or an IPv6 address without a port
        *port = kDefaultPort;
        return trimmed.isEmpty() ? refuse(QStringLiteral("no host is named")) : true;
    }
    bool ok = false;
    const QString portText = trimmed.mid(colon + 1);
    const uint value = portText.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return refuse(QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(portText));
    *host = trimmed.left(colon);
    *port = static_cast<quint16>(value);
    return host->isEmpty() ? refuse(QStringLiteral("no host is named before the port")) : true;
}
} // namespace nyx::referee::wire
