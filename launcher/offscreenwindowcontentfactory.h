#pragma once

#include "multimedia/offscreenwindowcontent.h"

class QObject;
class QQmlEngine;
class QQuickItem;

// The factory the launcher hands to the media library.
IOffscreenWindowContent *createOffscreenWindowContent(QQuickItem *item);

// Appends a vertical mirror (Scale, yScale -1, default origin) to the target's transforms.
// Returns the Scale, owned by the target, or null when it could not be created.
QObject *addFlipTransform(QQmlEngine *engine, QQuickItem *target);
