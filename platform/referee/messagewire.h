#pragma once
// The bytes of the TCP transport: frames of "NYXQ", a big-endian payload length and the payload.
// A request carries {number, target queue, reply queue, text}, an answer {number, queue, sender, text}.

#include <QByteArray>
#include <QString>

namespace nyx::referee::wire {
constexpr quint16 kDefaultPort = 47600;
constexpr quint32 kMagic = 0x4E595851; // "NYXQ"
constexpr int kHeaderSize = 8;
constexpr quint32 kMaxPayload = 16u * 1024 * 1024;

struct Request
{
    qint32 number = 0;
    QString targetQueue;
    QString replyQueue;
    QString text;
};

struct Answer
{
    qint32 number = 0;
    QString queue;       // the local queue it goes to
    QString sourceQueue; // the sender's queue
    QString text;
};

QByteArray encodeRequest(const Request &request);
QByteArray encodeAnswer(const Answer &answer);
bool decodeRequest(const QByteArray &payload, Request *request);
bool decodeAnswer(const QByteArray &payload, Answer *answer);
// A whole frame around payload.
QByteArray frame(const QByteArray &payload);
// The payload length of a frame header; false for a header that is not one of ours or too large.
bool readHeader(const char *header, quint32 *length);
// Takes the next complete frame's payload off the front of buffer. Returns 1 with a payload, 0 when
// more bytes are needed, -1 for a broken stream.
int takeFrame(QByteArray &buffer, QByteArray *payload);

// Splits "host:port" (a bare host gets kDefaultPort); false for a missing host or a bad port, with
// what is wrong in *problem when given.
bool splitHostPort(const QString &text, QString *host, quint16 *port, QString *problem = nullptr);
} // namespace nyx::referee::wire
