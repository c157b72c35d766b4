#pragma once
// Luster: the shared OpenGL context of a program.
//
// Every Qt Quick window's scene-graph context shares its objects with Luster's root context, so a
// texture made by any window can be read wherever a context of that share group is current. A context
// is only ever made current on the thread it belongs to: the scene graph's own context where the
// scene graph runs on the calling thread (the basic render loop), else a context of Luster's own.

class QOpenGLContext;
class QQuickWindow;
class QSGTexture;

class Luster
{
public:
    // Called once at start-up, before the first window renders, so that the scene graphs' contexts
    // share with Luster's; harmless in programs without a GUI.
    static void init();
    // Makes a context current on the calling thread and reports whether one is: the scene graph's
    // own when it runs on this thread, else Luster's own (GUI thread only), usable before any window
    // has rendered. False in programs without a GUI or OpenGL.
    static bool makeCurrent();
    // Makes Luster's own context current on the calling (GUI) thread and returns it; null without
    // OpenGL. For scene graphs that Luster's user drives itself.
    static QOpenGLContext *makeOwnCurrent();
    // Makes current the context that the window's scene graph renders with, when that scene graph
    // runs on the calling thread; any context of Luster's when the window has none yet. False when the
    // scene graph runs on another thread (the threaded render loop): read there instead.
    static bool makeCurrentFor(QQuickWindow *window);
    // Binds a framebuffer object of the current context with the texture's texels as its colour
    // buffer, texel (0, 0) first. Atlas textures are read through a standalone copy; pending uploads
    // are done first.
    static bool setRenderTarget(QSGTexture *texture, unsigned int level);
    // Restores the framebuffer binding that setRenderTarget replaced.
    static void disableRenderTarget();

private:
    static bool makeSceneGraphCurrent(QOpenGLContext *context);
};
