#include "codecs/codecs.h"

#include "colorconverter.h"
#include "com/cocreate.h"
#include "h264decoder.h"

#include <mutex>

// Referenced through the library's link options (--undefined), so that this object file, and with
// it the static registration below, is part of every program that links nyx_codecs.
extern "C" {
int nyx_codecs_force_link = 0;
}

namespace nyx::codecs {
void registerCodecs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        nyx::com::registerClass(CLSID_H264Decoder, &H264Decoder::create);
        nyx::com::registerClass(CLSID_ColorConverter, &ColorConverter::create);
    });
}

namespace {
const bool g_registered = (registerCodecs(), true);
}
} // namespace nyx::codecs
