#include "glreadback.h"

#include "luster/luster.h"
#include "trellislogging.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickItem>
#include <QSGTexture>
#include <QSGTextureProvider>

// Qt Gui's framebuffer reader (no public header).
QImage qt_gl_read_framebuffer(const QSize &size, bool alpha_format, bool include_alpha);

const char *glErrorName(unsigned int error)
{
    switch (error) {
    case 0x0500:
        return "GL_INVALID_ENUM";
    case 0x0501:
        return "GL_INVALID_VALUE";
    case 0x0502:
        return "GL_INVALID_OPERATION";
    case 0x0505:
        return "GL_OUT_OF_MEMORY";
    case 0x0506:
        return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default:
        return "UNKNOWN_GL_ERROR";
    }
}

void checkGlErrors(const char *context)
{
    QOpenGLContext *gl = QOpenGLContext::currentContext();
    if (!gl)
        return;
    QOpenGLFunctions *f = gl->functions();
    // A lost context can report an error forever; the bound keeps the drain finite.
    for (int i = 0; i < 256; ++i) {
        const GLenum error = f->glGetError();
        if (error == GL_NO_ERROR)
            return;
        if (lcTrellis().isCriticalEnabled())
            qCCritical(lcTrellis) << "OpenGL error [" << glErrorName(error) << "]: " << context;
    }
}

QSGTexture *providerTexture(const QQuickItem *item)
{
    if (!item || !item->isTextureProvider())
        return nullptr;
    QSGTextureProvider *provider = item->textureProvider();
    return provider ? provider->texture() : nullptr;
}

void updateDynamicTexture(QSGTexture *texture)
{
    if (auto *dynamic = qobject_cast<QSGDynamicTexture *>(texture))
        dynamic->updateTexture();
}

QImage readTextureImage(QSGTexture *texture)
{
    if (!texture || texture->textureSize().isEmpty() || !QOpenGLContext::currentContext())
        return QImage();
    const QSize size = texture->textureSize();
    QImage image;
    if (Luster::setRenderTarget(texture, 0)) {
        image = qt_gl_read_framebuffer(size, true, true);
        Luster::disableRenderTarget();
    }
    return image;
}
