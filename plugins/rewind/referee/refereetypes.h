#pragma once
// The records of the referee link's tables.

#include "com/guid.h"

#include <QString>
#include <cstdint>

struct RefereeCamera
{
    QString name;
    GUID streamId = GUID_NULL; // the archive stream that records this camera
    std::uint64_t begin = 0;   // FILETIME
    std::uint64_t end = 0;     // FILETIME
    std::int32_t writing = 0;  // 1 when the end time grew since the previous camera answer
    std::uint32_t receiveTick = 0;
    bool playAudio = false;
};

struct RefereeEventType
{
    std::int32_t index = 0; // 1-based position among the children of the answer
    QString name;
    std::int32_t nameLength = 0;
    std::int32_t textColor = 0xFFFFFF;
    std::int32_t backgroundColor = 0;
};

struct RefereeEvent
{
    std::int32_t typeIndex = 0;
    QString typeName;
    QString comment;
    std::uint64_t time = 0;      // FILETIME
    std::int64_t boardTime = -1; // milliseconds of the day, -1 for none
};

// One slot of the event scan buffer, by event index.
struct RefereeEventSlot
{
    QString typeName;
    QString comment;
    std::uint64_t time = 0;
    std::int64_t boardTime = -1;
};
