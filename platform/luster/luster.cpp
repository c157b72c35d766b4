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

// Qt Gui's share root for every context it creates (no public header).
Q_GUI_EXPORT QOpenGLContext *qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {
Q_LOGGING_CATEGORY(lcLuster, "Luster")

#ifndef GL_FRAMEBUFFER_BINDING
#define GL_FRAMEBUFFER_BINDING 0x8CA6
#endif

// GUI-thread state.
struct State
{
    QOpenGLContext *root = nullptr;                 // owned; Qt's share root when we installed it
    QOpenGLContext *own = nullptr;                  // owned; shares with the root
    QOffscreenSurface *surface = nullptr;           // for `own`
    QPointer<QOpenGLContext> sceneGraph;            // the scene graph's context last made current (not owned)
    QOffscreenSurface *sceneGraphSurface = nullptr; // in that context's format
    bool failed = false;
};

State &state()
{
    static State s;
    return s;
}

// Per thread: the framebuffer object of a read in progress, in the context current then.
struct Target
{
    QOpenGLContext *context = nullptr;
    GLuint fbo = 0;
    GLint previousFbo = 0;
};

Target &target()
{
    static thread_local Target t;
    return t;
}

bool guiThread()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void release()
{
    State &s = state();
    if (s.own && QOpenGLContext::currentContext() == s.own)
        s.own->doneCurrent();
    delete s.own;
    s.own = nullptr;
    delete s.surface;
    s.surface = nullptr;
    delete s.sceneGraphSurface;
    s.sceneGraphSurface = nullptr;
    if (s.root && qt_gl_global_share_context() == s.root)
        qt_gl_set_global_share_context(nullptr);
    delete s.root;
    s.root = nullptr;
}

QOffscreenSurface *makeSurface(const QSurfaceFormat &format)
{
    auto *surface = new QOffscreenSurface;
    surface->setFormat(format);
    surface->create();
    return surface;
}

// The share root: Qt's when the application asked for one, else ours, installed as Qt's so that every
// scene-graph context made from now on shares with it.
QOpenGLContext *shareRoot()
{
    State &s = state();
    if (QOpenGLContext *root = qt_gl_global_share_context())
        return root;
    if (s.root || s.failed)
        return s.root;
    auto *root = new QOpenGLContext;
    root->setFormat(QSurfaceFormat::defaultFormat());
    if (!root->create()) {
        qCWarning(lcLuster) << "No OpenGL context can be created";
        delete root;
        s.failed = true;
        return nullptr;
    }
    s.root = root;
    qt_gl_set_global_share_context(root);
    return root;
}

// The scene graph's context when it belongs to the calling thread (the basic render loop renders all
// windows with one context on the GUI thread).
QOpenGLContext *sceneGraphContextOfThisThread()
{
    const auto windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (auto *quickWindow = qobject_cast<QQuickWindow *>(window)) {
            QOpenGLContext *context = quickWindow->openglContext();
            if (context && context != state().own && context->thread() == QThread::currentThread())
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
    shareRoot();
}

QOpenGLContext *Luster::makeOwnCurrent()
{
    if (!guiThread())
        return nullptr;
    init();
    State &s = state();
    if (!s.own) {
        QOpenGLContext *root = shareRoot();
        if (!root)
            return nullptr;
        auto *own = new QOpenGLContext;
        own->setFormat(root->format());
        own->setShareContext(root);
        if (!own->create()) {
            qCWarning(lcLuster) << "Cannot create the shared context";
            delete own;
            return nullptr;
        }
        s.own = own;
    }
    if (!s.surface)
        s.surface = makeSurface(s.own->format());
    if (!s.surface->isValid()) {
        qCWarning(lcLuster) << "No offscreen surface for the shared context";
        return nullptr;
    }
    if (!s.own->makeCurrent(s.surface)) {
        qCWarning(lcLuster) << "Cannot make the shared context current";
        return nullptr;
    }
    return s.own;
}

bool Luster::makeCurrent()
{
    if (!guiThread()) {
        // Another thread (a render thread) reads with the context it has made current itself.
        return QOpenGLContext::currentContext() != nullptr;
    }
    init();
    // Layers render into framebuffer objects of the scene graph's own context, which no other context
    // can bind: where that context lives on this thread, it is the one to read with.
    if (QOpenGLContext *context = sceneGraphContextOfThisThread())
        return makeSceneGraphCurrent(context);
    return makeOwnCurrent() != nullptr;
}

bool Luster::makeCurrentFor(QQuickWindow *window)
{
    if (!guiThread())
        return false;
    QOpenGLContext *context = window ? window->openglContext() : nullptr;
    if (!context)
        return makeCurrent();
    if (context->thread() != QThread::currentThread())
        return false;
    if (context == state().own)
        return makeOwnCurrent() != nullptr;
    return makeSceneGraphCurrent(context);
}

bool Luster::makeSceneGraphCurrent(QOpenGLContext *context)
{
    State &s = state();
    if (s.sceneGraph != context) {
        delete s.sceneGraphSurface;
        s.sceneGraphSurface = makeSurface(context->format());
        s.sceneGraph = context;
    }
    // Never doneCurrent(): the render loop makes the context current on its window before each frame.
    if (s.sceneGraphSurface->isValid() && context->makeCurrent(s.sceneGraphSurface))
        return true;
    qCWarning(lcLuster) << "Cannot make the scene graph's context current";
    return false;
}

bool Luster::setRenderTarget(QSGTexture *texture, unsigned int level)
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!texture || !context)
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
    Target &t = target();
    if (t.fbo)
        disableRenderTarget(); // an earlier read that was not finished
    // Framebuffer objects are not shared between contexts: one per read, in the context current now.
    t.context = context;
    f->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &t.previousFbo);
    f->glGenFramebuffers(1, &t.fbo);
    f->glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, id, GLint(level));
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
    Target &t = target();
    if (!t.fbo)
        return;
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (context && context == t.context) {
        QOpenGLFunctions *f = context->functions();
        f->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(t.previousFbo));
        f->glDeleteFramebuffers(1, &t.fbo);
    }
    // In another context the name means nothing; the object went with its context.
    t = Target();
}
