#pragma once
// Reading scene-graph textures back on the GUI thread through the shared context.

#include <QImage>
#include <QVector>

#include <functional>

class QQuickItem;
class QSGTexture;

// Name of an OpenGL error code, "UNKNOWN_GL_ERROR" for codes without one.
const char *glErrorName(unsigned int error);

// Drains glGetError() and logs each error with the reader's name; reports only.
void checkGlErrors(const char *context);
// The two halves of checkGlErrors, for a read done on another thread and reported here.
QVector<unsigned int> takeGlErrors();
void reportGlErrors(const QVector<unsigned int> &errors, const char *context);

// Runs `read` where the item's textures can be read, with a context current there that can read
// them: on its window's render thread when the render loop has one (this thread waits meanwhile, so
// `read` may use the item as during a synchronisation), else here. Without an item, here with
// Luster's context. False when it could not run (a render thread that does not answer).
bool readInSceneGraph(QQuickItem *item, const std::function<void()> &read);

// The texture of a texture-provider item's provider, or null.
QSGTexture *providerTexture(const QQuickItem *item);

// Brings a dynamic (layer) texture's content up to date.
void updateDynamicTexture(QSGTexture *texture);

// The whole texture as qt_gl_read_framebuffer delivers it (premultiplied, last texel row first);
// a null image when it cannot be bound. The caller has made the shared context current and checks
// for OpenGL errors afterwards.
QImage readTextureImage(QSGTexture *texture);
