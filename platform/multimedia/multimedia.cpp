#include "multimedia/multimedia.h"

#include <atomic>

#include <malloc.h>

namespace {
std::atomic<OffscreenWindowContentFactory> g_factory{nullptr};
}

void initMultimedia(OffscreenWindowContentFactory factory)
{
    g_factory = factory;
    // Pictures (3 MB at 1080p) are made on one thread and freed on another, a hundred a second and
    // more. By default glibc raises its mapping threshold to the largest block freed so far, so after
    // the first picture the others come from its per-thread arenas, whose freed space mostly stays
    // with the process: resident memory crept up for as long as the station recorded, and never came
    // down after a burst. A fixed threshold gives every picture a mapping of its own, returned to the
    // system as soon as it is freed; smaller blocks stay in the arenas.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);
}

namespace nyx::multimedia {
OffscreenWindowContentFactory offscreenWindowContentFactory()
{
    return g_factory;
}
} // namespace nyx::multimedia
