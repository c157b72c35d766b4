#include "offscreenwindowcontentfactory.h"

// Offscreen window content is not part of this build yet: the library gets no content object.
IOffscreenWindowContent *createOffscreenWindowContent(QQuickItem *)
{
    return nullptr;
}
