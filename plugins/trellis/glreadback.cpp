#include "glreadback.h"

#include "luster/luster.h"
#include "trellislogging.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRunnable>
#include <QSGTexture>
#include <QSGTextureProvider>
#include <QThread>
#include <QWaitCondition>

#include <memory>

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

QVector<unsigned int> takeGlErrors()
{
    QVector<unsigned int> errors;
    QOpenGLContext *gl = QOpenGLContext::currentContext();
    if (!gl)
        return errors;
    QOpenGLFunctions *f = gl->functions();
    // A lost context can report an error forever; the bound keeps the drain finite.
    for (int i = 0; i < 256; ++i) {
        const GLenum error = f->glGetError();
        if (error == GL_NO_ERROR)
            break;
        errors.append(error);
    }
    return errors;
}

void reportGlErrors(const QVector<unsigned int> &errors, const char *context)
{
    if (!lcTrellis().isCriticalEnabled())
        return;
    for (unsigned int error : errors)
        qCCritical(lcTrellis) << "OpenGL error [" << glErrorName(error) << "]: " << context;
}

void checkGlErrors(const char *context)
{
    reportGlErrors(takeGlErrors(), context);
}

namespace {
// How long a reader waits for a render thread; far beyond any frame, short of a hang.
constexpr int kRenderThreadWaitMs = 10000;

struct ReadHandOver
{
    QMutex mutex;
    QWaitCondition finished;
    std::function<void()> read;
    bool done = false; // ran, or was dropped without running
    bool ran = false;
    bool abandoned = false; // the reader stopped waiting: never run any more
};

// A read posted to a render thread. Qt deletes a job it cannot run, which ends the wait too.
class ReadJob : public QRunnable
{
public:
    ReadJob(std::shared_ptr<ReadHandOver> handOver, QQuickWindow *window)
        : m_handOver(std::move(handOver)), m_window(window)
    {
    }
    ~ReadJob() override
    {
        QMutexLocker lock(&m_handOver->mutex);
        m_handOver->done = true;
        m_handOver->finished.wakeAll();
    }
    void run() override
    {
        // Held while reading: a reader that gives up waits for a read in progress to end.
        QMutexLocker lock(&m_handOver->mutex);
        if (m_handOver->abandoned)
            return;
        QOpenGLContext *context = m_window->openglContext();
        if (context && QOpenGLContext::currentContext() != context)
            context->makeCurrent(m_window);
        m_handOver->read();
        m_handOver->ran = true;
    }

private:
    std::shared_ptr<ReadHandOver> m_handOver;
    QQuickWindow *m_window;
};
} // namespace

bool readInSceneGraph(QQuickItem *item, const std::function<void()> &read)
{
    QQuickWindow *window = item ? item->window() : nullptr;
    QOpenGLContext *context = window ? window->openglContext() : nullptr;
    if (!context || context->thread() == QThread::currentThread()) {
        // The scene graph runs here (or has not rendered yet): read with its context, or Luster's.
        Luster::makeCurrentFor(window);
        read();
        return true;
    }
    // Its textures belong to the render thread: the read runs there while this thread waits, as it
    // does during a synchronisation. The other thread's context is never made current here.
    auto handOver = std::make_shared<ReadHandOver>();
    handOver->read = read;
    window->scheduleRenderJob(new ReadJob(handOver, window), QQuickWindow::NoStage);
    QMutexLocker lock(&handOver->mutex);
    QDeadlineTimer deadline(kRenderThreadWaitMs);
    while (!handOver->done) {
        if (!handOver->finished.wait(&handOver->mutex, deadline)) {
            handOver->abandoned = true;
            qCWarning(lcTrellis) << "The render thread did not answer a texture read";
            return false;
        }
    }
    return handOver->ran;
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
