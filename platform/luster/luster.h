#pragma once
// Luster: the shared OpenGL context of a program.
//
// The scene graph's own context (one per process on the basic render loop) is made current on an
// offscreen surface, so textures of every Qt Quick window can be read on the GUI thread between frames.

class QSGTexture;

class Luster
{
public:
    // Called once at start-up; harmless in programs without a GUI.
    static void init();
    // Makes the shared context current on the calling (GUI) thread. False when there is no context yet
    // (no Qt Quick window has rendered) or the program has no GUI.
    static bool makeCurrent();
    // Binds a framebuffer object with the texture's texels as its colour buffer, texel (0, 0) first.
    // Atlas textures are read through a standalone copy; pending uploads are done first.
    static bool setRenderTarget(QSGTexture *texture, unsigned int level);
    // Restores the framebuffer binding that setRenderTarget replaced.
    static void disableRenderTarget();
};
