#pragma once
// Luster: the shared OpenGL context of a program.

class Luster
{
public:
    // Called once at start-up; harmless in programs without a GUI.
    static void init();
};
