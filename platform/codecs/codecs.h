#pragma once
// How a program reaches the decoder objects.
//
// Link the CMake target nyx_codecs; CLSID_H264Decoder and CLSID_ColorConverter are registered with
// nyx::com from a static initializer that the target's link options pull into every program linking it.
// registerCodecs() does the same explicitly and may be called any number of times.

#include "codecs/icolorconverter.h"
#include "codecs/ih264decoder.h"

namespace nyx::codecs {
void registerCodecs();
} // namespace nyx::codecs
