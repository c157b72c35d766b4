#pragma once
// Layout of the UDP event and feedback datagrams, shared by the receiver and the test sender.
// Every multi-byte field is an unsigned 32-bit little-endian word.

#include <QByteArray>
#include <QVector>
#include <QtEndian>

#include <cstring>

namespace beacon {

constexpr quint32 kTypeEvent = 512;           // event packet, feedback requested
constexpr quint32 kTypeEventNoFeedback = 513; // event packet, no feedback
constexpr quint32 kTypeHeaderOnly = 514;      // no records, feedback requested
constexpr quint32 kTypeFeedback = 515;        // feedback datagram

constexpr int kHeaderSize = 64;
constexpr int kRecordSize = 128;
constexpr int kMaxRecordText = kRecordSize - 1; // room for the terminating NUL
constexpr int kFeedbackSize = kHeaderSize + 4;
constexpr int kMaxRecords = 3; // what one sender packet carries at most

constexpr quint16 kDefaultPortControl = 5952;
constexpr quint16 kDefaultPortFeedback = 5951;

// Byte offsets of the header words.
constexpr int kOffsetType = 0;
constexpr int kOffsetLength = 4;
constexpr int kOffsetPacket = 28;
constexpr int kOffsetRecordCount = 32;
constexpr int kOffsetRecordCountAgain = 36;
constexpr int kOffsetFlag = 40;
constexpr int kOffsetStatus = 64; // feedback only

struct PacketHeader
{
    quint32 type = 0;
    quint32 length = 0;
    quint32 packet = 0;
};

inline quint32 readWord(const char *data, int offset)
{
    return qFromLittleEndian<quint32>(data + offset);
}

inline void writeWord(char *data, int offset, quint32 value)
{
    const quint32 little = qToLittleEndian(value);
    std::memcpy(data + offset, &little, sizeof little);
}

inline bool isKnownType(quint32 type)
{
    return type >= kTypeEvent && type <= kTypeFeedback;
}

// data must hold at least kHeaderSize bytes.
inline PacketHeader readHeader(const char *data)
{
    return {readWord(data, kOffsetType), readWord(data, kOffsetLength), readWord(data, kOffsetPacket)};
}

// One 128-byte record: the text cut to 127 bytes, then NUL bytes.
inline QByteArray makeRecord(const QByteArray &text)
{
    QByteArray record = text.left(kMaxRecordText);
    record.append(QByteArray(kRecordSize - record.size(), '\0'));
    return record;
}

// An event datagram of type 512 or 513 carrying one record per text.
inline QByteArray makeEventPacket(quint32 type, quint32 packet, const QVector<QByteArray> &texts)
{
    const auto count = static_cast<quint32>(texts.size());
    char header[kHeaderSize] = {};
    writeWord(header, kOffsetType, type);
    writeWord(header, kOffsetLength, kHeaderSize + kRecordSize * count);
    writeWord(header, kOffsetPacket, packet);
    writeWord(header, kOffsetRecordCount, count);
    writeWord(header, kOffsetRecordCountAgain, count);
    QByteArray datagram(header, kHeaderSize);
    for (const QByteArray &text : texts)
        datagram += makeRecord(text);
    return datagram;
}

// A header-only datagram (type 514).
inline QByteArray makeHeaderOnlyPacket(quint32 packet)
{
    char header[kHeaderSize] = {};
    writeWord(header, kOffsetType, kTypeHeaderOnly);
    writeWord(header, kOffsetLength, kHeaderSize);
    writeWord(header, kOffsetPacket, packet);
    return QByteArray(header, kHeaderSize);
}

// A feedback datagram (type 515) acknowledging packet.
inline QByteArray makeFeedbackPacket(quint32 packet, quint32 status)
{
    char datagram[kFeedbackSize] = {};
    writeWord(datagram, kOffsetType, kTypeFeedback);
    writeWord(datagram, kOffsetLength, kFeedbackSize);
    writeWord(datagram, kOffsetPacket, packet);
    writeWord(datagram, kOffsetRecordCountAgain, 1);
    writeWord(datagram, kOffsetFlag, 1);
    writeWord(datagram, kOffsetStatus, status);
    return QByteArray(datagram, kFeedbackSize);
}

} // namespace beacon
