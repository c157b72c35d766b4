#pragma once
// Sample conversions for a sound device that refuses the stream's own format: 32-bit float
// (full scale -1 to 1) and 16-bit signed integer samples, both interleaved, little-endian as the
// stream carries them.

#include <QByteArray>

namespace nyx::multimedia {

// Each float scaled by 32768, rounded to the nearest and clipped to the 16-bit range; NaN gives 0.
// A trailing partial sample is left out.
QByteArray floatToInt16(const QByteArray &floats);
// Each sample divided by 32768, so that -32768 maps to -1 exactly.
QByteArray int16ToFloat(const QByteArray &ints);

} // namespace nyx::multimedia
