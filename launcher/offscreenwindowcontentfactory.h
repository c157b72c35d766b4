#pragma once

#include "multimedia/offscreenwindowcontent.h"

// The factory the launcher hands to the media library.
IOffscreenWindowContent *createOffscreenWindowContent(QQuickItem *item);
