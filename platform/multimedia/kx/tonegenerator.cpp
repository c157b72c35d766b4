#include "multimedia/kx/tonegenerator.h"

#include <cmath>

namespace nyx::multimedia {

QByteArray ToneGenerator::block(qint64 first, int frames)
{
    QByteArray out(frames * Channels * 2, Qt::Uninitialized);
    auto *s = reinterpret_cast<qint16 *>(out.data());
    const double twoPi = 2 * M_PI;
    for (int i = 0; i < frames; ++i) {
        // Phase from the sample number modulo the period, so precision does not fade over hours.
        const qint64 n = first + i;
        const double left = std::sin(twoPi * double((n * LeftHz) % SampleRate) / SampleRate);
        const double right = std::sin(twoPi * double((n * RightHz) % SampleRate) / SampleRate);
        s[2 * i] = qint16(std::lround(Amplitude * left));
        s[2 * i + 1] = qint16(std::lround(Amplitude * right));
    }
    return out;
}

} // namespace nyx::multimedia
