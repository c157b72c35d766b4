#pragma once
// Reading scene-graph textures back on the GUI thread through the shared context.

#include <QImage>

class QQuickItem;
class QSGTexture;

// Name of an OpenGL error code, "UNKNOWN_GL_ERROR" for codes without one.
const char *glErrorName(unsigned int error);

// Drains glGetError() and logs each error with the reader's name; reports only.
void checkGlErrors(const char *context);

// The texture of a texture-provider item's provider, or null.
QSGTexture *providerTexture(const QQuickItem *item);

// Brings a dynamic (layer) texture's content up to date.
void updateDynamicTexture(QSGTexture *texture);

// The whole texture as qt_gl_read_framebuffer delivers it (premultiplied, last texel row first);
// a null image when it cannot be bound. The caller has made the shared context current and checks
// for OpenGL errors afterwards.
QImage readTextureImage(QSGTexture *texture);
