#pragma once
// The picture a capture input shows with nothing plugged in: colour bars, a box that moves with
// every frame, the input's name, a running clock (time of day and frame within the second) and the
// frame's time as a machine-readable strip along the top edge. The camera style puts the same over a
// picture with a camera's detail and motion: the bars under fine grain that changes with every frame,
// the whole view panning slowly, so that an encoder works as hard as on a real camera's picture.

#include "multimedia/engines/nv12frame.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <memory>

namespace nyx::multimedia {

class TestPicture
{
public:
    enum class Style
    {
        Test,   // the still test picture with its moving box
        Camera, // camera-like: grain and panning under the same texts, box and strip
    };

    TestPicture(const QString &name, int width = 1920, int height = 1080, int framesPerSecond = 25,
                Style style = Style::Test);

    // The board's picture setting: NYX_KX_PICTURE=camera gives the camera style, anything else the
    // test picture.
    static Style boardStyle();
    static Style styleFromName(const QString &name, bool *ok = nullptr);
    Style style() const { return m_style; }

    const QString &name() const { return m_name; }
    // Frame number index of the signal, stamped time (also drawn into the strip), showing the clock
    // at wallClock, the frame's time as a time of day (seconds and frame within the second both come
    // from it). Text is rendered once per second; a frame costs a copy and a few small blits.
    Nv12Frame render(qint64 index, qint64 time, const QDateTime &wallClock);
    // Where the clock text lies ("hh:mm:ss:ff"), and its two frame digits.
    QRect clockRect() const;
    QRect frameDigitsRect() const;
    // The moving box's left edge in frame number index.
    int boxX(qint64 index) const;
    QRect boxRect(qint64 index) const;

private:
    struct Patch
    {
        int width = 0;
        int height = 0;
        QByteArray y;
        QByteArray uv;
    };
    Patch renderText(const QString &text, int pixelSize, int width, int height) const;
    static Patch toPatch(const QImage &image);
    static void blit(Nv12Frame &frame, const Patch &patch, int x, int y);

    struct Scene;
    static std::shared_ptr<const Scene> sceneFor(int width, int height);

    QString m_name;
    int m_width;
    int m_height;
    int m_fps;
    Style m_style;
    Nv12Frame m_background;
    Patch m_title;
    std::shared_ptr<const Scene> m_scene; // camera style only
    Patch m_clock;
    qint64 m_clockSecond = -1;
    Patch m_digits[10];
    int m_clockWidth = 0;
    int m_digitWidth = 0;
};

} // namespace nyx::multimedia
