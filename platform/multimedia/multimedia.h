#pragma once
// Start-up of the media library.

#include "multimedia/offscreenwindowcontent.h"

// Called once per process before the application object exists.
void initMultimedia(OffscreenWindowContentFactory factory);

namespace nyx::multimedia {
// The factory handed to initMultimedia, or null.
OffscreenWindowContentFactory offscreenWindowContentFactory();
} // namespace nyx::multimedia
