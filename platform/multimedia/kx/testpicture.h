#pragma once
// The picture a capture input shows with nothing plugged in: colour bars, a box that moves with
// every frame, the input's name, a running clock (time of day and frame within the second) and the
// frame's time as a machine-readable strip along the top edge.

#include "multimedia/engines/nv12frame.h"

#include <QDateTime>
#include <QImage>
#include <QString>

namespace nyx::multimedia {

class TestPicture
{
public:
    TestPicture(const QString &name, int width = 1920, int height = 1080, int framesPerSecond = 25);

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

    QString m_name;
    int m_width;
    int m_height;
    int m_fps;
    Nv12Frame m_background;
    Patch m_clock;
    qint64 m_clockSecond = -1;
    Patch m_digits[10];
    int m_clockWidth = 0;
    int m_digitWidth = 0;
};

} // namespace nyx::multimedia
