#pragma once
// The stereo test tone of an audio input: 16-bit PCM, a different sine on each channel so that a
// swapped or dropped channel shows.

#include <QByteArray>
#include <QtGlobal>

namespace nyx::multimedia {

class ToneGenerator
{
public:
    static constexpr int SampleRate = 48000;
    static constexpr int Channels = 2;
    static constexpr int LeftHz = 1000;
    static constexpr int RightHz = 1500;
    static constexpr int Amplitude = 8192; // -12 dBFS

    // frames stereo sample pairs starting at sample number first (continuous across blocks).
    static QByteArray block(qint64 first, int frames);
    // Time in 100 ns of sample number n, exact (no drift over any run length).
    static qint64 sampleTime(qint64 n) { return n * 10000000 / SampleRate; }
};

} // namespace nyx::multimedia
