#include "luster/luster.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QQuickWindow>
#include <QSGTexture>
#include <QThread>

namespace {
Q_LOGGING_CATEGORY(lcLuster, "Luster")

#ifndef GL_FRAMEBUFFER_BINDING
#define GL_FRAMEBUFFER_BINDING 0x8CA6
#endif

struct State
{
    QPointer<QOpenGLContext> context;     // the scene graph's context (not owned)
    QOffscreenSurface *surface = nullptr; // owned, recreated when the context changes
    GLuint fbo = 0;                       // lives in `context`
    GLint previousFbo = 0;
    bool bound = false;
};

State &state()
{
    static State s;
    return s;
}

bool guiThread()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void release()
{
    State &s = state();
    // The framebuffer object dies with its context; nothing to delete once that is gone.
    delete s.surface;
    s.surface = nullptr;
    s.context = nullptr;
    s.fbo = 0;
    s.bound = false;
}

// The basic render loop gives all Qt Quick windows one context; any window that has rendered knows it.
QOpenGLContext *sceneGraphContext()
{
    const auto windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (auto *quickWindow = qobject_cast<QQuickWindow *>(window)) {
            if (QOpenGLContext *context = quickWindow->openglContext())
                return context;
        }
    }
    return nullptr;
}
} // namespace

void Luster::init()
{
    static bool done = false;
    if (done || !guiThread())
        return;
    done = true;
    qAddPostRoutine(release);
}

bool Luster::makeCurrent()
{
    if (!guiThread())
        return false;
    State &s = state();
    QOpenGLContext *context = sceneGraphContext();
    if (!context) {
        qCDebug(lcLuster) << "No scene graph context yet";
        return false;
    }
    if (context != s.context) {
        release();
        s.context = context;
        QObject::connect(context, &QOpenGLContext::aboutToBeDestroyed, context, [context] {
            // The framebuffer object goes with its context; delete it only where that is safe.
            State &st = state();
            if (st.context != context)
                return; // an earlier context: the state already belongs to its successor
            if (st.fbo && QOpenGLContext::currentContext() == context)
                context->functions()->glDeleteFramebuffers(1, &st.fbo);
            st.fbo = 0;
            st.bound = false;
        });
        s.surface = new QOffscreenSurface(context->screen());
        s.surface->setFormat(context->format());
        s.surface->create();
    }
    if (!s.surface || !s.surface->isValid()) {
        qCWarning(lcLuster) << "No offscreen surface for the shared context";
        return false;
    }
    // Never doneCurrent(): the render loop makes the context current on its window before each frame.
    if (!context->makeCurrent(s.surface)) {
        qCWarning(lcLuster) << "Cannot make the shared context current";
        return false;
    }
    return true;
}

bool Luster::setRenderTarget(QSGTexture *texture, unsigned int level)
{
    State &s = state();
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!texture || !context || context != s.context)
        return false;
    if (texture->isAtlasTexture()) {
        // A sub-rectangle of an atlas cannot be a framebuffer attachment of its own.
        if (QSGTexture *standalone = texture->removedFromAtlas())
            texture = standalone;
    }
    QOpenGLFunctions *f = context->functions();
    texture->bind(); // uploads a pending image
    const GLuint id = GLuint(texture->textureId());
    if (id == 0)
        return false;
    if (!s.bound)
        f->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &s.previousFbo);
    if (s.fbo == 0)
        f->glGenFramebuffers(1, &s.fbo);
    f->glBindFramebuffer(GL_FRAMEBUFFER, s.fbo);
    f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, id, GLint(level));
    s.bound = true;
    const GLenum status = f->glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        qCWarning(lcLuster) << "Texture" << id << "cannot be read, framebuffer status" << Qt::hex << status;
        disableRenderTarget();
        return false;
    }
    return true;
}

void Luster::disableRenderTarget()
{
    State &s = state();
    if (!s.bound)
        return;
    s.bound = false;
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!context || context != s.context)
        return;
    QOpenGLFunctions *f = context->functions();
    f->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(s.previousFbo));
    // Detach so that the texture is not kept as an attachment of our framebuffer object.
    if (s.fbo) {
        f->glBindFramebuffer(GL_FRAMEBUFFER, s.fbo);
        f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        f->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(s.previousFbo));
    }
}
