#include "multimedia/multimedia.h"

#include <atomic>

namespace {
std::atomic<OffscreenWindowContentFactory> g_factory{nullptr};
}

void initMultimedia(OffscreenWindowContentFactory factory)
{
    g_factory = factory;
}

namespace nyx::multimedia {
OffscreenWindowContentFactory offscreenWindowContentFactory()
{
    return g_factory;
}
} // namespace nyx::multimedia
