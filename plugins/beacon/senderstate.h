#pragma once

#include <QtGlobal>

#include <map>

// Duplicate and restart bookkeeping for one remote sender.
struct SenderState
{
    quint32 lastPacket = 0;            // number of the last accepted packet
    bool fresh = true;                 // the next packet is accepted whatever its number
    std::map<quint32, qint64> history; // packet number -> when last received (ms since epoch)
    qint64 lastSeen = 0;               // when this sender was last heard (ms since epoch)
};
