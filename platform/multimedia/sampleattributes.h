#pragma once
// Sample attributes the station's own media nodes agree on.

#include "mf/mf.h"

namespace nyx::multimedia {

// The recording time (FILETIME, UINT64) of the frame a sample carries: set by the sources that play
// a recording, kept through decoding, and reported by the view that shows the frame.
// {804F2791-0E4D-43DD-BB0A-0038D3B7180D}
constexpr GUID RecordedTimeAttribute = {
    0x804F2791, 0x0E4D, 0x43DD, {0xBB, 0x0A, 0x00, 0x38, 0xD3, 0xB7, 0x18, 0x0D}};

} // namespace nyx::multimedia
