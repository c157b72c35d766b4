#pragma once
// A 64-bit value drawn into a picture as a row of 64 black and white blocks, and read back.
// The blocks are big and use the full video swing (luma 16 and 235, neutral chroma), so the value
// survives H.264 compression and scaling: tests read a decoded frame's time from its pixels.

#include "multimedia/engines/nv12frame.h"

#include <QRect>

#include <optional>

namespace nyx::multimedia::TimeStrip {

constexpr int Bits = 64;
constexpr uchar Black = 16;
constexpr uchar White = 235;

// Where the strip lies in a width x height picture (along the top edge); empty when the picture
// is too small to carry it (below 256 x 64).
QRect area(int width, int height);
// Draws value into the picture (most significant bit leftmost, white = 1).
void draw(Nv12Frame &frame, quint64 value);
// Reads the value from a luma plane; nullopt when a block is neither clearly black nor clearly white
// (no strip there).
std::optional<quint64> read(const uchar *luma, int stride, int width, int height);
std::optional<quint64> read(const Nv12Frame &frame);

} // namespace nyx::multimedia::TimeStrip
