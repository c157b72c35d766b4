#include "multimedia/engines/avhelpers.h"

extern "C" {
#include <libavutil/error.h>
}

namespace nyx::multimedia {

Q_LOGGING_CATEGORY(lcEngines, "nyx.multimedia.engines")

QString avErrorString(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace nyx::multimedia
